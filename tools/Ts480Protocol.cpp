#include "Ts480Protocol.h"

#include <QList>

namespace {

const QByteArray modeCodes = QByteArrayLiteral("12345679");

} // namespace

QString Ts480Protocol::lacks() const
{
    return QStringLiteral("no raw signal strength");
}

QByteArray Ts480Protocol::modelAnswer(const QByteArray& name, const QByteArray& argument)
{
    const bool query = argument.isEmpty();
    if (name == "AI") {
        if (query)
            return "AI" + QByteArray::number(autoInformation) + ';';
        if (argument.size() != 1 || argument[0] < '0' || argument[0] > '4')
            return refused;
        autoInformation = argument[0] - '0';
        return {};
    }
    if (name == "KS") {
        if (query)
            return "KS" + number(keyerSpeed, 3) + ';';
        const int wanted = argument.size() == 3 && allDigits(argument) ? argument.toInt() : -1;
        if (wanted < 10 || wanted > 60)
            return refused;
        keyerSpeed = wanted;
        return {};
    }
    if (name == "FR" || name == "FT") {
        if (query)
            return name + QByteArray::number(name == "FR" ? receiveVfo : transmitVfo) + ';';
        if ((argument != "0" && argument != "1") || transmit)
            return refused;
        // Choosing the receiving VFO ends split operation; choosing the transmitting one starts it.
        if (name == "FR")
            receiveVfo = argument == "1";
        transmitVfo = argument == "1";
        return {};
    }
    if (name == "MD") {
        if (query)
            return QByteArray("MD") + modeCode + ';';
        if (argument.size() != 1 || !modeCodes.contains(argument[0]))
            return refused;
        modeCode = argument[0];
        return {};
    }
    if (name == "TX") {
        if (argument.size() > 1 || (!query && argument != "0" && argument != "1"))
            return refused;
        transmit = true;
        return {};
    }
    if (name == "RX" && query) {
        transmit = false;
        return {};
    }
    if (name == "SM" && argument == "0")
        return "SM0" + number(transmit ? 0 : signalMeter, 4) + ';';
    if (name == "FW") {
        if (query)
            return "FW" + number(filterWidth(), 4) + ';';
        const bool cw = modeCode == '3' || modeCode == '7';
        const bool fsk = modeCode == '6' || modeCode == '9';
        const QList<int> widths = cw ? QList<int> {50, 80, 100, 150, 200, 300, 400, 500, 600, 1000, 2000}
            : fsk                    ? QList<int> {250, 500, 1000, 1500}
                                     : QList<int> {0, 1};
        const int wanted = argument.size() == 4 && allDigits(argument) ? argument.toInt() : -1;
        if (!widths.contains(wanted))
            return refused;
        filterWidth() = wanted;
        return {};
    }
    if (name == "SL" || name == "SH") {
        int* index = cut(name == "SH");
        if (!index)
            return refused;
        if (query)
            return name + number(*index, 2) + ';';
        const int wanted = argument.size() == 2 && allDigits(argument) ? argument.toInt() : -1;
        if (wanted < 0 || wanted > (modeCode == '5' ? 3 : 11))
            return refused;
        *index = wanted;
        return {};
    }
    if (name == "RM") {
        if (query)
            return meterReadings();
        if (argument.size() != 1 || argument[0] < '1' || argument[0] > '3')
            return refused;
        meter = argument[0] - '0';
        return {};
    }
    return refused;
}

int& Ts480Protocol::filterWidth()
{
    switch (modeCode) {
    case '3':
    case '7':
        return cwWidth;
    case '6':
    case '9':
        return fskWidth;
    default:
        return voiceWidth;
    }
}

int* Ts480Protocol::cut(bool high)
{
    switch (modeCode) {
    case '1':
    case '2':
        return &cuts[0][high];
    case '4':
        return &cuts[1][high];
    case '5':
        return &cuts[2][high];
    default:
        return nullptr;
    }
}

QByteArray Ts480Protocol::meterReadings() const
{
    // Every transmit meter at once. SWR and compression read zero into a dummy load; ALC only moves while the
    // transmitter drives it.
    return "RM10000;RM20000;RM3" + number(transmit ? alcMeter : 0, 4) + ';';
}

QByteArray Ts480Protocol::statusLine() const
{
    QByteArray line = "IF" + number(frequency(transmit ? transmitVfo : receiveVfo), 11);
    line += "     "; // frequency step, blank
    line += "+0000"; // RIT/XIT offset
    line += "000"; // RIT off, XIT off, memory bank
    line += "00"; // memory channel
    line += transmit ? '1' : '0';
    line += modeCode;
    line += char('0' + (transmit ? transmitVfo : receiveVfo));
    line += '0'; // not scanning
    line += receiveVfo != transmitVfo ? '1' : '0';
    line += "000"; // no tone, tone number
    line += "0;";
    return line;
}
