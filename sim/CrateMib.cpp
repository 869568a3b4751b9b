#include "CrateMib.h"

#include "CrateModel.h"
#include "ModuleType.h"

#include <algorithm>
#include <cmath>

namespace {

enum class Id {
    SysDescr,
    SysObjectId,
    SysUpTime,
    SysContact,
    SysName,
    SysLocation,
    MainSwitch,
    SysStatus,
    OutputNumber,
    ModuleNumber,
    GroupsSwitch,
    IpStaticAddress,
    PsSerialNumber,
    PsAuxNumber,
    PsAuxVoltage,
    PsAuxCurrent,
    FanAirTemperature,
    FanNominalSpeed,
    FanNumber,
    FanSpeed,
    SensorTemperature,
    ModDescription,
    ModSupply24,
    ModSupply5,
    ModLimitVoltage,
    ModLimitCurrent,
    ModRampVoltage,
    ModRampCurrent,
    ModStatus,
    ModEventStatus,
    ModDoClear,
    ModTemp0,
    ModTemp1,
    ModTemp2,
    ModTemp3,
    OutName,
    OutGroup,
    OutStatus,
    OutSense,
    OutTerminal,
    OutCurrentMeasured,
    OutTemperature,
    OutSwitch,
    OutVoltage,
    OutCurrent,
    OutRiseRate,
    OutFallRate,
    OutBehaviour,
    OutSupMinSense,
    OutSupMaxSense,
    OutSupMaxTerminal,
    OutSupMaxCurrent,
    OutConfigMaxSense,
    OutConfigMaxTerminal,
    OutConfigMaxCurrent,
    OutSupMaxPower,
    OutCurrentRiseRate,
    OutCurrentFallRate,
    OutTripTime,
    OutLimitVoltage,
    OutLimitCurrent,
};

using Oid = CrateMib::Oid;
using Type = CrateMib::Type;
using Scope = CrateMib::Scope;
using Error = CrateMib::Error;

Oid join(const Oid& a, const Oid& b)
{
    Oid result = a;
    result.insert(result.end(), b.begin(), b.end());
    return result;
}

const Oid systemGroup = {1, 3, 6, 1, 2, 1, 1};
const Oid crate = {1, 3, 6, 1, 4, 1, 19947, 1};
const Oid outputEntry = join(crate, {3, 2, 1});
const Oid moduleEntry = join(crate, {3, 6, 1});

// Bits of the channel status that exist in the MIB: 22 bits need three octets.
constexpr int channelStatusOctets = 3;
constexpr int moduleStatusOctets = 2;
constexpr int moduleEventOctets = 3;
constexpr int sysStatusOctets = 1;
constexpr int undefinedSwitch = -1;
constexpr int noTemperatureSensor = -128;

Error fromModel(CrateModel::Result result)
{
    switch (result) {
    case CrateModel::Result::Ok:
        return Error::NoError;
    case CrateModel::Result::WrongValue:
        return Error::WrongValue;
    case CrateModel::Result::NotWritable:
        return Error::NotWritable;
    case CrateModel::Result::Unavailable:
        return Error::ResourceUnavailable;
    }
    return Error::WrongValue;
}

} // namespace

struct CrateMib::Object
{
    Oid base;
    Scope scope;
    Id id;
    Type type;
    bool writable;
};

namespace {

const std::vector<CrateMib::Object>& objects()
{
    static const std::vector<CrateMib::Object> table = {
        {join(systemGroup, {1}), Scope::Scalar, Id::SysDescr, Type::String, false},
        {join(systemGroup, {2}), Scope::Scalar, Id::SysObjectId, Type::ObjectId, false},
        {join(systemGroup, {3}), Scope::Scalar, Id::SysUpTime, Type::TimeTicks, false},
        {join(systemGroup, {4}), Scope::Scalar, Id::SysContact, Type::String, false},
        {join(systemGroup, {5}), Scope::Scalar, Id::SysName, Type::String, false},
        {join(systemGroup, {6}), Scope::Scalar, Id::SysLocation, Type::String, false},
        {join(crate, {1, 1}), Scope::Scalar, Id::MainSwitch, Type::Integer, true},
        {join(crate, {1, 2}), Scope::Scalar, Id::SysStatus, Type::Bits, false},
        {join(crate, {3, 1}), Scope::Scalar, Id::OutputNumber, Type::Integer, false},
        {join(outputEntry, {2}), Scope::Channel, Id::OutName, Type::String, false},
        {join(outputEntry, {3}), Scope::Channel, Id::OutGroup, Type::Integer, true},
        {join(outputEntry, {4}), Scope::Channel, Id::OutStatus, Type::Bits, false},
        {join(outputEntry, {5}), Scope::Channel, Id::OutSense, Type::Float, false},
        {join(outputEntry, {6}), Scope::Channel, Id::OutTerminal, Type::Float, false},
        {join(outputEntry, {7}), Scope::Channel, Id::OutCurrentMeasured, Type::Float, false},
        {join(outputEntry, {8}), Scope::Channel, Id::OutTemperature, Type::Integer, false},
        {join(outputEntry, {9}), Scope::Channel, Id::OutSwitch, Type::Integer, true},
        {join(outputEntry, {10}), Scope::Channel, Id::OutVoltage, Type::Float, true},
        {join(outputEntry, {12}), Scope::Channel, Id::OutCurrent, Type::Float, true},
        {join(outputEntry, {13}), Scope::Channel, Id::OutRiseRate, Type::Float, true},
        {join(outputEntry, {14}), Scope::Channel, Id::OutFallRate, Type::Float, true},
        {join(outputEntry, {15}), Scope::Channel, Id::OutBehaviour, Type::Integer, true},
        {join(outputEntry, {16}), Scope::Channel, Id::OutSupMinSense, Type::Float, true},
        {join(outputEntry, {17}), Scope::Channel, Id::OutSupMaxSense, Type::Float, true},
        {join(outputEntry, {18}), Scope::Channel, Id::OutSupMaxTerminal, Type::Float, true},
        {join(outputEntry, {19}), Scope::Channel, Id::OutSupMaxCurrent, Type::Float, true},
        {join(outputEntry, {21}), Scope::Channel, Id::OutConfigMaxSense, Type::Float, false},
        {join(outputEntry, {22}), Scope::Channel, Id::OutConfigMaxTerminal, Type::Float, false},
        {join(outputEntry, {23}), Scope::Channel, Id::OutConfigMaxCurrent, Type::Float, false},
        {join(outputEntry, {24}), Scope::Channel, Id::OutSupMaxPower, Type::Float, true},
        {join(outputEntry, {25}), Scope::Channel, Id::OutCurrentRiseRate, Type::Float, true},
        {join(outputEntry, {26}), Scope::Channel, Id::OutCurrentFallRate, Type::Float, true},
        {join(outputEntry, {27}), Scope::Channel, Id::OutTripTime, Type::Integer, true},
        {join(outputEntry, {28}), Scope::Channel, Id::OutLimitVoltage, Type::Float, false},
        {join(outputEntry, {29}), Scope::Channel, Id::OutLimitCurrent, Type::Float, false},
        {join(crate, {3, 4, 1, 9}), Scope::Group, Id::GroupsSwitch, Type::Integer, true},
        {join(crate, {3, 5}), Scope::Scalar, Id::ModuleNumber, Type::Integer, false},
        {join(moduleEntry, {2}), Scope::Module, Id::ModDescription, Type::String, false},
        {join(moduleEntry, {3, 1}), Scope::Module, Id::ModSupply24, Type::Float, false},
        {join(moduleEntry, {3, 2}), Scope::Module, Id::ModSupply5, Type::Float, false},
        {join(moduleEntry, {4}), Scope::Module, Id::ModLimitVoltage, Type::Float, false},
        {join(moduleEntry, {5}), Scope::Module, Id::ModLimitCurrent, Type::Float, false},
        {join(moduleEntry, {6}), Scope::Module, Id::ModRampVoltage, Type::Float, true},
        {join(moduleEntry, {7}), Scope::Module, Id::ModRampCurrent, Type::Float, true},
        {join(moduleEntry, {8}), Scope::Module, Id::ModStatus, Type::Bits, false},
        {join(moduleEntry, {9}), Scope::Module, Id::ModEventStatus, Type::Bits, false},
        {join(moduleEntry, {11}), Scope::Module, Id::ModDoClear, Type::Integer, true},
        {join(moduleEntry, {12, 1}), Scope::Module, Id::ModTemp0, Type::Float, false},
        {join(moduleEntry, {12, 2}), Scope::Module, Id::ModTemp1, Type::Float, false},
        {join(moduleEntry, {12, 3}), Scope::Module, Id::ModTemp2, Type::Float, false},
        {join(moduleEntry, {12, 4}), Scope::Module, Id::ModTemp3, Type::Float, false},
        {join(crate, {4, 2, 1, 2}), Scope::Sensor, Id::SensorTemperature, Type::Integer, false},
        {join(crate, {5, 1, 12}), Scope::Scalar, Id::IpStaticAddress, Type::IpAddress, true},
        {join(crate, {6, 2}), Scope::Scalar, Id::PsSerialNumber, Type::String, false},
        {join(crate, {6, 4}), Scope::Scalar, Id::PsAuxNumber, Type::Integer, false},
        {join(crate, {6, 5, 1, 3}), Scope::Aux, Id::PsAuxVoltage, Type::Float, false},
        {join(crate, {6, 5, 1, 4}), Scope::Aux, Id::PsAuxCurrent, Type::Float, false},
        {join(crate, {7, 4}), Scope::Scalar, Id::FanAirTemperature, Type::Integer, false},
        {join(crate, {7, 6}), Scope::Scalar, Id::FanNominalSpeed, Type::Integer, true},
        {join(crate, {7, 7}), Scope::Scalar, Id::FanNumber, Type::Integer, false},
        {join(crate, {7, 8, 1, 2}), Scope::Fan, Id::FanSpeed, Type::Integer, false},
    };
    return table;
}

CrateMib::Value integer(long v)
{
    CrateMib::Value value;
    value.type = Type::Integer;
    value.integer = v;
    return value;
}

CrateMib::Value real(double v)
{
    CrateMib::Value value;
    value.type = Type::Float;
    value.real = v;
    return value;
}

CrateMib::Value text(const QByteArray& v, Type type = Type::String)
{
    CrateMib::Value value;
    value.type = type;
    value.bytes = v;
    return value;
}

bool startsWith(const Oid& oid, const Oid& prefix)
{
    return oid.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

} // namespace

CrateMib::CrateMib(CrateModel& model)
    : m_model(model)
{
}

const std::vector<CrateMib::Oid>& CrateMib::roots()
{
    static const std::vector<Oid> list = {systemGroup, {1, 3, 6, 1, 4, 1, 19947}};
    return list;
}

QByteArray CrateMib::bitsOctets(std::uint32_t bits, int octets)
{
    QByteArray result(octets, '\0');
    for (int k = 0; k < octets * 8; ++k) {
        if (bits & (std::uint32_t(1) << k))
            result[k / 8] = char(quint8(result[k / 8]) | (0x80 >> (k % 8)));
    }
    return result;
}

const std::vector<CrateMib::Instance>& CrateMib::instances()
{
    // Rows only come and go with the modules' reachability, so the index is rebuilt only then.
    const bool reachable = m_model.modulesReachable();
    if (m_built && reachable == m_builtReachable)
        return m_instances;
    m_instances.clear();
    const std::vector<int> present = m_model.reachableSlots();
    for (const Object& object : objects()) {
        auto add = [&](std::uint32_t suffix, int row) {
            m_instances.push_back({join(object.base, {suffix}), &object, row});
        };
        switch (object.scope) {
        case Scope::Scalar:
            add(0, 0);
            break;
        case Scope::Module:
            for (int slot : present)
                add(std::uint32_t(slot + 1), slot);
            break;
        case Scope::Channel:
            for (int slot : present) {
                for (int ch = 0; ch < int(m_model.module(slot)->channels.size()); ++ch)
                    add(std::uint32_t(slot * 100 + ch + 1), slot * 100 + ch);
            }
            break;
        case Scope::Aux:
            for (int i = 0; i < CrateModel::auxCount; ++i)
                add(std::uint32_t(i + 1), i);
            break;
        case Scope::Fan:
            for (int i = 0; i < CrateModel::fanCount; ++i)
                add(std::uint32_t(i + 1), i);
            break;
        case Scope::Sensor:
            for (int i = 0; i < CrateModel::sensorCount; ++i)
                add(std::uint32_t(i + 1), i);
            break;
        case Scope::Group:
            if (reachable) {
                for (int g = 1; g <= CrateModel::allChannelsGroup; ++g)
                    add(std::uint32_t(g), g);
            }
            break;
        }
    }
    std::sort(m_instances.begin(), m_instances.end(), [](const Instance& a, const Instance& b) { return a.oid < b.oid; });
    m_built = true;
    m_builtReachable = reachable;
    return m_instances;
}

const CrateMib::Instance* CrateMib::find(const Oid& oid, Error* error)
{
    const std::vector<Instance>& list = instances();
    auto it = std::lower_bound(list.begin(), list.end(), oid, [](const Instance& a, const Oid& b) { return a.oid < b; });
    if (it != list.end() && it->oid == oid) {
        *error = Error::NoError;
        return &*it;
    }
    *error = Error::NoSuchObject;
    for (const Object& object : objects()) {
        if (startsWith(oid, object.base) && oid.size() > object.base.size())
            *error = Error::NoSuchInstance;
    }
    return nullptr;
}

const CrateMib::Instance* CrateMib::next(const Oid& oid)
{
    const std::vector<Instance>& list = instances();
    auto it = std::upper_bound(list.begin(), list.end(), oid, [](const Oid& a, const Instance& b) { return a < b.oid; });
    return it == list.end() ? nullptr : &*it;
}

CrateMib::Value CrateMib::get(const Instance& instance)
{
    const int slot = instance.row / 100;
    const int ch = instance.row % 100;
    const CrateConfig& config = m_model.config();
    const CrateModel::Module* module = nullptr;
    const CrateModel::Channel* channel = nullptr;
    if (instance.object->scope == Scope::Module) {
        module = m_model.module(instance.row);
    } else if (instance.object->scope == Scope::Channel) {
        module = m_model.module(slot);
        channel = m_model.channel(slot, ch);
    }
    if ((instance.object->scope == Scope::Module && !module) || (instance.object->scope == Scope::Channel && !channel)) {
        return integer(0); // cannot happen: the index holds reachable rows only
    }
    const int row = instance.object->scope == Scope::Module ? instance.row : slot;
    switch (instance.object->id) {
    case Id::SysDescr:
        return text(QStringLiteral("Tesmar mpod-sim MPOD crate simulator (%1, %2, mpod-sim)")
                        .arg(config.serialNumber, config.firmware)
                        .toLatin1());
    case Id::SysObjectId: {
        Value value;
        value.type = Type::ObjectId;
        value.objectId = crate;
        return value;
    }
    case Id::SysUpTime: {
        Value value;
        value.type = Type::TimeTicks;
        value.integer = long(m_model.time() * 100.0);
        return value;
    }
    case Id::SysContact:
        return text("Tesmar SNMP Control");
    case Id::SysName:
        return text("mpod-sim");
    case Id::SysLocation:
        return text("simulation");
    case Id::MainSwitch:
        return integer(m_model.mainSwitch() ? 1 : 0);
    case Id::SysStatus:
        return text(bitsOctets(m_model.sysStatus(), sysStatusOctets), Type::Bits);
    case Id::OutputNumber:
        return integer(m_model.outputCount());
    case Id::ModuleNumber:
        return integer(long(m_model.reachableSlots().size()));
    case Id::GroupsSwitch:
        return integer(undefinedSwitch);
    case Id::IpStaticAddress: {
        const std::uint32_t a = m_model.ipStaticAddress();
        QByteArray octets(4, '\0');
        for (int i = 0; i < 4; ++i)
            octets[i] = char((a >> (8 * (3 - i))) & 0xff);
        return text(octets, Type::IpAddress);
    }
    case Id::PsSerialNumber:
        return text(config.serialNumber.toLatin1());
    case Id::PsAuxNumber:
        return integer(CrateModel::auxCount);
    case Id::PsAuxVoltage:
        return real(m_model.auxVoltage(instance.row));
    case Id::PsAuxCurrent:
        return real(m_model.auxCurrent(instance.row));
    case Id::FanAirTemperature:
        return integer(m_model.fanAirTemperature());
    case Id::FanNominalSpeed:
        return integer(m_model.fanNominalSpeed());
    case Id::FanNumber:
        return integer(CrateModel::fanCount);
    case Id::FanSpeed:
        return integer(m_model.fanSpeed(instance.row));
    case Id::SensorTemperature:
        return integer(m_model.sensorTemperature(instance.row));

    case Id::ModDescription:
        return text(module->config.description().toLatin1());
    case Id::ModSupply24:
        return real(m_model.moduleSupply(row, 0));
    case Id::ModSupply5:
        return real(m_model.moduleSupply(row, 1));
    case Id::ModLimitVoltage:
        return real(module->hardwareLimitVoltagePercent);
    case Id::ModLimitCurrent:
        return real(module->hardwareLimitCurrentPercent);
    case Id::ModRampVoltage:
        return real(module->rampSpeedVoltagePercent);
    case Id::ModRampCurrent:
        return real(module->rampSpeedCurrentPercent);
    case Id::ModStatus:
        return text(bitsOctets(m_model.moduleStatus(row), moduleStatusOctets), Type::Bits);
    case Id::ModEventStatus:
        return text(bitsOctets(m_model.moduleEventStatus(row), moduleEventOctets), Type::Bits);
    case Id::ModDoClear:
        return integer(0);
    case Id::ModTemp0:
        return real(m_model.moduleTemperature(row, 0));
    case Id::ModTemp1:
        return real(m_model.moduleTemperature(row, 1));
    case Id::ModTemp2:
        return real(m_model.moduleTemperature(row, 2));
    case Id::ModTemp3:
        return real(m_model.moduleTemperature(row, 3));

    case Id::OutName:
        return text(QByteArray("U") + QByteArray::number(instance.row));
    case Id::OutGroup:
        return integer(channel->group);
    case Id::OutStatus:
        return text(bitsOctets(m_model.channelStatus(slot, ch), channelStatusOctets), Type::Bits);
    case Id::OutSense:
        return real(m_model.measuredSenseVoltage(slot, ch));
    case Id::OutTerminal:
        return real(m_model.measuredVoltage(slot, ch));
    case Id::OutCurrentMeasured:
        return real(m_model.measuredCurrent(slot, ch));
    case Id::OutTemperature:
        return integer(
            module->isMeasurement() ? noTemperatureSensor : long(std::lround(m_model.moduleTemperature(slot, 0))));
    case Id::OutSwitch:
        return integer(m_model.channelSwitch(slot, ch));
    case Id::OutVoltage:
        return real(module->isMeasurement() ? 0.0 : channel->setVoltage);
    case Id::OutCurrent:
        return real(module->isMeasurement() ? 0.0 : channel->setCurrent);
    case Id::OutRiseRate:
    case Id::OutFallRate:
        return real(module->isMeasurement() ? 0.0 : module->rampVoltsPerSecond());
    case Id::OutBehaviour:
        return integer(channel->behaviour);
    case Id::OutSupMinSense:
        return real(channel->minSenseVoltage);
    case Id::OutSupMaxSense:
        return real(channel->maxSenseVoltage);
    case Id::OutSupMaxTerminal:
        return real(channel->maxTerminalVoltage);
    case Id::OutSupMaxCurrent:
        return real(channel->maxCurrent);
    case Id::OutConfigMaxSense:
    case Id::OutConfigMaxTerminal:
        return real(channel->nominalVoltage);
    case Id::OutConfigMaxCurrent:
        return real(channel->nominalCurrent);
    case Id::OutSupMaxPower:
        return real(channel->maxPower);
    case Id::OutCurrentRiseRate:
    case Id::OutCurrentFallRate:
        return real(module->isMeasurement() ? 0.0 : module->rampSpeedCurrentPercent / 100.0 * module->config.nominalCurrent);
    case Id::OutTripTime:
        return integer(channel->tripTimeMs);
    case Id::OutLimitVoltage:
        return real(module->hardwareLimitVoltagePercent / 100.0 * channel->nominalVoltage);
    case Id::OutLimitCurrent:
        return real(module->hardwareLimitCurrentPercent / 100.0 * channel->nominalCurrent);
    }
    return integer(0);
}

CrateMib::Error CrateMib::check(const Oid& oid, const Value& value)
{
    return write(oid, value, false);
}

CrateMib::Error CrateMib::set(const Oid& oid, const Value& value)
{
    return write(oid, value, true);
}

CrateMib::Error CrateMib::write(const Oid& oid, const Value& value, bool apply)
{
    Error lookup = Error::NoError;
    const Instance* instance = find(oid, &lookup);
    if (!instance) {
        if (lookup == Error::NoSuchInstance) {
            for (const Object& object : objects()) {
                if (startsWith(oid, object.base))
                    return object.writable ? Error::NoCreation : Error::NotWritable;
            }
        }
        return Error::NotWritable;
    }
    const Object& object = *instance->object;
    if (!object.writable)
        return Error::NotWritable;
    if (value.type != object.type)
        return Error::WrongType;
    if (object.type == Type::IpAddress && value.bytes.size() != 4)
        return Error::WrongLength;
    const int slot = instance->row / 100;
    const int ch = instance->row % 100;
    const long v = value.integer;
    const double f = value.real;
    CrateModel::Channel* channel = object.scope == Scope::Channel ? m_model.writableChannel(slot, ch) : nullptr;
    const CrateModel::Module* module = object.scope == Scope::Channel ? m_model.module(slot)
        : object.scope == Scope::Module                               ? m_model.module(instance->row)
                                                                      : nullptr;
    const double nominalVoltage = module ? module->config.nominalVoltage : 0.0;
    const double nominalCurrent = module ? module->config.nominalCurrent : 0.0;

    // Plain stored settings: a range check, then the assignment.
    auto store = [&](auto* target, auto newValue, bool inRange) {
        if (!inRange)
            return Error::WrongValue;
        if (apply)
            *target = newValue;
        return Error::NoError;
    };
    auto finite = [](double x) { return std::isfinite(x); };

    switch (object.id) {
    case Id::MainSwitch:
        if (v != 0 && v != 1)
            return Error::WrongValue;
        if (m_model.powerFailure() && v == 1)
            return Error::ResourceUnavailable;
        if (apply)
            return fromModel(m_model.setMainSwitch(v == 1));
        return Error::NoError;
    case Id::GroupsSwitch:
        return fromModel(
            apply ? m_model.groupsSwitch(instance->row, int(v)) : m_model.checkGroupsSwitch(instance->row, int(v)));
    case Id::IpStaticAddress:
        if (apply) {
            std::uint32_t a = 0;
            for (int i = 0; i < 4; ++i)
                a = (a << 8) | quint8(value.bytes[i]);
            m_model.setIpStaticAddress(a);
        }
        return Error::NoError;
    case Id::FanNominalSpeed:
        if (v != 0 && (v < 1200 || v > 4000))
            return Error::WrongValue;
        if (apply)
            m_model.setFanNominalSpeed(int(v));
        return Error::NoError;
    case Id::ModRampVoltage:
        return fromModel(apply ? m_model.setRampSpeedVoltage(instance->row, f) : m_model.checkRampSpeed(instance->row, f));
    case Id::ModRampCurrent:
        return fromModel(apply ? m_model.setRampSpeedCurrent(instance->row, f) : m_model.checkRampSpeed(instance->row, f));
    case Id::ModDoClear:
        if (v != 1)
            return Error::WrongValue;
        return apply ? fromModel(m_model.clearModule(instance->row)) : Error::NoError;
    case Id::OutSwitch:
        return fromModel(apply ? m_model.switchChannel(slot, ch, int(v)) : m_model.checkChannelSwitch(slot, ch, int(v)));
    case Id::OutVoltage:
        return fromModel(apply ? m_model.setVoltage(slot, ch, f) : m_model.checkVoltage(slot, ch, f));
    case Id::OutCurrent:
        return fromModel(apply ? m_model.setCurrent(slot, ch, f) : m_model.checkCurrent(slot, ch, f));
    case Id::OutRiseRate:
    case Id::OutFallRate: {
        // The modules ramp all channels at one module-wide speed: a channel's rate sets it.
        const double percent = nominalVoltage > 0 ? f / nominalVoltage * 100.0 : -1.0;
        return fromModel(apply ? m_model.setRampSpeedVoltage(slot, percent) : m_model.checkRampSpeed(slot, percent));
    }
    case Id::OutCurrentRiseRate:
    case Id::OutCurrentFallRate: {
        const double percent = nominalCurrent > 0 ? f / nominalCurrent * 100.0 : -1.0;
        return fromModel(apply ? m_model.setRampSpeedCurrent(slot, percent) : m_model.checkRampSpeed(slot, percent));
    }
    case Id::OutGroup:
        return store(&channel->group, int(v), v >= 1 && v <= 63);
    case Id::OutBehaviour:
        return store(&channel->behaviour, int(v), v >= 0 && v <= 65535);
    case Id::OutTripTime:
        return store(&channel->tripTimeMs, int(v), v >= 0 && v <= 65535);
    case Id::OutSupMinSense:
        return store(&channel->minSenseVoltage, f, finite(f) && std::fabs(f) <= 2 * channel->nominalVoltage);
    case Id::OutSupMaxSense:
        return store(&channel->maxSenseVoltage, f, finite(f) && std::fabs(f) <= 2 * channel->nominalVoltage);
    case Id::OutSupMaxTerminal:
        return store(&channel->maxTerminalVoltage, f, finite(f) && std::fabs(f) <= 2 * channel->nominalVoltage);
    case Id::OutSupMaxCurrent:
        return store(&channel->maxCurrent, f, finite(f) && f >= 0 && f <= 2 * channel->nominalCurrent);
    case Id::OutSupMaxPower:
        return store(
            &channel->maxPower, f, finite(f) && f >= 0 && f <= 4 * channel->nominalVoltage * channel->nominalCurrent);
    default:
        return Error::NotWritable;
    }
}
