#include "JsonRpcWebSocketServer.h"

#include "JsonRpcEndpoint.h"
#include "JsonRpcLogger.h"
#include "JsonRpcWebSocket.h"

#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace jcon {

namespace {

// Long enough for any page to finish its handshake on loopback, so only idle connections give way.
constexpr qint64 idleBeforeGivingWayMs = 1000;

} // namespace

JsonRpcWebSocketServer::JsonRpcWebSocketServer(const QStringList& allowedOrigins_,
                                               QObject* parent,
                                               std::shared_ptr<JsonRpcLogger> logger_)
    : JsonRpcServer(parent, std::move(logger_))
    , listener(new QTcpServer(this))
    , server(new QWebSocketServer(
          QStringLiteral("Restricted JSON RPC WebSocket server"), QWebSocketServer::NonSecureMode, this))
    , allowedOrigins(allowedOrigins_)
{
    connect(server, &QWebSocketServer::newConnection, this, &JsonRpcWebSocketServer::newConnection);
    connect(server, &QWebSocketServer::originAuthenticationRequired, this, &JsonRpcWebSocketServer::checkOrigin);
}

JsonRpcWebSocketServer::JsonRpcWebSocketServer(QObject* parent, std::shared_ptr<JsonRpcLogger> logger_)
    : JsonRpcServer(parent, std::move(logger_))
    , listener(new QTcpServer(this))
    , server(new QWebSocketServer(QStringLiteral("JSON RPC WebSocket server"), QWebSocketServer::NonSecureMode, this))
{
    connect(server, &QWebSocketServer::newConnection, this, &JsonRpcWebSocketServer::newConnection);
}

JsonRpcWebSocketServer::~JsonRpcWebSocketServer()
{
    disconnect(server, nullptr, this, nullptr);
    close();
    delete server;
    endpoints.clear();
    clients.clear();
}

void JsonRpcWebSocketServer::checkOrigin(QWebSocketCorsAuthenticator* authenticator)
{
    // Exact and case-sensitive on purpose: a port, a slash or plain http is another site.
    authenticator->setAllowed(allowedOrigins.contains(authenticator->origin(), Qt::CaseSensitive));
}

bool JsonRpcWebSocketServer::listen(int port_)
{
    return listen(QHostAddress::AnyIPv4, port_);
}

bool JsonRpcWebSocketServer::listen(const QHostAddress& address, int port_)
{
    if (!listener->listen(address, static_cast<quint16>(port_))) {
        return false;
    }
    // Qt's own accept takes running out of descriptors for a passing error once the listener has met one
    // (no client waiting), and tries again at every turn of the loop, spinning: the listener only binds, and
    // connections are accepted here.
    listener->pauseAccepting();
    delete acceptNotifier;
    acceptNotifier = new QSocketNotifier(listener->socketDescriptor(), QSocketNotifier::Read, this);
    connect(acceptNotifier, &QSocketNotifier::activated, this, &JsonRpcWebSocketServer::acceptConnections);
    logInfo(QStringLiteral("listening on port %2").arg(port_));
    return true;
}

QString JsonRpcWebSocketServer::listenError() const
{
    return listener->errorString();
}

void JsonRpcWebSocketServer::cannotAccept()
{
    // Out of descriptors, the listening socket stays readable: wait for a client to leave, or a second.
    acceptNotifier->setEnabled(false);
    if (!acceptPaused) {
        logError(QStringLiteral("cannot accept clients: %1; waiting for descriptors to free up")
                     .arg(QString::fromLocal8Bit(strerror(errno))));
        acceptPaused = true;
    }
    QTimer::singleShot(1000, acceptNotifier, [this] { acceptNotifier->setEnabled(true); });
}

void JsonRpcWebSocketServer::acceptConnections()
{
    for (;;) {
        // By system call rather than the library function: Qt closes the descriptor out of sight of the thread
        // sanitizer, which would otherwise take a later socket with the same number for this one.
        const int descriptor
            = int(syscall(SYS_accept4, int(acceptNotifier->socket()), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (descriptor < 0) {
            // A page must still get in while idle connections are held open against the server: the one that has
            // waited longest without finishing its handshake makes room, once it has had time to finish it.
            if ((errno == EMFILE || errno == ENFILE) && !handshaking.isEmpty()
                && clock.elapsed() - handshaking.first().acceptedMs >= idleBeforeGivingWayMs) {
                dropHandshaking(handshaking.first().connection,
                                QStringLiteral("out of descriptors for a new connection"));
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                cannotAccept();
            } else if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            return;
        }
        acceptPaused = false;
        auto* connection = new QTcpSocket(listener);
        if (!connection->setSocketDescriptor(descriptor)) {
            ::close(descriptor);
            delete connection;
            continue;
        }
        // So a message that follows another does not wait for the peer's acknowledgement.
        connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Qt answers each ping by itself, past the bound on what may wait for a client: looked at as data comes.
        connect(connection, &QTcpSocket::readyRead, this, [this, connection] { dropIfNotReading(connection); });
        awaitHandshake(connection);
        server->handleConnection(connection);
    }
}

void JsonRpcWebSocketServer::awaitHandshake(QTcpSocket* connection)
{
    // Qt's own accept path times handshakes out; ours must too, or a silent connection holds a descriptor for ever.
    if (!clock.isValid()) {
        clock.start();
    }
    handshaking.append({connection, clock.elapsed()});
    connect(connection, &QObject::destroyed, this, [this, connection] { forgetHandshaking(connection); });
    QTimer::singleShot(handshakeTimeoutMs, connection, [this, connection] {
        if (forgetHandshaking(connection)) {
            dropHandshaking(connection, QStringLiteral("no WebSocket handshake within %1 ms").arg(handshakeTimeoutMs));
        }
    });
}

bool JsonRpcWebSocketServer::forgetHandshaking(QTcpSocket* connection)
{
    const auto found = std::find_if(handshaking.begin(), handshaking.end(), [connection](const Handshaking& waiting) {
        return waiting.connection == connection;
    });
    if (found == handshaking.end()) {
        return false;
    }
    handshaking.erase(found);
    return true;
}

void JsonRpcWebSocketServer::dropHandshaking(QTcpSocket* connection, const QString& why)
{
    forgetHandshaking(connection);
    logError(QStringLiteral("closing %1:%2: %3")
                 .arg(connection->peerAddress().toString())
                 .arg(connection->peerPort())
                 .arg(why));
    connection->abort();
    connection->deleteLater();
}

void JsonRpcWebSocketServer::dropIfNotReading(QTcpSocket* connection)
{
    const qint64 waiting = connection->bytesToWrite();
    if (waiting > JsonRpcEndpoint::maxPendingOutgoingBytes) {
        logger->logError(JsonRpcEndpoint::closingLine(connection->peerAddress(),
                                                      connection->peerPort(),
                                                      QStringLiteral("does not read what is sent to it"),
                                                      waiting));
        connection->abort();
    }
}

void JsonRpcWebSocketServer::close()
{
    for (JsonRpcEndpoint* endpoint : connectedEndpoints()) {
        endpoint->disconnectFromHost();
    }
    delete acceptNotifier;
    listener->close();
}

int JsonRpcWebSocketServer::port() const
{
    return listener->isListening() ? listener->serverPort() : 0;
}

JsonRpcEndpoint* JsonRpcWebSocketServer::endpointForSocket(QObject* socket)
{
    // Every key in the map is a live socket, so a hit is safe to hand out.
    const auto found = clients.find(socket);
    return found == clients.end() ? nullptr : found->second.get();
}

bool JsonRpcWebSocketServer::isConnectedEndpoint(JsonRpcEndpoint* endpoint) const
{
    return endpoints.contains(endpoint);
}

QVector<JsonRpcEndpoint*> JsonRpcWebSocketServer::connectedEndpoints()
{
    QVector<JsonRpcEndpoint*> connected;
    connected.reserve(static_cast<int>(clients.size()));
    for (const auto& client : clients) {
        connected.append(client.second.get());
    }
    return connected;
}

void JsonRpcWebSocketServer::newConnection()
{
    if (!server->hasPendingConnections()) {
        return;
    }
    QWebSocket* const socket = server->nextPendingConnection();
    if (!socket) {
        logError(QStringLiteral("pending socket was null"));
        return;
    }
    logInfo(QStringLiteral("client connected: ") + socket->peerAddress().toString());
    // Its handshake is done. While both are open no two connections to this listener share the peer's address and
    // port, so this finds exactly the socket it came from.
    const auto upgraded = std::find_if(handshaking.begin(), handshaking.end(), [socket](const Handshaking& waiting) {
        return waiting.connection->peerPort() == socket->peerPort()
            && waiting.connection->localPort() == socket->localPort()
            && waiting.connection->peerAddress() == socket->peerAddress();
    });
    if (upgraded != handshaking.end()) {
        handshaking.erase(upgraded);
    }
    // A request is small: a message or frame past the framer's bound is refused, and Qt closes with 1009.
    socket->setMaxAllowedIncomingFrameSize(JsonRpcFramer::maxPendingBytes);
    socket->setMaxAllowedIncomingMessageSize(JsonRpcFramer::maxPendingBytes);
    auto transport = std::make_shared<JsonRpcWebSocket>(socket);
    // Released through the event loop: slots still running on its disconnection must find it alive.
    std::shared_ptr<JsonRpcEndpoint> endpoint(new JsonRpcEndpoint(transport, logger, this),
                                              [](JsonRpcEndpoint* gone) { gone->deleteLater(); });
    connect(endpoint.get(), &JsonRpcEndpoint::socketDisconnected, this, &JsonRpcWebSocketServer::disconnectClient);
    connect(endpoint.get(), &JsonRpcEndpoint::jsonObjectReceived, this, &JsonRpcServer::jsonRequestReceived);
    const auto replaced = clients.find(socket);
    if (replaced != clients.end()) {
        endpoints.remove(replaced->second.get());
    }
    clients[socket] = endpoint;
    endpoints.insert(endpoint.get());
    emit clientConnected(socket);
}

void JsonRpcWebSocketServer::disconnectClient(QObject* client_socket)
{
    QWebSocket* const socket = qobject_cast<QWebSocket*>(client_socket);
    if (!socket) {
        logError(QStringLiteral("client disconnected, but socket is null"));
        return;
    }
    logInfo(QStringLiteral("client disconnected: ") + socket->peerAddress().toString());
    const auto found = clients.find(client_socket);
    if (found == clients.end()) {
        logError(QStringLiteral("unknown client disconnected"));
        return;
    }
    endpoints.remove(found->second.get());
    clients.erase(found);
    if (acceptPaused && acceptNotifier) {
        acceptNotifier->setEnabled(true);
    }
    emit clientDisconnected(client_socket);
}

} // namespace jcon
