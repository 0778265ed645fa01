// A child process whose standard output is read line by line as it arrives (test helper).
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>

class LineProcess : public QObject
{
    Q_OBJECT

public:
    explicit LineProcess(QObject* parent = nullptr);
    ~LineProcess() override;

    // Starts the program with its standard output line-buffered, so lines arrive while it runs.
    void start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment);
    // Waits for a line matching the pattern, looking at lines from index from on; returns it, or a null string
    // on time-out or exit.
    QString waitForLine(const QRegularExpression& pattern, int timeoutMs = 10000, int from = 0);
    // Waits for the process to end; returns its exit code, or -1 on time-out or crash.
    int waitForExit(int timeoutMs = 10000);
    bool isRunning() const;
    qint64 pid() const;
    void terminate();
    void kill();

    QStringList lines() const { return received; }
    QByteArray standardError() const { return errors; }

private:
    void readOutput();

    QProcess process;
    QByteArray pending;
    QStringList received;
    QByteArray errors;
};
