// Where the bench's tools run a server: the offscreen platform, settings of its own in a temporary folder and
// fresh loopback ports; for Orvessa, its settings written and the machine-wide lock free. Used in the tool's thread.
#pragma once

#include <QStringList>
#include <QTemporaryDir>

class ServerHome
{
public:
    ServerHome();

    // The environment of a server: this process's own, with the display and the settings folder replaced.
    const QStringList& environment() const { return variables; }
    // Writes the settings of an everyday start on this port, the radios shared from sharePort when it is not 0.
    // False once another Orvessa has held the lock for a minute: later calls then fail at once.
    bool prepareOrvessa(quint16 port, quint16 sharePort = 0);

    // Ports free on 127.0.0.1 at the time of asking; 0 when none could be had.
    static quint16 freeTcpPort();
    static quint16 freeUdpPort();

private:
    QTemporaryDir config;
    QStringList variables;
    bool lockHeld = false;
};
