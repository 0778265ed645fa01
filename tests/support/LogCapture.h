// Sends the process's standard output, where the diagnostic log goes, to a temporary file while it lives, so a
// test can read what any thread logged.
#pragma once

#include <QStringList>
#include <QTemporaryFile>

class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written so far.
    QByteArray text();
    // The complete lines written so far that match.
    QStringList lines(const QRegularExpression& pattern);

private:
    QTemporaryFile file;
    int savedFd = -1;
};
