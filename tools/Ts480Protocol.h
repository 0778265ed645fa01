// A Kenwood TS-480 as its computer port sees it: the radio's state and its answer to each command.
// Pure logic, no I/O; the owner feeds it one command at a time from whatever thread it lives in.
#pragma once

#include "TextRadioProtocol.h"

class Ts480Protocol : public TextRadioProtocol
{
public:
    // Hamlib's model number for this radio.
    static constexpr unsigned modelId = 2028;

    unsigned model() const override { return modelId; }
    QString name() const override { return QStringLiteral("Kenwood TS-480"); }
    QString lacks() const override;

private:
    QByteArray identity() const override { return QByteArrayLiteral("020"); }
    int frequencyDigits() const override { return 11; }
    qint64 highestFrequency() const override { return 60000000; }
    QByteArray statusLine() const override;
    QByteArray modelAnswer(const QByteArray& name, const QByteArray& argument) override;
    QByteArray meterReadings() const;
    // The FW value of the current mode: the CW or FSK filter's width in hertz, narrow (0) or wide (1) elsewhere.
    int& filterWidth();
    // The index of the low (SL) or high (SH) cut of the current voice mode; null in CW and FSK, which have none.
    int* cut(bool high);

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
