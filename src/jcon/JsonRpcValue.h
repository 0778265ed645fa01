// The wire rules for values: how a result or pushed value becomes JSON, and how a request id becomes text.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVariant>

namespace jcon {

// Fills json and returns true when the value's kind has a JSON form; unsigned integers, string lists,
// byte arrays, hashes and user types have none, so callers can answer with an error instead.
bool renderJsonValue(const QVariant& value, QJsonValue& json);

// How a JSON argument fits a declared parameter.
enum class ArgumentFit { Converted, NoValue, Unfit };

// Converts an argument for a parameter declared as typeName ("int", "QString&", ...). Absent and JSON null are
// no value; a non-const reference takes exactly its own type, a pointer nothing, and a number only a type that
// holds it (port 65537 would otherwise reach a quint16 as port 1).
ArgumentFit convertArgument(QByteArray typeName, const QVariant& argument, QVariant& converted);

// The id is never echoed as it came: numbers and booleans become their text, anything without a
// text form (absent, null, array, object) becomes the empty text that marks a notification.
QString requestIdText(const QJsonValue& id);

} // namespace jcon
