#include "IsolatedSettings.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"
#include "device/DeviceSession.h"

#include "app/TesmarControl.h"
#include "controller/SnmpController.h"
#include "device/SnmpModule.h"
#include "dialogs/common/UserDialogs.h"

#include <QApplication>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
IsolatedSettings* s_settings = nullptr;
} // namespace

// Closing the window against the crate simulator: whether it asks, and whether the channels of
// the crate end up switched off, seen through a second, independent connection.
class TesmarControlCloseTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cancelKeepsWindowOpenAndRefreshing();
    void closeBehaviour_data();
    void closeBehaviour();

private:
    bool switchAllOn();
    bool channelSwitchedOn();
    std::unique_ptr<TesmarControl> makeWindow();

    SimulatorProcess m_simulator;
    std::unique_ptr<SnmpController> m_observerController;
    std::unique_ptr<SnmpModule> m_observer;
    ScriptedDialogs m_dialogs;
};

void TesmarControlCloseTest::initTestCase()
{
    QVERIFY(m_simulator.start());
    m_simulator.exportLibraryEnvironment();
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("IpAddress"), m_simulator.host());

    m_observerController = std::make_unique<SnmpController>();
    QVERIFY(m_observerController->open(m_simulator.host()));
    for (int slot = 0; slot < 10 && !m_observer; ++slot) {
        auto module = std::make_unique<SnmpModule>(m_observerController.get(), slot);
        if (module->connected() && module->channelNumber() > 0)
            m_observer = std::move(module);
    }
    QVERIFY2(m_observer, "the simulator's default crate has no module");
}

void TesmarControlCloseTest::cleanupTestCase()
{
    m_observer.reset();
    m_observerController.reset();
    m_simulator.stop();
}

bool TesmarControlCloseTest::switchAllOn()
{
    m_observer->setSelectedChannelsOn(0xFFFFFFFF);
    return channelSwitchedOn();
}

bool TesmarControlCloseTest::channelSwitchedOn()
{
    return (m_observer->channelControl(0) & 0x0008) != 0;
}

std::unique_ptr<TesmarControl> TesmarControlCloseTest::makeWindow()
{
    m_dialogs.asked.clear();
    UserDialogs::setStartupOverride(&m_dialogs);
    auto window = std::make_unique<TesmarControl>();
    UserDialogs::setStartupOverride(nullptr);
    if (!QTest::qWaitFor([&] { return !window->deviceSession()->isConnecting(); }, 5000))
        qWarning("the window is still connecting");
    window->show();
    return window;
}

void TesmarControlCloseTest::cancelKeepsWindowOpenAndRefreshing()
{
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), 0);
    QVERIFY(switchAllOn());
    auto window = makeWindow();
    QVERIFY(window->findChild<QListWidget*>(QStringLiteral("lstModules"))->count() > 0);
    auto* refresh = window->findChild<QTimer*>(QStringLiteral("refreshTimer"));
    QVERIFY(refresh->isActive());

    m_dialogs.questionAnswer = QMessageBox::Cancel;
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());
    QVERIFY(refresh->isActive());
    QCOMPARE(m_dialogs.questions(), QStringList{QStringLiteral("Ramp down all high voltages?")});
    QCOMPARE(m_dialogs.titles(), QStringList{QStringLiteral("Tesmar SNMP Control")});
    QCOMPARE(m_dialogs.askedOf(ScriptedDialogs::Kind::Question).last().buttons,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(channelSwitchedOn());

    // The refresh really goes on: the timer fires again after the cancelled close.
    QSignalSpy ticks(refresh, &QTimer::timeout);
    QVERIFY(ticks.wait(5000));

    // A second close with "No" goes through and leaves the voltage on.
    m_dialogs.questionAnswer = QMessageBox::No;
    QVERIFY(window->close());
    QVERIFY(channelSwitchedOn());
}

void TesmarControlCloseTest::closeBehaviour_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("switchesOff");
    QTest::newRow("0 ask, Yes") << 0 << int(QMessageBox::Yes) << true << true;
    QTest::newRow("0 ask, No") << 0 << int(QMessageBox::No) << true << false;
    QTest::newRow("1 ramp down") << 1 << int(QMessageBox::Cancel) << false << true;
    QTest::newRow("2 never") << 2 << int(QMessageBox::Cancel) << false << false;
    QTest::newRow("5 acts as 1") << 5 << int(QMessageBox::Cancel) << false << true;
    QTest::newRow("-1 acts as 1") << -1 << int(QMessageBox::Cancel) << false << true;
}

void TesmarControlCloseTest::closeBehaviour()
{
    QFETCH(int, behaviour);
    QFETCH(int, answer);
    QFETCH(bool, asks);
    QFETCH(bool, switchesOff);

    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), behaviour);
    QVERIFY(switchAllOn());
    auto window = makeWindow();
    m_dialogs.questionAnswer = QMessageBox::StandardButton(answer);
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(m_dialogs.questions().size(), asks ? 1 : 0);
    // The switch-off is sent off the GUI thread; the window closes at once.
    QTRY_COMPARE(window->commandsInFlight(), 0);
    QCOMPARE(channelSwitchedOn(), !switchesOff);
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QApplication application(argc, argv);
    TesmarControlCloseTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TesmarControlCloseTest.moc"
