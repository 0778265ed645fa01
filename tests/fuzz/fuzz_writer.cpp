// Any JSON document, as a variant: the reply writer's text is Qt's own, byte for byte.
#include "FuzzCheck.h"
#include "server/jcon/JsonRpcValue.h"

#include <QJsonDocument>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));
    if (document.isNull()) {
        return 0;
    }
    const QVariant value = document.toVariant();
    QByteArray written;
    jcon::writeJson(value, 0, written);
    written += '\n';
    const QByteArray qt = QJsonDocument::fromVariant(value).toJson();
    require(written == qt, "the writer writes what Qt writes", written, qt);
    return 0;
}
