#include "StdoutCapture.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    int ends[2];
    std::fflush(stdout);
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    saved = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    readEnd = ends[0];
}

StdoutCapture::~StdoutCapture()
{
    restore();
}

QByteArray StdoutCapture::take()
{
    QByteArray text;
    if (readEnd < 0) {
        return text;
    }
    std::fflush(stdout);
    char buffer[4096];
    ssize_t got;
    while ((got = read(readEnd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, int(got));
    }
    return text;
}

QByteArray StdoutCapture::restore()
{
    const QByteArray rest = take();
    if (saved >= 0) {
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
    }
    if (readEnd >= 0) {
        close(readEnd);
        readEnd = -1;
    }
    return rest;
}
