#pragma once

#include <QByteArray>
#include <QDir>
#include <QSettings>
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

    // Writes one key of a settings file the way another instance or the user would; an invalid
    // value removes the key.
    void setValue(const QString& application, const QString& key, const QVariant& value) const
    {
        QSettings file(settingsFile(application), QSettings::IniFormat);
        if (value.isValid())
            file.setValue(key, value);
        else
            file.remove(key);
        file.sync();
    }

    QVariant value(const QString& application, const QString& key) const
    {
        return QSettings(settingsFile(application), QSettings::IniFormat).value(key);
    }

    void clear(const QString& application) const
    {
        QSettings file(settingsFile(application), QSettings::IniFormat);
        file.clear();
        file.sync();
    }

private:
    QTemporaryDir m_dir;
};
