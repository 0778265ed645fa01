#include "Ic7300Protocol.h"

namespace {

const char preamble = char(0xFE);
const char end = char(0xFD);
const char ok = char(0xFB);
const char notGood = char(0xFA);
// Frames longer than any the radio knows are noise.
const int longestFrame = 64;

int fromBcd(char byte)
{
    const int high = (byte >> 4) & 0x0F;
    const int low = byte & 0x0F;
    return high > 9 || low > 9 ? -1 : high * 10 + low;
}

char toBcd(int value)
{
    return char(((value / 10) << 4) | (value % 10));
}

// Least significant pair first, as CI-V carries frequencies; -1 when a byte is not two decimal digits.
qint64 fromBcdLittle(const QByteArray& bytes)
{
    qint64 value = 0;
    for (int i = bytes.size() - 1; i >= 0; --i) {
        const int pair = fromBcd(bytes[i]);
        if (pair < 0)
            return -1;
        value = value * 100 + pair;
    }
    return value;
}

QByteArray toBcdLittle(qint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i, value /= 100)
        out += toBcd(int(value % 100));
    return out;
}

// Most significant pair first, as CI-V carries levels and meters.
QByteArray toBcdBig(int value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i, value /= 100)
        out.prepend(toBcd(value % 100));
    return out;
}

int modeGroup(int mode)
{
    switch (mode) {
    case 0:
    case 1:
        return 0;
    case 3:
    case 7:
        return 1;
    case 4:
    case 8:
        return 2;
    case 2:
        return 3;
    default:
        return 4;
    }
}

bool knownMode(int mode)
{
    return (mode >= 0 && mode <= 5) || mode == 7 || mode == 8;
}

} // namespace

QByteArray Ic7300Protocol::takeCommand(QByteArray& pending)
{
    for (;;) {
        const int start = pending.indexOf(QByteArray(2, preamble));
        if (start < 0) {
            // A lone FE may be the first half of the next preamble.
            pending = pending.endsWith(preamble) ? QByteArray(1, preamble) : QByteArray();
            return {};
        }
        pending.remove(0, start);
        int body = 2;
        while (body < pending.size() && pending[body] == preamble)
            ++body;
        const int stop = pending.indexOf(end, body);
        const int restart = pending.indexOf(QByteArray(2, preamble), body);
        if (restart >= 0 && (stop < 0 || restart < stop)) {
            pending.remove(0, restart);
            continue;
        }
        if (stop < 0) {
            if (pending.size() > longestFrame)
                pending.clear();
            return {};
        }
        const QByteArray frame = pending.left(stop + 1);
        pending.remove(0, stop + 1);
        if (frame.size() <= longestFrame)
            return frame;
    }
}

int Ic7300Protocol::width() const
{
    return filterWidths[modeGroup(mode())][filter() - 1];
}

QByteArray Ic7300Protocol::answer(const QByteArray& command)
{
    QByteArray sent = echo ? command : QByteArray();
    // The preamble may be longer than two bytes: the power-on command wakes the radio with a long run of FE.
    int at = 0;
    while (at < command.size() && command[at] == preamble)
        ++at;
    const QByteArray frame = command.mid(at, command.size() - at - 1);
    // Each frame names its addressee (00 for every radio) and its sender; frames from radios are not commands.
    if (frame.size() < 3 || (frame[0] != address && frame[0] != 0) || frame[1] == address)
        return sent;
    return sent + reply(frame[1], dispatch(frame.mid(2)));
}

QByteArray Ic7300Protocol::refusal(const QByteArray& command) const
{
    int at = 0;
    while (at < command.size() && command[at] == preamble)
        ++at;
    return at + 1 < command.size() ? reply(command[at + 1], QByteArray(1, notGood)) : QByteArray();
}

QByteArray Ic7300Protocol::reply(char to, const QByteArray& body) const
{
    if (body.isEmpty())
        return {};
    return QByteArray(2, preamble) + to + address + body + end;
}

QByteArray Ic7300Protocol::dispatch(const QByteArray& body)
{
    const QByteArray refused(1, notGood);
    const char command = body[0];
    const QByteArray data = body.mid(1);
    Vfo& vfo = vfos[currentVfo];

    switch (command) {
    case 0x03:
        return data.isEmpty() ? body + toBcdLittle(vfo.frequency, 5) : refused;
    case 0x00:
    case 0x05: {
        // 00 and 01 are the transceive forms of 05 and 06: the radio acts on them without a word.
        const QByteArray answer = setFrequency(vfo, data);
        return command == 0x05 ? answer : QByteArray();
    }
    case 0x04:
        return data.isEmpty() ? body + char(vfo.mode) + char(vfo.filter) : refused;
    case 0x01:
    case 0x06: {
        const QByteArray answer = setMode(vfo, data, false);
        return command == 0x06 ? answer : QByteArray();
    }
    case 0x07:
        return selectVfo(data);
    case 0x0F:
        if (data.isEmpty())
            return body + char(split ? 1 : 0);
        if (data.size() != 1 || (data[0] != 0 && data[0] != 1))
            return refused;
        split = data[0] == 1;
        return QByteArray(1, ok);
    case 0x15:
        return meter(body);
    case 0x19:
        return data.size() == 1 && data[0] == 0 ? body + address : refused;
    case 0x1A:
        if (data.startsWith(char(0x03)))
            return filterWidth(data.mid(1));
        if (data.startsWith(char(0x06)))
            return dataSwitch(body);
        return refused;
    case 0x1C:
        if (data.size() == 1 && data[0] == 0)
            return body + char(transmit ? 1 : 0);
        if (data.size() != 2 || data[0] != 0 || (data[1] != 0 && data[1] != 1))
            return refused;
        transmit = data[1] == 1;
        return QByteArray(1, ok);
    case 0x25: {
        Vfo* target = pick(data);
        if (!target)
            return refused;
        return data.size() == 1 ? body + toBcdLittle(target->frequency, 5) : setFrequency(*target, data.mid(1));
    }
    case 0x26: {
        Vfo* target = pick(data);
        if (!target)
            return refused;
        if (data.size() == 1)
            return body + char(target->mode) + char(target->data ? 1 : 0) + char(target->filter);
        return setMode(*target, data.mid(1), true);
    }
    default:
        return refused;
    }
}

Ic7300Protocol::Vfo* Ic7300Protocol::pick(const QByteArray& data)
{
    if (data.isEmpty() || (data[0] != 0 && data[0] != 1))
        return nullptr;
    return &vfos[data[0] == 0 ? currentVfo : 1 - currentVfo];
}

QByteArray Ic7300Protocol::selectVfo(const QByteArray& data)
{
    const QByteArray accepted(1, ok);
    // Without a byte: VFO operation, which the radio is always in here.
    if (data.isEmpty())
        return accepted;
    if (data.size() != 1 || transmit)
        return QByteArray(1, notGood);
    switch (data[0]) {
    case 0x00:
    case 0x01:
        currentVfo = data[0];
        return accepted;
    case char(0xA0):
        vfos[1 - currentVfo] = vfos[currentVfo];
        return accepted;
    case char(0xB0):
        std::swap(vfos[0], vfos[1]);
        return accepted;
    default:
        // The radio has no main and sub receivers (D0, D1) nor dualwatch.
        return QByteArray(1, notGood);
    }
}

QByteArray Ic7300Protocol::setFrequency(Vfo& vfo, const QByteArray& bcd)
{
    const qint64 hz = bcd.size() == 5 ? fromBcdLittle(bcd) : -1;
    if (hz < 30000 || hz > 74800000)
        return QByteArray(1, notGood);
    vfo.frequency = hz;
    return QByteArray(1, ok);
}

QByteArray Ic7300Protocol::setMode(Vfo& vfo, const QByteArray& data, bool withData)
{
    const QByteArray refused(1, notGood);
    const int size = data.size();
    if (size < 1 || size > (withData ? 3 : 2) || !knownMode(data[0]))
        return refused;
    const char dataByte = withData && size >= 2 ? data[1] : 0;
    const int filterAt = withData ? 2 : 1;
    const int filter = size > filterAt ? data[filterAt] : 1;
    // Data mode exists only for the voice modes.
    const bool voice = modeGroup(data[0]) == 0 || data[0] == 2 || data[0] == 5;
    if (filter < 1 || filter > 3 || (dataByte != 0 && (dataByte != 1 || !voice)))
        return refused;
    vfo.mode = data[0];
    vfo.filter = filter;
    // A mode without the data byte keeps data mode only where the mode allows it, as the mode key does.
    vfo.data = withData ? dataByte == 1 : vfo.data && voice;
    return QByteArray(1, ok);
}

QByteArray Ic7300Protocol::dataSwitch(const QByteArray& body)
{
    Vfo& vfo = vfos[currentVfo];
    if (body.size() == 2)
        return body + char(vfo.data ? 1 : 0) + char(vfo.data ? vfo.filter : 0);
    const bool voice = modeGroup(vfo.mode) == 0 || vfo.mode == 2 || vfo.mode == 5;
    if (body.size() != 4 || body[2] < 0 || body[2] > 1 || body[3] < 0 || body[3] > 3 || (body[2] == 1) != (body[3] != 0)
        || (body[2] == 1 && !voice))
        return QByteArray(1, notGood);
    vfo.data = body[2] == 1;
    if (vfo.data)
        vfo.filter = body[3];
    return QByteArray(1, ok);
}

QByteArray Ic7300Protocol::meter(const QByteArray& body)
{
    if (body.size() != 2)
        return QByteArray(1, notGood);
    switch (body[1]) {
    case 0x02:
        return body + toBcdBig(transmit ? 0 : signalMeter, 2);
    case 0x13:
        // ALC only moves while the transmitter drives it.
        return body + toBcdBig(transmit ? alcMeter : 0, 2);
    case 0x11:
    case 0x12:
    case 0x14:
        // Power, SWR and compression read zero into a dummy load.
        return body + toBcdBig(0, 2);
    default:
        return QByteArray(1, notGood);
    }
}

QByteArray Ic7300Protocol::filterWidth(const QByteArray& value)
{
    const int group = modeGroup(mode());
    const QByteArray body = QByteArray("\x1A\x03", 2);
    // SSB, CW and RTTY count 50 Hz steps to 500 Hz, then 100 Hz steps to 3.6 kHz; AM counts 200 Hz steps; FM's
    // filters are fixed.
    if (value.isEmpty()) {
        const int hz = width();
        int index;
        if (group == 3)
            index = hz / 200 - 1;
        else if (group == 4)
            index = hz >= 15000 ? 0 : hz >= 10000 ? 1 : 2;
        else
            index = hz <= 500 ? hz / 50 - 1 : hz / 100 + 4;
        return body + toBcd(index);
    }
    const int index = value.size() == 1 ? fromBcd(value[0]) : -1;
    if (group == 4 || index < 0 || index > (group == 3 ? 49 : 40))
        return QByteArray(1, notGood);
    filterWidths[group][filter() - 1] = group == 3 ? (index + 1) * 200
        : index <= 9                               ? (index + 1) * 50
                                                   : (index - 4) * 100;
    return QByteArray(1, ok);
}
