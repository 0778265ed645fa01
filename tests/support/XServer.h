// A private virtual X server for tests that need real windows and synthetic key presses.
#pragma once

#include <QProcess>
#include <QString>

class XServer
{
public:
    XServer();
    ~XServer();

    bool isRunning() const { return !display.isEmpty(); }
    // ":N", for the DISPLAY of child processes.
    QString displayName() const { return display; }
    // Runs xdotool against this display; returns its standard output, or a null string on failure.
    QString xdotool(const QStringList& arguments, int timeoutMs = 10000) const;

private:
    QProcess server;
    QString display;
};
