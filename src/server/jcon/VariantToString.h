// How argument and result values are shown in the layer's log lines: containers by size only.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace jcon {

QString variantToString(const QVariant& value);
QStringList variantsToStrings(const QVariantList& values);

} // namespace jcon
