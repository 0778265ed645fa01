#include "BaselineServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>

namespace {

// The same keys as Orvessa's ovInfo and values of the same length, so both send answers of one size.
const QJsonObject versions {
    {QStringLiteral("HamLibVersion"), QStringLiteral("Hamlib 4.5.4 Jan 10 01:31:41Z 2023 SHA=921cc5")},
    {QStringLiteral("OrvessaVersion"), QStringLiteral("25.12.0")}};

QString indented(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson());
}

} // namespace

BaselineServer::BaselineServer(const QString& allowedOrigin, QObject* parent)
    : QObject(parent)
    , tcp(this)
    , webSockets(QStringLiteral("baseline"), QWebSocketServer::NonSecureMode, this)
    , udp(this)
    , origin(allowedOrigin)
{
    connect(&tcp, &QTcpServer::newConnection, this, &BaselineServer::acceptConnections);
    connect(&webSockets, &QWebSocketServer::newConnection, this, &BaselineServer::admitClients);
    connect(&webSockets,
            &QWebSocketServer::originAuthenticationRequired,
            this,
            [this](QWebSocketCorsAuthenticator* authenticator) {
                authenticator->setAllowed(authenticator->origin() == origin);
            });
    connect(&udp, &QUdpSocket::readyRead, this, &BaselineServer::relayDatagrams);
}

bool BaselineServer::listen(quint16 port, quint16 udpPort)
{
    if (!tcp.listen(QHostAddress::LocalHost, port) || !udp.bind(QHostAddress::LocalHost, udpPort))
        return false;
    // The receive buffer Orvessa asks for: the highest lossless rate compares work per datagram, not buffer sizes.
    udp.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);
    return true;
}

void BaselineServer::acceptConnections()
{
    while (QTcpSocket* socket = tcp.nextPendingConnection()) {
        // Small answers leave at once instead of waiting for the previous one's acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        webSockets.handleConnection(socket);
    }
}

void BaselineServer::admitClients()
{
    while (QWebSocket* client = webSockets.nextPendingConnection()) {
        connect(client, &QWebSocket::textMessageReceived, this, [this, client](const QString& message) {
            answer(client, message);
        });
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            subscribers.remove(client);
            client->deleteLater();
        });
    }
}

void BaselineServer::answer(QWebSocket* client, const QString& message)
{
    const QJsonObject request = QJsonDocument::fromJson(message.toUtf8()).object();
    const QString method = request.value(QStringLiteral("method")).toString();
    if (method.isEmpty())
        return;
    QJsonObject result = versions;
    if (method == QLatin1String("udpQsoSubscribe")) {
        subscribers.insert(client);
        result = {{QStringLiteral("Success"), QStringLiteral("Subscribed to UDP QSO")}};
    }
    client->sendTextMessage(
        indented({{QStringLiteral("id"), request.value(QStringLiteral("id")).toVariant().toString()},
                  {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                  {QStringLiteral("result"), result}}));
}

void BaselineServer::relayDatagrams()
{
    while (udp.hasPendingDatagrams()) {
        const QJsonObject qso {
            {QStringLiteral("CacheID"), QStringLiteral("not implemented")},
            {QStringLiteral("UDPData"), QString::fromLatin1(udp.receiveDatagram().data().toBase64())}};
        const QString notification = indented({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                               {QStringLiteral("method"), QStringLiteral("QsoInfo")},
                                               {QStringLiteral("params"), qso}});
        for (QWebSocket* client : qAsConst(subscribers))
            client->sendTextMessage(notification);
    }
}
