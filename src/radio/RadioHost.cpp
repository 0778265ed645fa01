#include "RadioHost.h"

#include "KrRig.h"
#include "app/Log.h"
#include "server/Envelope.h"
#include "share/DeviceUsers.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

// Long enough for a radio that answers at all, short enough to notice at once when it is back.
const char* const quietTimeoutMs = "300";

int codeOf(const RigException& failure)
{
    return std::abs(failure.errorno);
}

// Hamlib says so before any serial traffic: the model has no such reading.
bool lacks(const RigException& failure)
{
    return codeOf(failure) == RIG_ENAVAIL || codeOf(failure) == RIG_ENIMPL;
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

RadioHost::RadioHost() = default;

RadioHost::~RadioHost()
{
    close();
}

QString RadioHost::failureText(const RigException& failure)
{
    // rigerror() hands back Hamlib's saved debug trace with the reason at its end; rigerror2() only the reason.
    return QString::fromUtf8(rigerror2(-codeOf(failure))).trimmed();
}

QVariant RadioHost::handle(const QVariantMap& request)
{
    const QString op = request.value(QStringLiteral("op")).toString();
    if (op == QLatin1String("resolve")) {
        // The device the port text names, its links resolved: one device is opened under one name only. By the
        // C library, not QFileInfo, whose file names start Qt's locale machinery: megabytes for each radio.
        char canonical[PATH_MAX];
        const QByteArray name = request.value(QStringLiteral("port")).toString().toUtf8();
        return ::realpath(name.constData(), canonical) ? QVariant(QString::fromUtf8(canonical))
                                                       : request.value(QStringLiteral("port"));
    }
    if (op == QLatin1String("open")) {
        return open(request.value(QStringLiteral("port")).toString(),
                    request.value(QStringLiteral("model")).toUInt(),
                    request.value(QStringLiteral("speed")).toString());
    }
    if (!rig) {
        return errorEnvelope(QStringLiteral("Rig not connected"));
    }
    if (op == QLatin1String("status")) {
        return use([this](KrRig& radio) { return status(radio); });
    }
    if (op == QLatin1String("rigctl")) {
        return use([this, &request](KrRig& radio) { return rigctl.run(request, radio); });
    }
    return use([this, &request](KrRig& radio) { return control(request, radio); });
}

void RadioHost::configure(KrRig& radio) const
{
    radio.setConf("rig_pathname", port.toUtf8().constData());
    radio.setConf("serial_speed", speed.toUtf8().constData());
    radio.setConf("cache_timeout", "150");
}

QVariantMap RadioHost::open(const QString& port_, uint model, const QString& speed_)
{
    // These lines are the connection's own: they keep the name of the method that asked for it.
    port = port_;
    speed = speed_;
    // Opened beside another program, the radio would answer each of us what the other asked.
    const QVector<DeviceUsers::User> users = DeviceUsers::of(port);
    if (!users.isEmpty()) {
        logMessage(
            "connectRig", __LINE__, "Rig {} is in use by another program: {}\n", port, DeviceUsers::describe(users));
        return {{QStringLiteral("Error"), QStringLiteral("Cannot connect rig")},
                {QStringLiteral("reason"), QStringLiteral("in use by another program")}};
    }
    std::unique_ptr<KrRig> opened;
    try {
        opened = std::make_unique<KrRig>(model);
        configure(*opened);
        logMessage("connectRig", __LINE__, "Openeing rig {} {}\n", port, speed);
        opened->open();
        opened->getFreq(RIG_VFO_CURR);
        logMessage("connectRig", __LINE__, "Freq\n");
        char value[64] = {};
        opened->getConf("timeout", value);
        timeout = value;
        opened->getConf("retry", value);
        retry = value;
        rig = std::move(opened);
        failing = false;
        learnReadings();
        return {{QStringLiteral("info"), rig->info()}};
    } catch (const RigException& failure) {
        // Tried again while its port is away, the radio's account of it is logged once.
        if (!failing) {
            logMessage("connectRig", __LINE__, "{}\n", failure.message);
        }
        failing = true;
        opened.reset();
        return errorEnvelope(failureText(failure));
    }
}

void RadioHost::learnReadings()
{
    const rig_caps* const caps = rig->caps;
    if (!caps->get_freq) {
        markMissing(freq, "the model cannot report its frequency");
    }
    if (!caps->get_mode) {
        markMissing(mode, "the model cannot report its mode");
    }
    char pttType[64] = {};
    rig->getConf("ptt_type", pttType);
    if (qstrcmp(pttType, "None") == 0) {
        markMissing(ptt, "the model cannot report PTT");
    }
    if (!rig->hasGetLevel(RIG_LEVEL_RAWSTR)) {
        markMissing(strength, "the model has no raw signal strength reading");
    }
    if (!rig->hasGetLevel(RIG_LEVEL_ALC)) {
        markMissing(alc, "the model has no ALC reading");
    }
}

void RadioHost::markMissing(Reading& reading, const char* why)
{
    reading.missing = true;
    LOG("Rig {}: \"{}\" reads 0: {}\n", port, reading.key, why);
}

bool RadioHost::read(Reading& reading, const std::function<void()>& call)
{
    if (reading.missing) {
        return false;
    }
    try {
        call();
        reading.strikes = 0;
        return true;
    } catch (const RigException& failure) {
        if (!lacks(failure)) {
            throw;
        }
        markMissing(reading, "Hamlib has no such reading for this model");
        return false;
    }
}

bool RadioHost::strike(Reading& reading)
{
    if (++reading.strikes < 3) {
        return false;
    }
    markMissing(reading, "it failed three times in a row while the radio answered");
    return true;
}

QVariantMap RadioHost::status(KrRig& radio)
{
    double hz = 0;
    rmode_t bits = RIG_MODE_NONE;
    int state = 0;
    QStringList missing;
    if (!read(freq, [&] { hz = radio.getFreq(RIG_VFO_CURR); })) {
        missing << freq.key;
    }
    if (!read(mode, [&] {
            pbwidth_t width = 0;
            bits = radio.getMode(width, RIG_VFO_CURR);
        })) {
        missing << mode.key;
    }
    // The radio answered so far: a reading that fails now may be one its firmware lacks.
    const auto readOrStrike = [this](Reading& reading, const std::function<void()>& call) {
        try {
            return read(reading, call);
        } catch (const RigException&) {
            if (!strike(reading)) {
                throw;
            }
            return false;
        }
    };
    if (!readOrStrike(ptt, [&] { state = radio.getPTT(RIG_VFO_CURR); })) {
        missing << ptt.key;
    }
    QVariant signal;
    if (state != 0) {
        float level = 0;
        if (!readOrStrike(alc, [&] { level = radio.getLevelF(RIG_LEVEL_ALC, RIG_VFO_CURR); })) {
            missing << alc.key;
        }
        signal = level;
    } else {
        int level = 0;
        if (!readOrStrike(strength, [&] { level = radio.getLevelI(RIG_LEVEL_RAWSTR, RIG_VFO_CURR); })) {
            missing << strength.key;
        }
        signal = level;
    }
    QVariantMap result {
        {QStringLiteral("freq"), hz},
        {QStringLiteral("mode"), bits == RIG_MODE_NONE ? QString() : QString::fromUtf8(rig_strrmode(bits))},
        {QStringLiteral("ptt"), state},
        {QStringLiteral("signal"), signal}};
    if (!missing.isEmpty()) {
        result.insert(QStringLiteral("missing"), missing);
    }
    return result;
}

QVariantMap RadioHost::control(const QVariantMap& request, KrRig& radio)
{
    const QString op = request.value(QStringLiteral("op")).toString();
    if (op == QLatin1String("setFreq")) {
        radio.setFreq(request.value(QStringLiteral("freq")).toDouble(), RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Frequency set"),
                               {{QStringLiteral("freq"), radio.getFreq(RIG_VFO_CURR)}});
    }
    if (op == QLatin1String("setMode")) {
        const rmode_t bits = rig_parse_mode(request.value(QStringLiteral("mode")).toString().toUtf8().constData());
        if (bits == RIG_MODE_NONE) {
            return errorEnvelope(QStringLiteral("Invalid mode"));
        }
        const int passband = request.value(QStringLiteral("passband")).toInt();
        radio.setMode(bits, passband >= 0 ? passband : RIG_PASSBAND_NORMAL, RIG_VFO_CURR);
        pbwidth_t width = 0;
        const rmode_t readBack = radio.getMode(width, RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Mode set"),
                               {{QStringLiteral("mode"), QString::fromUtf8(rig_strrmode(readBack))},
                                {QStringLiteral("passband"), int(width)}});
    }
    if (op == QLatin1String("setPTT")) {
        radio.setPTT(static_cast<ptt_t>(request.value(QStringLiteral("ptt")).toInt()), RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("PTT set"), {{QStringLiteral("ptt"), int(radio.getPTT(RIG_VFO_CURR))}});
    }
    if (op == QLatin1String("setVFO")) {
        const QString vfo = request.value(QStringLiteral("vfo")).toString();
        radio.setVFO(vfoFromText(vfo));
        return successEnvelope(QStringLiteral("VFO set"), {{QStringLiteral("vfo"), vfo}});
    }
    LOG("Unknown request {}\n", op);
    return errorEnvelope(QStringLiteral("Invalid params"));
}

QVariantMap RadioHost::use(const std::function<QVariantMap(KrRig&)>& work)
{
    try {
        if (lost) {
            // Reopening a port that is not there costs Hamlib seconds: wait until the adapter is back.
            if (::access(port.toUtf8().constData(), F_OK) != 0) {
                return errorEnvelope(lastError);
            }
            try {
                rig->close();
            } catch (const RigException&) {
                // Not open after a reopen that failed: nothing to close.
            }
            configure(*rig);
            rig->open();
            lost = false;
            LOG("Reopened rig {}\n", port);
        }
        QVariantMap result = work(*rig);
        // Only an answer of the radio ends a silence: a request refused before it reached the radio does not.
        if (!result.contains(QStringLiteral("Error"))) {
            quieten(false);
            failing = false;
        }
        return result;
    } catch (const RigException& failure) {
        lastError = failureText(failure);
        if (!failing) {
            // The whole of Hamlib's account, once for a run of failures.
            LOG("Rig {}: {}\n", port, failure.message);
            failing = true;
        }
        if (codeOf(failure) == RIG_ETIMEOUT) {
            quieten(true);
        } else if (codeOf(failure) == RIG_EIO) {
            lost = true;
        }
        return errorEnvelope(lastError);
    }
}

void RadioHost::quieten(bool on)
{
    if (quiet == on) {
        return;
    }
    quiet = on;
    try {
        rig->setConf("timeout", on ? quietTimeoutMs : timeout.constData());
        rig->setConf("retry", on ? "0" : retry.constData());
    } catch (const RigException& failure) {
        LOG("{}\n", failure.message);
    }
}

void RadioHost::close()
{
    if (!rig) {
        return;
    }
    try {
        rig->close();
    } catch (const RigException& failure) {
        // The radio leaves all the same: nothing could use it again.
        logMessage("disconnectRig", __LINE__, "{}\n", failure.message);
    }
    rig.reset();
}
