// The JSON-RPC server on WebSocket: admits clients (only from allowed origins when restricted), keeps one
// endpoint per client and announces clients coming and going. Lives in the service host's thread.
#pragma once

#include "JsonRpcServer.h"

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

    // Accepts the TCP connections that the WebSocket server then upgrades: only here can each socket be told
    // to send at once (TCP_NODELAY), so a message that follows another does not wait for the peer's ACK.
    QTcpServer* listener;
    QPointer<QSocketNotifier> acceptNotifier;
    QWebSocketServer* server;
    // Connections in their opening handshake: the endpoint keeps its own to write to.
    QList<QPointer<QTcpSocket>> handshaking;
    QStringList allowedOrigins;
    // Keyed by the socket's address only: a caller may hold a socket deleted since, never to be touched.
    std::map<QObject*, std::shared_ptr<JsonRpcEndpoint>> clients;
    // The endpoints of the map, to ask about one without a walk through all.
    QSet<JsonRpcEndpoint*> endpoints;
    // Accepting is paused because the process ran out of descriptors.
    bool acceptPaused = false;
};

} // namespace jcon
