#include "SimRadio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

bool SimRadio::start(const QString& link, int hamlibModel)
{
    model = hamlibModel;
    QStringList arguments {QStringLiteral("-v"), QStringLiteral("--model"), QString::number(hamlibModel)};
    if (!link.isEmpty()) {
        arguments << QStringLiteral("--link") << link;
    }
    ProgramRun::start(QStringLiteral(ORVESSA_RIGSIM), arguments);
    port = waitForLine(QRegularExpression(QStringLiteral("^/dev/")));
    return !port.isEmpty();
}

QStringList SimRadio::commands()
{
    QTest::qWait(0);
    QStringList received = QString::fromLatin1(errors).split(QLatin1Char('\n'));
    received.removeLast();
    return received;
}

QList<int> SimRadio::hosts() const
{
    QList<int> found;
    for (const QFileInfo& entry : QDir("/proc").entryInfoList(QDir::Dirs)) {
        QFile name(entry.filePath() + "/comm");
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != "orvessa-radio") {
            continue;
        }
        for (const QFileInfo& descriptor : QDir(entry.filePath() + "/fd").entryInfoList(QDir::System)) {
            if (descriptor.symLinkTarget() == port) {
                found << entry.fileName().toInt();
                break;
            }
        }
    }
    return found;
}
