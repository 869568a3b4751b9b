// The library's entry points end to end against the crate simulator: values and units, the int
// forms of BITS and IpAddress, the channel index, block reads and writes of 1 to 100 channels.
#include "SimulatedCrate.h"

#include <QtTest>

#include <cmath>
#include <vector>

namespace {

// Values cross the wire as IEEE single precision.
bool sameFloat(double actual, double expected)
{
    return std::fabs(actual - expected) <= 1e-6 * std::max(1.0, std::fabs(expected));
}

bool hasBit(int word, int bit)
{
    return (word >> bit) & 1;
}

} // namespace

class TestWienerSnmp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void crateValues();
    void moduleDescription_data();
    void moduleDescription();
    void moduleValues();
    void channelRoundTrip_data();
    void channelRoundTrip();
    void channelIndexSelectsRow();
    void statusBitsOfRampingChannel();
    void ipAddressByteOrder();
    void blockReadsAndWrites_data();
    void blockReadsAndWrites();
    void blockReadStopsAtMissingRow();
    void blocksOfSeveralModulesTogether();
    void blockArgumentsOutOfRange();
    void lastErrorNamesTheFailure_data();
    void lastErrorNamesTheFailure();

private:
    SimulatedCrate m_crate;
    HSNMP m_handle = nullptr;
};

void TestWienerSnmp::initTestCase()
{
    QVERIFY2(m_crate.start(), qPrintable(m_crate.errorText()));
    m_handle = m_crate.open();
    QVERIFY(m_handle);
    // The crate may still be starting up: wait until it answers the program's connection check.
    QTRY_VERIFY_WITH_TIMEOUT(getPsSerialNumber(m_handle) && *getPsSerialNumber(m_handle), 15000);
}

void TestWienerSnmp::crateValues()
{
    const char* description = getSysDescr(m_handle);
    QVERIFY(description);
    QVERIFY2(QByteArray(description).contains("MPOD "), description);

    QCOMPARE(getMainSwitch(m_handle), 1);
    QCOMPARE(getOutputNumber(m_handle), 16 + 48 + 100 + 8 + 8);
    // sysStatus bit 0 (main on) is int bit 7.
    QVERIFY(hasBit(getMainStatus(m_handle), 7));

    QCOMPARE(setFanNominalSpeed(m_handle, 2400), 1);
    QCOMPARE(getFanNominalSpeed(m_handle), 2400);
    QCOMPARE(setFanNominalSpeed(m_handle, 0), 1);
    QCOMPARE(getFanNominalSpeed(m_handle), 0);

    // The 24 V auxiliary supply the crate window shows, in volts.
    const double aux24 = getPsAuxVoltage(m_handle, 4);
    QVERIFY2(aux24 > 20 && aux24 < 28, qPrintable(QString::number(aux24)));
}

void TestWienerSnmp::moduleDescription_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("slot 0") << 0 << QByteArray("Tesmar, THE1640p, 16, 7000, 01.23");
    QTest::newRow("slot 1, 48 channels") << 1 << QByteArray("Tesmar, THE1640p, 48, 7001, 02.10");
    QTest::newRow("slot 3") << 3 << QByteArray("Tesmar, THX0830b, 8, 7003, 01.23");
    QTest::newRow("empty slot 4") << 4 << QByteArray();
    QTest::newRow("empty slot 9") << 9 << QByteArray();
}

void TestWienerSnmp::moduleDescription()
{
    QFETCH(int, slot);
    QFETCH(QByteArray, expected);
    const char* text = getModuleDescription(m_handle, slot);
    QVERIFY2(text, "an answered request gives a text, empty for an empty slot");
    QCOMPARE(QByteArray(text), expected);
}

void TestWienerSnmp::moduleValues()
{
    const double supply24 = getModuleSupply24(m_handle, 0);
    const double supply5 = getModuleSupply5(m_handle, 0);
    QVERIFY2(supply24 > 20 && supply24 < 28, qPrintable(QString::number(supply24)));
    QVERIFY2(supply5 > 4 && supply5 < 6, qPrintable(QString::number(supply5)));
    const double temperature = getModuleAuxTemperature(m_handle, 0, 0);
    QVERIFY2(temperature > 5 && temperature < 90, qPrintable(QString::number(temperature)));
    QVERIFY(getModuleHardwareLimitVoltage(m_handle, 0) > 0);
    QVERIFY(getModuleHardwareLimitCurrent(m_handle, 0) > 0);

    QCOMPARE(setModuleRampSpeedVoltage(m_handle, 3, 7.5), 1);
    QVERIFY(sameFloat(getModuleRampSpeedVoltage(m_handle, 3), 7.5));
    QCOMPARE(setModuleRampSpeedCurrent(m_handle, 3, 12.25), 1);
    QVERIFY(sameFloat(getModuleRampSpeedCurrent(m_handle, 3), 12.25));
    // The other module keeps its own ramp speed.
    QVERIFY(!sameFloat(getModuleRampSpeedVoltage(m_handle, 0), 7.5));

    // moduleStatus: module good (MIB bit 12) is int bit 11, supplies good (13) int bit 10.
    const int status = getModuleStatus(m_handle, 0);
    QVERIFY2(hasBit(status, 11) && hasBit(status, 10), qPrintable(QString::number(status, 16)));
    QCOMPARE(setModuleDoClear(m_handle, 0), 1);
    QCOMPARE(getModuleEventStatus(m_handle, 0), 0);
}

void TestWienerSnmp::channelRoundTrip_data()
{
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<double>("value");
    // Rates are module-wide on a crate (a write to one channel sets the module), so only the
    // per-channel quantities are checked against the neighbouring row.
    QTest::addColumn<bool>("perChannel");
    QTest::newRow("set voltage, V") << "voltage" << 1234.5 << true;
    QTest::newRow("set current, A") << "current" << 1.25e-4 << true;
    QTest::newRow("voltage rise rate, V/s") << "riseRate" << 40.0 << false;
    QTest::newRow("voltage fall rate, V/s") << "fallRate" << 55.0 << false;
    QTest::newRow("current rise rate, A/s") << "currentRiseRate" << 2e-4 << false;
    QTest::newRow("current fall rate, A/s") << "currentFallRate" << 3e-4 << false;
    QTest::newRow("supervision min sense voltage") << "minSense" << 10.0 << true;
    QTest::newRow("supervision max sense voltage") << "maxSense" << 3900.0 << true;
    QTest::newRow("supervision max terminal voltage") << "maxTerminal" << 3950.0 << true;
    QTest::newRow("supervision max current") << "maxCurrent" << 1.5e-3 << true;
    QTest::newRow("supervision behaviour") << "behavior" << double(0x1040) << true;
    QTest::newRow("trip time, ms") << "tripTime" << 250.0 << true;
}

void TestWienerSnmp::channelRoundTrip()
{
    QFETCH(QString, quantity);
    QFETCH(double, value);
    QFETCH(bool, perChannel);
    const int channel = 7; // slot 0, channel 7
    struct Access
    {
        int (*set)(HSNMP, int, double);
        double (*get)(HSNMP, int);
    };
    const QMap<QString, Access> doubles{
        {"voltage", {setOutputVoltage, getOutputVoltage}},
        {"current", {setOutputCurrent, getOutputCurrent}},
        {"riseRate", {setOutputRiseRate, getOutputRiseRate}},
        {"fallRate", {setOutputFallRate, getOutputFallRate}},
        {"currentRiseRate", {setOutputCurrentRiseRate, getOutputCurrentRiseRate}},
        {"currentFallRate", {setOutputCurrentFallRate, getOutputCurrentFallRate}},
        {"minSense", {setOutputSupervisionMinSenseVoltage, getOutputSupervisionMinSenseVoltage}},
        {"maxSense", {setOutputSupervisionMaxSenseVoltage, getOutputSupervisionMaxSenseVoltage}},
        {"maxTerminal", {setOutputSupervisionMaxTerminalVoltage, getOutputSupervisionMaxTerminalVoltage}},
        {"maxCurrent", {setOutputSupervisionMaxCurrent, getOutputSupervisionMaxCurrent}},
    };
    if (doubles.contains(quantity)) {
        const Access access = doubles.value(quantity);
        QCOMPARE(access.set(m_handle, channel, value), 1);
        QVERIFY2(
            sameFloat(access.get(m_handle, channel), value), qPrintable(QString::number(access.get(m_handle, channel))));
        // The neighbour is a different row.
        if (perChannel)
            QVERIFY(!sameFloat(access.get(m_handle, channel + 1), value));
        return;
    }
    if (quantity == QLatin1String("behavior")) {
        QCOMPARE(setOutputSupervisionBehavior(m_handle, channel, int(value)), 1);
        QCOMPARE(getOutputSupervisionBehavior(m_handle, channel), int(value));
    } else {
        QCOMPARE(setOutputTripTimeMaxCurrent(m_handle, channel, int(value)), 1);
        QCOMPARE(getOutputTripTimeMaxCurrent(m_handle, channel), int(value));
    }
}

void TestWienerSnmp::channelIndexSelectsRow()
{
    // Slot 3, channel 5 is channel index 305; its neighbours in the block are other channels.
    QCOMPARE(setOutputVoltage(m_handle, 305, 321.0), 1);
    QCOMPARE(setOutputVoltage(m_handle, 304, 11.0), 1);
    const SnmpDoubleBuffer* block = getMultipleOutputVoltages(m_handle, 300, 8);
    QVERIFY(block);
    QCOMPARE(block->count, 8);
    QVERIFY(sameFloat(block->value[5], 321.0));
    QVERIFY(sameFloat(block->value[4], 11.0));
    QVERIFY(sameFloat(getOutputVoltage(m_handle, 305), 321.0));
    // Nominal values of the module in slot 3 (3 kV, 3 mA), not those of slot 0.
    QVERIFY(sameFloat(getOutputConfigMaxTerminalVoltage(m_handle, 305), 3000.0));
    QVERIFY(sameFloat(getOutputConfigMaxCurrent(m_handle, 305), 3e-3));
    QVERIFY(sameFloat(getOutputConfigMaxTerminalVoltage(m_handle, 5), 4000.0));
}

void TestWienerSnmp::statusBitsOfRampingChannel()
{
    const int channel = 2;
    QCOMPARE(setModuleRampSpeedVoltage(m_handle, 0, 1.0), 1); // 40 V/s: a long ramp
    QCOMPARE(setOutputVoltage(m_handle, channel, 3000.0), 1);
    QCOMPARE(setChannelSwitch(m_handle, channel, 1), 1);
    QCOMPARE(getChannelSwitch(m_handle, channel), 1);

    // outputOn (MIB bit 0) is int bit 7, outputRampUp (MIB bit 11) is int bit 12.
    const int single = getChannelStatus(m_handle, channel);
    QVERIFY2(hasBit(single, 7) && hasBit(single, 12), qPrintable(QString::number(single, 16)));
    const SnmpIntegerBuffer* statuses = getMultipleChannelStatuses(m_handle, 0, 16);
    QVERIFY(statuses);
    QCOMPARE(statuses->count, 16);
    QVERIFY(hasBit(statuses->value[channel], 7) && hasBit(statuses->value[channel], 12));
    QVERIFY(!hasBit(statuses->value[channel + 1], 7));
    const SnmpIntegerBuffer* switches = getMultipleOutputSwitches(m_handle, 0, 16);
    QVERIFY(switches);
    QCOMPARE(switches->value[channel], 1);
    QCOMPARE(switches->value[channel + 1], 0);

    // The measured voltage rises while ramping up (by more than its noise).
    const double first = getOutputTerminalMeasurement(m_handle, channel);
    QTRY_VERIFY_WITH_TIMEOUT(getOutputTerminalMeasurement(m_handle, channel) > first + 5.0, 10000);

    // Emergency off: MIB bit 14 is int bit 9, and the channel is off.
    QCOMPARE(setChannelSwitch(m_handle, channel, 3), 1);
    QTRY_VERIFY_WITH_TIMEOUT(hasBit(getChannelStatus(m_handle, channel), 9), 5000);
    QVERIFY(!hasBit(getChannelStatus(m_handle, channel), 7));
    QCOMPARE(setChannelSwitch(m_handle, channel, 2), 1);
    QCOMPARE(setModuleRampSpeedVoltage(m_handle, 0, 5.0), 1);
}

void TestWienerSnmp::ipAddressByteOrder()
{
    // 192.168.17.20: the first dotted number is the least significant byte.
    const uint32_t address = 192u | (168u << 8) | (17u << 16) | (20u << 24);
    QCOMPARE(setIpStaticAddress(m_handle, address), 1);
    QCOMPARE(getIpStaticAddress(m_handle), address);
    QCOMPARE(setIpStaticAddress(m_handle, 0), 1); // back to DHCP
    QCOMPARE(getIpStaticAddress(m_handle), 0u);
}

void TestWienerSnmp::blockReadsAndWrites_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("size");
    QTest::addColumn<double>("nominalVoltage");
    QTest::newRow("1 channel") << 0 << 1 << 4000.0;
    QTest::newRow("16 channels") << 0 << 16 << 4000.0;
    QTest::newRow("48 channels") << 100 << 48 << 4000.0;
    QTest::newRow("100 channels") << 200 << 100 << 1000.0;
}

void TestWienerSnmp::blockReadsAndWrites()
{
    QFETCH(int, start);
    QFETCH(int, size);
    QFETCH(double, nominalVoltage);

    SnmpDoubleBuffer voltages{};
    voltages.count = size;
    SnmpIntegerBuffer tripTimes{};
    tripTimes.count = size;
    for (int i = 0; i < size; ++i) {
        voltages.value[i] = 100.0 + 7.5 * i;
        tripTimes.value[i] = 10 + 3 * i;
    }
    QCOMPARE(setMultipleOutputVoltages(m_handle, start, &voltages), 1);
    QCOMPARE(setMultipleOutputTripTimeMaxCurrents(m_handle, start, &tripTimes), 1);

    const SnmpDoubleBuffer* readVoltages = getMultipleOutputVoltages(m_handle, start, size);
    QVERIFY(readVoltages);
    QCOMPARE(readVoltages->count, size);
    for (int i = 0; i < size; ++i)
        QVERIFY2(sameFloat(readVoltages->value[i], voltages.value[i]), qPrintable(QString("channel %1").arg(i)));
    // Nothing past the requested channels.
    if (size < WIENER_SNMP_MAX_VALUES)
        QCOMPARE(readVoltages->value[size], 0.0);

    const SnmpIntegerBuffer* readTrips = getMultipleOutputTripTimeMaxCurrents(m_handle, start, size);
    QVERIFY(readTrips);
    QCOMPARE(readTrips->count, size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(readTrips->value[i], tripTimes.value[i]);

    const SnmpDoubleBuffer* nominal = getMultipleOutputConfigMaxTerminalVoltages(m_handle, start, size);
    QVERIFY(nominal);
    QCOMPARE(nominal->count, size);
    for (int i = 0; i < size; ++i)
        QVERIFY(sameFloat(nominal->value[i], nominalVoltage));

    // Every other block entry delivers a value per channel too.
    QCOMPARE(getMultipleChannelStatuses(m_handle, start, size)->count, size);
    QCOMPARE(getMultipleOutputSwitches(m_handle, start, size)->count, size);
    QCOMPARE(getMultipleOutputSupervisionBehaviors(m_handle, start, size)->count, size);
    QCOMPARE(getMultipleMeasurementTerminalVoltages(m_handle, start, size)->count, size);
    QCOMPARE(getMultipleMeasurementCurrents(m_handle, start, size)->count, size);
    QCOMPARE(getMultipleOutputConfigMaxCurrents(m_handle, start, size)->count, size);

    SnmpDoubleBuffer currents{};
    currents.count = size;
    for (int i = 0; i < size; ++i)
        currents.value[i] = 4e-6 * (i + 1); // below the smallest nominal current, 1 mA
    QCOMPARE(setMultipleOutputCurrents(m_handle, start, &currents), 1);
    const SnmpDoubleBuffer* readCurrents = getMultipleOutputCurrents(m_handle, start, size);
    QCOMPARE(readCurrents->count, size);
    QVERIFY(sameFloat(readCurrents->value[size - 1], currents.value[size - 1]));

    SnmpIntegerBuffer behaviours{};
    behaviours.count = size;
    for (int i = 0; i < size; ++i)
        behaviours.value[i] = (i % 4) << 6 | (i % 3) << 12;
    QCOMPARE(setMultipleOutputSupervisionBehaviors(m_handle, start, &behaviours), 1);
    const SnmpIntegerBuffer* readBehaviours = getMultipleOutputSupervisionBehaviors(m_handle, start, size);
    QCOMPARE(readBehaviours->count, size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(readBehaviours->value[i], behaviours.value[i]);

    // All quantities in one call deliver what the block entries deliver one by one.
    SnmpChannelBlock block{};
    block.which = WIENER_BLOCK_ALL;
    QCOMPARE(getChannelBlock(m_handle, start, size, &block), size);
    QCOMPARE(block.answered, WIENER_BLOCK_ALL);
    QCOMPARE(snmpLastError(m_handle), "");
    const auto sameDoubles = [&](const SnmpDoubleBuffer& together, const SnmpDoubleBuffer* alone) {
        QCOMPARE(together.count, size);
        for (int i = 0; i < size; ++i)
            QVERIFY2(sameFloat(together.value[i], alone->value[i]), qPrintable(QString("channel %1").arg(i)));
    };
    sameDoubles(block.voltages, getMultipleOutputVoltages(m_handle, start, size));
    sameDoubles(block.currents, getMultipleOutputCurrents(m_handle, start, size));
    sameDoubles(block.nominalVoltages, getMultipleOutputConfigMaxTerminalVoltages(m_handle, start, size));
    sameDoubles(block.nominalCurrents, getMultipleOutputConfigMaxCurrents(m_handle, start, size));
    QCOMPARE(block.measuredVoltages.count, size);
    QCOMPARE(block.measuredCurrents.count, size);
    const SnmpIntegerBuffer* statuses = getMultipleChannelStatuses(m_handle, start, size);
    QCOMPARE(std::vector<int32_t>(block.statuses.value, block.statuses.value + size),
        std::vector<int32_t>(statuses->value, statuses->value + size));
    const SnmpIntegerBuffer* switches = getMultipleOutputSwitches(m_handle, start, size);
    QCOMPARE(block.switches.count, size);
    QCOMPARE(std::vector<int32_t>(block.switches.value, block.switches.value + size),
        std::vector<int32_t>(switches->value, switches->value + size));

    // Only the quantities asked for; the others' buffers are cleared.
    block.which = WIENER_BLOCK_VOLTAGE | WIENER_BLOCK_SWITCH;
    QCOMPARE(getChannelBlock(m_handle, start, size, &block), size);
    QCOMPARE(block.answered, WIENER_BLOCK_VOLTAGE | WIENER_BLOCK_SWITCH);
    QCOMPARE(block.statuses.count, 0);
    QCOMPARE(block.nominalCurrents.count, 0);
    QCOMPARE(block.nominalCurrents.value[0], 0.0);
}

void TestWienerSnmp::blockReadStopsAtMissingRow()
{
    // 20 channels asked from a 16-channel module: the count says 16 and nothing after is filled.
    const SnmpDoubleBuffer* nominal = getMultipleOutputConfigMaxTerminalVoltages(m_handle, 0, 20);
    QVERIFY(nominal);
    QCOMPARE(nominal->count, 16);
    QVERIFY(sameFloat(nominal->value[15], 4000.0));
    for (int i = 16; i < 20; ++i)
        QCOMPARE(nominal->value[i], 0.0);
    // An empty slot has no rows at all.
    const SnmpIntegerBuffer* statuses = getMultipleChannelStatuses(m_handle, 400, 16);
    QVERIFY(statuses);
    QCOMPARE(statuses->count, 0);
    QCOMPARE(statuses->value[0], 0);

    // The same through getChannelBlock: a missing row is an answer, not a lost request.
    SnmpChannelBlock block{};
    block.which = WIENER_BLOCK_ALL;
    QCOMPARE(getChannelBlock(m_handle, 0, 20, &block), 16);
    QCOMPARE(block.answered, WIENER_BLOCK_ALL);
    QCOMPARE(block.statuses.count, 16);
    QCOMPARE(block.nominalVoltages.count, 16);
    QCOMPARE(block.nominalVoltages.value[16], 0.0);
    QCOMPARE(snmpLastError(m_handle), "noSuchInstance");
    QCOMPARE(getChannelBlock(m_handle, 400, 16, &block), 0);
    QCOMPARE(block.voltages.count, 0);
}

// Several modules' blocks in one call deliver what each module's own block call delivers, each
// block with its own choice, and an empty slot among them spoils only its own block.
void TestWienerSnmp::blocksOfSeveralModulesTogether()
{
    const int32_t starts[] = {0, 100, 400, 200};
    const int32_t sizes[] = {16, 48, 16, 100};
    SnmpChannelBlock blocks[4]{};
    blocks[0].which = WIENER_BLOCK_ALL;
    blocks[1].which = WIENER_BLOCK_VOLTAGE | WIENER_BLOCK_SWITCH;
    blocks[2].which = WIENER_BLOCK_ALL; // slot 4 is empty
    blocks[3].which = WIENER_BLOCK_MEASURED_VOLTAGE | WIENER_BLOCK_STATUS;
    int32_t complete[4] = {-1, -1, -1, -1};
    QCOMPARE(getChannelBlocks(m_handle, 4, starts, sizes, blocks, complete), 4); // a missing row is an answer
    QCOMPARE(complete[0], 16);
    QCOMPARE(complete[1], 48);
    QCOMPARE(complete[2], 0);
    QCOMPARE(complete[3], 100);
    QCOMPARE(blocks[1].statuses.count, 0); // not chosen
    QCOMPARE(blocks[2].voltages.count, 0);
    for (int i : {0, 1, 3}) {
        SnmpChannelBlock alone{};
        alone.which = blocks[i].which;
        QCOMPARE(getChannelBlock(m_handle, starts[i], sizes[i], &alone), complete[i]);
        QCOMPARE(alone.answered, blocks[i].answered);
        QCOMPARE(alone.switches.count, blocks[i].switches.count);
        QCOMPARE(std::vector<int32_t>(alone.switches.value, alone.switches.value + alone.switches.count),
            std::vector<int32_t>(blocks[i].switches.value, blocks[i].switches.value + blocks[i].switches.count));
        QCOMPARE(alone.voltages.count, blocks[i].voltages.count);
        for (int c = 0; c < alone.voltages.count; ++c)
            QVERIFY(sameFloat(alone.voltages.value[c], blocks[i].voltages.value[c]));
        QCOMPARE(std::vector<int32_t>(alone.statuses.value, alone.statuses.value + alone.statuses.count),
            std::vector<int32_t>(blocks[i].statuses.value, blocks[i].statuses.value + blocks[i].statuses.count));
    }

    // Bad arguments are refused whole, nothing is read.
    QCOMPARE(getChannelBlocks(m_handle, 0, starts, sizes, blocks, complete), 0);
    QCOMPARE(getChannelBlocks(m_handle, WIENER_SNMP_MAX_BLOCKS + 1, starts, sizes, blocks, complete), 0);
    QCOMPARE(getChannelBlocks(m_handle, 4, starts, sizes, blocks, nullptr), 0);
    const int32_t badStarts[] = {0, -1};
    blocks[0].which = blocks[1].which = WIENER_BLOCK_VOLTAGE;
    QCOMPARE(getChannelBlocks(m_handle, 2, badStarts, sizes, blocks, complete), 0);
    QCOMPARE(snmpLastError(m_handle), "invalid argument");
    QCOMPARE(blocks[0].voltages.count, 0);
}

void TestWienerSnmp::blockArgumentsOutOfRange()
{
    QCOMPARE(getMultipleOutputVoltages(m_handle, 0, 0)->count, 0);
    QCOMPARE(getMultipleOutputVoltages(m_handle, -1, 4)->count, 0);
    // More than a buffer holds: clamped to 100 values, never written past the buffer.
    QCOMPARE(getMultipleOutputVoltages(m_handle, 200, 150)->count, 100);

    SnmpDoubleBuffer tooMany{};
    tooMany.count = WIENER_SNMP_MAX_VALUES + 1;
    QCOMPARE(setMultipleOutputVoltages(m_handle, 0, &tooMany), 0);
    SnmpDoubleBuffer none{};
    QCOMPARE(setMultipleOutputVoltages(m_handle, 0, &none), 0);
    QCOMPARE(setMultipleOutputVoltages(m_handle, 0, nullptr), 0);
    QCOMPARE(setOutputVoltage(m_handle, -5, 10.0), 0);
    QCOMPARE(getModuleDescription(m_handle, -1), nullptr);

    SnmpChannelBlock block{};
    QCOMPARE(getChannelBlock(m_handle, 0, 16, nullptr), 0);
    QCOMPARE(getChannelBlock(m_handle, 0, 16, &block), 0); // no quantity chosen
    QCOMPARE(snmpLastError(m_handle), "invalid argument");
    block.which = 0x100; // no known quantity either
    QCOMPARE(getChannelBlock(m_handle, 0, 16, &block), 0);
    block.which = WIENER_BLOCK_VOLTAGE;
    QCOMPARE(getChannelBlock(m_handle, -1, 16, &block), 0);
    QCOMPARE(getChannelBlock(m_handle, 0, 0, &block), 0);
    QCOMPARE(getChannelBlock(m_handle, 200, 150, &block), 100);
    QCOMPARE(block.voltages.count, 100);
}

enum class Call {
    Accepted,
    AboveNominal,
    BlockWithOneAboveNominal,
    MeasurementSet,
    MissingRowSet,
    MissingRowGet,
    BadChannel,
    NullHandle,
    ClosedHandle
};
Q_DECLARE_METATYPE(Call)

void TestWienerSnmp::lastErrorNamesTheFailure_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("reason");
    QTest::newRow("accepted set clears the reason") << Call::Accepted << 1 << "";
    QTest::newRow("voltage above nominal") << Call::AboveNominal << 0 << "wrongValue";
    QTest::newRow("block set, one value refused") << Call::BlockWithOneAboveNominal << 0 << "wrongValue";
    QTest::newRow("set value of a measurement channel") << Call::MeasurementSet << 0 << "notWritable";
    QTest::newRow("set on a missing row") << Call::MissingRowSet << 0 << "noCreation";
    QTest::newRow("get of a missing row") << Call::MissingRowGet << 0 << "noSuchInstance";
    QTest::newRow("channel index out of range") << Call::BadChannel << 0 << "invalid argument";
    QTest::newRow("null handle") << Call::NullHandle << 0 << "not connected";
    QTest::newRow("closed handle") << Call::ClosedHandle << 0 << "not connected";
}

void TestWienerSnmp::lastErrorNamesTheFailure()
{
    QFETCH(Call, call);
    QFETCH(QString, reason);
    // A different outcome first, so that a reason left over from it would show.
    if (call == Call::BadChannel)
        QCOMPARE(setOutputVoltage(m_handle, 0, 10.0), 1);
    else
        QCOMPARE(setOutputVoltage(m_handle, -5, 10.0), 0);

    HSNMP handle = m_handle;
    int result = -1;
    SnmpDoubleBuffer block{};
    block.count = 8;
    switch (call) {
    case Call::Accepted:
        result = setOutputVoltage(handle, 0, 10.0);
        break;
    case Call::AboveNominal:
        result = setOutputVoltage(handle, 0, 99999.0);
        break;
    case Call::BlockWithOneAboveNominal:
        block.value[5] = 99999.0;
        result = setMultipleOutputVoltages(handle, 0, &block);
        break;
    case Call::MeasurementSet:
        result = setOutputVoltage(handle, 800, 1.0);
        break;
    case Call::MissingRowSet:
        result = setOutputVoltage(handle, 450, 10.0);
        break;
    case Call::MissingRowGet:
        result = int(getOutputVoltage(handle, 450));
        break;
    case Call::BadChannel:
        result = setOutputVoltage(handle, -5, 10.0);
        break;
    case Call::NullHandle:
        handle = nullptr;
        result = setOutputVoltage(handle, 0, 10.0);
        break;
    case Call::ClosedHandle:
        handle = m_crate.open();
        m_crate.close(handle);
        result = getMainSwitch(handle);
        break;
    }
    QTEST(result, "result");
    QCOMPARE(QString::fromLatin1(snmpLastError(handle)), reason);
    // Asking again is not a call: the reason stays.
    QCOMPARE(QString::fromLatin1(snmpLastError(handle)), reason);
}

QTEST_GUILESS_MAIN(TestWienerSnmp)
#include "tst_WienerSnmp.moc"
