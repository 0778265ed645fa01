#include "Orvessa.h"

#include "DeploymentConfig.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

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
