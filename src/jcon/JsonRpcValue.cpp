#include "JsonRpcValue.h"

#include <QJsonArray>
#include <QJsonObject>

#include <limits>

namespace jcon {

namespace {

template <typename T>
bool within(double value)
{
    return value >= double(std::numeric_limits<T>::min()) && value <= double(std::numeric_limits<T>::max());
}

bool numberFits(const QVariant& argument, int type)
{
    switch (argument.userType()) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        break;
    default:
        return true;
    }
    const double value = argument.toDouble();
    switch (type) {
    case QMetaType::Int:
        return within<int>(value);
    case QMetaType::UInt:
        return within<uint>(value);
    case QMetaType::Short:
        return within<short>(value);
    case QMetaType::UShort:
        return within<ushort>(value);
    case QMetaType::SChar:
        return within<signed char>(value);
    case QMetaType::UChar:
        return within<uchar>(value);
    default:
        return true;
    }
}

} // namespace

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

ArgumentFit convertArgument(QByteArray typeName, const QVariant& argument, QVariant& converted)
{
    // JSON null is no value either: passed on, it could become a null pointer or an empty object.
    if (!argument.isValid() || argument.userType() == QMetaType::Nullptr) {
        return ArgumentFit::NoValue;
    }
    // No JSON value can stand for an object in this process.
    if (typeName.endsWith('*')) {
        return ArgumentFit::Unfit;
    }
    const bool byReference = typeName.endsWith('&');
    if (byReference) {
        typeName.chop(1);
    }
    const int type = QMetaType::type(typeName.constData());
    if (type == QMetaType::UnknownType) {
        return ArgumentFit::Unfit;
    }
    converted = argument;
    if (argument.userType() == type) {
        return ArgumentFit::Converted;
    }
    if (byReference || !argument.canConvert(type) || !numberFits(argument, type) || !converted.convert(type)) {
        converted = QVariant();
        return ArgumentFit::Unfit;
    }
    return ArgumentFit::Converted;
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
