// A service for the JSON-RPC tests: overloads, reference and pointer parameters, a private slot, every
// return type the wire knows and some it does not, deferred works, failures and notifications.
#pragma once

#include "MyFuture.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThreadPool>
#include <QVariant>

#include <atomic>

namespace jcon {
class JsonRpcEndpoint;
}

class RpcProbeService : public QObject
{
    Q_OBJECT

signals:
    void sendUnsolicitedNotification(jcon::JsonRpcEndpoint* endpoint, QString method, QVariant params);

public slots:
    void nothing() { ++nothingCalls; }
    int add(int a, int b) { return a + b; }
    double half(double value) { return value / 2; }
    QString echo(const QString& text) { return text; }
    bool flag() { return true; }
    qlonglong big() { return 1LL << 40; }
    QVariantMap map();
    QVariantList list();
    uint unsignedValue() { return 7; }
    QStringList stringList() { return {QStringLiteral("a")}; }
    QString append(QString& text);
    // Overloads: by argument count, and the first declared whose arguments convert wins.
    QString overloaded(int a) { return QStringLiteral("one:%1").arg(a); }
    QString overloaded(int a, int b) { return QStringLiteral("two:%1").arg(a + b); }
    QString first(const QString& text) { return QStringLiteral("text:") + text; }
    QString first(double number) { return QStringLiteral("number:%1").arg(number); }
    QString typed(const QVariantMap& map) { return QStringLiteral("map:%1").arg(map.size()); }
    QString typed(double number) { return QStringLiteral("number:%1").arg(number); }
    void takesEndpoint(jcon::JsonRpcEndpoint* endpoint);
    int fail();
    // The port the calling client's socket uses, as the server sees it.
    int callerPort();
    MyFuture deferred(int value, int delayMs);
    MyFuture failLater();
    void notifyAll(const QString& text);
    void notifyMe(const QString& text);
    void notifyUnsigned();
    void remember();
    void notifyRemembered(const QString& text);

public:
    RpcProbeService();
    ~RpcProbeService() override;

    int nothingCalls = 0;
    int endpointCalls = 0;
    std::atomic<int> worksStarted {0};
    std::atomic<int> worksFinished {0};
    QPointer<QObject> lastWatcher;

private slots:
    QString hidden() { return QStringLiteral("hidden"); }

private:
    QThreadPool pool;
    jcon::JsonRpcEndpoint* remembered = nullptr;
};
