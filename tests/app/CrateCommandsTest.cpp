// The crate's commands without the main window, against the simulated crate: a switch-off lets
// the modules go only once the crate reports its main switch off, and not at all when it never
// does; a write the crate refuses, or one that cannot be sent, comes back red and is journaled
// with its reason; a new address is asked for, journaled, and announced only after the crate
// took it.
#include "app/CrateCommands.h"

#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "device/WriteJournal.h"

#include "common/JournalLines.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"

#include <QFile>
#include <QNetworkProxyFactory>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <functional>
#include <memory>

class CrateCommandsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QNetworkProxyFactory::setUseSystemConfiguration(false);
    }

    void init()
    {
        const QString config = m_folder.filePath(QStringLiteral("crate.json"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THE1640p"},
                       {"slot": 3, "type": "THX0830b"}]})");
        file.close();
        m_simulator = std::make_unique<SimulatorProcess>();
        m_simulator->setConfigFile(config);
        QVERIFY(m_simulator->start());
        m_simulator->exportLibraryEnvironment();
        m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
        QVERIFY(m_session->connectTo(m_simulator->address()));
        QCOMPARE(m_session->modules().size(), 2);

        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_answering = true;
        m_afterTaken = {};
        CrateCommands::Hooks hooks;
        hooks.dialogs = [this] { return m_dialogs.get(); };
        hooks.crateAnswering = [this] { return m_answering; };
        hooks.crateAddress = [this] { return m_simulator->host(); };
        hooks.refreshNow = [this] {
            if (m_afterTaken)
                m_afterTaken();
        };
        m_window = std::make_unique<QWidget>();
        m_commands = new CrateCommands(m_session.get(), std::move(hooks), m_window.get());
        m_refused = std::make_unique<QSignalSpy>(m_commands, &CrateCommands::refused);
        m_stateTexts = std::make_unique<QSignalSpy>(m_commands, &CrateCommands::crateStateText);
        m_switchedOff = std::make_unique<QSignalSpy>(m_commands, &CrateCommands::crateSwitchedOff);
    }

    void cleanup()
    {
        m_refused.reset();
        m_stateTexts.reset();
        m_switchedOff.reset();
        m_window.reset(); // the commands with it, before the session
        m_session.reset();
        m_simulator.reset();
        m_dialogs.reset();
    }

    void switchOffReleasesOnlyOnceTheCrateReportsIt()
    {
        QSignalSpy pending(m_commands, &CrateCommands::commandPending);
        QSignalSpy ended(m_commands, &CrateCommands::commandEnded);
        m_commands->setPowerOn(false);
        // Sent on the device side: nothing has happened to the modules when the call returns.
        QCOMPARE(m_commands->inFlight(), 1);
        QCOMPARE(pending.value(0).value(0).toString(), QStringLiteral("Crate: switch off: sending..."));
        QCOMPARE(m_switchedOff->count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_switchedOff->count(), 1, 8000);
        QCOMPARE(m_commands->inFlight(), 0);
        QCOMPARE(ended.value(0).value(0).toString(), QStringLiteral("Crate: switch off: sending..."));
        QCOMPARE(stateTexts(), (QStringList{"Waiting for the crate to report that it is off...", QString()}));
        QVERIFY2(m_refused->isEmpty(), qPrintable(m_refused->value(0).value(0).toString()));
        // Nothing keeps reading the crate's values for the switch-off any more.
        QVERIFY(!(m_session->needs() & Poller::CrateValues));
        const QStringList writes = latestWrites(1);
        QVERIFY2(
            writes.value(0).contains(QStringLiteral("\tmain switch\toff\ttool window\tok")), qPrintable(writes.value(0)));

        // Switched on: the rediscovery is asked for after the delay, nothing is released.
        m_commands->setRediscoveryDelayAfterPowerOnMs(400);
        QSignalSpy rediscovery(m_commands, &CrateCommands::rediscoveryWanted);
        m_commands->setPowerOn(true);
        QTRY_COMPARE_WITH_TIMEOUT(rediscovery.count(), 1, 5000);
        QCOMPARE(rediscovery.value(0).value(0).toInt(), 400);
        QCOMPARE(
            stateTexts().last(), QStringLiteral("<font color=\"yellow\"><b>Waiting 1 seconds for Crate to switch on..."));
        QCOMPARE(m_switchedOff->count(), 1);
    }

    // The crate took the switch-off and then stopped answering: the modules may still carry high
    // voltage, so they stay, and the operator is told after the confirmation time.
    void switchOffNeverReportedKeepsTheModules()
    {
        m_commands->setOffConfirmMs(1000);
        // Before the switch-off is watched, so no read after it is ever answered.
        m_afterTaken = [this] { QVERIFY(m_simulator->command(QStringLiteral("silent on"))); };
        m_commands->setPowerOn(false);
        QTRY_COMPARE_WITH_TIMEOUT(m_refused->count(), 1, 8000);
        QCOMPARE(m_refused->value(0).value(0).toString(),
            QStringLiteral("Crate: switched off, but the crate still does not report its main switch off after 1 s; "
                           "its modules stay listed."));
        QCOMPARE(m_switchedOff->count(), 0);
        QCOMPARE(stateTexts(), (QStringList{"Waiting for the crate to report that it is off...", QString()}));
        QVERIFY(!(m_session->needs() & Poller::CrateValues));
        QCOMPARE(m_session->modules().size(), 2);
    }

    void refusedAndUnsentCommandsAreRedAndJournaled()
    {
        QSignalSpy ended(m_commands, &CrateCommands::commandEnded);
        QSignalSpy inFlight(m_commands, &CrateCommands::inFlightChanged);
        // The crate accepts 1200 to 4000 rpm.
        m_commands->setFanSpeed(100);
        QTRY_COMPARE_WITH_TIMEOUT(m_refused->count(), 1, 5000);
        const QString refusal = m_refused->value(0).value(0).toString();
        QVERIFY2(
            refusal.startsWith(QStringLiteral("Crate: set fan speed 100")) && refusal.contains(QStringLiteral("wrongValue")),
            qPrintable(refusal));
        QCOMPARE(ended.count(), 0); // the pending text gives way to the refusal, not to nothing
        QCOMPARE(m_commands->inFlight(), 0);
        QCOMPARE(inFlight.count(), 2);
        const QStringList writes = latestWrites(1);
        QVERIFY2(writes.value(0).contains(QStringLiteral("\tfan speed\t100 rpm\ttool window\t"))
                && writes.value(0).contains(QStringLiteral("wrongValue")),
            qPrintable(writes.value(0)));

        // Without a crate nothing is sent and nothing waits.
        const QStringList before = WriteJournal::instance().latestLines(4);
        m_session->release();
        m_commands->setPowerOn(false);
        QCOMPARE(m_refused->count(), 2);
        QCOMPARE(m_refused->value(1).value(0).toString(), QStringLiteral("Crate: no crate is connected; nothing was sent."));
        QCOMPARE(m_commands->inFlight(), 0);
        QCOMPARE(WriteJournal::instance().latestLines(4), before);
    }

    void newAddressAskedSentAndAnnounced()
    {
        // A crate that does not answer is not asked anything.
        m_answering = false;
        m_commands->promptCrateAddress();
        QCOMPARE(m_refused->value(0).value(0).toString(),
            QStringLiteral("Crate: set address: the crate does not answer; nothing was sent."));
        QVERIFY(m_dialogs->asked.isEmpty());

        m_answering = true;
        QSignalSpy prompt(m_commands, &CrateCommands::addressPromptOpen);
        QSignalSpy changed(m_commands, &CrateCommands::crateAddressChanged);
        m_dialogs->addressAnswer = QStringLiteral("10.11.12.13");
        m_commands->promptCrateAddress();
        QCOMPARE(m_dialogs->askedOf(ScriptedDialogs::Kind::Address).value(0).prefilled, m_simulator->host());
        QCOMPARE(prompt.count(), 2);
        QCOMPARE(prompt.value(0).value(0).toBool(), true);
        QCOMPARE(prompt.value(1).value(0).toBool(), false);
        QCOMPARE(changed.count(), 0); // not before the crate took it
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 5000);
        QCOMPARE(changed.value(0).value(0).toString(), QStringLiteral("10.11.12.13"));
        QCOMPARE(m_refused->count(), 1);
        const QStringList writes = latestWrites(1);
        QVERIFY2(writes.value(0).contains(QStringLiteral("\tcrate address\t10.11.12.13\tprompt\tok")),
            qPrintable(writes.value(0)));

        // Cancelled: nothing is sent.
        m_dialogs->addressAccepted = false;
        m_commands->promptCrateAddress();
        QCOMPARE(prompt.count(), 4);
        QCOMPARE(m_commands->inFlight(), 0);
    }

private:
    QStringList stateTexts() const
    {
        QStringList texts;
        for (const QList<QVariant>& arguments : *m_stateTexts)
            texts.append(arguments.value(0).toString());
        return texts;
    }

    // The latest `count` writes of the journal in the older nine-field form.
    static QStringList latestWrites(int count)
    {
        const QStringList writes = JournalLines::writes(WriteJournal::instance().latestLines(2 * count));
        return writes.mid(writes.size() - count);
    }

    QTemporaryDir m_folder;
    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<QWidget> m_window;
    CrateCommands* m_commands = nullptr;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    bool m_answering = true;
    std::function<void()> m_afterTaken;
    std::unique_ptr<QSignalSpy> m_refused;
    std::unique_ptr<QSignalSpy> m_stateTexts;
    std::unique_ptr<QSignalSpy> m_switchedOff;
};

QTEST_MAIN(CrateCommandsTest)
#include "CrateCommandsTest.moc"
