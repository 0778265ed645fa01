#include "StdoutCapture.h"

#include <cstdio>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    if (!file.open())
        qFatal("cannot create a file for standard output");
    std::fflush(stdout);
    savedStdout = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    // Whoever runs the test still sees what was logged.
    QFile reader(file.fileName());
    if (reader.open(QIODevice::ReadOnly)) {
        const QByteArray text = reader.readAll();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        std::fflush(stdout);
    }
}

QStringList StdoutCapture::lines()
{
    std::fflush(stdout);
    QFile reader(file.fileName());
    if (!reader.open(QIODevice::ReadOnly))
        return {};
    QStringList result = QString::fromUtf8(reader.readAll()).split(QLatin1Char('\n'));
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}
