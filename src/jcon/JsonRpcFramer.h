// Cuts complete JSON objects out of a stream of text that may split or join them at any point.
// Pure logic, owned by one endpoint and used in its thread only.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QVector>

namespace jcon {

class JsonRpcFramer
{
public:
    // An object still open past this many bytes is taken as hostile or broken and dropped.
    static constexpr int maxPendingBytes = 4 * 1024 * 1024;

    struct Result
    {
        QVector<QJsonObject> objects;
        // Something was dropped that the peer should hear about in the log ("Malformed request").
        bool malformed = false;
    };

    // Appends the bytes and returns, in order, every object they complete.
    Result append(const QByteArray& bytes);

    // Text received and not yet consumed: the start of an unfinished object, or nothing.
    const QByteArray& pending() const { return buffer; }

private:
    void skipLeadingBlanks();
    void reset();

    QByteArray buffer;
    // Where the scan of the pending text stopped, so each message scans only its own bytes.
    int scanned = 0;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
};

} // namespace jcon
