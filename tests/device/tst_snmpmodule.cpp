// The SNMP module and crate end to end: our library against the crate simulator.
#include "CrateFixture.h"

#include "common/JournalLines.h"
#include "controller/SnmpController.h"
#include "device/Resolution.h"
#include "device/SnmpCrate.h"
#include "device/SnmpModule.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <memory>
#include <thread>

namespace {

const char* const modulesJson = R"([
    {"slot": 2, "type": "THE1640p", "serialNumber": 4712002},
    {"slot": 4, "type": "THB1620n", "serialNumber": 4712004},
    {"slot": 7, "type": "TMM0800m", "serialNumber": 4712007},
    {"slot": 9, "type": "THM4805p", "serialNumber": 4712009}
])";

enum WriteOperation { VoltageSet100, VoltageSet99999, CurrentSet1A, CurrentSet1mA, RestartTime, VoltageInterlock };

// Operations that change part of a word the crate holds.
enum PartialWrite { ChannelControlOn, ModuleControlKill, InhibitAction, TripAction, AllInhibitActions, AllTripActions };

bool near(double a, double b, double relative = 1e-5)
{
    return std::fabs(a - b) <= relative * std::max(std::fabs(a), std::fabs(b)) + 1e-12;
}

} // namespace

class TestSnmpModule : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SnmpModule> module(int slot) { return std::make_unique<SnmpModule>(m_crate->controller(), slot); }
    SnmpController* controller() { return m_crate->controller(); }

    std::unique_ptr<CrateFixture> m_crate;

    // Status words the crate itself produces come from a crate of their own: its inhibit
    // inputs, loads and time scale are changed through the simulator's control channel.
    std::unique_ptr<CrateFixture> m_statusCrate;
    std::unique_ptr<SnmpModule> m_statusModule;
    static constexpr int statusSlot = 1;
    static constexpr quint32 on = 0x0008;
    static constexpr quint32 ramping = 0x0010;
    static constexpr quint32 constantCurrent = 0x0040;
    static constexpr quint32 externalInhibit = 0x1000;
    static constexpr quint32 currentTrip = 0x2000;
    static constexpr quint32 eventBits = 0xD0E0;

    SnmpModule* startStatusCrate()
    {
        // 8 channels of 4000 V and 2 mA, ramping at 5 % = 200 V/s, every load 10 MOhm.
        m_statusCrate = std::make_unique<CrateFixture>(
            QStringLiteral(R"([{"slot": %1, "type": "THE1640p", "channels": 8, "serialNumber": 4713001}])").arg(statusSlot));
        QString error;
        if (!m_statusCrate->start(&error)) {
            qWarning("%s", qPrintable(error));
            return nullptr;
        }
        m_statusModule = std::make_unique<SnmpModule>(m_statusCrate->controller(), statusSlot);
        m_statusModule->setVoltageUnit(QStringLiteral("V"));
        if (!simulatorCommand(QStringLiteral("noise off")))
            return nullptr;
        return m_statusModule.get();
    }

    bool simulatorCommand(const QString& line)
    {
        QString answer;
        if (m_statusCrate->simulator().command(line, &answer))
            return true;
        qWarning("%s -> %s", qPrintable(line), qPrintable(answer));
        return false;
    }

    // Writes journaled for the crate at `address` since the journal had `bytes` bytes, each a
    // "sent" line and its result (JournalLines), without their time (other test programs may write
    // into the same journal).
    static QStringList journalSince(qint64 bytes, const QString& address)
    {
        QFile journal(WriteJournal::instance().filePath());
        if (!journal.open(QIODevice::ReadOnly))
            return {};
        journal.seek(bytes);
        QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines = JournalLines::writes(
            lines.filter(QLatin1Char('\t') + JournalWrite::snmpCrateAddress(address) + QLatin1Char('\t')));
        for (QString& line : lines)
            line = line.section(QLatin1Char('\t'), 4);
        return lines;
    }
    static qint64 journalBytes() { return QFileInfo(WriteJournal::instance().filePath()).size(); }

    // Switch, supervision behaviour and trip time of every channel of the status crate's module,
    // read straight through the library; false while the crate does not answer them all.
    bool crateWords(QList<int>* words)
    {
        SnmpController* c = m_statusCrate->controller();
        words->clear();
        for (int channel = 0; channel < 8; ++channel) {
            const int index = SnmpController::channelIndex(statusSlot, channel);
            for (auto entry : {&SnmpController::getChannelSwitch, &SnmpController::getOutputSupervisionBehavior,
                     &SnmpController::getOutputTripTimeMaxCurrent}) {
                *words << c->call(entry, index);
                if (!c->errorString().isEmpty())
                    return false;
            }
        }
        return true;
    }

    // The status word as read now: channel 0 refreshes the module's block of status words.
    static quint32 statusOf(SnmpModule* m, int channel)
    {
        m->channelStatus(0);
        return m->channelStatus(channel);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .clear();
        m_crate = std::make_unique<CrateFixture>(QLatin1String(modulesJson));
        QString error;
        QVERIFY2(m_crate->start(&error), qPrintable(error));
    }

    void cleanup()
    {
        m_statusModule.reset();
        m_statusCrate.reset();
    }

    void cleanupTestCase()
    {
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"))
            .clear();
        m_crate.reset();
    }

    void discoverySeesOnlyOccupiedSlots()
    {
        QList<int> occupied;
        for (int slot = 0; slot < 10; ++slot) {
            const char* text = controller()->call(&SnmpController::getModuleDescription, slot);
            if (text && *text)
                occupied << slot;
        }
        QCOMPARE(occupied, (QList<int>{2, 4, 7, 9}));
    }

    void moduleIdentity_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("firmwareName");
        QTest::addColumn<int>("deviceClass");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("serialNumber");
        QTest::addColumn<bool>("currentControl");
        QTest::newRow("slot 2") << 2 << "THE1640p" << 24 << 16 << 4712002 << true;
        QTest::newRow("slot 4, no current control") << 4 << "THB1620n" << 21 << 16 << 4712004 << false;
        QTest::newRow("slot 7, measurement") << 7 << "TMM0800m" << 90 << 8 << 4712007 << true;
    }

    void moduleIdentity()
    {
        QFETCH(int, slot);
        auto m = module(slot);
        QFETCH(QString, firmwareName);
        QCOMPARE(m->firmwareName(), firmwareName);
        QTEST(m->deviceClass(), "deviceClass");
        QTEST(m->channelNumber(), "channels");
        QTEST(m->serialNumber(), "serialNumber");
        QTEST(m->currentControl(), "currentControl");
        QCOMPARE(m->firmwareRelease(), QStringLiteral("01.23"));
        QCOMPARE(m->address(), QStringLiteral("Slot %1").arg(slot));
        QVERIFY(m->connected());
    }

    void emptySlotGivesModuleWithoutChannels()
    {
        auto m = module(5);
        QCOMPARE(m->channelNumber(), 0);
        QVERIFY(!m->connected());
        QCOMPARE(m->channelVoltageSet(0), 0.0f);
    }

    void slotTwoUsesChannelIndexesFrom200()
    {
        auto m = module(2);
        m->setVoltageUnit(QStringLiteral("V"));
        m->setChannelVoltageSet(0, 101.0f);
        m->setChannelVoltageSet(15, 115.0f);
        QCOMPARE(controller()->call(&SnmpController::getOutputVoltage, 200), 101.0);
        QCOMPARE(controller()->call(&SnmpController::getOutputVoltage, 215), 115.0);
        // Channel 0 fetches all channels; the others answer from that read.
        QCOMPARE(m->channelVoltageSet(0), 101.0f);
        QCOMPARE(m->channelVoltageSet(15), 115.0f);
        // A channel outside the module neither writes nor reads.
        m->setChannelVoltageSet(16, 116.0f);
        QCOMPARE(controller()->call(&SnmpController::getOutputVoltage, 216), 0.0);
        QCOMPARE(m->channelVoltageSet(16), 0.0f);
        QCOMPARE(m->channelVoltageSet(-1), 0.0f);
    }

    void unitConversions_data()
    {
        QTest::addColumn<QString>("voltageUnit");
        QTest::addColumn<float>("displayVoltage");
        QTest::addColumn<double>("volts");
        QTest::addColumn<QString>("currentUnit");
        QTest::addColumn<float>("displayCurrent");
        QTest::addColumn<double>("amperes");
        QTest::newRow("kV, uA") << "kV" << 1.5f << 1500.0 << "uA" << 10.0f << 1.0e-5;
        QTest::newRow("V, nA") << "V" << 250.0f << 250.0 << "nA" << 500.0f << 5.0e-7;
        QTest::newRow("V, mA") << "V" << 12.5f << 12.5 << "mA" << 1.5f << 1.5e-3;
        QTest::newRow("kV, A") << "kV" << 2.5f << 2500.0 << "A" << 0.001f << 1.0e-3;
    }

    void unitConversions()
    {
        QFETCH(QString, voltageUnit);
        QFETCH(float, displayVoltage);
        QFETCH(double, volts);
        QFETCH(QString, currentUnit);
        QFETCH(float, displayCurrent);
        QFETCH(double, amperes);
        auto m = module(2);
        m->setVoltageUnit(voltageUnit);
        m->setCurrentUnit(currentUnit);

        m->setChannelVoltageSet(1, displayVoltage);
        m->setChannelCurrentSet(1, displayCurrent);
        QVERIFY(near(controller()->call(&SnmpController::getOutputVoltage, 201), volts));
        QVERIFY(near(controller()->call(&SnmpController::getOutputCurrent, 201), amperes));

        m->channelVoltageSet(0);
        m->channelCurrentSet(0);
        QVERIFY(near(m->channelVoltageSet(1), displayVoltage));
        QVERIFY(near(m->channelCurrentSet(1), displayCurrent));
        // Nominal values of a 4 kV / 2 mA module in the display units.
        QVERIFY(near(m->channelVoltageNominal(0), voltageUnit == QLatin1String("kV") ? 4.0 : 4000.0));
        QVERIFY(near(m->channelCurrentNominal(0),
            2.0e-3 / BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(currentUnit))));
    }

    void allChannelsAtOnce()
    {
        auto m = module(2);
        m->setVoltageUnit(QStringLiteral("kV"));
        m->setAllChannelsVoltageSet(0.2f);
        m->setCurrentUnit(QStringLiteral("mA"));
        m->setAllChannelsCurrentSet(0.5f);
        for (int channel = 0; channel < 16; ++channel) {
            QCOMPARE(controller()->call(&SnmpController::getOutputVoltage, 200 + channel), 200.0);
            QVERIFY(near(controller()->call(&SnmpController::getOutputCurrent, 200 + channel), 0.5e-3));
        }
    }

    void setCurrentBeforeAnyReadIsZero()
    {
        auto m = module(2);
        m->setChannelCurrentSet(3, 1.0f);
        QCOMPARE(m->channelCurrentSet(3), 0.0f);
    }

    void channelControlWords_data()
    {
        QTest::addColumn<quint32>("control");
        QTest::addColumn<quint32>("statusBits");
        QTest::addColumn<quint32>("controlBack");
        QTest::newRow("on") << quint32(0x0008) << quint32(0x0008) << quint32(0x0008);
        QTest::newRow("on and emergency off: emergency off wins") << quint32(0x0028) << quint32(0x0020) << quint32(0x0020);
        QTest::newRow("off") << quint32(0) << quint32(0) << quint32(0);
        QTest::newRow("high bits ignored") << quint32(0x10000) << quint32(0) << quint32(0);
    }

    void channelControlWords()
    {
        QFETCH(quint32, control);
        QFETCH(quint32, statusBits);
        auto m = module(2);
        m->setChannelControl(4, 0); // start from a switched-off channel without emergency off
        m->clearChannelEmergencyOff(4);
        m->setChannelControl(4, control);
        const quint32 onAndEmergency = 0x0028;
        QTRY_COMPARE_WITH_TIMEOUT((m->channelStatus(0), m->channelStatus(4) & onAndEmergency), statusBits, 5000);
        m->channelControl(0);
        QTEST(m->channelControl(4), "controlBack");
        m->clearChannelEmergencyOff(4);
        m->setChannelOff(4);
    }

    void selectedChannelsFollowTheMask()
    {
        auto m = module(2);
        m->setSelectedChannelsOff(0xFFFF);
        m->setSelectedChannelsOn(0b101);
        QTRY_VERIFY_WITH_TIMEOUT((m->channelStatus(0) & 0x8) && (m->channelStatus(2) & 0x8), 5000);
        QCOMPARE(m->channelStatus(1) & 0x8u, 0u);
        m->channelControl(0);
        QCOMPARE(m->channelControl(1), 0u);
        QCOMPARE(m->channelControl(2), 0x8u);
        m->setSelectedChannelsEmergencyOff(0b100);
        QTRY_VERIFY_WITH_TIMEOUT((m->channelStatus(0), m->channelStatus(2) & 0x20), 5000);
        QVERIFY(m->channelEventStatus(2) & 0x20); // the emergency-off bit shows as event too
        m->clearSelectedChannelsEmergencyOff(0b100);
        QTRY_VERIFY_WITH_TIMEOUT((m->channelStatus(0), !(m->channelStatus(2) & 0x20)), 5000);
        m->setSelectedChannelsOff(0xFFFF);
    }

    // A switch command for several channels: every channel's write is journaled with its own
    // result, the one channel the crate refuses is refused with its reason while the others of
    // the same request are switched, a channel the module lacks is named without anything sent,
    // and a silent crate gives every channel "no answer".
    void switchChannelsTogether()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        QVERIFY(simulatorCommand(QStringLiteral("brokenswitch %1 3 on").arg(statusSlot)));
        const QString address = m_statusCrate->controller()->address();
        qint64 bytes = journalBytes();
        const QStringList reasons = m->switchChannels({0, 1, 3, 4, 9}, BaseModule::SwitchAction::On);
        QCOMPARE(reasons,
            QStringList({QString(), QString(), QStringLiteral("resourceUnavailable"), QString(),
                QStringLiteral("no channel 9 in this module")}));
        QCOMPARE(m->lastError(), QStringLiteral("resourceUnavailable"));
        QCOMPARE(journalSince(bytes, address),
            QStringList({QStringLiteral("0\tswitch\ton\twindow\tok"), QStringLiteral("1\tswitch\ton\twindow\tok"),
                QStringLiteral("3\tswitch\ton\twindow\tresourceUnavailable"), QStringLiteral("4\tswitch\ton\twindow\tok")}));
        QList<int> words;
        QVERIFY(crateWords(&words));
        for (int channel = 0; channel < 8; ++channel)
            QCOMPARE(words.at(3 * channel), channel == 0 || channel == 1 || channel == 4 ? 1 : 0);

        QCOMPARE(m->switchChannels({0, 4}, BaseModule::SwitchAction::Off), QStringList({QString(), QString()}));
        QCOMPARE(m->lastError(), QString());

        QVERIFY(simulatorCommand(QStringLiteral("silent on")));
        bytes = journalBytes();
        QCOMPARE(m->switchChannels({1, 2}, BaseModule::SwitchAction::EmergencyOff),
            QStringList({QStringLiteral("no answer"), QStringLiteral("no answer")}));
        QCOMPARE(journalSince(bytes, address),
            QStringList({QStringLiteral("1\tswitch\temergency off\twindow\tno answer"),
                QStringLiteral("2\tswitch\temergency off\twindow\tno answer")}));
        QVERIFY(simulatorCommand(QStringLiteral("silent off")));
    }

    // Set values for several channels in one request: each channel taken or refused on its own
    // (a value above the nominal one is the crate's wrongValue for every channel), the values in
    // the module's display units, every write journaled per channel, a silent crate refused.
    void setChannelsValueTogether()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        const QString address = m_statusCrate->controller()->address();
        m->setCurrentUnit(QStringLiteral("mA"));
        qint64 bytes = journalBytes();
        QCOMPARE(m->setChannelsValue({0, 2, 9}, BaseModule::SetQuantity::Voltage, 1500.0f),
            QStringList({QString(), QString(), QStringLiteral("no channel 9 in this module")}));
        QCOMPARE(m->setChannelsValue({1, 3}, BaseModule::SetQuantity::Current, 0.5f), QStringList({QString(), QString()}));
        QCOMPARE(m->lastError(), QString());
        QCOMPARE(journalSince(bytes, address),
            QStringList({QStringLiteral("0\tvoltage set\t1500 V\twindow\tok"),
                QStringLiteral("2\tvoltage set\t1500 V\twindow\tok"), QStringLiteral("1\tcurrent set\t0.5 mA\twindow\tok"),
                QStringLiteral("3\tcurrent set\t0.5 mA\twindow\tok")}));
        const auto index = [](int channel) { return statusSlot * 100 + channel; };
        QCOMPARE(m_statusCrate->controller()->call(&SnmpController::getOutputVoltage, index(0)), 1500.0);
        QCOMPARE(m_statusCrate->controller()->call(&SnmpController::getOutputVoltage, index(1)), 0.0);
        QCOMPARE(m_statusCrate->controller()->call(&SnmpController::getOutputVoltage, index(2)), 1500.0);
        QVERIFY(near(m_statusCrate->controller()->call(&SnmpController::getOutputCurrent, index(3)), 0.5e-3));

        QCOMPARE(m->setChannelsValue({0, 1}, BaseModule::SetQuantity::Voltage, 5000.0f),
            QStringList({QStringLiteral("wrongValue"), QStringLiteral("wrongValue")}));
        QCOMPARE(m->lastError(), QStringLiteral("wrongValue"));
        QCOMPARE(m_statusCrate->controller()->call(&SnmpController::getOutputVoltage, index(0)), 1500.0);

        QVERIFY(simulatorCommand(QStringLiteral("silent on")));
        bytes = journalBytes();
        QCOMPARE(
            m->setChannelsValue({4}, BaseModule::SetQuantity::Voltage, 100.0f), QStringList({QStringLiteral("no answer")}));
        QCOMPARE(journalSince(bytes, address), QStringList({QStringLiteral("4\tvoltage set\t100 V\twindow\tno answer")}));
        QVERIFY(simulatorCommand(QStringLiteral("silent off")));
    }

    void moduleControlWord()
    {
        auto m = module(2);
        const quint32 killEnabled = 1u << 15;
        m->setKillEnable(false);
        QTRY_COMPARE_WITH_TIMEOUT(m->status() & killEnabled, 0u, 5000);
        m->setControl(0);
        QCOMPARE(m->status() & killEnabled, 0u);
        m->setControl(0x4040);
        QTRY_COMPARE_WITH_TIMEOUT(m->status() & killEnabled, killEnabled, 5000);
        m->setKillEnable(false);
        QTRY_COMPARE_WITH_TIMEOUT(m->status() & killEnabled, 0u, 5000);

        // No stop, service or store request on an MPOD module: the word is refused whole, with
        // the reason, and its other bits are not sent either.
        for (const quint32 word : {ModuleControlBit::stop | ModuleControlBit::killEnable, ModuleControlBit::saveSetValues,
                 ModuleControlBit::enterSpecialMode}) {
            QVERIFY(!m->setControl(word));
            QCOMPARE(m->lastError(), QStringLiteral("not offered by this module"));
        }
        QTest::qWait(300);
        QCOMPARE(m->status() & killEnabled, 0u);
    }

    void supervisionBehaviour()
    {
        auto m = module(2);
        m->setChannelDelayedTripAction(2, BaseModule::RampDownChannel, 250);
        m->channelDelayedTripEnabled(0); // channel 0 refreshes the behaviour cache
        QVERIFY(m->channelDelayedTripEnabled(2));
        QVERIFY(m->channelDelayedTripRampDown(2));
        m->channelDelayedTripTime(0);
        QCOMPARE(m->channelDelayedTripTime(2), 250);
        // Changing the inhibit action keeps the trip action (both live in one word).
        m->setChannelInhibitAction(2, BaseModule::ShutDownModule);
        m->channelInhibitAction(0);
        QCOMPARE(m->channelInhibitAction(2), BaseModule::ShutDownModule);
        QVERIFY(m->channelDelayedTripRampDown(2));
        QCOMPARE(controller()->call(&SnmpController::getOutputSupervisionBehavior, 202) & 0x30C0, 0x3040);

        m->setAllChannelsInhibitAction(BaseModule::ShutDownChannel);
        m->channelInhibitAction(0);
        for (int channel = 0; channel < 16; ++channel)
            QCOMPARE(m->channelInhibitAction(channel), BaseModule::ShutDownChannel);
        QVERIFY(m->channelDelayedTripRampDown(2));

        m->setAllChannelsDelayedTripAction(BaseModule::IgnoreFailure, 100);
        m->channelDelayedTripEnabled(0);
        m->channelDelayedTripTime(0);
        for (int channel = 0; channel < 16; ++channel) {
            QVERIFY(!m->channelDelayedTripEnabled(channel));
            QCOMPARE(m->channelDelayedTripTime(channel), 100);
            QCOMPARE(m->channelInhibitAction(channel), BaseModule::ShutDownChannel);
        }
    }

    void writeResults_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("access"); // "", "read community" or "silent"
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("reason");
        // The journal line's channel, quantity, value, source and result; empty: nothing sent,
        // nothing journaled. "thread" writes from a thread of its own, "table" in a scope.
        QTest::addColumn<QString>("journaled");
        QTest::newRow("voltage taken") << int(VoltageSet100) << "" << true << ""
                                       << "1\tvoltage set\t100 V\twindow\tok";
        QTest::newRow("voltage above nominal") << int(VoltageSet99999) << "" << false << "wrongValue"
                                               << "1\tvoltage set\t99999 V\twindow\twrongValue";
        QTest::newRow("voltage in a table scope") << int(VoltageSet100) << "table" << true << ""
                                                  << "1\tvoltage set\t100 V\ttable\tok";
        QTest::newRow("refused from a script thread") << int(VoltageSet99999) << "thread" << false << "wrongValue"
                                                      << "1\tvoltage set\t99999 V\tscript\twrongValue";
        QTest::newRow("current above nominal") << int(CurrentSet1A) << "" << false << "wrongValue"
                                               << "1\tcurrent set\t1000 mA\twindow\twrongValue";
        QTest::newRow("current taken") << int(CurrentSet1mA) << "" << true << ""
                                       << "1\tcurrent set\t1 mA\twindow\tok";
        QTest::newRow("written with the read community") << int(VoltageSet100) << "read community" << false << "noAccess"
                                                         << "1\tvoltage set\t100 V\twindow\tnoAccess";
        QTest::newRow("crate silent") << int(VoltageSet100) << "silent" << false << "no answer"
                                      << "1\tvoltage set\t100 V\twindow\tno answer";
        QTest::newRow("restart time") << int(RestartTime) << "" << false << "not offered by this module"
                                      << "";
        QTest::newRow("voltage interlock") << int(VoltageInterlock) << "" << false << "not offered by this module"
                                           << "";
    }

    void writeResults()
    {
        QFETCH(int, operation);
        QFETCH(QString, access);
        std::unique_ptr<SnmpController> readOnly;
        SnmpModule* m = nullptr;
        std::unique_ptr<SnmpModule> owned;
        if (access == QLatin1String("silent")) {
            QVERIFY(m = startStatusCrate());
            QVERIFY(simulatorCommand(QStringLiteral("silent on")));
        } else {
            if (access == QLatin1String("read community")) {
                readOnly = std::make_unique<SnmpController>();
                qputenv("TESMAR_SNMP_WRITE_COMMUNITY", "public");
                const bool opened = readOnly->open(m_crate->simulator().address());
                qunsetenv("TESMAR_SNMP_WRITE_COMMUNITY");
                QVERIFY(opened);
            }
            owned = std::make_unique<SnmpModule>(readOnly ? readOnly.get() : controller(), 2);
            m = owned.get();
        }
        m->setVoltageUnit(QStringLiteral("V"));
        m->setCurrentUnit(QStringLiteral("mA"));
        m->setDigitalFilter(4); // a failure first: a reason left over from it would show
        const qint64 journalBytes = QFileInfo(WriteJournal::instance().filePath()).size();
        bool result = false;
        QString reason;
        const auto write = [&] {
            const WriteSource source(access == QLatin1String("table") ? "table" : "");
            switch (operation) {
            case VoltageSet100:
                result = m->setChannelVoltageSet(1, 100.0f);
                break;
            case VoltageSet99999:
                result = m->setChannelVoltageSet(1, 99999.0f);
                break;
            case CurrentSet1A:
                result = m->setChannelCurrentSet(1, 1000.0f);
                break;
            case CurrentSet1mA:
                result = m->setChannelCurrentSet(1, 1.0f);
                break;
            case RestartTime:
                result = m->setRestartTime(5);
                break;
            case VoltageInterlock:
                result = m->setChannelVoltageInterlockMaxSet(1, 10.0f);
                break;
            }
            reason = m->lastError();
        };
        if (access == QLatin1String("thread"))
            std::thread(write).join();
        else
            write();
        QTEST(result, "result");
        QTEST(reason, "reason");

        QFETCH(QString, journaled);
        QFile journal(WriteJournal::instance().filePath());
        QVERIFY(journal.open(QIODevice::ReadOnly) || journaled.isEmpty());
        journal.seek(journalBytes);
        // Other programs (tests running side by side) may write into the same journal: only this
        // crate's lines count.
        const QString crateAddress = JournalWrite::snmpCrateAddress(readOnly ? readOnly->address()
                : m == m_statusModule.get()                                  ? m_statusCrate->controller()->address()
                                                                             : controller()->address());
        QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        lines = JournalLines::writes(lines.filter(QLatin1Char('\t') + crateAddress + QLatin1Char('\t')));
        QVERIFY2(lines.size() == (journaled.isEmpty() ? 0 : 1), qPrintable(lines.join(QLatin1Char('\n'))));
        if (!lines.isEmpty()) {
            const QStringList fields = lines.first().split(QLatin1Char('\t'));
            QCOMPARE(fields.size(), 9);
            const QDateTime time = QDateTime::fromString(fields.at(0), Qt::ISODateWithMs);
            QVERIFY2(fields.at(0).endsWith(QLatin1Char('Z')) && qAbs(time.msecsTo(QDateTime::currentDateTimeUtc())) < 10000,
                qPrintable(fields.at(0)));
            QCOMPARE(fields.mid(1, 3).join(QLatin1Char('\t')),
                crateAddress
                    + QStringLiteral("\t%1\t%2").arg(m == m_statusModule.get() ? statusSlot : 2).arg(m->serialNumber()));
            QCOMPARE(fields.mid(4).join(QLatin1Char('\t')), journaled);
        }
        if (access == QLatin1String("silent")) {
            // A read that fails is no state either: not "powered off", just no answer.
            SnmpCrate crate(m_statusCrate->controller());
            QVERIFY(!crate.powerOn());
            QVERIFY(crate.lastReadFailed());
            QCOMPARE(m_statusCrate->controller()->busStatus(),
                (BusStatus{BusStatus::State::NotAnswering, QStringLiteral("Crate does not answer!")}));
            QVERIFY(simulatorCommand(QStringLiteral("silent off")));
            QTRY_VERIFY_WITH_TIMEOUT(crate.powerOn(), 10000);
            QVERIFY(!crate.lastReadFailed());
            QCOMPARE(m_statusCrate->controller()->busStatus(),
                (BusStatus{BusStatus::State::Ok, QStringLiteral("Bus status: OK")}));
        }
    }

    // Trip and inhibit action share one word per channel: changing one never resets the other,
    // even when nothing was read before, and nothing is written when the word cannot be read.
    void supervisionWordsAreReadFromTheCrate()
    {
        // Every channel starts with inhibit action 2 and trip action 1.
        const int start = 0x2040;
        CrateFixture crate(QStringLiteral(R"([{"slot": 1, "type": "THE1640p", "channels": 4,
                                               "supervisionBehavior": %1}])")
                               .arg(start));
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        SnmpModule m(crate.controller(), 1);
        const auto word = [&](int channel) {
            return crate.controller()->call(&SnmpController::getOutputSupervisionBehavior, 100 + channel);
        };
        QVERIFY(m.setChannelDelayedTripAction(0, BaseModule::ShutDownChannel, 100));
        QCOMPARE(word(0), 0x2080);
        QVERIFY(m.setChannelInhibitAction(1, BaseModule::RampDownChannel));
        QCOMPARE(word(1), 0x1040);
        QVERIFY(m.setAllChannelsInhibitAction(BaseModule::IgnoreFailure));
        QCOMPARE((QList<int>{word(0), word(1), word(2), word(3)}), (QList<int>{0x0080, 0x0040, 0x0040, 0x0040}));
        QVERIFY(m.setAllChannelsDelayedTripAction(BaseModule::ShutDownModule, 50));
        QCOMPARE((QList<int>{word(0), word(1), word(2), word(3)}), (QList<int>{0x00C0, 0x00C0, 0x00C0, 0x00C0}));

        QVERIFY(crate.simulator().command(QStringLiteral("silent on")));
        QVERIFY(!m.setChannelInhibitAction(2, BaseModule::ShutDownModule));
        QCOMPARE(m.lastError(), QStringLiteral("no answer"));
        QVERIFY(!m.setAllChannelsDelayedTripAction(BaseModule::IgnoreFailure, 10));
        QCOMPARE(m.lastError(), QStringLiteral("no answer"));
        QVERIFY(crate.simulator().command(QStringLiteral("silent off")));
        QTRY_COMPARE_WITH_TIMEOUT(word(2), 0x00C0, 10000);
        QCOMPARE(crate.controller()->call(&SnmpController::getOutputTripTimeMaxCurrent, 102), 50);
    }

    // A block read that ends early (here: the crate answers tooBig for the larger sub-identifiers
    // of channel indexes from 128 on) reads only the channels before the gap.
    void partialBlockReadIsNotAReading()
    {
        CrateFixture crate(QStringLiteral(R"([{"slot": 1, "type": "THM4805p", "serialNumber": 4714001}])"));
        QString error;
        QVERIFY2(crate.start(&error), qPrintable(error));
        SnmpModule m(crate.controller(), 1);
        QCOMPARE(m.channelNumber(), 48);
        m.setVoltageUnit(QStringLiteral("V"));
        QVERIFY(m.setAllChannelsVoltageSet(10.0f));
        QCOMPARE(m.channelVoltageSet(0), 10.0f);
        QVERIFY(m.channelReadComplete(47));

        // The smallest response limit that still lets the first channels through.
        int gap = -1;
        int gapLimit = 0;
        for (int limit = 40; limit < 200 && gap < 0; ++limit) {
            QVERIFY(crate.simulator().command(QStringLiteral("maxresponse %1").arg(limit)));
            gapLimit = limit;
            m.channelVoltageSet(0);
            if (m.channelReadComplete(0))
                for (gap = 1; gap < 48 && m.channelReadComplete(gap); ++gap) {
                }
        }
        QVERIFY2(gap > 0 && gap < 48, qPrintable(QString::number(gap)));
        QCOMPARE(m.channelVoltageSet(gap - 1), 10.0f);
        QCOMPARE(m.channelVoltageSet(gap), 0.0f);
        QVERIFY(!m.channelReadComplete(47));
        QVERIFY(m.connected()); // the crate answered, only not everything

        // A quantity that got nothing keeps the module from counting as connected, even when
        // another quantity is read afterwards.
        QVERIFY(crate.simulator().command(QStringLiteral("maxresponse 20")));
        m.channelStatus(0);
        QVERIFY(!m.channelReadComplete(0));
        QVERIFY(crate.simulator().command(QStringLiteral("maxresponse 0")));
        m.channelVoltageSet(0);
        QVERIFY(!m.connected());
        m.channelStatus(0);
        QVERIFY(m.connected());
        for (int channel = 0; channel < 48; ++channel)
            QVERIFY(m.channelReadComplete(channel));
        QCOMPARE(m.channelVoltageSet(47), 10.0f);

        // One read of the table: rows before the gap are readings, the rest are not.
        QVERIFY(crate.simulator().command(QStringLiteral("maxresponse %1").arg(gapLimit)));
        const QVector<ChannelReading> readings = m.readChannels();
        int complete = 0;
        while (complete < 48 && readings.at(complete).complete)
            ++complete;
        QVERIFY2(complete > 0 && complete <= gap, qPrintable(QString::number(complete)));
        for (int channel = complete; channel < 48; ++channel)
            QVERIFY(!readings.at(channel).complete);
        QCOMPARE(readings.at(complete - 1).voltageSet, 10.0f);
        QCOMPARE(m.lastError(), QStringLiteral("tooBig"));
        QVERIFY(crate.simulator().command(QStringLiteral("maxresponse 0")));
        QVERIFY(m.readChannels().last().complete);
        QCOMPARE(m.lastError(), QString());
    }

    // One read of every channel gives what the per-channel getters give, in the same units and
    // words, with all requests of the read in flight together or (a library without
    // getChannelBlock) one block read after the other.
    void readChannelsEqualsGetters_data()
    {
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("voltageUnit");
        QTest::addColumn<QString>("currentUnit");
        QTest::addColumn<bool>("together");
        QTest::newRow("48 channels, V, uA") << 9 << "V"
                                            << "uA" << true;
        QTest::newRow("48 channels, kV, nA, block by block") << 9 << "kV"
                                                             << "nA" << false;
        QTest::newRow("16 channels, no current control") << 4 << "V"
                                                         << "mA" << true;
        QTest::newRow("measurement module") << 7 << "V"
                                            << "mA" << true;
        QTest::newRow("measurement module, block by block") << 7 << "V"
                                                            << "mA" << false;
    }

    void readChannelsEqualsGetters()
    {
        QFETCH(int, slot);
        QFETCH(QString, voltageUnit);
        QFETCH(QString, currentUnit);
        QFETCH(bool, together);
        auto m = module(slot);
        m->setVoltageUnit(voltageUnit);
        m->setCurrentUnit(currentUnit);
        const auto entry = controller()->getChannelBlock;
        const auto valuesEntry = controller()->getModuleValues;
        QVERIFY(entry && valuesEntry);
        if (!together) {
            controller()->getChannelBlock = nullptr;
            controller()->getModuleValues = nullptr;
        }
        const auto restore = qScopeGuard([&] {
            controller()->getChannelBlock = entry;
            controller()->getModuleValues = valuesEntry;
            m_crate->simulator().command(QStringLiteral("noise on"));
        });
        QVERIFY(m_crate->simulator().command(QStringLiteral("noise off")));
        const int channels = m->channelNumber();
        QVERIFY(channels >= 8);
        if (m->isMeasurementModule()) {
            m->setChannelBothMeasurementsEnabled(1, true);
        } else {
            m->setChannelEmergencyOff(2);
            for (int channel = 0; channel < channels; ++channel)
                m->setChannelVoltageSet(channel, float(m->channelVoltageNominal(0) * (channel + 1) / 100.0));
            m->setChannelOn(1);
        }
        // Until the switched-on channel has finished ramping.
        if (!m->isMeasurementModule())
            QTRY_COMPARE_WITH_TIMEOUT(m->readChannels().at(1).voltageMeasure, m->readChannels().at(1).voltageSet, 10000);

        const QVector<ChannelReading> readings = m->readChannels();
        QCOMPARE(readings.size(), channels);
        QCOMPARE(m->lastError(), QString());
        m->channelVoltageSet(0); // channel 0 refreshes the getters' caches
        m->channelCurrentSet(0);
        m->channelVoltageMeasure(0);
        m->channelCurrentMeasure(0);
        m->channelControl(0);
        m->channelStatus(0);
        for (int channel = 0; channel < channels; ++channel) {
            const ChannelReading& r = readings.at(channel);
            QVERIFY(r.complete);
            QCOMPARE(r.voltageSet, m->channelVoltageSet(channel));
            QCOMPARE(r.currentSet, m->channelCurrentSet(channel));
            QCOMPARE(r.voltageMeasure, m->channelVoltageMeasure(channel));
            QCOMPARE(r.currentMeasure, m->channelCurrentMeasure(channel));
            QCOMPARE(r.control, m->channelControl(channel));
            QCOMPARE(r.status, m->channelStatus(channel));
        }
        if (m->isMeasurementModule()) {
            QCOMPARE(readings.at(1).control,
                quint32(ChannelControlBit::externalMeasurement | ChannelControlBit::rippleMeasurement));
        } else {
            QCOMPARE(readings.at(2).control, quint32(ChannelControlBit::emergencyOff));
            QVERIFY(readings.at(1).voltageMeasure > 0.0f);
            QVERIFY(readings.at(1).status & on);
            QVERIFY(readings.at(channels - 1).voltageSet > readings.at(0).voltageSet);
        }
        m->clearChannelEmergencyOff(2);
        m->setChannelOff(1);
        m->setChannelBothMeasurementsEnabled(1, false);

        const ModuleReading values = m->readModuleValues(true, true);
        QVERIFY(values.rampSpeedsValid && values.statusValid && values.temperaturesValid && values.suppliesValid);
        QCOMPARE(values.voltageRampSpeed, m->voltageRampSpeed());
        QCOMPARE(values.currentRampSpeed, m->currentControl() ? m->currentRampSpeed() : 0.0f);
        QCOMPARE(values.currentControl, m->currentControl());
        QCOMPARE(values.status, m->status());
        QCOMPARE(values.eventStatus, m->eventStatus());
        QCOMPARE(values.temperature[3], m->temperature(3));
        QCOMPARE(values.supplyP5, m->supplyP5());
        QCOMPARE(values.supplyP12, m->supplyP12());
        QCOMPARE(values.voltageLimit, m->voltageLimit());
        QCOMPARE(values.currentLimit, m->currentLimit());
        QVERIFY(values.voltageLimit > 0.0f);
    }

    // All requests of one read leave together: with every answer 150 ms late, a read of 48
    // channels costs about one delay, not one per request (the figure is bench_snmplib's).
    void readChannelsWaitsAboutOneRoundTrip()
    {
        auto m = module(9);
        QVERIFY(m_crate->simulator().command(QStringLiteral("delay 150")));
        const auto restore = qScopeGuard([&] { m_crate->simulator().command(QStringLiteral("delay 0")); });
        QElapsedTimer timer;
        timer.start();
        const QVector<ChannelReading> readings = m->readChannels();
        const qint64 elapsedMs = timer.elapsed();
        QVERIFY(readings.last().complete);
        QVERIFY2(elapsedMs < 4 * 150, qPrintable(QString::number(elapsedMs)));
    }

    // The modules of one crate read together: each reading is the module's own, complete, with
    // its own units, and the whole crate costs about one round trip (the figure is
    // bench_poller_cpu's).
    void modulesOfOneCrateReadTogether()
    {
        QVERIFY(m_crate->simulator().command(QStringLiteral("noise off")));
        const auto restore = qScopeGuard([&] {
            m_crate->simulator().command(QStringLiteral("noise on"));
            m_crate->simulator().command(QStringLiteral("delay 0"));
        });
        std::vector<std::unique_ptr<SnmpModule>> owned;
        QVector<SnmpModule*> modules;
        for (int slot : {9, 2, 4, 7}) {
            owned.push_back(module(slot));
            modules.append(owned.back().get());
        }
        modules.at(0)->setVoltageUnit(QStringLiteral("kV"));
        QVERIFY(modules.at(1)->setChannelVoltageSet(3, 123.0f));
        QVERIFY(modules.at(2)->setChannelEmergencyOff(5));
        const auto undo = qScopeGuard([&] { modules.at(2)->clearChannelEmergencyOff(5); });
        // The two reads below are compared word for word: nothing may still be ramping between them.
        const auto settled = [&] {
            for (SnmpModule* m : modules)
                for (const ChannelReading& reading : m->readChannels())
                    if (!reading.complete || (reading.status & ChannelStatusBit::ramping))
                        return false;
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(settled(), 10000);

        QVERIFY(m_crate->simulator().command(QStringLiteral("delay 150")));
        QElapsedTimer timer;
        timer.start();
        QVector<QVector<ChannelReading>> together(modules.size());
        QVector<int> order;
        SnmpModule::readChannelsTogether(modules, [&](int index, const QVector<ChannelReading>& reading) {
            together[index] = reading;
            order.append(index);
        });
        const qint64 elapsedMs = timer.elapsed();
        std::sort(order.begin(), order.end());
        QCOMPARE(order, (QVector<int>{0, 1, 2, 3})); // each module delivered once
        QVERIFY(m_crate->simulator().command(QStringLiteral("delay 0")));
        QVERIFY2(elapsedMs < 4 * 150, qPrintable(QString::number(elapsedMs)));
        QCOMPARE(together.size(), modules.size());
        for (int i = 0; i < modules.size(); ++i) {
            const QVector<ChannelReading> alone = modules.at(i)->readChannels();
            QCOMPARE(together.at(i).size(), modules.at(i)->channelNumber());
            for (int channel = 0; channel < alone.size(); ++channel) {
                const ChannelReading& a = alone.at(channel);
                const ChannelReading& t = together.at(i).at(channel);
                QVERIFY(t.complete);
                QCOMPARE(t.voltageSet, a.voltageSet);
                QCOMPARE(t.currentSet, a.currentSet);
                QCOMPARE(t.voltageNominal, a.voltageNominal);
                QCOMPARE(t.control, a.control);
                QCOMPARE(t.status, a.status);
            }
        }
        QCOMPARE(together.at(1).at(3).voltageSet, 123.0f);
        QCOMPARE(together.at(2).at(5).control, quint32(ChannelControlBit::emergencyOff));
        QCOMPARE(together.at(0).at(0).voltageNominal, float(modules.at(0)->channelVoltageNominal(0)));
        QVERIFY(together.at(0).at(0).voltageNominal < 10.0f); // in kV
    }

    void measurementModule()
    {
        auto m = module(7);
        QVERIFY(m->isMeasurementModule());
        const double before = controller()->call(&SnmpController::getOutputVoltage, 700);
        m->setChannelVoltageSet(0, 5.0f);
        m->setChannelCurrentSet(0, 1.0f);
        m->setVoltageRampSpeed(50.0f);
        QCOMPARE(controller()->call(&SnmpController::getOutputVoltage, 700), before);
        QCOMPARE(m->channelVoltageSet(0), 0.0f);
        QCOMPARE(m->channelCurrentSet(0), 0.0f);
        QCOMPARE(m->channelStatus(0), 0u);
        QVERIFY(!m->channelDelayedTripEnabled(0));
        // Measured values are reported: the nominal read goes through like any other module's.
        QVERIFY(m->channelVoltageNominal(0) > 0.0f);

        m->setChannelBothMeasurementsEnabled(1, true);
        m->setChannelControl(2, 0x2);
        m->setChannelRippleMeasurementEnabled(3, true);
        m->channelControl(0);
        QCOMPARE(m->channelControl(1), 0x6u);
        QCOMPARE(m->channelControl(2), 0x2u);
        QCOMPARE(m->channelControl(3), 0x4u);
        m->setChannelBothMeasurementsEnabled(1, false);
        QCOMPARE(controller()->call(&SnmpController::getChannelSwitch, 701), 20);

        // An ordinary module ignores the measurement switches.
        auto hv = module(2);
        hv->setChannelOff(5);
        hv->setChannelBothMeasurementsEnabled(5, true);
        QCOMPARE(controller()->call(&SnmpController::getChannelSwitch, 205), 0);
    }

    void moduleLoadsItsResolutionWhenCreated()
    {
        QSettings settings(
            QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("resolution"));
        settings.setValue(QStringLiteral("4712002/voltageUnit"), QStringLiteral("kV"));
        settings.setValue(QStringLiteral("4712002/currentUnit"), QStringLiteral("uA"));
        settings.setValue(QStringLiteral("4712002/currentPrecision"), 4);
        settings.setValue(QStringLiteral("THE1640p/voltagePrecision"), 3);
        settings.sync();
        auto m = module(2);
        auto other = module(4);
        settings.clear();
        QCOMPARE(m->voltageUnit(0), QStringLiteral("kV"));
        QCOMPARE(m->currentUnit(0), BaseModule::microAmpereUnit());
        QCOMPARE(m->currentPrecision(), 4);
        QCOMPARE(m->voltagePrecision(), 3);
        QCOMPARE(other->voltageUnit(0), QStringLiteral("V"));
        QCOMPARE(other->currentUnit(0), QStringLiteral("mA"));
        QCOMPARE(other->voltagePrecision(), 2);
    }

    void clearEventsReachesTheCrate()
    {
        auto m = module(2);
        // A set value above the module's limits is refused by the crate with an input error.
        m->setVoltageUnit(QStringLiteral("V"));
        m->setChannelVoltageSet(0, 1.0e6f);
        const quint32 inputError = 1u << 5;
        QTRY_VERIFY_WITH_TIMEOUT(m->eventStatus() & inputError, 5000);
        m->clearEventStatus();
        QTRY_COMPARE_WITH_TIMEOUT(m->eventStatus() & inputError, 0u, 5000);
    }

    void externalInhibitFromCrate()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        m->setChannelInhibitAction(2, BaseModule::ShutDownChannel);
        m->setChannelVoltageSet(2, 100.0f);
        m->setChannelOn(2);
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(m, 2) & on, 10000);
        QCOMPARE(statusOf(m, 2) & externalInhibit, 0u);

        QVERIFY(simulatorCommand(QStringLiteral("inhibit %1 2 on").arg(statusSlot)));
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(m, 2) & externalInhibit, 10000);
        const quint32 status = statusOf(m, 2);
        QCOMPARE(status & on, 0u); // the inhibit's action switched the channel off
        QCOMPARE(m->channelEventStatus(2), status & eventBits);
        QVERIFY(m->channelEventStatus(2) & externalInhibit);
        QCOMPARE(statusOf(m, 3) & externalInhibit, 0u); // only the inhibited input

        // The event outlives the input until the channel's events are cleared.
        QVERIFY(simulatorCommand(QStringLiteral("inhibit %1 2 off").arg(statusSlot)));
        QVERIFY(statusOf(m, 2) & externalInhibit);
        m->clearChannelEventStatus(2);
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 2) & externalInhibit, 0u, 10000);
        QCOMPARE(m->channelEventStatus(2) & externalInhibit, 0u);
    }

    void currentTripFromCrate()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        // 1000 V into 100 kOhm needs 10 mA: the 2 mA limit holds the channel at 200 V until
        // the delayed trip switches it off.
        QVERIFY(simulatorCommand(QStringLiteral("load %1 3 100000").arg(statusSlot)));
        QVERIFY(simulatorCommand(QStringLiteral("timescale 20")));
        m->setChannelDelayedTripAction(3, BaseModule::ShutDownChannel, 50);
        m->setChannelVoltageSet(3, 1000.0f);
        m->setChannelOn(3);
        QTRY_VERIFY_WITH_TIMEOUT(statusOf(m, 3) & currentTrip, 10000);
        const quint32 status = statusOf(m, 3);
        QCOMPARE(status & (on | constantCurrent), 0u);
        QCOMPARE(m->channelEventStatus(3), status & eventBits);
        QCOMPARE(statusOf(m, 4) & currentTrip, 0u);

        m->clearChannelEventStatus(3);
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 3) & currentTrip, 0u, 10000);
    }

    void constantCurrentFromCrate()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        // No trip configured: the channel stays on, limited to 2 mA at 200 V.
        QVERIFY(simulatorCommand(QStringLiteral("load %1 4 100000").arg(statusSlot)));
        QVERIFY(simulatorCommand(QStringLiteral("timescale 20")));
        m->setChannelDelayedTripAction(4, BaseModule::IgnoreFailure, 50);
        m->setChannelVoltageSet(4, 1000.0f);
        m->setChannelOn(4);
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 4) & (on | constantCurrent), on | constantCurrent, 10000);
        const quint32 status = statusOf(m, 4);
        QCOMPARE(status & currentTrip, 0u);
        QCOMPARE(m->channelEventStatus(4), status & eventBits);
        QVERIFY(m->channelEventStatus(4) & constantCurrent);
        QCOMPARE(statusOf(m, 5) & constantCurrent, 0u);

        // A load that needs less than the limit ends the limiting; the channel stays on.
        QVERIFY(simulatorCommand(QStringLiteral("load %1 4 10000000").arg(statusSlot)));
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 4) & constantCurrent, 0u, 10000);
        QVERIFY(statusOf(m, 4) & on);
        QCOMPARE(m->channelEventStatus(4) & constantCurrent, 0u);
    }

    void rampingFromCrate()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        // 4000 V at 200 V/s: twenty seconds of ramping at the crate's own pace.
        m->setChannelVoltageSet(5, 4000.0f);
        m->setChannelOn(5);
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 5) & (on | ramping), on | ramping, 10000);
        quint32 status = statusOf(m, 5);
        QCOMPARE(m->channelEventStatus(5), status & eventBits);
        QCOMPARE(m->channelEventStatus(5) & (on | ramping), 0u); // neither is an event
        QCOMPARE(statusOf(m, 6) & (on | ramping), 0u);

        QVERIFY(simulatorCommand(QStringLiteral("timescale 1000")));
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 5) & (on | ramping), on, 10000);

        // Ramping down after switching off: ramping without on.
        QVERIFY(simulatorCommand(QStringLiteral("timescale 1")));
        m->setChannelOff(5);
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 5) & (on | ramping), ramping, 10000);
        QVERIFY(simulatorCommand(QStringLiteral("timescale 1000")));
        QTRY_COMPARE_WITH_TIMEOUT(statusOf(m, 5) & (on | ramping), 0u, 10000);
    }

    // Every operation that changes part of a word reads the word from the crate first; when that
    // read is not answered nothing is sent: no journal line, every word in the crate as it was.
    void partialWritesNeedTheWordRead_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("fault"); // simulator command before the write
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("reason");
        QTest::newRow("channel control") << int(ChannelControlOn) << "" << true << "";
        QTest::newRow("channel control, crate silent")
            << int(ChannelControlOn) << "silent on" << false << "control word not read (no answer)";
        QTest::newRow("module control: no such word here")
            << int(ModuleControlKill) << "" << false << "control word not read (not offered by this module)";
        QTest::newRow("inhibit action, crate silent") << int(InhibitAction) << "silent on" << false << "no answer";
        QTest::newRow("trip action, crate silent") << int(TripAction) << "silent on" << false << "no answer";
        QTest::newRow("all inhibit actions, crate silent") << int(AllInhibitActions) << "silent on" << false << "no answer";
        QTest::newRow("all trip actions, crate silent") << int(AllTripActions) << "silent on" << false << "no answer";
    }

    void partialWritesNeedTheWordRead()
    {
        QFETCH(int, operation);
        QFETCH(QString, fault);
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        QVERIFY(m->setAllChannelsInhibitAction(BaseModule::ShutDownChannel));
        QVERIFY(m->setAllChannelsDelayedTripAction(BaseModule::RampDownChannel, 100));
        QList<int> before;
        QVERIFY(crateWords(&before));
        const QString address = m_statusCrate->controller()->address();
        const qint64 bytes = journalBytes();
        if (!fault.isEmpty())
            QVERIFY(simulatorCommand(fault));

        bool result = false;
        switch (operation) {
        case ChannelControlOn:
            result = m->updateChannelControl(1, 0, ChannelControlBit::on);
            break;
        case ModuleControlKill:
            result = m->updateControl(0, ModuleControlBit::killEnable);
            break;
        case InhibitAction:
            result = m->setChannelInhibitAction(1, BaseModule::ShutDownModule);
            break;
        case TripAction:
            result = m->setChannelDelayedTripAction(1, BaseModule::ShutDownModule, 300);
            break;
        case AllInhibitActions:
            result = m->setAllChannelsInhibitAction(BaseModule::IgnoreFailure);
            break;
        case AllTripActions:
            result = m->setAllChannelsDelayedTripAction(BaseModule::IgnoreFailure, 300);
            break;
        }
        QTEST(result, "result");
        QTEST(m->lastError(), "reason");

        if (!fault.isEmpty())
            QVERIFY(simulatorCommand(QStringLiteral("silent off")));
        QList<int> after;
        QTRY_VERIFY_WITH_TIMEOUT(crateWords(&after), 10000);
        if (result) {
            QCOMPARE(journalSince(bytes, address), QStringList{QStringLiteral("1\tswitch\ton\twindow\tok")});
            before[3] = 1; // channel 1 switched on, nothing else changed
        } else {
            QCOMPARE(journalSince(bytes, address), QStringList());
        }
        QCOMPARE(after, before);
    }

    // The dialogs start from these values: all read now, or none given.
    void channelSettingsAllOrNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("result"); // 1 read, 0 not read, -1 either (a lossy network)
        QTest::newRow("answered") << "" << 1;
        QTest::newRow("crate silent") << "silent on" << 0;
        QTest::newRow("lossy network") << "drop 30" << -1;
    }

    void channelSettingsAllOrNothing()
    {
        QFETCH(QString, fault);
        QFETCH(int, result);
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        m->setCurrentUnit(QStringLiteral("mA"));
        QVERIFY(m->setChannelCurrentSet(2, 1.5f));
        QVERIFY(m->setChannelDelayedTripAction(2, BaseModule::RampDownChannel, 250));
        QVERIFY(m->setChannelInhibitAction(2, BaseModule::ShutDownModule));
        QVERIFY(m->setChannelOn(2));
        if (!fault.isEmpty())
            QVERIFY(simulatorCommand(fault));

        ChannelSettings settings;
        settings.currentSet = -1.0f;
        settings.voltageUnit = QStringLiteral("untouched");
        const bool read = m->readChannelSettings(2, &settings);
        if (result >= 0)
            QCOMPARE(int(read), result);

        // The hardware nominal values of several channels in one go: the leading channels read,
        // each value a reading, never a 0 for a lost one.
        QVector<float> voltages;
        QVector<float> currents;
        const int nominals = m->readHardwareNominals(1, 3, &voltages, &currents);
        if (result >= 0)
            QCOMPARE(nominals, 3 * result);
        QCOMPARE(voltages.size(), nominals);
        QCOMPARE(currents.size(), nominals);
        for (int i = 0; i < nominals; ++i)
            QVERIFY(voltages.at(i) == 4000.0f && currents.at(i) == 2.0f);
        if (nominals < 3)
            QCOMPARE(m->lastError(), QStringLiteral("no answer"));

        if (!read) {
            QCOMPARE(m->lastError(), QStringLiteral("no answer"));
            QCOMPARE(settings.currentSet, -1.0f);
            QCOMPARE(settings.voltageUnit, QStringLiteral("untouched"));
            QCOMPARE(settings.voltageNominal, 0.0f);
            QCOMPARE(settings.control, 0u);
            return;
        }
        QCOMPARE(settings.currentSet, 1.5f);
        QCOMPARE(settings.voltageNominal, 4000.0f);
        QCOMPARE(settings.voltageHardwareNominal, 4000.0f);
        QCOMPARE(settings.currentNominal, 2.0f);
        QVERIFY(settings.delayedTripEnabled && settings.delayedTripRampDown);
        QCOMPARE(settings.delayedTripTimeMs, 250);
        QCOMPARE(settings.inhibitAction, int(BaseModule::ShutDownModule));
        QCOMPARE(settings.control, quint32(ChannelControlBit::on));
        QVERIFY(settings.currentControl);
        QCOMPARE(settings.voltageUnit + ' ' + settings.currentUnit, QStringLiteral("V mA"));
    }

    // On a network that loses requests, trip writes whose read was lost write nothing and those
    // that go through keep the inhibit action: it never falls back to 0 from a lost read.
    void tripWritesKeepTheInhibitActionOnALossyNetwork()
    {
        SnmpModule* m = startStatusCrate();
        QVERIFY(m);
        QVERIFY(m->setAllChannelsInhibitAction(BaseModule::ShutDownModule));
        QVERIFY(simulatorCommand(QStringLiteral("drop 30")));
        for (int i = 0; i < 8; ++i)
            m->setChannelDelayedTripAction(i, i % 2 ? BaseModule::RampDownChannel : BaseModule::ShutDownChannel, 50 + i);
        QVERIFY(simulatorCommand(QStringLiteral("drop 0")));
        QList<int> words;
        QTRY_VERIFY_WITH_TIMEOUT(crateWords(&words), 10000);
        for (int channel = 0; channel < 8; ++channel)
            QCOMPARE((words.at(3 * channel + 1) >> 12) & 3, int(BaseModule::ShutDownModule));
    }

    // A crate write is taken or says why not, and its journal line says the same. A write with a
    // community the crate does not know gets no answer at all (while reads are answered): that is
    // not a refusal but "write not answered".
    void crateWriteResults_data()
    {
        QTest::addColumn<QString>("access"); // "", "silent" or the write community
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("reason");
        QTest::newRow("taken") << "" << true << "";
        QTest::newRow("crate silent") << "silent" << false << "no answer";
        QTest::newRow("read community") << "public" << false << "noAccess";
        QTest::newRow("unknown community") << "nosuchcommunity" << false << "write not answered";
    }

    void crateWriteResults()
    {
        QFETCH(QString, access);
        QFETCH(bool, result);
        QFETCH(QString, reason);
        QVERIFY(startStatusCrate());
        std::unique_ptr<SnmpController> other;
        SnmpController* c = m_statusCrate->controller();
        if (access == QLatin1String("silent")) {
            QVERIFY(simulatorCommand(QStringLiteral("silent on")));
        } else if (!access.isEmpty()) {
            other = std::make_unique<SnmpController>();
            qputenv("TESMAR_SNMP_WRITE_COMMUNITY", access.toLatin1());
            const bool opened = other->open(m_statusCrate->simulator().address());
            qunsetenv("TESMAR_SNMP_WRITE_COMMUNITY");
            QVERIFY(opened);
            c = other.get();
        }
        SnmpCrate crate(c);
        const qint64 bytes = journalBytes();
        QCOMPARE(crate.setPowerOn(true), result);
        QCOMPARE(crate.lastError(), reason);
        QCOMPARE(journalSince(bytes, c->address()),
            QStringList{QStringLiteral("crate\tmain switch\ton\twindow\t") + (result ? QStringLiteral("ok") : reason)});
        QCOMPARE(crate.setFanSpeed(1800), result);
        QCOMPARE(crate.lastError(), reason);

        // The main switch read (with the read community): answered unless the crate is silent,
        // once the library's hold-off after unanswered writes is over.
        bool on = false;
        if (access == QLatin1String("silent")) {
            QVERIFY(!crate.readPowerOn(&on));
            QCOMPARE(crate.lastError(), QStringLiteral("no answer"));
            QVERIFY(!on);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(crate.readPowerOn(&on), 5000);
            QVERIFY(on);
        }
    }

    void crateIdentityAndPower()
    {
        SnmpCrate crate(controller());
        QCOMPARE(crate.serialNumber(), CrateFixture::crateSerialNumber);
        QCOMPARE(crate.firmwareRelease(), QLatin1String(CrateFixture::crateFirmware));
        QVERIFY(crate.powerOn());
        QCOMPARE(controller()->busStatus(), (BusStatus{BusStatus::State::Ok, QStringLiteral("Bus status: OK")}));

        crate.setFanSpeed(2400);
        QCOMPARE(crate.fanSpeed(), 2400);
        QVERIFY(crate.supply24V() > 20.0f);
        const CrateReading reading = crate.read();
        QVERIFY(reading.valid);
        QCOMPARE(reading.fanSpeed, 2400);
        QCOMPARE(reading.supply24V, crate.supply24V());
        QVERIFY(reading.powerOn);
        QCOMPARE(reading.serialNumber, CrateFixture::crateSerialNumber);

        crate.setPowerOn(false);
        QTRY_VERIFY_WITH_TIMEOUT(!crate.powerOn(), 5000);
        QVERIFY(!crate.lastReadFailed()); // an answered 0: really off
        QCOMPARE(controller()->connectionInfo(), QStringLiteral("Connected to %1.").arg(m_crate->simulator().address()));
        QCOMPARE(
            controller()->busStatus(), (BusStatus{BusStatus::State::PoweredOff, QStringLiteral("MPOD is powered off!")}));
        crate.setPowerOn(true);
        QTRY_VERIFY_WITH_TIMEOUT(crate.powerOn(), 5000);
        auto m = module(2);
        QTRY_VERIFY_WITH_TIMEOUT(m->connected(), 10000);
        // Each crate write is a journal line of the crate itself (the time cut off).
        QStringList lines = JournalLines::writes(WriteJournal::instance().latestLines(6));
        for (QString& line : lines)
            line = line.section(QLatin1Char('\t'), 1);
        const QString crateLine = QStringLiteral("%1\t-\t%2\tcrate\t")
                                      .arg(JournalWrite::snmpCrateAddress(controller()->address()))
                                      .arg(crate.serialNumber());
        QCOMPARE(lines,
            (QStringList{crateLine + "fan speed\t2400 rpm\twindow\tok", crateLine + "main switch\toff\twindow\tok",
                crateLine + "main switch\ton\twindow\tok"}));
    }

    void ipAddressByteOrder_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<quint32>("stored"); // first dotted number in the least significant byte
        const quint32 before = 0x0100000Au;  // 10.0.0.1
        QTest::newRow("dotted quad") << "192.168.1.20" << true << 0x1401A8C0u;
        QTest::newRow("zero parts") << "10.0.0.1" << true << before;
        QTest::newRow("DHCP") << "0.0.0.0" << true << 0u;
        // Refused: the stored address stays (it must not become 0.0.0.0 = DHCP).
        QTest::newRow("leading zero, octal to the system") << "192.168.010.5" << false << before;
        QTest::newRow("double zero") << "00.1.2.3" << false << before;
        QTest::newRow("three parts") << "192.168.1" << false << before;
        QTest::newRow("part above 255") << "300.1.2.3" << false << before;
        QTest::newRow("surrounding space") << " 192.168.1.20" << false << before;
        QTest::newRow("empty") << "" << false << before;
    }

    void ipAddressByteOrder()
    {
        QFETCH(QString, text);
        QVERIFY(controller()->setIpAddress(QStringLiteral("10.0.0.1")));
        QTEST(controller()->setIpAddress(text), "accepted");
        QTEST(controller()->call(&SnmpController::getIpStaticAddress), "stored");
    }

    void silentCrateIsNotConnected()
    {
        auto m = module(2);
        m->setVoltageUnit(QStringLiteral("V"));
        QVERIFY(m->connected());
        QCOMPARE(m->channelVoltageNominal(0), 4000.0f);
        QVERIFY(m_crate->simulator().command(QStringLiteral("silent on")));
        QTRY_VERIFY_WITH_TIMEOUT(!m->connected(), 15000);
        // Nothing of a silent crate is a reading.
        for (const ChannelReading& reading : m->readChannels())
            QVERIFY(!reading.complete);
        QCOMPARE(m->lastError(), QStringLiteral("no answer"));
        const ModuleReading values = m->readModuleValues(true, true);
        QVERIFY(!values.rampSpeedsValid && !values.statusValid && !values.temperaturesValid && !values.suppliesValid);
        SnmpCrate crate(controller());
        QVERIFY(!crate.read().valid);
        // A failed block read leaves no old value behind.
        QCOMPARE(m->channelVoltageNominal(0), 0.0f);
        QCOMPARE(m->channelVoltageNominal(5), 0.0f);
        QVERIFY(!m->connected());
        QVERIFY(!controller()->isConnected());

        QVERIFY(m_crate->simulator().command(QStringLiteral("silent off")));
        QTRY_VERIFY_WITH_TIMEOUT(m->connected(), 15000);
        QCOMPARE(m->channelVoltageNominal(0), 4000.0f);
        QCOMPARE(m->channelVoltageNominal(5), 4000.0f);
        QVERIFY(controller()->isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(crate.read().valid, 5000);
        QVERIFY(m->readChannels().last().complete);
    }
};

QTEST_GUILESS_MAIN(TestSnmpModule)
#include "tst_snmpmodule.moc"
