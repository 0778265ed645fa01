// Sends the process's standard output, the diagnostic log included, to a temporary file while it lives,
// so a test can read what was written from any thread (test helper).
#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTemporaryFile>

class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far; standard output stays captured.
    QByteArray text();
    // The complete lines written so far.
    QStringList lines();
    // Restores standard output (once) and returns everything written meanwhile.
    QByteArray take();

private:
    QTemporaryFile file;
    int savedFd = -1;
    QByteArray taken;
};
