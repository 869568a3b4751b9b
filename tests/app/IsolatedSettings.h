#pragma once

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

// Points HOME and XDG_CONFIG_HOME of this process (and of every child it starts) at a fresh
// temporary folder, so no QSettings file of the user is read or written. Create it first thing
// in main(), before the application object and before any settings are opened.
class IsolatedSettings
{
public:
    IsolatedSettings()
    {
        qputenv("HOME", m_dir.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", configPath().toLocal8Bit());
        QDir().mkpath(configPath());
    }

    QString configPath() const { return m_dir.path() + QStringLiteral("/config"); }
    // Where the program keeps its settings files ("tesmarcontrol", "addresslock", ...).
    QString settingsFile(const QString& application) const
    {
        return configPath() + QStringLiteral("/Tesmar/") + application + QStringLiteral(".ini");
    }

private:
    QTemporaryDir m_dir;
};
