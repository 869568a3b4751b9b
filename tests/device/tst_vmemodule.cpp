// The VME module against the stand-in crate behind a VM-USB: layout detection, both register
// layouts, unit conversions, channel bounds, bus errors, firmware lines, variable groups, module
// discovery, a profile written into a module, and a poller thread sharing a module with the GUI
// thread.
#include "common/VmeStandInConfig.h"

#include "controller/VmUsb.h"
#include "device/ControllerKinds.h"
#include "device/ModuleTypes.h"
#include "device/Poller.h"
#include "device/StatusWordBits.h"
#include "device/VmeControllerFactory.h"
#include "device/VmeModule.h"
#include "device/WriteJournal.h"

#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

using Cycle = QPair<quint32, quint32>; // address, data

// A VM-USB whose cycles are recorded, so that a test sees exactly what went over the bus.
class RecordingBus : public VmeController
{
public:
    int systemReset(int* error) override { return m_bridge.systemReset(error); }
    int write16(quint32 address, int addressModifier, quint32 data, int* error) override
    {
        writes.append({address, data});
        return m_bridge.write16(address, addressModifier, data, error);
    }
    quint32 read16(quint32 address, int addressModifier, int* error) override
    {
        reads.append(address);
        return m_bridge.read16(address, addressModifier, error);
    }
    QString errorString() override { return m_bridge.errorString(); }
    QString connectionInfo() override { return m_bridge.connectionInfo(); }
    bool isConnected() override { return m_bridge.isConnected(); }

    void clear()
    {
        writes.clear();
        reads.clear();
    }

    QVector<Cycle> writes;
    QVector<quint32> reads;

private:
    VmUsb m_bridge;
};

// Class 29 at 0x0000 (its window covers the probe at 0x0400), class 20 with four channels at
// 0x0800, and the two modules most tests use: class 20 at 0x4000, class 29 at 0x5000.
constexpr char crate[] = R"({"vmUsbSerials": ["VM0001A"], "v1718": false, "modules": [
    {"base": "0x0000", "class": 29, "channels": 8, "serial": 2900},
    {"base": "0x0800", "class": 20, "channels": 4, "serial": 2001},
    {"base": "0x4000", "class": 20, "channels": 12, "serial": 2002, "voltageNominal": 3000,
     "currentNominal": 0.003, "firmwareRelease": [1, 2, 3, 4]},
    {"base": "0x5000", "class": 29, "channels": 24, "serial": 2901, "voltageNominal": 6000,
     "currentNominal": 0.001, "firmwareRelease": [0, 3, 1, 0]}]})";

} // namespace

class TestVmeModule : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_config.write(crate));
        m_bus = std::make_shared<RecordingBus>();
        QVERIFY(m_bus->isConnected());
    }

    void init() { m_bus->clear(); }

    void firstOperationOnlyDetects_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("deviceClass");
        QTest::addColumn<int>("channels");
        QTest::newRow("class 20") << 0x4000 << 20 << 12;
        QTest::newRow("class 29") << 0x5000 << 29 << 24;
    }
    void firstOperationOnlyDetects()
    {
        QFETCH(int, base);
        QFETCH(int, deviceClass);
        QFETCH(int, channels);
        QVERIFY(detected(base)->setEventMask(0x00A5));
        VmeModule fresh(m_bus.get(), quint16(base));
        QCOMPARE(fresh.channelNumber(), -1);
        QCOMPARE(fresh.eventMask(), 0u);
        QCOMPARE(fresh.channelNumber(), channels);
        QCOMPARE(fresh.BaseModule::deviceClass(), deviceClass);
        QCOMPARE(fresh.eventMask(), 0x00A5u);
        // A write to a module whose layout is not known yet sends nothing.
        VmeModule other(m_bus.get(), quint16(base));
        m_bus->clear();
        QVERIFY(!other.setEventMask(0));
        QVERIFY(m_bus->writes.isEmpty());
    }

    void address_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("text");
        QTest::newRow("0x4000") << 0x4000 << "VME BA 0x4000";
        QTest::newRow("zero-filled") << 0xA0 << "VME BA 0x00a0";
        QTest::newRow("lower case") << 0xFC00 << "VME BA 0xfc00";
    }
    void address()
    {
        QFETCH(int, base);
        QFETCH(QString, text);
        VmeModule module(nullptr, 0x1000);
        module.setBaseAddress(quint16(base));
        QCOMPARE(module.baseAddress(), quint16(base));
        QCOMPARE(module.address(), text);
    }

    void identity_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("deviceClass");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("serial");
        QTest::addColumn<QString>("release");
        QTest::newRow("class 29, 8 channels") << 0x0000 << 29 << 8 << 2900 << "";
        QTest::newRow("class 20, 4 channels fitted") << 0x0800 << 20 << 4 << 2001 << "";
        QTest::newRow("class 20") << 0x4000 << 20 << 12 << 2002 << "12.34";
        QTest::newRow("class 29") << 0x5000 << 29 << 24 << 2901 << "03.10";
    }
    void identity()
    {
        QFETCH(int, base);
        QFETCH(int, deviceClass);
        QFETCH(int, channels);
        QFETCH(int, serial);
        QFETCH(QString, release);
        auto module = detected(base);
        module->setVoltageUnit(QStringLiteral("kV"));
        QCOMPARE(module->deviceClass(), deviceClass);
        QCOMPARE(module->voltageUnit(), QStringLiteral("kV")); // detecting again keeps the units
        QCOMPARE(module->channelNumber(), channels);
        QCOMPARE(module->firmwareName(), ModuleTypes::nameOf(deviceClass));
        QCOMPARE(module->serialNumber(), serial);
        if (!release.isEmpty())
            QCOMPARE(module->firmwareRelease(), release);
        QVERIFY(module->connected());
        QCOMPARE(module->currentControl(), deviceClass == 20);
        QCOMPARE(module->reports(BaseModule::Quantity::InterlockOut), deviceClass == 20);
        QVERIFY(module->reports(BaseModule::Quantity::SupplyN12));
        if (deviceClass == 29) {
            m_bus->clear();
            QVERIFY(!module->SetModuleIlkOutControl(1));
            QCOMPARE(module->GetModuleIlkOutControl(), 0u);
            QVERIFY(m_bus->writes.isEmpty() && m_bus->reads.isEmpty());
        }
    }

    // Registers hold volts and amperes; the interface speaks the display units.
    void conversions_data()
    {
        QTest::addColumn<int>("base");
        QTest::newRow("class 20") << 0x4000;
        QTest::newRow("class 29") << 0x5000;
    }
    void conversions()
    {
        QFETCH(int, base);
        auto module = detected(base);
        module->setVoltageUnit(QStringLiteral("kV"));
        module->setCurrentUnit(QStringLiteral("uA"));
        QVERIFY(module->setChannelVoltageSet(1, 1.5f));
        QVERIFY(module->setChannelCurrentSet(1, 2.0f));
        QCOMPARE(module->channelVoltageSet(1), 1.5f);
        QVERIFY(qFuzzyCompare(module->channelCurrentSet(1), 2.0f));
        module->setVoltageUnit(QStringLiteral("V"));
        module->setCurrentUnit(QStringLiteral("A"));
        QCOMPARE(module->channelVoltageSet(1), 1500.0f);
        QVERIFY(qFuzzyCompare(module->channelCurrentSet(1), 2.0e-6f));
        // The ramp speed is a percentage: never converted.
        QVERIFY(module->setVoltageRampSpeed(7.5f));
        QCOMPARE(module->voltageRampSpeed(), 7.5f);
    }

    // The user nominal is written and the hardware nominal read in display units like every
    // other value.
    void nominalsInDisplayUnits_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<float>("hardwareKilovolts");
        QTest::addColumn<float>("hardwareMicroamperes");
        QTest::newRow("class 20") << 0x4000 << 3.0f << 3000.0f;
        QTest::newRow("class 29") << 0x5000 << 6.0f << 1000.0f;
    }
    void nominalsInDisplayUnits()
    {
        QFETCH(int, base);
        QFETCH(float, hardwareKilovolts);
        QFETCH(float, hardwareMicroamperes);
        auto module = detected(base);
        module->setVoltageUnit(QStringLiteral("kV"));
        module->setCurrentUnit(QStringLiteral("uA"));
        QCOMPARE(module->channelVoltageHardwareNominal(2), hardwareKilovolts);
        QVERIFY(qFuzzyCompare(module->channelCurrentHardwareNominal(2), hardwareMicroamperes));
        QVERIFY(module->setChannelVoltageNominal(2, 2.5f));
        QCOMPARE(module->channelVoltageNominal(2), 2.5f);
        module->setVoltageUnit(QStringLiteral("V"));
        QCOMPARE(module->channelVoltageNominal(2), 2500.0f);
        QVERIFY(module->setChannelVoltageNominal(2, hardwareKilovolts * 1000));
    }

    // Class 29: the hardware nominals sit in the tail of the channel's block, apart from the
    // variable groups at 0x700 + 8g.
    void class29NominalsApartFromGroups()
    {
        auto module = detected(0x5000);
        QVERIFY(module->setFlexGroup(0, 0x1, 0xC005));
        QVERIFY(module->setFlexGroup(1, 0x2, 0xC006));
        QCOMPARE(module->channelVoltageHardwareNominal(0), 6000.0f);
        QCOMPARE(module->channelVoltageHardwareNominal(1), 6000.0f);
        QVERIFY(qFuzzyCompare(module->channelCurrentHardwareNominal(0), 1.0f)); // mA
        QCOMPARE(module->flexGroupMemberList(0), 0x1u);
        QCOMPARE(module->flexGroupType(1), 0xC006u);
        QVERIFY(module->setFlexGroup(0, 0, 0) && module->setFlexGroup(1, 0, 0));
    }

    // A channel the module does not have is never addressed: in class 20 the block of channel 12
    // would be the all-channels registers.
    void channelsOutsideTheModule()
    {
        auto module = detected(0x4000);
        QVERIFY(module->setChannelVoltageSet(0, 100.0f));
        for (int channel : {12, 13, -1, 64}) {
            m_bus->clear();
            QVERIFY(!module->setChannelVoltageSet(channel, 200.0f));
            QCOMPARE(module->lastError(), QStringLiteral("no channel %1 in this module").arg(channel));
            QVERIFY(!module->setChannelOn(channel));
            QCOMPARE(module->channelVoltageSet(channel), 0.0f);
            QCOMPARE(module->channelStatus(channel), 0u);
            QVERIFY(m_bus->writes.isEmpty() && m_bus->reads.isEmpty());
        }
        QVERIFY(module->setSelectedChannelsOff(0xFFFFFFFF));
        m_bus->clear();
        QVERIFY(module->setSelectedChannelsOn(0xFFFF1001)); // channels 0 and 12, 16..31
        QCOMPARE(addresses(m_bus->writes), (QVector<quint32>{0x4062}));
        QVERIFY(module->channelControl(0) & 0x8);
        QCOMPARE(module->channelVoltageSet(0), 100.0f);
        QVERIFY(module->setSelectedChannelsOff(0x1001));
    }

    // A failing cycle is an error of the write, and makes the values of its read no readings.
    void busErrors()
    {
        auto module = detected(0x4000);
        module->setBaseAddress(0x7000); // nothing answers there
        QVERIFY(!module->connected());
        QVERIFY(!module->setChannelVoltageSet(0, 10.0f));
        QCOMPARE(module->lastError(), QStringLiteral("no answer"));
        QCOMPARE(lastJournalLine().slot, QStringLiteral("VME BA 0x7000"));
        QCOMPARE(lastJournalLine().result, module->lastError());
        QVERIFY(!module->setEventMask(1));
        QVERIFY(!module->setChannelOn(0));
        m_bus->clear();
        QVERIFY(!module->doClear()); // a control word that did not read is not written back
        QVERIFY(m_bus->writes.isEmpty());
        QVector<ChannelReading> readings = module->readChannels();
        QCOMPARE(readings.size(), 12);
        QVERIFY(std::none_of(readings.begin(), readings.end(), [](const ChannelReading& r) { return r.complete; }));
        ModuleReading values = module->readModuleValues(true, true);
        QVERIFY(!values.rampSpeedsValid && !values.statusValid && !values.temperaturesValid && !values.suppliesValid);

        module->setBaseAddress(0x4000);
        QVERIFY(module->connected());
        QVERIFY(module->setChannelVoltageSet(0, 10.0f));
        const JournalLine written = lastJournalLine();
        QCOMPARE(written.slot + ' ' + written.serialNumber + ' ' + written.channel + ' ' + written.quantity + ' '
                + written.result,
            QStringLiteral("VME BA 0x4000 2002 0 voltage set ok"));
        readings = module->readChannels();
        QVERIFY(std::all_of(readings.begin(), readings.end(), [](const ChannelReading& r) { return r.complete; }));
        values = module->readModuleValues(true, true);
        QVERIFY(values.rampSpeedsValid && values.statusValid && values.temperaturesValid && values.suppliesValid);
        QVERIFY(values.supplyP5 > 0.0f);
    }

    // The checked reads ask the bus now. A read-modify-write of a control word that was not read
    // sends nothing over the bus and leaves no journal line; the settings read is all or nothing.
    void unreadWordsAreNotWrittenBack_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<float>("nominalVolts");
        QTest::addColumn<float>("nominalMilliamperes");
        QTest::newRow("class 20") << 0x4000 << 3000.0f << 3.0f;
        QTest::newRow("class 29") << 0x5000 << 6000.0f << 1.0f;
    }
    void unreadWordsAreNotWrittenBack()
    {
        QFETCH(int, base);
        QFETCH(float, nominalVolts);
        QFETCH(float, nominalMilliamperes);
        auto module = detected(base);
        module->setVoltageUnit(QStringLiteral("V"));
        module->setCurrentUnit(QStringLiteral("mA"));
        QVERIFY(module->setChannelCurrentSet(1, 0.5f));
        QVERIFY(module->setChannelDelayedTripAction(1, BaseModule::RampDownChannel, 200));
        quint32 sent = 0;
        QVERIFY(module->updateChannelControl(1, 0, ChannelControlBit::on, &sent));
        QCOMPARE(sent & ChannelControlBit::on, quint32(ChannelControlBit::on));
        quint32 word = 0;
        QVERIFY(module->readChannelControl(1, &word));
        QCOMPARE(word, sent);
        ChannelSettings settings;
        QVERIFY(module->readChannelSettings(1, &settings));
        QVERIFY(qFuzzyCompare(settings.currentSet, 0.5f));
        QCOMPARE(settings.voltageHardwareNominal, nominalVolts);
        QVERIFY(qFuzzyCompare(settings.currentHardwareNominal, nominalMilliamperes));
        QVERIFY(settings.delayedTripEnabled && settings.delayedTripRampDown);
        QCOMPARE(settings.delayedTripTimeMs, 200);
        QCOMPARE(settings.control, sent);
        QCOMPARE(settings.currentControl, base == 0x4000);
        quint32 control = 0;
        QVERIFY(module->readControl(&control));

        module->setBaseAddress(0x7000); // nothing answers there
        m_bus->clear();
        const QString journal = WriteJournal::instance().latestLines(1).value(0);
        QVERIFY(!module->updateChannelControl(1, ChannelControlBit::on, 0));
        QCOMPARE(module->lastError(), QStringLiteral("control word not read (no answer)"));
        QVERIFY(!module->updateControl(0, ModuleControlBit::killEnable));
        QCOMPARE(module->lastError(), QStringLiteral("control word not read (no answer)"));
        QVERIFY(!module->setChannelOff(1));
        QCOMPARE(module->lastError(), QStringLiteral("control word not read (no answer)"));
        ChannelSettings untouched;
        untouched.currentSet = -1.0f;
        QVERIFY(!module->readChannelSettings(1, &untouched));
        QCOMPARE(module->lastError(), QStringLiteral("no answer"));
        QCOMPARE(untouched.currentSet, -1.0f);
        QCOMPARE(untouched.voltageUnit, QString());
        QVERIFY(m_bus->writes.isEmpty());
        QCOMPARE(WriteJournal::instance().latestLines(1).value(0), journal);

        module->setBaseAddress(quint16(base));
        QVERIFY(module->readChannelControl(1, &word));
        QCOMPARE(word, sent);
        QCOMPARE(module->control(), control);
        QVERIFY(module->updateChannelControl(1, ChannelControlBit::on, 0));
        QVERIFY(module->setChannelDelayedTripAction(1, BaseModule::IgnoreFailure, 0));
    }

    // In special mode the channel registers hold the loader's buffer: no channel is read then.
    void specialModeGivesNoReadings_data()
    {
        QTest::addColumn<int>("base");
        QTest::newRow("class 20") << 0x4000;
        QTest::newRow("class 29") << 0x5000;
    }
    void specialModeGivesNoReadings()
    {
        QFETCH(int, base);
        auto module = detected(quint16(base));
        QVERIFY(module->setControl(0x0005)); // set special mode and stop
        QTRY_VERIFY(module->status() & 0x40);
        QVector<ChannelReading> readings = module->readChannels();
        QCOMPARE(readings.size(), module->channelNumber());
        QVERIFY(std::none_of(readings.begin(), readings.end(), [](const ChannelReading& r) { return r.complete; }));
        QVERIFY(module->connected()); // the module answers; only its channels are not readable

        // The poller keeps the module connected; only its channels go stale.
        {
            std::shared_ptr<VmeModule> shared = std::move(module);
            Poller poller;
            poller.setDevices(m_bus, {shared}, {});
            poller.setCurrentModule(0);
            poller.setNeeds(Poller::CurrentModuleChannels);
            poller.start();
            QTest::qWait(ModuleSnapshot::freshForMs + 500);
            const std::shared_ptr<const ModuleSnapshot> snapshot = poller.moduleSnapshot(0);
            poller.stop();
            QVERIFY(snapshot);
            const qint64 now = ModuleSnapshot::nowMs();
            QVERIFY(snapshot->connected(now));
            QVERIFY(!snapshot->channelsFresh(now));
            poller.clearDevices();
            module = detected(quint16(base));
        }
        QVERIFY(module->setSpecialControlCommand(7)); // leave special mode
        QVERIFY(module->setControl(0));
        QTRY_VERIFY(!(module->status() & 0x40));
        readings = module->readChannels();
        QVERIFY(std::all_of(readings.begin(), readings.end(), [](const ChannelReading& r) { return r.complete; }));
        QCOMPARE(readings.at(0).voltageNominal, base == 0x4000 ? 3000.0f : 6000.0f);
    }

    // A mask of single channels is switched channel by channel (read-modify-write of their
    // control words); a mask of all ones through the all-channels register.
    void selectedChannels()
    {
        auto module = detected(0x4000);
        QVERIFY(module->setSelectedChannelsOff(0xFFFFFFFF));
        m_bus->clear();
        QVERIFY(module->setSelectedChannelsOn(0x5));
        QCOMPARE(m_bus->writes.size(), 2);
        QCOMPARE(addresses(m_bus->writes), (QVector<quint32>{0x4062, 0x40C2}));
        QCOMPARE(m_bus->writes.at(0).second & 0x8, 0x8u);
        QCOMPARE(module->channelControl(0) & 0x8, 0x8u);
        QCOMPARE(module->channelControl(1) & 0x8, 0u);
        QCOMPARE(module->channelControl(2) & 0x8, 0x8u);
        m_bus->clear();
        QVERIFY(module->setSelectedChannelsOn(0xFFFFFFFF));
        QCOMPARE(m_bus->writes, (QVector<Cycle>{{0x42B4, 0}, {0x42B6, 1}}));
        QVERIFY(module->setSelectedChannelsOff(0xFFFFFFFF));
    }

    // One firmware line into the channel-0 block: class 20 in 16-bit words followed by command
    // 2, class 29 padded with '0' to whole 32-bit words.
    void hexLine_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QVector<Cycle>>("cycles");
        QTest::newRow("class 29, 7 characters")
            << 0x0000 << QByteArray("S1234AB")
            << QVector<Cycle>{{0x100, 0x5331}, {0x102, 0x3233}, {0x104, 0x3441}, {0x106, 0x4230}};
        QTest::newRow("class 29, 8 characters")
            << 0x0000 << QByteArray("S1234ABC")
            << QVector<Cycle>{{0x100, 0x5331}, {0x102, 0x3233}, {0x104, 0x3441}, {0x106, 0x4243}};
        QTest::newRow("class 20, odd length")
            << 0x0800 << QByteArray("S1234")
            << QVector<Cycle>{{0x860, 0x5331}, {0x862, 0x3233}, {0x864, 0x3400}, {0xBB2, 2}};
        QTest::newRow("class 20, empty") << 0x0800 << QByteArray() << QVector<Cycle>{{0xBB2, 2}};
    }
    void hexLine()
    {
        QFETCH(int, base);
        QFETCH(QByteArray, record);
        QFETCH(QVector<Cycle>, cycles);
        auto module = detected(base);
        m_bus->clear();
        QVERIFY(module->sendHexLine(record));
        QCOMPARE(m_bus->writes, cycles);
    }

    // A line longer than any record would run from the transfer buffer into the all-channels
    // registers and on into the neighbour: refused whole, not a single cycle on the bus.
    void hexLineLongerThanARecordIsRefused_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<quint32>("window");
        QTest::newRow("class 20") << 0x4000 << 0x400u;
        QTest::newRow("class 29") << 0x5000 << 0x800u;
    }
    void hexLineLongerThanARecordIsRefused()
    {
        QFETCH(int, base);
        QFETCH(quint32, window);
        auto module = detected(base);
        m_bus->clear();
        QVERIFY(!module->sendHexLine(QByteArray("S2140F8000A54DCA182530BB1D6D132CDED6237B2E2F") + QByteArray(1100, 'A')));
        QVERIFY(m_bus->writes.isEmpty());
        QCOMPARE(module->lastError(), QStringLiteral("a firmware line has at most 514 characters, this one 1144"));
        QVERIFY(!module->sendHexLine(QByteArray(515, '0')));
        QVERIFY(m_bus->writes.isEmpty());

        // The longest record fits the buffer, which ends before the all-channels registers.
        QVERIFY(module->sendHexLine(QByteArray(514, '0')));
        QVERIFY(!m_bus->writes.isEmpty());
        const quint32 allChannels = base == 0x4000 ? 0x2A0 : 0xD0;
        for (const Cycle& cycle : m_bus->writes) {
            const quint32 offset = cycle.first - quint32(base);
            QVERIFY2(offset < window, qPrintable(QString::number(cycle.first, 16)));
            const bool command = base == 0x4000 && offset == 0x3B2;
            QVERIFY2(command || offset < allChannels || base == 0x5000, qPrintable(QString::number(offset, 16)));
        }
    }

    // The last line of defence: a cycle outside the window is refused before the bus, whatever
    // offset a future bug computes.
    void registerAccessRefusesOffsetsOutsideTheWindow_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<quint32>("window");
        QTest::newRow("class 20") << 0x4000 << 0x400u;
        QTest::newRow("class 29") << 0x5000 << 0x800u;
    }
    void registerAccessRefusesOffsetsOutsideTheWindow()
    {
        QFETCH(int, base);
        QFETCH(quint32, window);
        auto module = detected(base);
        m_bus->clear();
        for (quint32 offset : {window, window - 1, window + 0x44AAu, 0xFFFFFFFEu}) {
            QVERIFY(module->writeWord(offset, 0x1234) != 0);
            QVERIFY(module->writeLong(offset - 2, 0x12345678) != 0 || offset - 2 + 4 <= window);
            module->m_readFailed = false;
            QCOMPARE(module->readWord(offset), 0u);
            QVERIFY(module->m_readFailed);
        }
        for (const Cycle& cycle : m_bus->writes)
            QVERIFY2(cycle.first - quint32(base) < window, qPrintable(QString::number(cycle.first, 16)));
        QVERIFY(m_bus->reads.isEmpty());
        QVERIFY(!module->written(-1, "test", QString(), [&] { return module->writeWord(window, 1); }));
        QCOMPARE(module->lastError(), QStringLiteral("register outside the module's window of %1 bytes").arg(window));
        // The last word of the window is the module's own.
        QCOMPARE(module->writeWord(window - 2, 0), 0);
        QCOMPARE(m_bus->writes.last().first, quint32(base) + window - 2);
    }

    // Whatever channel or group number reaches it, a module's cycles stay inside its own window.
    void cyclesStayInsideTheWindow_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<quint32>("window");
        QTest::newRow("class 20, 4 channels") << 0x0800 << 0x400u;
        QTest::newRow("class 29, 8 channels") << 0x0000 << 0x800u;
        QTest::newRow("class 20, 12 channels") << 0x4000 << 0x400u;
        QTest::newRow("class 29, 24 channels") << 0x5000 << 0x800u;
    }
    void cyclesStayInsideTheWindow()
    {
        QFETCH(int, base);
        QFETCH(quint32, window);
        auto module = detected(base);
        m_bus->clear();
        const QList<int> numbers = {-1000, -1, 0, 3, 11, 12, 23, 24, 31, 32, 63, 64, 200, 5000, 1 << 20};
        for (int n : numbers) {
            module->setFlexGroup(n, 0x1, 0xC000);
            module->flexGroupMemberList(n);
            module->flexGroupType(n);
            module->setChannelVoltageSet(n, 1);
            module->setChannelCurrentSet(n, 0.0001f);
            module->setChannelOn(n);
            module->setChannelOff(n);
            module->setChannelControl(n, 0);
            module->setChannelEventMask(n, 0);
            module->setChannelVoltageNominal(n, 100);
            module->setChannelCurrentNominal(n, 0.001f);
            module->setChannelVoltageInterlockMaxSet(n, 0);
            module->setChannelCurrentInterlockMinSet(n, 0);
            module->setChannelDelayedTripAction(n, BaseModule::OutputSupervisionAction(1), 100);
            module->channelVoltageHardwareNominal(n);
            module->channelCurrentHardwareNominal(n);
            module->channelVoltageMeasure(n);
            module->channelStatus(n);
        }
        module->setSelectedChannelsOn(0x80000001u);
        module->setSelectedChannelsOff(0x80000001u);
        QVERIFY(!m_bus->writes.isEmpty());
        for (const Cycle& cycle : m_bus->writes)
            QVERIFY2(cycle.first - quint32(base) < window, qPrintable(QString::number(cycle.first, 16)));
        for (quint32 address : m_bus->reads)
            QVERIFY2(address - quint32(base) < window, qPrintable(QString::number(address, 16)));
    }

    void delayedTrip_data()
    {
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("action");
        QTest::addColumn<quint32>("member");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<bool>("rampDown");
        QTest::addColumn<int>("time");
        QTest::addColumn<QVector<quint32>>("written"); // addresses of the cycles
        const QVector<quint32> group20{0x42CC, 0x42CE};
        const QVector<quint32> group29{0x5718, 0x571A, 0x571C, 0x571E};
        QTest::newRow("class 20 ramp down") << 0x4000 << 1 << 0x8u << 0xD064u << true << 100 << group20;
        QTest::newRow("class 20 shut down") << 0x4000 << 2 << 0x8u << 0xE064u << false << 100 << group20;
        QTest::newRow("class 20 ignore") << 0x4000 << 0 << 0x0u << 0x0u << false << -1 << group20;
        QTest::newRow("class 29 module off") << 0x5000 << 3 << 0x8u << 0xF064u << false << 100 << group29;
        QTest::newRow("class 29 unknown action") << 0x5000 << 6 << 0x8u << 0xC064u << false << 100 << group29;
    }
    void delayedTrip()
    {
        QFETCH(int, base);
        QFETCH(int, action);
        QFETCH(quint32, member);
        QFETCH(quint32, type);
        QFETCH(bool, rampDown);
        QFETCH(int, time);
        QFETCH(QVector<quint32>, written);
        auto module = detected(base);
        m_bus->clear();
        QVERIFY(module->setChannelDelayedTripAction(3, BaseModule::OutputSupervisionAction(action), 0x1064));
        QCOMPARE(addresses(m_bus->writes), written);
        QCOMPARE(module->flexGroupMemberList(3), member);
        QCOMPARE(module->flexGroupType(3), type);
        QCOMPARE(module->channelDelayedTripEnabled(3), time >= 0);
        QCOMPARE(module->channelDelayedTripRampDown(3), rampDown);
        QCOMPARE(module->channelDelayedTripTime(3), time);
        QVERIFY(!module->setFlexGroup(32, 1, 1));
        QVERIFY(module->setFlexGroup(3, 0, 0));
    }

    // Discovery walks the A16 space upwards and never probes inside a class 29 module's window.
    void discovery()
    {
        VmeControllerFactory<VmUsb> factory;
        const QVector<std::shared_ptr<BaseModule>> modules = factory.discoverModules(m_bus);
        QVector<int> bases;
        QVector<int> channels;
        for (const auto& module : modules) {
            bases << module->baseAddress();
            channels << module->channelNumber(); // detected while probing
        }
        QCOMPARE(bases, (QVector<int>{0x0000, 0x0800, 0x4000, 0x5000}));
        QCOMPARE(channels, (QVector<int>{8, 4, 12, 24}));
        QVERIFY(!m_bus->reads.contains(0x045C) && !m_bus->reads.contains(0x545C));
        QVERIFY(m_bus->reads.contains(0x0C5C) && m_bus->reads.contains(0xFC5C));
        QVERIFY(factory.createCrates(m_bus).isEmpty());
        for (const char* kind : {"vmusb", "v1718"}) {
            QVERIFY(ControllerKinds::isKnown(QLatin1String(kind)));
            QVERIFY(ControllerKinds::reachesVmeModules(QLatin1String(kind)));
            QVERIFY(ControllerKinds::createFactory(QLatin1String(kind)));
        }
    }

    // The poller thread reads the module while the GUI thread switches its channels: each
    // operation holds the bus for its whole duration, so every read stays complete.
    void pollerAndGuiShareTheModule()
    {
        auto module = detected(0x4000);
        std::atomic<bool> stop{false};
        std::atomic<int> incomplete{0};
        std::atomic<int> polls{0};
        std::unique_ptr<QThread> poller(QThread::create([&] {
            while (!stop) {
                for (const ChannelReading& reading : module->readChannels())
                    incomplete += reading.complete ? 0 : 1;
                if (!module->readModuleValues(true, true).statusValid)
                    ++incomplete;
                ++polls;
            }
        }));
        poller->start();
        for (int round = 0; round < 50; ++round) {
            QVERIFY(module->setChannelOn(round % 12));
            QVERIFY(module->setChannelVoltageSet(round % 12, float(round)));
            QVERIFY(module->setChannelOff(round % 12));
        }
        QTRY_VERIFY_WITH_TIMEOUT(polls > 2, 10000);
        stop = true;
        poller->wait();
        QCOMPARE(incomplete.load(), 0);
    }

private:
    std::unique_ptr<VmeModule> detected(int base)
    {
        auto module = std::make_unique<VmeModule>(m_bus.get(), quint16(base));
        module->deviceClass();
        return module;
    }
    static JournalLine lastJournalLine()
    {
        JournalLine line;
        JournalLine::parse(WriteJournal::instance().latestLines(1).value(0), &line);
        return line;
    }
    static QVector<quint32> addresses(const QVector<Cycle>& cycles)
    {
        QVector<quint32> result;
        for (const Cycle& cycle : cycles)
            result << cycle.first;
        return result;
    }

    VmeStandInConfig m_config;
    std::shared_ptr<RecordingBus> m_bus;
};

QTEST_GUILESS_MAIN(TestVmeModule)
#include "tst_vmemodule.moc"
