#include "RigService.h"

#include "AppSettings.h"
#include "Envelope.h"
#include "Log.h"
#include "RadioLink.h"
#include "UdpMulticast.h"
#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcServer.h"

#include <QFutureInterface>
#include <QFutureWatcher>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QSerialPortInfo>
#include <QThread>
#include <QtConcurrent>

#include <hamlib/rig.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

namespace {

QVariantMap goneNotice(const QString& text)
{
    return {{QStringLiteral("Error:"), text}};
}

const void* address(const QObject* object)
{
    return static_cast<const void*>(object);
}

QString peerText(const jcon::JsonRpcEndpoint* endpoint)
{
    return endpoint ? endpoint->peerAddress().toString() : QString();
}

int addCatalogueEntry(const rig_caps* caps, rig_ptr_t data)
{
    const QString brand = QString::fromUtf8(caps->mfg_name);
    if (!brand.contains(QStringLiteral("Hamlib"))) {
        static_cast<QVariantList*>(data)->append(
            QVariantMap {{QStringLiteral("ID"), uint(caps->rig_model)},
                         {QStringLiteral("Model"), QString::fromUtf8(caps->model_name)},
                         {QStringLiteral("Brand"), brand}});
    }
    return 1;
}

QString hexOrEmpty(bool present, quint16 value)
{
    return present ? QString::number(value, 16) : QString();
}

void logUSBInfo(const QSerialPortInfo& port)
{
    const QString details = QObject::tr("Port: ") + port.portName() + "\n" + QObject::tr("Location: ")
        + port.systemLocation() + "\n" + QObject::tr("Description: ") + port.description() + "\n"
        + QObject::tr("Manufacturer: ") + port.manufacturer() + "\n" + QObject::tr("Serial number: ")
        + port.serialNumber() + "\n" + QObject::tr("Vendor Identifier: ")
        + hexOrEmpty(port.hasVendorIdentifier(), port.vendorIdentifier()) + "\n" + QObject::tr("Product Identifier: ")
        + hexOrEmpty(port.hasProductIdentifier(), port.productIdentifier()) + "\n" + QObject::tr("Busy: ")
        + (port.isBusy() ? QObject::tr("Yes") : QObject::tr("No")) + "\n";
    LOG("{}\n", details);
}

QVector<jcon::JsonRpcEndpoint*> endpointList(const QSet<jcon::JsonRpcEndpoint*>& endpoints)
{
    return QVector<jcon::JsonRpcEndpoint*>(endpoints.cbegin(), endpoints.cend());
}

} // namespace

RigService::RigService(QObject* parent)
    : QObject(parent)
    , pushTimer(this)
{
    taskPool.setMaxThreadCount(1);
    relayPool.setMaxThreadCount(1);
    buildRigCatalogue();
    LOG("RIG service Thread id: {}\n", threadIdText());

    connect(&pushTimer, &QTimer::timeout, this, &RigService::rigInfoPush);
    pushTimer.setInterval(250);
    pushTimer.start();

    qRegisterMetaType<QHostAddress>("QHostAddress");

    // The receiver and its thread live as long as the process; nobody stops them.
    auto* udpThread = new QThread();
    udpReceiver = new UdpMulticast();
    udpReceiver->moveToThread(udpThread);
    connect(udpThread, &QThread::started, udpReceiver, &UdpMulticast::UdpMulticastInit);
    connect(udpReceiver, &UdpMulticast::newQso, this, &RigService::udpQsoPush);
    udpThread->start(QThread::InheritPriority);
}

RigService::~RigService()
{
    shutDown();
}

void RigService::shutDown()
{
    // Nothing may report to this thread once it ends: Qt deletes a thread's event loop while other threads
    // may still be posting to it. The radios' hosts are told first, so they close while the relay stops;
    // relay work nobody started is dropped and the running piece finishes.
    QElapsedTimer clock;
    clock.start();
    const QList<RadioLink*> links = findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly);
    rigs.clear();
    rigInfoSubscribers.clear();
    onReceiver(udpReceiver, [](UdpMulticast& receiver) { receiver.stopReceiving(); });
    taskPool.clear();
    relayPool.clear();
    taskPool.waitForDone();
    relayPool.waitForDone();
    // A host inside Hamlib on a radio that does not answer is killed: the program still ends within a second.
    RadioLink::endAll(links, int(qMax<qint64>(0, 1000 - clock.elapsed())));
}

std::optional<QVariantMap> RigService::refusal(const QString& port, bool textsGiven)
{
    if (port.isNull() || !textsGiven) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    return std::nullopt;
}

MyFuture RigService::answer(const std::function<void(const Reply&)>& body)
{
    struct Answer
    {
        QFutureInterface<QVariant> promise;
        std::optional<QVariant> atOnce;
        bool inside = true;
    };
    auto shared = std::make_shared<Answer>();
    shared->promise.reportStarted();
    body([shared](const QVariant& value) {
        if (shared->inside) {
            shared->atOnce = value;
            return;
        }
        shared->promise.reportResult(value);
        shared->promise.reportFinished();
    });
    shared->inside = false;
    if (shared->atOnce) {
        return MyFuture::ready(*shared->atOnce);
    }
    return MyFuture(shared->promise.future());
}

MyFuture RigService::withRig(const QString& port, const RigWork& work)
{
    return answer([this, port, work](const Reply& reply) { runWithRig(port, work, reply); });
}

void RigService::runWithRig(const QString& port, const RigWork& work, const Reply& reply)
{
    const auto found = rigs.find(port);
    if (found == rigs.end()) {
        reply(errorEnvelope(QStringLiteral("Rig not connected")));
    } else if (!found->open) {
        found->afterOpen.append([this, port, work, reply] { runWithRig(port, work, reply); });
    } else {
        work(*found, reply);
    }
}

void RigService::ask(ConnectedRig& rig, const QVariantMap& request, const Reply& reply)
{
    if (!rig.link->ask(request, reply)) {
        reply(errorEnvelope(QStringLiteral("Rig busy: too many requests are waiting for it")));
    }
}

void RigService::buildRigCatalogue()
{
    rig_load_all_backends();
    rig_list_foreach(addCatalogueEntry, &rigCatalogue);
    std::sort(rigCatalogue.begin(), rigCatalogue.end(), [](const QVariant& left, const QVariant& right) {
        const QVariantMap a = left.toMap();
        const QVariantMap b = right.toMap();
        const QString brandA = a.value(QStringLiteral("Brand")).toString();
        const QString brandB = b.value(QStringLiteral("Brand")).toString();
        if (brandA != brandB) {
            return brandA < brandB;
        }
        return a.value(QStringLiteral("Model")).toString() < b.value(QStringLiteral("Model")).toString();
    });
}

bool RigService::inCatalogue(uint modelId) const
{
    return std::any_of(rigCatalogue.cbegin(), rigCatalogue.cend(), [modelId](const QVariant& entry) {
        return entry.toMap().value(QStringLiteral("ID")).toUInt() == modelId;
    });
}

QVariantList RigService::listRig()
{
    std::ostringstream id;
    id << std::this_thread::get_id();
    LOG("Thread id: {}\n", id.str());
    return rigCatalogue;
}

QVariantList RigService::listUSB()
{
    QVariantList ports;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        logUSBInfo(port);
        ports.append(QVariantMap {{QStringLiteral("Name"), port.portName()},
                                  {QStringLiteral("Location"), port.systemLocation()},
                                  {QStringLiteral("Model"), port.description()},
                                  {QStringLiteral("Brand"), port.manufacturer()},
                                  {QStringLiteral("Serial"), port.serialNumber()}});
    }
    return ports;
}

MyFuture RigService::connectRig(QString& serial, uint model_id, QString& serial_speed)
{
    if (serial.isNull() || serial_speed.isNull()) {
        return MyFuture::ready(errorEnvelope(QStringLiteral("Invalid params")));
    }
    LOG("IP: {}\n", peerText(jcon::JsonRpcServer::currentEndpoint()));
    if (!inCatalogue(model_id)) {
        LOG("Rig model not supported\n");
        return MyFuture::ready(errorEnvelope(QStringLiteral("Rig model not supported")));
    }
    const QString port = serial;
    const QString speed = serial_speed;
    return answer([this, port, model_id, speed](const Reply& reply) { connectPort(port, model_id, speed, reply); });
}

void RigService::connectPort(const QString& port, uint model, const QString& speed, const Reply& reply)
{
    const auto found = rigs.find(port);
    if (found != rigs.end() && found->open) {
        LOG("Serial port already connected\n");
        reply(successEnvelope(QStringLiteral("Serial port already connected")));
        return;
    }
    if (found != rigs.end()) {
        // Answered as if sent once the first open is over: connected then, or tried again.
        found->afterOpen.append([this, port, model, speed, reply] { connectPort(port, model, speed, reply); });
        return;
    }
    ConnectedRig& rig = rigs[port];
    rig.link = new RadioLink(port, this);
    RadioLink* const link = rig.link;
    connect(link, &RadioLink::lostWhileIdle, this, [this, port, link] {
        const auto lost = rigs.find(port);
        if (lost != rigs.end() && lost->link == link) {
            lost->failing = true;
            lost->lastRead.start();
            pushToSubscribers(port, errorEnvelope(QStringLiteral("IO error")));
        }
    });
    // The device is found by the host: a path on a hung mount holds up that host only.
    link->resolve([this, port, model, speed, reply](const QVariant& device) {
        deviceKnown(port, model, speed, device.toString(), reply);
    });
}

void RigService::deviceKnown(
    const QString& port, uint model, const QString& speed, const QString& device, const Reply& reply)
{
    const auto found = rigs.find(port);
    if (found == rigs.end() || found->open) {
        return;
    }
    // The same device under another name (a link to it, a "../" form) would get a second handle on one port,
    // and the two would talk across each other.
    if (deviceTaken(device, port)) {
        LOG("Serial port already connected\n");
        reply(successEnvelope(QStringLiteral("Serial port already connected")));
        finishOpening(port, false);
        return;
    }
    if (RadioLink* const holder = closingHolder(device)) {
        // A radio just disconnected on this device is still closing: a moment, at most a second.
        connect(holder, &QObject::destroyed, this, [this, port, model, speed, device, reply] {
            deviceKnown(port, model, speed, device, reply);
        });
        return;
    }
    found->link->device = device;
    found->link->open(model, speed, [this, port, reply](const QVariant& result) {
        const QVariantMap opened = result.toMap();
        if (!opened.contains(QStringLiteral("info"))) {
            reply(errorEnvelope(QStringLiteral("Cannot connect rig")));
            finishOpening(port, false);
            return;
        }
        ConnectedRig& connected = rigs[port];
        connected.info = opened.value(QStringLiteral("info")).toMap();
        connected.open = true;
        rigInfoSubscribers.insert(port, {});
        reply(successEnvelope(QStringLiteral("Rig connected")));
        finishOpening(port, true);
    });
}

void RigService::finishOpening(const QString& port, bool opened)
{
    const auto found = rigs.find(port);
    const QVector<std::function<void()>> waiting = found->afterOpen;
    if (opened) {
        found->afterOpen.clear();
    } else {
        RadioLink* const link = found->link;
        rigs.erase(found);
        link->abandon(errorEnvelope(QStringLiteral("Rig not connected")));
    }
    for (const std::function<void()>& next : waiting) {
        next();
    }
}

bool RigService::deviceTaken(const QString& device, const QString& port) const
{
    for (auto rig = rigs.cbegin(); rig != rigs.cend(); ++rig) {
        if (rig.key() != port && rig->link->device == device) {
            return true;
        }
    }
    return false;
}

RadioLink* RigService::closingHolder(const QString& device) const
{
    for (RadioLink* link : findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly)) {
        const auto rig = rigs.constFind(link->port);
        const bool current = rig != rigs.cend() && rig->link == link;
        if (!current && link->device == device) {
            return link;
        }
    }
    return nullptr;
}

QVariantList RigService::listConnectedRigs()
{
    // Described once, when connected: a busy or silent radio holds no one up here.
    QVariantList described;
    for (const ConnectedRig& rig : qAsConst(rigs)) {
        if (rig.open) {
            described.append(rig.info);
        }
    }
    return described;
}

MyFuture RigService::disconnectRig(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    const QPointer<jcon::JsonRpcEndpoint> caller = jcon::JsonRpcServer::currentEndpoint();
    const QString port = serialName;
    return withRig(port,
                   [this, port, caller](ConnectedRig&, const Reply& reply) { disconnectNow(port, caller, reply); });
}

void RigService::disconnectNow(const QString& port, jcon::JsonRpcEndpoint* caller, const Reply& reply)
{
    ConnectedRig rig = rigs.take(port);
    QVector<jcon::JsonRpcEndpoint*> others;
    for (jcon::JsonRpcEndpoint* endpoint : rigInfoSubscribers.take(port)) {
        if (endpoint != caller) {
            others.append(endpoint);
        }
    }
    // What the radio was asked before and has not done is not done: answered first, in order. The host closes
    // the radio, or is killed when it is stuck inside Hamlib; it keeps the device until it has gone.
    rig.link->abandon(errorEnvelope(QStringLiteral("Rig not connected")));
    emit sendUnsolicitedNotifications(
        others, QStringLiteral("RigInfo"), goneNotice(port + QStringLiteral(" disconnected")));
    // After the answers to the requests it cut short, which leave on the next turn of the loop.
    QTimer::singleShot(0, this, [reply] { reply(successEnvelope(QStringLiteral("Rig disconnected"))); });
}

MyFuture RigService::rigInfo(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    return withRig(serialName, [this](ConnectedRig& rig, const Reply& reply) {
        ask(rig, {{QStringLiteral("op"), QStringLiteral("status")}}, reply);
    });
}

MyFuture RigService::rigInfoSubscribe(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    const QPointer<jcon::JsonRpcEndpoint> caller = jcon::JsonRpcServer::currentEndpoint();
    const QString port = serialName;
    return withRig(port, [this, port, caller](ConnectedRig&, const Reply& reply) {
        QSet<jcon::JsonRpcEndpoint*>& subscribers = rigInfoSubscribers[port];
        if (subscribers.contains(caller)) {
            reply(errorEnvelope(QStringLiteral("already subscribed")));
            return;
        }
        // A page that left while the radio was being opened subscribes nothing.
        if (caller) {
            subscribers.insert(caller);
            LOG("SUBSCRIBED {} to {} ({})\n", port, address(caller), peerText(caller));
        }
        reply(successEnvelope(QStringLiteral("subscribed")));
    });
}

MyFuture RigService::rigInfoUnsubscribe(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    const QPointer<jcon::JsonRpcEndpoint> caller = jcon::JsonRpcServer::currentEndpoint();
    const QString port = serialName;
    return withRig(port, [this, port, caller](ConnectedRig&, const Reply& reply) {
        if (!caller || !rigInfoSubscribers[port].remove(caller)) {
            reply(errorEnvelope(QStringLiteral("not subscribed")));
            return;
        }
        LOG("UNSUBSCRIBED {} to {} ({})\n", port, address(caller), peerText(caller));
        reply(successEnvelope(QStringLiteral("unsubscribed")));
    });
}

void RigService::rigInfoPush()
{
    for (auto subscribers = rigInfoSubscribers.cbegin(); subscribers != rigInfoSubscribers.cend(); ++subscribers) {
        const auto found = rigs.find(subscribers.key());
        if (subscribers->isEmpty() || found == rigs.end() || !found->open) {
            continue;
        }
        // One read in flight per radio; one that fails is asked again once a second, not at every tick.
        ConnectedRig& rig = found.value();
        if (!rig.reading && !(rig.failing && rig.lastRead.elapsed() < 1000)) {
            readStatusOf(subscribers.key(), rig);
        }
    }
}

void RigService::readStatusOf(const QString& port, ConnectedRig& rig)
{
    rig.reading = true;
    rig.lastRead.start();
    RadioLink* const link = rig.link;
    link->read([this, port, link](const QVariant& result) {
        const auto read = rigs.find(port);
        if (read == rigs.end() || read->link != link) {
            return;
        }
        const QVariantMap status = result.toMap();
        read->reading = false;
        read->failing = status.contains(QStringLiteral("Error"));
        pushToSubscribers(port, status);
    });
}

void RigService::pushToSubscribers(const QString& port, const QVariantMap& status)
{
    emit sendUnsolicitedNotifications(endpointList(rigInfoSubscribers.value(port)), QStringLiteral("RigInfo"), status);
}

MyFuture RigService::setFreq(QString& serialName, double frequency)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    return withRig(serialName, [this, frequency](ConnectedRig& rig, const Reply& reply) {
        ask(rig, {{QStringLiteral("op"), QStringLiteral("setFreq")}, {QStringLiteral("freq"), frequency}}, reply);
    });
}

MyFuture RigService::setMode(QString& serialName, QString& mode, int passband)
{
    if (const auto refused = refusal(serialName, !mode.isNull())) {
        return MyFuture::ready(*refused);
    }
    // Hamlib reads the mode's name in the radio's host: "Invalid mode" comes only for a connected radio.
    return withRig(serialName, [this, mode, passband](ConnectedRig& rig, const Reply& reply) {
        ask(rig,
            {{QStringLiteral("op"), QStringLiteral("setMode")},
             {QStringLiteral("mode"), mode},
             {QStringLiteral("passband"), passband}},
            reply);
    });
}

MyFuture RigService::setPTT(QString& serialName, int ptt)
{
    if (serialName.isNull()) {
        return MyFuture::ready(errorEnvelope(QStringLiteral("Invalid params")));
    }
    if (ptt < 0 || ptt > 3) {
        return MyFuture::ready(errorEnvelope(QStringLiteral("Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)")));
    }
    return withRig(serialName, [this, ptt](ConnectedRig& rig, const Reply& reply) {
        ask(rig, {{QStringLiteral("op"), QStringLiteral("setPTT")}, {QStringLiteral("ptt"), ptt}}, reply);
    });
}

MyFuture RigService::setVFO(QString& serialName, QString& vfo)
{
    if (const auto refused = refusal(serialName, !vfo.isNull())) {
        return MyFuture::ready(*refused);
    }
    return withRig(serialName, [this, vfo](ConnectedRig& rig, const Reply& reply) {
        ask(rig, {{QStringLiteral("op"), QStringLiteral("setVFO")}, {QStringLiteral("vfo"), vfo}}, reply);
    });
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

MyFuture RigService::udpQsoStart(quint16 port, QString& add, QString& group)
{
    return MyFuture([this, port, add, group] { return QVariant(udpQsoStart_1(port, add, group, QVariant())); },
                    &relayPool);
}

MyFuture RigService::udpQsoStartFilters(quint16 port, QString& add, QString& group, QStringList filters)
{
    return MyFuture(
        [this, port, add, group, filters] { return QVariant(udpQsoStart_1(port, add, group, QVariant(filters))); },
        &relayPool);
}

QVariantMap RigService::udpQsoStart_1(quint16 port, const QString& add, const QString& group, const QVariant& patterns)
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

void RigService::onReceiver(UdpMulticast* receiver, const std::function<void(UdpMulticast&)>& call)
{
    QMetaObject::invokeMethod(
        receiver, [receiver, &call] { call(*receiver); }, Qt::BlockingQueuedConnection);
}

MyFuture RigService::onRelay(std::function<QVariant()> work, std::function<QVariant(const QVariant&)> then)
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

MyFuture RigService::udpQsoStop()
{
    // The subscriptions end when the stop arrives, so one made after it in the same breath holds; the answer
    // waits for the relay to stop, in turn with the starts asked before it: a client's last word holds.
    udpQsoSubscribers.remove(jcon::JsonRpcServer::currentEndpoint());
    emit sendUnsolicitedNotifications(
        endpointList(udpQsoSubscribers), QStringLiteral("RigInfo"), goneNotice(QStringLiteral("UDP QSO stopped")));
    udpQsoSubscribers.clear();
    UdpMulticast* const receiver = udpReceiver;
    return onRelay(
        [receiver] {
            onReceiver(receiver, [](UdpMulticast& stopping) { stopping.stopReceiving(); });
            return QVariant();
        },
        [](const QVariant&) { return QVariant(successEnvelope(QStringLiteral("Stopped UDP QSO"))); });
}

QVariantMap RigService::udpQsoSubscribe()
{
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    if (udpQsoSubscribers.contains(caller)) {
        return errorEnvelope(QStringLiteral("already subscribed"));
    }
    udpQsoSubscribers.insert(caller);
    LOG("SUBSCRIBED UDP QSO to {} ({})\n", address(caller), peerText(caller));
    return successEnvelope(QStringLiteral("Subscribed to UDP QSO"));
}

QVariantMap RigService::udpQsoUnsubscribe()
{
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    if (!udpQsoSubscribers.remove(caller)) {
        return errorEnvelope(QStringLiteral("Not subscribed to UDP QSO"));
    }
    LOG("UNSUBSCRIBED UDP QSO to {} ({})\n", address(caller), peerText(caller));
    return successEnvelope(QStringLiteral("Unsubscribed from UDP QSO"));
}

MyFuture RigService::udpQsoStatus()
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

void RigService::udpQsoPush(const QVariantMap& qso)
{
    if (!udpQsoSubscribers.isEmpty()) {
        emit sendUnsolicitedNotifications(endpointList(udpQsoSubscribers), QStringLiteral("QsoInfo"), qso);
    }
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
    for (auto& subscribers : rigInfoSubscribers) {
        subscribers.remove(endpoint);
    }
    udpQsoSubscribers.remove(endpoint);
}

void RigService::endpointError(QObject* /*socket*/, QAbstractSocket::SocketError /*error*/)
{
    auto* endpoint = qobject_cast<jcon::JsonRpcEndpoint*>(sender());
    LOG("ENDPOINT ERROR {} ({})\n", address(endpoint), peerText(endpoint));
}
