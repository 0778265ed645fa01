#include "RpcProbeService.h"

#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcServer.h"

#include <QThread>

#include <stdexcept>

RpcProbeService::RpcProbeService()
{
    pool.setMaxThreadCount(1);
}

RpcProbeService::~RpcProbeService()
{
    pool.waitForDone();
}

QVariantMap RpcProbeService::map()
{
    return {{QStringLiteral("Success"), QStringLiteral("ok")},
            {QStringLiteral("freq"), 14074000.5},
            {QStringLiteral("list"), QVariantList {1, QStringLiteral("b")}}};
}

QVariantList RpcProbeService::list()
{
    return {1, QStringLiteral("two"), QVariantMap {{QStringLiteral("k"), true}}};
}

QString RpcProbeService::append(QString& text)
{
    text += QLatin1Char('!');
    return text;
}

void RpcProbeService::takesEndpoint(jcon::JsonRpcEndpoint*)
{
    ++endpointCalls;
}

int RpcProbeService::fail()
{
    throw std::runtime_error("boom");
}

int RpcProbeService::callerPort()
{
    jcon::JsonRpcEndpoint* const caller = jcon::JsonRpcServer::currentEndpoint();
    return caller ? caller->peerPort() : -1;
}

MyFuture RpcProbeService::deferred(int value, int delayMs)
{
    MyFuture future(
        [this, value, delayMs] {
            ++worksStarted;
            QThread::msleep(static_cast<unsigned long>(delayMs));
            ++worksFinished;
            return QVariant(value);
        },
        &pool);
    lastWatcher = future.watcherObject();
    return future;
}

MyFuture RpcProbeService::failLater()
{
    return MyFuture([]() -> QVariant { throw std::runtime_error("late boom"); }, &pool);
}

void RpcProbeService::notifyAll(const QString& text)
{
    emit sendUnsolicitedNotification(nullptr, QStringLiteral("Note"), text);
}

void RpcProbeService::notifyMe(const QString& text)
{
    emit sendUnsolicitedNotification(jcon::JsonRpcServer::currentEndpoint(), QStringLiteral("Note"), text);
}

void RpcProbeService::notifyUnsigned()
{
    emit sendUnsolicitedNotification(nullptr, QStringLiteral("Note"), QVariant(7u));
}

void RpcProbeService::remember()
{
    remembered = jcon::JsonRpcServer::currentEndpoint();
}

void RpcProbeService::notifyRemembered(const QString& text)
{
    emit sendUnsolicitedNotification(remembered, QStringLiteral("Note"), text);
}
