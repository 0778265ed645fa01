// Who else has a device open, and holding a serial device so that nobody opens it beside us. Used by a radio's own
// process around Hamlib's open and close; system calls only, any thread.
#pragma once

#include <QString>
#include <QVector>

class DeviceUsers
{
public:
    struct User
    {
        int pid = 0;
        QString program;
    };

    // The other processes that have the device open, as far as /proc lets this user see. A process that also holds
    // the master side of a pseudo-terminal is that terminal's far end (a simulator, a bridge), not a user of it.
    static QVector<User> of(const QString& device);
    // "program (pid N)" for each user, comma-separated; empty when there is none.
    static QString describe(const QVector<User>& users);

    // Sets or clears exclusive use on every descriptor this process holds on the device: while set, an open by any
    // other program (root excepted) fails with "device busy". Nothing happens to what is not a terminal.
    static void holdExclusively(const QString& device, bool on = true);
};
