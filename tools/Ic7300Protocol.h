// An Icom IC-7300 as its CI-V port sees it: the radio's state and its answer to each frame.
// Pure logic, no I/O; the owner feeds it one frame at a time from whatever thread it lives in.
#pragma once

#include "RadioProtocol.h"

class Ic7300Protocol : public RadioProtocol
{
public:
    // Hamlib's model number for this radio, and the radio's CI-V address as it leaves the factory.
    static constexpr unsigned modelId = 3073;
    static constexpr char address = char(0x94);

    unsigned model() const override { return modelId; }
    QString name() const override { return QStringLiteral("Icom IC-7300"); }
    QString lacks() const override { return {}; }
    // Frames run from the preamble FE FE to FD; a preamble inside a frame starts a new one, as after a collision.
    QByteArray takeCommand(QByteArray& pending) override;
    // Takes one whole frame, preamble and FD included, and returns what the radio sends back: the frame itself
    // when echo is on, then its reply to the controller, if any.
    QByteArray answer(const QByteArray& command) override;
    // Hexadecimal bytes separated by spaces, e.g. "FE FE 94 E0 03 FD".
    QByteArray printable(const QByteArray& command) const override { return command.toHex(' ').toUpper(); }
    // NG (FA) to the frame's sender.
    QByteArray refusal(const QByteArray& command) const override;

    // Off, as the radio's USB port leaves the factory; on, as on the CI-V bus, where every byte is heard back.
    void setEcho(bool on) { echo = on; }
    qint64 frequency(int vfo) const { return vfos[vfo].frequency; }
    // The mode as CI-V carries it: 0 LSB, 1 USB, 2 AM, 3 CW, 4 RTTY, 5 FM, 7 CW-R, 8 RTTY-R.
    int mode() const { return vfos[currentVfo].mode; }
    bool dataMode() const { return vfos[currentVfo].data; }
    // 1 to 3, FIL1 the widest.
    int filter() const { return vfos[currentVfo].filter; }
    // The width of the current filter in hertz.
    int width() const;
    bool transmitting() const { return transmit; }
    // 0 VFO A, 1 VFO B.
    int vfo() const { return currentVfo; }

    // Meter readings on the radio's own scale, 0 to 255.
    int signal() const { return signalMeter; }
    void setSignal(int value) { signalMeter = value; }
    int alc() const { return alcMeter; }
    void setAlc(int value) { alcMeter = value; }

private:
    // What each of the two VFOs holds.
    struct Vfo
    {
        qint64 frequency;
        int mode;
        bool data;
        int filter;
    };

    QByteArray reply(char to, const QByteArray& body) const;
    QByteArray dispatch(const QByteArray& body);
    QByteArray selectVfo(const QByteArray& data);
    QByteArray setFrequency(Vfo& vfo, const QByteArray& bcd);
    // mode, then optionally the data switch (when withData) and the filter.
    QByteArray setMode(Vfo& vfo, const QByteArray& data, bool withData);
    QByteArray dataSwitch(const QByteArray& body);
    QByteArray filterWidth(const QByteArray& data);
    QByteArray meter(const QByteArray& body);
    // The selected VFO for 00, the other one for 01; null for anything else.
    Vfo* pick(const QByteArray& data);

    Vfo vfos[2] = {{14074000, 1, false, 1}, {7074000, 1, false, 1}};
    // The widths of FIL1 to FIL3 in SSB, CW, RTTY, AM and FM.
    int filterWidths[5][3]
        = {{3000, 2400, 1800}, {1200, 500, 250}, {2400, 500, 250}, {9000, 6000, 3000}, {15000, 10000, 7000}};
    int currentVfo = 0;
    bool transmit = false;
    bool split = false;
    bool echo = false;
    int signalMeter = 120;
    int alcMeter = 60;
};
