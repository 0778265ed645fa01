// One connected JSON-RPC peer: frames the text it sends into requests and sends documents back.
// Lives in the server's thread; the server owns it and releases it through the event loop.
#pragma once

#include "JsonRpcFramer.h"

#include <QAbstractSocket>
#include <QByteArrayList>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QTimer>

#include <memory>

namespace jcon {

class JsonRpcLogger;
class JsonRpcSocket;

class JsonRpcEndpoint : public QObject
{
    Q_OBJECT

signals:
    void jsonObjectReceived(const QJsonObject& obj, QObject* sender);
    void socketConnected(QObject* socket);
    void socketDisconnected(QObject* socket);
    void socketError(QObject* socket, QAbstractSocket::SocketError error);

public:
    // While more than this waits to be sent to a client, its requests wait to be served: its answers leave first.
    static constexpr qint64 pauseServingBytes = 1024 * 1024;
    // Past this many bytes waiting to be sent, a client that reads nothing for a few seconds is dropped: what waits
    // for it would otherwise grow without bound (a QSO subscriber that never reads).
    static constexpr qint64 maxPendingOutgoingBytes = 8 * 1024 * 1024;
    // Past this many, it is dropped at once, reading or not: pushes can outrun any reader.
    static constexpr qint64 hardPendingOutgoingBytes = 64 * 1024 * 1024;
    static constexpr int readNothingMs = 5000;

    JsonRpcEndpoint(std::shared_ptr<JsonRpcSocket> socket,
                    std::shared_ptr<JsonRpcLogger> logger,
                    QObject* parent = nullptr);
    ~JsonRpcEndpoint() override;

    // Dropped without a word when the peer has gone: there is no one left to tell.
    void send(const QByteArray& message);
    // The same message already decoded, for many peers.
    void sendText(const QString& message);
    // The line that says why a client is being dropped.
    static QString closingLine(const QHostAddress& peer, quint16 port, const QString& why, qint64 waiting);

    bool isConnected() const;
    void disconnectFromHost();
    QHostAddress peerAddress() const;
    quint16 peerPort() const;
    QHostAddress localAddress() const;
    quint16 localPort() const;

private slots:
    void dataReady(const QByteArray& bytes, QObject* socket);
    void someWritten();

private:
    void dropIfNotReading();
    // Drops the client at once, with a log line saying why and how much waited.
    void closeBecause(const QString& why, qint64 waiting);
    // Serves a few of the requests received, then lets the event loop serve other clients before the rest.
    void serveSome();

    std::shared_ptr<JsonRpcLogger> logger;
    std::shared_ptr<JsonRpcSocket> socket;
    JsonRpcFramer receiveBuffer;
    // Messages received and not yet framed, and their size: past a bound, the client is closed.
    QByteArrayList inbox;
    qint64 inboxBytes = 0;
    QObject* sender = nullptr;
    bool serving = false;
    // Serving stopped until the client has read what waits for it.
    bool waitingForReader = false;
    // Runs while too much waits for the client; it is dropped if nothing leaves before it ends.
    QTimer stalled;
};

} // namespace jcon
