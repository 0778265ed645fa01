// JSON-RPC transport over one WebSocket: text messages in and out, binary messages ignored.
// Lives in the thread of the WebSocket it drives.
#pragma once

#include "JsonRpcSocket.h"

class QWebSocket;

namespace jcon {

class JsonRpcWebSocket : public JsonRpcSocket
{
    Q_OBJECT

public:
    // Adopts a socket the server has already accepted; its parent is left as it is.
    explicit JsonRpcWebSocket(QWebSocket* socket);
    // For outgoing connections: a socket of its own.
    JsonRpcWebSocket();
    ~JsonRpcWebSocket() override;

    void connectToHost(const QString& host, int port) override;
    void connectToUrl(const QUrl& url) override;
    bool waitForConnected(int msecs) override;
    void disconnectFromHost() override;
    bool isConnected() const override;
    qint64 send(const QByteArray& data) override;
    qint64 sendText(const QString& text) override;
    QString errorString() const override;
    qint64 bytesToWrite() const override;
    void abort() override;
    QHostAddress localAddress() const override;
    quint16 localPort() const override;
    QHostAddress peerAddress() const override;
    quint16 peerPort() const override;

private slots:
    void dataReady(const QString& data);

private:
    void setupSocket();

    QWebSocket* socket;
};

} // namespace jcon
