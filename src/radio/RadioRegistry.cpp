#include "RadioRegistry.h"

#include "RadioHost.h"
#include "RadioLink.h"
#include "app/Log.h"
#include "server/Envelope.h"
#include "server/jcon/JsonRpcEndpoint.h"

#include <QPointer>
#include <QSerialPortInfo>

#include <hamlib/rig.h>

#include <algorithm>
#include <optional>
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

// Hamlib takes the port text of any model for a network address unless it is a path: only models that speak over
// the network get one.
bool speaksOverNetwork(uint model)
{
    const rig_caps* const caps = rig_get_caps(rig_model_t(model));
    return caps && (caps->port_type == RIG_PORT_NETWORK || caps->port_type == RIG_PORT_UDP_NETWORK);
}

// A text parameter missing, or too long to be a port, a mode or a VFO name.
bool unusable(const QString& text)
{
    return text.isNull() || text.size() > RadioRegistry::maxTextBytes
        || (text.size() * 3 > RadioRegistry::maxTextBytes && text.toUtf8().size() > RadioRegistry::maxTextBytes);
}

} // namespace

RadioRegistry::RadioRegistry(QObject* parent)
    : QObject(parent)
    , pushTimer(this)
    , tickDeadline(this)
{
    buildRigCatalogue();
    connect(&pushTimer, &QTimer::timeout, this, &RadioRegistry::rigInfoPush);
    pushTimer.setInterval(250);
    pushTimer.start();
    tickDeadline.setSingleShot(true);
    tickDeadline.setInterval(240);
    connect(&tickDeadline, &QTimer::timeout, this, &RadioRegistry::flushTick);
}

RadioRegistry::~RadioRegistry() = default;

void RadioRegistry::shutDown(int withinMs)
{
    const QList<RadioLink*> links = findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly);
    rigs.clear();
    rigInfoSubscribers.clear();
    tickDone.clear();
    tickReading.clear();
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

void RadioRegistry::runWithRig(const QString& port, const RigWork& work, const Reply& reply, bool connect)
{
    const auto found = rigs.find(port);
    if (found == rigs.end()) {
        reply(errorEnvelope(QStringLiteral("Rig not connected")));
    } else if (found->open) {
        work(*found, reply);
    } else if (found->afterOpen.size() >= RadioLink::maxWaiting) {
        // What waits for an open is bounded as what waits for an open radio.
        refuseBusy(port, *found, reply);
    } else {
        found->afterOpen.append(
            {[this, port, work, reply, connect] { runWithRig(port, work, reply, connect); }, reply, connect});
    }
}

void RadioRegistry::refuseBusy(const QString& port, ConnectedRig& rig, const Reply& reply)
{
    if (!rig.refusing) {
        LOG("Rig {} busy: {} requests wait for it, refusing more\n", port, RadioLink::maxWaiting);
        rig.refusing = true;
    }
    reply(errorEnvelope(QStringLiteral("Rig busy: too many requests are waiting for it")));
}

void RadioRegistry::request(const QString& port, const QVariantMap& request, QObject* caller, const Reply& reply)
{
    const QPointer<QObject> by = caller;
    runWithRig(
        port,
        [this, port, request, by](ConnectedRig& rig, const Reply& answer) {
            RadioLink* const link = rig.link;
            const std::optional<int> ptt = RadioHost::pttWanted(request);
            const bool releases = ptt == 0;
            const Reply told = [this, port, link, releases, answer](const QVariant& result) {
                const auto found = rigs.find(port);
                // Only a release the radio read back as off counts.
                if (releases && found != rigs.end() && found->link == link && RadioHost::readsPttOff(result.toMap())) {
                    found->keyer = nullptr;
                }
                answer(result);
            };
            if (!link->ask(request, told)) {
                refuseBusy(port, rig, answer);
                return;
            }
            rig.refusing = false;
            // Whether or not the radio says so, it may be transmitting from now on: its keyer's going releases it.
            if (ptt && !releases) {
                rig.keyer = by;
            }
        },
        reply);
}

MyFuture RadioRegistry::ask(const QString& port, const QVariantMap& request, QObject* caller)
{
    const QPointer<QObject> by = caller;
    return MyFuture::answer(
        [this, port, request, by](const Reply& reply) { RadioRegistry::request(port, request, by, reply); });
}

MyFuture RadioRegistry::connectRig(const QString& serial,
                                   uint model_id,
                                   const QString& serial_speed,
                                   jcon::JsonRpcEndpoint* caller)
{
    if (unusable(serial) || unusable(serial_speed)) {
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
        runWithRig(
            port,
            [this, port, model, speed](ConnectedRig&, const Reply& again) { connectPort(port, model, speed, again); },
            reply,
            true);
        return;
    }
    if (!speaksOverNetwork(model) && !port.startsWith(QLatin1Char('/'))) {
        LOG("Rig {}: not a device path: the radio's port is a path such as /dev/ttyUSB0; Hamlib would take this "
            "for a network address\n",
            port);
        reply(errorEnvelope(QStringLiteral("Cannot connect rig")));
        return;
    }
    if (findChildren<RadioLink*>(QString(), Qt::FindDirectChildrenOnly).size() >= maxRadios) {
        if (!atRadioLimit) {
            LOG("Rig {}: not connected: {} radio processes run already, the most Orvessa starts at once\n",
                port,
                maxRadios);
            atRadioLimit = true;
        }
        QVariantMap refused = errorEnvelope(QStringLiteral("Cannot connect rig"));
        refused.insert(QStringLiteral("reason"),
                       QStringLiteral("Orvessa runs at most %1 radios at once, counting those being connected or "
                                      "disconnected")
                           .arg(maxRadios));
        reply(refused);
        return;
    }
    atRadioLimit = false;
    ConnectedRig& rig = rigs[port];
    rig.link = new RadioLink(port, this);
    rig.connecting = reply;
    RadioLink* const link = rig.link;
    connect(link, &RadioLink::lostWhileIdle, this, [this, port, link] {
        const auto lost = rigs.find(port);
        if (lost != rigs.end() && lost->link == link) {
            lost->failing = true;
            lost->lastRead.start();
            pushToSubscribers(port, errorEnvelope(QStringLiteral("IO error")));
        }
    });
    link->open(model, speed, [this, port, link](const QVariant& result) { openAnswered(port, link, result.toMap()); });
}

void RadioRegistry::openAnswered(const QString& port, RadioLink* link, const QVariantMap& opened)
{
    const auto found = rigs.find(port);
    // Given up meanwhile: its connectRig has its answer already.
    if (found == rigs.end() || found->link != link || !found->connecting) {
        return;
    }
    const Reply reply = std::move(found->connecting);
    found->connecting = nullptr;
    if (opened.contains(QStringLiteral("heldBy"))) {
        const QString holder = opened.value(QStringLiteral("heldBy")).toString();
        LOG("Serial port already connected as {}\n", holder);
        reply(errorEnvelope(QStringLiteral("Serial port already connected as ") + holder));
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
    found->info = opened.value(QStringLiteral("info")).toMap();
    found->open = true;
    rigInfoSubscribers.insert(port, {});
    emit rigOpened(port, found->info);
    reply(successEnvelope(QStringLiteral("Rig connected")));
    finishOpening(port, true);
}

void RadioRegistry::finishOpening(const QString& port, bool opened)
{
    const auto found = rigs.find(port);
    const QVector<AfterOpen> waiting = std::exchange(found->afterOpen, {});
    found->refusing = false;
    if (!opened) {
        RadioLink* const link = found->link;
        rigs.erase(found);
        link->close(errorEnvelope(QStringLiteral("Rig not connected")), {});
    }
    for (const AfterOpen& next : waiting) {
        next.run();
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
    if (unusable(serialName)) {
        return MyFuture::ready(invalidParams());
    }
    const QPointer<jcon::JsonRpcEndpoint> by = caller;
    const QString port = serialName;
    return MyFuture::answer([this, port, by](const Reply& reply) {
        const auto found = rigs.find(port);
        if (found == rigs.end()) {
            reply(errorEnvelope(QStringLiteral("Rig not connected")));
        } else if (!found->open) {
            abandonOpen(port, reply);
        } else {
            disconnectNow(port, by, reply);
        }
    });
}

void RadioRegistry::abandonOpen(const QString& port, const Reply& reply)
{
    ConnectedRig rig = rigs.take(port);
    LOG("Rig {}: disconnected while being opened: the open is given up\n", port);
    if (rig.connecting) {
        rig.connecting(errorEnvelope(QStringLiteral("Cannot connect rig")));
    }
    for (const AfterOpen& waiting : rig.afterOpen) {
        waiting.reply(errorEnvelope(QString::fromLatin1(waiting.connect ? "Cannot connect rig" : "Rig not connected")));
    }
    rig.link->abandon();
    QTimer::singleShot(0, this, [reply] { reply(successEnvelope(QStringLiteral("Rig disconnected"))); });
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
    if (tickReading.remove(port) && tickReading.isEmpty()) {
        flushTick();
    }
    emit sendUnsolicitedNotifications(
        others, QStringLiteral("RigInfo"), goneNotice(port + QStringLiteral(" disconnected")));
    // What had not reached the radio is not done: answered first, in order. The request the radio is carrying out
    // finishes and gets its own answer; then the process releases PTT if it keyed it, closes the radio and ends.
    rig.link->close(errorEnvelope(QStringLiteral("Rig not connected")), [this, reply] {
        QTimer::singleShot(0, this, [reply] { reply(successEnvelope(QStringLiteral("Rig disconnected"))); });
    });
    emit rigClosed(port);
}

MyFuture RadioRegistry::rigInfo(const QString& serialName)
{
    if (unusable(serialName)) {
        return MyFuture::ready(invalidParams());
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("status")}});
}

MyFuture RadioRegistry::rigInfoSubscribe(const QString& serialName, jcon::JsonRpcEndpoint* caller)
{
    if (unusable(serialName)) {
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
    if (unusable(serialName)) {
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
    // A read of the last tick still under way pushes on its own when done.
    flushTick();
    for (auto subscribers = rigInfoSubscribers.cbegin(); subscribers != rigInfoSubscribers.cend(); ++subscribers) {
        const auto found = rigs.find(subscribers.key());
        if (subscribers->isEmpty() || found == rigs.end() || !found->open) {
            continue;
        }
        ConnectedRig& rig = found.value();
        // Its process has not answered for seconds: the subscribers hear of it at the pace of a failing radio.
        if (rig.link->isSilent()) {
            if (!rig.lastSilencePush.isValid() || rig.lastSilencePush.elapsed() >= 1000) {
                rig.lastSilencePush.start();
                tickDone.insert(subscribers.key(), errorEnvelope(QStringLiteral("Communication timed out")));
            }
            continue;
        }
        // One read in flight per radio; one that fails is asked again once a second, not at every tick.
        if (!rig.reading && !(rig.failing && rig.lastRead.elapsed() < 1000)) {
            readStatusOf(subscribers.key(), rig);
        }
    }
    if (tickReading.isEmpty()) {
        flushTick();
    } else {
        tickDeadline.start();
    }
}

void RadioRegistry::readStatusOf(const QString& port, ConnectedRig& rig)
{
    rig.reading = true;
    rig.lastRead.start();
    tickReading.insert(port);
    RadioLink* const link = rig.link;
    link->read([this, port, link](const QVariant& result) {
        const auto read = rigs.find(port);
        if (read == rigs.end() || read->link != link) {
            return;
        }
        const QVariantMap status = result.toMap();
        read->reading = false;
        read->failing = status.contains(QStringLiteral("Error"));
        if (!tickReading.remove(port)) {
            pushToSubscribers(port, status);
            return;
        }
        tickDone.insert(port, status);
        if (tickReading.isEmpty()) {
            flushTick();
        }
    });
}

void RadioRegistry::flushTick()
{
    tickDeadline.stop();
    tickReading.clear();
    const QMap<QString, QVariantMap> done = std::exchange(tickDone, {});
    for (auto status = done.cbegin(); status != done.cend(); ++status) {
        pushToSubscribers(status.key(), status.value());
    }
}

void RadioRegistry::pushToSubscribers(const QString& port, QVariantMap status)
{
    // Pages following several radios tell the pushes apart by it.
    status.insert(QStringLiteral("port"), port);
    emit sendUnsolicitedNotifications(endpointList(rigInfoSubscribers.value(port)), QStringLiteral("RigInfo"), status);
}

MyFuture RadioRegistry::setFreq(const QString& serialName, double frequency)
{
    if (unusable(serialName)) {
        return MyFuture::ready(invalidParams());
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("setFreq")}, {QStringLiteral("freq"), frequency}});
}

MyFuture RadioRegistry::setMode(const QString& serialName, const QString& mode, int passband)
{
    if (unusable(serialName) || unusable(mode)) {
        return MyFuture::ready(invalidParams());
    }
    // Hamlib reads the mode's name in the radio's process: "Invalid mode" comes only for a connected radio.
    return ask(serialName,
               {{QStringLiteral("op"), QStringLiteral("setMode")},
                {QStringLiteral("mode"), mode},
                {QStringLiteral("passband"), passband}});
}

MyFuture RadioRegistry::setPTT(const QString& serialName, int ptt, QObject* caller)
{
    if (unusable(serialName)) {
        return MyFuture::ready(invalidParams());
    }
    if (ptt < 0 || ptt > 3) {
        return MyFuture::ready(errorEnvelope(QStringLiteral("Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)")));
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("setPTT")}, {QStringLiteral("ptt"), ptt}}, caller);
}

MyFuture RadioRegistry::setVFO(const QString& serialName, const QString& vfo)
{
    if (unusable(serialName) || unusable(vfo)) {
        return MyFuture::ready(invalidParams());
    }
    return ask(serialName, {{QStringLiteral("op"), QStringLiteral("setVFO")}, {QStringLiteral("vfo"), vfo}});
}

void RadioRegistry::forget(QObject* connection)
{
    if (auto* const endpoint = qobject_cast<jcon::JsonRpcEndpoint*>(connection)) {
        for (auto& subscribers : rigInfoSubscribers) {
            subscribers.remove(endpoint);
        }
    }
    // Nobody else knows the transmitter is on: it goes off with the one who keyed it.
    for (ConnectedRig& rig : rigs) {
        if (rig.open && connection && rig.keyer == connection) {
            rig.keyer = nullptr;
            rig.link->insist({{QStringLiteral("op"), QStringLiteral("release")},
                              {QStringLiteral("why"), QStringLiteral("the connection that keyed it has gone")}},
                             [](const QVariant&) {});
        }
    }
}
