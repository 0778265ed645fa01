#include "TextRadioProtocol.h"

const QByteArray TextRadioProtocol::refused = QByteArrayLiteral("?;");

QByteArray TextRadioProtocol::answer(const QByteArray& command)
{
    if (command.size() < 2)
        return refused;
    const QByteArray name = command.left(2);
    const QByteArray argument = command.mid(2);
    const bool query = argument.isEmpty();

    if (name == "ID" && query)
        return "ID" + identity() + ';';
    if (name == "PS") {
        if (query)
            return QByteArrayLiteral("PS1;");
        return argument == "1" ? QByteArray() : refused;
    }
    if (name == "FA" || name == "FB") {
        qint64& hz = name == "FA" ? frequencyA : frequencyB;
        if (query)
            return name + number(hz, frequencyDigits()) + ';';
        if (argument.size() != frequencyDigits() || !allDigits(argument))
            return refused;
        const qint64 wanted = argument.toLongLong();
        if (wanted < 30000 || wanted > highestFrequency())
            return refused;
        hz = wanted;
        return {};
    }
    if (name == "IF" && query)
        return statusLine();
    return modelAnswer(name, argument);
}
