// A JSON-RPC client over a real QWebSocket, for tests: sends requests, collects responses and
// notifications as they arrive.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QWebSocket>

class RpcClient : public QObject
{
    Q_OBJECT

public:
    explicit RpcClient(const QString& origin, QObject* parent = nullptr);

    // Opens ws://127.0.0.1:port; true once the handshake was accepted.
    bool open(quint16 port, int timeoutMs = 5000);
    // True when the server refused or dropped the connection within the time.
    bool waitForClosed(int timeoutMs = 5000);
    void close() { socket.close(); }

    // Sends a request with a fresh numeric id and returns that id.
    int send(const QString& method, const QJsonValue& params = QJsonValue::Undefined);
    void sendText(const QString& text) { socket.sendTextMessage(text); }
    // The response whose "id" is the text of id; an empty object on time-out.
    QJsonObject waitForResponse(int id, int timeoutMs = 5000);
    // Sends and waits: the "result" of the response, or Undefined.
    QJsonValue call(const QString& method, const QJsonValue& params = QJsonValue::Undefined, int timeoutMs = 5000);

    // Notifications received so far with this method name.
    QList<QJsonObject> notifications(const QString& method) const;
    bool waitForNotifications(const QString& method, int count, int timeoutMs = 5000);

    QList<QJsonObject> received() const { return messages; }
    QWebSocket& webSocket() { return socket; }
    QWebSocketProtocol::CloseCode closeCode() const { return socket.closeCode(); }

private:
    QWebSocket socket;
    QList<QJsonObject> messages;
    int nextId = 1;
    bool connected = false;
    bool closed = false;
};
