// A Kenwood TS-480 as its computer port sees it: the radio's state and its answer to each command.
// Pure logic, no I/O; the owner feeds it one command at a time from whatever thread it lives in.
#pragma once

#include "RadioProtocol.h"

class Ts480Protocol : public RadioProtocol
{
public:
    // Hamlib's model number for this radio.
    static constexpr unsigned modelId = 2028;

    unsigned model() const override { return modelId; }
    QString name() const override { return QStringLiteral("Kenwood TS-480"); }
    QString lacks() const override;
    QByteArray takeCommand(QByteArray& pending) override { return takeTextCommand(pending); }
    // Takes one command without its terminating ';' and returns the whole answer, ';' included: "?;" for a
    // command the radio refuses, an empty array where it stays silent (every accepted set command).
    QByteArray answer(const QByteArray& command) override;
    QByteArray printable(const QByteArray& command) const override { return command + ';'; }

    qint64 frequency(int vfo) const { return vfo == 1 ? frequencyB : frequencyA; }
    // The mode as the MD command carries it: '1' LSB, '2' USB, '3' CW, '4' FM, '5' AM, '6' FSK, '7' CW-R, '9' FSK-R.
    char mode() const { return modeCode; }
    bool transmitting() const { return transmit; }
    // 0 VFO A, 1 VFO B.
    int vfo() const { return receiveVfo; }

    // Meter readings on the radio's own scale, 0 to 30.
    int signal() const { return signalMeter; }
    void setSignal(int value) { signalMeter = value; }
    int alc() const { return alcMeter; }
    void setAlc(int value) { alcMeter = value; }

private:
    QByteArray statusLine() const;
    QByteArray meterReadings() const;
    // The FW value of the current mode: the CW or FSK filter's width in hertz, narrow (0) or wide (1) elsewhere.
    int& filterWidth();
    // The index of the low (SL) or high (SH) cut of the current voice mode; null in CW and FSK, which have none.
    int* cut(bool high);

    qint64 frequencyA = 14074000;
    qint64 frequencyB = 7074000;
    char modeCode = '2';
    bool transmit = false;
    int receiveVfo = 0;
    int transmitVfo = 0;
    int autoInformation = 0;
    // Words per minute of the built-in keyer.
    int keyerSpeed = 20;
    int cwWidth = 500;
    int fskWidth = 500;
    int voiceWidth = 0;
    // Low and high cut of SSB, FM and AM: indexes into the radio's tables (AM's only go to 3).
    int cuts[3][2] = {{3, 8}, {3, 8}, {0, 3}};
    // The meter the front panel shows while transmitting: 1 SWR, 2 COMP, 3 ALC.
    int meter = 3;
    int signalMeter = 15;
    int alcMeter = 10;
};
