#include "SimulatorProcess.h"

#include "TestPaths.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSettings>
#include <QUdpSocket>

#include <csignal>
#include <cstdio>

SimulatorProcess::SimulatorProcess()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

SimulatorProcess::~SimulatorProcess()
{
    if (isRunning())
        stop();
}

quint16 SimulatorProcess::freeUdpPort()
{
    QUdpSocket socket;
    // No proxy look-up: it runs in a library thread and is pointless for a loopback port.
    socket.setProxy(QNetworkProxy::NoProxy);
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return 0;
    return socket.localPort();
}

QString SimulatorProcess::address() const
{
    return QStringLiteral("%1:%2").arg(host()).arg(m_port);
}

bool SimulatorProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

void SimulatorProcess::collectOutput()
{
    const QString out = QString::fromLocal8Bit(m_process.readAllStandardOutput());
    m_output += out;
    m_pendingLines += out;
    m_output += QString::fromLocal8Bit(m_process.readAllStandardError());
}

QString SimulatorProcess::readLine(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        collectOutput();
        const int newline = m_pendingLines.indexOf(QLatin1Char('\n'));
        if (newline >= 0) {
            const QString line = m_pendingLines.left(newline).trimmed();
            m_pendingLines.remove(0, newline + 1);
            return line;
        }
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || m_process.state() == QProcess::NotRunning)
            return QString();
        m_process.waitForReadyRead(int(qMin<qint64>(left, 100)));
    }
}

bool SimulatorProcess::start(int timeoutMs)
{
    // A port found free can be taken by someone else before the simulator binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeUdpPort();
        if (m_port == 0)
            continue;
        QStringList arguments{QStringLiteral("--listen"), address()};
        if (!m_configFile.isEmpty())
            arguments << QStringLiteral("--config") << m_configFile;
        arguments << m_extraArguments;
        m_output.clear();
        m_pendingLines.clear();
        m_process.start(QString::fromLatin1(TestPaths::simulator), arguments);
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            const QString line = readLine(int(timeoutMs - timer.elapsed()));
            if (line.startsWith(QLatin1String("listening")))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                break;
        }
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(2000);
            return false; // running but never ready: no point in another port
        }
    }
    return false;
}

bool SimulatorProcess::command(const QString& line, QString* answer, int timeoutMs)
{
    if (!isRunning())
        return false;
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(timeoutMs);
    const QString reply = readLine(timeoutMs);
    if (answer)
        *answer = reply;
    return reply == QLatin1String("ok") || reply.startsWith(QLatin1String("ok "));
}

void SimulatorProcess::exportLibraryEnvironment() const
{
    qputenv("TESMAR_SNMP_PORT", QByteArray::number(m_port));
}

bool SimulatorProcess::startForProgram(const QString& configPath)
{
    setConfigFile(configPath);
    if (!start()) {
        std::fprintf(stderr, "mpod-sim did not start:\n%s\n", qPrintable(output()));
        return false;
    }
    exportLibraryEnvironment();
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"))
        .setValue(QStringLiteral("IpAddress"), host());
    return true;
}

bool SimulatorProcess::stop(int timeoutMs)
{
    // A simulator that already ended (after "quit") still has its served line to collect.
    if (!isRunning() && m_output.isEmpty())
        return false; // never started
    if (isRunning()) {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(timeoutMs)) {
            m_process.kill();
            m_process.waitForFinished(2000);
            return false;
        }
    }
    collectOutput();
    static const QRegularExpression served(QStringLiteral("served requests=(\\d+) varbinds=(\\d+)"));
    const QRegularExpressionMatch match = served.match(m_output);
    if (!match.hasMatch())
        return false;
    m_servedRequests = match.captured(1).toLongLong();
    m_servedVarbinds = match.captured(2).toLongLong();
    return m_process.exitStatus() == QProcess::NormalExit;
}
