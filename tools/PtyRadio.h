// A simulated radio on a pseudo-terminal: reads commands from the master side and answers them as the radio's
// protocol says. Lives in the thread whose event loop serves it.
#pragma once

#include "RadioProtocol.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QSocketNotifier;

class PtyRadio : public QObject
{
    Q_OBJECT

signals:
    // One complete command as the radio received it (RadioProtocol::printable shows it).
    void commandReceived(const QByteArray& command);

public:
    // A Yaesu FT-991.
    explicit PtyRadio(QObject* parent = nullptr);
    explicit PtyRadio(std::unique_ptr<RadioProtocol> radio, QObject* parent = nullptr);
    ~PtyRadio() override;

    // Creates the pseudo-terminal; false, with errorString() set, when the system refuses one.
    bool open();
    // The path a program opens to talk to the radio, e.g. /dev/pts/7; empty before open() and after vanish().
    QString portName() const { return slavePath; }
    QString errorString() const { return error; }

    // Fault switch: a radio that stops answering still receives and counts its commands.
    void setAnswering(bool on) { answering = on; }
    bool isAnswering() const { return answering; }
    // Obeys one line of the console, the radio's fault switches: "silent" and "answer"; "ignore PREFIX" (commands
    // whose printable form, without spaces, starts with PREFIX get no answer, as from firmware without them); "refuse
    // PREFIX [TIMES [ANSWER]]" (the next matching commands, one by default, get the radio's negative acknowledgement,
    // or ANSWER as typed); "slow MS" (every answer leaves MS milliseconds late); "obey" (no ignoring, refusing or
    // slowness). False for a line it does not know.
    bool obey(const QByteArray& line);
    // Unplugs the radio: the pseudo-terminal is closed and its path disappears.
    void vanish();

    // Commands received since the last reset; safe to read from any thread.
    int commandCount() const { return commands.load(); }
    void resetCommandCount() { commands.store(0); }

    // The commands received since the last call, oldest first; at most the last few thousand are kept.
    QList<QByteArray> takeReceived();

    RadioProtocol& radio() { return *protocol; }

private:
    void readCommands();
    // The answer to one command, after the fault switches.
    QByteArray respond(const QByteArray& command);
    void send(const QByteArray& answers);

    std::unique_ptr<RadioProtocol> protocol;
    QString slavePath;
    QString error;
    QByteArray pending;
    QList<QByteArray> received;
    QSocketNotifier* notifier = nullptr;
    int master = -1;
    // Held open so the master never sees a hang-up between two programs using the port.
    int slave = -1;
    bool answering = true;
    QByteArray ignored;
    QByteArray refused;
    int refusals = 0;
    QByteArray refusalText;
    int delayMs = 0;
    std::atomic<int> commands {0};
};
