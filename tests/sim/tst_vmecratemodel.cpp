// The simulated VME crate at register level (both module layouts, the transfer protocol, base
// address programming, faults, configuration), and the stand-in bridge libraries loaded the way
// the program loads them.

#include "VmeCrateModel.h"

#include "snmplib/interfaces/VmeEntryPoints.h"

#include <QLibrary>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cstring>
#include <thread>

namespace {

constexpr int am = VmeCrateModel::addressModifierA16;

// 16-bit cycles with the 32-bit and float conventions of the modules, on a crate whose clock
// the test drives.
struct Bus
{
    double nowSeconds = 0;
    VmeCrateModel crate{VmeCrateConfig(), [this] { return nowSeconds; }};
    quint32 base = 0;

    quint16 read(quint32 offset)
    {
        quint16 value = 0xDEAD;
        const int code = crate.read16(base + offset, am, &value);
        if (code != 0)
            qWarning("bus error reading 0x%x", base + offset);
        return value;
    }
    void write(quint32 offset, quint16 value) { QCOMPARE(crate.write16(base + offset, am, value), 0); }
    quint32 read32(quint32 offset) { return quint32(read(offset)) << 16 | read(offset + 2); }
    void write32(quint32 offset, quint32 value)
    {
        write(offset, quint16(value >> 16));
        write(offset + 2, quint16(value));
    }
    float readFloat(quint32 offset)
    {
        const quint32 bits = read32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    void writeFloat(quint32 offset, float value)
    {
        quint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        write32(offset, bits);
    }
};

VmeModuleConfig moduleConfig(int deviceClass, int channels = -1)
{
    VmeModuleConfig module;
    module.deviceClass = deviceClass;
    module.base = deviceClass == 29 ? 0x5000 : 0x4000;
    module.channels = channels > 0 ? channels : module.maxChannels();
    module.serial = 4711;
    module.voltageNominalV = 3000;
    module.voltageRampSpeedPercent = 5; // 150 V/s
    module.loadOhm = 1e8;
    return module;
}

// Register offsets of both layouts (class 20 / class 29).
struct Layout
{
    bool wide;
    quint32 control, status, eventStatus, channelBlock, specialStatus, specialCommand, newBase, acceptedBase;
    quint32 channelControl, channelStatus, channelEventStatus, channelEventMask, voltageSet, voltageMeasure;

    static Layout of(int deviceClass)
    {
        if (deviceClass == 29)
            return {true, 0x0C, 0x00, 0x04, 0x100, 0xAC, 0xB0, 0xA0, 0xA8, 0x0C, 0x00, 0x04, 0x08, 0x10, 0x18};
        return {false, 0x02, 0x00, 0x04, 0x60, 0x3B0, 0x3B2, 0x3A0, 0x3A6, 0x02, 0x00, 0x04, 0x06, 0x08, 0x10};
    }
    quint32 readWord(Bus& bus, quint32 offset) const { return wide ? bus.read32(offset) : bus.read(offset); }
    void writeWord(Bus& bus, quint32 offset, quint32 value) const
    {
        if (wide)
            bus.write32(offset, value);
        else
            bus.write(offset, quint16(value));
    }
};

void addModule(Bus& bus, const VmeModuleConfig& module)
{
    VmeCrateConfig config;
    config.modules.push_back(module);
    bus.crate.load(config);
    bus.base = module.base;
}

QByteArray sRecord(int type, quint32 address, const QByteArray& data)
{
    const int addressBytes = type == 2 || type == 8 ? 3 : type == 3 || type == 7 ? 4 : 2;
    QByteArray bytes;
    bytes.append(char(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        bytes.append(char(address >> (8 * i)));
    bytes.append(data);
    unsigned sum = 0;
    for (char byte : bytes)
        sum += quint8(byte);
    bytes.append(char(~sum));
    return "S" + QByteArray::number(type) + bytes.toHex().toUpper();
}

// The program's side of one line of the transfer: handshake, line, the module's answer.
quint32 sendLine(Bus& bus, int deviceClass, QByteArray line)
{
    const Layout layout = Layout::of(deviceClass);
    layout.writeWord(bus, layout.specialCommand, 1);
    if (layout.readWord(bus, layout.specialCommand) != 1)
        return 0;
    if (deviceClass == 20) {
        if (bus.read(layout.specialStatus) != 0x84)
            return 0;
        if (line.size() % 2)
            line.append('\0');
        for (int k = 0; k < line.size(); k += 2)
            bus.write(0x60 + quint32(k), quint16(quint8(line.at(k)) << 8 | quint8(line.at(k + 1))));
        bus.write(layout.specialCommand, 2);
        return bus.read(layout.specialStatus);
    }
    if (bus.read32(layout.specialStatus) != 0x81)
        return 0;
    while (line.size() % 4)
        line.append('0');
    for (int k = 0; k < line.size(); k += 4)
        bus.write32(0x100 + quint32(k), qFromBigEndian<quint32>(line.constData() + k));
    return bus.read32(layout.specialStatus);
}

} // namespace

class VmeCrateModelTest : public QObject
{
    Q_OBJECT

private slots:
    void identificationAndClassWord_data();
    void identificationAndClassWord();
    void wideValueTakesEffectOnLowHalf_data();
    void wideValueTakesEffectOnLowHalf();
    void channelRampsAndEvents_data();
    void channelRampsAndEvents();
    void moduleControlBits_data();
    void moduleControlBits();
    void firmwareTransfer_data();
    void firmwareTransfer();
    void baseAddressProgramming_data();
    void baseAddressProgramming();
    void busErrorsAndReset();
    void concurrentCycles();
    void malformedConfig_data();
    void malformedConfig();
    void libraries();
};

void VmeCrateModelTest::identificationAndClassWord_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<int>("channels");
    QTest::addColumn<quint32>("classWord");
    QTest::newRow("class 20, 12 channels") << 20 << 12 << 0x0FFF0014u;
    QTest::newRow("class 20, 8 channels") << 20 << 8 << 0x00FF0014u;
    QTest::newRow("class 29, 24 channels") << 29 << 24 << 0x0018001Du;
    QTest::newRow("class 29, 16 channels") << 29 << 16 << 0x0010001Du;
}

void VmeCrateModelTest::identificationAndClassWord()
{
    QFETCH(int, deviceClass);
    QFETCH(int, channels);
    QFETCH(quint32, classWord);
    Bus bus;
    VmeModuleConfig module = moduleConfig(deviceClass, channels);
    module.firmwareRelease[0] = 1;
    module.firmwareRelease[3] = 4;
    module.decoderRelease = 7;
    addModule(bus, module);
    QCOMPARE(bus.read32(0x5C), 0x74736D72u);
    QCOMPARE(bus.read32(0x3C), classWord);
    QCOMPARE(bus.read32(deviceClass == 29 ? 0x30 : 0x34), 4711u);
    QCOMPARE(bus.read32(deviceClass == 29 ? 0x34 : 0x38), 0x01000004u);
    if (deviceClass == 29)
        QCOMPARE(bus.read32(0x7C), 7u);
    // Hardware nominal voltage: class 20 table, class 29 the tail of the channel's block.
    QCOMPARE(bus.readFloat(deviceClass == 29 ? 0x100 + 0x40 * 3 + 0x38 : 0x340 + 8 * 3), 3000.0f);
}

void VmeCrateModelTest::wideValueTakesEffectOnLowHalf_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<quint32>("offset");
    QTest::newRow("class 20 voltage set, channel 1") << 20 << quint32(0x60 + 0x30 + 0x08);
    QTest::newRow("class 20 event group mask") << 20 << quint32(0x10);
    QTest::newRow("class 29 voltage set, channel 1") << 29 << quint32(0x140 + 0x10);
    QTest::newRow("class 29 variable group 5 type") << 29 << quint32(0x700 + 8 * 5 + 4);
}

void VmeCrateModelTest::wideValueTakesEffectOnLowHalf()
{
    QFETCH(int, deviceClass);
    QFETCH(quint32, offset);
    Bus bus;
    addModule(bus, moduleConfig(deviceClass));
    bus.write32(offset, 0x11112222);
    bus.write(offset, 0x3333);
    QCOMPARE(bus.read32(offset), 0x11112222u); // high half alone changes nothing
    bus.write(offset + 2, 0x4444);
    QCOMPARE(bus.read32(offset), 0x33334444u);
    // The high half read latches its value; a write in between does not tear the pair.
    QCOMPARE(bus.read(offset), quint16(0x3333));
    bus.write32(offset, 0x55556666);
    QCOMPARE(bus.read(offset + 2), quint16(0x4444));
    QCOMPARE(bus.read32(offset), 0x55556666u);
}

void VmeCrateModelTest::channelRampsAndEvents_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::newRow("class 20") << 20;
    QTest::newRow("class 29") << 29;
}

void VmeCrateModelTest::channelRampsAndEvents()
{
    QFETCH(int, deviceClass);
    const Layout layout = Layout::of(deviceClass);
    Bus bus;
    addModule(bus, moduleConfig(deviceClass));
    const quint32 block = layout.channelBlock + (deviceClass == 29 ? 0x40 : 0x30) * 2; // channel 2
    bus.writeFloat(block + layout.voltageSet, 300);
    layout.writeWord(bus, block + layout.channelEventMask, 0xFFFF);
    layout.writeWord(bus, block + layout.channelControl, 0x8);
    QCOMPARE(layout.readWord(bus, block + layout.channelStatus) & 0x18, 0x18u); // isON, isRAMP
    QCOMPARE(layout.readWord(bus, layout.status) & 0x200, 0u);                  // not isnoRAMP
    bus.nowSeconds += 1;                                                        // 5 % of 3000 V per second
    QCOMPARE(bus.readFloat(block + layout.voltageMeasure), 150.0f);
    QCOMPARE(bus.readFloat(block + layout.voltageMeasure + 4), float(150 / 1e8)); // current from the load
    bus.nowSeconds += 1.5;
    QCOMPARE(bus.readFloat(block + layout.voltageMeasure), 300.0f);
    QCOMPARE(layout.readWord(bus, block + layout.channelStatus) & 0x18, 0x08u);
    QCOMPARE(layout.readWord(bus, layout.status) & 0x200, 0x200u);

    layout.writeWord(bus, block + layout.channelControl, 0x0);
    bus.nowSeconds += 1;
    QCOMPARE(bus.readFloat(block + layout.voltageMeasure), 150.0f);
    layout.writeWord(bus, block + layout.channelControl, 0x20); // emergency off: at once
    QCOMPARE(bus.readFloat(block + layout.voltageMeasure), 0.0f);
    QCOMPARE(layout.readWord(bus, block + layout.channelStatus) & 0x38, 0x20u);

    // End of ramp, on to off and emergency latched; writing 1 bits clears exactly those.
    QCOMPARE(layout.readWord(bus, block + layout.channelEventStatus), 0x38u);
    QCOMPARE(layout.readWord(bus, deviceClass == 29 ? 0x10 : 0x08), 0x4u); // event channel status
    layout.writeWord(bus, block + layout.channelEventStatus, 0x10);
    QCOMPARE(layout.readWord(bus, block + layout.channelEventStatus), 0x28u);
    // doCLEAR clears the rest and does not stay set.
    layout.writeWord(bus, layout.control, 0x40);
    QCOMPARE(layout.readWord(bus, block + layout.channelEventStatus), 0u);
    QCOMPARE(layout.readWord(bus, layout.control), 0u);

    // All channels on through the all-channels registers, with one voltage for all.
    layout.writeWord(bus, block + layout.channelControl, 0x0);
    bus.writeFloat(deviceClass == 29 ? 0xD0 : 0x2A0, 30);
    bus.write32(deviceClass == 29 ? 0xE4 : 0x2B4, 1);
    bus.nowSeconds += 1;
    QCOMPARE(bus.readFloat(layout.channelBlock + layout.voltageMeasure), 30.0f);
    QCOMPARE(layout.readWord(bus, block + layout.channelControl), 0x8u);
}

void VmeCrateModelTest::moduleControlBits_data()
{
    channelRampsAndEvents_data();
}

void VmeCrateModelTest::moduleControlBits()
{
    QFETCH(int, deviceClass);
    const Layout layout = Layout::of(deviceClass);
    Bus bus;
    VmeModuleConfig module = moduleConfig(deviceClass);
    module.stuckControlChannel = 1;
    addModule(bus, module);
    layout.writeWord(bus, layout.control, 0x4); // setSTOP
    QCOMPARE(layout.readWord(bus, layout.status) & 0x44, 0x4u);
    layout.writeWord(bus, layout.control, 0x8000); // doSVSV: set for a few reads, then done
    QCOMPARE(layout.readWord(bus, layout.control), 0x8000u);
    int reads = 1;
    while (layout.readWord(bus, layout.control) == 0x8000 && reads < 100)
        ++reads;
    QVERIFY2(reads > 1 && reads < 100, qPrintable(QString::number(reads)));
    QCOMPARE(layout.readWord(bus, layout.control), 0u);
    QCOMPARE(layout.readWord(bus, layout.status) & 0x4, 0u);
    // Event masks read back every bit walked through them.
    for (quint32 bit = 1; bit <= 0x8000; bit <<= 1) {
        layout.writeWord(bus, deviceClass == 29 ? 0x08 : 0x06, bit);
        layout.writeWord(bus, deviceClass == 29 ? 0x14 : 0x0A, bit);
        QCOMPARE(layout.readWord(bus, deviceClass == 29 ? 0x08 : 0x06), bit);
        QCOMPARE(layout.readWord(bus, deviceClass == 29 ? 0x14 : 0x0A), bit);
    }
    // The faulty channel's control word never reads back 0; its neighbour's does.
    const quint32 stride = deviceClass == 29 ? 0x40 : 0x30;
    layout.writeWord(bus, layout.channelBlock + stride + layout.channelControl, 0);
    layout.writeWord(bus, layout.channelBlock + 2 * stride + layout.channelControl, 0);
    QVERIFY(layout.readWord(bus, layout.channelBlock + stride + layout.channelControl) != 0);
    QCOMPARE(layout.readWord(bus, layout.channelBlock + 2 * stride + layout.channelControl), 0u);
}

void VmeCrateModelTest::firmwareTransfer_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<quint32>("answer");
    const QByteArray good = sRecord(1, 0x1000, "\x12\x34\x56\x78");
    QByteArray badChecksum = good;
    badChecksum[badChecksum.size() - 1] = badChecksum.endsWith('0') ? '1' : '0';
    QByteArray badHex = good;
    badHex[10] = 'G';
    for (int deviceClass : {20, 29}) {
        const QByteArray prefix = "class " + QByteArray::number(deviceClass) + ": ";
        QTest::newRow(prefix + "good line") << deviceClass << good << 0x84u;
        QTest::newRow(prefix + "bad checksum") << deviceClass << badChecksum << 0x92u;
        QTest::newRow(prefix + "bad hex") << deviceClass << badHex << 0x92u;
        QTest::newRow(prefix + "shorter than its count") << deviceClass << good.left(good.size() - 4) << 0x92u;
        QTest::newRow(prefix + "count too small") << deviceClass << QByteArray("S102FF") << 0x92u;
        QTest::newRow(prefix + "not an S-record") << deviceClass << QByteArray(":10010000214601360121470136") << 0x92u;
        QTest::newRow(prefix + "reserved type") << deviceClass << QByteArray("S4030000FC") << 0x92u;
    }
}

void VmeCrateModelTest::firmwareTransfer()
{
    QFETCH(int, deviceClass);
    QFETCH(QByteArray, line);
    QFETCH(quint32, answer);
    const Layout layout = Layout::of(deviceClass);
    Bus bus;
    VmeModuleConfig module = moduleConfig(deviceClass);
    module.storedImage = sRecord(0, 0, "hdr") + "\n" + sRecord(1, 0x2000, "\xAA\xBB") + "\n";
    addModule(bus, module);

    layout.writeWord(bus, layout.control, 0x5); // setSPMD | setSTOP
    QCOMPARE(layout.readWord(bus, layout.status) & 0x44, 0x44u);
    QCOMPARE(layout.readWord(bus, layout.specialStatus), 0x84u);

    // Comparing against the stored image.
    layout.writeWord(bus, layout.specialCommand, 4);
    QCOMPARE(layout.readWord(bus, layout.specialCommand), 4u);
    // A pass begins: class 20 is ready for its first line (sent on command 2), class 29 waits
    // for it, as the program's handshake expects.
    QCOMPARE(layout.readWord(bus, layout.specialStatus), deviceClass == 29 ? 0x81u : 0x84u);
    QCOMPARE(sendLine(bus, deviceClass, line), answer == 0x84 ? 0x96u : answer);
    QCOMPARE(sendLine(bus, deviceClass, sRecord(1, 0x2000, "\xAA\xBB")), 0x84u);
    QCOMPARE(sendLine(bus, deviceClass, sRecord(0, 0, "other header")), 0x84u);
    QCOMPARE(sendLine(bus, deviceClass, sRecord(9, 0x1000, "")), 0x84u);

    // Program, verify, post flash, then comparing finds the new image.
    layout.writeWord(bus, layout.specialCommand, 3);
    QCOMPARE(sendLine(bus, deviceClass, line), answer);
    layout.writeWord(bus, layout.specialCommand, 5);
    QCOMPARE(sendLine(bus, deviceClass, line), answer);
    QCOMPARE(sendLine(bus, deviceClass, sRecord(1, 0x1000, "\x12\x34\x56\x79")), 0x96u);
    layout.writeWord(bus, layout.specialCommand, 6);
    layout.writeWord(bus, layout.specialCommand, 4);
    QCOMPARE(sendLine(bus, deviceClass, line), answer == 0x84 ? 0x84u : answer);
    QCOMPARE(sendLine(bus, deviceClass, sRecord(1, 0x2000, "\xAA\xBB")), 0x96u);

    // End of special mode: the channel-0 block is a channel block again.
    layout.writeWord(bus, layout.specialCommand, 7);
    QCOMPARE(layout.readWord(bus, layout.status) & 0x40, 0u);
    bus.writeFloat(layout.channelBlock + layout.voltageSet, 12.5f);
    QCOMPARE(bus.readFloat(layout.channelBlock + layout.voltageSet), 12.5f);

    // A module that never enters special mode.
    module.noSpecialMode = true;
    addModule(bus, module);
    layout.writeWord(bus, layout.control, 0x5);
    QCOMPARE(layout.readWord(bus, layout.status) & 0x40, 0u);
}

void VmeCrateModelTest::baseAddressProgramming_data()
{
    QTest::addColumn<int>("deviceClass");
    QTest::addColumn<quint16>("newBase");
    QTest::addColumn<bool>("refuses");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("class 20 accepts") << 20 << quint16(0x8400) << false << true << true;
    QTest::newRow("class 29 accepts") << 29 << quint16(0x8800) << false << true << true;
    QTest::newRow("class 20 refusing") << 20 << quint16(0x8400) << true << true << false;
    QTest::newRow("class 29 refusing") << 29 << quint16(0x8800) << true << true << false;
    QTest::newRow("wrong complement") << 20 << quint16(0x8400) << false << false << false;
    QTest::newRow("not on a window boundary") << 29 << quint16(0x8400) << false << true << false;
}

void VmeCrateModelTest::baseAddressProgramming()
{
    QFETCH(int, deviceClass);
    QFETCH(quint16, newBase);
    QFETCH(bool, refuses);
    QFETCH(bool, confirmed);
    QFETCH(bool, accepted);
    const Layout layout = Layout::of(deviceClass);
    Bus bus;
    VmeModuleConfig module = moduleConfig(deviceClass);
    module.refuseBaseAddress = refuses;
    addModule(bus, module);
    const quint32 oldBase = bus.base;

    bus.write(layout.newBase, newBase);
    bus.write(layout.newBase + 2, quint16(confirmed ? ~newBase : newBase));
    QCOMPARE(bus.read(layout.newBase), newBase);
    QCOMPARE(bus.read(layout.acceptedBase), quint16(accepted ? newBase : oldBase));
    QCOMPARE(bus.crate.moduleBases().front(), quint16(oldBase)); // it moves only on restart

    layout.writeWord(bus, layout.control, 0x5);
    layout.writeWord(bus, layout.specialCommand, 9);
    const quint32 nowAt = accepted ? newBase : oldBase;
    quint16 word = 0;
    QCOMPARE(bus.crate.read16(nowAt + 0x5C, am, &word), 0);
    QCOMPARE(word, quint16(0x7473));
    QCOMPARE(bus.crate.read16(nowAt + layout.status, am, &word), 0);
    QCOMPARE(word & 0x40, 0); // special mode left
    if (accepted)
        QCOMPARE(bus.crate.read16(oldBase + 0x5C, am, &word), VmeCrateModel::busError);
}

void VmeCrateModelTest::busErrorsAndReset()
{
    Bus bus;
    bus.crate.load(vmeDemoCrateConfig());
    quint16 word = 0xFFFF;
    QCOMPARE(bus.crate.read16(0x405C, am, &word), 0);
    QCOMPARE(word, quint16(0x7473));
    for (quint32 address : {0x3FFEu, 0x4400u, 0x4FFEu, 0x5800u, 0x1405Cu}) {
        word = 0xFFFF;
        QVERIFY(bus.crate.read16(address, am, &word) < 0);
        QCOMPARE(word, quint16(0));
        QVERIFY(bus.crate.write16(address, am, 1) < 0);
    }
    QVERIFY(bus.crate.read16(0x405C, 0x39, &word) < 0); // A24 modifier
    QCOMPARE(word, quint16(0));

    // A system reset switches the channels off and leaves special mode.
    bus.base = 0x4000;
    bus.write(0x62, 0x8);
    bus.base = 0x5000;
    bus.write32(0x0C, 0x5);
    bus.crate.systemReset();
    QCOMPARE(bus.read32(0x00) & 0x44, 0u);
    QCOMPARE(bus.read32(0x04), 0x2u); // the restart event, cleared by writing it back
    bus.write32(0x04, 0x2);
    QCOMPARE(bus.read32(0x04), 0u);
    bus.base = 0x4000;
    QCOMPARE(bus.read(0x62), quint16(0));
}

void VmeCrateModelTest::concurrentCycles()
{
    // A poller thread reads while the window's thread writes, as in the program.
    VmeCrateModel crate(vmeDemoCrateConfig());
    std::thread poller([&crate] {
        for (int i = 0; i < 2000; ++i) {
            quint16 word = 0;
            crate.read16(0x4000 + 0x60 + 0x10 + quint32(i % 4) * 2, am, &word);
            crate.read16(0x5000 + 0x00, am, &word);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        crate.write16(0x4000 + 0x62, am, quint16(i % 2 ? 0x8 : 0));
        crate.write16(0x5000 + 0x110, am, quint16(i));
        crate.write16(0x5000 + 0x112, am, 0);
    }
    poller.join();
    quint16 word = 0;
    QCOMPARE(crate.read16(0x5000 + 0x110, am, &word), 0);
    QCOMPARE(word, quint16(1999));
}

void VmeCrateModelTest::malformedConfig_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not JSON") << QByteArray("{\"modules\": [");
    QTest::newRow("top level list") << QByteArray("[]");
    QTest::newRow("class 22") << QByteArray("{\"modules\": [{\"base\": 16384, \"class\": 22}]}");
    QTest::newRow("no base") << QByteArray("{\"modules\": [{\"class\": 20}]}");
    QTest::newRow("base off the window") << QByteArray("{\"modules\": [{\"base\": \"0x4200\", \"class\": 20}]}");
    QTest::newRow("too many channels") << QByteArray("{\"modules\": [{\"base\": 0, \"class\": 20, \"channels\": 13}]}");
    QTest::newRow("overlapping windows") << QByteArray(
        "{\"modules\": [{\"base\": \"0x4000\", \"class\": 20}, {\"base\": \"0x4000\", \"class\": 29}]}");
    QTest::newRow("serial of 6 characters") << QByteArray("{\"vmUsbSerials\": [\"VM0417\"]}");
    QTest::newRow("release of three bytes")
        << QByteArray("{\"modules\": [{\"base\": 0, \"class\": 29, \"firmwareRelease\": [1, 2, 3]}]}");
    QTest::newRow("missing image") << QByteArray(
        "{\"modules\": [{\"base\": 0, \"class\": 29, \"storedImage\": \"none.s19\"}]}");
    QTest::newRow("image not S-records") << QByteArray(
        "{\"modules\": [{\"base\": 0, \"class\": 29, \"storedImage\": \"bad.s19\"}]}");
}

void VmeCrateModelTest::malformedConfig()
{
    QFETCH(QByteArray, json);
    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("bad.s19")));
    QVERIFY(image.open(QIODevice::WriteOnly) && image.write("S1 not hex\n") > 0);
    image.close();
    VmeCrateConfig config;
    QString error;
    QVERIFY(!parseVmeCrateConfig(json, dir.path(), &config, &error));
    QVERIFY(!error.isEmpty());

    // Through the environment: nothing attached instead of a crash.
    QFile file(dir.filePath(QStringLiteral("crate.json")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(json) == json.size());
    file.close();
    qputenv("TESMAR_VME_SIM_CONFIG", QFile::encodeName(file.fileName()));
    const VmeCrateConfig fromEnvironment = vmeCrateConfigFromEnvironment();
    qunsetenv("TESMAR_VME_SIM_CONFIG");
    QVERIFY(fromEnvironment.modules.empty() && fromEnvironment.vmUsbSerials.isEmpty() && !fromEnvironment.v1718);
}

void VmeCrateModelTest::libraries()
{
    QTemporaryDir dir;
    const QString configPath = dir.filePath(QStringLiteral("crate.json"));
    auto writeConfig = [&configPath](const QByteArray& json) {
        QFile file(configPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(json) == json.size());
    };
    writeConfig("{\"vmUsbSerials\": [\"VM0001A\", \"VM0002B\"], \"v1718\": false,"
                " \"modules\": [{\"base\": \"0x4000\", \"class\": 20}, {\"base\": \"0xA000\", \"class\": 29}]}");
    qputenv("TESMAR_VME_SIM_CONFIG", QFile::encodeName(configPath));

    QLibrary xxusb(QStringLiteral(VME_STANDIN_DIR "/xx_usb"));
    QLibrary caen(QStringLiteral(VME_STANDIN_DIR "/CAENVME"));
    QVERIFY2(xxusb.load(), qPrintable(xxusb.errorString()));
    QVERIFY2(caen.load(), qPrintable(caen.errorString()));
#define RESOLVE(library, name) const auto name = reinterpret_cast<VmeEntry_##name>(library.resolve(#name))
    RESOLVE(xxusb, xxusb_devices_find);
    RESOLVE(xxusb, xxusb_device_open);
    RESOLVE(xxusb, xxusb_device_close);
    RESOLVE(xxusb, xxusb_register_read);
    RESOLVE(xxusb, VME_read_16);
    RESOLVE(xxusb, VME_write_16);
    RESOLVE(caen, CAENVME_SWRelease);
    RESOLVE(caen, CAENVME_Init);
    RESOLVE(caen, CAENVME_End);
    RESOLVE(caen, CAENVME_ReadCycle);
    RESOLVE(caen, CAENVME_WriteCycle);
    RESOLVE(caen, CAENVME_SystemReset);
#undef RESOLVE
    QVERIFY(xxusb_devices_find && xxusb_device_open && xxusb_device_close && xxusb_register_read && VME_read_16
        && VME_write_16 && CAENVME_SWRelease && CAENVME_Init && CAENVME_End && CAENVME_ReadCycle && CAENVME_WriteCycle
        && CAENVME_SystemReset);

    // VM-USB: the configured devices in order; cycles on the crate; a closed handle fails.
    XxusbDeviceEntry devices[TESMAR_XXUSB_MAX_DEVICES] = {};
    QCOMPARE(xxusb_devices_find(devices), short(2));
    QCOMPARE(QByteArray(devices[1].serialString, 7), QByteArray("VM0002B"));
    void* handle = xxusb_device_open(devices[1].usbDevice);
    QVERIFY(handle);
    long value = 0;
    QCOMPARE(xxusb_register_read(handle, 0, &value), 0);
    QVERIFY(value != 0);
    QCOMPARE(VME_read_16(handle, am, 0xA03E, &value), short(0));
    QCOMPARE(value, 29L);
    QCOMPARE(VME_write_16(handle, am, 0xA10C + 2, 0x8), short(0)); // class 29 channel 0 on
    QCOMPARE(VME_read_16(handle, am, 0xA10E, &value), short(0));
    QCOMPARE(value, 8L);
    QVERIFY(VME_read_16(handle, am, 0x8000, &value) < 0);
    QCOMPARE(value, 0L);
    QCOMPARE(xxusb_device_close(handle), short(0));
    QVERIFY(VME_read_16(handle, am, 0xA03E, &value) < 0);

    // CAENVME: no V1718 configured, then one that answers.
    char release[64] = {};
    QCOMPARE(CAENVME_SWRelease(release), 0);
    QCOMPARE(QByteArray(release), QByteArray("2.50-standin"));
    int32_t caenHandle = 99;
    QVERIFY(CAENVME_Init(TESMAR_CAENVME_BOARD_V1718, 0, 0, &caenHandle) < 0);
    QCOMPARE(caenHandle, 0);
    writeConfig("{\"v1718\": true, \"modules\": [{\"base\": \"0x4000\", \"class\": 20}]}");
    QCOMPARE(CAENVME_Init(TESMAR_CAENVME_BOARD_V1718, 0, 0, &caenHandle), 0);
    QVERIFY(caenHandle != 0);
    quint16 word = 0x8;
    QCOMPARE(CAENVME_WriteCycle(caenHandle, 0x4062, &word, am, TESMAR_CAENVME_DATA_WIDTH_D16), 0);
    word = 0;
    QCOMPARE(CAENVME_ReadCycle(caenHandle, 0x4062, &word, am, TESMAR_CAENVME_DATA_WIDTH_D16), 0);
    QCOMPARE(word, quint16(0x8));
    quint32 wide = 0;
    QVERIFY(CAENVME_ReadCycle(caenHandle, 0x405C, &wide, am, 4) < 0);
    QVERIFY(CAENVME_ReadCycle(caenHandle, 0x6000, &word, am, TESMAR_CAENVME_DATA_WIDTH_D16) < 0);
    QCOMPARE(CAENVME_SystemReset(caenHandle), 0);
    QCOMPARE(CAENVME_ReadCycle(caenHandle, 0x4062, &word, am, TESMAR_CAENVME_DATA_WIDTH_D16), 0);
    QCOMPARE(word, quint16(0));
    QCOMPARE(CAENVME_End(caenHandle), 0);
    QVERIFY(CAENVME_ReadCycle(caenHandle, 0x4062, &word, am, TESMAR_CAENVME_DATA_WIDTH_D16) < 0);
    qunsetenv("TESMAR_VME_SIM_CONFIG");
}

QTEST_GUILESS_MAIN(VmeCrateModelTest)
#include "tst_vmecratemodel.moc"
