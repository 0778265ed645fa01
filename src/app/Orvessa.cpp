#include "Orvessa.h"

#include "DeploymentConfig.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

bool isAlreadyRunning(const char* lockPath)
{
    // The descriptor stays open on purpose: the lock lives exactly as long as the process, and no child (a
    // browser opened from the tray) may inherit it. A link at the path is not followed: the program creates
    // and locks its own file, never one somebody pointed it at.
    const int fd = open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    const int locked = flock(fd, LOCK_EX | LOCK_NB);
    return locked != 0 && errno == EWOULDBLOCK;
}

QStringList allowedOrigins()
{
    const QStringList hosts {ORVESSA_HOSTS};
    QStringList origins;
    for (const QString& host : hosts) {
        origins << QStringLiteral("https://") + host;
    }
    for (int i = 1; i < hosts.size(); ++i) {
        origins << QStringLiteral("https://www.") + hosts.at(i);
    }
    return origins;
}

void raiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void keepDescriptorsFromChildren()
{
    DIR* const open = opendir("/proc/self/fd");
    if (!open) {
        return;
    }
    const int own = dirfd(open);
    while (const dirent* entry = readdir(open)) {
        const int descriptor = std::atoi(entry->d_name);
        if (descriptor > STDERR_FILENO && descriptor != own) {
            const int flags = fcntl(descriptor, F_GETFD);
            if (flags >= 0) {
                fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC);
            }
        }
    }
    closedir(open);
}
