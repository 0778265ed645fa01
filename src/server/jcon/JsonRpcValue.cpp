#include "JsonRpcValue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
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

char hexDigit(uint value)
{
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

void writeEscapedUnit(ushort unit, QByteArray& text)
{
    text += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += hexDigit((unit >> shift) & 0xf);
    }
}

void indentTo(int indent, QByteArray& text)
{
    text.append(4 * indent, ' ');
}

// The same layout for a value that only Qt's conversion knows (numbers of every kind, bytes, hashes, ...).
void writeJsonValue(const QJsonValue& value, int indent, QByteArray& text)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        text += value.toBool() ? "true" : "false";
        break;
    case QJsonValue::String:
        writeJsonString(value.toString(), text);
        break;
    case QJsonValue::Double: {
        // Qt's own number text: it differs from plain printf forms in ways a page may compare.
        const QByteArray number = QJsonDocument(QJsonArray {value}).toJson(QJsonDocument::Compact);
        text += number.mid(1, number.size() - 2);
        break;
    }
    case QJsonValue::Array:
        writeJson(value.toArray().toVariantList(), indent, text);
        break;
    case QJsonValue::Object:
        writeJson(value.toObject().toVariantMap(), indent, text);
        break;
    default:
        text += "null";
    }
}

} // namespace

bool isRenderable(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::UnknownType:
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::QString:
        return true;
    default:
        return false;
    }
}

void writeJsonString(const QString& string, QByteArray& text)
{
    text.reserve(text.size() + string.size() + 2);
    text += '"';
    const QChar* const end = string.constEnd();
    for (const QChar* c = string.constBegin(); c != end; ++c) {
        const ushort unit = c->unicode();
        if (unit >= 0x20 && unit < 0x80 && unit != '"' && unit != '\\') {
            // A run of characters written as they are, in one go.
            const QChar* run = c;
            while (run != end && run->unicode() >= 0x20 && run->unicode() < 0x80 && run->unicode() != '"'
                   && run->unicode() != '\\') {
                ++run;
            }
            text += QStringView(c, run).toLatin1();
            c = run - 1;
        } else if (unit < 0x80) {
            text += '\\';
            switch (unit) {
            case '"':
            case '\\':
                text += char(unit);
                break;
            case '\b':
                text += 'b';
                break;
            case '\f':
                text += 'f';
                break;
            case '\n':
                text += 'n';
                break;
            case '\r':
                text += 'r';
                break;
            case '\t':
                text += 't';
                break;
            default:
                text.chop(1);
                writeEscapedUnit(unit, text);
            }
        } else if (c->isHighSurrogate() && c + 1 != end && (c + 1)->isLowSurrogate()) {
            text += QString(c, 2).toUtf8();
            ++c;
        } else if (c->isSurrogate()) {
            // A lone half of a pair has no UTF-8 form.
            writeEscapedUnit(unit, text);
        } else {
            text += QString(*c).toUtf8();
        }
    }
    text += '"';
}

void writeJson(const QVariant& value, int indent, QByteArray& text)
{
    switch (value.userType()) {
    case QMetaType::UnknownType:
        text += "null";
        break;
    case QMetaType::QString:
        writeJsonString(value.toString(), text);
        break;
    case QMetaType::Bool:
        text += value.toBool() ? "true" : "false";
        break;
    case QMetaType::Int:
        text += QByteArray::number(value.toInt());
        break;
    case QMetaType::QByteArray: {
        // A relayed datagram in Base64: printable ASCII that needs no escape is written as it is.
        const QByteArray bytes = value.toByteArray();
        if (std::all_of(
                bytes.cbegin(), bytes.cend(), [](char c) { return c >= 0x20 && c < 0x7f && c != '"' && c != '\\'; })) {
            text += '"' + bytes + '"';
        } else {
            writeJsonValue(QJsonValue::fromVariant(value), indent, text);
        }
        break;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        text += "[\n";
        for (int i = 0; i < list.size(); ++i) {
            indentTo(indent + 1, text);
            writeJson(list.at(i), indent + 1, text);
            text += i + 1 < list.size() ? ",\n" : "\n";
        }
        indentTo(indent, text);
        text += ']';
        break;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        text += "{\n";
        for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
            indentTo(indent + 1, text);
            writeJsonString(entry.key(), text);
            text += ": ";
            writeJson(entry.value(), indent + 1, text);
            text += std::next(entry) != map.cend() ? ",\n" : "\n";
        }
        indentTo(indent, text);
        text += '}';
        break;
    }
    default:
        writeJsonValue(QJsonValue::fromVariant(value), indent, text);
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
