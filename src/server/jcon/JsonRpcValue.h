// The wire rules for values: how a result or pushed value becomes JSON, and how a request id becomes text.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVariant>

namespace jcon {

// True when a result or pushed value has a JSON form: no value, a list, a map, a 32- or 64-bit signed
// integer, a double, a bool or a text. Unsigned integers, string lists, byte arrays, hashes and user types
// have none, so callers can answer with an error instead.
bool isRenderable(const QVariant& value);

// Appends the value in the layout every message is sent in, Qt's indented JSON (QJsonDocument::toJson),
// written straight from the variant; indent is the depth the value sits at. Values inside lists and maps
// follow QJsonValue::fromVariant.
void writeJson(const QVariant& value, int indent, QByteArray& text);
// Appends a JSON string with the escapes Qt writes.
void writeJsonString(const QString& string, QByteArray& text);

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
