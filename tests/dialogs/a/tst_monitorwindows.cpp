// The monitoring tool windows: the overview, channel and module status/control, the channel
// bounds and the interlock out, driven through their update slots and behind the main window
// with in-memory modules (what they show and write), and the refresh that feeds them.
#include "app/TesmarControl.h"
#include "app/UserDialogs.h"
#include "device/DeviceSession.h"
#include "device/ModuleTypes.h"
#include "dialogs/DialogChannelBounds.h"
#include "dialogs/DialogChannelControl.h"
#include "dialogs/DialogInterlockOut.h"
#include "dialogs/DialogModuleControl.h"
#include "dialogs/DialogOverview.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"
#include "common/SimulatorProcess.h"
#include "tests/app/IsolatedSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

namespace {
// A module kind that reads none of the tool-window quantities (as an MPOD module).
class ConstantModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    bool reports(Quantity) const override { return false; }
};

struct ModuleSetup
{
    int channels = 8;
    int serialNumber = 4711;
    bool constant = false;
};

QCheckBox* box(QWidget* window, const char* name)
{
    auto* found = window->findChild<QCheckBox*>(QLatin1String(name));
    if (!found)
        qFatal("no check box %s", name);
    return found;
}

QString cellText(QTableWidget* table, int row, int column, int role = Qt::DisplayRole)
{
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->data(role).toString() : QString();
}
} // namespace

class MonitorWindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void overviewColumns_data();
    void overviewColumns();
    void overviewShowsSilentModule();
    void overviewModes();
    void overviewRunningState_data();
    void overviewRunningState();

    void channelWindowShowsOnlyItsChannel();
    void channelWindowSetControlReadsFresh();
    void measurementBoxes();
    void moduleWindowChannelBlocks_data();
    void moduleWindowChannelBlocks();
    void moduleWindowSelectAllAndEqualUpdate();

    void boundsFollowTheCurrentRow();
    void boundsUpdateNeverWrites();
    void boundsClickWritesFreshWord();
    void interlockOutWindow();

    void windowValuesOnlyWhileVisible();
    void unreadableQuantitiesAreNotAvailable();
    void channelWindowAgainstCrate();

private:
    // A session of in-memory modules, without the main window.
    void startSession(const QVector<ModuleSetup>& setups);
    // The main window over in-memory modules.
    void startWindow(const QVector<ModuleSetup>& setups);
    QTableWidget* overviewTable(QWidget* overview) const { return overview->findChild<QTableWidget*>("table"); }

    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<TesmarControl> m_window;
    QVector<MemoryModule*> m_modules; // owned by the session
};

void MonitorWindowsTest::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void MonitorWindowsTest::cleanup()
{
    m_window.reset();
    m_session.reset();
    m_modules.clear();
}

static std::unique_ptr<MemoryControllerFactory> factoryFor(const QVector<ModuleSetup>& setups, QVector<MemoryModule*>* made)
{
    return std::make_unique<MemoryControllerFactory>([setups, made] {
        QVector<MemoryModule*> modules;
        for (const ModuleSetup& setup : setups)
            modules.append(setup.constant ? new ConstantModule(setup.channels, 20, setup.serialNumber)
                                          : new MemoryModule(setup.channels, 20, setup.serialNumber));
        *made = modules;
        return modules;
    });
}

void MonitorWindowsTest::startSession(const QVector<ModuleSetup>& setups)
{
    m_session = std::make_unique<DeviceSession>(factoryFor(setups, &m_modules));
    QVERIFY(m_session->connectTo(QStringLiteral("memory")));
}

void MonitorWindowsTest::startWindow(const QVector<ModuleSetup>& setups)
{
    m_window = std::make_unique<TesmarControl>(factoryFor(setups, &m_modules));
    m_window->show();
    QCOMPARE(m_modules.size(), setups.size());
}

// ---- Overview ----

void MonitorWindowsTest::overviewColumns_data()
{
    QTest::addColumn<QVector<int>>("serialNumbers");
    QTest::addColumn<int>("columns");
    QVector<int> eleven;
    for (int n = 1; n <= 11; ++n)
        eleven.append(n);
    QTest::newRow("an eleventh module gets no column") << eleven << 10;
    QTest::newRow("two modules with serial number 0 get a column each") << QVector<int>{0, 0} << 2;
}

void MonitorWindowsTest::overviewColumns()
{
    QFETCH(QVector<int>, serialNumbers);
    QFETCH(int, columns);
    DialogOverview overview(nullptr);
    overview.reset();
    for (int sn : serialNumbers)
        overview.setModuleHeader(sn, QStringLiteral("slot"), QStringLiteral("fw"), QStringLiteral("1"));
    QCOMPARE(overview.columnCount(), columns);

    // One refresh turn: every module gives its own values, in list order.
    overview.updateAllModulesStarted();
    for (int index = 0; index < serialNumbers.size(); ++index) {
        const int sn = serialNumbers.at(index);
        overview.updateModuleStarted(sn);
        overview.updateChannelVoltageMeasure(sn, 0, QStringLiteral("V%1").arg(index));
        overview.updateChannelCurrentMeasure(sn, 0, QStringLiteral("I%1").arg(index));
        overview.updateChannelVoltageMeasure(sn, 32, QStringLiteral("hidden"));
        overview.updateModuleRunningState(sn, QStringLiteral("HV On"), Qt::black);
        overview.updateModuleCompleted(sn);
    }
    QTableWidget* table = overviewTable(&overview);
    QCOMPARE(table->rowCount(), 34);
    for (int column = 0; column < columns; ++column) {
        QCOMPARE(cellText(table, 2, column), QStringLiteral("V%1").arg(column));
        QCOMPARE(cellText(table, 2, column, DialogOverview::currentTextRole), QStringLiteral("I%1").arg(column));
    }
    for (int row = 0; row < table->rowCount(); ++row) {
        for (int column = 0; column < table->columnCount(); ++column)
            QVERIFY(cellText(table, row, column) != QLatin1String("hidden"));
    }
}

void MonitorWindowsTest::overviewShowsSilentModule()
{
    DialogOverview overview(nullptr);
    overview.setModuleHeader(7, QStringLiteral("slot"), QString(), QString());
    QTableWidget* table = overviewTable(&overview);
    const auto turn = [&](bool answers) {
        overview.updateAllModulesStarted();
        overview.updateModuleStarted(7);
        if (answers) {
            overview.updateChannelVoltageMeasure(7, 1, QStringLiteral("100.0"));
            overview.updateChannelCurrentMeasure(7, 1, QStringLiteral("0.010"));
            overview.updateModuleRunningState(7, QStringLiteral("HV On"), Qt::black);
        }
        overview.updateModuleCompleted(7);
    };
    turn(true);
    QCOMPARE(cellText(table, 3, 0), QStringLiteral("100.0"));
    QCOMPARE(cellText(table, 0, 0), QStringLiteral("HV On"));
    turn(false);
    QCOMPARE(cellText(table, 0, 0), QStringLiteral("Not connected"));
    QCOMPARE(cellText(table, 3, 0), QStringLiteral("---"));
    QCOMPARE(cellText(table, 3, 0, DialogOverview::currentTextRole), QStringLiteral("---"));
    QCOMPARE(cellText(table, 4, 0), QString()); // a channel never shown stays blank
}

void MonitorWindowsTest::overviewModes()
{
    DialogOverview overview(nullptr);
    overview.setModuleHeader(1, QString(), QString(), QString());
    QTableWidget* table = overviewTable(&overview);
    overview.updateChannelVoltageMeasure(1, 0, QStringLiteral("5.0"));
    overview.updateChannelCurrentMeasure(1, 0, QStringLiteral("0.5"));
    overview.findChild<QRadioButton*>("showCurrents")->click();
    // The cells follow with the next values, not at the click.
    QCOMPARE(cellText(table, 2, 0), QStringLiteral("5.0"));
    overview.updateChannelCurrentMeasure(1, 0, QStringLiteral("0.6"));
    QCOMPARE(cellText(table, 2, 0), QStringLiteral("0.6"));
    QCOMPARE(cellText(table, 2, 0, DialogOverview::currentTextRole), QString());
    overview.findChild<QRadioButton*>("showVoltages")->click();
    overview.updateChannelVoltageUnit(1, 0, QStringLiteral("kV"));
    QCOMPARE(cellText(table, 1, 0), QStringLiteral("kV"));
    QCOMPARE(overview.displayMode(), DialogOverview::ShowVoltages);
}

void MonitorWindowsTest::overviewRunningState_data()
{
    QTest::addColumn<quint32>("status0");
    QTest::addColumn<quint32>("status1");
    QTest::addColumn<QString>("state");
    QTest::newRow("ramping and tripped") << quint32(0x0010) << quint32(0x2000) << "Error";
    QTest::newRow("all off") << quint32(0) << quint32(0) << "HV Off";
    QTest::newRow("on and ramping") << quint32(0x0008) << quint32(0x0018) << "Ramping";
}

void MonitorWindowsTest::overviewRunningState()
{
    QFETCH(quint32, status0);
    QFETCH(quint32, status1);
    QFETCH(QString, state);
    // Two modules without a serial number, in two columns with their own states.
    startWindow({{2, 0}, {2, 0}});
    MemoryModule::Channel channel;
    channel.status = status0;
    m_modules.at(0)->setChannel(0, channel);
    channel.status = status1;
    m_modules.at(0)->setChannel(1, channel);
    m_window->on_actionModuleOverview_triggered();
    auto* overview = m_window->findChild<DialogOverview*>();
    QVERIFY(overview && overview->isVisible());
    QTableWidget* table = overviewTable(overview);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 0), state, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 1), QStringLiteral("HV Off"), 5000);
    // The second module stops answering: its column says so, the first one's stays live.
    m_modules.at(1)->setAnswering(false);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 1), QStringLiteral("Not connected"), 8000);
    QCOMPARE(cellText(table, 0, 0), state);
}

// ---- Channel and module status/control ----

void MonitorWindowsTest::channelWindowShowsOnlyItsChannel()
{
    DialogChannelControl window(nullptr);
    window.currentChannelChanged(4711, 2);
    QCOMPARE(window.windowTitle(), QStringLiteral("4711: Channel 2 Status / Control"));
    window.updateChannelStatus(4711, 2, 0x0008);
    QVERIFY(box(&window, "chk_isON")->isChecked());
    window.updateChannelStatus(4711, 3, 0x2000); // another channel
    window.updateChannelStatus(9999, 2, 0x2000); // another module
    QVERIFY(box(&window, "chk_isON")->isChecked());
    QVERIFY(!box(&window, "chk_isTRIP")->isChecked());

    // An update equal to the shown word leaves the operator's ticks alone.
    window.updateChannelEventMask(4711, 2, 0x0008);
    QVERIFY(box(&window, "chk_MEON2OFF")->isChecked());
    box(&window, "chk_METRIP")->setChecked(true);
    window.updateChannelEventMask(4711, 2, 0x0008);
    QVERIFY(box(&window, "chk_METRIP")->isChecked());
    window.updateChannelEventMask(4711, 2, 0x0010);
    QVERIFY(!box(&window, "chk_METRIP")->isChecked());
    QVERIFY(box(&window, "chk_MEEOR")->isChecked());
}

void MonitorWindowsTest::channelWindowSetControlReadsFresh()
{
    startSession({{8, 4711}});
    MemoryModule* module = m_modules.at(0);
    MemoryModule::Channel channel;
    channel.control = 0x0100; // a bit the window does not show
    module->setChannel(3, channel);
    DialogChannelControl window(m_session.get());
    window.currentChannelChanged(4711, 3);
    QSignalSpy control(&window, &DialogChannelControl::setChannelControl);
    box(&window, "chk_setON")->setChecked(true);
    window.findChild<QPushButton*>("btnSetControl")->click();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(1).toInt(), 3);
    QCOMPARE(control.at(0).at(2).value<quint32>(), quint32(0x0108));

    // A module that does not answer gives no word to modify: nothing is sent.
    module->setAnswering(false);
    window.findChild<QPushButton*>("btnSetControl")->click();
    window.findChild<QPushButton*>("btnSetMask")->click();
    QCOMPARE(control.size(), 1);
}

void MonitorWindowsTest::measurementBoxes()
{
    DialogChannelControl window(nullptr);
    window.currentChannelChanged(5, 0);
    window.updateChannelControl(5, 0, 0);
    window.updateModuleFirmwareName(5, QString::fromLatin1(ModuleTypes::measurement));
    QVERIFY(box(&window, "setExternalMeasurementOn")->isEnabled());
    window.updateModuleFirmwareName(6, QStringLiteral("THE1640p")); // another module
    QVERIFY(box(&window, "setRippleMeasurementOn")->isEnabled());
    window.updateModuleFirmwareName(5, QStringLiteral("THE1640p"));
    QVERIFY(!box(&window, "setExternalMeasurementOn")->isEnabled());
    QVERIFY(!box(&window, "setRippleMeasurementOn")->isEnabled());
}

void MonitorWindowsTest::moduleWindowChannelBlocks_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("enabled");
    QTest::newRow("8") << 8 << 8;
    QTest::newRow("6: whole blocks only") << 6 << 4;
    QTest::newRow("3") << 3 << 0;
    QTest::newRow("48") << 48 << 32;
}

void MonitorWindowsTest::moduleWindowChannelBlocks()
{
    QFETCH(int, channels);
    QFETCH(int, enabled);
    DialogModuleControl window(nullptr);
    window.setChannelCount(channels);
    window.updateModuleEventChannelStatus(0, 0);
    window.updateModuleEventChannelMask(0, 0);
    for (int channel = 0; channel < 32; ++channel) {
        for (const char* prefix : {"chk_ECS", "chk_ECM"})
            QCOMPARE(box(&window, qPrintable(QStringLiteral("%1%2").arg(prefix).arg(channel, 2, 10, QLatin1Char('0'))))
                         ->isEnabled(),
                channel < enabled);
    }
}

void MonitorWindowsTest::moduleWindowSelectAllAndEqualUpdate()
{
    startSession({{8, 4711}});
    DialogModuleControl window(m_session.get());
    QCOMPARE(window.serialNumber(), 4711);
    QSignalSpy mask(&window, &DialogModuleControl::setModuleEventChannelMask);
    auto* select = window.findChild<QPushButton*>("btnSelectECM");
    select->click();
    QCOMPARE(select->text(), QStringLiteral("Unselect All"));
    window.findChild<QPushButton*>("btnSetECM")->click();
    QCOMPARE(mask.at(0).at(1).value<quint32>(), quint32(0xFF)); // the module's eight channels
    select->click();
    QCOMPARE(select->text(), QStringLiteral("Select All"));
    window.findChild<QPushButton*>("btnSetECM")->click();
    QCOMPARE(mask.at(1).at(1).value<quint32>(), quint32(0));

    window.updateModuleEventMask(4711, 0x0002);
    QVERIFY(box(&window, "chk_MERSTA")->isChecked());
    box(&window, "chk_MESRVC")->setChecked(true);
    window.updateModuleEventMask(4711, 0x0002);
    window.updateModuleEventMask(1, 0x0000); // another module
    QVERIFY(box(&window, "chk_MESRVC")->isChecked());
    QVERIFY(box(&window, "chk_MERSTA")->isChecked());

    // "Set Control" over the word read from the module: its other bits stay.
    {
        std::lock_guard<std::recursive_mutex> lock(m_modules.at(0)->m_mutex);
        m_modules.at(0)->state.control = 0x0800;
    }
    QSignalSpy control(&window, &DialogModuleControl::setModuleControl);
    box(&window, "chk_setKILLena")->setChecked(true);
    window.findChild<QPushButton*>("btnSetControl")->click();
    QCOMPARE(control.at(0).at(1).value<quint32>(), quint32(0x4800));
}

// ---- Bounds and interlock out ----

void MonitorWindowsTest::boundsFollowTheCurrentRow()
{
    startWindow({{8, 4711}});
    auto* table = m_window->findChild<QTableWidget*>("table");
    QTRY_VERIFY_WITH_TIMEOUT(table->rowCount() == 8, 5000);
    table->setCurrentCell(5, 0);
    m_window->on_actionBounds_triggered();
    auto* bounds = m_window->findChild<DialogChannelBounds*>();
    QVERIFY(bounds);
    QCOMPARE(bounds->channel(), 5);
    QCOMPARE(bounds->serialNumber(), 4711);
    QCOMPARE(bounds->windowTitle(), QStringLiteral("Channel 5 Voltage and Current Bounds"));
    table->setCurrentCell(2, 0);
    QCOMPARE(bounds->channel(), 2);

    // Bounds and nominal values of the shown channel arrive while the window is visible.
    MemoryModule::Channel channel;
    channel.voltageNominal = 1000;
    channel.voltageIlkMax = 900;
    m_modules.at(0)->setChannel(2, channel);
    auto* maximum = bounds->findChild<QDoubleSpinBox*>("spbVoltageIlkMax");
    // A refresh may read the nominal value before the change and the bound after it: the
    // nominal value follows with the next refresh.
    QTRY_COMPARE_WITH_TIMEOUT(maximum->value(), 900.0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(maximum->maximum(), 1010.0, 5000);
    QCOMPARE(bounds->findChild<QDoubleSpinBox*>("spbVoltageIlkMin")->maximum(), 1000.0);
}

void MonitorWindowsTest::boundsUpdateNeverWrites()
{
    startSession({{8, 4711}});
    DialogChannelBounds bounds(m_session.get());
    bounds.prepare(QStringLiteral("V"), 1, QStringLiteral("mA"), 3);
    bounds.currentChannelChanged(4711, 1);
    QSignalSpy control(&bounds, &DialogChannelBounds::setChannelControl);
    // Another channel's word (on, emergency off, both asymmetric bits) changes nothing here.
    bounds.updateChannelControl(4711, 2, 0x0C28);
    bounds.updateChannelControl(1, 1, 0x0C28);
    QVERIFY(!box(&bounds, "chkAVBND")->isChecked());
    // This channel's word draws the boxes and writes nothing.
    bounds.updateChannelCurrentInterlockMaxSet(4711, 1, 0.5f, QStringLiteral("mA"));
    QVERIFY(!bounds.findChild<QPushButton*>("btnSetBounds")->isEnabled()); // control word not known yet
    bounds.updateChannelControl(4711, 1, 0x0400);
    QVERIFY(box(&bounds, "chkACBND")->isChecked());
    QVERIFY(bounds.findChild<QDoubleSpinBox*>("spbCurrentIlkMin")->isEnabled());
    QVERIFY(!bounds.findChild<QDoubleSpinBox*>("spbVoltageIlkMin")->isEnabled());
    QCOMPARE(control.size(), 0);
}

void MonitorWindowsTest::boundsClickWritesFreshWord()
{
    startSession({{8, 4711}});
    MemoryModule::Channel channel;
    channel.control = 0x0008; // switched on after the window last heard of it
    m_modules.at(0)->setChannel(3, channel);
    DialogChannelBounds bounds(m_session.get());
    bounds.prepare(QStringLiteral("V"), 1, QStringLiteral("mA"), 3);
    bounds.currentChannelChanged(4711, 3);
    bounds.updateChannelControl(4711, 3, 0x0000);
    bounds.updateChannelVoltageInterlockMaxSet(4711, 3, 100, QStringLiteral("V"));
    QSignalSpy control(&bounds, &DialogChannelBounds::setChannelControl);
    box(&bounds, "chkAVBND")->click();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(2).value<quint32>(), quint32(0x0808));
    QCOMPARE(bounds.findChild<QLabel*>("lblVoltageIlkMax")->text(), QStringLiteral("Voltage Interlock Max Set (V)"));

    // Not answered: nothing written, the box back as it was.
    m_modules.at(0)->setAnswering(false);
    box(&bounds, "chkACBND")->click();
    QCOMPARE(control.size(), 1);
    QVERIFY(!box(&bounds, "chkACBND")->isChecked());
}

void MonitorWindowsTest::interlockOutWindow()
{
    startSession({{8, 4711}});
    DialogInterlockOut window(m_session.get());
    window.updateInterlockStatus(4711, 0x8001);
    for (QCheckBox* status : window.findChild<QGroupBox*>("grpInterlockStatus")->findChildren<QCheckBox*>())
        QCOMPARE(status->isChecked(),
            status->objectName() == QLatin1String("chk_isIlkEnabled")
                || status->objectName() == QLatin1String("chk_isIlkTestLoops0"));
    window.updateInterlockChannelActualActive(4711, 0x1000);
    for (QCheckBox* active : window.findChild<QGroupBox*>("grpChannelActualActive")->findChildren<QCheckBox*>())
        QVERIFY(!active->isChecked());
    window.updateInterlockCount(4711, 12);
    window.updateInterlockCount(1, 99); // another module
    QCOMPARE(window.findChild<QLineEdit*>("txtCount")->text(), QStringLiteral("12"));

    {
        std::lock_guard<std::recursive_mutex> lock(m_modules.at(0)->m_mutex);
        m_modules.at(0)->state.ilkOutControl = 0x1010; // reserved bits 4 and 12
    }
    QSignalSpy control(&window, &DialogInterlockOut::setInterlockControl);
    box(&window, "chk_setIlkEnable")->setChecked(true);
    window.findChild<QPushButton*>("btnSetInterlockControl")->click();
    QCOMPARE(control.at(0).at(1).value<quint32>(), quint32(0x9010));
}

// ---- The refresh behind the windows ----

void MonitorWindowsTest::windowValuesOnlyWhileVisible()
{
    startWindow({{4, 4711}});
    MemoryModule* module = m_modules.at(0);
    {
        std::lock_guard<std::recursive_mutex> lock(module->m_mutex);
        module->state.control = 0x4000;
        module->state.restartTime = 30;
        module->state.ilkOutCount = 3;
    }
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::ToolWindowValues));
    QSignalSpy control(m_window.get(), &TesmarControl::updateModuleControl);
    QSignalSpy restart(m_window.get(), &TesmarControl::updateModuleRestartTime);
    QSignalSpy count(m_window.get(), &TesmarControl::updateInterlockCount);
    m_window->on_actionModuleStatusControl_triggered();
    auto* window = m_window->findChild<DialogModuleControl*>();
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_setKILLena")->isChecked(), 6000);
    QCOMPARE(control.last().at(1).value<quint32>(), quint32(0x4000));
    QCOMPARE(restart.last().at(1).value<quint32>(), quint32(30));
    QCOMPARE(count.size(), 0); // no interlock window open

    m_window->on_actionInterlockOut_triggered();
    auto* interlock = m_window->findChild<DialogInterlockOut*>();
    QTRY_COMPARE_WITH_TIMEOUT(interlock->findChild<QLineEdit*>("txtCount")->text(), QStringLiteral("3"), 6000);

    window->hide();
    interlock->hide();
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::ToolWindowValues));
    control.clear();
    QTest::qWait(2 * 11 * Poller::tickMs + 200); // two module refreshes
    QCOMPARE(control.size(), 0);
}

void MonitorWindowsTest::unreadableQuantitiesAreNotAvailable()
{
    startWindow({{8, 4711, true}});
    QSignalSpy status(m_window.get(), &TesmarControl::updateModuleStatus);
    QSignalSpy control(m_window.get(), &TesmarControl::updateModuleControl);
    QSignalSpy mask(m_window.get(), &TesmarControl::updateChannelEventMask);
    QSignalSpy eventStatus(m_window.get(), &TesmarControl::updateChannelEventStatus);
    m_window->on_actionModuleStatusControl_triggered();
    m_window->on_actionChannelStatusControl_triggered();
    QTRY_VERIFY_WITH_TIMEOUT(!eventStatus.isEmpty() && !status.isEmpty(), 6000);
    QCOMPARE(control.size(), 0);
    QCOMPARE(mask.size(), 0);
    auto* window = m_window->findChild<DialogModuleControl*>();
    auto* eventMask = window->findChild<QGroupBox*>("grpEventMask");
    QVERIFY(!eventMask->isEnabled());
    QCOMPARE(eventMask->title(), QStringLiteral("Event Mask (not available)"));
    QVERIFY(!m_window->findChild<DialogChannelControl*>()->findChild<QGroupBox*>("grpEventMask")->isEnabled());
}

void MonitorWindowsTest::channelWindowAgainstCrate()
{
    // Through our SNMP library to the simulator: what the window shows comes from the crate, and
    // its commands reach it.
    QTemporaryFile config;
    QVERIFY(config.open());
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THE1640p"}]})");
    config.close();
    SimulatorProcess crate;
    QVERIFY2(crate.startForProgram(config.fileName()), qPrintable(crate.output()));
    QVERIFY(crate.command(QStringLiteral("inhibit 0 2 on")));

    m_window = std::make_unique<TesmarControl>();
    m_window->show();
    auto* table = m_window->findChild<QTableWidget*>("table");
    QTRY_VERIFY_WITH_TIMEOUT(table->rowCount() == 16, 5000);
    table->setCurrentCell(2, 0);
    QSignalSpy nominal(m_window.get(), &TesmarControl::updateChannelVoltageHardwareNominal);
    m_window->on_actionChannelStatusControl_triggered();
    auto* window = m_window->findChild<DialogChannelControl*>();
    QCOMPARE(window->channel(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_EEINH")->isChecked(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_isEINH")->isChecked(), 5000);
    QVERIFY(!window->findChild<QGroupBox*>("grpEventMask")->isEnabled()); // an MPOD channel has none
    QTRY_VERIFY(!nominal.isEmpty());
    QCOMPARE(nominal.last().at(2).toFloat(), 4000.0f);
    QCOMPARE(nominal.last().at(3).toString(), QStringLiteral("V"));

    QVERIFY(crate.command(QStringLiteral("inhibit 0 2 off")));
    window->findChild<QPushButton*>("btnClearEvents")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!box(window, "chk_EEINH")->isChecked(), 5000);
    box(window, "chk_setON")->setChecked(true);
    window->findChild<QPushButton*>("btnSetControl")->click();
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_isON")->isChecked(), 5000);
    m_window.reset();
    QVERIFY(crate.stop());
}

int main(int argc, char** argv)
{
    IsolatedSettings settings; // before the application: no test touches the user's settings
    QApplication application(argc, argv);
    MonitorWindowsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_monitorwindows.moc"
