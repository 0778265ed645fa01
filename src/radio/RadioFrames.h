// The framing between Orvessa and a radio host: each message a QVariant in a QDataStream, behind its length.
// Pure logic, used on both sides of the pipe from whatever thread owns it.
#pragma once

#include <QByteArray>
#include <QVariant>

#include <optional>

class RadioFrames
{
public:
    // No message between the two sides comes near this; a length past it means the stream is not ours.
    static constexpr quint32 maxFrameBytes = 1 << 20;

    static QByteArray encode(const QVariant& message);

    void append(const QByteArray& bytes) { pending.append(bytes); }
    // The next whole message, if one has arrived.
    std::optional<QVariant> next();
    // The stream can no longer be read: a length past the bound, or a frame that does not decode.
    bool broken() const { return damaged; }

private:
    QByteArray pending;
    bool damaged = false;
};
