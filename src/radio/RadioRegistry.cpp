#include "RadioRegistry.h"

#include "RadioLink.h"
#include "app/Log.h"
#include "server/Envelope.h"
#include "server/jcon/JsonRpcEndpoint.h"

#include <QPointer>
#include <QSerialPortInfo>

#include <hamlib/rig.h>

#include <algorithm>
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

QVariantMap invalidParams()
{
    return errorEnvelope(QStringLiteral("Invalid params"));
}

} // namespace

RadioRegistry::RadioRegistry(QObject* parent)
    : QObject(parent)
    , pushTimer(this)
{
    buildRigCatalogue();
    connect(&pushTimer, &QTimer::timeout, this, &RadioRegistry::rigInfoPush);
    pushTimer.setInterval(250);
    pushTimer.start();
}

RadioRegistry::~RadioRegistry() = default;

void RadioRegistry::shutDown(int withinMs)
{
    const QList<RadioLink*> links = findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly);
    rigs.clear();
    rigInfoSubscribers.clear();
    RadioLink::endAll(links, withinMs);
}

void RadioRegistry::buildRigCatalogue()
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

bool RadioRegistry::inCatalogue(uint modelId) const
{
    return std::any_of(rigCatalogue.cbegin(), rigCatalogue.cend(), [modelId](const QVariant& entry) {
        return entry.toMap().value(QStringLiteral("ID")).toUInt() == modelId;
    });
}

QVariantList RadioRegistry::listRig()
{
    std::ostringstream id;
    id << std::this_thread::get_id();
    LOG("Thread id: {}\n", id.str());
    return rigCatalogue;
}

QVariantList RadioRegistry::listUSB()
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

MyFuture RadioRegistry::withRig(const QString& port, const RigWork& work)
{
    return MyFuture::answer([this, port, work](const Reply& reply) { runWithRig(port, work, reply); });
}

void RadioRegistry::runWithRig(const QString& port, const RigWork& work, const Reply& reply)
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

MyFuture RadioRegistry::ask(const QString& port, const QVariantMap& request)
{
    return MyFuture::answer([this, port, request](const Reply& reply) { askFor(port, request, reply); });
}

void RadioRegistry::askFor(const QString& port, const QVariantMap& request, const Reply& reply)
{
    runWithRig(
        port,
        [request](ConnectedRig& rig, const Reply& answer) {
            if (!rig.link->ask(request, answer)) {
                answer(errorEnvelope(QStringLiteral("Rig busy: too many requests are waiting for it")));
            }
        },
        reply);
}

MyFuture RadioRegistry::connectRig(const QString& serial,
                                   uint model_id,
                                   const QString& serial_speed,
                                   jcon::JsonRpcEndpoint* caller)
{
    if (serial.isNull() || serial_speed.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    LOG("IP: {}\n", peerText(caller));
    if (!inCatalogue(model_id)) {
        LOG("Rig model not supported\n");
        return MyFuture::ready(errorEnvelope(QStringLiteral("Rig model not supported")));
    }
    return MyFuture::answer([this, serial, model_id, serial_speed](const Reply& reply) {
        connectPort(serial, model_id, serial_speed, reply);
    });
}

void RadioRegistry::connectPort(const QString& port, uint model, const QString& speed, const Reply& reply)
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
    link->open(model, speed, [this, port, reply](const QVariant& result) {
        const QVariantMap opened = result.toMap();
        if (opened.contains(QStringLiteral("heldBy"))) {
            LOG("Serial port already connected\n");
            reply(successEnvelope(QStringLiteral("Serial port already connected")));
            finishOpening(port, false);
            return;
        }
        if (!opened.contains(QStringLiteral("info"))) {
            QVariantMap refused = errorEnvelope(QStringLiteral("Cannot connect rig"));
            if (opened.contains(QStringLiteral("reason"))) {
                refused.insert(QStringLiteral("reason"), opened.value(QStringLiteral("reason")));
            }
            reply(refused);
            finishOpening(port, false);
            return;
        }
        ConnectedRig& connected = rigs[port];
        connected.info = opened.value(QStringLiteral("info")).toMap();
        connected.open = true;
        rigInfoSubscribers.insert(port, {});
        emit rigOpened(port, connected.info);
        reply(successEnvelope(QStringLiteral("Rig connected")));
        finishOpening(port, true);
    });
}

void RadioRegistry::finishOpening(const QString& port, bool opened)
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

QVariantList RadioRegistry::listConnectedRigs() const
{
    // Described once, when connected: a busy or silent radio holds no one up here.
    QVariantList described;
    for (const ConnectedRig& rig : rigs) {
        if (rig.open) {
            described.append(rig.info);
        }
    }
    return described;
}

MyFuture RadioRegistry::disconnectRig(const QString& serialName, jcon::JsonRpcEndpoint* caller)
{
    if (serialName.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    const QPointer<jcon::JsonRpcEndpoint> by = caller;
    const QString port = serialName;
    return withRig(port, [this, port, by](ConnectedRig&, const Reply& reply) { disconnectNow(port, by, reply); });
}

void RadioRegistry::disconnectNow(const QString& port, jcon::JsonRpcEndpoint* caller, const Reply& reply)
{
    ConnectedRig rig = rigs.take(port);
    QVector<jcon::JsonRpcEndpoint*> others;
    for (jcon::JsonRpcEndpoint* endpoint : rigInfoSubscribers.take(port)) {
        if (endpoint != caller) {
            others.append(endpoint);
        }
    }
    // What the radio was asked before and has not done is not done: answered first, in order. Its process closes
    // the radio, or is killed when it is stuck inside Hamlib; it keeps the device until it has gone.
    rig.link->abandon(errorEnvelope(QStringLiteral("Rig not connected")));
    emit rigClosed(port);
    emit sendUnsolicitedNotifications(
        others, QStringLiteral("RigInfo"), goneNotice(port + QStringLiteral(" disconnected")));
    // After the answers to the requests it cut short, which leave on the next turn of the loop.
    QTimer::singleShot(0, this, [reply] { reply(successEnvelope(QStringLiteral("Rig disconnected"))); });
}

MyFuture RadioRegistry::rigInfo(const QString& serialName)
{
    if (serialName.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("status")}});
}

MyFuture RadioRegistry::rigInfoSubscribe(const QString& serialName, jcon::JsonRpcEndpoint* caller)
{
    if (serialName.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    const QPointer<jcon::JsonRpcEndpoint> by = caller;
    const QString port = serialName;
    return withRig(port, [this, port, by](ConnectedRig&, const Reply& reply) {
        QSet<jcon::JsonRpcEndpoint*>& subscribers = rigInfoSubscribers[port];
        if (subscribers.contains(by)) {
            reply(errorEnvelope(QStringLiteral("already subscribed")));
            return;
        }
        // A page that left while the radio was being opened subscribes nothing.
        if (by) {
            subscribers.insert(by);
            LOG("SUBSCRIBED {} to {} ({})\n", port, address(by), peerText(by));
        }
        reply(successEnvelope(QStringLiteral("subscribed")));
    });
}

MyFuture RadioRegistry::rigInfoUnsubscribe(const QString& serialName, jcon::JsonRpcEndpoint* caller)
{
    if (serialName.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    const QPointer<jcon::JsonRpcEndpoint> by = caller;
    const QString port = serialName;
    return withRig(port, [this, port, by](ConnectedRig&, const Reply& reply) {
        if (!by || !rigInfoSubscribers[port].remove(by)) {
            reply(errorEnvelope(QStringLiteral("not subscribed")));
            return;
        }
        LOG("UNSUBSCRIBED {} to {} ({})\n", port, address(by), peerText(by));
        reply(successEnvelope(QStringLiteral("unsubscribed")));
    });
}

void RadioRegistry::rigInfoPush()
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

void RadioRegistry::readStatusOf(const QString& port, ConnectedRig& rig)
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

void RadioRegistry::pushToSubscribers(const QString& port, const QVariantMap& status)
{
    emit sendUnsolicitedNotifications(endpointList(rigInfoSubscribers.value(port)), QStringLiteral("RigInfo"), status);
}

MyFuture RadioRegistry::setFreq(const QString& serialName, double frequency)
{
    if (serialName.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("setFreq")}, {QStringLiteral("freq"), frequency}});
}

MyFuture RadioRegistry::setMode(const QString& serialName, const QString& mode, int passband)
{
    if (serialName.isNull() || mode.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    // Hamlib reads the mode's name in the radio's process: "Invalid mode" comes only for a connected radio.
    return ask(serialName,
               {{QStringLiteral("op"), QStringLiteral("setMode")},
                {QStringLiteral("mode"), mode},
                {QStringLiteral("passband"), passband}});
}

MyFuture RadioRegistry::setPTT(const QString& serialName, int ptt)
{
    if (serialName.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    if (ptt < 0 || ptt > 3) {
        return MyFuture::ready(errorEnvelope(QStringLiteral("Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)")));
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("setPTT")}, {QStringLiteral("ptt"), ptt}});
}

MyFuture RadioRegistry::setVFO(const QString& serialName, const QString& vfo)
{
    if (serialName.isNull() || vfo.isNull()) {
        return MyFuture::ready(invalidParams());
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("setVFO")}, {QStringLiteral("vfo"), vfo}});
}

void RadioRegistry::forget(jcon::JsonRpcEndpoint* endpoint)
{
    for (auto& subscribers : rigInfoSubscribers) {
        subscribers.remove(endpoint);
    }
}
