#include "Orvessa.h"

#include "DeploymentConfig.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool isAlreadyRunning(const char* lockPath)
{
    // The descriptor stays open on purpose: the lock lives exactly as long as the process.
    const int fd = open(lockPath, O_RDWR | O_CREAT, 0666);
    const int locked = flock(fd, LOCK_EX | LOCK_NB);
    return locked != 0 && errno == EWOULDBLOCK;
}

QStringList allowedOrigins()
{
    const QStringList hosts {ORVESSA_HOST_1,
                             ORVESSA_HOST_2,
                             ORVESSA_HOST_3,
                             ORVESSA_HOST_4,
                             ORVESSA_HOST_5,
                             ORVESSA_HOST_6,
                             ORVESSA_HOST_7,
                             ORVESSA_HOST_8};
    QStringList origins;
    for (const QString& host : hosts) {
        origins << QStringLiteral("https://") + host;
    }
    for (int i = 1; i < hosts.size(); ++i) {
        origins << QStringLiteral("https://www.") + hosts.at(i);
    }
    return origins;
}

void quitOnTerminationSignals()
{
    // A signal handler may only write a byte; the event loop picks it up and quits in order.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action
    {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
