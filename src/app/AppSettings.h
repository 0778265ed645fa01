// The identity of the program and the keys of its one settings store, with their defaults.
#pragma once

#include <QString>

namespace AppSettings {

inline const QString version = QStringLiteral("25.12.0");
inline const QString applicationName = QStringLiteral("Orvessa");
inline const QString organizationName = QStringLiteral("Marovell");
inline const QString organizationDomain = QStringLiteral("marovell.example");

// TCP port of the WebSocket server; values outside the valid range fall back to the default.
inline const QString serverPortKey = QStringLiteral("serverPort1");
constexpr int defaultServerPort = 7351;
constexpr int lowestServerPort = 1024;
constexpr int highestServerPort = 65535;

// A stored port as it stands when it is in the valid range, the fallback otherwise.
constexpr int portOr(int port, int fallback)
{
    return port >= lowestServerPort && port <= highestServerPort ? port : fallback;
}

// Whether the connected radios are also served to the desktop programs of this computer (Hamlib's network
// protocol on 127.0.0.1), and the first port tried for them; a port outside the valid range means the default.
inline const QString shareRadiosKey = QStringLiteral("shareRadios");
constexpr bool defaultShareRadios = false;
inline const QString sharePortKey = QStringLiteral("sharePort1");
constexpr int defaultSharePort = 4532;

// The version for which the tray has shown its one-time "Ready in background" message.
inline const QString notificationShownKey = QStringLiteral("notificationShown");
inline const QString defaultNotificationShown;

// Set once the tray has written the autostart entry on a first run.
inline const QString autostartInstalledKey = QStringLiteral("autostart_installed");
constexpr bool defaultAutostartInstalled = false;

} // namespace AppSettings
