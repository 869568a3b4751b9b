// What the windows show of a crate that stops answering, against the simulator: the overview
// refreshes itself and says "Not connected", every channel of a large module has its row, the
// tool windows blank stale words and disable their Set buttons, and the crate window asks
// before switching off.
#include "IsolatedSettings.h"
#include "common/ScriptedDialogs.h"

#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "controller/SnmpController.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpModule.h"
#include "device/SteadyClock.h"
#include "dialogs/DialogChannelControl.h"
#include "dialogs/DialogCrate.h"
#include "dialogs/DialogModuleControl.h"
#include "dialogs/DialogOverview.h"

#include "common/FindChild.h"
#include "common/SimulatorProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

class WindowAgeLiveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void overviewSaysNotConnectedWhenCrateStops_data();
    void overviewSaysNotConnectedWhenCrateStops();
    void overviewShowsEveryChannelOfALargeModule();
    void toolWindowsBlankStaleWordsAndDisableSet();
    void crateOffAsksFirst();

private:
    void startCrate(const QByteArray& modulesJson);
    // Switches channel `channel` of the module in `slot` on at `volts` through its own session.
    void switchOn(int slot, int channel, float volts);
    // Lets the freshness time pass on the readings' clock instead of waiting through it, once
    // the answers already on their way have arrived.
    static void passFreshnessTime();
    QTableWidget* overviewTable() const;
    QString overviewText(int row, int column) const;

    std::unique_ptr<SimulatorProcess> m_simulator;
    std::unique_ptr<QTemporaryFile> m_config;
    std::unique_ptr<TesmarControl> m_window;
    ScriptedDialogs m_dialogs;
};

void WindowAgeLiveTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // A request to a silent crate costs one short time-out, not a second of retries.
    qputenv("TESMAR_SNMP_TIMEOUT_MS", "300");
    qputenv("TESMAR_SNMP_RETRIES", "0");
}

void WindowAgeLiveTest::cleanup()
{
    m_window.reset();
    UserDialogs::setStartupOverride(nullptr);
    m_dialogs.asked.clear();
    m_dialogs.questionAnswer = QMessageBox::No;
    if (m_simulator)
        m_simulator->stop();
    m_simulator.reset();
    m_config.reset();
}

void WindowAgeLiveTest::startCrate(const QByteArray& modulesJson)
{
    m_config = std::make_unique<QTemporaryFile>();
    QVERIFY(m_config->open());
    m_config->write("{\"crate\": {\"bootDelayMs\": 0}, \"modules\": " + modulesJson + "}");
    m_config->close();
    m_simulator = std::make_unique<SimulatorProcess>();
    QVERIFY2(m_simulator->startForProgram(m_config->fileName()), qPrintable(m_simulator->output()));
    UserDialogs::setStartupOverride(&m_dialogs);
    m_window = std::make_unique<TesmarControl>();
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
    auto* table = m_window->findChild<ChannelTable*>();
    QTRY_VERIFY_WITH_TIMEOUT(table->item(0, ChannelTable::ColumnStatus) != nullptr, 5000);
}

void WindowAgeLiveTest::switchOn(int slot, int channel, float volts)
{
    SnmpController controller;
    QVERIFY(controller.open(m_simulator->address()));
    SnmpModule module(&controller, slot);
    QVERIFY(module.setChannelVoltageSet(channel, volts));
    QVERIFY(module.setChannelOn(channel));
}

void WindowAgeLiveTest::passFreshnessTime()
{
    QTest::qWait(300);
    SteadyClock::advanceMs(ModuleSnapshot::freshForMs);
}

QTableWidget* WindowAgeLiveTest::overviewTable() const
{
    return child<QTableWidget>(m_window->findChild<DialogOverview*>(), "table");
}

QString WindowAgeLiveTest::overviewText(int row, int column) const
{
    QTableWidgetItem* item = overviewTable()->item(row, column);
    return item ? item->text() : QString();
}

void WindowAgeLiveTest::overviewSaysNotConnectedWhenCrateStops_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("crate switched off") << "power off";
    QTest::newRow("crate silent") << "silent on";
}

void WindowAgeLiveTest::overviewSaysNotConnectedWhenCrateStops()
{
    QFETCH(QString, fault);
    startCrate(R"([{"slot": 0, "type": "THE1640p"}, {"slot": 1, "type": "THE1640p"}])");
    switchOn(0, 0, 100.0f);
    m_window->on_actionModuleOverview_triggered();
    const int channel0 = DialogOverview::firstChannelRow;
    QTRY_COMPARE_WITH_TIMEOUT(overviewText(DialogOverview::runningStateRow, 0), QStringLiteral("HV On"), 8000);
    QTRY_VERIFY_WITH_TIMEOUT(overviewText(channel0, 0).startsWith(QStringLiteral("100.")), 8000);

    QVERIFY(m_simulator->command(fault));
    passFreshnessTime();
    // Nothing answered for the freshness time: every column says so, no value stays.
    for (int column : {0, 1})
        QTRY_COMPARE_WITH_TIMEOUT(
            overviewText(DialogOverview::runningStateRow, column), QStringLiteral("Not connected"), 1200);
    QCOMPARE(overviewText(channel0, 0), QStringLiteral("---"));
    QCOMPARE(overviewTable()->item(channel0, 0)->data(DialogOverview::currentTextRole).toString(), QStringLiteral("---"));
    // A crate switched off still answers: the status bar names the bus state in red; a silent
    // crate is not called powered off.
    auto* controllerLabel = m_window->statusBar()->findChild<QLabel*>(QStringLiteral("statusLabelController"));
    if (fault == QLatin1String("power off")) {
        QTRY_VERIFY2_WITH_TIMEOUT(controllerLabel->text().startsWith(QStringLiteral("Connected to "))
                && controllerLabel->text().endsWith(QStringLiteral(". <font color=\"red\">MPOD is powered off!")),
            qPrintable(controllerLabel->text()), 5000);
    } else {
        QVERIFY2(!controllerLabel->text().contains(QStringLiteral("powered off")), qPrintable(controllerLabel->text()));
    }
}

void WindowAgeLiveTest::overviewShowsEveryChannelOfALargeModule()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}, {"slot": 3, "type": "THM4805p"}])");
    switchOn(3, 40, 500.0f);
    m_window->on_actionModuleOverview_triggered();
    auto* overview = m_window->findChild<DialogOverview*>();
    QTRY_COMPARE_WITH_TIMEOUT(overview->channelRowCount(), 48, 5000);
    QCOMPARE(overviewTable()->rowCount(), DialogOverview::firstChannelRow + 48);
    QCOMPARE(overviewTable()->columnCount(), 2);
    const int row40 = DialogOverview::firstChannelRow + 40;
    QCOMPARE(overviewTable()->verticalHeaderItem(row40)->text(), QStringLiteral("Channel 40"));
    // Ramps up at the module's speed; the overview shows it on its way and then on.
    QTRY_VERIFY_WITH_TIMEOUT(overviewText(row40, 1).toDouble() > 1.0, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(overviewText(DialogOverview::runningStateRow, 1) != QStringLiteral("HV Off"), 8000);
    // The 16-channel module has no rows beyond its channels.
    QCOMPARE(overviewText(row40, 0), QString());
}

void WindowAgeLiveTest::toolWindowsBlankStaleWordsAndDisableSet()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    switchOn(0, 0, 100.0f);
    m_window->on_actionChannelStatusControl_triggered();
    m_window->on_actionModuleStatusControl_triggered();
    auto* channel = m_window->findChild<DialogChannelControl*>();
    auto* moduleWindow = m_window->findChild<DialogModuleControl*>();
    auto* isOn = child<QCheckBox>(channel, "chk_isON");
    auto* setOn = child<QCheckBox>(channel, "chk_setON");
    auto* setControl = child<QPushButton>(channel, "btnSetControl");
    auto* moduleStatus = child<QWidget>(moduleWindow, "grpStatus");
    QTRY_VERIFY_WITH_TIMEOUT(isOn->isChecked() && setOn->isChecked() && setControl->isEnabled(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(moduleStatus->isEnabled(), 5000);
    QVERIFY(isOn->isEnabled());

    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    QVERIFY(m_simulator->command(QStringLiteral("power off")));
    passFreshnessTime();
    // Unknown after the freshness time (and a tick): not ticked, not enabled, nothing to set.
    QTRY_VERIFY_WITH_TIMEOUT(!isOn->isChecked() && !setOn->isChecked(), 1200);
    QVERIFY(!isOn->isEnabled());
    QVERIFY(!setOn->isEnabled());
    QVERIFY(!setControl->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!moduleStatus->isEnabled(), 1200);
    QVERIFY(!child<QPushButton>(moduleWindow, "btnSetControl")->isEnabled());
    // The table's status cell too (at its own next tick): "---" without the green of "On".
    auto* table = m_window->findChild<ChannelTable*>();
    const auto statusCell = [table] { return table->item(0, ChannelTable::ColumnStatus); };
    QTRY_VERIFY_WITH_TIMEOUT(
        !statusCell() || statusCell()->text() == QStringLiteral("---") || statusCell()->text().isEmpty(), 1200);
    QVERIFY(!statusCell() || statusCell()->background().style() == Qt::NoBrush);
}

void WindowAgeLiveTest::crateOffAsksFirst()
{
    startCrate(R"([{"slot": 0, "type": "THE1640p"}])");
    m_window->on_actionCrates_triggered();
    auto* crates = m_window->findChild<DialogCrate*>();
    auto* power = child<QPushButton>(crates, "btnPowerOn");
    QTRY_COMPARE_WITH_TIMEOUT(power->text(), QStringLiteral("O&ff"), 5000);
    const QString serialNumber = child<QListWidget>(crates, "crateList")->currentItem()->text();
    QSignalSpy sent(crates, &DialogCrate::setPowerOn);

    m_dialogs.questionAnswer = QMessageBox::No;
    power->click();
    QCOMPARE(m_dialogs.questions(),
        QStringList{QStringLiteral("Switch crate %1 off? Every channel loses its high voltage at once, without ramp.")
                        .arg(serialNumber)});
    QCOMPARE(sent.count(), 0);
    QCOMPARE(power->text(), QStringLiteral("O&ff"));

    // A crate that stops answering: its values turn grey, and once they are stale the state is
    // unknown and the button does nothing.
    auto* fan = child<QLineEdit>(crates, "txtFan1");
    auto* supply = child<QLineEdit>(crates, "txtSupply24");
    const QString fanSpeed = fan->text();
    QVERIFY(fanSpeed != QStringLiteral("---"));
    QVERIFY(fan->palette().color(QPalette::Text) != QColor(Qt::gray));
    QVERIFY(m_simulator->command(QStringLiteral("silent on")));
    QTest::qWait(300);
    SteadyClock::advanceMs(FreshnessRules::ageingAfterMs + 100);
    for (QLineEdit* field : {fan, supply})
        QTRY_COMPARE_WITH_TIMEOUT(field->palette().color(QPalette::Text), QColor(Qt::gray), 1200);
    QCOMPARE(fan->text(), fanSpeed);
    QVERIFY(power->isEnabled());
    SteadyClock::advanceMs(ModuleSnapshot::freshForMs);
    QTRY_VERIFY_WITH_TIMEOUT(!power->isEnabled(), 1200);
    QCOMPARE(power->text(), QStringLiteral("---"));
    QCOMPARE(child<QLineEdit>(crates, "txtFan1")->text(), QStringLiteral("---"));
    QVERIFY(!child<QPushButton>(crates, "setFanSpeed")->isEnabled());
    QVERIFY(m_simulator->command(QStringLiteral("silent off")));
    QTRY_COMPARE_WITH_TIMEOUT(power->text(), QStringLiteral("O&ff"), 5000);
    QVERIFY(fan->text() != QStringLiteral("---"));
    QVERIFY(fan->palette().color(QPalette::Text) != QColor(Qt::gray));

    m_dialogs.questionAnswer = QMessageBox::Yes;
    power->click();
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(0).toBool(), false);
}

int main(int argc, char** argv)
{
    IsolatedSettings settings; // before the application: no test touches the user's settings
    QApplication application(argc, argv);
    WindowAgeLiveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowAgeLiveTest.moc"
