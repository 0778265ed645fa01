#include "RpcClient.h"

#include <QJsonDocument>
#include <QTest>
#include <QUrl>

RpcClient::RpcClient(const QString& origin, QObject* parent)
    : QObject(parent)
    , socket(origin)
{
    connect(&socket, &QWebSocket::connected, this, [this] { connected = true; });
    connect(&socket, &QWebSocket::disconnected, this, [this] { closed = true; });
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
        messages.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
}

bool RpcClient::open(quint16 port, int timeoutMs)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    QTest::qWaitFor([this] { return connected || closed; }, timeoutMs);
    return connected && !closed;
}

bool RpcClient::waitForClosed(int timeoutMs)
{
    return QTest::qWaitFor([this] { return closed; }, timeoutMs);
}

int RpcClient::send(const QString& method, const QJsonValue& params)
{
    const int id = nextId++;
    QJsonObject request {{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                         {QStringLiteral("method"), method},
                         {QStringLiteral("id"), id}};
    if (!params.isUndefined()) {
        request.insert(QStringLiteral("params"), params);
    }
    socket.sendTextMessage(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    return id;
}

QJsonObject RpcClient::waitForResponse(int id, int timeoutMs)
{
    const QString idText = QString::number(id);
    QJsonObject found;
    QTest::qWaitFor(
        [&] {
            for (const QJsonObject& message : qAsConst(messages)) {
                if (message.value(QStringLiteral("id")).toString() == idText) {
                    found = message;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

QJsonValue RpcClient::call(const QString& method, const QJsonValue& params, int timeoutMs)
{
    return waitForResponse(send(method, params), timeoutMs).value(QStringLiteral("result"));
}

QList<QJsonObject> RpcClient::notifications(const QString& method) const
{
    QList<QJsonObject> matching;
    for (const QJsonObject& message : messages) {
        if (!message.contains(QStringLiteral("id")) && message.value(QStringLiteral("method")).toString() == method) {
            matching.append(message);
        }
    }
    return matching;
}

bool RpcClient::waitForNotifications(const QString& method, int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return notifications(method).size() >= count; }, timeoutMs);
}
