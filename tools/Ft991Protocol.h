// A Yaesu FT-991 as its computer port sees it: the radio's state and its answer to each CAT command.
// Pure logic, no I/O; the owner feeds it one command at a time from whatever thread it lives in.
#pragma once

#include "TextRadioProtocol.h"

class Ft991Protocol : public TextRadioProtocol
{
public:
    // Hamlib's model number for this radio.
    static constexpr unsigned modelId = 1035;

    unsigned model() const override { return modelId; }
    QString name() const override { return QStringLiteral("Yaesu FT-991"); }
    QString lacks() const override { return {}; }

private:
    QByteArray identity() const override { return QByteArrayLiteral("0570"); }
    int frequencyDigits() const override { return 9; }
    qint64 highestFrequency() const override { return 470000000; }
    QByteArray statusLine() const override;
    QByteArray modelAnswer(const QByteArray& name, const QByteArray& argument) override;
    QByteArray meterReading(char meter) const;

    int currentVfo = 0;
    int transmitVfo = 0;
    int width = 16;
    bool narrowFilter = false;
    bool autoInformation = false;
    bool catRts = true;
    int signalMeter = 120;
    int alcMeter = 60;
};
