#include "ServerHome.h"

#include "app/AppSettings.h"
#include "app/Orvessa.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTcpServer>
#include <QThread>
#include <QUdpSocket>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A second Orvessa shows a message box and waits for a click instead of starting, so the tools wait for the
// lock to be free. The suite's own copies hold it for seconds at a time.
bool instanceLockFree()
{
    const int fd = ::open(instanceLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return true;
    QElapsedTimer waited;
    waited.start();
    bool free;
    while (!(free = ::flock(fd, LOCK_EX | LOCK_NB) == 0) && waited.elapsed() < 60000)
        QThread::msleep(200);
    ::close(fd);
    if (!free)
        std::fprintf(stderr, "another Orvessa holds %s: run with a private /tmp\n", instanceLockPath);
    return free;
}

} // namespace

ServerHome::ServerHome()
{
    QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    system.remove(QStringLiteral("DISPLAY"));
    system.remove(QStringLiteral("WAYLAND_DISPLAY"));
    system.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    system.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    variables = system.toStringList();
}

bool ServerHome::prepareOrvessa(quint16 port, quint16 sharePort)
{
    if (!lockHeld)
        lockHeld = !instanceLockFree();
    if (lockHeld)
        return false;
    QSettings settings(config.filePath(AppSettings::organizationName + QLatin1Char('/') + AppSettings::applicationName
                                       + QStringLiteral(".conf")),
                       QSettings::IniFormat);
    settings.setValue(AppSettings::serverPortKey, port);
    // An everyday start, not the first one: no autostart entry to write, no message to show.
    settings.setValue(AppSettings::autostartInstalledKey, true);
    settings.setValue(AppSettings::notificationShownKey, AppSettings::version);
    settings.setValue(AppSettings::shareRadiosKey, sharePort != 0);
    settings.setValue(AppSettings::sharePortKey, sharePort);
    settings.sync();
    return true;
}

quint16 ServerHome::freeTcpPort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
}

quint16 ServerHome::freeUdpPort()
{
    QUdpSocket socket;
    return socket.bind(QHostAddress(QHostAddress::LocalHost), 0) ? socket.localPort() : 0;
}
