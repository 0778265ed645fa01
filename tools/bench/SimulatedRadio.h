// A simulated FT-991 served by a thread of its own, so that the bench's thread can block in Hamlib or in its
// clients meanwhile. Every method is called from the thread that created it.
#pragma once

#include <QString>
#include <QThread>

class PtyRadio;

class SimulatedRadio
{
public:
    SimulatedRadio();
    ~SimulatedRadio();
    SimulatedRadio(const SimulatedRadio&) = delete;
    SimulatedRadio& operator=(const SimulatedRadio&) = delete;

    // The pseudo-terminal to hand to Hamlib; empty when none could be made.
    QString portName() const { return port; }
    int commandCount() const;
    // A silent radio keeps receiving and counting commands but answers none.
    void setAnswering(bool on);

private:
    QThread thread;
    PtyRadio* radio;
    QString port;
};
