// Collects what this process writes to standard output, the diagnostic log included, while it lives (test helper).
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryFile>

class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // The lines written so far.
    QStringList lines();

private:
    QTemporaryFile file;
    int savedStdout = -1;
};
