#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// A small synchronous SNMP v2c client on net-snmp for the simulator's tests: GET, GETNEXT,
// GETBULK, SET and walks, with the answers turned into plain values.
class SnmpTestClient
{
public:
    static constexpr int timedOut = -1;
    static constexpr int failed = -2;

    struct Binding
    {
        QString oid;  // numeric, without a leading dot
        int type = 0; // ASN type, or SNMP_NOSUCHOBJECT / SNMP_NOSUCHINSTANCE / SNMP_ENDOFMIBVIEW
        long integer = 0;
        double real = 0;
        QByteArray bytes;

        // MIB bit k of a BITS value (bit 0 is the most significant bit of the first octet).
        bool bit(int k) const;
    };
    struct Result
    {
        int error = failed; // SNMP error status, timedOut or failed
        int errorIndex = 0;
        std::vector<Binding> bindings;
        bool ok() const { return error == 0; }
    };

    SnmpTestClient(const QString& peer, const QString& community, int timeoutMs = 3000, int retries = 1);
    ~SnmpTestClient();
    SnmpTestClient(const SnmpTestClient&) = delete;
    SnmpTestClient& operator=(const SnmpTestClient&) = delete;

    Result get(const QStringList& oids);
    Result getNext(const QStringList& oids);
    Result getBulk(const QString& oid, int maxRepetitions);
    // type as for snmpset: 'i' integer, 'F' float, 's' string, 'a' IP address, ...
    Result set(const QString& oid, char type, const QString& value);
    // GETNEXT from root until the answers leave it; stops early on an error.
    std::vector<Binding> walk(const QString& root, Result* last = nullptr);

    // Shorthands for one value; a failed read fails the current test through QTest.
    double floatValue(const QString& oid);
    long intValue(const QString& oid);
    Binding value(const QString& oid);

private:
    Result request(
        int command, const QStringList& oids, int maxRepetitions = 0, char type = 0, const QString& setValue = QString());

    void* m_session = nullptr;
};
