/*
 * WIENER_SNMP: SNMP v2c access to an MPOD crate.
 *
 * A plain C interface so that any caller can bind it at run time by name (the program does so
 * with QLibrary("WIENER_SNMP")). All numbers are SI units unless stated: volts, amperes, %/s.
 *
 * Handles: one per snmpOpen(); several crates may be open at once. A null handle passed to any
 * entry answers null, 0 or a count of 0 and sends nothing.
 *
 * Texts returned (const char*) belong to the library and stay valid until the next call on the
 * same handle. Buffers returned by the getMultiple entries likewise belong to the handle;
 * getChannelBlock fills a block the caller owns.
 *
 * Time: every call is bounded (short time-out, at most one retry). Once calls on a handle have
 * timed out twice in a row and nothing at all was answered on it for a second (lost requests are
 * packet loss, a second of silence is a silent crate), calls on that handle fail at once for a
 * short hold-off before one request probes the crate again, so a silent crate never freezes the
 * caller for long. Waiting for answers blocks in select(); it costs no CPU. A set that times out
 * is followed by one read with a single attempt, to tell a crate that ignores our write community
 * from a silent one.
 *
 * Threads: calls on one handle from several threads are serialised inside the library.
 *
 * Set entries return non-zero when the crate answered the request without an error.
 *
 * Channel index: slot * 100 + channel (slot 0..9, channel from 0).
 * Module entries take the slot number 0..9.
 *
 * Configuration (read by snmpOpen): TESMAR_SNMP_PORT (161), TESMAR_SNMP_READ_COMMUNITY
 * ("public"), TESMAR_SNMP_WRITE_COMMUNITY ("guru"), TESMAR_SNMP_TIMEOUT_MS,
 * TESMAR_SNMP_RETRIES. An address given as "host:port" overrides the port variable.
 * snmpOpenConfigured takes the caller's settings as the defaults the variables override.
 */
#ifndef WIENER_SNMP_H
#define WIENER_SNMP_H

#include <stdint.h>

#if defined(WIENER_SNMP_BUILD)
#define WIENER_SNMP_API __attribute__((visibility("default")))
#else
#define WIENER_SNMP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HSNMP;

#define WIENER_SNMP_MAX_VALUES 100

#pragma pack(push, 4)
/* int32 count, then up to 100 int32 values. */
typedef struct SnmpIntegerBuffer
{
    int32_t count;
    int32_t value[WIENER_SNMP_MAX_VALUES];
} SnmpIntegerBuffer;

/* int32 count, then up to 100 float64 values starting directly after the count. */
typedef struct SnmpDoubleBuffer
{
    int32_t count;
    double value[WIENER_SNMP_MAX_VALUES];
} SnmpDoubleBuffer;
#pragma pack(pop)

/* Library and connection */
WIENER_SNMP_API int snmpInit(void);
WIENER_SNMP_API void snmpCleanup(void);
WIENER_SNMP_API HSNMP snmpOpen(const char* ipAddress);
/* snmpOpen with the caller's connection settings in place of the built-in defaults: port
 * (1..65535), read and write community (non-empty), time-out in ms (1..60000) and retries
 * (0..10). A value outside its range, or a null community, keeps the built-in default. The
 * TESMAR_SNMP_* variables still win over these, and a port in "host:port" wins over both. */
WIENER_SNMP_API HSNMP snmpOpenConfigured(
    const char* ipAddress, int port, const char* readCommunity, const char* writeCommunity, int timeoutMs, int retries);
WIENER_SNMP_API void snmpClose(HSNMP session);
/* Why the calling thread's latest call on `session` failed; "" when it succeeded. Texts:
 * "timeout" (no answer, also for calls refused during the hold-off after a time-out),
 * "write not answered" (a set nobody answered while a read sent right after it was answered:
 * the crate drops sets with a write community it does not know without a word), the
 * error-status name of an error answer ("noAccess", "wrongValue", "notWritable", "wrongType",
 * "inconsistentValue", "tooBig", "genErr", ...), the exception answered instead of a value
 * ("noSuchInstance", "noSuchObject"), "invalid argument", "not connected" for a null, closed or
 * unknown handle. A set entry that sends several requests reports the first failure; a block
 * read that ends early reports what ended it.
 * With a null handle: the reason snmpInit or snmpOpen failed in this thread ("" after they
 * succeeded), or "not connected" after a call with a null handle.
 * The text belongs to the library, per thread and handle: valid until the same thread's next
 * call on that handle. Calls from another thread never change it. */
WIENER_SNMP_API const char* snmpLastError(HSNMP session);

/* Crate */
WIENER_SNMP_API int getMainSwitch(HSNMP session);
WIENER_SNMP_API int setMainSwitch(HSNMP session, int value);
WIENER_SNMP_API int getMainStatus(HSNMP session);
/* IPv4 address as uint32 whose least significant byte is the first dotted number. */
WIENER_SNMP_API uint32_t getIpStaticAddress(HSNMP session);
WIENER_SNMP_API int setIpStaticAddress(HSNMP session, uint32_t address);
WIENER_SNMP_API const char* getPsSerialNumber(HSNMP session);
WIENER_SNMP_API const char* getSysDescr(HSNMP session);
WIENER_SNMP_API double getPsAuxVoltage(HSNMP session, int auxIndex);
WIENER_SNMP_API double getPsAuxCurrent(HSNMP session, int auxIndex);
WIENER_SNMP_API int getFanNominalSpeed(HSNMP session);
WIENER_SNMP_API int setFanNominalSpeed(HSNMP session, int rpm);

/* Output channels, one at a time */
WIENER_SNMP_API int getOutputNumber(HSNMP session);
WIENER_SNMP_API int getOutputGroups(HSNMP session);
WIENER_SNMP_API int getOutputGroup(HSNMP session, int channel);
/* outputStatus BITS in int form: octet i in bits 8i..8i+7. */
WIENER_SNMP_API int getChannelStatus(HSNMP session, int channel);
WIENER_SNMP_API double getOutputSenseMeasurement(HSNMP session, int channel);
WIENER_SNMP_API double getOutputTerminalMeasurement(HSNMP session, int channel);
WIENER_SNMP_API double getCurrentMeasurement(HSNMP session, int channel);
WIENER_SNMP_API int getTemperatureMeasurement(HSNMP session, int channel);
WIENER_SNMP_API int setChannelSwitch(HSNMP session, int channel, int value);
WIENER_SNMP_API int getChannelSwitch(HSNMP session, int channel);
WIENER_SNMP_API int setHighVoltageGroupsSwitch(HSNMP session, int value);
WIENER_SNMP_API int getHighVoltageGroupsSwitch(HSNMP session);
WIENER_SNMP_API int setLowVoltageGroupsSwitch(HSNMP session, int value);
WIENER_SNMP_API int getLowVoltageGroupsSwitch(HSNMP session);
WIENER_SNMP_API double getOutputVoltage(HSNMP session, int channel);
WIENER_SNMP_API int setOutputVoltage(HSNMP session, int channel, double volts);
WIENER_SNMP_API double getOutputCurrent(HSNMP session, int channel);
WIENER_SNMP_API int setOutputCurrent(HSNMP session, int channel, double amperes);
WIENER_SNMP_API double getOutputRiseRate(HSNMP session, int channel);
WIENER_SNMP_API int setOutputRiseRate(HSNMP session, int channel, double voltsPerSecond);
WIENER_SNMP_API double getOutputFallRate(HSNMP session, int channel);
WIENER_SNMP_API int setOutputFallRate(HSNMP session, int channel, double voltsPerSecond);
WIENER_SNMP_API double getOutputCurrentRiseRate(HSNMP session, int channel);
WIENER_SNMP_API int setOutputCurrentRiseRate(HSNMP session, int channel, double amperesPerSecond);
WIENER_SNMP_API double getOutputCurrentFallRate(HSNMP session, int channel);
WIENER_SNMP_API int setOutputCurrentFallRate(HSNMP session, int channel, double amperesPerSecond);
WIENER_SNMP_API int getOutputSupervisionBehavior(HSNMP session, int channel);
WIENER_SNMP_API int setOutputSupervisionBehavior(HSNMP session, int channel, int behavior);
WIENER_SNMP_API double getOutputSupervisionMinSenseVoltage(HSNMP session, int channel);
WIENER_SNMP_API int setOutputSupervisionMinSenseVoltage(HSNMP session, int channel, double volts);
WIENER_SNMP_API double getOutputSupervisionMaxSenseVoltage(HSNMP session, int channel);
WIENER_SNMP_API int setOutputSupervisionMaxSenseVoltage(HSNMP session, int channel, double volts);
WIENER_SNMP_API double getOutputSupervisionMaxTerminalVoltage(HSNMP session, int channel);
WIENER_SNMP_API int setOutputSupervisionMaxTerminalVoltage(HSNMP session, int channel, double volts);
WIENER_SNMP_API double getOutputSupervisionMaxCurrent(HSNMP session, int channel);
WIENER_SNMP_API int setOutputSupervisionMaxCurrent(HSNMP session, int channel, double amperes);
WIENER_SNMP_API double getOutputConfigMaxSenseVoltage(HSNMP session, int channel);
WIENER_SNMP_API double getOutputConfigMaxTerminalVoltage(HSNMP session, int channel);
WIENER_SNMP_API double getOutputConfigMaxCurrent(HSNMP session, int channel);
WIENER_SNMP_API double getOutputSupervisionMaxPower(HSNMP session, int channel);
/* Delayed current trip time in milliseconds. */
WIENER_SNMP_API int getOutputTripTimeMaxCurrent(HSNMP session, int channel);
WIENER_SNMP_API int setOutputTripTimeMaxCurrent(HSNMP session, int channel, int delayMs);

/* Modules (slot 0..9) */
/* "Vendor, FirmwareName, ChannelNumber, SerialNumber, FirmwareRelease"; empty for an empty slot. */
WIENER_SNMP_API const char* getModuleDescription(HSNMP session, int slot);
WIENER_SNMP_API double getModuleSupply24(HSNMP session, int slot);
WIENER_SNMP_API double getModuleSupply5(HSNMP session, int slot);
WIENER_SNMP_API double getModuleAuxTemperature(HSNMP session, int slot, int index);
WIENER_SNMP_API double getModuleHardwareLimitVoltage(HSNMP session, int slot);
WIENER_SNMP_API double getModuleHardwareLimitCurrent(HSNMP session, int slot);
WIENER_SNMP_API double getModuleRampSpeedVoltage(HSNMP session, int slot);
WIENER_SNMP_API int setModuleRampSpeedVoltage(HSNMP session, int slot, double percentPerSecond);
WIENER_SNMP_API double getModuleRampSpeedCurrent(HSNMP session, int slot);
WIENER_SNMP_API int setModuleRampSpeedCurrent(HSNMP session, int slot, double percentPerSecond);
/* moduleStatus / moduleEventStatus BITS in int form. */
WIENER_SNMP_API int getModuleStatus(HSNMP session, int slot);
WIENER_SNMP_API int getModuleEventStatus(HSNMP session, int slot);
WIENER_SNMP_API int setModuleDoClear(HSNMP session, int slot);

/* Block access: `size` channels starting at channel index `start` (at most 100). The returned
 * buffer's count is the number of values read; 0 (or a null pointer) when nothing was read. */
WIENER_SNMP_API SnmpIntegerBuffer* getMultipleChannelStatuses(HSNMP session, int start, int size);
WIENER_SNMP_API SnmpIntegerBuffer* getMultipleOutputSwitches(HSNMP session, int start, int size);
WIENER_SNMP_API int setMultipleOutputSwitches(HSNMP session, int start, const SnmpIntegerBuffer* values);
WIENER_SNMP_API SnmpIntegerBuffer* getMultipleOutputTripTimeMaxCurrents(HSNMP session, int start, int size);
WIENER_SNMP_API int setMultipleOutputTripTimeMaxCurrents(HSNMP session, int start, const SnmpIntegerBuffer* values);
WIENER_SNMP_API SnmpIntegerBuffer* getMultipleOutputSupervisionBehaviors(HSNMP session, int start, int size);
WIENER_SNMP_API int setMultipleOutputSupervisionBehaviors(HSNMP session, int start, const SnmpIntegerBuffer* values);
WIENER_SNMP_API SnmpDoubleBuffer* getMultipleOutputVoltages(HSNMP session, int start, int size);
WIENER_SNMP_API int setMultipleOutputVoltages(HSNMP session, int start, const SnmpDoubleBuffer* values);
WIENER_SNMP_API SnmpDoubleBuffer* getMultipleMeasurementTerminalVoltages(HSNMP session, int start, int size);
WIENER_SNMP_API SnmpDoubleBuffer* getMultipleOutputConfigMaxTerminalVoltages(HSNMP session, int start, int size);
WIENER_SNMP_API SnmpDoubleBuffer* getMultipleOutputCurrents(HSNMP session, int start, int size);
WIENER_SNMP_API int setMultipleOutputCurrents(HSNMP session, int start, const SnmpDoubleBuffer* values);
WIENER_SNMP_API SnmpDoubleBuffer* getMultipleMeasurementCurrents(HSNMP session, int start, int size);
WIENER_SNMP_API SnmpDoubleBuffer* getMultipleOutputConfigMaxCurrents(HSNMP session, int start, int size);

/* Several per-channel quantities of `size` channels from channel index `start` (at most 100) in
 * one call: every request of the call is sent before the first answer is awaited, so the call
 * costs about one round trip instead of one per quantity. The caller owns `block` (the library
 * keeps no pointer into it, so the call is safe from any thread with a block of its own) and
 * chooses the quantities with the WIENER_BLOCK_ flags in `which`. For each chosen quantity the
 * buffer's count is the number of leading channels read, as with the getMultiple entries (a
 * channel without a row or a lost request ends it); buffers of quantities not chosen are
 * zeroed. `answered` gets the flag of every chosen quantity whose requests were all answered
 * without error. A request without an answer is sent again after the time-out (the configured
 * retries) while the other answers are kept; the call counts as a time-out for the hold-off
 * only when no request of the call was answered. snmpLastError reports the first failure.
 * Returns the number of leading channels read in every chosen quantity; 0 when nothing was read
 * or the arguments are bad (null block, no known flag, start or size out of range). */
#define WIENER_BLOCK_STATUS 0x01           /* outputStatus, int form as getChannelStatus */
#define WIENER_BLOCK_SWITCH 0x02           /* outputSwitch */
#define WIENER_BLOCK_VOLTAGE 0x04          /* outputVoltage, V */
#define WIENER_BLOCK_CURRENT 0x08          /* outputCurrent, A */
#define WIENER_BLOCK_MEASURED_VOLTAGE 0x10 /* outputMeasurementTerminalVoltage, V */
#define WIENER_BLOCK_MEASURED_CURRENT 0x20 /* outputMeasurementCurrent, A */
#define WIENER_BLOCK_NOMINAL_VOLTAGE 0x40  /* outputConfigMaxTerminalVoltage, V */
#define WIENER_BLOCK_NOMINAL_CURRENT 0x80  /* outputConfigMaxCurrent, A */
#define WIENER_BLOCK_ALL 0xFF

#pragma pack(push, 4)
typedef struct SnmpChannelBlock
{
    int32_t which;
    int32_t answered;
    SnmpIntegerBuffer statuses;
    SnmpIntegerBuffer switches;
    SnmpDoubleBuffer voltages;
    SnmpDoubleBuffer currents;
    SnmpDoubleBuffer measuredVoltages;
    SnmpDoubleBuffer measuredCurrents;
    SnmpDoubleBuffer nominalVoltages;
    SnmpDoubleBuffer nominalCurrents;
} SnmpChannelBlock;
#pragma pack(pop)

WIENER_SNMP_API int getChannelBlock(HSNMP session, int start, int size, SnmpChannelBlock* block);

/* Several channel blocks (of one module each, say) with one call: block i covers `sizes[i]`
 * channels from `starts[i]` and its own `which`, filled as getChannelBlock fills it, and
 * `complete[i]` gets what getChannelBlock would return for it. Every request of every block is in
 * flight together, so a crate of ten modules is read in about one round trip. Returns the number
 * of blocks whose chosen quantities were all answered; 0 when nothing was read or an argument is
 * bad (count outside 1..WIENER_SNMP_MAX_BLOCKS, a null pointer, a block getChannelBlock refuses). */
#define WIENER_SNMP_MAX_BLOCKS 16
WIENER_SNMP_API int getChannelBlocks(
    HSNMP session, int count, const int32_t* starts, const int32_t* sizes, SnmpChannelBlock* blocks, int32_t* complete);

/* One output column written for several channels with one call: `count` channels (indexes as
 * for the single entries, each at most once) get values[i] for channels[i]. Every SET request of
 * the call is in flight together (as many channels per request as fit), so 48 channels cost
 * about one round trip instead of 48. A crate takes a request whole or not at all: when a request
 * of several channels is refused, its channels are sent again one per request, all together, so
 * only the refused channel is refused. Time-out, retries and the hold-off as for
 * getChannelBlocks (lost requests are sent again; only a call with no answer at all counts
 * towards the hold-off); when writes timed out, one read tells "write not answered" from a
 * silent crate, as after any set. `results[i]` gets the outcome of channels[i], one of the
 * WIENER_WRITE_ codes or, when positive, the error status the crate answered (RFC 3416: 6
 * noAccess, 10 wrongValue, 13 resourceUnavailable, 17 notWritable, ...); snmpResultText names
 * it. snmpLastError reports the first failure of the call.
 * Returns the number of channels taken; 0 too when an argument is bad (count outside
 * 1..WIENER_SNMP_MAX_WRITES, a null pointer, a bad channel index) and nothing is sent; the
 * results are then WIENER_WRITE_NOT_SENT. */
#define WIENER_SNMP_MAX_WRITES 1000
#define WIENER_WRITE_TAKEN 0
#define WIENER_WRITE_TIMEOUT (-1)      /* no answer, also during the hold-off */
#define WIENER_WRITE_NOT_ANSWERED (-2) /* the write got no answer while a read right after it did */
#define WIENER_WRITE_NOT_SENT (-3)     /* not sent (bad argument), or the crate cannot be reached */
/* outputSwitch (0 off, 1 on, 2 clear emergency off, 3 emergency off, 10 clear events, ...). */
WIENER_SNMP_API int setChannelsSwitch(
    HSNMP session, int count, const int32_t* channels, const int32_t* values, int32_t* results);
/* outputVoltage in V. */
WIENER_SNMP_API int setChannelsVoltage(
    HSNMP session, int count, const int32_t* channels, const double* volts, int32_t* results);
/* outputCurrent in A. */
WIENER_SNMP_API int setChannelsCurrent(
    HSNMP session, int count, const int32_t* channels, const double* amperes, int32_t* results);
/* The text of a result code of the setChannels entries: "" for WIENER_WRITE_TAKEN, "timeout",
 * "write not answered", "cannot reach the crate", or the error-status name ("wrongValue", ...).
 * Static text; needs no handle. */
WIENER_SNMP_API const char* snmpResultText(int code);

/* Module-level values of one slot with one request: the groups chosen in `which`, the same
 * objects and units as the single entries (getModuleStatus, getModuleEventStatus,
 * getModuleRampSpeedVoltage/Current, getModuleAuxTemperature 0..3, getModuleSupply24/5,
 * getModuleHardwareLimitVoltage/Current). `answered` gets the flag of every chosen group whose
 * values all arrived; values of other groups are 0. The caller owns the struct. Returns non-zero
 * when every chosen group was answered; 0 for a bad slot, a null pointer or no known flag. */
#define WIENER_MODULE_STATUS 0x01       /* moduleStatus and moduleEventStatus, BITS in int form */
#define WIENER_MODULE_RAMP_SPEEDS 0x02  /* moduleRampSpeedVoltage and ...Current, % per second */
#define WIENER_MODULE_TEMPERATURES 0x04 /* moduleAuxiliaryMeasurementTemperature 0..3, degrees C */
#define WIENER_MODULE_SUPPLIES 0x08     /* auxiliary 24 V and 5 V, hardware limits in % */
#define WIENER_MODULE_ALL 0x0F

#pragma pack(push, 4)
typedef struct SnmpModuleValues
{
    int32_t which;
    int32_t answered;
    int32_t status;
    int32_t eventStatus;
    double rampSpeedVoltage;
    double rampSpeedCurrent;
    double temperatures[4];
    double supply24;
    double supply5;
    double hardwareLimitVoltage;
    double hardwareLimitCurrent;
} SnmpModuleValues;
#pragma pack(pop)

WIENER_SNMP_API int getModuleValues(HSNMP session, int slot, SnmpModuleValues* values);

#ifdef __cplusplus
}
#endif

#endif /* WIENER_SNMP_H */
