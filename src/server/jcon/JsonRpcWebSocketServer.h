// The JSON-RPC server on WebSocket: admits clients (only from allowed origins when restricted), keeps one
// endpoint per client and announces clients coming and going. Lives in the service host's thread.
#pragma once

#include "JsonRpcServer.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <map>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketCorsAuthenticator;
class QWebSocketServer;

namespace jcon {

class JsonRpcWebSocketServer : public JsonRpcServer
{
    Q_OBJECT

public:
    // Restricted: a client is admitted only when its handshake's Origin equals an entry exactly.
    JsonRpcWebSocketServer(const QStringList& allowedOrigins,
                           QObject* parent = nullptr,
                           std::shared_ptr<JsonRpcLogger> logger = nullptr);
    // Unrestricted: every origin is admitted.
    explicit JsonRpcWebSocketServer(QObject* parent = nullptr, std::shared_ptr<JsonRpcLogger> logger = nullptr);
    ~JsonRpcWebSocketServer() override;

    bool listen(int port) override;
    bool listen(const QHostAddress& address, int port) override;
    // Closes every client normally; each leaves the client map when its closure completes.
    void close() override;
    JsonRpcEndpoint* endpointForSocket(QObject* socket) override;
    QVector<JsonRpcEndpoint*> connectedEndpoints() override;
    bool isConnectedEndpoint(JsonRpcEndpoint* endpoint) const override;

    // A connection that has not finished its WebSocket handshake this long after it was accepted is closed.
    void setHandshakeTimeout(int ms) { handshakeTimeoutMs = ms; }

    // 0 while not listening.
    int port() const;
    // Why the last listen failed.
    QString listenError() const;

protected slots:
    void newConnection() override;
    void disconnectClient(QObject* client_socket) override;

private:
    void checkOrigin(QWebSocketCorsAuthenticator* authenticator);
    void acceptConnections();
    void cannotAccept();
    void dropIfNotReading(QTcpSocket* connection);
    // Watches a connection until its handshake is done: closed when it takes too long, or first to give way when
    // the process runs out of descriptors.
    void awaitHandshake(QTcpSocket* connection);
    void dropHandshaking(QTcpSocket* connection, const QString& why);
    // The connection stops being watched; false when it was not.
    bool forgetHandshaking(QTcpSocket* connection);

    // Binds the port; the connections are accepted by our own code, and each socket, ours to create, is told to
    // send at once (TCP_NODELAY) and watched for what waits to be sent on it before the WebSocket server
    // upgrades it.
    QTcpServer* listener;
    QPointer<QSocketNotifier> acceptNotifier;
    QWebSocketServer* server;
    QStringList allowedOrigins;
    // Keyed by the socket's address only: a caller may hold a socket deleted since, never to be touched.
    std::map<QObject*, std::shared_ptr<JsonRpcEndpoint>> clients;
    // The endpoints of the map, to ask about one without a walk through all.
    QSet<JsonRpcEndpoint*> endpoints;
    // Accepting is paused because the process ran out of descriptors.
    bool acceptPaused = false;
    // Accepted connections still in their handshake, oldest first, with when they were accepted.
    struct Handshaking
    {
        QTcpSocket* connection;
        qint64 acceptedMs;
    };
    QList<Handshaking> handshaking;
    QElapsedTimer clock;
    int handshakeTimeoutMs = 10000;
};

} // namespace jcon
