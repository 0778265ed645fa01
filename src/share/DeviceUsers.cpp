#include "DeviceUsers.h"

#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// By the C library throughout, not Qt's file classes: in a radio's process those start Qt's locale machinery,
// megabytes for each radio.
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

Identity identify(const std::string& path)
{
    struct stat status
    {
    };
    if (::stat(path.c_str(), &status) != 0) {
        return {};
    }
    if (S_ISCHR(status.st_mode)) {
        return {status.st_rdev, 0, true};
    }
    return {status.st_dev, status.st_ino, true};
}

// Calls found with each numeric entry of a folder (processes in /proc, descriptors in fd/).
void eachNumber(const std::string& folder, const std::function<void(const std::string&)>& found)
{
    DIR* const entries = ::opendir(folder.c_str());
    if (!entries) {
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
            found(entry->d_name);
        }
    }
    ::closedir(entries);
}

std::string contents(const std::string& path)
{
    std::string text;
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return text;
    }
    char buffer[512];
    for (ssize_t got; (got = ::read(file, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, size_t(got));
    }
    ::close(file);
    return text;
}

// The number N of /dev/pts/N, or -1 for any other device.
int ptyIndex(const QString& device)
{
    char canonical[PATH_MAX];
    if (!::realpath(device.toUtf8().constData(), canonical) || std::strncmp(canonical, "/dev/pts/", 9) != 0) {
        return -1;
    }
    char* end = nullptr;
    const long index = std::strtol(canonical + 9, &end, 10);
    return end != canonical + 9 && *end == '\0' ? int(index) : -1;
}

bool holds(const std::string& process, const std::function<bool(const std::string&)>& matches)
{
    bool found = false;
    eachNumber(process + "/fd", [&](const std::string& descriptor) { found = found || matches(descriptor); });
    return found;
}

} // namespace

QVector<DeviceUsers::User> DeviceUsers::of(const QString& device)
{
    const Identity wanted = identify(device.toStdString());
    QVector<User> users;
    if (!wanted.valid) {
        return users;
    }
    const int index = ptyIndex(device);
    const std::string master = "tty-index:\t" + std::to_string(index) + '\n';
    const std::string self = std::to_string(::getpid());
    eachNumber("/proc", [&](const std::string& pid) {
        const std::string process = "/proc/" + pid;
        if (pid == self
            || !holds(process, [&](const std::string& fd) { return identify(process + "/fd/" + fd) == wanted; })) {
            return;
        }
        if (index >= 0 && holds(process, [&](const std::string& fd) {
                return contents(process + "/fdinfo/" + fd).find(master) != std::string::npos;
            })) {
            return;
        }
        std::string name = contents(process + "/comm");
        while (!name.empty() && name.back() == '\n') {
            name.pop_back();
        }
        users.append({std::atoi(pid.c_str()), QString::fromStdString(name)});
    });
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

void DeviceUsers::holdExclusively(const QString& device, bool on)
{
    const Identity wanted = identify(device.toStdString());
    eachNumber("/proc/self/fd", [&](const std::string& descriptor) {
        if (identify("/proc/self/fd/" + descriptor) == wanted) {
            ::ioctl(std::atoi(descriptor.c_str()), on ? TIOCEXCL : TIOCNXCL);
        }
    });
}
