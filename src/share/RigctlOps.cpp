#include "RigctlOps.h"

#include "radio/KrRig.h"
#include "server/Envelope.h"

#include <cmath>
#include <unistd.h>

namespace {

QVariantMap refused(const char* why, int code = RIG_EINVAL)
{
    QVariantMap answer = errorEnvelope(QString::fromLatin1(why));
    answer.insert(QStringLiteral("rprt"), -code);
    return answer;
}

QVariantMap done(const QStringList& values = {})
{
    return {{QStringLiteral("values"), values}};
}

QString hertz(freq_t frequency)
{
    return QString::number(qint64(std::llround(frequency)));
}

QString levelText(setting_t level, const value_t& value)
{
    return RIG_LEVEL_IS_FLOAT(level) ? QString::number(double(value.f), 'f', 6) : QString::number(value.i);
}

value_t readLevel(KrRig& rig, setting_t level, vfo_t vfo)
{
    value_t value {};
    if (RIG_LEVEL_IS_FLOAT(level)) {
        rig.getLevel(level, value.f, vfo);
    } else {
        rig.getLevel(level, value.i, vfo);
    }
    return value;
}

} // namespace

QVariantMap RigctlOps::run(const QVariantMap& request, KrRig& rig)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    const QStringList arguments = request.value(QStringLiteral("arguments")).toStringList();
    const QByteArray first = arguments.value(0).toUtf8();
    const QByteArray second = arguments.value(1).toUtf8();
    bool number = true;
    bool secondNumber = true;
    const vfo_t vfo = request.contains(QStringLiteral("vfo"))
        ? rig_parse_vfo(request.value(QStringLiteral("vfo")).toString().toUtf8().constData())
        : RIG_VFO_CURR;
    if (vfo == RIG_VFO_NONE) {
        return refused("Invalid VFO");
    }
    if (command == QLatin1String("get_freq")) {
        return done({hertz(rig.getFreq(vfo))});
    }
    if (command == QLatin1String("get_mode") || command == QLatin1String("get_split_mode")) {
        pbwidth_t width = 0;
        const rmode_t mode
            = command == QLatin1String("get_mode") ? rig.getMode(width, vfo) : rig.getSplitMode(width, vfo);
        return done({QString::fromLatin1(rig_strrmode(mode)), QString::number(width)});
    }
    if (command == QLatin1String("get_vfo")) {
        return done({QString::fromLatin1(rig_strvfo(rig.getVFO()))});
    }
    if (command == QLatin1String("get_ptt")) {
        return done({QString::number(int(rig.getPTT(vfo)))});
    }
    if (command == QLatin1String("get_split_vfo")) {
        vfo_t tx = RIG_VFO_CURR;
        const split_t split = rig.getSplitVFO(tx, vfo);
        return done({QString::number(int(split)), QString::fromLatin1(rig_strvfo(tx))});
    }
    if (command == QLatin1String("get_split_freq")) {
        return done({hertz(rig.getSplitFreq(vfo))});
    }
    if (command == QLatin1String("get_powerstat")) {
        return done({QString::number(int(rig.getPowerStat()))});
    }
    if (command == QLatin1String("get_level")) {
        const setting_t level = rig_parse_level(first.constData());
        if (level == RIG_LEVEL_NONE) {
            return refused("Unknown level");
        }
        return done({levelText(level, readLevel(rig, level, vfo))});
    }
    if (command == QLatin1String("get_func")) {
        const setting_t function = rig_parse_func(first.constData());
        if (function == RIG_FUNC_NONE) {
            return refused("Unknown function");
        }
        return done({QString::number(int(rig.getFunc(function, vfo)))});
    }
    if (command == QLatin1String("dump_state")) {
        if (dumpState.isEmpty()) {
            dumpState = capabilities(rig);
        }
        return done({dumpState});
    }
    if (command == QLatin1String("set_freq") || command == QLatin1String("set_split_freq")) {
        const double frequency = arguments.value(0).toDouble(&number);
        if (!number || !std::isfinite(frequency) || frequency < 0) {
            return refused("Invalid frequency");
        }
        if (command == QLatin1String("set_freq")) {
            rig.setFreq(frequency, vfo);
            if (rig.caps->get_freq) {
                rig.getFreq(vfo);
            }
        } else {
            rig.setSplitFreq(frequency, vfo);
            if (rig.caps->get_split_freq) {
                rig.getSplitFreq(vfo);
            }
        }
    } else if (command == QLatin1String("set_mode") || command == QLatin1String("set_split_mode")) {
        const rmode_t mode = rig_parse_mode(first.constData());
        const long width = arguments.value(1).toLong(&number);
        if (mode == RIG_MODE_NONE || !number) {
            return refused("Invalid mode");
        }
        pbwidth_t readWidth = 0;
        if (command == QLatin1String("set_mode")) {
            rig.setMode(mode, width, vfo);
            if (rig.caps->get_mode) {
                rig.getMode(readWidth, vfo);
            }
        } else {
            rig.setSplitMode(mode, width, vfo);
            if (rig.caps->get_split_mode) {
                rig.getSplitMode(readWidth, vfo);
            }
        }
    } else if (command == QLatin1String("set_vfo")) {
        const vfo_t chosen = rig_parse_vfo(first.constData());
        if (chosen == RIG_VFO_NONE) {
            return refused("Invalid VFO");
        }
        rig.setVFO(chosen);
        // Hamlib's Kenwood backend answers from its copy of the radio's status line for half a second, and takes
        // what it reads there for the radio's state: a state that still looks unchanged is read again once that copy
        // is stale, or the backend would go on from the old one.
        if (rig.caps->get_vfo && rig.getVFO() != chosen) {
            ::usleep(600000);
            rig.getVFO();
        }
    } else if (command == QLatin1String("set_ptt")) {
        const int ptt = arguments.value(0).toInt(&number);
        if (!number || ptt < RIG_PTT_OFF || ptt > RIG_PTT_ON_DATA) {
            return refused("Invalid PTT");
        }
        rig.setPTT(ptt_t(ptt), vfo);
        if (!rig.caps->get_ptt) {
            return done();
        }
        // The state read back tells whoever keeps account of the transmitter whether a release took.
        QVariantMap answer = done();
        answer.insert(QStringLiteral("ptt"), int(rig.getPTT(vfo)));
        return answer;
    } else if (command == QLatin1String("set_split_vfo")) {
        const int split = arguments.value(0).toInt(&number);
        const vfo_t tx = rig_parse_vfo(second.constData());
        if (!number || (split != RIG_SPLIT_OFF && split != RIG_SPLIT_ON) || tx == RIG_VFO_NONE) {
            return refused("Invalid split");
        }
        rig.setSplitVFO(split_t(split), vfo, tx);
        vfo_t readTx = RIG_VFO_CURR;
        // As for the VFO: read again past the Kenwood backend's copy.
        if (rig.caps->get_split_vfo && rig.getSplitVFO(readTx, vfo) != split_t(split)) {
            ::usleep(600000);
            rig.getSplitVFO(readTx, vfo);
        }
    } else if (command == QLatin1String("set_level")) {
        const setting_t level = rig_parse_level(first.constData());
        const float value = arguments.value(1).toFloat(&secondNumber);
        if (level == RIG_LEVEL_NONE || !secondNumber) {
            return refused("Invalid level");
        }
        if (RIG_LEVEL_IS_FLOAT(level)) {
            rig.setLevel(level, value, vfo);
        } else {
            rig.setLevel(level, int(value), vfo);
        }
        if (rig.hasGetLevel(level)) {
            readLevel(rig, level, vfo);
        }
        return done();
    } else if (command == QLatin1String("set_powerstat")) {
        const int power = arguments.value(0).toInt(&number);
        if (!number || power < RIG_POWER_OFF || power > RIG_POWER_OPERATE) {
            return refused("Invalid power status");
        }
        rig.setPowerStat(powerstat_t(power));
        return done();
    } else if (command == QLatin1String("set_func")) {
        const setting_t function = rig_parse_func(first.constData());
        const int on = arguments.value(1).toInt(&secondNumber);
        if (function == RIG_FUNC_NONE || !secondNumber) {
            return refused("Invalid function");
        }
        rig.setFunc(function, on != 0, vfo);
        if (rig.hasGetFunc(function)) {
            rig.getFunc(function, vfo);
        }
        return done();
    } else {
        return refused("Unknown command", RIG_ENIMPL);
    }
    return done();
}

namespace {

QByteArray hex(qulonglong value)
{
    return "0x" + QByteArray::number(value, 16);
}

void addRanges(QByteArray& text, const freq_range_t* ranges)
{
    for (int i = 0; i < HAMLIB_FRQRANGESIZ && !RIG_IS_FRNG_END(ranges[i]); ++i) {
        const freq_range_t& range = ranges[i];
        text += QByteArray::number(range.startf, 'f', 6) + ' ' + QByteArray::number(range.endf, 'f', 6) + ' '
            + hex(range.modes) + ' ' + QByteArray::number(range.low_power) + ' ' + QByteArray::number(range.high_power)
            + ' ' + hex(range.vfo) + ' ' + hex(range.ant) + '\n';
    }
    text += "0 0 0 0 0 0 0\n";
}

void addDecibels(QByteArray& text, const int* list)
{
    for (int i = 0; i < HAMLIB_MAXDBLSTSIZ && list[i] != 0; ++i) {
        text += QByteArray::number(list[i]) + ' ';
    }
    text += '\n';
}

} // namespace

QString RigctlOps::capabilities(KrRig& rig)
{
    const RIG* const handle = rig.handle();
    const rig_caps& caps = *handle->caps;
    const rig_state& state = handle->state;
    QByteArray text = "1\n" + QByteArray::number(caps.rig_model) + "\n0\n";
    addRanges(text, state.rx_range_list);
    addRanges(text, state.tx_range_list);
    for (int i = 0; i < HAMLIB_TSLSTSIZ && !RIG_IS_TS_END(state.tuning_steps[i]); ++i) {
        text += hex(state.tuning_steps[i].modes) + ' ' + QByteArray::number(qlonglong(state.tuning_steps[i].ts)) + '\n';
    }
    text += "0 0\n";
    for (int i = 0; i < HAMLIB_FLTLSTSIZ && !RIG_IS_FLT_END(state.filters[i]); ++i) {
        text += hex(state.filters[i].modes) + ' ' + QByteArray::number(qlonglong(state.filters[i].width)) + '\n';
    }
    text += "0 0\n";
    for (const shortfreq_t most : {state.max_rit, state.max_xit, state.max_ifshift}) {
        text += QByteArray::number(qlonglong(most)) + '\n';
    }
    text += QByteArray::number(state.announces) + '\n';
    addDecibels(text, state.preamp);
    addDecibels(text, state.attenuator);
    // Functions and levels as the radio has them, every one served; parameters are not served.
    for (const setting_t mask : {state.has_get_func, state.has_set_func, state.has_get_level, state.has_set_level}) {
        text += hex(mask) + '\n';
    }
    text += "0x0\n0x0\n";
    const auto has = [](auto function) { return function ? '1' : '0'; };
    // VFO operations (copy, exchange, ...) are not served.
    text += "vfo_ops=0x0\nptt_type=" + hex(caps.ptt_type) + "\ntargetable_vfo=" + hex(caps.targetable_vfo)
        + "\nhas_set_vfo=" + has(caps.set_vfo) + "\nhas_get_vfo=" + has(caps.get_vfo)
        + "\nhas_set_freq=" + has(caps.set_freq) + "\nhas_get_freq="
        + has(caps.get_freq)
        // Served by the radio's program alone: nobody else may configure it, or convert its power.
        + "\nhas_set_conf=0\nhas_get_conf=0\nhas_power2mW=0\nhas_mW2power=0\nhas_get_ant=0\nhas_set_ant=0"
        + "\ntimeout=" + QByteArray::number(caps.timeout) + "\nrig_model=" + QByteArray::number(caps.rig_model)
        + "\nrigctld_version=" + rig_version() + "\nagc_levels=";
    for (int i = 0; i < caps.agc_level_count && i < HAMLIB_MAX_AGC_LEVELS; ++i) {
        text
            += (i ? " " : "") + QByteArray::number(int(caps.agc_levels[i])) + '=' + rig_stragclevel(caps.agc_levels[i]);
    }
    if (caps.ctcss_list) {
        text += "\nctcss_list=";
        for (const tone_t* tone = caps.ctcss_list; *tone != 0; ++tone) {
            text += ' ' + QByteArray::number(*tone / 10) + '.' + QByteArray::number(*tone % 10);
        }
    }
    if (caps.dcs_list) {
        text += "\ndcs_list=";
        for (const tone_t* code = caps.dcs_list; *code != 0; ++code) {
            text += ' ' + QByteArray::number(*code);
        }
    }
    return QString::fromLatin1(text + "\ndone\n");
}
