// The tests' WebSocket client: connects with a chosen Origin, sends requests and keeps every message it receives.
#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QStringList>
#include <QWebSocket>

class RpcClient : public QObject
{
    Q_OBJECT

public:
    // The first allowed origin unless told otherwise; an empty origin sends no Origin header at all.
    explicit RpcClient(const QString& origin = defaultOrigin(), QObject* parent = nullptr);
    static QString defaultOrigin();

    // Opens ws://127.0.0.1:port; true once connected, false when refused or after the time-out.
    bool open(quint16 port, int timeoutMs = 5000);
    void send(const QString& text) { socket.sendTextMessage(text); }
    // Sends a request with a fresh numeric id and returns the id.
    int request(const QString& method, const QJsonValue& params = QJsonValue::Undefined);
    // The response carrying this id, taken out of the messages; an empty object on time-out.
    QJsonObject response(int id, int timeoutMs = 10000);
    // A request and its "result"; Undefined on time-out or error.
    QJsonValue call(const QString& method, const QJsonValue& params = QJsonValue::Undefined, int timeoutMs = 10000);
    // Waits for the answer to an ovInfo, then returns and forgets every other message received.
    QStringList settle(int timeoutMs = 10000);

    // Notifications with this method name received so far, oldest first.
    QList<QJsonObject> notifications(const QString& method) const;
    bool waitForNotifications(const QString& method, int count, int timeoutMs = 5000);
    bool waitForClosed(int timeoutMs = 5000);

    // Everything received and not yet taken by response() or settle().
    QStringList messages;
    QWebSocket socket;

private:
    int nextId = 1;
    bool closed = false;
};
