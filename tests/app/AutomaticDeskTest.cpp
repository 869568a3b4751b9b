// Automatic stepping as the window offers it, without the window: the desk on a device session
// against the crate simulator, with the window's hooks as plain functions. A step reaches exactly
// the selected channel; the channel scope without a selected channel, or a module the session no
// longer holds, sends nothing.
#include "app/AutomaticDesk.h"
#include "common/FindChild.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "profiles/AutomaticStepping.h"
#include "profiles/DialogAutomatic.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <memory>

class AutomaticDeskTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QNetworkProxyFactory::setUseSystemConfiguration(false);
        // "autologfile.csv" goes into the working folder.
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
        QVERIFY(m_config.open());
        m_config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THE1640p"}]})");
        m_config.close();
        m_simulator.setConfigFile(m_config.fileName());
        QVERIFY2(m_simulator.start(), qPrintable(m_simulator.output()));
        m_simulator.exportLibraryEnvironment();
        m_session = std::make_unique<DeviceSession>(std::make_unique<SnmpControllerFactory>());
        QVERIFY(m_session->connectTo(m_simulator.address()));
        QCOMPARE(m_session->modules().size(), 1);
        m_session->setCurrentModuleIndex(0);
    }

    void cleanupTestCase()
    {
        m_session.reset();
        m_simulator.stop();
    }

    void stepReachesSelectedChannelOnly_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("held");
        QTest::addColumn<float>("expected"); // channel 2 afterwards; channel 3 keeps its value
        QTest::newRow("channel 2 selected") << 2 << true << 100.0f;
        QTest::newRow("module no longer held") << 2 << false << 0.0f;
        QTest::newRow("no channel selected") << -1 << true << 0.0f;
    }

    void stepReachesSelectedChannelOnly()
    {
        QFETCH(int, selected);
        QFETCH(bool, held);
        QFETCH(float, expected);
        BaseModule* module = m_session->currentModule();
        QVERIFY(module->setAllChannelsVoltageSet(0));

        QWidget window;
        ScriptedDialogs dialogs;
        AutomaticDesk::Hooks hooks;
        hooks.dialogs = [&] { return &dialogs; };
        hooks.isHeld = [&](BaseModule*) { return held; };
        hooks.selectedChannel = [&] { return selected; };
        AutomaticDesk desk(m_session.get(), &window, hooks);
        desk.showWindow();
        auto* automatic = window.findChild<DialogAutomatic*>();
        QVERIFY(automatic);
        child<QDoubleSpinBox>(automatic, "sbIncrement")->setValue(100);
        child<QAbstractButton>(automatic, "chkChannel")->setChecked(true);
        auto* timer = desk.findChild<QTimer*>(QStringLiteral("automaticTimer"));
        QCOMPARE(timer->interval(), 30000);

        // Started from the window: refused without a selected channel, with the reason.
        child<QAbstractButton>(automatic, "btnStartStop")->click();
        QCOMPARE(timer->isActive(), selected >= 0);
        QCOMPARE(dialogs.informations().size(), selected >= 0 ? 0 : 1);
        desk.setTimerEnabled(false);

        desk.step();
        auto* stepping = desk.findChild<AutomaticStepping*>();
        QVERIFY(stepping);
        QTRY_VERIFY_WITH_TIMEOUT(!stepping->busy(), 5000);
        module->channelVoltageSet(0); // channel 0 reads the module's block
        QCOMPARE(module->channelVoltageSet(2), expected);
        QCOMPARE(module->channelVoltageSet(3), 0.0f);
    }

private:
    QTemporaryDir m_dir;
    QTemporaryFile m_config;
    SimulatorProcess m_simulator;
    std::unique_ptr<DeviceSession> m_session;
};

QTEST_MAIN(AutomaticDeskTest)
#include "AutomaticDeskTest.moc"
