// One command of Hamlib's network protocol (what its "NET rigctl" model sends) read from a line, and the forms of its
// answer: plain, or the extended form a leading '+', ';', '|' or ',' asks for. Pure logic, any thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QVariantMap>

class RigctlCommand
{
public:
    enum class Status {
        Command,
        // A blank line: nothing to answer.
        Empty,
        Unknown,
        MissingArguments,
    };
    struct Kind;

    // In VFO mode (the program asked for it) the commands that act on a VFO name it first.
    static RigctlCommand parse(const QByteArray& line, bool vfoMode = false);

    // Answered by the connection itself, without the radio: its VFO mode, the client-side lock, the goodbye.
    bool local() const;
    // The answer to a command that succeeded: a read's values in order, none for a set.
    QByteArray answer(const QStringList& values) const;
    // The answer to a command that failed or was refused, with Hamlib's (negative) error code.
    QByteArray report(int code) const;
    // What the radio's process is asked: a page's own request where one does the same (setting the frequency or
    // PTT of the current VFO), so both get the same answer from the radio; {"op": "rigctl", "command": long name,
    // "arguments": [...]} otherwise, with "vfo" in VFO mode.
    QVariantMap request() const;
    // Hamlib's code for the error text of an answer: Hamlib's own texts, Orvessa's refusals.
    static int codeOf(const QString& error);

    Status status = Status::Empty;
    // The long name ("set_freq"), whichever form the line used; empty unless the command is known.
    QByteArray name;
    // The VFO named in VFO mode; empty otherwise.
    QByteArray vfo;
    QList<QByteArray> arguments;
    // 0 for the plain form; what ends each line of the extended form otherwise.
    char separator = 0;

private:
    QByteArray header() const;

    const Kind* kind = nullptr;
};
