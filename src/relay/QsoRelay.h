// The QSO relay: the UDP receiver in a thread of its own, its starts, stops and status one at a time in the order
// they came, and the connections subscribed to its records. Lives in the service's thread.
#pragma once

#include "server/MyFuture.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <QVariant>
#include <QVector>

#include <functional>

class UdpMulticast;

namespace jcon {
class JsonRpcEndpoint;
} // namespace jcon

class QsoRelay : public QObject
{
    Q_OBJECT

signals:
    // One notification for each of these endpoints: rendered once, however many they are.
    void sendUnsolicitedNotifications(QVector<jcon::JsonRpcEndpoint*> endpoints, QString method, QVariant params);

public:
    explicit QsoRelay(QObject* parent = nullptr);
    ~QsoRelay() override;

    // The relay methods, by the names pages call them; caller is the connection the request came from.
    MyFuture udpQsoStart(quint16 port, const QString& add, const QString& group);
    MyFuture udpQsoStartFilters(quint16 port, const QString& add, const QString& group, const QStringList& filters);
    MyFuture udpQsoStop(jcon::JsonRpcEndpoint* caller);
    QVariantMap udpQsoSubscribe(jcon::JsonRpcEndpoint* caller);
    QVariantMap udpQsoUnsubscribe(jcon::JsonRpcEndpoint* caller);
    MyFuture udpQsoStatus();
    // A connection has gone: it subscribes to nothing any more.
    void forget(jcon::JsonRpcEndpoint* endpoint);
    // Stops receiving and drops relay work nobody started; the running piece finishes.
    void shutDown();

private:
    void udpQsoPush(const QVariantMap& qso);
    QVariantMap udpQsoStart_1(quint16 port, const QString& add, const QString& group, const QVariant& patterns);
    // Runs work on the relay's own thread, after the relay requests asked before it; then makes the answer in this
    // thread from its result.
    MyFuture onRelay(std::function<QVariant()> work, std::function<QVariant(const QVariant&)> then);
    // Runs call in the receiver's thread and waits for it (from the relay's thread, never from this one).
    static void onReceiver(UdpMulticast* receiver, const std::function<void(UdpMulticast&)>& call);

    // Starts, stops and status of the relay, one at a time in the order they came.
    QThreadPool relayPool;
    UdpMulticast* udpReceiver = nullptr;
    QSet<jcon::JsonRpcEndpoint*> udpQsoSubscribers;
};
