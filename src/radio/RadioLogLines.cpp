#include "RadioLogLines.h"

namespace {

const QByteArray cutNote = QByteArrayLiteral(" [cut: the line goes on past 4096 bytes]\n");

} // namespace

QList<QByteArray> RadioLogLines::append(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    for (int from = 0; from < bytes.size();) {
        const int end = bytes.indexOf('\n', from);
        const int stop = end < 0 ? bytes.size() : end;
        if (!cutting) {
            // Never more than one byte past the bound waits.
            pending += bytes.mid(from, qMin(stop - from, maxLine + 1 - pending.size()));
            if (pending.size() > maxLine) {
                pending.truncate(maxLine);
                lines << pending + cutNote;
                pending.clear();
                cutting = true;
            } else if (end >= 0) {
                lines << pending + '\n';
                pending.clear();
            }
        }
        if (end >= 0) {
            cutting = false;
        }
        from = stop + 1;
    }
    return lines;
}

QByteArray RadioLogLines::rest()
{
    const QByteArray last = pending.isEmpty() ? QByteArray() : pending + '\n';
    pending.clear();
    cutting = false;
    return last;
}
