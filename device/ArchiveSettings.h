#pragma once

#include <QString>

class QSettings;

// Where the event log and the measurement archive are stored: the group [Archive] of the
// program's INI file.
//
//   Driver        QSQLITE (default) or QPSQL
//   Database      SQLite: file path (default archive.sqlite in the data folder);
//                 PostgreSQL: database name
//   Host, Port, User   PostgreSQL server and role
//   PasswordFile  file holding the password (first line); it must be readable by its owner only.
//                 TESMAR_ARCHIVE_PASSWORD in the environment takes precedence.
//   Station       name this station's rows carry (default: the host name)
//   RetentionDays how long measurements and events are kept (default 30)
//   MaxSizeMB     bound of this station's measurements; the oldest go first (default 4096)
struct ArchiveSettings
{
    static constexpr const char* sqlite = "QSQLITE";
    static constexpr const char* postgres = "QPSQL";

    QString driver = QString::fromLatin1(sqlite);
    QString database;
    QString host;
    int port = 5432;
    QString user;
    QString password;
    QString station;
    int retentionDays = 30;
    qint64 maxSizeMb = 4096;

    bool isSqlite() const { return driver == QLatin1String(sqlite); }
    // "SQLite /path/archive.sqlite" or "PostgreSQL user@host:port/database".
    QString description() const;

    // Reads the group [Archive] of `settings`; an unusable value (unknown driver, a password file
    // others can read) gives `error` and false; the settings then describe nothing to open.
    static bool load(const QSettings& settings, ArchiveSettings* out, QString* error);
    // The default SQLite file: archive.sqlite in QStandardPaths::AppDataLocation.
    static QString defaultSqlitePath();
    // Reads the password file: false with the reason when it is missing or readable by the group
    // or others.
    static bool readPasswordFile(const QString& path, QString* password, QString* error);
};
