// The two shapes of every radio method's answer, made the same way by the service and by each radio's host.
#pragma once

#include <QString>
#include <QVariantMap>

// {"Error": text}: a refusal or a failure.
inline QVariantMap errorEnvelope(const QString& text)
{
    return {{QStringLiteral("Error"), text}};
}

// {"Success": text} with the method's own entries.
inline QVariantMap successEnvelope(const QString& text, QVariantMap entries = {})
{
    entries.insert(QStringLiteral("Success"), text);
    return entries;
}
