// Start-up helpers of the main thread: the single-instance lock and the origin allow-list.
#pragma once

#include <QStringList>

inline constexpr const char* instanceLockPath = "/tmp/.34x8gnxf38ny4ubf43.lock";

// Takes the machine-wide lock and keeps it for the life of the process. True only when another
// process holds it; a lock file that cannot be opened or locked never stops the program.
bool isAlreadyRunning(const char* lockPath = instanceLockPath);

// The https origins of the trusted sites: the eight hosts, then the www. form of hosts two to eight.
QStringList allowedOrigins();

// Every client takes a descriptor: the soft limit (often 1024) goes up to what the system allows.
void raiseDescriptorLimit();

// Marks every descriptor open at start, but for standard input, output and error, close-on-exec: what libraries
// open as they load (Hamlib's INDI client opens two sockets) or the program was started with stays out of the
// programs Orvessa starts (a radio's process, a browser from the tray).
void keepDescriptorsFromChildren();
