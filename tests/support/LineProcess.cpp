#include "LineProcess.h"

#include <QDeadlineTimer>
#include <QTest>

LineProcess::LineProcess(QObject* parent)
    : QObject(parent)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    connect(&process, &QProcess::readyReadStandardOutput, this, &LineProcess::readOutput);
    connect(&process, &QProcess::readyReadStandardError, this, [this] { errors += process.readAllStandardError(); });
}

LineProcess::~LineProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void LineProcess::start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("stdbuf"), QStringList {QStringLiteral("-oL"), program} + arguments);
    process.waitForStarted(10000);
}

void LineProcess::readOutput()
{
    pending += process.readAllStandardOutput();
    int end;
    while ((end = pending.indexOf('\n')) >= 0) {
        received << QString::fromUtf8(pending.left(end));
        pending.remove(0, end + 1);
    }
}

QString LineProcess::waitForLine(const QRegularExpression& pattern, int timeoutMs, int from)
{
    QDeadlineTimer deadline(timeoutMs);
    int checked = qMax(from, 0);
    for (;;) {
        for (; checked < received.size(); ++checked) {
            if (pattern.match(received.at(checked)).hasMatch()) {
                return received.at(checked);
            }
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            return QString();
        }
        QTest::qWait(20);
    }
}

int LineProcess::waitForExit(int timeoutMs)
{
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
        return -1;
    }
    readOutput();
    errors += process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool LineProcess::isRunning() const
{
    return process.state() != QProcess::NotRunning;
}

qint64 LineProcess::pid() const
{
    return process.processId();
}

void LineProcess::terminate()
{
    process.terminate();
}

void LineProcess::kill()
{
    process.kill();
}
