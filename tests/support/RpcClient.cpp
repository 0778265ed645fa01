#include "RpcClient.h"

#include "app/Orvessa.h"

#include <QJsonDocument>
#include <QTest>

namespace {

QJsonObject parsed(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

} // namespace

RpcClient::RpcClient(const QString& origin, QObject* parent)
    : QObject(parent)
    , socket(origin)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) { messages.append(text); });
    connect(&socket, &QWebSocket::disconnected, this, [this] { closed = true; });
}

QString RpcClient::defaultOrigin()
{
    return allowedOrigins().value(0);
}

bool RpcClient::open(quint16 port, int timeoutMs)
{
    closed = false;
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    return QTest::qWaitFor([this] { return closed || socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs)
        && !closed;
}

int RpcClient::request(const QString& method, const QJsonValue& params)
{
    QJsonObject message {{"jsonrpc", "2.0"}, {"method", method}, {"id", nextId}};
    if (!params.isUndefined()) {
        message.insert(QStringLiteral("params"), params);
    }
    send(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    return nextId++;
}

QJsonObject RpcClient::response(int id, int timeoutMs)
{
    const QJsonValue wanted(QString::number(id));
    QJsonObject found;
    (void)QTest::qWaitFor(
        [&] {
            for (int i = 0; i < messages.size(); ++i) {
                found = parsed(messages.at(i));
                if (found.value(QStringLiteral("id")) == wanted) {
                    messages.removeAt(i);
                    return true;
                }
            }
            found = QJsonObject();
            return false;
        },
        timeoutMs);
    return found;
}

QJsonValue RpcClient::call(const QString& method, const QJsonValue& params, int timeoutMs)
{
    return response(request(method, params), timeoutMs).value(QStringLiteral("result"));
}

QStringList RpcClient::settle(int timeoutMs)
{
    send(QStringLiteral(R"({"jsonrpc": "2.0", "method": "ovInfo", "id": "settle"})"));
    const auto settled = [this] {
        for (int i = 0; i < messages.size(); ++i) {
            if (parsed(messages.at(i)).value(QStringLiteral("id")) == QLatin1String("settle")) {
                messages.removeAt(i);
                return true;
            }
        }
        return false;
    };
    if (!QTest::qWaitFor(settled, timeoutMs)) {
        return {QStringLiteral("no answer to the settling request")};
    }
    const QStringList received = messages;
    messages.clear();
    return received;
}

QList<QJsonObject> RpcClient::notifications(const QString& method) const
{
    QList<QJsonObject> matching;
    for (const QString& text : messages) {
        const QJsonObject message = parsed(text);
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

bool RpcClient::waitForClosed(int timeoutMs)
{
    return QTest::qWaitFor([this] { return closed; }, timeoutMs);
}
