// A Yaesu FT-991 as its computer port sees it: the radio's state and its answer to each CAT command.
// Pure logic, no I/O; the owner feeds it one command at a time from whatever thread it lives in.
#pragma once

#include "RadioProtocol.h"

class Ft991Protocol : public RadioProtocol
{
public:
    // Hamlib's model number for this radio.
    static constexpr unsigned modelId = 1035;

    unsigned model() const override { return modelId; }
    QString name() const override { return QStringLiteral("Yaesu FT-991"); }
    QString lacks() const override { return {}; }
    QByteArray takeCommand(QByteArray& pending) override { return takeTextCommand(pending); }
    // Takes one command without its terminating ';' and returns the whole answer, ';' included: "?;" for
    // a command the radio refuses, an empty array where it stays silent (every accepted set command).
    QByteArray answer(const QByteArray& command) override;
    QByteArray printable(const QByteArray& command) const override { return command + ';'; }

    qint64 frequency(int vfo) const { return vfo == 1 ? frequencyB : frequencyA; }
    // The mode as the MD command carries it: '1' LSB, '2' USB, '3' CW, '4' FM, '5' AM, 'C' DATA-USB, ...
    char mode() const { return modeCode; }
    bool transmitting() const { return transmit; }
    // 0 VFO A, 1 VFO B.
    int vfo() const { return currentVfo; }
    int widthIndex() const { return width; }
    bool narrow() const { return narrowFilter; }

    // Meter readings on the radio's own scale, 0 to 255.
    int signal() const { return signalMeter; }
    void setSignal(int value) { signalMeter = value; }
    int alc() const { return alcMeter; }
    void setAlc(int value) { alcMeter = value; }

private:
    QByteArray statusLine() const;
    QByteArray meterReading(char meter) const;

    qint64 frequencyA = 14074000;
    qint64 frequencyB = 7074000;
    char modeCode = '2';
    bool transmit = false;
    int currentVfo = 0;
    int transmitVfo = 0;
    int width = 16;
    bool narrowFilter = false;
    bool autoInformation = false;
    bool catRts = true;
    int signalMeter = 120;
    int alcMeter = 60;
};
