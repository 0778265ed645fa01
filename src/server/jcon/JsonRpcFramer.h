// Cuts complete JSON objects out of a stream of text that may split or join them at any point.
// Pure logic, owned by one endpoint and used in its thread only.
#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

namespace jcon {

class JsonRpcFramer
{
public:
    // An object still open past this many bytes is taken as hostile or broken and dropped.
    static constexpr int maxPendingBytes = 4 * 1024 * 1024;

    // Appends the bytes of one message. The objects it completes come out of next(), one at a time, so a
    // message full of requests can be served a few at a time; take them all before appending another.
    void append(const QByteArray& bytes);
    // The next complete object, or nothing once the appended bytes are used up.
    std::optional<QJsonObject> next();
    // True once after something was dropped that the peer should hear about ("Malformed request").
    bool takeMalformed();

    // Text received and not yet consumed: the start of an unfinished object, or nothing.
    const QByteArray& pending() const { return buffer; }

private:
    void skipLeadingBlanks();
    void reset();

    QByteArray buffer;
    // Where the scan stopped and where the object under it began.
    int scanned = 0;
    int start = 0;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    bool malformed = false;
};

} // namespace jcon
