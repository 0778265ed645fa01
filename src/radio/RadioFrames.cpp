#include "RadioFrames.h"

#include <QDataStream>
#include <QtEndian>

QByteArray RadioFrames::encode(const QVariant& message)
{
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_15);
    out << message;
    QByteArray frame(4, '\0');
    qToBigEndian(quint32(body.size()), frame.data());
    return frame + body;
}

std::optional<QVariant> RadioFrames::next()
{
    if (damaged || pending.size() < 4) {
        return std::nullopt;
    }
    const quint32 size = qFromBigEndian<quint32>(pending.constData());
    if (size > maxFrameBytes) {
        damaged = true;
        return std::nullopt;
    }
    if (quint32(pending.size()) - 4 < size) {
        return std::nullopt;
    }
    QDataStream in(pending.mid(4, int(size)));
    in.setVersion(QDataStream::Qt_5_15);
    QVariant message;
    in >> message;
    pending.remove(0, int(size) + 4);
    if (in.status() != QDataStream::Ok) {
        damaged = true;
        return std::nullopt;
    }
    return message;
}
