#include "RadioShare.h"

#include "RigctlPort.h"
#include "app/AppSettings.h"
#include "app/Log.h"
#include "radio/RadioRegistry.h"

namespace {

QString described(const QString& port, const QVariantMap& info)
{
    return QStringLiteral("%1 (%2 %3)")
        .arg(port, info.value(QStringLiteral("Brand")).toString(), info.value(QStringLiteral("Model")).toString());
}

} // namespace

RadioShare::RadioShare(RadioRegistry* radios_, QObject* parent)
    : QObject(parent)
    , radios(radios_)
    , firstPort(AppSettings::defaultSharePort)
{
    connect(radios, &RadioRegistry::rigOpened, this, &RadioShare::opened);
    connect(radios, &RadioRegistry::rigClosed, this, &RadioShare::closed);
}

RadioShare::~RadioShare() = default;

int RadioShare::firstPortFrom(const QVariant& stored)
{
    return AppSettings::portOr(stored.toInt(), AppSettings::defaultSharePort);
}

void RadioShare::configure(bool on_, int firstPort_)
{
    // Off it stays off, whatever its port: nothing to close, nothing to tell.
    if (on_ == on && (firstPort_ == firstPort || !on)) {
        firstPort = firstPort_;
        return;
    }
    shutDown();
    on = on_;
    firstPort = firstPort_;
    LOG(on ? "Sharing the radios with the programs of this computer, from port {}\n"
           : "Sharing the radios with the programs of this computer is off (port {})\n",
        firstPort);
    if (on) {
        for (const QString& port : connected.keys()) {
            share(port);
        }
    }
    tell();
}

void RadioShare::opened(const QString& port, const QVariantMap& info)
{
    connected.insert(port, info);
    if (on) {
        share(port);
        tell();
    }
}

void RadioShare::closed(const QString& port)
{
    connected.remove(port);
    if (listening.contains(port)) {
        unshare(port);
        tell();
    }
}

void RadioShare::share(const QString& port)
{
    auto* listener = new RigctlPort(port, radios, this);
    int candidate = firstPort;
    for (; candidate <= AppSettings::highestServerPort; ++candidate) {
        const bool ours = std::any_of(listening.cbegin(), listening.cend(), [candidate](const RigctlPort* other) {
            return other->port() == candidate;
        });
        if (!ours && listener->listen(quint16(candidate))) {
            break;
        }
    }
    if (candidate > AppSettings::highestServerPort) {
        LOG("Rig {} cannot be shared: no free port from {} up\n", port, firstPort);
        delete listener;
        return;
    }
    listening.insert(port, listener);
    LOG("Rig {} shared with the programs of this computer on 127.0.0.1:{}\n",
        described(port, connected.value(port)),
        candidate);
}

void RadioShare::unshare(const QString& port)
{
    RigctlPort* const listener = listening.take(port);
    LOG("Rig {} no longer shared on port {}\n", port, listener->port());
    listener->close();
    listener->deleteLater();
}

QVariantList RadioShare::describe(QVariantList rigs) const
{
    for (QVariant& rig : rigs) {
        QVariantMap entry = rig.toMap();
        const RigctlPort* listener = listening.value(entry.value(QStringLiteral("Location")).toString());
        if (listener) {
            entry.insert(QStringLiteral("SharePort"), listener->port());
            rig = entry;
        }
    }
    return rigs;
}

void RadioShare::tell()
{
    QStringList radiosShared;
    for (auto shared = listening.cbegin(); shared != listening.cend(); ++shared) {
        radiosShared << QStringLiteral("%1: 127.0.0.1:%2")
                            .arg(described(shared.key(), connected.value(shared.key())))
                            .arg(shared.value()->port());
    }
    emit sharedChanged(radiosShared);
}

void RadioShare::shutDown()
{
    for (const QString& port : listening.keys()) {
        unshare(port);
    }
}
