// Device model pieces that need no crate: bit moves, bit names, device classes, units and
// number formatting, system description parsing.
#include "common/MemoryModule.h"
#include "controller/SnmpController.h"
#include "device/ModuleTypes.h"
#include "device/SnmpCrate.h"
#include "device/SnmpModule.h"
#include "device/TbusChannelStatusBits.h"
#include "device/TbusModuleStatusBits.h"

#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <memory>

class TestDeviceModel : public QObject
{
    Q_OBJECT

private:
    // A module of an unopened controller: no crate, no channels; enough for units and formatting.
    std::unique_ptr<SnmpModule> unconnectedModule() { return std::make_unique<SnmpModule>(m_controller.get(), 0); }

    std::unique_ptr<SnmpController> m_controller;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .clear();
        m_controller = std::make_unique<SnmpController>();
        QVERIFY(m_controller->isLibraryReady());
    }

    void cleanupTestCase() { m_controller.reset(); }

    void channelStatusBitMoves_data()
    {
        QTest::addColumn<int>("libraryBit");
        QTest::addColumn<quint32>("statusWord");
        const struct
        {
            int from;
            quint32 to;
        } moves[] = {
            {7, 1u << 3},
            {11, 1u << 4},
            {12, 1u << 4},
            {9, 1u << 5},
            {13, 1u << 6},
            {23, 1u << 7},
            {21, 1u << 10},
            {22, 1u << 11},
            {6, 1u << 12},
            {2, 1u << 13},
            {20, 1u << 14},
            {3, 1u << 15},
        };
        for (const auto& move : moves)
            QTest::addRow("library bit %d", move.from) << move.from << move.to;
        for (int bit : {0, 1, 4, 5, 8, 10, 14, 15, 16, 17, 18, 19, 24, 31})
            QTest::addRow("library bit %d unused", bit) << bit << 0u;
    }

    void channelStatusBitMoves()
    {
        QFETCH(int, libraryBit);
        QTEST(SnmpModule::channelStatusFromLibrary(1u << libraryBit), "statusWord");
    }

    void moduleStatusBitMoves_data()
    {
        QTest::addColumn<int>("libraryBit");
        QTest::addColumn<quint32>("statusWord");
        QTest::addColumn<quint32>("eventWord");
        const struct
        {
            int from;
            quint32 status;
            quint32 event;
        } moves[] = {
            {7, 1u << 0, 0},
            {5, 1u << 2, 1u << 2},
            {3, 1u << 4, 1u << 4},
            {1, 1u << 5, 1u << 5},
            {15, 1u << 8, 0},
            {14, 1u << 9, 0},
            {13, 1u << 10, 1u << 10},
            {12, 1u << 11, 0},
            {11, 1u << 12, 0},
            {10, 1u << 13, 1u << 13},
            {9, 1u << 14, 1u << 14},
            {8, 1u << 15, 0},
            {0, 0, 0},
            {2, 0, 0},
            {4, 0, 0},
            {6, 0, 0},
            {16, 0, 0},
            {23, 0, 0},
        };
        for (const auto& move : moves)
            QTest::addRow("library bit %d", move.from) << move.from << move.status << move.event;
    }

    void moduleStatusBitMoves()
    {
        QFETCH(int, libraryBit);
        QTEST(SnmpModule::moduleStatusFromLibrary(1u << libraryBit), "statusWord");
        QTEST(SnmpModule::moduleEventStatusFromLibrary(1u << libraryBit), "eventWord");
    }

    void switchValuesAndControlWords_data()
    {
        QTest::addColumn<bool>("measurement");
        QTest::addColumn<int>("switchValue");
        QTest::addColumn<quint32>("control");
        QTest::newRow("off") << false << 0 << 0u;
        QTest::newRow("on") << false << 1 << 0x8u;
        QTest::newRow("emergency off") << false << 3 << 0x20u;
        QTest::newRow("measurements off") << true << 20 << 0u;
        QTest::newRow("external") << true << 21 << 0x2u;
        QTest::newRow("ripple") << true << 22 << 0x4u;
        QTest::newRow("both") << true << 23 << 0x6u;
    }

    void switchValuesAndControlWords()
    {
        QFETCH(bool, measurement);
        QFETCH(int, switchValue);
        QFETCH(quint32, control);
        QCOMPARE(SnmpModule::channelControlFromSwitch(switchValue, measurement), control);
        QCOMPARE(SnmpModule::switchFromChannelControl(control, measurement), switchValue);
    }

    void moduleBitNames_data()
    {
        QTest::addColumn<quint32>("word");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("eventStatus");
        QTest::addColumn<QString>("control");
        QTest::newRow("none") << 0u << ""
                              << ""
                              << "";
        QTest::newRow("bit 0") << 0x0001u << "isADJ"
                               << "res"
                               << "res";
        QTest::newRow("bit 5") << 0x0020u << "0"
                               << "res"
                               << "res";
        QTest::newRow("bits 0, 15") << 0x8001u << "isADJ,isKILena"
                                    << "res,res"
                                    << "res,res";
        QTest::newRow("service") << 0x0010u << "isSrvc"
                                 << "ESrvc"
                                 << "res";
        QTest::newRow("clear and kill") << 0x4040u << "res,isTMPgd"
                                        << "res,ETMPngd"
                                        << "doCLEAR,setKILena";
        QTest::newRow("above bit 15") << 0xFFFF0000u << ""
                                      << ""
                                      << "";
    }

    void moduleBitNames()
    {
        QFETCH(quint32, word);
        TbusModuleStatusBits names;
        QTEST(names.statusText(word), "status");
        QTEST(names.eventStatusText(word), "eventStatus");
        QTEST(names.controlText(word), "control");
        QCOMPARE(names.statusNames(word).size(), qPopulationCount(word & 0xFFFF));
    }

    void serviceEventSitsWhereTheBitMoveputsIt()
    {
        // The crate's "needs service" event arrives at event bit 4; its name must be there too.
        TbusModuleStatusBits names;
        const quint32 event = SnmpModule::moduleEventStatusFromLibrary(1u << 3);
        QCOMPARE(names.eventStatusText(event), QStringLiteral("ESrvc"));
        QCOMPARE(names.eventMaskText(event), QStringLiteral("MESrvc"));
    }

    void channelBitNames()
    {
        TbusChannelStatusBits names;
        QCOMPARE(names.statusText(0), QString());
        QCOMPARE(names.statusText(0x0028), QStringLiteral("isON,isEMCY"));
        QCOMPARE(names.statusText(0xFFFF).split(QLatin1Char(',')).size(), 16);
        QCOMPARE(names.eventStatusText(0x2000), QStringLiteral("ETRIP"));
        QCOMPARE(names.controlText(0x0C28), QStringLiteral("setON,setEMCY,setACBND,setAVBND"));
        QCOMPARE(names.controlNames(0x10000), QStringList());
    }

    void deviceClassTable()
    {
        QCOMPARE(ModuleTypes::tableSize(), 24);
        QSet<int> classes;
        for (int i = 0; i < ModuleTypes::tableSize(); ++i) {
            const ModuleTypes::DeviceClassEntry& entry = ModuleTypes::table()[i];
            classes.insert(entry.deviceClass);
            QCOMPARE(QString::fromLatin1(entry.name).size(), 8);
            QCOMPARE(ModuleTypes::deviceClassOf(QLatin1String(entry.name)), entry.deviceClass);
        }
        QCOMPARE(classes,
            (QSet<int>{20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 35, 36, 37, 38, 39, 40, 41, 60, 70, 90}));
        QCOMPARE(ModuleTypes::deviceClassOf(QLatin1String(ModuleTypes::measurement)), 90);
        QCOMPARE(ModuleTypes::deviceClassOf(QLatin1String(ModuleTypes::bipolar)), 41);
        QCOMPARE(ModuleTypes::nameOf(21), QStringLiteral("THB1620n"));
        QCOMPARE(ModuleTypes::deviceClassOf(QStringLiteral("THB1620p")), 21);
        QCOMPARE(ModuleTypes::deviceClassOf(QStringLiteral("the1640p")), -1);
        QCOMPARE(ModuleTypes::deviceClassOf(QString()), -1);
    }

    void firmwareNameFromDeviceClass()
    {
        auto m = unconnectedModule();
        m->setDeviceClass(QStringLiteral("THK0840p"));
        QCOMPARE(m->deviceClass(), 28);
        QCOMPARE(m->firmwareName(), QString()); // setDeviceClass leaves the name alone
        m->setFirmwareName(0);
        QCOMPARE(m->firmwareName(), QString());
        m->setFirmwareName(99);
        QCOMPARE(m->firmwareName(), QStringLiteral("Device Class 99"));
        m->setFirmwareName(24);
        QCOMPARE(m->firmwareName(), QStringLiteral("Device Class 99"));
        QCOMPARE(m->deviceClass(), 28);

        auto other = unconnectedModule();
        other->setFirmwareName(21);
        QCOMPARE(other->firmwareName(), QStringLiteral("THB1620n"));
        other->setDeviceClass(QStringLiteral("nothing"));
        QCOMPARE(other->deviceClass(), -1);
    }

    void units_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nA") << "nA"
                            << "nA";
        QTest::newRow("uA") << "uA" << QString(QChar(0xB5)) + "A";
        QTest::newRow("micro sign") << QString(QChar(0xB5)) + "A" << QString(QChar(0xB5)) + "A";
        QTest::newRow("mA") << "mA"
                            << "mA";
        QTest::newRow("A") << "A"
                           << "A";
        QTest::newRow("unknown is A") << "kA"
                                      << "A";
    }

    void units()
    {
        QFETCH(QString, unit);
        auto m = unconnectedModule();
        m->setCurrentUnit(unit);
        QTEST(m->currentUnit(0), "shown");
    }

    void voltageUnitIsCaseSensitive()
    {
        auto m = unconnectedModule();
        m->setVoltageUnit(QStringLiteral("kV"));
        QCOMPARE(m->voltageUnit(0), QStringLiteral("kV"));
        m->setVoltageUnit(QStringLiteral("KV"));
        QCOMPARE(m->voltageUnit(0), QStringLiteral("V"));
    }

    void formatting()
    {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        auto m = unconnectedModule();
        m->setVoltageUnit(QStringLiteral("V"));
        m->setVoltagePrecision(1);
        QCOMPARE(m->formatVoltageUnit(1234.5), QStringLiteral("1,234.5 V"));
        QCOMPARE(m->formatVoltage(12.5), QStringLiteral("12.5"));
        m->setCurrentUnit(QStringLiteral("uA"));
        m->setCurrentPrecision(3);
        QCOMPARE(m->formatCurrentUnit(0.25), QStringLiteral("0.250 ") + BaseModule::microAmpereUnit());
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(m->formatVoltageUnit(1234.5), QStringLiteral("1.234,5 V"));
        QLocale::setDefault(previous);
    }

    void defaultsWithoutResolutionSettings()
    {
        auto m = unconnectedModule();
        QCOMPARE(m->voltageUnit(0), QStringLiteral("V"));
        QCOMPARE(m->voltagePrecision(), 2);
        QCOMPARE(m->currentUnit(0), QStringLiteral("mA"));
        QCOMPARE(m->currentPrecision(), 2);
        QCOMPARE(m->channelNumber(), 0);
        QVERIFY(!m->connected());
        QCOMPARE(m->temperature(), m->temperature(0));
    }

    void systemDescription_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("release");
        QTest::addColumn<int>("serial");
        QTest::newRow("full") << "WIENER MPOD (4711, MPOD 1.2.3.4, MPODslave 1.09, MPOD-BL 1.50)"
                              << "MPOD 1.2.3.4" << 4711;
        QTest::newRow("release first") << "MPOD 1.2.3.4 (4711, x)"
                                       << "MPOD 1.2.3.4" << 4711;
        QTest::newRow("no parenthesis") << "WIENER MPOD 2.1.9.0 4711,"
                                        << "MPOD 2.1.9.0" << 0;
        QTest::newRow("no comma after digits") << "MPOD (4711) MPOD 1.2"
                                               << "" << 0;
        QTest::newRow("empty") << ""
                               << "" << 0;
        QTest::newRow("lower case") << "mpod 1.2.3.4 (12,"
                                    << "" << 12;
    }

    void systemDescription()
    {
        QFETCH(QString, description);
        const SnmpCrate::Identity identity = SnmpCrate::parseSystemDescription(description);
        QTEST(identity.firmwareRelease, "release");
        QTEST(identity.serialNumber, "serial");
    }

    void closedControllerAnswersSafely()
    {
        QVERIFY(!m_controller->isConnected());
        QVERIFY(!m_controller->setIpAddress(QStringLiteral("10.0.0.1"))); // no handle: nothing sent
        QCOMPARE(m_controller->className(), QStringLiteral("SnmpController"));
        QVERIFY(m_controller->stringList().isEmpty());
        QCOMPARE(m_controller->errorString(), QStringLiteral("not connected"));
        QCOMPARE(SnmpController::channelIndex(3, 5), 305);
    }

    // Modules without block reads (VME, OPC) are refreshed through the per-channel operations: a
    // module that stops answering must give incomplete readings, never zeros as values.
    void defaultReadsMarkASilentModule()
    {
        MemoryModule m(3);
        MemoryModule::Channel c;
        c.voltageSet = 500;
        c.voltageMeasure = 499.5f;
        m.setChannel(2, c);
        m.state.status = 0x1234;
        QVector<ChannelReading> readings = m.readChannels();
        QCOMPARE(readings.size(), 3);
        QVERIFY(readings[2].complete);
        QCOMPARE(readings[2].voltageMeasure, 499.5f);
        QVERIFY(m.readModuleValues(true, true).statusValid);
        QCOMPARE(m.readModuleValues(false, false).status, 0x1234u);

        m.setAnswering(false);
        readings = m.readChannels();
        QVERIFY(!readings[0].complete && !readings[2].complete);
        const ModuleReading values = m.readModuleValues(true, true);
        QVERIFY(!values.statusValid && !values.temperaturesValid && !values.suppliesValid);
        QVERIFY(!m.setChannelVoltageSet(0, 100));
        QCOMPARE(m.lastError(), QStringLiteral("no answer"));
    }

    // The one read-modify-write of a control word: the word read now, `clear` bits cleared and
    // `set` bits set, sent through the normal setter; from a read that failed nothing is sent.
    void controlWordUpdates_data()
    {
        QTest::addColumn<bool>("module"); // the module word, else channel 1's
        QTest::addColumn<quint32>("clearBits");
        QTest::addColumn<quint32>("setBits");
        QTest::addColumn<bool>("readsFail");
        QTest::addColumn<QString>("written"); // empty: nothing written
        QTest::addColumn<QString>("reason");
        // Both words start as 0x4408 (kill enable, bit 10, on).
        QTest::newRow("channel: set a bit") << false << 0u << 0x0020u << false << "setChannelControl(1, 17448)"
                                            << "";
        QTest::newRow("channel: clear a bit") << false << 0x0008u << 0u << false << "setChannelControl(1, 17408)"
                                              << "";
        QTest::newRow("channel: clear and set the same bit") << false << 0x0400u << 0x0400u << false << ""
                                                             << "";
        // A word that would not change is not sent (no command repeated, nothing journaled).
        QTest::newRow("channel: bit already set") << false << 0u << 0x0008u << false << ""
                                                  << "";
        QTest::newRow("module: bit already clear") << true << 0x0004u << 0u << false << ""
                                                   << "";
        QTest::newRow("channel: read fails") << false << 0x0008u << 0u << true << ""
                                             << "control word not read (no answer)";
        QTest::newRow("module: clear stop, set clear events") << true << 0x0004u << 0x0040u << false << "setControl(17480)"
                                                              << "";
        QTest::newRow("module: read fails") << true << 0x0004u << 0x0040u << true << ""
                                            << "control word not read (no answer)";
    }

    void controlWordUpdates()
    {
        QFETCH(bool, module);
        QFETCH(quint32, clearBits);
        QFETCH(quint32, setBits);
        QFETCH(bool, readsFail);
        QFETCH(QString, written);
        QFETCH(QString, reason);
        MemoryModule m(3);
        MemoryModule::Channel c;
        c.control = 0x4408;
        m.setChannel(1, c);
        m.state.control = 0x4408;
        m.setReadsFail(readsFail);
        quint32 sent = 0xFFFFFFFF;
        const bool ok =
            module ? m.updateControl(clearBits, setBits, &sent) : m.updateChannelControl(1, clearBits, setBits, &sent);
        QCOMPARE(ok, reason.isEmpty());
        QCOMPARE(m.lastError(), reason);
        QCOMPARE(m.writes(), written.isEmpty() ? QStringList() : QStringList{written});
        QCOMPARE(sent, ok ? (0x4408u & ~clearBits) | setBits : 0xFFFFFFFFu);
        // A failed read is not a state: the getters read 0, the module is not connected.
        QCOMPARE(m.connected(), !readsFail);
    }
};

QTEST_GUILESS_MAIN(TestDeviceModel)
#include "tst_devicemodel.moc"
