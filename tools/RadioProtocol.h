// One simulated radio as its computer port sees it: how commands are cut from the bytes that arrive, the radio's
// answer to each and how a command reads on a console. Pure logic, no I/O; used from its owner's thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class RadioProtocol
{
public:
    virtual ~RadioProtocol() = default;

    // The radios this program can play, by Hamlib model number; the FT-991 first, as the default.
    static QVector<unsigned> models();
    // The radio Hamlib knows by this model number; null for one this program cannot play.
    static std::unique_ptr<RadioProtocol> create(unsigned model);

    virtual unsigned model() const = 0;
    // Maker and model, e.g. "Yaesu FT-991".
    virtual QString name() const = 0;
    // What a program using Hamlib with this model cannot read from the radio; empty when nothing is missing.
    virtual QString lacks() const = 0;

    // Removes the bytes of the first complete command from pending and returns the command; empty while none is
    // complete. Bytes that cannot belong to a command are dropped on the way.
    virtual QByteArray takeCommand(QByteArray& pending) = 0;
    // Every byte the radio sends back for one command; empty where it stays silent.
    virtual QByteArray answer(const QByteArray& command) = 0;
    // One command as a person reads it on a console, on one line.
    virtual QByteArray printable(const QByteArray& command) const = 0;
    // What the radio sends back for a command it refuses (its negative acknowledgement).
    virtual QByteArray refusal(const QByteArray& command) const = 0;

protected:
    // Commands of the text protocols end with ';'; the ';' is not part of the command. Empty commands are skipped.
    static QByteArray takeTextCommand(QByteArray& pending);
    // Text protocols carry numbers as fixed-width runs of decimal digits.
    static bool allDigits(const QByteArray& text);
    static QByteArray number(qint64 value, int width);
};
