#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// Names shared by the program's windows and its settings files. Header-only, no Qt widgets, so
// the device library may use it as well.
namespace ApplicationIdentity {
// Shown in window titles and as the title of every message box.
inline constexpr const char* applicationName = "Tesmar SNMP Control";
inline QString title()
{
    return QString::fromLatin1(applicationName);
}
inline constexpr const char* version = "1.0.8.6";
// QSettings identity: INI files under <user config folder>/Tesmar/.
inline constexpr const char* organisationName = "Tesmar";
inline constexpr const char* settingsApplicationName = "tesmarcontrol";
inline constexpr const char* addressLockApplicationName = "addresslock";
inline constexpr const char* resolutionApplicationName = "resolution";
// The program's main settings file: <user config folder>/Tesmar/tesmarcontrol.ini.
inline std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(organisationName),
        QString::fromLatin1(settingsApplicationName));
}
// The crate address used when the settings hold none: the loopback address, where the bundled
// simulator listens. A private network address as default would send SNMP requests, and later
// switch commands, to whatever device happens to sit at it.
inline constexpr const char* defaultCrateAddress = "127.0.0.1";
} // namespace ApplicationIdentity
