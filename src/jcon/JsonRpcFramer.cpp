#include "JsonRpcFramer.h"

#include <QJsonDocument>

namespace jcon {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

JsonRpcFramer::Result JsonRpcFramer::append(const QByteArray& bytes)
{
    Result result;
    const bool wasEmpty = buffer.isEmpty();
    buffer.append(bytes);
    // Blanks can only be dropped where no object has started; inside one they may be string data.
    if (wasEmpty) {
        skipLeadingBlanks();
        if (buffer.isEmpty() || buffer.at(0) != '{') {
            result.malformed = true;
            reset();
            return result;
        }
    }

    int start = 0;
    for (int i = scanned; i < buffer.size(); ++i) {
        const char c = buffer.at(i);
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
                    = QJsonDocument::fromJson(QByteArray::fromRawData(buffer.constData() + start, i + 1 - start));
                if (document.isObject()) {
                    result.objects.append(document.object());
                }
                start = i + 1;
            }
        }
    }

    // The scan state at the end is that of the tail alone: it began at depth 0 outside any string.
    if (start == buffer.size()) {
        buffer.clear();
    } else {
        buffer.remove(0, start);
    }
    skipLeadingBlanks();
    scanned = buffer.size();
    if (!buffer.isEmpty() && buffer.at(0) != '{') {
        // Keeping a tail that can never start an object would swallow every later message.
        result.malformed = true;
        reset();
        return result;
    }
    if (buffer.size() > maxPendingBytes) {
        result.malformed = true;
        reset();
    }
    return result;
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
    depth = 0;
    inString = false;
    escaped = false;
}

} // namespace jcon
