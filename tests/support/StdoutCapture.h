// Sends the process's standard output to a temporary file while it lives, to read what the log wrote.
#pragma once

#include <QByteArray>
#include <QTemporaryFile>

class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();

    // Restores standard output (once) and returns everything written meanwhile.
    QByteArray take();

private:
    QTemporaryFile file;
    int savedFd = -1;
    QByteArray taken;
};
