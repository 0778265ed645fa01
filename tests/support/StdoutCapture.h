// Sends this process's standard output into a pipe while it lives, so a test can read what the
// log wrote (test helper). Restore before asserting: QtTest reports on standard output too.
#pragma once

#include <QByteArray>

class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written since the last call.
    QByteArray take();
    // Puts standard output back; returns what was still unread.
    QByteArray restore();

private:
    int saved = -1;
    int readEnd = -1;
};
