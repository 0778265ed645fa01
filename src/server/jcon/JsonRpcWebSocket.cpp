#include "JsonRpcWebSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWebSocket>

namespace jcon {

JsonRpcWebSocket::JsonRpcWebSocket(QWebSocket* socket_)
    : socket(socket_)
{
    setupSocket();
}

JsonRpcWebSocket::JsonRpcWebSocket()
    : socket(new QWebSocket(QString(), QWebSocketProtocol::Version13, nullptr))
{
    setupSocket();
}

JsonRpcWebSocket::~JsonRpcWebSocket()
{
    disconnect(socket, nullptr, this, nullptr);
    // Signals of this socket may still be on their way to other objects: let the event loop end it.
    socket->deleteLater();
}

void JsonRpcWebSocket::setupSocket()
{
    connect(socket, &QWebSocket::connected, this, [this] { emit socketConnected(socket); });
    connect(socket, &QWebSocket::disconnected, this, [this] { emit socketDisconnected(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this, &JsonRpcWebSocket::dataReady);
    connect(socket, &QWebSocket::bytesWritten, this, &JsonRpcSocket::bytesWritten);
    connect(socket,
            QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error),
            this,
            [this](QAbstractSocket::SocketError error) { emit socketError(socket, error); });
}

void JsonRpcWebSocket::connectToHost(const QString& host, int port)
{
    QUrl url;
    url.setScheme(QStringLiteral("ws"));
    url.setHost(host, QUrl::DecodedMode);
    url.setPort(port);
    socket->open(url);
}

void JsonRpcWebSocket::connectToUrl(const QUrl& url)
{
    socket->open(url);
}

bool JsonRpcWebSocket::waitForConnected(int msecs)
{
    bool connected = false;
    QObject receiver;
    connect(socket, &QWebSocket::connected, &receiver, [&connected] { connected = true; });
    QElapsedTimer timer;
    timer.start();
    while (!connected && timer.elapsed() < msecs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return connected;
}

void JsonRpcWebSocket::disconnectFromHost()
{
    socket->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

bool JsonRpcWebSocket::isConnected() const
{
    return socket->state() == QAbstractSocket::ConnectedState;
}

qint64 JsonRpcWebSocket::send(const QByteArray& data)
{
    return socket->sendTextMessage(QString::fromUtf8(data.constData(), qstrnlen(data.constData(), data.size())));
}

qint64 JsonRpcWebSocket::sendText(const QString& text)
{
    return socket->sendTextMessage(text);
}

QString JsonRpcWebSocket::errorString() const
{
    return socket->errorString();
}

qint64 JsonRpcWebSocket::bytesToWrite() const
{
    return socket->bytesToWrite();
}

void JsonRpcWebSocket::abort()
{
    socket->abort();
}

QHostAddress JsonRpcWebSocket::localAddress() const
{
    return socket->localAddress();
}

quint16 JsonRpcWebSocket::localPort() const
{
    return socket->localPort();
}

QHostAddress JsonRpcWebSocket::peerAddress() const
{
    return socket->peerAddress();
}

quint16 JsonRpcWebSocket::peerPort() const
{
    return socket->peerPort();
}

void JsonRpcWebSocket::dataReady(const QString& data)
{
    emit dataReceived(data.toUtf8(), socket);
}

} // namespace jcon
