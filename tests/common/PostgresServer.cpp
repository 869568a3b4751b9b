#include "PostgresServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <QDeadlineTimer>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
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
    stop();
}

QString PostgresServer::binaryFolder()
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    const QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString& version : found) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/postgres")))
            return bin;
    }
    return {};
}

void PostgresServer::prepareChild(QProcess& process) const
{
    process.setWorkingDirectory(m_folder.path());
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        // Looked up here: the child may only make async-signal-safe calls.
        if (const passwd* nobody = ::getpwnam("nobody")) {
            uid = nobody->pw_uid;
            gid = nobody->pw_gid;
        }
    }
    const bool dropRoot = ::geteuid() == 0;
    process.setChildProcessModifier([dropRoot, uid, gid] {
        if (dropRoot) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
        }
        // After the change of user, which clears it: the child dies with the test.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
}

bool PostgresServer::run(const QString& program, const QStringList& arguments, QString* error, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    prepareChild(process);
    process.start(m_bin + QLatin1Char('/') + program, arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (error)
        *error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
    if (!finished)
        process.kill();
    return false;
}

bool PostgresServer::serverReady() const
{
    // The server writes "ready" into the status line of its pid file once it accepts connections.
    QFile pidFile(m_folder.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = pidFile.readAll().split('\n');
    return lines.size() > 7 && lines.at(7).trimmed() == "ready";
}

bool PostgresServer::start(QString* error)
{
    if (m_bin.isEmpty()) {
        *error = QStringLiteral("no PostgreSQL server in /usr/lib/postgresql");
        return false;
    }
    if (m_server)
        return true;
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
    auto server = std::make_unique<QProcess>();
    prepareChild(*server);
    const QString log = m_folder.filePath(QStringLiteral("server.log"));
    server->setStandardInputFile(QProcess::nullDevice());
    server->setStandardOutputFile(log, QIODevice::Append);
    server->setStandardErrorFile(log, QIODevice::Append);
    server->start(m_bin + QStringLiteral("/postgres"),
        {QStringLiteral("-D"), data, QStringLiteral("-h"), host(), QStringLiteral("-p"), QString::number(m_port),
            QStringLiteral("-k"), m_folder.path(), QStringLiteral("-c"), QStringLiteral("fsync=off")});
    if (!server->waitForStarted(10000)) {
        *error = QStringLiteral("postgres did not start: %1").arg(server->errorString());
        return false;
    }
    QDeadlineTimer deadline(30000);
    while (!serverReady()) {
        if (server->state() == QProcess::NotRunning || server->waitForFinished(20) || deadline.hasExpired()) {
            QFile logFile(log);
            logFile.open(QIODevice::ReadOnly);
            *error = QStringLiteral("postgres did not become ready: %1").arg(QString::fromLocal8Bit(logFile.readAll()));
            server->kill();
            server->waitForFinished(5000);
            return false;
        }
    }
    m_server = std::move(server);
    return true;
}

bool PostgresServer::stop(QString* error)
{
    if (!m_server)
        return true;
    const std::unique_ptr<QProcess> server = std::move(m_server);
    // SIGINT is the server's fast shutdown.
    ::kill(pid_t(server->processId()), SIGINT);
    if (server->waitForFinished(15000))
        return true;
    server->kill();
    server->waitForFinished(5000);
    if (error)
        *error = QStringLiteral("postgres did not shut down within 15 s and was killed");
    return false;
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
