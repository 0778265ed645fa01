#include "RadioHost.h"

#include "KrRig.h"
#include "app/Log.h"
#include "server/Envelope.h"
#include "share/DeviceUsers.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Long enough for a radio that answers at all, short enough to notice at once when it is back.
const int quietTimeoutMs = 200;

int codeOf(const RigException& failure)
{
    return std::abs(failure.errorno);
}

// Hamlib's words for a reading the model lacks. It says the same of a refusal the radio sent back (a Yaesu's
// "N;"): only when nothing went to the radio is it Hamlib's own knowledge.
bool lacks(const RigException& failure)
{
    return codeOf(failure) == RIG_ENAVAIL || codeOf(failure) == RIG_ENIMPL;
}

// The write calls this thread has made so far: unchanged across a Hamlib call, nothing went to the radio. Hamlib
// 4.6's own threads write elsewhere: only this thread's count tells.
qint64 writesSoFar()
{
    static qint64 unknown = 0;
    char text[1024];
    const int file = ::open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC);
    const ssize_t got = file < 0 ? -1 : ::read(file, text, sizeof text - 1);
    if (file >= 0) {
        ::close(file);
    }
    const char* found = nullptr;
    if (got > 0) {
        text[got] = '\0';
        found = std::strstr(text, "syscw:");
    }
    // Unknown, every call counts as one that talked to the radio: nothing is taken for missing on this ground.
    return found ? std::strtoll(found + 6, nullptr, 10) : --unknown;
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
        // C library, not QFileInfo, whose file names start Qt's locale machinery: megabytes for each radio. A name
        // that resolves to nothing is no device: it matches no other.
        char canonical[PATH_MAX];
        const QByteArray name = request.value(QStringLiteral("port")).toString().toUtf8();
        return ::realpath(name.constData(), canonical) ? QString::fromUtf8(canonical) : QString(QLatin1String(""));
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
    if (op == QLatin1String("release")) {
        return release(request.value(QStringLiteral("why")).toString());
    }
    // A name Hamlib does not know is refused before the radio is asked anything.
    if (op == QLatin1String("setMode")
        && rig_parse_mode(request.value(QStringLiteral("mode")).toString().toUtf8().constData()) == RIG_MODE_NONE) {
        return errorEnvelope(QStringLiteral("Invalid mode"));
    }
    // Keyed from the moment the request goes out, a page's or a desktop program's: a radio may key on a command it
    // never acknowledges. Only a release the radio reads back as off ends it.
    const std::optional<int> wanted = pttWanted(request);
    keyed = keyed || (wanted && *wanted != 0);
    const QVariantMap answer = op == QLatin1String("rigctl")
        ? use([this, &request](KrRig& radio) { return rigctl.run(request, radio); })
        : use([this, &request](KrRig& radio) { return control(request, radio); });
    keyed = keyed && !(wanted == 0 && readsPttOff(answer));
    return answer;
}

std::optional<int> RadioHost::pttWanted(const QVariantMap& request)
{
    const QVariant op = request.value(QStringLiteral("op"));
    if (op == QLatin1String("setPTT")) {
        return request.value(QStringLiteral("ptt")).toInt();
    }
    if (op == QLatin1String("rigctl") && request.value(QStringLiteral("command")) == QLatin1String("set_ptt")) {
        return request.value(QStringLiteral("arguments")).toStringList().value(0).toInt();
    }
    return std::nullopt;
}

bool RadioHost::readsPttOff(const QVariantMap& answer)
{
    return !answer.contains(QStringLiteral("Error")) && answer.contains(QStringLiteral("ptt"))
        && answer.value(QStringLiteral("ptt")).toInt() == 0;
}

void RadioHost::configure(KrRig& radio) const
{
    radio.setConf("rig_pathname", port.toUtf8().constData());
    // Hamlib refuses a serial speed for a radio on any other port: it could never be opened.
    if (radio.caps->port_type == RIG_PORT_SERIAL) {
        radio.setConf("serial_speed", speed.toUtf8().constData());
    }
}

void RadioHost::settle(KrRig& radio)
{
    // Hamlib 4.6 sets these anew in each open, and a thread it starts there sets the cache's lifetime once more
    // about a millisecond after the open returns: they follow it, after a moment.
    ::usleep(60000);
    uncache(radio);
    radio.setConf("retry", "0");
    if (timeout.isEmpty()) {
        char value[64] = {};
        radio.getConf("timeout", value);
        timeout = value;
    }
    if (quiet) {
        radio.setConf("timeout", quietTimeout().constData());
    }
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
        settle(*opened);
        opened->getFreq(RIG_VFO_CURR);
        logMessage("connectRig", __LINE__, "Freq\n");
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
    const qint64 before = writesSoFar();
    try {
        call();
        reading.answered = true;
        reading.strikes = 0;
        return true;
    } catch (const RigException& failure) {
        if (!reading.learnable || reading.answered || !lacks(failure) || writesSoFar() != before) {
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
    markMissing(reading, "it went unanswered three times in a row while the radio answered");
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
    // The radio answered so far: a reading that has never answered may be one its firmware lacks.
    const auto readOrStrike = [this](Reading& reading, const std::function<void()>& call) {
        try {
            return read(reading, call);
        } catch (const RigException&) {
            if (reading.answered || !strike(reading)) {
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
        const double readBack = radio.getFreq(RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Frequency set"), {{QStringLiteral("freq"), readBack}});
    }
    if (op == QLatin1String("setMode")) {
        const rmode_t bits = rig_parse_mode(request.value(QStringLiteral("mode")).toString().toUtf8().constData());
        const int passband = request.value(QStringLiteral("passband")).toInt();
        radio.setMode(bits, passband >= 0 ? passband : RIG_PASSBAND_NORMAL, RIG_VFO_CURR);
        pbwidth_t width = 0;
        const rmode_t readBack = radio.getMode(width, RIG_VFO_CURR);
        return successEnvelope(QStringLiteral("Mode set"),
                               {{QStringLiteral("mode"), QString::fromUtf8(rig_strrmode(readBack))},
                                {QStringLiteral("passband"), int(width)}});
    }
    if (op == QLatin1String("setPTT")) {
        const int wanted = request.value(QStringLiteral("ptt")).toInt();
        radio.setPTT(static_cast<ptt_t>(wanted), RIG_VFO_CURR);
        int readBack = int(radio.getPTT(RIG_VFO_CURR));
        // Hamlib's Kenwood backend answers from its copy of the radio's status line for half a second, the set
        // notwithstanding: a state that still looks unchanged is read again once that copy is stale.
        if ((readBack != 0) != (wanted != 0)) {
            ::usleep(600000);
            readBack = int(radio.getPTT(RIG_VFO_CURR));
        }
        return successEnvelope(QStringLiteral("PTT set"), {{QStringLiteral("ptt"), readBack}});
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
            settle(*rig);
            lost = false;
            LOG("Reopened rig {}\n", port);
        }
        uncache(*rig);
        // Only an answer read from the radio ends a silence: not a command it never acknowledges, nor a request
        // refused before it reached the radio.
        if (quiet) {
            probe(*rig);
            quieten(false);
        }
        QVariantMap result = work(*rig);
        if (!result.contains(QStringLiteral("Error"))) {
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
        // Whatever failed, the next request first learns whether the radio answers at all: a radio that fell silent
        // in the middle of a read, or whose silence Hamlib reports as a garbled answer (Hamlib 4.6's setPTT), is
        // asked with the short time-out from now on.
        if (codeOf(failure) == RIG_EIO) {
            lost = true;
        } else {
            quieten(true);
        }
        return errorEnvelope(lastError);
    }
}

void RadioHost::uncache(KrRig& radio)
{
    char lifetime[64] = {};
    radio.getConf("cache_timeout", lifetime);
    if (qstrcmp(lifetime, "0") != 0) {
        radio.setConf("cache_timeout", "0");
    }
}

void RadioHost::probe(KrRig& radio)
{
    pbwidth_t width = 0;
    if (!freq.missing) {
        radio.getFreq(RIG_VFO_CURR);
    } else if (!mode.missing) {
        radio.getMode(width, RIG_VFO_CURR);
    } else if (!ptt.missing) {
        radio.getPTT(RIG_VFO_CURR);
    }
}

QByteArray RadioHost::quietTimeout() const
{
    return QByteArray::number(qMin(quietTimeoutMs, timeout.toInt()));
}

void RadioHost::quieten(bool on)
{
    if (quiet == on) {
        return;
    }
    quiet = on;
    try {
        rig->setConf("timeout", (on ? quietTimeout() : timeout).constData());
    } catch (const RigException& failure) {
        LOG("{}\n", failure.message);
    }
}

QVariantMap RadioHost::release(const QString& why)
{
    try {
        rig->setPTT(RIG_PTT_OFF, RIG_VFO_CURR);
        keyed = false;
        LOG("Rig {}: PTT released ({})\n", port, why);
        return successEnvelope(QStringLiteral("PTT set"), {{QStringLiteral("ptt"), 0}});
    } catch (const RigException& failure) {
        LOG("Rig {}: cannot release PTT ({}): {}\n", port, why, failureText(failure));
        return errorEnvelope(failureText(failure));
    }
}

void RadioHost::close()
{
    if (!rig) {
        return;
    }
    if (keyed) {
        release(QStringLiteral("closing"));
    }
    try {
        rig->close();
    } catch (const RigException& failure) {
        // The radio leaves all the same: nothing could use it again.
        logMessage("disconnectRig", __LINE__, "{}\n", failure.message);
    }
    rig.reset();
}
