// The desktop autostart entry that starts the program at log-in. Main thread only.
#pragma once

#include <QString>

// <configuration folder>/autostart/Orvessa.desktop
QString autostartFilePath();

// The program path as the Exec key must carry it: unchanged when it holds nothing the desktop-entry
// format reserves, otherwise quoted and escaped so the desktop still finds the program.
QString desktopExecValue(const QString& programPath);

// The eight lines of the entry for the given program, each ending in a line feed.
QString autostartEntryText(const QString& programPath);

void createAutostartEntry();
void removeAutostartEntry();
bool autostartEntryExists();
