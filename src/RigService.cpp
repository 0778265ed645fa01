#include "RigService.h"

#include "AppSettings.h"
#include "HandOff.h"
#include "KrRig.h"
#include "Log.h"
#include "RigWorker.h"
#include "UdpMulticast.h"
#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcServer.h"

#include <QFileInfo>
#include <QFutureInterface>
#include <QFutureWatcher>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QSerialPortInfo>
#include <QThread>
#include <QtConcurrent>

#include <hamlib/rigclass.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

namespace {

QVariantMap errorEnvelope(const QString& text)
{
    return {{QStringLiteral("Error"), text}};
}

QVariantMap successEnvelope(const QString& text, QVariantMap entries = {})
{
    entries.insert(QStringLiteral("Success"), text);
    return entries;
}

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

// The status map of rigInfo and of every RigInfo push.
QVariantMap readStatus(KrRig& rig)
{
    const double freq = rig.getFreq(RIG_VFO_CURR);
    pbwidth_t width = 0;
    const rmode_t mode = rig.getMode(width, RIG_VFO_CURR);
    const int ptt = rig.getPTT(RIG_VFO_CURR);
    const QVariant signal = ptt != 0 ? QVariant(rig.getLevelF(RIG_LEVEL_ALC, RIG_VFO_CURR))
                                     : QVariant(rig.getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR));
    return {{QStringLiteral("freq"), freq},
            {QStringLiteral("mode"), QString::fromUtf8(rig_strrmode(mode))},
            {QStringLiteral("ptt"), ptt},
            {QStringLiteral("signal"), signal}};
}

QVector<jcon::JsonRpcEndpoint*> endpointList(const QSet<jcon::JsonRpcEndpoint*>& endpoints)
{
    return QVector<jcon::JsonRpcEndpoint*>(endpoints.cbegin(), endpoints.cend());
}

std::atomic<bool> radioThreadLeftBehind {false};

vfo_t vfoFromText(const QString& text)
{
    if (text == QLatin1String("VFOA")) {
        return RIG_VFO_A;
    }
    if (text == QLatin1String("VFOB")) {
        return RIG_VFO_B;
    }
    if (text == QLatin1String("MAIN")) {
        return RIG_VFO_MAIN;
    }
    if (text == QLatin1String("SUB")) {
        return RIG_VFO_SUB;
    }
    return RIG_VFO_CURR;
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

    radioThread = new QThread();
    radioThread->setObjectName(QStringLiteral("radios"));
    radios = new RigWorker();
    radios->moveToThread(radioThread);
    connect(radioThread, &QThread::finished, radios, &QObject::deleteLater);
    connect(radios, &RigWorker::resultsReady, this, &RigService::radioResults);
    radioThread->start(QThread::InheritPriority);
}

RigService::~RigService()
{
    shutDown();
    if (!radioThreadLeftBehind) {
        delete radioThread;
    }
}

void RigService::shutDown()
{
    // Once from the worker's finish and again from the destructor: a thread left behind still runs.
    if (!radioThread->isRunning() || radioThreadLeftBehind) {
        return;
    }
    // Nothing may report to this thread once it ends: Qt deletes a thread's event loop while other threads
    // may still be posting to it. The radio thread is told first, so its work ends while the relay stops,
    // work nobody started is dropped and the running piece finishes (a second at most).
    QElapsedTimer clock;
    clock.start();
    radioThread->quit();
    onReceiver(udpReceiver, [](UdpMulticast& receiver) { receiver.stopReceiving(); });
    taskPool.clear();
    relayPool.clear();
    taskPool.waitForDone();
    relayPool.waitForDone();
    // A Hamlib call on a radio that does not answer cannot be cut short: wait a moment, then leave the
    // thread to the end of the process rather than hold everyone up, and hear nothing more from it.
    if (radioThread->wait(qMax<qint64>(0, 1000 - clock.elapsed()))) {
        takeOver(radios);
    } else {
        disconnect(radios, nullptr, this, nullptr);
        LOG("Radio thread busy, left to the end of the process\n");
        radioThreadLeftBehind = true;
    }
}

bool RigService::leftRadioThreadBehind()
{
    return radioThreadLeftBehind;
}

void RigService::post(std::function<QVariant(RigWorker&)> work, std::function<void(const QVariant&)> then)
{
    const quint64 ticket = nextTicket++;
    waiting.insert(ticket, std::move(then));
    radios->post(ticket, std::move(work));
}

void RigService::radioResults()
{
    for (const RigWorker::Result& result : radios->takeResults()) {
        const std::function<void(const QVariant&)> then = waiting.take(result.first);
        if (then) {
            then(result.second);
        }
    }
}

std::optional<QVariantMap> RigService::refusal(const QString& port, bool textsGiven) const
{
    if (port.isNull() || !textsGiven) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    if (!rigs.contains(port)) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    return std::nullopt;
}

MyFuture RigService::onRadio(const QString& port, std::function<QVariantMap(KrRig&)> work)
{
    QFutureInterface<QVariant> answer;
    answer.reportStarted();
    post([port, work = std::move(work)](RigWorker& worker) { return QVariant(worker.use(port, work)); },
         [answer](const QVariant& result) mutable {
             answer.reportResult(result);
             answer.reportFinished();
         });
    return MyFuture(answer.future());
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
    // The same device under another name (a link to it, a "../" form) would get a second Hamlib handle on
    // one port, and the two would talk across each other.
    const QString canonical = QFileInfo(serial).canonicalFilePath();
    const QString device = canonical.isEmpty() ? serial : canonical;
    if (rigs.contains(serial) || opening.contains(serial) || deviceTaken(device)) {
        LOG("Serial port already connected\n");
        return MyFuture::ready(successEnvelope(QStringLiteral("Serial port already connected")));
    }

    opening.insert(serial, device);
    QFutureInterface<QVariant> answer;
    answer.reportStarted();
    const QString port = serial;
    const QString speed = serial_speed;
    post([port, model_id, speed](RigWorker& worker) { return QVariant(worker.open(port, model_id, speed)); },
         [this, port, device, answer](const QVariant& result) mutable {
             opening.remove(port);
             const QVariantMap info = result.toMap();
             if (info.isEmpty()) {
                 answer.reportResult(errorEnvelope(QStringLiteral("Cannot connect rig")));
             } else {
                 ConnectedRig& rig = rigs[port];
                 rig.info = info;
                 rig.device = device;
                 rig.id = nextTicket++;
                 rigInfoSubscribers.insert(port, {});
                 answer.reportResult(successEnvelope(QStringLiteral("Rig connected")));
             }
             answer.reportFinished();
         });
    return MyFuture(answer.future());
}

bool RigService::deviceTaken(const QString& device) const
{
    return std::any_of(rigs.cbegin(), rigs.cend(), [&device](const ConnectedRig& rig) { return rig.device == device; })
        || std::find(opening.cbegin(), opening.cend(), device) != opening.cend();
}

QVariantList RigService::listConnectedRigs()
{
    // Described once, when connected: a busy or silent radio holds no one up here.
    QVariantList described;
    for (const ConnectedRig& rig : qAsConst(rigs)) {
        described.append(rig.info);
    }
    return described;
}

MyFuture RigService::disconnectRig(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    rigs.remove(serialName);
    QVector<QPointer<jcon::JsonRpcEndpoint>> others;
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    for (jcon::JsonRpcEndpoint* endpoint : rigInfoSubscribers.take(serialName)) {
        if (endpoint != caller) {
            others.append(endpoint);
        }
    }

    // The close waits for the work asked of the radio before it; so do the notices and the answer.
    QFutureInterface<QVariant> answer;
    answer.reportStarted();
    const QString port = serialName;
    post(
        [port](RigWorker& worker) {
            worker.close(port);
            return QVariant();
        },
        [this, port, others, answer](const QVariant&) mutable {
            QVector<jcon::JsonRpcEndpoint*> told;
            for (const QPointer<jcon::JsonRpcEndpoint>& endpoint : others) {
                if (endpoint) {
                    told.append(endpoint);
                }
            }
            emit sendUnsolicitedNotifications(
                told, QStringLiteral("RigInfo"), goneNotice(port + QStringLiteral(" disconnected")));
            answer.reportResult(successEnvelope(QStringLiteral("Rig disconnected")));
            answer.reportFinished();
        });
    return MyFuture(answer.future());
}

MyFuture RigService::rigInfo(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    return onRadio(serialName, readStatus);
}

QVariantMap RigService::rigInfoSubscribe(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return *refused;
    }
    QSet<jcon::JsonRpcEndpoint*>& subscribers = rigInfoSubscribers[serialName];
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    if (subscribers.contains(caller)) {
        return errorEnvelope(QStringLiteral("already subscribed"));
    }
    subscribers.insert(caller);
    LOG("SUBSCRIBED {} to {} ({})\n", serialName, address(caller), peerText(caller));
    return successEnvelope(QStringLiteral("subscribed"));
}

QVariantMap RigService::rigInfoUnsubscribe(QString& serialName)
{
    if (const auto refused = refusal(serialName)) {
        return *refused;
    }
    QSet<jcon::JsonRpcEndpoint*>& subscribers = rigInfoSubscribers[serialName];
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    if (!subscribers.remove(caller)) {
        return errorEnvelope(QStringLiteral("not subscribed"));
    }
    LOG("UNSUBSCRIBED {} to {} ({})\n", serialName, address(caller), peerText(caller));
    return successEnvelope(QStringLiteral("unsubscribed"));
}

void RigService::rigInfoPush()
{
    // A failing radio is asked after the others: its read may take the radio thread for the whole time-out,
    // and the radios that answer must not wait behind it.
    QStringList failing;
    for (auto subscribers = rigInfoSubscribers.cbegin(); subscribers != rigInfoSubscribers.cend(); ++subscribers) {
        const auto found = rigs.find(subscribers.key());
        if (subscribers->isEmpty() || found == rigs.end()) {
            continue;
        }
        // One read in flight per radio; one that fails is asked again once a second, not at every tick.
        ConnectedRig& rig = found.value();
        if (rig.reading || (rig.failing && rig.lastRead.elapsed() < 1000)) {
            continue;
        }
        if (rig.failing) {
            failing << subscribers.key();
        } else {
            readStatusOf(subscribers.key(), rig);
        }
    }
    for (const QString& port : qAsConst(failing)) {
        readStatusOf(port, rigs[port]);
    }
}

void RigService::readStatusOf(const QString& port, ConnectedRig& rig)
{
    rig.reading = true;
    rig.lastRead.start();
    const quint64 id = rig.id;
    post([port](RigWorker& worker) { return QVariant(worker.use(port, readStatus)); },
         [this, port, id](const QVariant& result) {
             const auto read = rigs.find(port);
             if (read == rigs.end() || read->id != id) {
                 return;
             }
             const QVariantMap status = result.toMap();
             read->reading = false;
             read->failing = status.contains(QStringLiteral("Error"));
             emit sendUnsolicitedNotifications(
                 endpointList(rigInfoSubscribers.value(port)), QStringLiteral("RigInfo"), status);
         });
}

MyFuture RigService::setFreq(QString& serialName, double frequency)
{
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    return onRadio(serialName, [frequency](KrRig& rig) {
        rig.setFreq(frequency, RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Frequency set"), {{QStringLiteral("freq"), rig.getFreq(RIG_VFO_CURR)}});
    });
}

MyFuture RigService::setMode(QString& serialName, QString& mode, int passband)
{
    if (const auto refused = refusal(serialName, !mode.isNull())) {
        return MyFuture::ready(*refused);
    }
    // Hamlib's mode names are read in the radio thread too: every Hamlib call happens there.
    return onRadio(serialName, [name = mode.toUtf8(), passband](KrRig& rig) {
        const rmode_t bits = rig_parse_mode(name.constData());
        if (bits == RIG_MODE_NONE) {
            return errorEnvelope(QStringLiteral("Invalid mode"));
        }
        rig.setMode(bits, passband >= 0 ? passband : RIG_PASSBAND_NORMAL, RIG_VFO_CURR);
        pbwidth_t width = 0;
        const rmode_t readBack = rig.getMode(width, RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Mode set"),
                               {{QStringLiteral("mode"), QString::fromUtf8(rig_strrmode(readBack))},
                                {QStringLiteral("passband"), int(width)}});
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
    if (const auto refused = refusal(serialName)) {
        return MyFuture::ready(*refused);
    }
    return onRadio(serialName, [ptt](KrRig& rig) {
        rig.setPTT(static_cast<ptt_t>(ptt), RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("PTT set"), {{QStringLiteral("ptt"), int(rig.getPTT(RIG_VFO_CURR))}});
    });
}

MyFuture RigService::setVFO(QString& serialName, QString& vfo)
{
    if (const auto refused = refusal(serialName, !vfo.isNull())) {
        return MyFuture::ready(*refused);
    }
    return onRadio(serialName, [vfo](KrRig& rig) {
        rig.setVFO(vfoFromText(vfo));
        return successEnvelope(QStringLiteral("VFO set"), {{QStringLiteral("vfo"), vfo}});
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
