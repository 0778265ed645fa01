// The JSON-RPC server on WebSocket: admits clients (only from allowed origins when restricted), keeps one
// endpoint per client and announces clients coming and going. Lives in the service host's thread.
#pragma once

#include "JsonRpcServer.h"

#include <QSet>
#include <QStringList>

#include <map>

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
    void connectConnections();
    void checkOrigin(QWebSocketCorsAuthenticator* authenticator);
    void acceptConnections();
    void acceptFailed(QAbstractSocket::SocketError error);
    void dropIfNotReading(QTcpSocket* connection);

    // Accepts the TCP connections that the WebSocket server then upgrades: each socket is ours to tell to send
    // at once (TCP_NODELAY) and to watch for what waits to be sent on it.
    QTcpServer* listener;
    QWebSocketServer* server;
    QStringList allowedOrigins;
    // Keyed by the socket's address only: a caller may hold a socket deleted since, never to be touched.
    std::map<QObject*, std::shared_ptr<JsonRpcEndpoint>> clients;
    // The endpoints of the map, to ask about one without a walk through all.
    QSet<JsonRpcEndpoint*> endpoints;
    // Accepting is paused because the process ran out of descriptors.
    bool acceptPaused = false;
};

} // namespace jcon
