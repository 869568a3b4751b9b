#pragma once

#include "device/ArchiveSettings.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A PostgreSQL server of a test's own: initdb and postgres from /usr/lib/postgresql/*/bin in a
// scratch folder, listening on 127.0.0.1 and a free port, role "tesmar" with trust
// authentication. PostgreSQL refuses to run as root: then it runs as "nobody".
//
// The server is a direct child of the test, not a daemon: every wait on it is bounded, the
// destructor stops a server that still runs, and a test that dies takes its server with it
// (no server outlives the test holding its ports or the test runner's output).
class PostgresServer
{
public:
    PostgresServer();
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // The folder of initdb and postgres; empty when no server is installed.
    static QString binaryFolder();

    // initdb (first time only), start, and wait until the server accepts connections; false with
    // the reason.
    bool start(QString* error);
    // Fast shutdown (open connections are ended); killed when it takes longer than a few seconds.
    bool stop(QString* error = nullptr);
    bool isRunning() const { return m_server != nullptr; }

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    static QString user() { return QStringLiteral("tesmar"); }
    static QString database() { return QStringLiteral("postgres"); }
    // Archive settings for this server, the rows marked with `station`.
    ArchiveSettings archiveSettings(const QString& station) const;

private:
    bool run(const QString& program, const QStringList& arguments, QString* error, int timeoutMs = 60000);
    // Runs the child as "nobody" when we are root, and ends it when the test ends.
    void prepareChild(QProcess& process) const;
    bool serverReady() const;

    QTemporaryDir m_folder;
    QString m_bin;
    quint16 m_port = 0;
    bool m_initialised = false;
    std::unique_ptr<QProcess> m_server;
};
