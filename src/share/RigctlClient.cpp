#include "RigctlClient.h"

#include "app/Log.h"
#include "radio/RadioRegistry.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <hamlib/rig.h>

RigctlClient::RigctlClient(QTcpSocket* socket_, const QString& radio_, RadioRegistry* radios_, QObject* parent)
    : QObject(parent)
    , peer(QStringLiteral("%1:%2").arg(socket_->peerAddress().toString()).arg(socket_->peerPort()))
    , socket(socket_)
    , radio(radio_)
    , radios(radios_)
{
    socket->setParent(this);
    socket->setReadBufferSize(maxInputBytes);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &RigctlClient::serve);
    connect(socket, &QTcpSocket::disconnected, this, &RigctlClient::left);
    LOG("Program {} uses rig {}\n", peer, radio);
}

void RigctlClient::serve()
{
    if (serving) {
        return;
    }
    serving = true;
    while (!busy && !gone && socket->state() == QAbstractSocket::ConnectedState) {
        if (const std::optional<QByteArray> line = lines.next()) {
            if (firstLine && RigctlLines::looksLikeHttp(*line)) {
                drop("sent a web request (a page trying to reach the radio?)");
                break;
            }
            firstLine = false;
            handle(RigctlCommand::parse(*line, vfoMode));
        } else if (lines.overlong()) {
            drop("sent a line too long for a command");
            break;
        } else if (socket->bytesAvailable() > 0 && lines.room() > 0) {
            lines.append(socket->read(lines.room()));
        } else {
            break;
        }
    }
    serving = false;
}

void RigctlClient::handle(const RigctlCommand& command)
{
    switch (command.status) {
    case RigctlCommand::Status::Empty:
        return;
    case RigctlCommand::Status::Unknown:
        send(command.report(-RIG_ENIMPL));
        return;
    case RigctlCommand::Status::MissingArguments:
        send(command.report(-RIG_EINVAL));
        return;
    case RigctlCommand::Status::Command:
        break;
    }
    if (command.local()) {
        answerHere(command);
        return;
    }
    busy = true;
    const QPointer<RigctlClient> self(this);
    radios->request(radio, command.request(), this, [self, command](const QVariant& result) {
        if (self) {
            self->answered(command, result);
        }
    });
}

void RigctlClient::answerHere(const RigctlCommand& command)
{
    if (command.name == "quit") {
        send(command.answer({}));
        close();
    } else if (command.name == "chk_vfo") {
        send(command.answer({vfoMode ? QStringLiteral("1") : QStringLiteral("0")}));
    } else if (command.name == "get_lock_mode") {
        // Hamlib's lock mode is a flag of whoever serves the protocol, and Orvessa never sets it.
        send(command.answer({QStringLiteral("0")}));
    } else {
        const QByteArray on = command.arguments.value(0);
        if (on != "0" && on != "1") {
            send(command.report(-RIG_EINVAL));
            return;
        }
        vfoMode = on == "1";
        send(command.answer({}));
    }
}

void RigctlClient::answered(const RigctlCommand& command, const QVariant& result)
{
    busy = false;
    const QVariantMap answer = result.toMap();
    // The radio's values, or a page's request that succeeded.
    const bool done = !answer.contains(QStringLiteral("Error"));
    if (gone) {
        return;
    }
    const int code = answer.contains(QStringLiteral("rprt"))
        ? answer.value(QStringLiteral("rprt")).toInt()
        : RigctlCommand::codeOf(answer.value(QStringLiteral("Error")).toString());
    send(done ? command.answer(answer.value(QStringLiteral("values")).toStringList()) : command.report(code));
    serve();
}

void RigctlClient::send(const QByteArray& text)
{
    socket->write(text);
    if (socket->bytesToWrite() > maxOutputBytes) {
        drop("does not read what is sent to it");
    }
}

void RigctlClient::drop(const char* why)
{
    LOG("Program {} on rig {} {}: closing it\n", peer, radio, why);
    socket->abort();
}

void RigctlClient::close()
{
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        left();
        return;
    }
    socket->disconnectFromHost();
    // A program that never takes its last answers is not waited for.
    QTimer::singleShot(2000, this, [this] { socket->abort(); });
}

void RigctlClient::left()
{
    if (gone) {
        return;
    }
    gone = true;
    LOG("Program {} left rig {}\n", peer, radio);
    // A release goes behind whatever the program still has with the radio, a key-up included.
    radios->forget(this);
    deleteLater();
}
