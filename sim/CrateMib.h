#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

class CrateModel;

// The crate's SNMP objects on top of a CrateModel: which instances exist right now, in OID
// order, their values, and the checks and effects of writing them. Knows nothing about the
// network, so the protocol behaviour (GET/GETNEXT order, types, write checks) is testable on its
// own; the agent only converts between these values and net-snmp's variable bindings.
class CrateMib
{
public:
    using Oid = std::vector<std::uint32_t>;

    enum class Type { Integer, Float, Bits, String, IpAddress, ObjectId, TimeTicks };
    enum class Error {
        NoError,
        NoSuchObject,
        NoSuchInstance,
        WrongType,
        WrongValue,
        WrongLength,
        NotWritable,
        NoCreation,
        ResourceUnavailable,
    };

    struct Value
    {
        Type type = Type::Integer;
        long integer = 0; // Integer, TimeTicks, IpAddress (network order packed as read)
        double real = 0;  // Float
        QByteArray bytes; // String, Bits, IpAddress (4 octets)
        Oid objectId;     // ObjectId
    };

    enum class Scope { Scalar, Module, Channel, Aux, Fan, Sensor, Group };
    struct Object;
    struct Instance
    {
        Oid oid;
        const Object* object = nullptr;
        int row = 0; // slot, channel index (slot*100+channel), or the 0-based row of other tables
    };

    explicit CrateMib(CrateModel& model);

    // The roots under which the crate answers (system group and the crate's enterprise tree).
    static const std::vector<Oid>& roots();

    // Exact lookup; reports NoSuchObject or NoSuchInstance when there is none.
    const Instance* find(const Oid& oid, Error* error);
    // The first instance after oid in OID order, or nullptr at the end of the tree.
    const Instance* next(const Oid& oid);

    Value get(const Instance& instance);
    // Checks a write without changing a setting (an out-of-range set voltage or current still
    // raises the module's input error, as on a crate).
    Error check(const Oid& oid, const Value& value);
    // Performs a write that check() accepted.
    Error set(const Oid& oid, const Value& value);

    static QByteArray bitsOctets(std::uint32_t bits, int octets);

private:
    const std::vector<Instance>& instances();
    Error write(const Oid& oid, const Value& value, bool apply);

    CrateModel& m_model;
    std::vector<Instance> m_instances;
    bool m_builtReachable = false;
    bool m_built = false;
};
