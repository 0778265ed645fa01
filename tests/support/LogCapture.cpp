#include "LogCapture.h"

#include <QRegularExpression>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

LogCapture::LogCapture()
{
    if (file.open()) {
        std::fflush(stdout);
        savedFd = dup(STDOUT_FILENO);
        dup2(file.handle(), STDOUT_FILENO);
    }
}

LogCapture::~LogCapture()
{
    if (savedFd >= 0) {
        std::fflush(stdout);
        dup2(savedFd, STDOUT_FILENO);
        ::close(savedFd);
    }
}

QByteArray LogCapture::text()
{
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

QStringList LogCapture::lines(const QRegularExpression& pattern)
{
    QStringList all = QString::fromUtf8(text()).split(QLatin1Char('\n'));
    all.removeLast();
    return all.filter(pattern);
}
