#pragma once

#include "device/ArchiveSettings.h"

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL server of a test's own: initdb and pg_ctl from /usr/lib/postgresql/*/bin in a
// scratch folder, listening on 127.0.0.1 and a free port, role "tesmar" with trust
// authentication. PostgreSQL refuses to run as root: then it runs as "nobody" through runuser.
// The destructor stops a server that still runs.
class PostgresServer
{
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // The folder of initdb and pg_ctl; empty when no server is installed.
    static QString binaryFolder();

    // initdb (first time only) and start; false with the reason.
    bool start(QString* error);
    // pg_ctl stop -m fast.
    bool stop(QString* error = nullptr);
    bool isRunning() const { return m_running; }

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    static QString user() { return QStringLiteral("tesmar"); }
    static QString database() { return QStringLiteral("postgres"); }
    // Archive settings for this server, the rows marked with `station`.
    ArchiveSettings archiveSettings(const QString& station) const;

private:
    bool run(const QString& program, const QStringList& arguments, QString* error, int timeoutMs = 60000);

    QTemporaryDir m_folder;
    QString m_bin;
    quint16 m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
};
