#include "RpcClient.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

RpcClient::RpcClient(const QString& origin, QObject* parent)
    : QObject(parent)
    , socket(origin)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) { messages.append(text); });
}

bool RpcClient::open(quint16 port, int timeoutMs)
{
    QSignalSpy connected(&socket, &QWebSocket::connected);
    QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
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
