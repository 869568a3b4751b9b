#include "PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <unistd.h>

namespace {
quint16 freeTcpPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}
} // namespace

PostgresServer::PostgresServer()
    : m_bin(binaryFolder())
{
    // The server's user (nobody when we are root) must reach the scratch folder.
    QFile::setPermissions(m_folder.path(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
            | QFileDevice::WriteOther | QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::WriteGroup
            | QFileDevice::ExeGroup);
}

PostgresServer::~PostgresServer()
{
    if (m_running)
        stop();
}

QString PostgresServer::binaryFolder()
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    const QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& version : found) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

bool PostgresServer::run(const QString& program, const QStringList& arguments, QString* error, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_folder.path());
    QStringList command = arguments;
    QString executable = m_bin + QLatin1Char('/') + program;
    if (::geteuid() == 0) {
        command = QStringList{QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), executable} + arguments;
        executable = QStringLiteral("runuser");
    }
    process.start(executable, command);
    const bool finished = process.waitForFinished(timeoutMs);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
    if (!finished)
        process.kill();
    return false;
}

bool PostgresServer::start(QString* error)
{
    if (m_bin.isEmpty()) {
        *error = QStringLiteral("no PostgreSQL server in /usr/lib/postgresql");
        return false;
    }
    const QString data = m_folder.filePath(QStringLiteral("data"));
    if (!m_initialised) {
        if (!run(QStringLiteral("initdb"),
                {QStringLiteral("-D"), data, QStringLiteral("-U"), user(), QStringLiteral("--auth=trust"),
                    QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8")},
                error))
            return false;
        m_initialised = true;
        m_port = freeTcpPort();
    }
    const QString options = QStringLiteral("-h 127.0.0.1 -p %1 -k %2 -c fsync=off").arg(m_port).arg(m_folder.path());
    if (!run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
                m_folder.filePath(QStringLiteral("server.log")), QStringLiteral("-w"), QStringLiteral("start")},
            error))
        return false;
    m_running = true;
    return true;
}

bool PostgresServer::stop(QString* error)
{
    if (!m_running)
        return true;
    m_running = false;
    return run(QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), m_folder.filePath(QStringLiteral("data")), QStringLiteral("-m"), QStringLiteral("fast"),
            QStringLiteral("-w"), QStringLiteral("stop")},
        error);
}

ArchiveSettings PostgresServer::archiveSettings(const QString& station) const
{
    ArchiveSettings settings;
    settings.driver = QString::fromLatin1(ArchiveSettings::postgres);
    settings.host = host();
    settings.port = port();
    settings.user = user();
    settings.database = database();
    settings.station = station;
    return settings;
}
