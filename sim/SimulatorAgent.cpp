#include "SimulatorAgent.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <QDir>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

extern "C" void init_vacm_conf(void);

namespace {

volatile std::sig_atomic_t stopRequested = 0;
constexpr long tickMicroseconds = 50000; // keeps simulation steps short between requests

int snmpError(CrateMib::Error error)
{
    switch (error) {
    case CrateMib::Error::NoError:
        return SNMP_ERR_NOERROR;
    case CrateMib::Error::NoSuchObject:
        return SNMP_NOSUCHOBJECT;
    case CrateMib::Error::NoSuchInstance:
        return SNMP_NOSUCHINSTANCE;
    case CrateMib::Error::WrongType:
        return SNMP_ERR_WRONGTYPE;
    case CrateMib::Error::WrongValue:
        return SNMP_ERR_WRONGVALUE;
    case CrateMib::Error::WrongLength:
        return SNMP_ERR_WRONGLENGTH;
    case CrateMib::Error::NotWritable:
        return SNMP_ERR_NOTWRITABLE;
    case CrateMib::Error::NoCreation:
        return SNMP_ERR_NOCREATION;
    case CrateMib::Error::ResourceUnavailable:
        return SNMP_ERR_RESOURCEUNAVAILABLE;
    }
    return SNMP_ERR_GENERR;
}

CrateMib::Oid toOid(const oid* name, size_t length)
{
    return CrateMib::Oid(name, name + length);
}

void setVarbind(netsnmp_variable_list* var, const CrateMib::Value& value)
{
    switch (value.type) {
    case CrateMib::Type::Integer:
        snmp_set_var_typed_integer(var, ASN_INTEGER, value.integer);
        break;
    case CrateMib::Type::Float: {
        const float f = float(value.real);
        snmp_set_var_typed_value(var, ASN_OPAQUE_FLOAT, &f, sizeof f);
        break;
    }
    case CrateMib::Type::Bits:
    case CrateMib::Type::String:
        snmp_set_var_typed_value(var, ASN_OCTET_STR, value.bytes.constData(), size_t(value.bytes.size()));
        break;
    case CrateMib::Type::IpAddress:
        snmp_set_var_typed_value(var, ASN_IPADDRESS, value.bytes.constData(), size_t(value.bytes.size()));
        break;
    case CrateMib::Type::ObjectId: {
        std::vector<oid> name(value.objectId.begin(), value.objectId.end());
        snmp_set_var_typed_value(var, ASN_OBJECT_ID, name.data(), name.size() * sizeof(oid));
        break;
    }
    case CrateMib::Type::TimeTicks: {
        const u_long ticks = u_long(value.integer);
        snmp_set_var_typed_value(var, ASN_TIMETICKS, &ticks, sizeof ticks);
        break;
    }
    }
}

// The value a SET carries; a type the crate never uses maps to ObjectId, which no writable
// object has, so the write is refused with wrongType.
CrateMib::Value fromVarbind(const netsnmp_variable_list* var)
{
    CrateMib::Value value;
    switch (var->type) {
    case ASN_INTEGER:
        value.type = CrateMib::Type::Integer;
        value.integer = *var->val.integer;
        break;
    case ASN_OPAQUE_FLOAT:
        value.type = CrateMib::Type::Float;
        value.real = *var->val.floatVal;
        break;
    case ASN_OPAQUE_DOUBLE:
        value.type = CrateMib::Type::Float;
        value.real = *var->val.doubleVal;
        break;
    case ASN_OCTET_STR:
        value.type = CrateMib::Type::String;
        value.bytes = QByteArray(reinterpret_cast<const char*>(var->val.string), int(var->val_len));
        break;
    case ASN_IPADDRESS:
        value.type = CrateMib::Type::IpAddress;
        value.bytes = QByteArray(reinterpret_cast<const char*>(var->val.string), int(var->val_len));
        break;
    default:
        value.type = CrateMib::Type::ObjectId;
        break;
    }
    return value;
}

void configLine(const QString& line)
{
    QByteArray bytes = line.toUtf8();
    netsnmp_config(bytes.data());
}

} // namespace

SimulatorAgent::SimulatorAgent(const CrateConfig& config, const Options& options)
    : m_config(config)
    , m_options(options)
    , m_model(config)
    , m_mib(m_model)
    , m_commands(m_model, m_clock, m_faults)
{
    m_faults.setSeed(config.seed);
}

SimulatorAgent::~SimulatorAgent()
{
    if (m_started) {
        if (m_tickAlarm)
            snmp_alarm_unregister(m_tickAlarm);
        if (m_controlOpen)
            unregister_readfd(STDIN_FILENO);
        m_faults.release();
        snmp_shutdown("mpod-sim");
        shutdown_agent();
    }
}

void SimulatorAgent::requestStop()
{
    stopRequested = 1;
}

bool SimulatorAgent::start(QString* error)
{
    const int colon = int(m_options.listen.lastIndexOf(QLatin1Char(':')));
    bool portOk = false;
    const int port = colon > 0 ? m_options.listen.mid(colon + 1).toInt(&portOk) : -1;
    if (!portOk || port < 0 || port > 65535) {
        *error = QStringLiteral("listen address \"%1\" is not ADDRESS:PORT").arg(m_options.listen);
        return false;
    }
    const QString host = m_options.listen.left(colon);

    // No MIB files, no configuration files of the system, no persistent state: the agent
    // needs nothing outside its own process and never writes below /var/lib/snmp.
    static QTemporaryDir stateDir(QDir::tempPath() + QStringLiteral("/mpod-sim-XXXXXX"));
    m_stateDir = stateDir.path().toLocal8Bit();
    setenv("MIBS", "", 1);
    setenv("SNMPCONFPATH", m_stateDir.constData(), 1);
    setenv("SNMP_PERSISTENT_DIR", m_stateDir.constData(), 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PERSISTENT_DIR, m_stateDir.constData());
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 0);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_ROOT_ACCESS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_DONT_LOG_TCPWRAPPERS_CONNECTS, 1);
    // Warnings and errors (a port that cannot be bound) go to standard error; standard output
    // belongs to the control channel.
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_STDERR, LOG_WARNING);

    // net-snmp announces every directory it creates; this one is private and temporary.
    QDir(stateDir.path()).mkpath(QStringLiteral("cert_indexes"));

    init_agent("mpod-sim");
    init_vacm_conf();
    // The access rules go in before init_snmp so its check for a configured agent finds them.
    const QString readCommunity = m_options.readCommunity.isEmpty() ? m_config.readCommunity : m_options.readCommunity;
    const QString writeCommunity = m_options.writeCommunity.isEmpty() ? m_config.writeCommunity : m_options.writeCommunity;
    configLine(QStringLiteral("rocommunity %1 default").arg(readCommunity));
    configLine(QStringLiteral("rwcommunity %1 default").arg(writeCommunity));
    init_snmp("mpod-sim");
    m_started = true;

    const QByteArray endpoint = QStringLiteral("udp:%1").arg(m_options.listen).toLocal8Bit();
    netsnmp_transport* transport = netsnmp_transport_open_server("mpod-sim", endpoint.constData());
    if (!transport) {
        *error = QStringLiteral("cannot listen on %1 (address in use or not available)").arg(m_options.listen);
        return false;
    }
    m_faults.install(transport);
    if (!netsnmp_register_agent_nsap(transport)) {
        *error = QStringLiteral("cannot start the agent on %1").arg(m_options.listen);
        return false;
    }
    int actualPort = port;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(transport->sock, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_family == AF_INET)
        actualPort = ntohs(address.sin_port);
    m_listenAddress = QStringLiteral("%1:%2").arg(host).arg(actualPort);

    for (const CrateMib::Oid& root : CrateMib::roots()) {
        std::vector<oid> name(root.begin(), root.end());
        netsnmp_handler_registration* registration = netsnmp_create_handler_registration(
            "mpod-sim", &SimulatorAgent::handle, name.data(), name.size(), HANDLER_CAN_RWRITE);
        registration->handler->myvoid = this;
        if (netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
            *error = QStringLiteral("cannot register the crate objects");
            return false;
        }
    }

    struct stat info
    {
    };
    if (fstat(STDIN_FILENO, &info) == 0 && register_readfd(STDIN_FILENO, &SimulatorAgent::readControl, this) == 0)
        m_controlOpen = true;
    struct timeval interval
    {
        0, tickMicroseconds
    };
    m_tickAlarm = snmp_alarm_register_hr(interval, SA_REPEAT, &SimulatorAgent::tick, this);
    m_clock.takeElapsedSeconds();
    return true;
}

void SimulatorAgent::run()
{
    while (!stopRequested && !m_quit)
        agent_check_and_process(1);
}

void SimulatorAgent::syncModel()
{
    m_model.advance(m_clock.takeElapsedSeconds());
}

void SimulatorAgent::tick(unsigned int, void* self)
{
    static_cast<SimulatorAgent*>(self)->syncModel();
}

void SimulatorAgent::writeLine(const QString& line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void SimulatorAgent::readControl(int fd, void* selfPointer)
{
    auto* self = static_cast<SimulatorAgent*>(selfPointer);
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        self->m_controlBuffer.append(buffer, int(n));
        self->processControlInput();
        return;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    // End of input. When the controlling pipe closes, whoever started the simulator is gone:
    // end with it instead of running on unattended. A terminal or /dev/null keeps it running.
    struct stat info
    {
    };
    const bool pipe = fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
    unregister_readfd(fd);
    self->m_controlOpen = false;
    if (!self->m_controlBuffer.isEmpty()) {
        self->m_controlBuffer.append('\n');
        self->processControlInput();
    }
    if (pipe)
        self->m_quit = true;
}

void SimulatorAgent::processControlInput()
{
    for (;;) {
        const int newline = int(m_controlBuffer.indexOf('\n'));
        if (newline < 0)
            return;
        const QString line = QString::fromUtf8(m_controlBuffer.left(newline));
        m_controlBuffer.remove(0, newline + 1);
        syncModel();
        bool quit = false;
        const QString answer = m_commands.execute(line, &quit);
        if (!answer.isEmpty())
            writeLine(answer);
        if (quit) {
            m_quit = true;
            return;
        }
    }
}

int SimulatorAgent::handle(netsnmp_mib_handler* handler, netsnmp_handler_registration* registration,
    netsnmp_agent_request_info* info, netsnmp_request_info* requests)
{
    auto* self = static_cast<SimulatorAgent*>(handler->myvoid);
    // Writes are checked in RESERVE1 and applied in COMMIT of the same request: time must not
    // move in between, or a write that passed its check could fail when applied.
    if (info->mode == MODE_GET || info->mode == MODE_GETNEXT || info->mode == MODE_SET_RESERVE1)
        self->syncModel();
    const CrateMib::Oid root = toOid(registration->rootoid, registration->rootoid_len);
    CrateMib& mib = self->m_mib;

    for (netsnmp_request_info* request = requests; request; request = request->next) {
        if (request->processed)
            continue;
        netsnmp_variable_list* var = request->requestvb;
        const CrateMib::Oid name = toOid(var->name, var->name_length);
        switch (info->mode) {
        case MODE_GET: {
            CrateMib::Error error = CrateMib::Error::NoError;
            const CrateMib::Instance* instance = mib.find(name, &error);
            if (instance)
                setVarbind(var, mib.get(*instance));
            else
                netsnmp_set_request_error(info, request, snmpError(error));
            break;
        }
        case MODE_GETNEXT: {
            const CrateMib::Oid from = name < root ? root : name;
            const CrateMib::Instance* instance = mib.next(from);
            // Past the end of this registration's subtree: leave the binding unanswered so the
            // agent continues with the next subtree.
            if (!instance || instance->oid.size() < root.size()
                || !std::equal(root.begin(), root.end(), instance->oid.begin()))
                break;
            std::vector<oid> next(instance->oid.begin(), instance->oid.end());
            snmp_set_var_objid(var, next.data(), next.size());
            setVarbind(var, mib.get(*instance));
            break;
        }
        case MODE_SET_RESERVE1: {
            const CrateMib::Error error = mib.check(name, fromVarbind(var));
            if (error != CrateMib::Error::NoError)
                netsnmp_set_request_error(info, request, snmpError(error));
            break;
        }
        case MODE_SET_COMMIT: {
            const CrateMib::Error error = mib.set(name, fromVarbind(var));
            if (error != CrateMib::Error::NoError)
                netsnmp_set_request_error(info, request, SNMP_ERR_COMMITFAILED);
            break;
        }
        default:
            break;
        }
    }
    return SNMP_ERR_NOERROR;
}
