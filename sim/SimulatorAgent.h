#pragma once

#include "ControlCommands.h"
#include "CrateMib.h"
#include "CrateModel.h"
#include "SimulationClock.h"
#include "TransportFaults.h"

#include <QByteArray>
#include <QString>

#include <cstdio>

struct netsnmp_mib_handler_s;
struct netsnmp_handler_registration_s;
struct netsnmp_agent_request_info_s;
struct netsnmp_request_info_s;

// The SNMP v2c agent of the simulated crate on net-snmp's agent library: listens on one UDP
// address, answers the crate's objects from a CrateMib, reads control commands from standard
// input and stops on SIGINT/SIGTERM or "quit". Everything runs on the calling thread inside
// net-snmp's select loop (standard input is one of its descriptors), so nothing is shared between
// threads. At most one agent per process (net-snmp keeps global state).
class SimulatorAgent
{
public:
    struct Options
    {
        QString listen = QStringLiteral("127.0.0.1:16161");
        QString readCommunity;  // empty: the configuration's
        QString writeCommunity; // empty: the configuration's
    };

    SimulatorAgent(const CrateConfig& config, const Options& options);
    ~SimulatorAgent();
    SimulatorAgent(const SimulatorAgent&) = delete;
    SimulatorAgent& operator=(const SimulatorAgent&) = delete;

    // Opens the agent; on failure returns false with a message.
    bool start(QString* error);
    // The address actually listened on ("127.0.0.1:PORT", with the real port for port 0).
    QString listenAddress() const { return m_listenAddress; }
    // Runs until a stop signal or "quit"; then shuts the agent down.
    void run();

    std::int64_t servedRequests() const { return m_faults.requests(); }
    std::int64_t servedVarbinds() const { return m_faults.varbinds(); }

    // For the signal handler: asks run() to return.
    static void requestStop();

private:
    static int handle(netsnmp_mib_handler_s* handler, netsnmp_handler_registration_s* registration,
        netsnmp_agent_request_info_s* info, netsnmp_request_info_s* requests);
    static void readControl(int fd, void* self);
    static void tick(unsigned int alarm, void* self);
    void syncModel();
    void processControlInput();
    void writeLine(const QString& line);

    CrateConfig m_config;
    Options m_options;
    CrateModel m_model;
    CrateMib m_mib;
    SimulationClock m_clock;
    TransportFaults m_faults;
    ControlCommands m_commands;
    QString m_listenAddress;
    QByteArray m_controlBuffer;
    bool m_controlOpen = false;
    bool m_started = false;
    bool m_quit = false;
    unsigned int m_tickAlarm = 0;
    QByteArray m_stateDir;
};
