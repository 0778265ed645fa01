#include "RigService.h"

#include "AppSettings.h"
#include "KrRig.h"
#include "Log.h"
#include "UdpMulticast.h"
#include "jcon/JsonRpcEndpoint.h"
#include "jcon/JsonRpcServer.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QSerialPortInfo>
#include <QThread>

#include <hamlib/rigclass.h>

#include <algorithm>
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

RigService::~RigService() = default;

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

KrRig* RigService::connectedRig(const QString& port) const
{
    const auto found = rigs.constFind(port);
    return found == rigs.cend() ? nullptr : found.value().get();
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

QVariantMap RigService::connectRig(QString& serial, uint model_id, QString& serial_speed)
{
    if (serial.isNull() || serial_speed.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    LOG("IP: {}\n", peerText(jcon::JsonRpcServer::currentEndpoint()));
    if (!inCatalogue(model_id)) {
        LOG("Rig model not supported\n");
        return errorEnvelope(QStringLiteral("Rig model not supported"));
    }
    if (rigs.contains(serial)) {
        LOG("Serial port already connected\n");
        return successEnvelope(QStringLiteral("Serial port already connected"));
    }

    std::unique_ptr<KrRig> rig;
    try {
        rig = std::make_unique<KrRig>(model_id);
        rig->setConf("rig_pathname", serial.toUtf8().constData());
        rig->setConf("serial_speed", serial_speed.toUtf8().constData());
        rig->setConf("cache_timeout", "150");
        LOG("Openeing rig {} {}\n", serial, serial_speed);
        rig->open();
        rig->getFreq(RIG_VFO_CURR);
        LOG("Freq\n");
    } catch (const RigException& failure) {
        LOG("{}\n", failure.message);
        rig.reset();
        return errorEnvelope(QStringLiteral("Cannot connect rig"));
    }

    rigs.insert(serial, std::shared_ptr<KrRig>(rig.release()));
    rigInfoSubscribers.insert(serial, {});
    return successEnvelope(QStringLiteral("Rig connected"));
}

QVariantList RigService::listConnectedRigs()
{
    QVariantList described;
    for (auto it = rigs.cbegin(); it != rigs.cend(); ++it) {
        const std::shared_ptr<KrRig> rig = it.value();
        try {
            described.append(rig->info());
        } catch (const RigException& failure) {
            // The port text is what Hamlib was given as its path; the list stays complete.
            LOG("{}\n", failure.message);
            described.append(QVariantMap {{QStringLiteral("Location"), it.key()},
                                          {QStringLiteral("ID"), uint(rig->caps->rig_model)},
                                          {QStringLiteral("Model"), QString::fromUtf8(rig->caps->model_name)},
                                          {QStringLiteral("Brand"), QString::fromUtf8(rig->caps->mfg_name)}});
        }
    }
    return described;
}

QVariantMap RigService::disconnectRig(QString& serialName)
{
    if (serialName.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    KrRig* rig = connectedRig(serialName);
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    try {
        rig->close();
    } catch (const RigException& failure) {
        // The rig leaves the table all the same: nothing could use it again.
        LOG("{}\n", failure.message);
    }
    rigs.remove(serialName);

    const QSet<jcon::JsonRpcEndpoint*> subscribers = rigInfoSubscribers.take(serialName);
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    const QVariantMap notice = goneNotice(serialName + QStringLiteral(" disconnected"));
    for (jcon::JsonRpcEndpoint* endpoint : subscribers) {
        if (endpoint != caller) {
            emit sendUnsolicitedNotification(endpoint, QStringLiteral("RigInfo"), notice);
        }
    }
    return successEnvelope(QStringLiteral("Rig disconnected"));
}

QVariantMap RigService::rigInfo(QString& serialName)
{
    if (serialName.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    KrRig* rig = connectedRig(serialName);
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    try {
        const double freq = rig->getFreq(RIG_VFO_CURR);
        pbwidth_t width = 0;
        const rmode_t mode = rig->getMode(width, RIG_VFO_CURR);
        const int ptt = rig->getPTT(RIG_VFO_CURR);
        const QVariant signal = ptt != 0 ? QVariant(rig->getLevelF(RIG_LEVEL_ALC, RIG_VFO_CURR))
                                         : QVariant(rig->getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR));
        return {{QStringLiteral("freq"), freq},
                {QStringLiteral("mode"), QString::fromUtf8(rig_strrmode(mode))},
                {QStringLiteral("ptt"), ptt},
                {QStringLiteral("signal"), signal}};
    } catch (const RigException& failure) {
        return errorEnvelope(QString::fromUtf8(failure.message));
    }
}

QVariantMap RigService::rigInfoSubscribe(QString& serialName)
{
    if (serialName.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    if (!rigs.contains(serialName)) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
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
    if (serialName.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    if (!rigs.contains(serialName)) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
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
    const QStringList ports = rigInfoSubscribers.keys();
    for (QString port : ports) {
        const QSet<jcon::JsonRpcEndpoint*> subscribers = rigInfoSubscribers.value(port);
        if (subscribers.isEmpty()) {
            continue;
        }
        const QVariantMap status = rigInfo(port);
        for (jcon::JsonRpcEndpoint* endpoint : subscribers) {
            emit sendUnsolicitedNotification(endpoint, QStringLiteral("RigInfo"), status);
        }
    }
}

QVariantMap RigService::setFreq(QString& serialName, double frequency)
{
    if (serialName.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    KrRig* rig = connectedRig(serialName);
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    try {
        rig->setFreq(frequency, RIG_VFO_CURR);
        const double readBack = rig->getFreq(RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Frequency set"), {{QStringLiteral("freq"), readBack}});
    } catch (const RigException& failure) {
        return errorEnvelope(QString::fromUtf8(failure.message));
    }
}

QVariantMap RigService::setMode(QString& serialName, QString& mode, int passband)
{
    if (serialName.isNull() || mode.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    KrRig* rig = connectedRig(serialName);
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    const rmode_t bits = rig_parse_mode(mode.toUtf8().constData());
    if (bits == RIG_MODE_NONE) {
        return errorEnvelope(QStringLiteral("Invalid mode"));
    }
    try {
        rig->setMode(bits, passband >= 0 ? passband : RIG_PASSBAND_NORMAL, RIG_VFO_CURR);
        pbwidth_t width = 0;
        const rmode_t readBack = rig->getMode(width, RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Mode set"),
                               {{QStringLiteral("mode"), QString::fromUtf8(rig_strrmode(readBack))},
                                {QStringLiteral("passband"), int(width)}});
    } catch (const RigException& failure) {
        return errorEnvelope(QString::fromUtf8(failure.message));
    }
}

QVariantMap RigService::setPTT(QString& serialName, int ptt)
{
    if (serialName.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    if (ptt < 0 || ptt > 3) {
        return errorEnvelope(QStringLiteral("Invalid PTT value (0=OFF, 1=ON, 2=MIC, 3=ACC)"));
    }
    KrRig* rig = connectedRig(serialName);
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    try {
        rig->setPTT(static_cast<ptt_t>(ptt), RIG_VFO_CURR);
        const int readBack = rig->getPTT(RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("PTT set"), {{QStringLiteral("ptt"), readBack}});
    } catch (const RigException& failure) {
        return errorEnvelope(QString::fromUtf8(failure.message));
    }
}

QVariantMap RigService::setVFO(QString& serialName, QString& vfo)
{
    if (serialName.isNull() || vfo.isNull()) {
        return errorEnvelope(QStringLiteral("Invalid params"));
    }
    KrRig* rig = connectedRig(serialName);
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    try {
        rig->setVFO(vfoFromText(vfo));
        return successEnvelope(QStringLiteral("VFO set"), {{QStringLiteral("vfo"), vfo}});
    } catch (const RigException& failure) {
        return errorEnvelope(QString::fromUtf8(failure.message));
    }
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
                    &taskPool);
}

MyFuture RigService::udpQsoStartFilters(quint16 port, QString& add, QString& group, QStringList filters)
{
    return MyFuture(
        [this, port, add, group, filters] { return QVariant(udpQsoStart_1(port, add, group, QVariant(filters))); },
        &taskPool);
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
    if (!QMetaObject::invokeMethod(udpReceiver,
                                   "startReceiving",
                                   Qt::BlockingQueuedConnection,
                                   Q_RETURN_ARG(bool, started),
                                   Q_ARG(quint16, port),
                                   Q_ARG(QHostAddress, local),
                                   Q_ARG(QHostAddress, groupAddress),
                                   Q_ARG(QVariant, patterns))) {
        started = false;
    }
    return started ? successEnvelope(QStringLiteral("Started UDP QSO"))
                   : errorEnvelope(QStringLiteral("Cannot start UDP QSO"));
}

QVariantMap RigService::udpQsoStop()
{
    QMetaObject::invokeMethod(udpReceiver, "stopReceiving", Qt::BlockingQueuedConnection);
    jcon::JsonRpcEndpoint* caller = jcon::JsonRpcServer::currentEndpoint();
    const QVariantMap notice = goneNotice(QStringLiteral("UDP QSO stopped"));
    for (jcon::JsonRpcEndpoint* endpoint : qAsConst(udpQsoSubscribers)) {
        if (endpoint != caller) {
            emit sendUnsolicitedNotification(endpoint, QStringLiteral("RigInfo"), notice);
        }
    }
    udpQsoSubscribers.clear();
    return successEnvelope(QStringLiteral("Stopped UDP QSO"));
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

QVariantMap RigService::udpQsoStatus()
{
    usInfo info;
    if (!QMetaObject::invokeMethod(udpReceiver, "status", Qt::BlockingQueuedConnection, Q_RETURN_ARG(usInfo, info))) {
        info.receiving = false;
    }
    if (!info.receiving) {
        return {{QStringLiteral("Receiving"), false}};
    }
    return {{QStringLiteral("Receiving"), true},
            {QStringLiteral("Port"), int(info.port)},
            {QStringLiteral("Address"), info.address.toString()},
            {QStringLiteral("Group"), info.group.isNull() ? QString(QLatin1String("")) : info.group.toString()}};
}

void RigService::udpQsoPush(QVariantMap qso)
{
    for (jcon::JsonRpcEndpoint* endpoint : qAsConst(udpQsoSubscribers)) {
        emit sendUnsolicitedNotification(endpoint, QStringLiteral("QsoInfo"), qso);
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
