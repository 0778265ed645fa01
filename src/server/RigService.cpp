#include "RigService.h"

#include "app/AppSettings.h"
#include "app/Log.h"
#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcServer.h"
#include "radio/RadioRegistry.h"
#include "relay/QsoRelay.h"
#include "share/RadioShare.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>

#include <hamlib/rig.h>

#include <chrono>
#include <thread>

namespace {

const void* address(const QObject* object)
{
    return static_cast<const void*>(object);
}

QString peerText(const jcon::JsonRpcEndpoint* endpoint)
{
    return endpoint ? endpoint->peerAddress().toString() : QString();
}

jcon::JsonRpcEndpoint* caller()
{
    return jcon::JsonRpcServer::currentEndpoint();
}

} // namespace

RigService::RigService(QObject* parent)
    : QObject(parent)
    , radios(new RadioRegistry(this))
{
    taskPool.setMaxThreadCount(1);
    LOG("RIG service Thread id: {}\n", threadIdText());
    relay = new QsoRelay(this);
    share = new RadioShare(radios, this);
    connect(radios, &RadioRegistry::sendUnsolicitedNotifications, this, &RigService::sendUnsolicitedNotifications);
    connect(relay, &QsoRelay::sendUnsolicitedNotifications, this, &RigService::sendUnsolicitedNotifications);
}

RigService::~RigService()
{
    shutDown();
}

void RigService::shutDown()
{
    // Nothing may report to this thread once it ends: Qt deletes a thread's event loop while other threads may
    // still be posting to it. Relay work nobody started is dropped and the running piece finishes.
    QElapsedTimer clock;
    clock.start();
    relay->shutDown();
    share->shutDown();
    taskPool.clear();
    taskPool.waitForDone();
    // A radio's process inside Hamlib on a radio that does not answer is killed: the program still ends within a
    // second.
    radios->shutDown(int(qMax<qint64>(0, 1000 - clock.elapsed())));
}

QVariantList RigService::listRig()
{
    return radios->listRig();
}

QVariantList RigService::listUSB()
{
    return radios->listUSB();
}

MyFuture RigService::connectRig(QString& serial, uint model_id, QString& serial_speed)
{
    return radios->connectRig(serial, model_id, serial_speed, caller());
}

QVariantList RigService::listConnectedRigs()
{
    return share->describe(radios->listConnectedRigs());
}

MyFuture RigService::disconnectRig(QString& serialName)
{
    return radios->disconnectRig(serialName, caller());
}

MyFuture RigService::rigInfo(QString& serialName)
{
    return radios->rigInfo(serialName);
}

MyFuture RigService::rigInfoSubscribe(QString& serialName)
{
    return radios->rigInfoSubscribe(serialName, caller());
}

MyFuture RigService::rigInfoUnsubscribe(QString& serialName)
{
    return radios->rigInfoUnsubscribe(serialName, caller());
}

void RigService::rigInfoPush()
{
    radios->rigInfoPush();
}

MyFuture RigService::setFreq(QString& serialName, double frequency)
{
    return radios->setFreq(serialName, frequency);
}

MyFuture RigService::setMode(QString& serialName, QString& mode, int passband)
{
    return radios->setMode(serialName, mode, passband);
}

MyFuture RigService::setPTT(QString& serialName, int ptt)
{
    return radios->setPTT(serialName, ptt, caller());
}

MyFuture RigService::setVFO(QString& serialName, QString& vfo)
{
    return radios->setVFO(serialName, vfo);
}

MyFuture RigService::udpQsoStart(quint16 port, QString& add, QString& group)
{
    return relay->udpQsoStart(port, add, group);
}

MyFuture RigService::udpQsoStartFilters(quint16 port, QString& add, QString& group, QStringList filters)
{
    return relay->udpQsoStartFilters(port, add, group, filters);
}

MyFuture RigService::udpQsoStop()
{
    return relay->udpQsoStop(caller());
}

QVariantMap RigService::udpQsoSubscribe()
{
    return relay->udpQsoSubscribe(caller());
}

QVariantMap RigService::udpQsoUnsubscribe()
{
    return relay->udpQsoUnsubscribe(caller());
}

MyFuture RigService::udpQsoStatus()
{
    return relay->udpQsoStatus();
}

QVariantMap RigService::ovInfo()
{
    return {{QStringLiteral("OrvessaVersion"), AppSettings::version},
            {QStringLiteral("HamLibVersion"), QString::fromUtf8(rig_version())}};
}

QVariantList RigService::allAddresses()
{
    QVariantList addresses;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol) {
            addresses.append(address.toString());
        }
    }
    return addresses;
}

MyFuture RigService::futureNumber()
{
    return MyFuture(
        [] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return QVariant(2);
        },
        &taskPool);
}

void RigService::newEndpoint(jcon::JsonRpcEndpoint* endpoint)
{
    if (!endpoint) {
        LOG("NEW CLIENT without endpoint\n");
        return;
    }
    LOG("NEW CLIENT: {}\n", peerText(endpoint));
    connect(endpoint, &jcon::JsonRpcEndpoint::socketDisconnected, this, &RigService::endpointDisconnected);
    connect(endpoint, &jcon::JsonRpcEndpoint::socketError, this, &RigService::endpointError);
}

void RigService::endpointDisconnected(QObject* /*socket*/)
{
    auto* endpoint = qobject_cast<jcon::JsonRpcEndpoint*>(sender());
    LOG("DISCONNECTED {} ({})\n", address(endpoint), peerText(endpoint));
    radios->forget(endpoint);
    relay->forget(endpoint);
}

void RigService::endpointError(QObject* /*socket*/, QAbstractSocket::SocketError /*error*/)
{
    auto* endpoint = qobject_cast<jcon::JsonRpcEndpoint*>(sender());
    LOG("ENDPOINT ERROR {} ({})\n", address(endpoint), peerText(endpoint));
}
