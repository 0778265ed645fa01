#include "StdoutCapture.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    if (!file.open()) {
        return;
    }
    std::fflush(stdout);
    savedFd = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    take();
}

QByteArray StdoutCapture::text()
{
    if (savedFd < 0) {
        return taken;
    }
    std::fflush(stdout);
    struct stat info
    {
    };
    fstat(file.handle(), &info);
    QByteArray bytes(int(info.st_size), '\0');
    // pread leaves the offset that standard output writes at untouched.
    const ssize_t got = pread(file.handle(), bytes.data(), size_t(bytes.size()), 0);
    bytes.truncate(got < 0 ? 0 : int(got));
    return bytes;
}

QStringList StdoutCapture::lines()
{
    QStringList all = QString::fromUtf8(text()).split(QLatin1Char('\n'));
    all.removeLast();
    return all;
}

QByteArray StdoutCapture::take()
{
    if (savedFd >= 0) {
        taken = text();
        dup2(savedFd, STDOUT_FILENO);
        ::close(savedFd);
        savedFd = -1;
    }
    return taken;
}
