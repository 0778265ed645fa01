#include "JsonRpcEndpoint.h"

#include "JsonRpcLogger.h"
#include "JsonRpcSocket.h"

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
}

JsonRpcEndpoint::~JsonRpcEndpoint()
{
    disconnect(socket.get(), nullptr, this, nullptr);
}

void JsonRpcEndpoint::send(const QByteArray& message)
{
    if (socket->isConnected()) {
        socket->send(message);
    }
}

void JsonRpcEndpoint::sendShared(const QByteArray& message, QByteArray& wire)
{
    if (socket->isConnected()) {
        socket->sendShared(message, wire);
    }
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

void JsonRpcEndpoint::dataReady(const QByteArray& bytes, QObject* sender)
{
    const JsonRpcFramer::Result result = receiveBuffer.append(bytes);
    for (const QJsonObject& object : result.objects) {
        emit jsonObjectReceived(object, sender);
    }
    if (result.malformed) {
        logger->logError(QStringLiteral("Malformed request"));
    }
}

} // namespace jcon
