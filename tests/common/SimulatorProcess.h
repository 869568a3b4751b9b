#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs mpod-sim as a child process on a free loopback port for one test, talks to its control
// channel (one command line on standard input, one answer line "ok" or "error ..." back), and
// stops it again. The destructor stops a simulator that is still running.
class SimulatorProcess
{
public:
    SimulatorProcess();
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // JSON crate configuration; empty means the simulator's built-in default crate.
    void setConfigFile(const QString& path) { m_configFile = path; }
    void setExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }

    // Starts the simulator and waits until it reports that its agent listens.
    bool start(int timeoutMs = 15000);
    bool isRunning() const;

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1"); }
    // "127.0.0.1:PORT": what snmpOpen and net-snmp's tools accept as a peer name.
    QString address() const;

    // Sends one control command; true when the simulator answered "ok".
    bool command(const QString& line, QString* answer = nullptr, int timeoutMs = 5000);

    // Points our SNMP library at this simulator (TESMAR_SNMP_PORT) for the current process and
    // for child processes started afterwards.
    void exportLibraryEnvironment() const;
    // Starts the simulator with `configPath`, exports the library environment and stores the
    // simulator as the program's crate address in its (test-mode) settings, so a window created
    // next connects to it. Prints the simulator's output when it did not start.
    bool startForProgram(const QString& configPath);

    // SIGTERM, wait for the exit and read the "served requests=N varbinds=M" line. For a simulator
    // that already ended by itself ("quit") it only reads that line.
    bool stop(int timeoutMs = 10000);
    qint64 servedRequests() const { return m_servedRequests; }
    qint64 servedVarbinds() const { return m_servedVarbinds; }
    // Everything the simulator printed so far (standard output and error).
    QString output() const { return m_output; }

    // A UDP port on 127.0.0.1 that nothing listens on right now.
    static quint16 freeUdpPort();

private:
    QString readLine(int timeoutMs);
    void collectOutput();

    QProcess m_process;
    QString m_configFile;
    QStringList m_extraArguments;
    QString m_output;
    QString m_pendingLines;
    quint16 m_port = 0;
    qint64 m_servedRequests = -1;
    qint64 m_servedVarbinds = -1;
};
