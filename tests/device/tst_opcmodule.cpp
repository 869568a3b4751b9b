// The OPC module and crate end to end: item names, units, switching masks, measurement modules,
// alarms, delayed trips on variable groups and an unanswering server, against the stand-in
// OPC server through our controller. Raw item values are read and written through the same
// controller, as the server holds them.
#include "common/JournalLines.h"
#include "common/OpcStandInConfig.h"

#include "controller/OpcController.h"
#include "device/DeviceSession.h"
#include "device/OpcControllerFactory.h"
#include "device/OpcCrate.h"
#include "device/OpcModule.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"

#include <QStandardPaths>
#include <QTest>

#include <memory>

namespace {

const char* const layout = R"({
  "crate": {"name": "bus0.crate", "serialNumber": "X-5300", "firmware": "01.10"},
  "modules": [
    {"name": "bus0.module3", "firmwareName": "THE1640p", "deviceClass": 24, "channels": 12,
     "serialNumber": "4715003", "release": "02.10", "nominalVoltage": 4, "nominalCurrent": 2,
     "voltageUnit": "kV", "currentUnit": "mA"},
    {"name": "bus0.module4", "firmwareName": "TMM0800m", "deviceClass": 90, "channels": 4,
     "serialNumber": "abc", "signal": 2.5},
    {"name": "bus1.module0", "deviceClass": 21, "channels": 2, "serialNumber": "17",
     "currentUnit": "uA", "nominalCurrent": 500}
  ]
})";

enum Operation {
    SetEventMask,
    SetChannelEventMask,
    SetVoltageRampSpeed,
    SetKillEnable,
    SetAdjustment,
    SetAdcSamplesPerSecond,
    ClearEventChannelStatus,
    ClearChannelEventStatus,
    SetControlKillAndClear,
    SetAllChannelsVoltage,
};

enum ValueWrite { VoltageSet, CurrentSet, AllVoltages, RampSpeed };

} // namespace

class TestOpcModule : public QObject
{
    Q_OBJECT

private:
    OpcController* controller() { return m_controller.get(); }
    std::unique_ptr<OpcModule> module(const char* name) { return std::make_unique<OpcModule>(controller(), name); }
    float raw(const QString& item) { return controller()->getFloat(item); }
    quint32 rawMask(const QString& item) { return controller()->getUnsignedLong(item); }
    void setRaw(const QString& item, float value) { controller()->opc_setFloat(item.toLatin1().constData(), value); }
    void setRawMask(const QString& item, quint32 value)
    {
        controller()->opc_setUnsignedLong(item.toLatin1().constData(), value);
    }
    void setReachable(bool reachable) { controller()->opc_setBool("Simulation.Reachable", reachable); }

    OpcStandInConfig m_config;

    // The journal's latest line about `m` (tests running side by side share the journal).
    static QString latestJournalLine(OpcModule& m)
    {
        const QStringList lines = JournalLines::writes(
            WriteJournal::instance().latestLines(100).filter(QLatin1Char('\t') + m.address() + QLatin1Char('\t')));
        return lines.value(lines.size() - 1);
    }
    std::unique_ptr<OpcController> m_controller;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_config.write(layout));
        m_controller = std::make_unique<OpcController>(200);
        QVERIFY(m_controller->open(QString()));
    }
    void cleanup() { setReachable(true); }

    // Identity is read once; the name works with and without its final dot.
    void namesAndIdentity()
    {
        for (const char* name : {"bus0.module3", "bus0.module3."}) {
            const auto m = module(name);
            QCOMPARE(m->address(), QStringLiteral("bus0.module3"));
            QCOMPARE(m->moduleItem("Status"), QStringLiteral("bus0.module3.Status"));
            QCOMPARE(m->channelItem(0, "VSet"), QStringLiteral("bus0.module3.ch00.VSet"));
            QCOMPARE(m->channelItem(11, "VSet"), QStringLiteral("bus0.module3.ch11.VSet"));
            QCOMPARE(m->busItem("LogLevel"), QStringLiteral("bus0.LogLevel"));
            setRaw("bus0.module3.Status", 0x1234);
            QCOMPARE(m->status(), 0x1234u);
            QCOMPARE(m->channelNumber(), 12);
            QCOMPARE(m->serialNumber(), 4715003);
            QCOMPARE(m->firmwareName(), QStringLiteral("THE1640p"));
            QCOMPARE(m->firmwareRelease(), QStringLiteral("02.10"));
            QCOMPARE(m->deviceClass(), 24);
            QVERIFY(m->currentControl());
            QVERIFY(m->connected());
        }
        // A DeviceID that is not a number gives 0; a missing firmware name comes from the class.
        QCOMPARE(module("bus0.module4")->serialNumber(), 0);
        const auto noName = module("bus1.module0");
        QCOMPARE(noName->firmwareName(), QStringLiteral("THB1620n"));
        QVERIFY(!noName->currentControl());
        QVERIFY(noName->setLogLevel(3));
        QCOMPARE(raw("bus1.LogLevel"), 3.0f);
        QCOMPARE(noName->logLevel(), 3u);
    }

    void writesReachTheirItems_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("item");
        QTest::addColumn<float>("before");
        QTest::addColumn<float>("after");
        QTest::newRow("event mask") << int(SetEventMask) << "EventMask" << 0.0f << 85.0f;
        QTest::newRow("channel event mask") << int(SetChannelEventMask) << "ch02.EventMask" << 0.0f << 51.0f;
        QTest::newRow("ramp speed") << int(SetVoltageRampSpeed) << "RampSpeed" << 5.0f << 7.5f;
        QTest::newRow("kill enable") << int(SetKillEnable) << "setKillEnable" << 0.0f << 1.0f;
        QTest::newRow("adjustment") << int(SetAdjustment) << "setAdjust" << 0.0f << 1.0f;
        QTest::newRow("adc rate") << int(SetAdcSamplesPerSecond) << "ADCFilterFrequency" << 50.0f << 100.0f;
        QTest::newRow("clear event channels") << int(ClearEventChannelStatus) << "EventChannelStatus" << 128.0f << 0.0f;
        QTest::newRow("clear channel events") << int(ClearChannelEventStatus) << "ch07.EventStatus" << 32.0f << 0.0f;
        QTest::newRow("control: clear and kill") << int(SetControlKillAndClear) << "ch07.EventStatus" << 32.0f << 0.0f;
        QTest::newRow("all voltages, server kV") << int(SetAllChannelsVoltage) << "ch11.VSet" << 0.0f << 1.25f;
    }
    void writesReachTheirItems()
    {
        QFETCH(int, operation);
        QFETCH(QString, item);
        QFETCH(float, before);
        QFETCH(float, after);
        const auto m = module("bus0.module3");
        // Events come from an emergency off of channel 7; other items are set as they are.
        setRawMask("bus0.module3.Emcy", 0x80);
        setRawMask("bus0.module3.Emcy", 0);
        if (!item.contains("EventStatus") && item != "EventChannelStatus")
            setRaw(m->moduleItem(item), before);
        QCOMPARE(raw(m->moduleItem(item)), before);
        bool ok = false;
        switch (Operation(operation)) {
        case SetEventMask:
            ok = m->setEventMask(85);
            break;
        case SetChannelEventMask:
            ok = m->setChannelEventMask(2, 51);
            break;
        case SetVoltageRampSpeed:
            ok = m->setVoltageRampSpeed(7.5f);
            break;
        case SetKillEnable:
            ok = m->setKillEnable(true) && m->control() == 0x4000;
            break;
        case SetAdjustment:
            ok = m->setAdjustment(true) && m->adjustment();
            break;
        case SetAdcSamplesPerSecond:
            ok = m->setAdcSamplesPerSecond(100);
            break;
        case ClearEventChannelStatus:
            ok = m->clearEventChannelStatus();
            break;
        case ClearChannelEventStatus:
            ok = m->clearChannelEventStatus(7);
            break;
        case SetControlKillAndClear:
            ok = m->setControl(0x4040) && m->killEnable() && !m->adjustment();
            break;
        case SetAllChannelsVoltage:
            ok = m->setAllChannelsVoltageSet(1.25f);
            break;
        }
        QVERIFY2(ok, qPrintable(m->lastError()));
        QCOMPARE(raw(m->moduleItem(item)), after);
        // Every write sent is in the journal, answered.
        QVERIFY(latestJournalLine(*m).endsWith(QLatin1String("\tok")));
        m->setKillEnable(false);
        m->setAdjustment(false);
    }

    // Values pass unconverted with controller units; otherwise between server and display units.
    void units_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("controllerUnits");
        QTest::addColumn<QString>("displayVoltage");
        QTest::addColumn<QString>("displayCurrent");
        QTest::addColumn<float>("serverVoltage");
        QTest::addColumn<float>("shownVoltage");
        QTest::addColumn<float>("serverCurrent");
        QTest::addColumn<float>("shownCurrent");
        QTest::addColumn<QString>("voltageUnit");
        QTest::addColumn<QString>("currentUnit");
        const QString micro = QString(QChar(0x00B5)) + "A";
        QTest::newRow("controller units, kV and mA") << "bus0.module3" << true << "V"
                                                     << "A" << 1.5f << 1.5f << 1.5f << 1.5f << "kV"
                                                     << "mA";
        QTest::newRow("kV server, V display") << "bus0.module3" << false << "V"
                                              << "uA" << 1.5f << 1500.0f << 1.5f << 1500.0f << "V" << micro;
        QTest::newRow("kV server, kV display") << "bus0.module3" << false << "kV"
                                               << "A" << 1.5f << 1.5f << 1.5f << 0.0015f << "kV"
                                               << "A";
        QTest::newRow("controller units, uA") << "bus1.module0" << true << "kV"
                                              << "A" << 250.0f << 250.0f << 250.0f << 250.0f << "V" << micro;
        QTest::newRow("V server, kV display, uA to mA") << "bus1.module0" << false << "kV"
                                                        << "mA" << 250.0f << 0.25f << 250.0f << 0.25f << "kV"
                                                        << "mA";
    }
    void units()
    {
        QFETCH(QString, name);
        QFETCH(bool, controllerUnits);
        QFETCH(QString, displayVoltage);
        QFETCH(QString, displayCurrent);
        QFETCH(float, serverVoltage);
        QFETCH(float, shownVoltage);
        QFETCH(float, serverCurrent);
        QFETCH(float, shownCurrent);
        QFETCH(QString, voltageUnit);
        QFETCH(QString, currentUnit);
        const auto m = module(name.toLatin1().constData());
        m->setUseControllerUnits(controllerUnits);
        m->setVoltageUnit(displayVoltage);
        m->setCurrentUnit(displayCurrent);
        QCOMPARE(m->voltageUnit(0), voltageUnit);
        QCOMPARE(m->currentUnit(0), currentUnit);
        setRaw(m->channelItem(1, "VSet"), serverVoltage);
        setRaw(m->channelItem(1, "ISet"), serverCurrent);
        QCOMPARE(m->channelVoltageSet(1), shownVoltage);
        QCOMPARE(m->channelCurrentSet(1), shownCurrent);
        // And back: the shown value written gives the server value.
        setRaw(m->channelItem(1, "VSet"), 0);
        setRaw(m->channelItem(1, "ISet"), 0);
        QVERIFY(m->setChannelVoltageSet(1, shownVoltage));
        QVERIFY(m->setChannelCurrentSet(1, shownCurrent));
        QCOMPARE(raw(m->channelItem(1, "VSet")), serverVoltage);
        QCOMPARE(raw(m->channelItem(1, "ISet")), serverCurrent);
    }

    // On and emergency off change only the channels asked for: the mask is read first.
    void switchingKeepsOtherChannels()
    {
        const auto m = module("bus0.module3");
        setRawMask("bus0.module3.On", 0xF);
        QVERIFY(m->setSelectedChannelsOff(0x3));
        QCOMPARE(rawMask("bus0.module3.On"), 0xCu);
        QVERIFY(m->setSelectedChannelsOn(0x10));
        QCOMPARE(rawMask("bus0.module3.On"), 0x1Cu);
        QVERIFY(m->setChannelOff(2));
        QVERIFY(m->setChannelOn(0));
        QCOMPARE(rawMask("bus0.module3.On"), 0x19u);
        QCOMPARE(m->channelControl(3) & 0x8, 0x8u);
        QCOMPARE(m->channelControl(2) & 0x8, 0u);
        QCOMPARE(m->channelStatus(3) & 0x8, 0x8u);
        QVERIFY(m->setChannelVoltageSet(3, 2.0f));
        QCOMPARE(m->channelVoltageMeasure(3), 2.0f);

        setRawMask("bus0.module3.Emcy", 0x1);
        QVERIFY(m->setChannelEmergencyOff(2));
        QCOMPARE(rawMask("bus0.module3.Emcy"), 0x5u);
        QCOMPARE(m->channelControl(2) & 0x20, 0x20u);
        QVERIFY(m->clearChannelEmergencyOff(0));
        QCOMPARE(rawMask("bus0.module3.Emcy"), 0x4u);
        QVERIFY(m->setSelectedChannelsEmergencyOff(0x3));
        QVERIFY(m->clearSelectedChannelsEmergencyOff(0x6));
        QCOMPARE(rawMask("bus0.module3.Emcy"), 0x1u);
        QVERIFY(!m->setChannelOn(12));
    }

    // A measurement module switches off and emergency-off wherever it switches on; set values
    // and adjustment it does not have, its measurements only it has.
    void measurementModule()
    {
        const auto m = module("bus0.module4");
        QVERIFY(m->isMeasurementModule());
        setRawMask("bus0.module4.On", 0);
        setRawMask("bus0.module4.Emcy", 0);
        QVERIFY(m->setSelectedChannelsOn(0x7));
        QVERIFY(m->setSelectedChannelsOff(0x2));
        QCOMPARE(rawMask("bus0.module4.On"), 0x5u);
        QVERIFY(m->setSelectedChannelsEmergencyOff(0x9));
        QCOMPARE(rawMask("bus0.module4.Emcy"), 0x9u);
        QVERIFY(m->clearSelectedChannelsEmergencyOff(0x1));
        QCOMPARE(rawMask("bus0.module4.Emcy"), 0x8u);

        QVERIFY(!m->setChannelVoltageSet(0, 1.0f));
        QCOMPARE(m->lastError(), QStringLiteral("not offered by this module"));
        QVERIFY(!m->setAllChannelsVoltageSet(1.0f));
        QVERIFY(!m->setAdjustment(true));
        QVERIFY(!m->doClear());
        QCOMPARE(m->channelVoltageSet(0), 0.0f);

        QVERIFY(m->setChannelBothMeasurementsEnabled(1, true));
        QCOMPARE(raw("bus0.module4.ch01.setExternalMeas"), 1.0f);
        QCOMPARE(m->channelControl(1), 0x6u);
        QVERIFY(m->setChannelRippleMeasurementEnabled(1, false));
        QCOMPARE(m->channelControl(1), 0x2u);
        QVERIFY(qAbs(m->channelVoltageMeasure(1) - 2.5f) < 1e-4f);
        QVERIFY(!m->setChannelExternalMeasurementEnabled(4, true));
        QVERIFY(!module("bus0.module3")->setChannelExternalMeasurementEnabled(0, true));
        QCOMPARE(raw("bus0.module3.ch00.setExternalMeas"), 0.0f);
    }

    void alarmMessage_data()
    {
        QTest::addColumn<float>("alarms");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << 0.0f << "";
        QTest::newRow("unnamed bit 1") << 2.0f << "";
        QTest::newRow("supply first") << 255.0f << "Supply";
        QTest::newRow("overtemperature before safety loop") << 80.0f << "Overtemperature";
        QTest::newRow("safety loop before inhibit") << 144.0f << "Safety Loop";
        QTest::newRow("inhibit before current trip") << 129.0f << "Inhibit";
        QTest::newRow("current trip before limits") << 13.0f << "Current Trip";
        QTest::newRow("current limit before voltage limit") << 12.0f << "Current Limit";
        QTest::newRow("voltage limit") << 8.0f << "Voltage Limit";
    }
    void alarmMessage()
    {
        QFETCH(float, alarms);
        QFETCH(QString, message);
        const auto m = module("bus0.module3");
        setRaw("bus0.module3.AlarmInformation", alarms);
        QCOMPARE(m->alarmMessage(), message);
    }

    // The delayed trip of channel n is variable group n.
    void delayedTripOnVariableGroups_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("delay");
        QTest::addColumn<quint32>("groupVariable");
        QTest::addColumn<int>("readDelay");
        QTest::newRow("ramp down") << 1 << 500 << ((0x8u << 16) | 0xD1F4u) << 500;
        QTest::newRow("shut down, delay cut to 12 bits") << 2 << 0x1234 << ((0x8u << 16) | 0xE234u) << 0x234;
        QTest::newRow("ignore") << 0 << 100 << 0u << -1;
        QTest::newRow("unknown action") << 5 << 7 << ((0x8u << 16) | 0xC007u) << 7;
    }
    void delayedTripOnVariableGroups()
    {
        QFETCH(int, action);
        QFETCH(int, delay);
        QFETCH(quint32, groupVariable);
        QFETCH(int, readDelay);
        const auto m = module("bus0.module3");
        QVERIFY(m->setChannelDelayedTripAction(3, BaseModule::OutputSupervisionAction(action), delay));
        QCOMPARE(rawMask("bus0.module3.GroupNumber"), 3u);
        QCOMPARE(rawMask("bus0.module3.GroupVariable"), groupVariable);
        QCOMPARE(m->channelDelayedTripEnabled(3), readDelay >= 0);
        QCOMPARE(m->channelDelayedTripRampDown(3), action == 1);
        QCOMPARE(m->channelDelayedTripTime(3), readDelay);
        QCOMPARE(m->flexGroupMemberList(3), groupVariable >> 16);
        QCOMPARE(m->flexGroupType(2), 0u); // another group is another variable
    }

    // A value write counts when the item holds the value afterwards: the server answers the
    // read-back of a value it kept out of range as well, with the old value.
    void valueWritesCountWhenTaken_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("operation");
        QTest::addColumn<float>("value");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("reason"); // empty: taken
        QTest::addColumn<QString>("journaled");
        QTest::newRow("voltage taken") << "bus1.module0" << int(VoltageSet) << 500.0f << true << ""
                                       << "1\tvoltage set\t500 V\twindow\tok";
        QTest::newRow("voltage above nominal")
            << "bus1.module0" << int(VoltageSet) << 99999.0f << true << "not taken (reads back 1000 V)"
            << "1\tvoltage set\t99999 V\twindow\tnot taken (reads back 1000 V)";
        QTest::newRow("voltage in kV above nominal")
            << "bus0.module3" << int(VoltageSet) << 4.5f << true << "not taken (reads back 1 kV)"
            << "1\tvoltage set\t4.5 kV\twindow\tnot taken (reads back 1 kV)";
        QTest::newRow("negative current") << "bus0.module3" << int(CurrentSet) << -1.0f << true
                                          << "not taken (reads back 1.5 mA)"
                                          << "1\tcurrent set\t-1 mA\twindow\tnot taken (reads back 1.5 mA)";
        QTest::newRow("current taken") << "bus0.module3" << int(CurrentSet) << 0.25f << true << ""
                                       << "1\tcurrent set\t0.25 mA\twindow\tok";
        QTest::newRow("all channels above nominal")
            << "bus0.module3" << int(AllVoltages) << 5.0f << true << "not taken (channel 0 reads back 1 kV)"
            << "module\tvoltage set of all channels\t5 kV\twindow\tnot taken (channel 0 reads back 1 kV)";
        QTest::newRow("all channels taken") << "bus0.module3" << int(AllVoltages) << 2.0f << true << ""
                                            << "module\tvoltage set of all channels\t2 kV\twindow\tok";
        QTest::newRow("ramp speed taken") << "bus0.module3" << int(RampSpeed) << 12.5f << true << ""
                                          << "module\tvoltage ramp speed\t12.5 %/s\twindow\tok";
        QTest::newRow("server unreachable") << "bus0.module3" << int(VoltageSet) << 2.0f << false << "no answer"
                                            << "1\tvoltage set\t2 kV\twindow\tno answer";
    }

    void valueWritesCountWhenTaken()
    {
        QFETCH(QString, name);
        QFETCH(int, operation);
        QFETCH(float, value);
        QFETCH(bool, reachable);
        QFETCH(QString, reason);
        const auto m = module(name.toLatin1().constData());
        const float voltageBefore = name == QLatin1String("bus1.module0") ? 1000.0f : 1.0f;
        for (int channel = 0; channel < m->channelNumber(); ++channel) {
            setRaw(m->channelItem(channel, "VSet"), voltageBefore);
            setRaw(m->channelItem(channel, "ISet"), 1.5f);
        }
        setReachable(reachable);
        bool result = false;
        switch (operation) {
        case VoltageSet:
            result = m->setChannelVoltageSet(1, value);
            break;
        case CurrentSet:
            result = m->setChannelCurrentSet(1, value);
            break;
        case AllVoltages:
            result = m->setAllChannelsVoltageSet(value);
            break;
        case RampSpeed:
            result = m->setVoltageRampSpeed(value);
            break;
        }
        QCOMPARE(m->lastError(), reason);
        QCOMPARE(result, reason.isEmpty());
        QTEST(latestJournalLine(*m).section(QLatin1Char('\t'), 4), "journaled");
    }

    // Checked reads and the read-modify-writes built on them: all read now, or nothing given and
    // nothing written.
    void controlWordsAndSettingsNeedAnswers()
    {
        const auto m = module("bus0.module3");
        setRawMask("bus0.module3.On", 0x2);
        setRawMask("bus0.module3.Emcy", 0);
        QVERIFY(m->setKillEnable(true));
        QVERIFY(m->setChannelCurrentSet(1, 1.25f));
        QVERIFY(m->setChannelDelayedTripAction(1, BaseModule::RampDownChannel, 300));

        quint32 word = 0;
        QVERIFY(m->readChannelControl(1, &word));
        QCOMPARE(word, 0x8u);
        QVERIFY(m->readControl(&word));
        QCOMPARE(word & ModuleControlBit::killEnable, ModuleControlBit::killEnable);
        ChannelSettings settings;
        QVERIFY(m->readChannelSettings(1, &settings));
        QCOMPARE(settings.currentSet, 1.25f);
        QCOMPARE(settings.voltageNominal, 4.0f);
        QCOMPARE(settings.currentNominal, 2.0f);
        QVERIFY(settings.delayedTripEnabled && settings.delayedTripRampDown);
        QCOMPARE(settings.delayedTripTimeMs, 300);
        QCOMPARE(settings.control, 0x8u);
        QCOMPARE(settings.voltageUnit + ' ' + settings.currentUnit, QStringLiteral("kV mA"));

        const QString journalBefore = latestJournalLine(*m);
        setReachable(false);
        ChannelSettings untouched;
        untouched.currentSet = -1.0f;
        QVERIFY(!m->readChannelSettings(1, &untouched));
        QCOMPARE(m->lastError(), QStringLiteral("no answer"));
        QCOMPARE(untouched.currentSet, -1.0f);
        QCOMPARE(untouched.voltageUnit, QString());
        word = 0xABCD;
        QVERIFY(!m->readChannelControl(1, &word));
        QVERIFY(!m->readControl(&word));
        QCOMPARE(word, 0xABCDu);
        QVERIFY(!m->updateControl(ModuleControlBit::killEnable, 0));
        QCOMPARE(m->lastError(), QStringLiteral("control word not read (no answer)"));
        QVERIFY(!m->updateChannelControl(1, 0x8, 0));
        QCOMPARE(m->lastError(), QStringLiteral("control word not read (no answer)"));
        QCOMPARE(latestJournalLine(*m), journalBefore);
        setReachable(true);
        QVERIFY(controller()->getBool("bus0.module3.setKillEnable"));
        QCOMPARE(rawMask("bus0.module3.On"), 0x2u);
        QVERIFY(m->setKillEnable(false));
    }

    // A server that does not answer: nothing is written on the strength of a mask read as 0,
    // and the module counts as not connected.
    void unansweredServer()
    {
        const auto m = module("bus0.module3");
        setRawMask("bus0.module3.On", 0x3);
        setRawMask("bus0.module3.Emcy", 0);
        setRaw("bus0.module3.AlarmInformation", 0x20);
        setReachable(false);
        QVERIFY(!m->connected());
        QVERIFY(!m->setSelectedChannelsOn(0x4));
        QVERIFY(!m->lastError().isEmpty());
        QVERIFY(!m->setChannelEmergencyOff(0));
        QVERIFY(!m->setVoltageRampSpeed(3.0f));
        // The refused write is in the journal with its reason (the time and place cut off).
        QCOMPARE(latestJournalLine(*m).section(QLatin1Char('\t'), 4),
            QStringLiteral("module\tvoltage ramp speed\t3 %/s\twindow\tno answer"));
        QCOMPARE(m->alarmMessage(), QString());
        const QVector<ChannelReading> readings = m->readChannels();
        QCOMPARE(readings.size(), 12);
        QVERIFY(std::none_of(readings.begin(), readings.end(), [](const ChannelReading& r) { return r.complete; }));
        QVERIFY(!m->readModuleValues(true, true).statusValid);
        setReachable(true);
        QCOMPARE(rawMask("bus0.module3.On"), 0x3u);
        QCOMPARE(rawMask("bus0.module3.Emcy") & 0x1, 0u);
        const QVector<ChannelReading> answered = m->readChannels();
        QVERIFY(std::all_of(answered.begin(), answered.end(), [](const ChannelReading& r) { return r.complete; }));
        QCOMPARE(answered.at(1).control & 0x8, 0x8u);
    }

    // The session's poller reads OPC modules through the default per-channel reads on its own
    // thread while commands switch channels from this one.
    void sessionPollsWhileCommandsSwitch()
    {
        DeviceSession session(std::make_unique<OpcControllerFactory>());
        QVERIFY(session.connectTo(QStringLiteral("opc")));
        QCOMPARE(session.modules().size(), 3);
        QCOMPARE(session.crates().size(), 1);
        session.setNeeds(this, Poller::CurrentModuleChannels | Poller::CurrentModuleValues | Poller::CrateValues);
        BaseModule* m = session.currentModule();
        setRawMask("bus0.module3.On", 0);
        for (int i = 0; i < 50; ++i) {
            QVERIFY(m->setChannelOn(i % 12));
            QVERIFY(m->setChannelOff(i % 12));
        }
        QVERIFY(m->setSelectedChannelsOn(0x800));
        session.poller()->refreshNow(0);
        const auto switchedOn = [&] {
            const auto snapshot = session.poller()->moduleSnapshot(0);
            return snapshot && snapshot->channels.size() == 12 && snapshot->channels.at(11).complete
                && (snapshot->channels.at(11).control & 0x8) && !(snapshot->channels.at(10).control & 0x8);
        };
        QTRY_VERIFY_WITH_TIMEOUT(switchedOn(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(session.poller()->crateSnapshot() && session.poller()->crateSnapshot()->crate.valid, 3000);
        QCOMPARE(session.poller()->crateSnapshot()->connectionInfo, QStringLiteral("Connected to Tesmar OPC Server."));
        QCOMPARE(session.poller()->crateSnapshot()->busStatus,
            (BusStatus{BusStatus::State::Ok, QStringLiteral("Bus status: OK")}));
        session.setNeeds(this, {});
    }

    void crate()
    {
        OpcControllerFactory factory;
        QCOMPARE(OpcControllerFactory::crateItemName(controller()->moduleList()), QStringLiteral("bus0.crate"));
        QCOMPARE(OpcControllerFactory::crateItemName({}), QStringLiteral("bus0.crate"));
        OpcCrate crate(controller(), QStringLiteral("bus0.crate"));
        QCOMPARE(crate.prefix(), QStringLiteral("bus0.crate."));
        setRaw("bus0.crate.Supply5V", 5.25f);
        QCOMPARE(crate.supply5V(), 5.25f);
        QCOMPARE(crate.serialNumber(), 0); // "X-5300"
        QCOMPARE(crate.firmwareRelease(), QStringLiteral("01.10"));
        QVERIFY(crate.read().valid);
        QVERIFY(crate.setPowerOn(false));
        QVERIFY(!crate.powerOn());
        QCOMPARE(rawMask("bus0.module3.On"), 0u);
        QVERIFY(crate.setPowerOn(true));
        bool on = false;
        QVERIFY(crate.readPowerOn(&on) && on);
        QVERIFY(!crate.setFanSpeed(1200));
        QCOMPARE(crate.lastError(), QStringLiteral("not offered by this crate"));
        setReachable(false);
        QVERIFY(!crate.read().valid);
        QVERIFY(crate.lastReadFailed());
        QVERIFY(!crate.readPowerOn(&on));
        QVERIFY(on);
        QCOMPARE(crate.lastError(), QStringLiteral("no answer"));
        // A switch-off that did not reach the crate is no switch-off, and the journal says so.
        QVERIFY(!crate.setPowerOn(false));
        QCOMPARE(crate.lastError(), QStringLiteral("no answer"));
        const QStringList lines =
            JournalLines::writes(WriteJournal::instance().latestLines(100).filter(QStringLiteral("\tcrate\tmain switch\t")));
        QCOMPARE(lines.value(lines.size() - 1).section(QLatin1Char('\t'), 5),
            QStringLiteral("main switch\toff\twindow\tno answer"));
    }
};

QTEST_GUILESS_MAIN(TestOpcModule)
#include "tst_opcmodule.moc"
