#include "QsoRelay.h"

#include "UdpMulticast.h"
#include "app/Log.h"
#include "server/Envelope.h"
#include "server/jcon/JsonRpcEndpoint.h"

#include <QFutureInterface>
#include <QFutureWatcher>
#include <QHostAddress>
#include <QThread>
#include <QtConcurrent>

namespace {

const void* address(const QObject* object)
{
    return static_cast<const void*>(object);
}

QString peerText(const jcon::JsonRpcEndpoint* endpoint)
{
    return endpoint ? endpoint->peerAddress().toString() : QString();
}

QVector<jcon::JsonRpcEndpoint*> endpointList(const QSet<jcon::JsonRpcEndpoint*>& endpoints)
{
    return QVector<jcon::JsonRpcEndpoint*>(endpoints.cbegin(), endpoints.cend());
}

} // namespace

QsoRelay::QsoRelay(QObject* parent)
    : QObject(parent)
{
    relayPool.setMaxThreadCount(1);
    qRegisterMetaType<QHostAddress>("QHostAddress");

    // The receiver and its thread live as long as the process; nobody stops them.
    auto* udpThread = new QThread();
    udpReceiver = new UdpMulticast();
    udpReceiver->moveToThread(udpThread);
    connect(udpThread, &QThread::started, udpReceiver, &UdpMulticast::UdpMulticastInit);
    connect(udpReceiver, &UdpMulticast::newQso, this, &QsoRelay::udpQsoPush);
    udpThread->start(QThread::InheritPriority);
}

QsoRelay::~QsoRelay() = default;

void QsoRelay::shutDown()
{
    onReceiver(udpReceiver, [](UdpMulticast& receiver) { receiver.stopReceiving(); });
    relayPool.clear();
    relayPool.waitForDone();
}

MyFuture QsoRelay::udpQsoStart(quint16 port, const QString& add, const QString& group)
{
    return MyFuture([this, port, add, group] { return QVariant(udpQsoStart_1(port, add, group, QVariant())); },
                    &relayPool);
}

MyFuture
QsoRelay::udpQsoStartFilters(quint16 port, const QString& add, const QString& group, const QStringList& filters)
{
    return MyFuture(
        [this, port, add, group, filters] { return QVariant(udpQsoStart_1(port, add, group, QVariant(filters))); },
        &relayPool);
}

QVariantMap QsoRelay::udpQsoStart_1(quint16 port, const QString& add, const QString& group, const QVariant& patterns)
{
    if (add.isNull() || group.isNull() || port == 0) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    const QHostAddress local = add.isEmpty() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(add);
    const QHostAddress groupAddress = group.isEmpty() ? QHostAddress() : QHostAddress(group);
    LOG("RigService::udpQsoStartThread id: {}\n", threadIdText());

    bool started = false;
    onReceiver(udpReceiver,
               [&](UdpMulticast& receiver) { started = receiver.startReceiving(port, local, groupAddress, patterns); });
    return started ? successEnvelope(QStringLiteral("Started UDP QSO"))
                   : errorEnvelope(QStringLiteral("Cannot start UDP QSO"));
}

void QsoRelay::onReceiver(UdpMulticast* receiver, const std::function<void(UdpMulticast&)>& call)
{
    QMetaObject::invokeMethod(
        receiver, [receiver, &call] { call(*receiver); }, Qt::BlockingQueuedConnection);
}

MyFuture QsoRelay::onRelay(std::function<QVariant()> work, std::function<QVariant(const QVariant&)> then)
{
    QFutureInterface<QVariant> answer;
    answer.reportStarted();
    auto* watcher = new QFutureWatcher<QVariant>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [watcher, answer, then = std::move(then)]() mutable {
        answer.reportResult(then(watcher->result()));
        answer.reportFinished();
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(&relayPool, std::move(work)));
    return MyFuture(answer.future());
}

MyFuture QsoRelay::udpQsoStop(jcon::JsonRpcEndpoint* caller)
{
    // The subscriptions end when the stop arrives, so one made after it in the same breath holds; the answer waits
    // for the relay to stop, in turn with the starts asked before it: a client's last word holds.
    udpQsoSubscribers.remove(caller);
    emit sendUnsolicitedNotifications(endpointList(udpQsoSubscribers),
                                      QStringLiteral("RigInfo"),
                                      QVariantMap {{QStringLiteral("Error:"), QStringLiteral("UDP QSO stopped")}});
    udpQsoSubscribers.clear();
    UdpMulticast* const receiver = udpReceiver;
    return onRelay(
        [receiver] {
            onReceiver(receiver, [](UdpMulticast& stopping) { stopping.stopReceiving(); });
            return QVariant();
        },
        [](const QVariant&) { return QVariant(successEnvelope(QStringLiteral("Stopped UDP QSO"))); });
}

QVariantMap QsoRelay::udpQsoSubscribe(jcon::JsonRpcEndpoint* caller)
{
    if (udpQsoSubscribers.contains(caller)) {
        return errorEnvelope(QStringLiteral("already subscribed"));
    }
    udpQsoSubscribers.insert(caller);
    LOG("SUBSCRIBED UDP QSO to {} ({})\n", address(caller), peerText(caller));
    return successEnvelope(QStringLiteral("Subscribed to UDP QSO"));
}

QVariantMap QsoRelay::udpQsoUnsubscribe(jcon::JsonRpcEndpoint* caller)
{
    if (!udpQsoSubscribers.remove(caller)) {
        return errorEnvelope(QStringLiteral("Not subscribed to UDP QSO"));
    }
    LOG("UNSUBSCRIBED UDP QSO to {} ({})\n", address(caller), peerText(caller));
    return successEnvelope(QStringLiteral("Unsubscribed from UDP QSO"));
}

MyFuture QsoRelay::udpQsoStatus()
{
    UdpMulticast* const receiver = udpReceiver;
    return onRelay(
        [receiver] {
            usInfo info;
            onReceiver(receiver, [&info](UdpMulticast& asked) { info = asked.status(); });
            return QVariant::fromValue(info);
        },
        [](const QVariant& status) {
            const usInfo info = status.value<usInfo>();
            if (!info.receiving) {
                return QVariant(QVariantMap {{QStringLiteral("Receiving"), false}});
            }
            return QVariant(QVariantMap {
                {QStringLiteral("Receiving"), true},
                {QStringLiteral("Port"), int(info.port)},
                {QStringLiteral("Address"), info.address.toString()},
                {QStringLiteral("Group"), info.group.isNull() ? QString(QLatin1String("")) : info.group.toString()}});
        });
}

void QsoRelay::udpQsoPush(const QVariantMap& qso)
{
    if (!udpQsoSubscribers.isEmpty()) {
        emit sendUnsolicitedNotifications(endpointList(udpQsoSubscribers), QStringLiteral("QsoInfo"), qso);
    }
}

void QsoRelay::forget(jcon::JsonRpcEndpoint* endpoint)
{
    udpQsoSubscribers.remove(endpoint);
}
