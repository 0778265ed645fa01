#include "Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>

namespace {

const QString entryName = QStringLiteral("Orvessa");

QString autostartFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/autostart");
}

} // namespace

QString autostartFilePath()
{
    return autostartFolder() + QStringLiteral("/") + entryName + QStringLiteral(".desktop");
}

QString desktopExecValue(const QString& programPath)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#`=()");
    bool mustQuote = false;
    for (const QChar c : programPath) {
        mustQuote = mustQuote || reserved.contains(c) || c == QLatin1Char('\r');
    }

    // Two layers apply: quoting protects the argument, then the value itself is a string whose
    // backslashes are escapes. A literal % would start a field code in either form.
    QString value;
    if (mustQuote) {
        value += QLatin1Char('"');
    }
    for (const QChar c : programPath) {
        if (c == QLatin1Char('%')) {
            value += QStringLiteral("%%");
        } else if (!mustQuote) {
            value += c;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')) {
            value += QStringLiteral("\\\\") + c;
        } else if (c == QLatin1Char('\\')) {
            value += QStringLiteral("\\\\\\\\");
        } else if (c == QLatin1Char('\n')) {
            value += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\t')) {
            value += QStringLiteral("\\t");
        } else if (c == QLatin1Char('\r')) {
            value += QStringLiteral("\\r");
        } else {
            value += c;
        }
    }
    if (mustQuote) {
        value += QLatin1Char('"');
    }
    return value;
}

QString autostartEntryText(const QString& programPath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Exec=%1\n"
                          "Hidden=false\n"
                          "NoDisplay=false\n"
                          "X-GNOME-Autostart-enabled=true\n"
                          "Name=%2\n"
                          "Comment=Avvio automatico per %2\n")
        .arg(desktopExecValue(programPath), entryName);
}

void createAutostartEntry()
{
    const QString program = QCoreApplication::applicationFilePath();
    QDir().mkpath(autostartFolder());
    QFile file(autostartFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return;
    }
    QTextStream stream(&file);
    stream << autostartEntryText(program);
}

void removeAutostartEntry()
{
    QFile::remove(autostartFilePath());
}

bool autostartEntryExists()
{
    return QFile::exists(autostartFilePath());
}
