// A program in a child process whose standard output is read line by line as it arrives; for Orvessa itself,
// a private settings folder and a chosen server port.
#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

class ProgramRun : public QObject
{
    Q_OBJECT

public:
    explicit ProgramRun(QObject* parent = nullptr);
    ~ProgramRun() override;

    // The first line of every run of Orvessa.
    static QRegularExpression startLine();

    // Stores a value under the server port key before the start; an invalid QVariant stores nothing.
    void storePort(const QVariant& port);
    // Starts Orvessa (or an installed copy) offscreen with the private settings folder.
    void launchOrvessa(const QString& program = QStringLiteral(ORVESSA_BINARY));
    // Launches Orvessa and waits until it listens; the port, or 0.
    quint16 startOrvessa(const QString& program = QStringLiteral(ORVESSA_BINARY), int timeoutMs = 20000);
    // Starts any program with its standard output on a plain pipe, as a desktop or a shell pipeline gives it: what
    // the program does not flush itself arrives only when it exits.
    void start(const QString& program, const QStringList& arguments = {});
    // The first line at or after index from that matches, or a null string on time-out or exit.
    QString waitForLine(const QRegularExpression& pattern, int timeoutMs = 10000, int from = 0);
    // Index of the first line that matches, or -1.
    int lineIndex(const QRegularExpression& pattern) const;
    // The exit code, or -1 on time-out or crash.
    int waitForExit(int timeoutMs = 10000);
    void signal(int number);

    QStringList lines;
    QByteArray errors;
    QProcess& process;

private:
    void readOutput();

    QTemporaryDir config;
    QByteArray pending;
};
