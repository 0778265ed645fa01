// A WebSocket client for the JSON-RPC tests: connects with a chosen Origin and keeps every text message.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QWebSocket>

class RpcClient : public QObject
{
    Q_OBJECT

public:
    // An empty origin sends no Origin header at all.
    explicit RpcClient(const QString& origin = QString(), QObject* parent = nullptr);

    // Opens ws://127.0.0.1:port; true once connected, false when refused or after the time-out.
    bool open(quint16 port, int timeoutMs = 5000);
    void send(const QString& text) { socket.sendTextMessage(text); }
    // A request for method with params (JSON text, empty for none) and a string id (empty for none).
    void call(const QString& method, const QString& params, const QString& id);
    // Waits until at least count messages have arrived.
    bool waitForMessages(int count, int timeoutMs = 5000);
    // Sends a request that answers with its id and waits for it: everything sent before has been handled.
    // Returns the messages that arrived before that answer and forgets them all.
    QStringList drainUntilSentinel(int timeoutMs = 5000);

    // Sends a request with a fresh numeric id and returns that id.
    int request(const QString& method, const QJsonValue& params = QJsonValue::Undefined);
    // The response whose id is the text of id; an empty object on time-out.
    QJsonObject waitForResponse(int id, int timeoutMs = 5000);
    // Sends a request and waits: the "result" of its response, or Undefined.
    QJsonValue result(const QString& method, const QJsonValue& params = QJsonValue::Undefined, int timeoutMs = 5000);
    // Notifications with this method name received so far.
    QList<QJsonObject> notifications(const QString& method) const;
    bool waitForNotifications(const QString& method, int count, int timeoutMs = 5000);
    // True once the connection has ended, within the time.
    bool waitForClosed(int timeoutMs = 5000);

    QStringList messages;
    QWebSocket socket;

private:
    int nextId = 1;
    bool closed = false;
};
