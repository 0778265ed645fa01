#include "DeviceUsers.h"

#include <QDir>
#include <QFile>

#include <climits>
#include <cstdlib>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The identity of a file that survives the names it is reached by: the device number of a device node.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool valid = false;

    bool operator==(const Identity& other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

Identity identify(const QByteArray& path)
{
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0) {
        return {};
    }
    if (S_ISCHR(status.st_mode)) {
        return {status.st_rdev, 0, true};
    }
    return {status.st_dev, status.st_ino, true};
}

// The number N of /dev/pts/N, or -1 for any other device.
int ptyIndex(const QString& device)
{
    char canonical[PATH_MAX];
    if (!::realpath(device.toUtf8().constData(), canonical)) {
        return -1;
    }
    const QString path = QString::fromUtf8(canonical);
    bool number = false;
    const int index = path.mid(9).toInt(&number);
    return path.startsWith(QLatin1String("/dev/pts/")) && number ? index : -1;
}

QStringList descriptorsOf(const QString& process)
{
    return QDir(process + QStringLiteral("/fd")).entryList(QDir::System | QDir::NoDotAndDotDot);
}

bool holdsMasterOf(const QString& process, int index)
{
    const QByteArray wanted = "tty-index:\t" + QByteArray::number(index) + '\n';
    for (const QString& descriptor : descriptorsOf(process)) {
        QFile info(process + QStringLiteral("/fdinfo/") + descriptor);
        if (info.open(QIODevice::ReadOnly) && info.readAll().contains(wanted)) {
            return true;
        }
    }
    return false;
}

} // namespace

QVector<DeviceUsers::User> DeviceUsers::of(const QString& device)
{
    const Identity wanted = identify(device.toUtf8());
    QVector<User> users;
    if (!wanted.valid) {
        return users;
    }
    const int index = ptyIndex(device);
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        pid.toInt(&number);
        if (!number || pid == self) {
            continue;
        }
        const QString process = QStringLiteral("/proc/") + pid;
        const QStringList descriptors = descriptorsOf(process);
        const bool holds = std::any_of(descriptors.cbegin(), descriptors.cend(), [&](const QString& descriptor) {
            return identify((process + QStringLiteral("/fd/") + descriptor).toUtf8()) == wanted;
        });
        if (!holds || (index >= 0 && holdsMasterOf(process, index))) {
            continue;
        }
        QFile name(process + QStringLiteral("/comm"));
        users.append(
            {pid.toInt(), name.open(QIODevice::ReadOnly) ? QString::fromUtf8(name.readAll().trimmed()) : QString()});
    }
    return users;
}

QString DeviceUsers::describe(const QVector<User>& users)
{
    QStringList named;
    for (const User& user : users) {
        named << QStringLiteral("%1 (pid %2)").arg(user.program).arg(user.pid);
    }
    return named.join(QStringLiteral(", "));
}

bool DeviceUsers::holdExclusively(const QString& device, bool on)
{
    const Identity wanted = identify(device.toUtf8());
    bool held = false;
    for (const QString& descriptor : descriptorsOf(QStringLiteral("/proc/self"))) {
        if (identify(QStringLiteral("/proc/self/fd/%1").arg(descriptor).toUtf8()) == wanted) {
            held = ::ioctl(descriptor.toInt(), on ? TIOCEXCL : TIOCNXCL) == 0 || held;
        }
    }
    return held;
}
