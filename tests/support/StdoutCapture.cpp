#include "StdoutCapture.h"

#include <cstdio>
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

QByteArray StdoutCapture::take()
{
    if (savedFd >= 0) {
        std::fflush(stdout);
        dup2(savedFd, STDOUT_FILENO);
        ::close(savedFd);
        savedFd = -1;
        file.seek(0);
        taken = file.readAll();
    }
    return taken;
}
