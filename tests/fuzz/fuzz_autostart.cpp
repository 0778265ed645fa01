// Any program path (UTF-8): the entry keeps its eight lines with the Exec value on the third, and a desktop that
// reads the value as the desktop-entry format says (string escapes, then quoting, then field codes) gets the path.
#include "FuzzCheck.h"
#include "shell/Autostart.h"

#include <QStringList>

#include <cstdint>

namespace {

bool readExecArgument(const QString& value, QString& argument)
{
    QString text;
    for (int i = 0; i < value.size(); ++i) {
        if (value.at(i) != QLatin1Char('\\')) {
            text += value.at(i);
            continue;
        }
        const int escape = ++i < value.size() ? QStringLiteral("sntr\\").indexOf(value.at(i)) : -1;
        if (escape < 0) {
            return false;
        }
        text += QStringLiteral(" \n\t\r\\").at(escape);
    }

    const bool quoted = text.startsWith(QLatin1Char('"'));
    if (quoted && (text.size() < 2 || !text.endsWith(QLatin1Char('"')))) {
        return false;
    }
    // Inside quotes only these must be escaped; outside them any reserved character splits or redirects.
    const QString special = quoted ? QStringLiteral("\"`$\\") : QStringLiteral(" \t\n\"'\\><~|&;$*?#`()");
    const QString inner = quoted ? text.mid(1, text.size() - 2) : text;
    for (int i = 0; i < inner.size(); ++i) {
        QChar c = inner.at(i);
        if (quoted && c == QLatin1Char('\\')) {
            if (++i == inner.size() || !special.contains(inner.at(i))) {
                return false;
            }
            c = inner.at(i);
        } else if (c == QLatin1Char('%')) {
            // Anything but a second % makes a field code.
            if (++i == inner.size() || inner.at(i) != QLatin1Char('%')) {
                return false;
            }
        } else if (special.contains(c)) {
            return false;
        }
        argument += c;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const QString value = desktopExecValue(path);
    require(
        !value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')), "no raw line break", value.toUtf8());
    QString argument;
    require(readExecArgument(value, argument) && argument == path,
            "the value reads back as the path",
            argument.toUtf8(),
            path.toUtf8());

    const QStringList lines = autostartEntryText(path).split(QLatin1Char('\n'));
    require(lines.size() == 9 && lines.last().isEmpty(), "eight lines, each ending in a line feed");
    require(lines.at(2) == QStringLiteral("Exec=") + value, "the Exec line carries the value", lines.at(2).toUtf8());
    return 0;
}
