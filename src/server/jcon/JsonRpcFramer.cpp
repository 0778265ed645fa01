#include "JsonRpcFramer.h"

#include <QJsonDocument>

#include <utility>

namespace jcon {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

void JsonRpcFramer::append(const QByteArray& bytes)
{
    const bool wasEmpty = buffer.isEmpty();
    buffer.append(bytes);
    // Blanks can only be dropped where no object has started; inside one they may be string data.
    if (wasEmpty) {
        skipLeadingBlanks();
        if (buffer.isEmpty() || buffer.at(0) != '{') {
            malformed = true;
            reset();
        }
    }
}

std::optional<QJsonObject> JsonRpcFramer::next()
{
    while (scanned < buffer.size()) {
        const char c = buffer.at(scanned++);
        if (c == '"' && !escaped) {
            inString = !inString;
            escaped = false;
        } else if (inString) {
            escaped = (c == '\\') && !escaped;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            // A stray closing brace may drive the depth below zero; the tail check below drops it.
            --depth;
            if (depth == 0) {
                const QJsonDocument document
                    = QJsonDocument::fromJson(QByteArray::fromRawData(buffer.constData() + start, scanned - start));
                start = scanned;
                if (document.isObject()) {
                    return document.object();
                }
            }
        }
    }

    // The scan state at the end is that of the tail alone: it began at depth 0 outside any string.
    if (start == buffer.size()) {
        buffer.clear();
    } else {
        buffer.remove(0, start);
    }
    start = 0;
    skipLeadingBlanks();
    scanned = buffer.size();
    // Keeping a tail that can never start an object would swallow every later message.
    if ((!buffer.isEmpty() && buffer.at(0) != '{') || buffer.size() > maxPendingBytes) {
        malformed = true;
        reset();
    }
    return std::nullopt;
}

bool JsonRpcFramer::takeMalformed()
{
    return std::exchange(malformed, false);
}

void JsonRpcFramer::skipLeadingBlanks()
{
    int blanks = 0;
    while (blanks < buffer.size() && isBlank(buffer.at(blanks))) {
        ++blanks;
    }
    buffer.remove(0, blanks);
}

void JsonRpcFramer::reset()
{
    buffer.clear();
    scanned = 0;
    start = 0;
    depth = 0;
    inString = false;
    escaped = false;
}

} // namespace jcon
