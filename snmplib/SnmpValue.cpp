#include "SnmpValue.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cmath>
#include <cstring>
#include <limits>

SnmpValue SnmpValue::integer(long long value)
{
    SnmpValue v;
    v.m_kind = Kind::Integer;
    v.m_asnType = ASN_INTEGER;
    v.m_integer = value;
    return v;
}

SnmpValue SnmpValue::real(double value)
{
    SnmpValue v;
    v.m_kind = Kind::Real;
    v.m_asnType = ASN_OPAQUE_FLOAT;
    v.m_real = value;
    return v;
}

SnmpValue SnmpValue::bytes(const std::string& value, unsigned char asnType)
{
    SnmpValue v;
    v.m_kind = Kind::Bytes;
    v.m_asnType = asnType;
    v.m_bytes = value;
    return v;
}

SnmpValue SnmpValue::ipAddress(uint32_t address)
{
    std::string octets(4, '\0');
    for (size_t i = 0; i < 4; ++i)
        octets[i] = static_cast<char>((address >> (8 * i)) & 0xff);
    return bytes(octets, ASN_IPADDRESS);
}

bool SnmpValue::decodeOpaque(const unsigned char* data, size_t length, double* value)
{
    // Opaque special types: extension tag 0x9f, type 0x78 (float) or 0x79 (double), a length
    // octet and the IEEE-754 value in network byte order.
    if (!data || length < 3 || data[0] != 0x9f)
        return false;
    const size_t size = data[2];
    if (length != 3 + size || (size != 4 && size != 8))
        return false;
    uint64_t bits = 0;
    for (size_t i = 0; i < size; ++i)
        bits = (bits << 8) | data[3 + i];
    if (data[1] == 0x78 && size == 4) {
        const uint32_t narrow = static_cast<uint32_t>(bits);
        float f;
        std::memcpy(&f, &narrow, sizeof f);
        *value = f;
        return true;
    }
    if (data[1] == 0x79 && size == 8) {
        double d;
        std::memcpy(&d, &bits, sizeof d);
        *value = d;
        return true;
    }
    return false;
}

SnmpValue SnmpValue::fromVarbind(const variable_list* vb)
{
    if (!vb)
        return SnmpValue();
    switch (vb->type) {
    case ASN_INTEGER:
        return vb->val.integer ? integer(*vb->val.integer) : SnmpValue();
    case ASN_GAUGE:
    case ASN_COUNTER:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        // Unsigned 32-bit types: net-snmp keeps them in a long, masked to 32 bits.
        return vb->val.integer ? integer(static_cast<long long>(*vb->val.integer & 0xffffffffUL)) : SnmpValue();
    case ASN_OPAQUE_FLOAT:
        return vb->val.floatVal ? real(*vb->val.floatVal) : SnmpValue();
    case ASN_OPAQUE_DOUBLE:
        return vb->val.doubleVal ? real(*vb->val.doubleVal) : SnmpValue();
    case ASN_OPAQUE_I64:
    case ASN_OPAQUE_U64:
    case ASN_OPAQUE_COUNTER64:
    case ASN_COUNTER64:
        if (!vb->val.counter64)
            return SnmpValue();
        return integer(static_cast<long long>(
            (static_cast<unsigned long long>(vb->val.counter64->high) << 32) | (vb->val.counter64->low & 0xffffffffUL)));
    case ASN_OPAQUE: {
        double d = 0.0;
        if (decodeOpaque(vb->val.string, vb->val_len, &d))
            return real(d);
        return bytes(std::string(reinterpret_cast<const char*>(vb->val.string), vb->val_len), vb->type);
    }
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_BIT_STR:
        if (!vb->val.string && vb->val_len > 0)
            return SnmpValue();
        return bytes(
            vb->val_len ? std::string(reinterpret_cast<const char*>(vb->val.string), vb->val_len) : std::string(), vb->type);
    default:
        // noSuchObject, noSuchInstance, endOfMibView, NULL, OIDs: nothing usable.
        return SnmpValue();
    }
}

double SnmpValue::toDouble() const
{
    switch (m_kind) {
    case Kind::Integer:
        return static_cast<double>(m_integer);
    case Kind::Real:
        return m_real;
    default:
        return 0.0;
    }
}

int SnmpValue::toInt() const
{
    switch (m_kind) {
    case Kind::Integer:
        return static_cast<int>(m_integer);
    case Kind::Real: {
        if (!std::isfinite(m_real))
            return 0;
        const double rounded = std::round(m_real);
        if (rounded >= static_cast<double>(std::numeric_limits<int>::max()))
            return std::numeric_limits<int>::max();
        if (rounded <= static_cast<double>(std::numeric_limits<int>::min()))
            return std::numeric_limits<int>::min();
        return static_cast<int>(rounded);
    }
    case Kind::Bytes:
        return bitsToInt();
    default:
        return 0;
    }
}

int SnmpValue::bitsToInt() const
{
    if (m_kind == Kind::Integer)
        return static_cast<int>(m_integer);
    if (m_kind != Kind::Bytes)
        return 0;
    uint32_t result = 0;
    const size_t octets = m_bytes.size() < 4 ? m_bytes.size() : 4;
    for (size_t i = 0; i < octets; ++i)
        result |= static_cast<uint32_t>(static_cast<unsigned char>(m_bytes[i])) << (8 * i);
    return static_cast<int>(result);
}

uint32_t SnmpValue::ipToUint32() const
{
    if (m_kind == Kind::Integer)
        return static_cast<uint32_t>(m_integer);
    if (m_kind != Kind::Bytes || m_bytes.size() != 4)
        return 0;
    uint32_t result = 0;
    for (size_t i = 0; i < 4; ++i)
        result |= static_cast<uint32_t>(static_cast<unsigned char>(m_bytes[i])) << (8 * i);
    return result;
}

std::string SnmpValue::text() const
{
    return m_kind == Kind::Bytes ? m_bytes : std::string();
}
