// The least an honest single-threaded Qt server does for Orvessa's wire traffic: admits allowed origins, answers
// each request with an indented JSON answer and relays UDP datagrams to its subscribers. The bench measures Orvessa
// against it. Lives in the main thread.
#pragma once

#include <QObject>
#include <QSet>
#include <QTcpServer>
#include <QUdpSocket>
#include <QWebSocketServer>

class QWebSocket;

class BaselineServer : public QObject
{
    Q_OBJECT

public:
    explicit BaselineServer(const QString& allowedOrigin, QObject* parent = nullptr);

    // Listens for WebSocket clients on 127.0.0.1:port and for datagrams on 127.0.0.1:udpPort.
    bool listen(quint16 port, quint16 udpPort);

private:
    void acceptConnections();
    void admitClients();
    void answer(QWebSocket* client, const QString& message);
    void relayDatagrams();

    QTcpServer tcp;
    QWebSocketServer webSockets;
    QUdpSocket udp;
    QString origin;
    QSet<QWebSocket*> subscribers;
};
