#include "RigctlLines.h"

#include <QRegularExpression>

bool RigctlLines::looksLikeHttp(const QByteArray& line)
{
    // A method, a target and the protocol's version: nothing of Hamlib's protocol reads so.
    static const QRegularExpression requestLine(QStringLiteral(R"(^[A-Z]+ +\S+ +HTTP/\d)"));
    static const QRegularExpression method(
        QStringLiteral(R"(^(GET|HEAD|POST|PUT|DELETE|CONNECT|OPTIONS|TRACE|PATCH) )"));
    const QString text = QString::fromLatin1(line);
    return requestLine.match(text).hasMatch() || method.match(text).hasMatch();
}

std::optional<QByteArray> RigctlLines::next()
{
    if (tooLong) {
        return std::nullopt;
    }
    const int end = pending.indexOf('\n');
    if (end < 0 || end > maxLineBytes + 1) {
        tooLong = pending.size() > maxLineBytes + 1;
        return std::nullopt;
    }
    QByteArray line = pending.left(end);
    pending.remove(0, end + 1);
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    if (line.size() > maxLineBytes) {
        tooLong = true;
        return std::nullopt;
    }
    return line;
}
