#include "VariantToString.h"

namespace jcon {

QString variantToString(const QVariant& value)
{
    if (value.userType() == QMetaType::QVariantList) {
        return QStringLiteral("list (%1 elements)").arg(value.toList().size());
    }
    if (value.userType() == QMetaType::QVariantMap) {
        return QStringLiteral("map (%1 elements)").arg(value.toMap().size());
    }
    if (value.canConvert<QString>()) {
        return value.toString();
    }
    return QStringLiteral("N/A");
}

QStringList variantsToStrings(const QVariantList& values)
{
    QStringList texts;
    texts.reserve(values.size());
    for (const QVariant& value : values) {
        texts.append(variantToString(value));
    }
    return texts;
}

} // namespace jcon
