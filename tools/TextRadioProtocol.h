// A radio whose computer port speaks a text protocol of two-letter commands ending in ';' (Yaesu's and Kenwood's
// CAT): cuts the commands, answers what such radios answer alike (identity, power, the two VFOs' frequencies,
// the status line) and hands the rest to the model. Pure logic, no I/O.
#pragma once

#include "RadioProtocol.h"

class TextRadioProtocol : public RadioProtocol
{
public:
    QByteArray takeCommand(QByteArray& pending) override { return takeTextCommand(pending); }
    // Takes one command without its terminating ';' and returns the whole answer, ';' included: "?;" for a
    // command the radio refuses, an empty array where it stays silent (every accepted set command).
    QByteArray answer(const QByteArray& command) final;
    QByteArray printable(const QByteArray& command) const override { return command + ';'; }
    QByteArray refusal(const QByteArray&) const override { return refused; }

protected:
    static const QByteArray refused;

    // What the model answers to ID.
    virtual QByteArray identity() const = 0;
    // FA and FB carry this many digits and accept this range.
    virtual int frequencyDigits() const = 0;
    virtual qint64 highestFrequency() const = 0;
    virtual QByteArray statusLine() const = 0;
    // A command none of the shared ones: its name (two letters) and its argument, empty for a query.
    virtual QByteArray modelAnswer(const QByteArray& name, const QByteArray& argument) = 0;

    qint64 frequency(int vfo) const { return vfo == 1 ? frequencyB : frequencyA; }

    qint64 frequencyA = 14074000;
    qint64 frequencyB = 7074000;
    // The mode as the MD command carries it ('1' LSB, '2' USB, '3' CW, ...).
    char modeCode = '2';
    bool transmit = false;
};
