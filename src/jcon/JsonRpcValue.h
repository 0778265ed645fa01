// The wire rules for values: how a result or pushed value becomes JSON, and how a request id becomes text.
#pragma once

#include <QJsonValue>
#include <QString>
#include <QVariant>

namespace jcon {

// Fills json and returns true when the value's kind has a JSON form; unsigned integers, string lists,
// byte arrays, hashes and user types have none, so callers can answer with an error instead.
bool renderJsonValue(const QVariant& value, QJsonValue& json);

// The id is never echoed as it came: numbers and booleans become their text, anything without a
// text form (absent, null, array, object) becomes the empty text that marks a notification.
QString requestIdText(const QJsonValue& id);

} // namespace jcon
