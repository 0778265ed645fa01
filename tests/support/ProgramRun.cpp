#include "ProgramRun.h"

#include "app/AppSettings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace {

// Children go with the test, however it ends: a radio left behind would hold its pseudo-terminal.
class ChildProcess : public QProcess
{
protected:
    void setupChildProcess() override { prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

} // namespace

ProgramRun::ProgramRun(QObject* parent)
    : QObject(parent)
    , process(*new ChildProcess)
{
    connect(&process, &QProcess::readyReadStandardOutput, this, &ProgramRun::readOutput);
    connect(&process, &QProcess::readyReadStandardError, this, [this] { errors += process.readAllStandardError(); });
}

ProgramRun::~ProgramRun()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
    delete &process;
}

QRegularExpression ProgramRun::startLine()
{
    return QRegularExpression(QStringLiteral(R"(^\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\]\[main:\d+\]: )"
                                             R"(Starting Orvessa 25\.12\.0 \(Build [A-Z][a-z]{2} [ \d]\d \d{4} )"
                                             R"(\d\d:\d\d:\d\d\)$)"));
}

void ProgramRun::storePort(const QVariant& port)
{
    if (port.isValid()) {
        QSettings(config.filePath(AppSettings::organizationName + QLatin1Char('/') + AppSettings::applicationName
                                  + QStringLiteral(".conf")),
                  QSettings::IniFormat)
            .setValue(AppSettings::serverPortKey, port);
    }
}

void ProgramRun::launchOrvessa(const QString& program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    start(program);
}

quint16 ProgramRun::startOrvessa(const QString& program, int timeoutMs)
{
    launchOrvessa(program);
    const QRegularExpression listening(QStringLiteral("listening on port (\\d+)$"));
    return quint16(listening.match(waitForLine(listening, timeoutMs)).captured(1).toUInt());
}

void ProgramRun::start(const QString& program, const QStringList& arguments)
{
    process.start(program, arguments);
    process.waitForStarted(10000);
}

void ProgramRun::readOutput()
{
    pending += process.readAllStandardOutput();
    for (int end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
        lines << QString::fromUtf8(pending.left(end));
    }
}

QString ProgramRun::waitForLine(const QRegularExpression& pattern, int timeoutMs, int from)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (int checked = qMax(from, 0);; QTest::qWait(20)) {
        readOutput();
        for (; checked < lines.size(); ++checked) {
            if (pattern.match(lines.at(checked)).hasMatch()) {
                return lines.at(checked);
            }
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            return QString();
        }
    }
}

int ProgramRun::lineIndex(const QRegularExpression& pattern) const
{
    for (int i = 0; i < lines.size(); ++i) {
        if (pattern.match(lines.at(i)).hasMatch()) {
            return i;
        }
    }
    return -1;
}

int ProgramRun::waitForExit(int timeoutMs)
{
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
        return -1;
    }
    readOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void ProgramRun::signal(int number)
{
    ::kill(pid_t(process.processId()), number);
}
