// The transport under one JSON-RPC peer. In every signal the socket is the underlying connection object.
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUrl>

namespace jcon {

class JsonRpcSocket : public QObject
{
    Q_OBJECT

signals:
    void dataReceived(const QByteArray& bytes, QObject* socket);
    void socketConnected(QObject* socket);
    void socketDisconnected(QObject* socket);
    void socketError(QObject* socket, QAbstractSocket::SocketError error);
    // Some of what waited to be sent has left: the peer is reading.
    void bytesWritten(qint64 bytes);

public:
    explicit JsonRpcSocket(QObject* parent = nullptr);
    ~JsonRpcSocket() override;

    // Outgoing connections only; the server never calls these three.
    virtual void connectToHost(const QString& host, int port) = 0;
    virtual void connectToUrl(const QUrl& url) = 0;
    virtual bool waitForConnected(int msecs) = 0;

    virtual void disconnectFromHost() = 0;
    virtual bool isConnected() const = 0;
    virtual qint64 send(const QByteArray& data) = 0;
    // The same message as text already decoded: a message for many peers is decoded once.
    virtual qint64 sendText(const QString& text) = 0;
    virtual QString errorString() const = 0;
    // Bytes written and not yet taken by the system; dropping the connection at once, nothing more sent.
    virtual qint64 bytesToWrite() const = 0;
    virtual void abort() = 0;
    virtual QHostAddress localAddress() const = 0;
    virtual quint16 localPort() const = 0;
    virtual QHostAddress peerAddress() const = 0;
    virtual quint16 peerPort() const = 0;
};

} // namespace jcon
