#include "RigctlCommand.h"

#include <hamlib/rig.h>

#include <array>
#include <cmath>
#include <cstring>

struct RigctlCommand::Kind
{
    char shortName;
    const char* longName;
    int arguments;
    // How the extended form names each value of a read, '|' between them; "" for a bare value.
    const char* labels;
    // Names a VFO first in VFO mode.
    bool targets;
    bool local;
};

namespace {

using Kind = RigctlCommand::Kind;

// What Hamlib's NET rigctl client and the programs that speak the protocol directly use of a radio. Long names only
// where the protocol has no letter.
const std::array<Kind, 26> kinds {{
    {'F', "set_freq", 1, "", true, false},       {'f', "get_freq", 0, "Frequency", true, false},
    {'M', "set_mode", 2, "", true, false},       {'m', "get_mode", 0, "Mode|Passband", true, false},
    {'V', "set_vfo", 1, "", false, false},       {'v', "get_vfo", 0, "VFO", false, false},
    {'T', "set_ptt", 1, "", true, false},        {'t', "get_ptt", 0, "PTT", true, false},
    {'S', "set_split_vfo", 2, "", true, false},  {'s', "get_split_vfo", 0, "Split|TX VFO", true, false},
    {'I', "set_split_freq", 1, "", true, false}, {'i', "get_split_freq", 0, "TX Frequency", true, false},
    {'X', "set_split_mode", 2, "", true, false}, {'x', "get_split_mode", 0, "TX Mode|TX Passband", true, false},
    {'L', "set_level", 2, "", true, false},      {'l', "get_level", 1, "", true, false},
    {'U', "set_func", 2, "", true, false},       {'u', "get_func", 1, "", true, false},
    {0, "set_powerstat", 1, "", false, false},   {0, "get_powerstat", 0, "Power Status", false, false},
    {0, "dump_state", 0, "", false, false},      {0, "chk_vfo", 0, "ChkVFO", false, true},
    {0, "set_vfo_opt", 1, "", false, true},      {0, "get_lock_mode", 0, "Locked", false, true},
    {'q', "quit", 0, "", false, true},           {'Q', "quit", 0, "", false, true},
}};

const Kind* find(const QByteArray& word, bool longName)
{
    for (const Kind& candidate : kinds) {
        if (longName ? word == candidate.longName : word.size() == 1 && word.at(0) == candidate.shortName) {
            return &candidate;
        }
    }
    return nullptr;
}

QByteArray trimmedStart(const QByteArray& text)
{
    int start = 0;
    while (start < text.size() && (text.at(start) == ' ' || text.at(start) == '\t')) {
        ++start;
    }
    return text.mid(start);
}

// The answers that stand apart: the VFO mode without a header or RPRT line, the lock mode with one in plain form too.
bool headless(const QByteArray& name)
{
    return name == "chk_vfo" || name == "quit";
}

} // namespace

RigctlCommand RigctlCommand::parse(const QByteArray& line, bool vfoMode)
{
    RigctlCommand command;
    QByteArray rest = trimmedStart(line);
    if (!rest.isEmpty() && std::strchr("+;|,", rest.at(0))) {
        command.separator = rest.at(0) == '+' ? '\n' : rest.at(0);
        rest = trimmedStart(rest.mid(1));
    }
    if (rest.isEmpty()) {
        return command;
    }
    const bool longName = rest.startsWith('\\');
    int end = 1;
    while (longName && end < rest.size() && rest.at(end) != ' ' && rest.at(end) != '\t') {
        ++end;
    }
    command.kind = find(longName ? rest.mid(1, end - 1) : rest.left(1), longName);
    if (!command.kind) {
        command.status = Status::Unknown;
        return command;
    }
    command.name = command.kind->longName;
    const bool namesVfo = vfoMode && command.kind->targets;
    const int wanted = command.kind->arguments + (namesVfo ? 1 : 0);
    for (const QByteArray& word : rest.mid(end).simplified().split(' ')) {
        if (!word.isEmpty() && command.arguments.size() < wanted) {
            command.arguments << word;
        }
    }
    if (command.arguments.size() < wanted) {
        command.status = Status::MissingArguments;
        return command;
    }
    if (namesVfo) {
        command.vfo = command.arguments.takeFirst();
    }
    command.status = Status::Command;
    return command;
}

bool RigctlCommand::local() const
{
    return kind && kind->local;
}

QByteArray RigctlCommand::header() const
{
    QByteArray text = name + ':';
    if (!vfo.isEmpty()) {
        text += ' ' + vfo;
    }
    for (const QByteArray& argument : arguments) {
        text += ' ' + argument;
    }
    return text + separator;
}

QByteArray RigctlCommand::answer(const QStringList& values) const
{
    if (!separator) {
        QByteArray text;
        for (const QString& value : values) {
            text += value.toUtf8();
            // The capability text ends its own lines.
            if (!text.endsWith('\n')) {
                text += '\n';
            }
        }
        return values.isEmpty() || name == "get_lock_mode" ? text + report(RIG_OK) : text;
    }
    const QList<QByteArray> labels = QByteArray(kind->labels).split('|');
    QByteArray text = headless(name) ? QByteArray() : header();
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray label = labels.value(i);
        text += (label.isEmpty() ? QByteArray() : label + ": ") + values.at(i).toUtf8();
        if (!text.endsWith('\n')) {
            text += headless(name) ? '\n' : separator;
        }
    }
    return headless(name) && !values.isEmpty() ? text : text + "RPRT 0\n";
}

QByteArray RigctlCommand::report(int code) const
{
    const QByteArray line = "RPRT " + QByteArray::number(code) + '\n';
    return separator && kind && !headless(name) ? header() + line : line;
}

QVariantMap RigctlCommand::request() const
{
    bool number = false;
    if (name == "set_freq" && vfo.isEmpty()) {
        const double hertz = arguments.value(0).toDouble(&number);
        if (number && std::isfinite(hertz) && hertz >= 0) {
            return {{QStringLiteral("op"), QStringLiteral("setFreq")}, {QStringLiteral("freq"), hertz}};
        }
    }
    if (name == "set_ptt" && vfo.isEmpty()) {
        const int ptt = arguments.value(0).toInt(&number);
        if (number && ptt >= RIG_PTT_OFF && ptt <= RIG_PTT_ON_DATA) {
            return {{QStringLiteral("op"), QStringLiteral("setPTT")}, {QStringLiteral("ptt"), ptt}};
        }
    }
    QVariantList texts;
    for (const QByteArray& argument : arguments) {
        texts << QString::fromUtf8(argument);
    }
    QVariantMap request {{QStringLiteral("op"), QStringLiteral("rigctl")},
                         {QStringLiteral("command"), QString::fromLatin1(name)},
                         {QStringLiteral("arguments"), texts}};
    if (!vfo.isEmpty()) {
        request.insert(QStringLiteral("vfo"), QString::fromUtf8(vfo));
    }
    return request;
}

int RigctlCommand::codeOf(const QString& error)
{
    for (int code = RIG_EINVAL; code < RIG_EEND; ++code) {
        if (QString::fromUtf8(rigerror2(-code)).trimmed() == error) {
            return -code;
        }
    }
    if (error.startsWith(QLatin1String("Rig busy"))) {
        return -RIG_BUSBUSY;
    }
    // A radio's process that is gone, or a radio no longer connected: to Hamlib, the port failed.
    return error.startsWith(QLatin1String("Invalid")) ? -RIG_EINVAL : -RIG_EIO;
}
