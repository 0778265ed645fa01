#include "JsonRpcEndpoint.h"

#include "JsonRpcLogger.h"
#include "JsonRpcSocket.h"

#include <optional>

namespace jcon {

JsonRpcEndpoint::JsonRpcEndpoint(std::shared_ptr<JsonRpcSocket> socket_,
                                 std::shared_ptr<JsonRpcLogger> logger_,
                                 QObject* parent)
    : QObject(parent)
    , logger(std::move(logger_))
    , socket(std::move(socket_))
{
    connect(socket.get(), &JsonRpcSocket::socketConnected, this, &JsonRpcEndpoint::socketConnected);
    connect(socket.get(), &JsonRpcSocket::socketDisconnected, this, &JsonRpcEndpoint::socketDisconnected);
    connect(socket.get(), &JsonRpcSocket::dataReceived, this, &JsonRpcEndpoint::dataReady);
    connect(socket.get(), &JsonRpcSocket::socketError, this, &JsonRpcEndpoint::socketError);
    connect(socket.get(), &JsonRpcSocket::bytesWritten, this, &JsonRpcEndpoint::someWritten);
    stalled.setSingleShot(true);
    stalled.setInterval(readNothingMs);
    connect(&stalled, &QTimer::timeout, this, [this] {
        const qint64 waiting = socket->bytesToWrite();
        if (waiting > maxPendingOutgoingBytes) {
            closeBecause(QStringLiteral("does not read what is sent to it"), waiting);
        }
    });
}

JsonRpcEndpoint::~JsonRpcEndpoint()
{
    disconnect(socket.get(), nullptr, this, nullptr);
}

void JsonRpcEndpoint::send(const QByteArray& message)
{
    if (socket->isConnected()) {
        socket->send(message);
        dropIfNotReading();
    }
}

void JsonRpcEndpoint::sendText(const QString& message)
{
    if (socket->isConnected()) {
        socket->sendText(message);
        dropIfNotReading();
    }
}

void JsonRpcEndpoint::dropIfNotReading()
{
    const qint64 waiting = socket->bytesToWrite();
    if (waiting > hardPendingOutgoingBytes) {
        closeBecause(QStringLiteral("does not read what is sent to it"), waiting);
    } else if (waiting > maxPendingOutgoingBytes && !stalled.isActive()) {
        stalled.start();
    }
}

void JsonRpcEndpoint::someWritten()
{
    const qint64 waiting = socket->bytesToWrite();
    if (waiting <= maxPendingOutgoingBytes) {
        stalled.stop();
    } else if (stalled.isActive()) {
        // It reads: the few seconds start again.
        stalled.start();
    }
    if (waitingForReader && waiting <= pauseServingBytes / 2) {
        waitingForReader = false;
        serveSome();
    }
}

QString JsonRpcEndpoint::closingLine(const QHostAddress& peer, quint16 port, const QString& why, qint64 waiting)
{
    return QStringLiteral("Client %1:%2 %3 (%4 bytes waiting): closing it")
        .arg(peer.toString())
        .arg(port)
        .arg(why)
        .arg(waiting);
}

void JsonRpcEndpoint::closeBecause(const QString& why, qint64 waiting)
{
    logger->logError(closingLine(socket->peerAddress(), socket->peerPort(), why, waiting));
    socket->abort();
}

bool JsonRpcEndpoint::isConnected() const
{
    return socket->isConnected();
}

void JsonRpcEndpoint::disconnectFromHost()
{
    socket->disconnectFromHost();
}

QHostAddress JsonRpcEndpoint::peerAddress() const
{
    return socket->peerAddress();
}

quint16 JsonRpcEndpoint::peerPort() const
{
    return socket->peerPort();
}

QHostAddress JsonRpcEndpoint::localAddress() const
{
    return socket->localAddress();
}

quint16 JsonRpcEndpoint::localPort() const
{
    return socket->localPort();
}

namespace {

// One client's requests served in one turn of the event loop: others wait at most for this many.
constexpr int requestsPerTurn = 64;
// Text a client may have waiting unserved: a client that sends faster than it is served, for long, is closed.
constexpr qint64 maxWaitingBytes = 32 * 1024 * 1024;

} // namespace

void JsonRpcEndpoint::dataReady(const QByteArray& bytes, QObject* socketObject)
{
    sender = socketObject;
    inbox.append(bytes);
    inboxBytes += bytes.size();
    if (inboxBytes > maxWaitingBytes) {
        closeBecause(QStringLiteral("sends faster than it is served"), inboxBytes);
        inbox.clear();
        inboxBytes = 0;
        return;
    }
    if (!serving && !waitingForReader) {
        serveSome();
    }
}

void JsonRpcEndpoint::serveSome()
{
    serving = false;
    int budget = requestsPerTurn;
    // A client dropped meanwhile (it did not read) is served no more.
    while (budget > 0 && socket->isConnected()) {
        if (socket->bytesToWrite() > pauseServingBytes) {
            // Back-pressure: what it sends waits, within its bound, until it has read its answers.
            waitingForReader = true;
            return;
        }
        if (const std::optional<QJsonObject> object = receiveBuffer.next()) {
            emit jsonObjectReceived(*object, sender);
            --budget;
            continue;
        }
        if (receiveBuffer.takeMalformed()) {
            logger->logError(QStringLiteral("Malformed request"));
        }
        if (inbox.isEmpty()) {
            return;
        }
        inboxBytes -= inbox.first().size();
        receiveBuffer.append(inbox.takeFirst());
        if (receiveBuffer.takeMalformed()) {
            logger->logError(QStringLiteral("Malformed request"));
        }
    }
    if (socket->isConnected()) {
        serving = true;
        QMetaObject::invokeMethod(this, &JsonRpcEndpoint::serveSome, Qt::QueuedConnection);
    }
}

} // namespace jcon
