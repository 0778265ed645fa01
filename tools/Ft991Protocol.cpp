#include "Ft991Protocol.h"

namespace {

const QByteArray modeCodes = QByteArrayLiteral("123456789ABCDE");

} // namespace

QByteArray Ft991Protocol::modelAnswer(const QByteArray& name, const QByteArray& argument)
{
    const bool query = argument.isEmpty();
    if (name == "AI") {
        if (query)
            return autoInformation ? QByteArrayLiteral("AI1;") : QByteArrayLiteral("AI0;");
        if (argument != "0" && argument != "1")
            return refused;
        autoInformation = argument == "1";
        return {};
    }
    if (name == "EX") {
        // Menu 032, CAT RTS, is the only menu item the computer side touches.
        if (!argument.startsWith("032"))
            return refused;
        const QByteArray value = argument.mid(3);
        if (value.isEmpty())
            return catRts ? QByteArrayLiteral("EX0321;") : QByteArrayLiteral("EX0320;");
        if (value != "0" && value != "1")
            return refused;
        catRts = value == "1";
        return {};
    }
    if (name == "VS") {
        if (query)
            return "VS" + QByteArray::number(currentVfo) + ';';
        if ((argument != "0" && argument != "1") || transmit)
            return refused;
        currentVfo = argument == "1";
        return {};
    }
    if (name == "FT") {
        if (query)
            return "FT" + QByteArray::number(transmitVfo) + ';';
        if (argument != "2" && argument != "3")
            return refused;
        transmitVfo = argument == "3";
        return {};
    }
    if (name == "MD") {
        if (argument == "0")
            return QByteArray("MD0") + modeCode + ';';
        if (argument.size() != 2 || argument[0] != '0' || !modeCodes.contains(argument[1]))
            return refused;
        modeCode = argument[1];
        return {};
    }
    if (name == "SH") {
        if (argument == "0")
            return "SH0" + number(width, 2) + ';';
        if (argument.size() != 3 || argument[0] != '0' || !allDigits(argument) || argument.mid(1).toInt() > 21)
            return refused;
        width = argument.mid(1).toInt();
        return {};
    }
    if (name == "NA") {
        if (argument == "0")
            return narrowFilter ? QByteArrayLiteral("NA01;") : QByteArrayLiteral("NA00;");
        if (argument != "00" && argument != "01")
            return refused;
        narrowFilter = argument == "01";
        return {};
    }
    if (name == "TX") {
        if (query)
            return transmit ? QByteArrayLiteral("TX1;") : QByteArrayLiteral("TX0;");
        if (argument != "0" && argument != "1")
            return refused;
        transmit = argument == "1";
        return {};
    }
    if (name == "SM" && argument == "0")
        return "SM0" + number(transmit ? 0 : signalMeter, 3) + ';';
    if (name == "RM" && argument.size() == 1)
        return meterReading(argument[0]);
    return refused;
}

QByteArray Ft991Protocol::meterReading(char meter) const
{
    int value;
    switch (meter) {
    case '1':
        value = transmit ? 0 : signalMeter;
        break;
    case '4':
        // ALC only moves while the transmitter drives it.
        value = transmit ? alcMeter : 0;
        break;
    case '2':
    case '3':
    case '5':
    case '6':
    case '7':
    case '8':
        value = 0;
        break;
    default:
        return refused;
    }
    return QByteArray("RM") + meter + number(value, 3) + ';';
}

QByteArray Ft991Protocol::statusLine() const
{
    QByteArray line = "IF001" + number(frequency(currentVfo), 9);
    line += "+0000"; // clarifier offset
    line += "00"; // receive and transmit clarifier off
    line += modeCode;
    line += "0"; // VFO, not memory
    line += "000"; // no tone, two fixed zeros
    line += "0;"; // simplex
    return line;
}
