#include "RadioProtocol.h"

#include "Ft991Protocol.h"
#include "Ic7300Protocol.h"
#include "Ts480Protocol.h"

QVector<unsigned> RadioProtocol::models()
{
    return {Ft991Protocol::modelId, Ts480Protocol::modelId, Ic7300Protocol::modelId};
}

std::unique_ptr<RadioProtocol> RadioProtocol::create(unsigned model)
{
    switch (model) {
    case Ft991Protocol::modelId:
        return std::make_unique<Ft991Protocol>();
    case Ts480Protocol::modelId:
        return std::make_unique<Ts480Protocol>();
    case Ic7300Protocol::modelId:
        return std::make_unique<Ic7300Protocol>();
    default:
        return nullptr;
    }
}

QByteArray RadioProtocol::takeTextCommand(QByteArray& pending)
{
    int end;
    while ((end = pending.indexOf(';')) >= 0) {
        const QByteArray command = pending.left(end).trimmed();
        pending.remove(0, end + 1);
        if (!command.isEmpty())
            return command;
    }
    return {};
}

bool RadioProtocol::allDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

QByteArray RadioProtocol::number(qint64 value, int width)
{
    return QByteArray::number(value).rightJustified(width, '0');
}
