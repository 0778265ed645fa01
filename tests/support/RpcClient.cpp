#include "RpcClient.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

RpcClient::RpcClient(const QString& origin, QObject* parent)
    : QObject(parent)
    , socket(origin)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) { messages.append(text); });
    connect(&socket, &QWebSocket::disconnected, this, [this] { closed = true; });
}

bool RpcClient::open(quint16 port, int timeoutMs)
{
    QSignalSpy connected(&socket, &QWebSocket::connected);
    QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
    closed = false;
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    QElapsedTimer timer;
    timer.start();
    while (connected.isEmpty() && disconnected.isEmpty() && timer.elapsed() < timeoutMs) {
        QTest::qWait(10);
    }
    return !connected.isEmpty();
}

void RpcClient::call(const QString& method, const QString& params, const QString& id)
{
    QString text = QStringLiteral(R"({"jsonrpc": "2.0", "method": "%1")").arg(method);
    if (!params.isEmpty()) {
        text += QStringLiteral(R"(, "params": )") + params;
    }
    if (!id.isEmpty()) {
        text += QStringLiteral(R"(, "id": "%1")").arg(id);
    }
    send(text + QLatin1Char('}'));
}

bool RpcClient::waitForMessages(int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (messages.size() < count && timer.elapsed() < timeoutMs) {
        QTest::qWait(10);
    }
    return messages.size() >= count;
}

QStringList RpcClient::drainUntilSentinel(int timeoutMs)
{
    call(QStringLiteral("echo"), QStringLiteral(R"(["sentinel"])"), QStringLiteral("sentinel"));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const int at = messages.indexOf(QRegularExpression(QStringLiteral(R"(.*"id": "sentinel".*)"),
                                                           QRegularExpression::DotMatchesEverythingOption));
        if (at >= 0) {
            const QStringList before = messages.mid(0, at);
            messages.clear();
            return before;
        }
        QTest::qWait(10);
    }
    return {QStringLiteral("no answer to the sentinel")};
}

int RpcClient::request(const QString& method, const QJsonValue& params)
{
    const int id = nextId++;
    QJsonObject message {{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                         {QStringLiteral("method"), method},
                         {QStringLiteral("id"), id}};
    if (!params.isUndefined()) {
        message.insert(QStringLiteral("params"), params);
    }
    send(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    return id;
}

QJsonObject RpcClient::waitForResponse(int id, int timeoutMs)
{
    const QString idText = QString::number(id);
    QJsonObject found;
    (void)QTest::qWaitFor(
        [&] {
            for (const QString& text : qAsConst(messages)) {
                const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
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

QJsonValue RpcClient::result(const QString& method, const QJsonValue& params, int timeoutMs)
{
    return waitForResponse(request(method, params), timeoutMs).value(QStringLiteral("result"));
}

QList<QJsonObject> RpcClient::notifications(const QString& method) const
{
    QList<QJsonObject> matching;
    for (const QString& text : messages) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
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
