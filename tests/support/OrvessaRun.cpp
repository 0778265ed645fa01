#include "OrvessaRun.h"

#include "AppSettings.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QSettings>

OrvessaRun::OrvessaRun(QObject* parent)
    : LineProcess(parent)
{ }

void OrvessaRun::storePort(const QVariant& port)
{
    if (!port.isValid()) {
        return;
    }
    const QString folder = config.filePath(AppSettings::organizationName);
    QDir().mkpath(folder);
    QSettings stored(folder + QLatin1Char('/') + AppSettings::applicationName + QStringLiteral(".conf"),
                     QSettings::IniFormat);
    stored.setValue(AppSettings::serverPortKey, port);
}

quint16 OrvessaRun::startListening(int timeoutMs)
{
    start(program, {}, TestEnvironment::forOrvessa(config.path()));
    const QRegularExpression listening(QStringLiteral("listening on port (\\d+)$"));
    const QString line = waitForLine(listening, timeoutMs);
    return quint16(listening.match(line).captured(1).toUInt());
}

int OrvessaRun::lineIndex(const QRegularExpression& pattern) const
{
    const QStringList all = lines();
    for (int i = 0; i < all.size(); ++i) {
        if (pattern.match(all.at(i)).hasMatch()) {
            return i;
        }
    }
    return -1;
}
