// The C entry points of libWIENER_SNMP: argument checks, OID choice and value conversion.
// Transport, splitting, time-outs and locking live in SnmpSession.
#include "WienerSnmp.h"

#include "CrateOid.h"
#include "ResultBuffers.h"
#include "SessionConfig.h"
#include "SessionRegistry.h"
#include "SnmpSession.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

using CrateOid::Oid;

namespace {

// Channel indexes are slot * 100 + channel; a block may reach 100 values past its start.
constexpr int maxChannelIndex = INT_MAX - 2 * WIENER_SNMP_MAX_VALUES;

bool validChannel(int channel)
{
    return channel >= 0 && channel <= maxChannelIndex;
}
bool validSlot(int slot)
{
    return slot >= 0 && slot <= maxChannelIndex;
}

constexpr const char* notConnected = "not connected";
constexpr const char* invalidArgument = "invalid argument";

// Records why the calling thread's latest call on `handle` failed ("" after a success).
void setLastError(HSNMP handle, const std::string& reason)
{
    SessionRegistry::buffers(handle).error = reason;
}

// Answers `failure` for a call refused before reaching the crate.
template <typename Result>
Result refuse(HSNMP handle, Result failure, const char* reason = invalidArgument)
{
    setLastError(handle, SessionRegistry::find(handle) ? reason : notConnected);
    return failure;
}

// Runs `body` on the handle's session with its lock held; `failure` for an unknown handle.
// Either way the call's outcome becomes the thread's last error on that handle.
template <typename Result, typename Body>
Result onSession(HSNMP handle, Result failure, Body body)
{
    const std::shared_ptr<SnmpSession> session = SessionRegistry::find(handle);
    if (!session) {
        setLastError(handle, notConnected);
        return failure;
    }
    std::lock_guard<std::mutex> lock(session->mutex());
    session->resetFailure();
    const Result result = body(*session);
    setLastError(handle, session->failure());
    return result;
}

double readDouble(HSNMP handle, const Oid& oid)
{
    return onSession(handle, 0.0, [&](SnmpSession& s) { return s.get(oid, SnmpSession::FloatValue).toDouble(); });
}

int readInt(HSNMP handle, const Oid& oid)
{
    return onSession(handle, 0, [&](SnmpSession& s) { return s.get(oid, SnmpSession::IntegerValue).toInt(); });
}

int readBits(HSNMP handle, const Oid& oid)
{
    return onSession(handle, 0, [&](SnmpSession& s) { return s.get(oid, SnmpSession::BitsValue).bitsToInt(); });
}

// Null when the crate did not answer; empty text when it answered without a value (no such
// object or instance, e.g. an empty slot).
const char* readText(HSNMP handle, const Oid& oid)
{
    return onSession(handle, static_cast<const char*>(nullptr), [&](SnmpSession& s) -> const char* {
        bool answered = false;
        const SnmpValue value = s.get(oid, SnmpSession::TextValue, &answered);
        if (!answered)
            return nullptr;
        std::string& text = SessionRegistry::buffers(handle).text;
        text = value.text();
        return text.c_str();
    });
}

int writeInt(HSNMP handle, const Oid& oid, int value)
{
    return onSession(handle, 0, [&](SnmpSession& s) { return s.set(oid, SnmpValue::integer(value)) ? 1 : 0; });
}

int writeDouble(HSNMP handle, const Oid& oid, double value)
{
    return onSession(handle, 0, [&](SnmpSession& s) { return s.set(oid, SnmpValue::real(value)) ? 1 : 0; });
}

double readChannelDouble(HSNMP handle, CrateOid::OutputColumn column, int channel)
{
    return validChannel(channel) ? readDouble(handle, CrateOid::output(column, channel)) : refuse(handle, 0.0);
}

int readChannelInt(HSNMP handle, CrateOid::OutputColumn column, int channel)
{
    return validChannel(channel) ? readInt(handle, CrateOid::output(column, channel)) : refuse(handle, 0);
}

int writeChannelDouble(HSNMP handle, CrateOid::OutputColumn column, int channel, double value)
{
    return validChannel(channel) ? writeDouble(handle, CrateOid::output(column, channel), value) : refuse(handle, 0);
}

int writeChannelInt(HSNMP handle, CrateOid::OutputColumn column, int channel, int value)
{
    return validChannel(channel) ? writeInt(handle, CrateOid::output(column, channel), value) : refuse(handle, 0);
}

double readModuleDouble(HSNMP handle, CrateOid::ModuleColumn column, int slot)
{
    return validSlot(slot) ? readDouble(handle, CrateOid::module(column, slot)) : refuse(handle, 0.0);
}

std::vector<Oid> columnOids(CrateOid::OutputColumn column, int start, int size)
{
    std::vector<Oid> oids;
    oids.reserve(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i)
        oids.push_back(CrateOid::output(column, start + i));
    return oids;
}

// Number of leading values that were read. The caller copies `count` values from index 0 and
// takes value i as channel start + i, so a channel that could not be read (no such instance,
// a failed request) ends the block: values after a gap are dropped rather than shifted.
size_t readPrefix(const std::vector<SnmpValue>& values)
{
    size_t count = 0;
    while (count < values.size() && values[count].isValid())
        ++count;
    return count;
}

enum class IntegerForm { Integer, Bits };

SnmpIntegerBuffer* readIntegerBlock(HSNMP handle, CrateOid::OutputColumn column, int start, int size, IntegerForm form)
{
    return onSession(handle, static_cast<SnmpIntegerBuffer*>(nullptr), [&](SnmpSession& s) {
        SnmpIntegerBuffer& buffer = SessionRegistry::buffers(handle).integers;
        std::memset(&buffer, 0, sizeof buffer);
        if (!validChannel(start) || size <= 0) {
            s.fail(invalidArgument);
            return &buffer;
        }
        if (size > WIENER_SNMP_MAX_VALUES)
            size = WIENER_SNMP_MAX_VALUES;
        const std::vector<SnmpValue> values = s.get(
            columnOids(column, start, size), form == IntegerForm::Bits ? SnmpSession::BitsValue : SnmpSession::IntegerValue);
        const size_t count = readPrefix(values);
        for (size_t i = 0; i < count; ++i)
            buffer.value[i] = form == IntegerForm::Bits ? values[i].bitsToInt() : values[i].toInt();
        buffer.count = static_cast<int32_t>(count);
        return &buffer;
    });
}

SnmpDoubleBuffer* readDoubleBlock(HSNMP handle, CrateOid::OutputColumn column, int start, int size)
{
    return onSession(handle, static_cast<SnmpDoubleBuffer*>(nullptr), [&](SnmpSession& s) {
        SnmpDoubleBuffer& buffer = SessionRegistry::buffers(handle).doubles;
        std::memset(&buffer, 0, sizeof buffer);
        if (!validChannel(start) || size <= 0) {
            s.fail(invalidArgument);
            return &buffer;
        }
        if (size > WIENER_SNMP_MAX_VALUES)
            size = WIENER_SNMP_MAX_VALUES;
        const std::vector<SnmpValue> values = s.get(columnOids(column, start, size), SnmpSession::FloatValue);
        const size_t count = readPrefix(values);
        for (size_t i = 0; i < count; ++i)
            buffer.value[i] = values[i].toDouble();
        buffer.count = static_cast<int32_t>(count);
        return &buffer;
    });
}

// Writes `count` values in as few SET requests as the size bound allows; nothing is sent for an
// empty or oversized buffer.
template <typename Buffer, typename MakeValue>
int writeBlock(HSNMP handle, CrateOid::OutputColumn column, int start, const Buffer* values, MakeValue makeValue)
{
    if (!values || !validChannel(start) || values->count <= 0 || values->count > WIENER_SNMP_MAX_VALUES)
        return refuse(handle, 0);
    return onSession(handle, 0, [&](SnmpSession& s) {
        std::vector<SnmpValue> list;
        list.reserve(static_cast<size_t>(values->count));
        for (int i = 0; i < values->count; ++i)
            list.push_back(makeValue(values->value[i]));
        return s.set(columnOids(column, start, values->count), list) ? 1 : 0;
    });
}

int writeIntegerBlock(HSNMP handle, CrateOid::OutputColumn column, int start, const SnmpIntegerBuffer* values)
{
    return writeBlock(handle, column, start, values, [](int32_t v) { return SnmpValue::integer(v); });
}

int writeDoubleBlock(HSNMP handle, CrateOid::OutputColumn column, int start, const SnmpDoubleBuffer* values)
{
    return writeBlock(handle, column, start, values, [](double v) { return SnmpValue::real(v); });
}

} // namespace

extern "C" {

/* Library and connection */

int snmpInit(void)
{
    std::string reason;
    const bool ready = SessionRegistry::initialise(&reason);
    setLastError(nullptr, reason);
    return ready ? 1 : 0;
}

void snmpCleanup(void)
{
    SessionRegistry::cleanup();
}

HSNMP snmpOpen(const char* ipAddress)
{
    return snmpOpenConfigured(ipAddress, 0, nullptr, nullptr, 0, -1);
}

HSNMP snmpOpenConfigured(
    const char* ipAddress, int port, const char* readCommunity, const char* writeCommunity, int timeoutMs, int retries)
{
    SessionConfig defaults;
    defaults.port = port;
    defaults.readCommunity = readCommunity ? readCommunity : "";
    defaults.writeCommunity = writeCommunity ? writeCommunity : "";
    defaults.timeoutMs = timeoutMs;
    defaults.retries = retries;
    SessionConfig config;
    if (!SessionConfig::fromAddress(ipAddress, defaults, &config)) {
        setLastError(nullptr, "invalid address");
        return nullptr;
    }
    std::string reason;
    if (!SessionRegistry::initialise(&reason)) {
        setLastError(nullptr, reason);
        return nullptr;
    }
    std::unique_ptr<SnmpSession> session = SnmpSession::open(config);
    if (!session) {
        setLastError(nullptr, "cannot open a session to the address");
        return nullptr;
    }
    setLastError(nullptr, std::string());
    return SessionRegistry::add(std::shared_ptr<SnmpSession>(std::move(session)));
}

void snmpClose(HSNMP session)
{
    SessionRegistry::remove(session);
}

const char* snmpLastError(HSNMP session)
{
    std::string& error = SessionRegistry::buffers(session).error;
    // A handle that is not (or no longer) open has nothing but this to say, even before the
    // thread called anything on it.
    if (session && !SessionRegistry::find(session))
        error = notConnected;
    return error.c_str();
}

/* Crate */

int getMainSwitch(HSNMP session)
{
    return readInt(session, CrateOid::sysMainSwitch());
}
int setMainSwitch(HSNMP session, int value)
{
    return writeInt(session, CrateOid::sysMainSwitch(), value);
}
int getMainStatus(HSNMP session)
{
    return readBits(session, CrateOid::sysStatus());
}

uint32_t getIpStaticAddress(HSNMP session)
{
    return onSession(session, uint32_t(0),
        [](SnmpSession& s) { return s.get(CrateOid::ipStaticAddress(), SnmpSession::IntegerValue).ipToUint32(); });
}

int setIpStaticAddress(HSNMP session, uint32_t address)
{
    return onSession(session, 0,
        [&](SnmpSession& s) { return s.set(CrateOid::ipStaticAddress(), SnmpValue::ipAddress(address)) ? 1 : 0; });
}

const char* getPsSerialNumber(HSNMP session)
{
    return readText(session, CrateOid::psSerialNumber());
}
const char* getSysDescr(HSNMP session)
{
    return readText(session, CrateOid::sysDescr());
}

double getPsAuxVoltage(HSNMP session, int auxIndex)
{
    return auxIndex >= 0 ? readDouble(session, CrateOid::psAuxiliaryMeasurementVoltage(auxIndex)) : refuse(session, 0.0);
}

double getPsAuxCurrent(HSNMP session, int auxIndex)
{
    return auxIndex >= 0 ? readDouble(session, CrateOid::psAuxiliaryMeasurementCurrent(auxIndex)) : refuse(session, 0.0);
}

int getFanNominalSpeed(HSNMP session)
{
    return readInt(session, CrateOid::fanNominalSpeed());
}
int setFanNominalSpeed(HSNMP session, int rpm)
{
    return writeInt(session, CrateOid::fanNominalSpeed(), rpm);
}

/* Output channels, one at a time */

int getOutputNumber(HSNMP session)
{
    return readInt(session, CrateOid::outputNumber());
}
int getOutputGroups(HSNMP session)
{
    return readInt(session, CrateOid::groupsNumber());
}
int getOutputGroup(HSNMP session, int channel)
{
    return readChannelInt(session, CrateOid::OutputGroup, channel);
}

int getChannelStatus(HSNMP session, int channel)
{
    return validChannel(channel) ? readBits(session, CrateOid::output(CrateOid::OutputStatus, channel)) : refuse(session, 0);
}

double getOutputSenseMeasurement(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputMeasurementSenseVoltage, channel);
}

double getOutputTerminalMeasurement(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputMeasurementTerminalVoltage, channel);
}

double getCurrentMeasurement(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputMeasurementCurrent, channel);
}

int getTemperatureMeasurement(HSNMP session, int channel)
{
    return readChannelInt(session, CrateOid::OutputMeasurementTemperature, channel);
}

int setChannelSwitch(HSNMP session, int channel, int value)
{
    return writeChannelInt(session, CrateOid::OutputSwitch, channel, value);
}

int getChannelSwitch(HSNMP session, int channel)
{
    return readChannelInt(session, CrateOid::OutputSwitch, channel);
}

int setHighVoltageGroupsSwitch(HSNMP session, int value)
{
    return writeInt(session, CrateOid::groupsSwitch(CrateOid::HighVoltageGroup), value);
}

int getHighVoltageGroupsSwitch(HSNMP session)
{
    return readInt(session, CrateOid::groupsSwitch(CrateOid::HighVoltageGroup));
}

// A crate of high-voltage modules has no low-voltage group to address; rather than guess a
// group row on a real crate, these answer 0 and send nothing.
int setLowVoltageGroupsSwitch(HSNMP session, int)
{
    return refuse(session, 0, "no low-voltage group");
}
int getLowVoltageGroupsSwitch(HSNMP session)
{
    return refuse(session, 0, "no low-voltage group");
}

double getOutputVoltage(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputVoltage, channel);
}

int setOutputVoltage(HSNMP session, int channel, double volts)
{
    return writeChannelDouble(session, CrateOid::OutputVoltage, channel, volts);
}

double getOutputCurrent(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputCurrent, channel);
}

int setOutputCurrent(HSNMP session, int channel, double amperes)
{
    return writeChannelDouble(session, CrateOid::OutputCurrent, channel, amperes);
}

double getOutputRiseRate(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputVoltageRiseRate, channel);
}

int setOutputRiseRate(HSNMP session, int channel, double voltsPerSecond)
{
    return writeChannelDouble(session, CrateOid::OutputVoltageRiseRate, channel, voltsPerSecond);
}

double getOutputFallRate(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputVoltageFallRate, channel);
}

int setOutputFallRate(HSNMP session, int channel, double voltsPerSecond)
{
    return writeChannelDouble(session, CrateOid::OutputVoltageFallRate, channel, voltsPerSecond);
}

double getOutputCurrentRiseRate(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputCurrentRiseRate, channel);
}

int setOutputCurrentRiseRate(HSNMP session, int channel, double amperesPerSecond)
{
    return writeChannelDouble(session, CrateOid::OutputCurrentRiseRate, channel, amperesPerSecond);
}

double getOutputCurrentFallRate(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputCurrentFallRate, channel);
}

int setOutputCurrentFallRate(HSNMP session, int channel, double amperesPerSecond)
{
    return writeChannelDouble(session, CrateOid::OutputCurrentFallRate, channel, amperesPerSecond);
}

int getOutputSupervisionBehavior(HSNMP session, int channel)
{
    return readChannelInt(session, CrateOid::OutputSupervisionBehavior, channel);
}

int setOutputSupervisionBehavior(HSNMP session, int channel, int behavior)
{
    return writeChannelInt(session, CrateOid::OutputSupervisionBehavior, channel, behavior);
}

double getOutputSupervisionMinSenseVoltage(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputSupervisionMinSenseVoltage, channel);
}

int setOutputSupervisionMinSenseVoltage(HSNMP session, int channel, double volts)
{
    return writeChannelDouble(session, CrateOid::OutputSupervisionMinSenseVoltage, channel, volts);
}

double getOutputSupervisionMaxSenseVoltage(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputSupervisionMaxSenseVoltage, channel);
}

int setOutputSupervisionMaxSenseVoltage(HSNMP session, int channel, double volts)
{
    return writeChannelDouble(session, CrateOid::OutputSupervisionMaxSenseVoltage, channel, volts);
}

double getOutputSupervisionMaxTerminalVoltage(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputSupervisionMaxTerminalVoltage, channel);
}

int setOutputSupervisionMaxTerminalVoltage(HSNMP session, int channel, double volts)
{
    return writeChannelDouble(session, CrateOid::OutputSupervisionMaxTerminalVoltage, channel, volts);
}

double getOutputSupervisionMaxCurrent(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputSupervisionMaxCurrent, channel);
}

int setOutputSupervisionMaxCurrent(HSNMP session, int channel, double amperes)
{
    return writeChannelDouble(session, CrateOid::OutputSupervisionMaxCurrent, channel, amperes);
}

double getOutputConfigMaxSenseVoltage(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputConfigMaxSenseVoltage, channel);
}

double getOutputConfigMaxTerminalVoltage(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputConfigMaxTerminalVoltage, channel);
}

double getOutputConfigMaxCurrent(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputConfigMaxCurrent, channel);
}

double getOutputSupervisionMaxPower(HSNMP session, int channel)
{
    return readChannelDouble(session, CrateOid::OutputSupervisionMaxPower, channel);
}

int getOutputTripTimeMaxCurrent(HSNMP session, int channel)
{
    return readChannelInt(session, CrateOid::OutputTripTimeMaxCurrent, channel);
}

int setOutputTripTimeMaxCurrent(HSNMP session, int channel, int delayMs)
{
    return writeChannelInt(session, CrateOid::OutputTripTimeMaxCurrent, channel, delayMs);
}

/* Modules */

const char* getModuleDescription(HSNMP session, int slot)
{
    return validSlot(slot) ? readText(session, CrateOid::module(CrateOid::ModuleDescription, slot))
                           : refuse(session, static_cast<const char*>(nullptr));
}

double getModuleSupply24(HSNMP session, int slot)
{
    return validSlot(slot) ? readDouble(session, CrateOid::moduleSub(CrateOid::ModuleAuxiliaryMeasurementVoltage, 1, slot))
                           : refuse(session, 0.0);
}

double getModuleSupply5(HSNMP session, int slot)
{
    return validSlot(slot) ? readDouble(session, CrateOid::moduleSub(CrateOid::ModuleAuxiliaryMeasurementVoltage, 2, slot))
                           : refuse(session, 0.0);
}

double getModuleAuxTemperature(HSNMP session, int slot, int index)
{
    if (!validSlot(slot) || index < 0 || index > 3)
        return refuse(session, 0.0);
    return readDouble(session, CrateOid::moduleSub(CrateOid::ModuleAuxiliaryMeasurementTemperature, index + 1, slot));
}

double getModuleHardwareLimitVoltage(HSNMP session, int slot)
{
    return readModuleDouble(session, CrateOid::ModuleHardwareLimitVoltage, slot);
}

double getModuleHardwareLimitCurrent(HSNMP session, int slot)
{
    return readModuleDouble(session, CrateOid::ModuleHardwareLimitCurrent, slot);
}

double getModuleRampSpeedVoltage(HSNMP session, int slot)
{
    return readModuleDouble(session, CrateOid::ModuleRampSpeedVoltage, slot);
}

int setModuleRampSpeedVoltage(HSNMP session, int slot, double percentPerSecond)
{
    return validSlot(slot) ? writeDouble(session, CrateOid::module(CrateOid::ModuleRampSpeedVoltage, slot), percentPerSecond)
                           : refuse(session, 0);
}

double getModuleRampSpeedCurrent(HSNMP session, int slot)
{
    return readModuleDouble(session, CrateOid::ModuleRampSpeedCurrent, slot);
}

int setModuleRampSpeedCurrent(HSNMP session, int slot, double percentPerSecond)
{
    return validSlot(slot) ? writeDouble(session, CrateOid::module(CrateOid::ModuleRampSpeedCurrent, slot), percentPerSecond)
                           : refuse(session, 0);
}

int getModuleStatus(HSNMP session, int slot)
{
    return validSlot(slot) ? readBits(session, CrateOid::module(CrateOid::ModuleStatus, slot)) : refuse(session, 0);
}

int getModuleEventStatus(HSNMP session, int slot)
{
    return validSlot(slot) ? readBits(session, CrateOid::module(CrateOid::ModuleEventStatus, slot)) : refuse(session, 0);
}

int setModuleDoClear(HSNMP session, int slot)
{
    return validSlot(slot) ? writeInt(session, CrateOid::module(CrateOid::ModuleDoClear, slot), 1) : refuse(session, 0);
}

/* Block access */

SnmpIntegerBuffer* getMultipleChannelStatuses(HSNMP session, int start, int size)
{
    return readIntegerBlock(session, CrateOid::OutputStatus, start, size, IntegerForm::Bits);
}

SnmpIntegerBuffer* getMultipleOutputSwitches(HSNMP session, int start, int size)
{
    return readIntegerBlock(session, CrateOid::OutputSwitch, start, size, IntegerForm::Integer);
}

int setMultipleOutputSwitches(HSNMP session, int start, const SnmpIntegerBuffer* values)
{
    return writeIntegerBlock(session, CrateOid::OutputSwitch, start, values);
}

SnmpIntegerBuffer* getMultipleOutputTripTimeMaxCurrents(HSNMP session, int start, int size)
{
    return readIntegerBlock(session, CrateOid::OutputTripTimeMaxCurrent, start, size, IntegerForm::Integer);
}

int setMultipleOutputTripTimeMaxCurrents(HSNMP session, int start, const SnmpIntegerBuffer* values)
{
    return writeIntegerBlock(session, CrateOid::OutputTripTimeMaxCurrent, start, values);
}

SnmpIntegerBuffer* getMultipleOutputSupervisionBehaviors(HSNMP session, int start, int size)
{
    return readIntegerBlock(session, CrateOid::OutputSupervisionBehavior, start, size, IntegerForm::Integer);
}

int setMultipleOutputSupervisionBehaviors(HSNMP session, int start, const SnmpIntegerBuffer* values)
{
    return writeIntegerBlock(session, CrateOid::OutputSupervisionBehavior, start, values);
}

SnmpDoubleBuffer* getMultipleOutputVoltages(HSNMP session, int start, int size)
{
    return readDoubleBlock(session, CrateOid::OutputVoltage, start, size);
}

int setMultipleOutputVoltages(HSNMP session, int start, const SnmpDoubleBuffer* values)
{
    return writeDoubleBlock(session, CrateOid::OutputVoltage, start, values);
}

SnmpDoubleBuffer* getMultipleMeasurementTerminalVoltages(HSNMP session, int start, int size)
{
    return readDoubleBlock(session, CrateOid::OutputMeasurementTerminalVoltage, start, size);
}

SnmpDoubleBuffer* getMultipleOutputConfigMaxTerminalVoltages(HSNMP session, int start, int size)
{
    return readDoubleBlock(session, CrateOid::OutputConfigMaxTerminalVoltage, start, size);
}

SnmpDoubleBuffer* getMultipleOutputCurrents(HSNMP session, int start, int size)
{
    return readDoubleBlock(session, CrateOid::OutputCurrent, start, size);
}

int setMultipleOutputCurrents(HSNMP session, int start, const SnmpDoubleBuffer* values)
{
    return writeDoubleBlock(session, CrateOid::OutputCurrent, start, values);
}

SnmpDoubleBuffer* getMultipleMeasurementCurrents(HSNMP session, int start, int size)
{
    return readDoubleBlock(session, CrateOid::OutputMeasurementCurrent, start, size);
}

SnmpDoubleBuffer* getMultipleOutputConfigMaxCurrents(HSNMP session, int start, int size)
{
    return readDoubleBlock(session, CrateOid::OutputConfigMaxCurrent, start, size);
}

} // extern "C"

// ---- several quantities at once ---------------------------------------------------------------

namespace {

struct BlockQuantity
{
    int32_t flag;
    CrateOid::OutputColumn column;
    size_t valueBytes;
    SnmpIntegerBuffer SnmpChannelBlock::*integers; // null for a Float quantity
    SnmpDoubleBuffer SnmpChannelBlock::*doubles;
};

const BlockQuantity blockQuantities[] = {
    {WIENER_BLOCK_STATUS, CrateOid::OutputStatus, SnmpSession::BitsValue, &SnmpChannelBlock::statuses, nullptr},
    {WIENER_BLOCK_SWITCH, CrateOid::OutputSwitch, SnmpSession::IntegerValue, &SnmpChannelBlock::switches, nullptr},
    {WIENER_BLOCK_VOLTAGE, CrateOid::OutputVoltage, SnmpSession::FloatValue, nullptr, &SnmpChannelBlock::voltages},
    {WIENER_BLOCK_CURRENT, CrateOid::OutputCurrent, SnmpSession::FloatValue, nullptr, &SnmpChannelBlock::currents},
    {WIENER_BLOCK_MEASURED_VOLTAGE, CrateOid::OutputMeasurementTerminalVoltage, SnmpSession::FloatValue, nullptr,
        &SnmpChannelBlock::measuredVoltages},
    {WIENER_BLOCK_MEASURED_CURRENT, CrateOid::OutputMeasurementCurrent, SnmpSession::FloatValue, nullptr,
        &SnmpChannelBlock::measuredCurrents},
    {WIENER_BLOCK_NOMINAL_VOLTAGE, CrateOid::OutputConfigMaxTerminalVoltage, SnmpSession::FloatValue, nullptr,
        &SnmpChannelBlock::nominalVoltages},
    {WIENER_BLOCK_NOMINAL_CURRENT, CrateOid::OutputConfigMaxCurrent, SnmpSession::FloatValue, nullptr,
        &SnmpChannelBlock::nominalCurrents},
};

} // namespace

namespace {

// One block of a getChannelBlock(s) call, its arguments checked.
struct BlockRequest
{
    int start;
    int size;
    SnmpChannelBlock* block;
    int complete = 0; // leading channels read in every chosen quantity
};

// Clears `block` but its choice; false for arguments getChannelBlock refuses.
bool prepareBlock(int start, int& size, SnmpChannelBlock* block)
{
    if (!block)
        return false;
    const int32_t which = block->which & WIENER_BLOCK_ALL;
    std::memset(block, 0, sizeof *block);
    block->which = which;
    if (which == 0 || !validChannel(start) || size <= 0)
        return false;
    size = std::min(size, WIENER_SNMP_MAX_VALUES);
    return true;
}

// Reads every block's chosen quantities with all requests of all blocks in flight together.
void readBlocks(SnmpSession& s, std::vector<BlockRequest>& requests)
{
    std::vector<SnmpSession::Column> columns;
    std::vector<std::pair<BlockRequest*, const BlockQuantity*>> owners;
    for (BlockRequest& request : requests) {
        for (const BlockQuantity& quantity : blockQuantities) {
            if (!(request.block->which & quantity.flag))
                continue;
            SnmpSession::Column column;
            column.oids = columnOids(quantity.column, request.start, request.size);
            column.valueBytes = quantity.valueBytes;
            columns.push_back(std::move(column));
            owners.emplace_back(&request, &quantity);
        }
        request.complete = request.size;
    }
    s.getTogether(columns);
    for (size_t q = 0; q < columns.size(); ++q) {
        BlockRequest& request = *owners[q].first;
        const BlockQuantity& quantity = *owners[q].second;
        SnmpChannelBlock* block = request.block;
        const std::vector<SnmpValue>& values = columns[q].results;
        const size_t count = readPrefix(values);
        request.complete = std::min(request.complete, int(count));
        if (columns[q].answered)
            block->answered |= quantity.flag;
        if (quantity.integers) {
            SnmpIntegerBuffer& buffer = block->*quantity.integers;
            for (size_t i = 0; i < count; ++i)
                buffer.value[i] = quantity.flag == WIENER_BLOCK_STATUS ? values[i].bitsToInt() : values[i].toInt();
            buffer.count = int32_t(count);
        } else {
            SnmpDoubleBuffer& buffer = block->*quantity.doubles;
            for (size_t i = 0; i < count; ++i)
                buffer.value[i] = values[i].toDouble();
            buffer.count = int32_t(count);
        }
    }
}

} // namespace

extern "C" int getChannelBlock(HSNMP session, int start, int size, SnmpChannelBlock* block)
{
    if (!prepareBlock(start, size, block))
        return refuse(session, 0);
    return onSession(session, 0, [&](SnmpSession& s) {
        std::vector<BlockRequest> requests{BlockRequest{start, size, block}};
        readBlocks(s, requests);
        return requests.front().complete;
    });
}

extern "C" int getChannelBlocks(
    HSNMP session, int count, const int32_t* starts, const int32_t* sizes, SnmpChannelBlock* blocks, int32_t* complete)
{
    if (count <= 0 || count > WIENER_SNMP_MAX_BLOCKS || !starts || !sizes || !blocks || !complete)
        return refuse(session, 0);
    std::vector<BlockRequest> requests;
    bool valid = true;
    for (int i = 0; i < count; ++i) {
        complete[i] = 0;
        int size = sizes[i];
        valid = prepareBlock(starts[i], size, &blocks[i]) && valid;
        requests.push_back(BlockRequest{starts[i], size, &blocks[i]});
    }
    if (!valid)
        return refuse(session, 0);
    return onSession(session, 0, [&](SnmpSession& s) {
        readBlocks(s, requests);
        int answered = 0;
        for (int i = 0; i < count; ++i) {
            complete[i] = requests[size_t(i)].complete;
            if (blocks[i].answered == blocks[i].which)
                ++answered;
        }
        return answered;
    });
}

extern "C" int getModuleValues(HSNMP session, int slot, SnmpModuleValues* values)
{
    if (!values || !validSlot(slot) || !(values->which & WIENER_MODULE_ALL))
        return refuse(session, 0);
    const int which = values->which & WIENER_MODULE_ALL;
    std::memset(values, 0, sizeof *values);
    values->which = which;

    // One varbind per value, tagged with its group; all of them travel in one GET (split only
    // by the size bound), so the module's values cost one round trip.
    struct Item
    {
        int group;
        Oid oid;
        int32_t* integer; // BITS in int form
        double* real;
    };
    std::vector<Item> items;
    if (which & WIENER_MODULE_STATUS) {
        items.push_back({WIENER_MODULE_STATUS, CrateOid::module(CrateOid::ModuleStatus, slot), &values->status, nullptr});
        items.push_back(
            {WIENER_MODULE_STATUS, CrateOid::module(CrateOid::ModuleEventStatus, slot), &values->eventStatus, nullptr});
    }
    if (which & WIENER_MODULE_RAMP_SPEEDS) {
        items.push_back({WIENER_MODULE_RAMP_SPEEDS, CrateOid::module(CrateOid::ModuleRampSpeedVoltage, slot), nullptr,
            &values->rampSpeedVoltage});
        items.push_back({WIENER_MODULE_RAMP_SPEEDS, CrateOid::module(CrateOid::ModuleRampSpeedCurrent, slot), nullptr,
            &values->rampSpeedCurrent});
    }
    if (which & WIENER_MODULE_TEMPERATURES) {
        for (int index = 0; index < 4; ++index)
            items.push_back({WIENER_MODULE_TEMPERATURES,
                CrateOid::moduleSub(CrateOid::ModuleAuxiliaryMeasurementTemperature, index + 1, slot), nullptr,
                &values->temperatures[index]});
    }
    if (which & WIENER_MODULE_SUPPLIES) {
        items.push_back({WIENER_MODULE_SUPPLIES, CrateOid::moduleSub(CrateOid::ModuleAuxiliaryMeasurementVoltage, 1, slot),
            nullptr, &values->supply24});
        items.push_back({WIENER_MODULE_SUPPLIES, CrateOid::moduleSub(CrateOid::ModuleAuxiliaryMeasurementVoltage, 2, slot),
            nullptr, &values->supply5});
        items.push_back({WIENER_MODULE_SUPPLIES, CrateOid::module(CrateOid::ModuleHardwareLimitVoltage, slot), nullptr,
            &values->hardwareLimitVoltage});
        items.push_back({WIENER_MODULE_SUPPLIES, CrateOid::module(CrateOid::ModuleHardwareLimitCurrent, slot), nullptr,
            &values->hardwareLimitCurrent});
    }
    return onSession(session, 0, [&](SnmpSession& s) {
        std::vector<Oid> oids;
        oids.reserve(items.size());
        for (const Item& item : items)
            oids.push_back(item.oid);
        // The largest of the value sizes, so the size bound holds whatever type answers.
        const std::vector<SnmpValue> answers = s.get(oids, SnmpSession::BitsValue);
        int answered = which;
        for (size_t i = 0; i < items.size(); ++i) {
            const Item& item = items[i];
            if (!answers[i].isValid()) {
                answered &= ~item.group;
                continue;
            }
            if (item.integer)
                *item.integer = answers[i].bitsToInt();
            else
                *item.real = answers[i].toDouble();
        }
        // A group is either read whole or not at all.
        for (const Item& item : items) {
            if (!(answered & item.group)) {
                if (item.integer)
                    *item.integer = 0;
                else
                    *item.real = 0.0;
            }
        }
        values->answered = answered;
        return answered == which ? 1 : 0;
    });
}

// ---- one column written for several channels ---------------------------------------------------

namespace {

static_assert(WIENER_WRITE_TAKEN == SnmpSession::SetTaken && WIENER_WRITE_TIMEOUT == SnmpSession::SetTimedOut
        && WIENER_WRITE_NOT_ANSWERED == SnmpSession::SetNotAnswered && WIENER_WRITE_NOT_SENT == SnmpSession::SetNotSent,
    "the result codes of the setChannels entries are SnmpSession's");

template <typename Value, typename MakeValue>
int writeChannels(HSNMP handle, CrateOid::OutputColumn column, int count, const int32_t* channels, const Value* values,
    int32_t* results, MakeValue makeValue)
{
    if (count <= 0 || count > WIENER_SNMP_MAX_WRITES || !channels || !values || !results)
        return refuse(handle, 0);
    std::fill_n(results, count, int32_t(WIENER_WRITE_NOT_SENT));
    std::vector<Oid> oids;
    std::vector<SnmpValue> list;
    oids.reserve(size_t(count));
    list.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        if (!validChannel(channels[i]))
            return refuse(handle, 0);
        oids.push_back(CrateOid::output(column, channels[i]));
        list.push_back(makeValue(values[i]));
    }
    return onSession(handle, 0, [&](SnmpSession& s) {
        const std::vector<int> outcome = s.setTogether(oids, list);
        int taken = 0;
        for (int i = 0; i < count; ++i) {
            results[i] = outcome[size_t(i)];
            taken += results[i] == WIENER_WRITE_TAKEN ? 1 : 0;
        }
        return taken;
    });
}

} // namespace

extern "C" int setChannelsSwitch(HSNMP session, int count, const int32_t* channels, const int32_t* values, int32_t* results)
{
    return writeChannels(
        session, CrateOid::OutputSwitch, count, channels, values, results, [](int32_t v) { return SnmpValue::integer(v); });
}

extern "C" int setChannelsVoltage(HSNMP session, int count, const int32_t* channels, const double* volts, int32_t* results)
{
    return writeChannels(
        session, CrateOid::OutputVoltage, count, channels, volts, results, [](double v) { return SnmpValue::real(v); });
}

extern "C" int setChannelsCurrent(HSNMP session, int count, const int32_t* channels, const double* amperes, int32_t* results)
{
    return writeChannels(
        session, CrateOid::OutputCurrent, count, channels, amperes, results, [](double v) { return SnmpValue::real(v); });
}

extern "C" const char* snmpResultText(int code)
{
    return SnmpSession::setResultName(code);
}
