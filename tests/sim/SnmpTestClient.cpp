#include "SnmpTestClient.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

namespace {

void initOnce()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    static QTemporaryDir state;
    setenv("MIBS", "", 1);
    setenv("SNMP_PERSISTENT_DIR", state.path().toLocal8Bit().constData(), 1);
    QDir(state.path()).mkpath(QStringLiteral("cert_indexes"));
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    init_snmp("mpod-sim-tests");
}

QString oidText(const oid* name, size_t length)
{
    QStringList parts;
    for (size_t i = 0; i < length; ++i)
        parts << QString::number(name[i]);
    return parts.join(QLatin1Char('.'));
}

} // namespace

bool SnmpTestClient::Binding::bit(int k) const
{
    return k / 8 < bytes.size() && (quint8(bytes[k / 8]) & (0x80 >> (k % 8)));
}

SnmpTestClient::SnmpTestClient(const QString& peer, const QString& community, int timeoutMs, int retries)
{
    initOnce();
    netsnmp_session session;
    snmp_sess_init(&session);
    const QByteArray peerBytes = peer.toLatin1();
    const QByteArray communityBytes = community.toLatin1();
    session.peername = const_cast<char*>(peerBytes.constData());
    session.version = SNMP_VERSION_2c;
    session.community = reinterpret_cast<u_char*>(const_cast<char*>(communityBytes.constData()));
    session.community_len = size_t(communityBytes.size());
    session.timeout = long(timeoutMs) * 1000;
    session.retries = retries;
    m_session = snmp_sess_open(&session);
}

SnmpTestClient::~SnmpTestClient()
{
    if (m_session)
        snmp_sess_close(m_session);
}

SnmpTestClient::Result SnmpTestClient::request(
    int command, const QStringList& oids, int maxRepetitions, char type, const QString& setValue)
{
    Result result;
    if (!m_session)
        return result;
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    if (command == SNMP_MSG_GETBULK) {
        pdu->non_repeaters = 0;
        pdu->max_repetitions = maxRepetitions;
    }
    for (const QString& text : oids) {
        oid name[MAX_OID_LEN];
        size_t length = MAX_OID_LEN;
        if (!read_objid(text.toLatin1().constData(), name, &length)) {
            snmp_free_pdu(pdu);
            return result;
        }
        if (command == SNMP_MSG_SET)
            snmp_add_var(pdu, name, length, type, setValue.toLatin1().constData());
        else
            snmp_add_null_var(pdu, name, length);
    }
    netsnmp_pdu* response = nullptr;
    const int status = snmp_sess_synch_response(m_session, pdu, &response);
    if (status == STAT_TIMEOUT) {
        result.error = timedOut;
    } else if (status == STAT_SUCCESS && response) {
        result.error = int(response->errstat);
        result.errorIndex = int(response->errindex);
        for (netsnmp_variable_list* var = response->variables; var; var = var->next_variable) {
            Binding binding;
            binding.oid = oidText(var->name, var->name_length);
            binding.type = var->type;
            switch (var->type) {
            case ASN_INTEGER:
            case ASN_TIMETICKS:
            case ASN_COUNTER:
            case ASN_GAUGE:
                binding.integer = *var->val.integer;
                break;
            case ASN_OPAQUE_FLOAT:
                binding.real = *var->val.floatVal;
                break;
            case ASN_OCTET_STR:
            case ASN_IPADDRESS:
            case ASN_OPAQUE:
                binding.bytes = QByteArray(reinterpret_cast<const char*>(var->val.string), int(var->val_len));
                break;
            default:
                break;
            }
            result.bindings.push_back(binding);
        }
    }
    if (response)
        snmp_free_pdu(response);
    return result;
}

SnmpTestClient::Result SnmpTestClient::get(const QStringList& oids)
{
    return request(SNMP_MSG_GET, oids);
}

SnmpTestClient::Result SnmpTestClient::getNext(const QStringList& oids)
{
    return request(SNMP_MSG_GETNEXT, oids);
}

SnmpTestClient::Result SnmpTestClient::getBulk(const QString& oid, int maxRepetitions)
{
    return request(SNMP_MSG_GETBULK, {oid}, maxRepetitions);
}

SnmpTestClient::Result SnmpTestClient::set(const QString& oid, char type, const QString& value)
{
    return request(SNMP_MSG_SET, {oid}, 0, type, value);
}

std::vector<SnmpTestClient::Binding> SnmpTestClient::walk(const QString& root, Result* last)
{
    std::vector<Binding> bindings;
    QString current = root;
    const QString prefix = root + QLatin1Char('.');
    for (;;) {
        Result result = getNext({current});
        if (!result.ok() || result.bindings.size() != 1 || result.bindings[0].type == SNMP_ENDOFMIBVIEW
            || !result.bindings[0].oid.startsWith(prefix)) {
            if (last)
                *last = result;
            return bindings;
        }
        current = result.bindings[0].oid;
        bindings.push_back(result.bindings[0]);
    }
}

SnmpTestClient::Binding SnmpTestClient::value(const QString& oid)
{
    const Result result = get({oid});
    if (!result.ok() || result.bindings.size() != 1) {
        QTest::qFail(qPrintable(QStringLiteral("GET %1 failed with %2").arg(oid).arg(result.error)), __FILE__, __LINE__);
        return Binding();
    }
    return result.bindings[0];
}

double SnmpTestClient::floatValue(const QString& oid)
{
    return value(oid).real;
}

long SnmpTestClient::intValue(const QString& oid)
{
    return value(oid).integer;
}
