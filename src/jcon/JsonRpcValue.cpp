#include "JsonRpcValue.h"

#include <QJsonArray>
#include <QJsonObject>

namespace jcon {

bool renderJsonValue(const QVariant& value, QJsonValue& json)
{
    if (!value.isValid()) {
        json = QJsonValue(QJsonValue::Null);
        return true;
    }
    switch (value.userType()) {
    case QMetaType::QVariantList:
        json = QJsonArray::fromVariantList(value.toList());
        return true;
    case QMetaType::QVariantMap:
        json = QJsonObject::fromVariantMap(value.toMap());
        return true;
    case QMetaType::Int:
        json = value.toInt();
        return true;
    case QMetaType::LongLong:
        json = value.toLongLong();
        return true;
    case QMetaType::Double:
        json = value.toDouble();
        return true;
    case QMetaType::Bool:
        json = value.toBool();
        return true;
    case QMetaType::QString:
        json = value.toString();
        return true;
    default:
        return false;
    }
}

QString requestIdText(const QJsonValue& id)
{
    switch (id.type()) {
    case QJsonValue::String:
    case QJsonValue::Double:
    case QJsonValue::Bool:
        return id.toVariant().toString();
    default:
        return QString();
    }
}

} // namespace jcon
