// One desktop program connected to a shared radio's port: cuts its lines, hands its commands to the radio's queue
// one at a time in the order they came, and writes each answer in the protocol's form. Lives in the service's
// thread, which it never makes wait.
#pragma once

#include "RigctlCommand.h"
#include "RigctlLines.h"

#include <QObject>
#include <QVariant>

#include <functional>

class QTcpSocket;
class RadioRegistry;

class RigctlClient : public QObject
{
    Q_OBJECT

public:
    // Answers waiting for a program that does not read them; past this, it is closed.
    static constexpr qint64 maxOutputBytes = 64 * 1024;
    // What is read ahead of the command being served; the rest waits in the network, slowing the sender down.
    static constexpr qint64 maxInputBytes = 16 * 1024;

    // Takes the socket over; the client deletes itself once the program has gone. Its commands go to the radio of
    // port text radio through the registry, as the pages' do.
    RigctlClient(QTcpSocket* socket, const QString& radio, RadioRegistry* radios, QObject* parent = nullptr);

    // Ends the connection cleanly, after what was answered has left.
    void close();

    // "127.0.0.1:PORT" of the program.
    const QString peer;

private:
    void serve();
    void handle(const RigctlCommand& command);
    void answerHere(const RigctlCommand& command);
    void answered(const RigctlCommand& command, const QVariant& result);
    void send(const QByteArray& text);
    void drop(const char* why);
    // The program has gone: a transmitter it keyed is released, as for a page.
    void left();

    QTcpSocket* socket;
    const QString radio;
    RadioRegistry* const radios;
    RigctlLines lines;
    // A command is with the radio: the next waits for its answer.
    bool busy = false;
    bool serving = false;
    bool firstLine = true;
    // The program names the VFO of each command (it asked for it).
    bool vfoMode = false;
    bool gone = false;
};
