#include "device/ArchiveSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>

QString ArchiveSettings::description() const
{
    if (isSqlite())
        return QStringLiteral("SQLite %1").arg(database);
    return QStringLiteral("PostgreSQL %1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

QString ArchiveSettings::defaultSqlitePath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(folder).filePath(QStringLiteral("archive.sqlite"));
}

bool ArchiveSettings::readPasswordFile(const QString& path, QString* password, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("the archive's password file %1 does not exist").arg(path);
        return false;
    }
    const QFileDevice::Permissions others =
        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    if (info.permissions() & others) {
        *error = QStringLiteral("the archive's password file %1 can be read by others; make it readable by its owner "
                                "only (chmod 600)")
                     .arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the archive's password file %1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    *password = QString::fromUtf8(file.readLine()).trimmed();
    return true;
}

bool ArchiveSettings::load(const QSettings& settings, ArchiveSettings* out, QString* error)
{
    ArchiveSettings archive;
    const auto value = [&settings](
                           const char* key) { return settings.value(QStringLiteral("Archive/") + QLatin1String(key)); };
    archive.driver = value("Driver").toString().trimmed().toUpper();
    if (archive.driver.isEmpty())
        archive.driver = QString::fromLatin1(sqlite);
    if (archive.driver != QLatin1String(sqlite) && archive.driver != QLatin1String(postgres)) {
        *error = QStringLiteral("Archive/Driver \"%1\" is neither QSQLITE nor QPSQL").arg(archive.driver);
        return false;
    }
    archive.database = value("Database").toString();
    archive.host = value("Host").toString();
    archive.user = value("User").toString();
    archive.station = value("Station").toString().trimmed();
    if (archive.station.isEmpty())
        archive.station = QSysInfo::machineHostName();
    bool ok = true;
    if (value("Port").isValid()) {
        archive.port = value("Port").toInt(&ok);
        if (!ok || archive.port <= 0 || archive.port > 65535) {
            *error = QStringLiteral("Archive/Port \"%1\" is no port number").arg(value("Port").toString());
            return false;
        }
    }
    if (value("RetentionDays").isValid()) {
        archive.retentionDays = value("RetentionDays").toInt(&ok);
        if (!ok || archive.retentionDays < 1) {
            *error = QStringLiteral("Archive/RetentionDays must be a whole number of days, at least 1");
            return false;
        }
    }
    if (value("MaxSizeMB").isValid()) {
        archive.maxSizeMb = value("MaxSizeMB").toLongLong(&ok);
        if (!ok || archive.maxSizeMb < 1) {
            *error = QStringLiteral("Archive/MaxSizeMB must be a whole number of megabytes, at least 1");
            return false;
        }
    }
    if (archive.isSqlite()) {
        if (archive.database.isEmpty())
            archive.database = defaultSqlitePath();
    } else {
        if (archive.host.isEmpty())
            archive.host = QStringLiteral("localhost");
        if (archive.database.isEmpty())
            archive.database = QStringLiteral("tesmar");
        const QByteArray fromEnvironment = qgetenv("TESMAR_ARCHIVE_PASSWORD");
        const QString passwordFile = value("PasswordFile").toString();
        if (!fromEnvironment.isEmpty())
            archive.password = QString::fromUtf8(fromEnvironment);
        else if (!passwordFile.isEmpty() && !readPasswordFile(passwordFile, &archive.password, error))
            return false;
    }
    *out = archive;
    return true;
}
