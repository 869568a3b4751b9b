#pragma once

#include <cstdint>
#include <string>

struct variable_list;

// One value read from a crate, decoded from a net-snmp varbind into a small C++ value so that
// nothing of the response PDU has to outlive the request. Conversions answer 0 or empty for a
// missing value; callers decide from isValid() whether a value was read at all.
class SnmpValue
{
public:
    enum class Kind { Missing, Integer, Real, Bytes };

    SnmpValue() = default;
    static SnmpValue fromVarbind(const variable_list* varbind);
    static SnmpValue integer(long long value);
    static SnmpValue real(double value);
    static SnmpValue bytes(const std::string& value, unsigned char asnType);
    // IpAddress from the library's form (first dotted number in the least significant byte).
    static SnmpValue ipAddress(uint32_t address);

    bool isValid() const { return m_kind != Kind::Missing; }
    Kind kind() const { return m_kind; }
    unsigned char asnType() const { return m_asnType; }

    // Floats travel as Opaque Float; integers are accepted too (an agent that answers a Float
    // object with INTEGER volts still gives a usable number).
    double toDouble() const;
    int toInt() const;
    // BITS (OCTET STRING, MIB bit 0 = most significant bit of octet 0) in the library's int
    // form: octet i unchanged in bits 8i..8i+7. An INTEGER answer is taken as the int form.
    int bitsToInt() const;
    // IpAddress: the first dotted number in the least significant byte.
    uint32_t ipToUint32() const;
    std::string text() const;

    // Decodes the body of an Opaque (tag 0x9f78 float, 0x9f79 double) that net-snmp left
    // undecoded. False when the octets are not one of these two forms.
    static bool decodeOpaque(const unsigned char* data, size_t length, double* value);

private:
    Kind m_kind = Kind::Missing;
    unsigned char m_asnType = 0;
    long long m_integer = 0;
    double m_real = 0.0;
    std::string m_bytes;
};
