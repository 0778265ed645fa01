#include "RigWorker.h"

#include "HandOff.h"
#include "KrRig.h"
#include "Log.h"

#include <QFileInfo>

#include <cstdlib>

namespace {

// Long enough for a radio that answers at all, short enough that the others barely notice.
const char* const quietTimeoutMs = "300";

} // namespace

RigWorker::RigWorker(QObject* parent)
    : QObject(parent)
{ }

RigWorker::~RigWorker()
{
    // The last of the radio thread: whoever waited for it takes over what it leaves.
    handOff(this);
}

void RigWorker::post(quint64 ticket, Work work)
{
    requests.put({ticket, std::move(work)});
    QMetaObject::invokeMethod(this, "runRequests", Qt::QueuedConnection);
}

void RigWorker::runRequests()
{
    for (auto& [ticket, work] : requests.takeAll()) {
        QVariant result = work(*this);
        // What the work holds goes here, in this thread.
        work = nullptr;
        results.put({ticket, std::move(result)});
        // Each result leaves as soon as it is there, not behind a slow request of another radio.
        emit resultsReady();
    }
}

void RigWorker::configure(KrRig& rig, const QString& port, const QString& speed)
{
    rig.setConf("rig_pathname", port.toUtf8().constData());
    rig.setConf("serial_speed", speed.toUtf8().constData());
    rig.setConf("cache_timeout", "150");
}

QVariantMap RigWorker::open(const QString& port, uint model, const QString& speed)
{
    // These lines are the connection's own: they keep the name of the method that asked for it.
    Radio radio;
    try {
        radio.rig = std::make_unique<KrRig>(model);
        configure(*radio.rig, port, speed);
        logMessage("connectRig", __LINE__, "Openeing rig {} {}\n", port, speed);
        radio.rig->open();
        radio.rig->getFreq(RIG_VFO_CURR);
        logMessage("connectRig", __LINE__, "Freq\n");
        char value[64] = {};
        radio.rig->getConf("timeout", value);
        radio.timeout = value;
        radio.rig->getConf("retry", value);
        radio.retry = value;
        radio.speed = speed;
        QVariantMap described = radio.rig->info();
        radios[port] = std::move(radio);
        return described;
    } catch (const RigException& failure) {
        logMessage("connectRig", __LINE__, "{}\n", failure.message);
        return {};
    }
}

QVariantMap RigWorker::use(const QString& port, const std::function<QVariantMap(KrRig&)>& work)
{
    Radio& radio = radios.at(port);
    try {
        if (radio.lost) {
            // Reopening a port that is not there costs Hamlib seconds: wait until the adapter is back.
            if (!QFileInfo::exists(port)) {
                return {{QStringLiteral("Error"), radio.lastError}};
            }
            radio.rig->close();
            configure(*radio.rig, port, radio.speed);
            radio.rig->open();
            radio.lost = false;
            LOG("Reopened rig {}\n", port);
        }
        QVariantMap result = work(*radio.rig);
        quieten(radio, false);
        return result;
    } catch (const RigException& failure) {
        radio.lastError = QString::fromUtf8(failure.message);
        const int code = std::abs(failure.errorno);
        if (code == RIG_ETIMEOUT) {
            quieten(radio, true);
        } else if (code == RIG_EIO) {
            radio.lost = true;
        }
        return {{QStringLiteral("Error"), radio.lastError}};
    }
}

void RigWorker::quieten(Radio& radio, bool on)
{
    if (radio.quiet == on) {
        return;
    }
    radio.quiet = on;
    try {
        radio.rig->setConf("timeout", on ? quietTimeoutMs : radio.timeout.constData());
        radio.rig->setConf("retry", on ? "0" : radio.retry.constData());
    } catch (const RigException& failure) {
        LOG("{}\n", failure.message);
    }
}

void RigWorker::close(const QString& port)
{
    const auto found = radios.find(port);
    if (found == radios.end()) {
        return;
    }
    try {
        found->second.rig->close();
    } catch (const RigException& failure) {
        // The radio leaves all the same: nothing could use it again.
        logMessage("disconnectRig", __LINE__, "{}\n", failure.message);
    }
    radios.erase(found);
}
