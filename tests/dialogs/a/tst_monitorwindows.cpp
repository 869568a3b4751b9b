// The monitoring tool windows: the overview, channel and module status/control, the channel
// bounds and the interlock out, driven through their update slots and behind the main window
// with in-memory modules (what they show and write), and the refresh that feeds them.
#include "app/TesmarControl.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/ModuleTypes.h"
#include "dialogs/DialogChannelBounds.h"
#include "dialogs/DialogChannelControl.h"
#include "dialogs/DialogInterlockOut.h"
#include "dialogs/DialogModuleControl.h"
#include "dialogs/DialogOverview.h"
#include "dialogs/common/UserDialogs.h"

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

#include <atomic>
#include <memory>

namespace {
// A module kind that reads none of the tool-window quantities (as an MPOD module).
class ConstantModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    bool reports(Quantity) const override { return false; }
};

// A module that calls itself a measurement module.
class MeasurementModule : public MemoryModule
{
public:
    MeasurementModule(int channels, int serialNumber)
        : MemoryModule(channels, ModuleTypes::measurementDeviceClass, serialNumber)
    {
        m_firmwareName = QString::fromLatin1(ModuleTypes::measurement);
    }
};

// A module whose channel reads miss channel 1 while `missing` is set (a lossy connection).
class PartialModule : public MemoryModule
{
public:
    using MemoryModule::MemoryModule;
    std::atomic<bool> missing{false};
    QVector<ChannelReading> readChannels() override
    {
        QVector<ChannelReading> readings = MemoryModule::readChannels();
        if (missing && readings.size() > 1)
            readings[1].complete = false;
        return readings;
    }
};

struct ModuleSetup
{
    int channels = 8;
    int serialNumber = 4711;
    bool constant = false;
    bool partial = false;
    bool measurement = false;
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

    void overviewColumnsAndRows();
    void overviewModes();
    void overviewRunningState_data();
    void overviewRunningState();
    void overviewStateUnknownWithoutEveryChannel();

    void channelWindowShowsOnlyItsChannel();
    void channelWindowSendsOnlyChangedBits();
    void measurementBoxes();
    void moduleWindowChannelBlocks_data();
    void moduleWindowChannelBlocks();
    void moduleWindowSelectAllAndEqualUpdate();

    void boundsFollowTheCurrentRow();
    void boundsUpdateNeverWrites();
    void boundsClickWritesFreshWord();
    void typedBoundSurvivesRefreshAndIsSent();
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
    DialogOverview* openOverview();

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
                    : setup.partial       ? new PartialModule(setup.channels, 20, setup.serialNumber)
                    : setup.measurement   ? new MeasurementModule(setup.channels, setup.serialNumber)
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
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->deviceSession()->isConnecting(), 5000);
    QCOMPARE(m_modules.size(), setups.size());
}

// ---- Overview ----

DialogOverview* MonitorWindowsTest::openOverview()
{
    m_window->on_actionModuleOverview_triggered();
    auto* overview = m_window->findChild<DialogOverview*>();
    if (overview && !overview->isVisible())
        return nullptr;
    return overview;
}

void MonitorWindowsTest::overviewColumnsAndRows()
{
    // Eleven modules, two without a serial number, one with 48 channels: a column each, a row
    // for every channel of the largest.
    QVector<ModuleSetup> setups;
    for (int n = 1; n <= 11; ++n)
        setups.append({n == 5 ? 48 : 4, n <= 2 ? 0 : n});
    startWindow(setups);
    MemoryModule::Channel channel;
    channel.voltageMeasure = 500;
    m_modules.at(4)->setChannel(40, channel);
    channel.voltageMeasure = 7;
    m_modules.at(1)->setChannel(0, channel);
    DialogOverview* overview = openOverview();
    QVERIFY(overview);
    QTableWidget* table = overviewTable(overview);
    QCOMPARE(overview->columnCount(), 11);
    QCOMPARE(table->rowCount(), DialogOverview::firstChannelRow + 48);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, DialogOverview::firstChannelRow + 40, 4), QStringLiteral("500.0"), 5000);
    // The second module without a serial number shows its own values.
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, DialogOverview::firstChannelRow, 1), QStringLiteral("7.0"), 5000);
    QCOMPARE(cellText(table, DialogOverview::firstChannelRow, 0), QStringLiteral("0.0"));
    // Rows beyond a module's channels stay empty in its column.
    QCOMPARE(cellText(table, DialogOverview::firstChannelRow + 40, 0), QString());
}

void MonitorWindowsTest::overviewModes()
{
    startWindow({{2, 1}});
    MemoryModule::Channel channel;
    channel.voltageMeasure = 5;
    channel.currentMeasure = 0.0005f;
    m_modules.at(0)->setChannel(0, channel);
    DialogOverview* overview = openOverview();
    QVERIFY(overview);
    QTableWidget* table = overviewTable(overview);
    const int row = DialogOverview::firstChannelRow;
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, row, 0), QStringLiteral("5.0"), 5000);
    const QString current = cellText(table, row, 0, DialogOverview::currentTextRole);
    QVERIFY(!current.isEmpty());
    overview->findChild<QRadioButton*>("showCurrents")->click();
    QCOMPARE(cellText(table, row, 0), current);
    QCOMPARE(cellText(table, row, 0, DialogOverview::currentTextRole), QString());
    overview->findChild<QRadioButton*>("showVoltages")->click();
    QCOMPARE(cellText(table, row, 0), QStringLiteral("5.0"));
    QCOMPARE(cellText(table, DialogOverview::unitsRow, 0), QStringLiteral("V"));
    QCOMPARE(overview->displayMode(), DialogOverview::ShowVoltages);
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
    DialogOverview* overview = openOverview();
    QVERIFY(overview);
    QTableWidget* table = overviewTable(overview);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 0), state, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 1), QStringLiteral("HV Off"), 5000);
    // The second module stops answering: its column says so, the first one's stays live.
    m_modules.at(1)->setAnswering(false);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 1), QStringLiteral("Not connected"), 3000);
    QCOMPARE(cellText(table, DialogOverview::firstChannelRow, 1), QStringLiteral("---"));
    QCOMPARE(cellText(table, 0, 0), state);
}

void MonitorWindowsTest::overviewStateUnknownWithoutEveryChannel()
{
    // Channel 1 tripped; a read that misses it must not rate the module "HV On".
    startWindow({{4, 3, false, true}});
    auto* module = static_cast<PartialModule*>(m_modules.at(0));
    MemoryModule::Channel channel;
    channel.status = 0x0008;
    module->setChannel(0, channel);
    channel.status = 0x2000 | 0x0008; // current trip
    module->setChannel(1, channel);
    DialogOverview* overview = openOverview();
    QVERIFY(overview);
    QTableWidget* table = overviewTable(overview);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 0), QStringLiteral("Error"), 5000);
    module->missing = true;
    QTRY_COMPARE_WITH_TIMEOUT(cellText(table, 0, 0), QStringLiteral("---"), 3000);
    QCOMPARE(cellText(table, DialogOverview::firstChannelRow + 1, 0), QStringLiteral("---"));
    QVERIFY(cellText(table, DialogOverview::firstChannelRow, 0) != QStringLiteral("---"));
}

// ---- Channel and module status/control ----

void MonitorWindowsTest::channelWindowShowsOnlyItsChannel()
{
    startSession({{8, 4711}});
    MemoryModule* module = m_modules.at(0);
    const auto setChannel = [module](int channel, quint32 status, quint32 eventMask) {
        MemoryModule::Channel values = module->channel(channel);
        values.status = status;
        values.eventMask = eventMask;
        module->setChannel(channel, values);
    };
    setChannel(2, 0x0008, 0x0008);
    setChannel(3, 0x2000, 0x0010); // another channel: tripped
    DialogChannelControl window(m_session.get());
    window.showChannel(2);
    QCOMPARE(window.windowTitle(), QStringLiteral("4711: Channel 2 Status / Control"));
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(box(&window, "chk_isON")->isChecked() && box(&window, "chk_MEON2OFF")->isChecked(), 6000);
    QVERIFY(!box(&window, "chk_isTRIP")->isChecked());

    // A box the operator clicked keeps its tick through every refresh until it is sent.
    box(&window, "chk_METRIP")->click();
    QVERIFY(ToolWindow::isEdited(box(&window, "chk_METRIP")));
    setChannel(2, 0x0008, 0x0010);
    QTRY_VERIFY_WITH_TIMEOUT(!box(&window, "chk_MEON2OFF")->isChecked(), 6000);
    QVERIFY(box(&window, "chk_METRIP")->isChecked());
    QVERIFY(box(&window, "chk_MEEOR")->isChecked());
    // Escape reverts it to the module's word.
    QTest::keyClick(&window, Qt::Key_Escape);
    QVERIFY(!ToolWindow::isEdited(box(&window, "chk_METRIP")));
    QVERIFY(!box(&window, "chk_METRIP")->isChecked());

    // The other channel: its words, none of channel 2's.
    window.showChannel(3);
    QVERIFY(!box(&window, "chk_isON")->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(box(&window, "chk_isTRIP")->isChecked(), 6000);
    QVERIFY(!box(&window, "chk_isON")->isChecked());
}

void MonitorWindowsTest::channelWindowSendsOnlyChangedBits()
{
    startSession({{8, 4711}});
    MemoryModule::Channel values = m_modules.at(0)->channel(3);
    values.control = 0x0020; // emergency off
    m_modules.at(0)->setChannel(3, values);
    DialogChannelControl window(m_session.get());
    window.showChannel(3);
    window.show();
    auto* setControl = window.findChild<QPushButton*>("btnSetControl");
    QTRY_VERIFY_WITH_TIMEOUT(setControl->isEnabled() && box(&window, "chk_setEMCY")->isChecked(), 6000);
    QSignalSpy control(&window, &DialogChannelControl::changeChannelControl);
    // Nothing changed: nothing to send.
    setControl->click();
    QCOMPARE(control.size(), 0);
    box(&window, "chk_setON")->click();
    box(&window, "chk_setEMCY")->click();
    setControl->click();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(0).toInt(), 3);
    QCOMPARE(control.at(0).at(1).value<quint32>(), quint32(0x0020)); // cleared
    QCOMPARE(control.at(0).at(2).value<quint32>(), quint32(0x0008)); // set
    QVERIFY(!ToolWindow::isEdited(box(&window, "chk_setON")));
}

void MonitorWindowsTest::measurementBoxes()
{
    // Enabled within the control group (which itself follows the word's age), and only for a
    // measurement module.
    startSession({{8, 5, false, false, true}, {8, 6}});
    DialogChannelControl window(m_session.get());
    auto* group = window.findChild<QGroupBox*>("grpControl");
    QVERIFY(box(&window, "setExternalMeasurementOn")->isEnabledTo(group));
    QVERIFY(box(&window, "setRippleMeasurementOn")->isEnabledTo(group));
    m_session->setCurrentModuleIndex(1);
    QVERIFY(!box(&window, "setExternalMeasurementOn")->isEnabledTo(group));
    QVERIFY(!box(&window, "setRippleMeasurementOn")->isEnabledTo(group));
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
    for (int channel = 0; channel < 32; ++channel) {
        for (const char* prefix : {"chk_ECS", "chk_ECM"}) {
            QCheckBox* channelBox =
                box(&window, qPrintable(QStringLiteral("%1%2").arg(prefix).arg(channel, 2, 10, QLatin1Char('0'))));
            QCOMPARE(channelBox->isEnabledTo(channelBox->parentWidget()), channel < enabled);
        }
    }
}

void MonitorWindowsTest::moduleWindowSelectAllAndEqualUpdate()
{
    startSession({{8, 4711}});
    MemoryModule* module = m_modules.at(0);
    const auto setWords = [module](quint32 eventChannelMask, quint32 eventMask, quint32 control) {
        std::lock_guard<std::recursive_mutex> lock(module->m_mutex);
        module->state.eventChannelMask = eventChannelMask;
        module->state.eventMask = eventMask;
        module->state.control = control;
    };
    setWords(0x100, 0x0002, 0x0800); // a channel bit beyond the module's channels
    DialogModuleControl window(m_session.get());
    window.show();
    auto* setControl = window.findChild<QPushButton*>("btnSetControl");
    QTRY_VERIFY_WITH_TIMEOUT(setControl->isEnabled() && window.findChild<QPushButton*>("btnSetECM")->isEnabled()
            && box(&window, "chk_MERSTA")->isChecked(),
        6000);
    QSignalSpy mask(&window, &DialogModuleControl::setModuleEventChannelMask);
    auto* select = window.findChild<QPushButton*>("btnSelectECM");
    select->click();
    QCOMPARE(select->text(), QStringLiteral("Unselect All"));
    window.findChild<QPushButton*>("btnSetECM")->click();
    QCOMPARE(mask.at(0).at(0).value<quint32>(), quint32(0x1FF)); // the module's eight channels, the rest kept
    select->click();
    QCOMPARE(select->text(), QStringLiteral("Select All"));
    window.findChild<QPushButton*>("btnSetECM")->click();
    QCOMPARE(mask.at(1).at(0).value<quint32>(), quint32(0x100));

    // A box the operator changed keeps its tick through the refreshes; the others follow them.
    box(&window, "chk_MESRVC")->click();
    setWords(0x100, 0x0000, 0x0800);
    QTRY_VERIFY_WITH_TIMEOUT(!box(&window, "chk_MERSTA")->isChecked(), 6000);
    QVERIFY(box(&window, "chk_MESRVC")->isChecked());

    // "Set Control" sends the bits the operator changed, nothing else.
    QSignalSpy control(&window, &DialogModuleControl::changeModuleControl);
    box(&window, "chk_setKILLena")->click();
    setControl->click();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(0).value<quint32>(), quint32(0));
    QCOMPARE(control.at(0).at(1).value<quint32>(), quint32(0x4000));
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
    MemoryModule* module = m_modules.at(0);
    MemoryModule::Channel other = module->channel(2);
    other.control = 0x0C28; // on, emergency off, both asymmetric bits
    module->setChannel(2, other);
    MemoryModule::Channel shown = module->channel(1);
    shown.control = 0x0400; // asymmetric current bounds
    shown.currentIlkMax = 0.5f;
    module->setChannel(1, shown);
    DialogChannelBounds bounds(m_session.get());
    bounds.prepare(QStringLiteral("V"), 1, QStringLiteral("mA"), 3);
    bounds.showChannel(1);
    QSignalSpy control(&bounds, &DialogChannelBounds::changeChannelControl);
    bounds.show();
    // This channel's word draws the boxes and writes nothing; the other channel's changes nothing.
    QTRY_VERIFY_WITH_TIMEOUT(box(&bounds, "chkACBND")->isChecked(), 6000);
    QTRY_VERIFY_WITH_TIMEOUT(bounds.findChild<QPushButton*>("btnSetBounds")->isEnabled(), 6000);
    QVERIFY(!box(&bounds, "chkAVBND")->isChecked());
    auto* group = bounds.findChild<QGroupBox*>("grpCurrentBounds");
    QVERIFY(bounds.findChild<QDoubleSpinBox*>("spbCurrentIlkMin")->isEnabledTo(group));
    QVERIFY(!bounds.findChild<QDoubleSpinBox*>("spbVoltageIlkMin")
                 ->isEnabledTo(bounds.findChild<QGroupBox*>("grpVoltageBounds")));
    QCOMPARE(control.size(), 0);
}

void MonitorWindowsTest::boundsClickWritesFreshWord()
{
    startSession({{8, 4711}});
    MemoryModule::Channel channel = m_modules.at(0)->channel(3);
    channel.voltageIlkMax = 100;
    m_modules.at(0)->setChannel(3, channel);
    DialogChannelBounds bounds(m_session.get());
    bounds.prepare(QStringLiteral("V"), 1, QStringLiteral("mA"), 3);
    bounds.showChannel(3);
    bounds.show();
    QTRY_VERIFY_WITH_TIMEOUT(bounds.findChild<QPushButton*>("btnSetBounds")->isEnabled(), 6000);
    QCOMPARE(bounds.findChild<QDoubleSpinBox*>("spbVoltageIlkMax")->value(), 100.0);
    QSignalSpy control(&bounds, &DialogChannelBounds::changeChannelControl);
    // The click changes that one bit of the word the module has then (its on bit stays).
    box(&bounds, "chkAVBND")->click();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(0).toInt(), 3);
    QCOMPARE(control.at(0).at(1).value<quint32>(), quint32(0));
    QCOMPARE(control.at(0).at(2).value<quint32>(), quint32(0x0800));
    QCOMPARE(bounds.findChild<QLabel*>("lblVoltageIlkMax")->text(), QStringLiteral("Voltage Interlock Max Set (V)"));
    box(&bounds, "chkAVBND")->click();
    QCOMPARE(control.at(1).at(1).value<quint32>(), quint32(0x0800));
    QCOMPARE(control.at(1).at(2).value<quint32>(), quint32(0));
}

void MonitorWindowsTest::typedBoundSurvivesRefreshAndIsSent()
{
    startWindow({{8, 4711}});
    MemoryModule::Channel channel;
    channel.voltageIlkMax = 3000;
    m_modules.at(0)->setChannel(0, channel);
    m_window->on_actionBounds_triggered();
    auto* bounds = m_window->findChild<DialogChannelBounds*>();
    auto* maximum = bounds->findChild<QDoubleSpinBox*>("spbVoltageIlkMax");
    auto* setBounds = bounds->findChild<QPushButton*>("btnSetBounds");
    QTRY_VERIFY_WITH_TIMEOUT(setBounds->isEnabled(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(maximum->value(), 3000.0, 5000);

    // The operator types; the refresh (every 400 ms for this window) leaves the field alone.
    maximum->setFocus();
    maximum->selectAll();
    QTest::keyClicks(maximum, QStringLiteral("2500"));
    QCOMPARE(maximum->value(), 2500.0);
    QVERIFY(ToolWindow::isEdited(maximum));
    QSignalSpy sent(bounds, &DialogChannelBounds::setChannelBounds);
    QTest::qWait(1500);
    QCOMPARE(maximum->value(), 2500.0);
    setBounds->click();
    QCOMPARE(sent.count(), 1);
    QCOMPARE(sent.first().at(2).toFloat(), 2500.0f);
    QVERIFY(!ToolWindow::isEdited(maximum));
    QTRY_COMPARE(m_window->commandsInFlight(), 0);
    QCOMPARE(m_modules.at(0)->channel(0).voltageIlkMax, 2500.0f);
    QTRY_COMPARE_WITH_TIMEOUT(maximum->value(), 2500.0, 3000);

    // Escape reverts a typed value to the module's and leaves the window open.
    maximum->selectAll();
    QTest::keyClicks(maximum, QStringLiteral("1000"));
    QVERIFY(ToolWindow::isEdited(maximum));
    QTest::keyClick(bounds, Qt::Key_Escape);
    QVERIFY(bounds->isVisible());
    QVERIFY(!ToolWindow::isEdited(maximum));
    QTRY_COMPARE_WITH_TIMEOUT(maximum->value(), 2500.0, 3000);
}

void MonitorWindowsTest::interlockOutWindow()
{
    // Two modules with the same serial number: the window shows the words of its own module.
    startSession({{8, 4711}, {8, 4711}});
    const auto setWords = [this](int index, quint32 status, quint32 active, quint32 count) {
        std::lock_guard<std::recursive_mutex> lock(m_modules.at(index)->m_mutex);
        m_modules.at(index)->state.ilkOutStatus = status;
        m_modules.at(index)->state.ilkOutActualActive = active;
        m_modules.at(index)->state.ilkOutCount = count;
    };
    setWords(0, 0x8001, 0x1000, 12);
    setWords(1, 0, 0, 99);
    DialogInterlockOut window(m_session.get());
    // Shown, the words are read; until then they are unknown and the control cannot be set.
    auto* set = window.findChild<QPushButton*>("btnSetInterlockControl");
    auto* count = window.findChild<QLineEdit*>("txtCount");
    QVERIFY(!set->isEnabled());
    QCOMPARE(count->text(), QStringLiteral("---"));
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(set->isEnabled(), 6000);
    QCOMPARE(count->text(), QStringLiteral("12"));
    for (QCheckBox* status : window.findChild<QGroupBox*>("grpInterlockStatus")->findChildren<QCheckBox*>())
        QCOMPARE(status->isChecked(),
            status->objectName() == QLatin1String("chk_isIlkEnabled")
                || status->objectName() == QLatin1String("chk_isIlkTestLoops0"));
    for (QCheckBox* active : window.findChild<QGroupBox*>("grpChannelActualActive")->findChildren<QCheckBox*>())
        QVERIFY(!active->isChecked());

    {
        std::lock_guard<std::recursive_mutex> lock(m_modules.at(0)->m_mutex);
        m_modules.at(0)->state.ilkOutControl = 0x1010; // reserved bits 4 and 12
    }
    QSignalSpy control(&window, &DialogInterlockOut::changeInterlockControl);
    box(&window, "chk_setIlkEnable")->click();
    set->click();
    QCOMPARE(control.size(), 1);
    QCOMPARE(control.at(0).at(1).value<quint32>(), quint32(0x8000));

    // Another module shown: nothing of the first one stays, its own words arrive.
    m_session->setCurrentModuleIndex(1);
    QVERIFY(count->text() != QLatin1String("12"));
    QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("99"), 6000);
}

// ---- The refresh behind the windows ----

void MonitorWindowsTest::windowValuesOnlyWhileVisible()
{
    startWindow({{4, 4711}});
    // Ticks of 20 ms: the module values (every 11th tick) come round ten times sooner.
    constexpr int tickMs = 20;
    m_window->deviceSession()->poller()->setTickIntervalMs(tickMs);
    MemoryModule* module = m_modules.at(0);
    {
        std::lock_guard<std::recursive_mutex> lock(module->m_mutex);
        module->state.control = 0x4000;
        module->state.restartTime = 30;
        module->state.ilkOutCount = 3;
    }
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::ToolWindowValues));
    m_window->on_actionModuleStatusControl_triggered();
    auto* window = m_window->findChild<DialogModuleControl*>();
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_setKILLena")->isChecked(), 6000);
    QCOMPARE(window->findChild<QSpinBox*>("spbRestartTime")->value(), 30);
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::InterlockOut)); // no interlock window open

    m_window->on_actionInterlockOut_triggered();
    auto* interlock = m_window->findChild<DialogInterlockOut*>();
    QTRY_COMPARE_WITH_TIMEOUT(interlock->findChild<QLineEdit*>("txtCount")->text(), QStringLiteral("3"), 6000);

    window->hide();
    interlock->hide();
    QVERIFY(!(m_window->deviceSession()->needs() & Poller::ToolWindowValues));
    // Hidden, the windows cost the module no reads.
    const auto windowValuesReadAtMs = [this] {
        return m_window->deviceSession()->poller()->moduleSnapshot(0)->windowValuesReadAtMs;
    };
    const qint64 lastRead = windowValuesReadAtMs();
    QTest::qWait(2 * 11 * tickMs + 200); // two module refreshes
    QCOMPARE(windowValuesReadAtMs(), lastRead);
}

void MonitorWindowsTest::unreadableQuantitiesAreNotAvailable()
{
    startWindow({{8, 4711, true}});
    m_window->on_actionModuleStatusControl_triggered();
    m_window->on_actionChannelStatusControl_triggered();
    auto* window = m_window->findChild<DialogModuleControl*>();
    auto* channelWindow = m_window->findChild<DialogChannelControl*>();
    // What the module reads arrives; what it cannot read stays unavailable.
    QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QGroupBox*>("grpStatus")->isEnabled()
            && channelWindow->findChild<QGroupBox*>("grpEventStatus")->isEnabled(),
        6000);
    QVERIFY(!window->findChild<QGroupBox*>("grpControl")->isEnabled());
    QVERIFY(!window->findChild<QPushButton*>("btnSetControl")->isEnabled());
    QVERIFY(!channelWindow->findChild<QPushButton*>("btnSetMask")->isEnabled());
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
    m_window->on_actionChannelStatusControl_triggered();
    auto* window = m_window->findChild<DialogChannelControl*>();
    QCOMPARE(window->channel(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_EEINH")->isChecked(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_isEINH")->isChecked(), 5000);
    QVERIFY(!window->findChild<QGroupBox*>("grpEventMask")->isEnabled()); // an MPOD channel has none
    // The hardware nominal values are read for the window, in the units shown.
    QTRY_VERIFY(m_window->deviceSession()->poller()->moduleSnapshot(0)->windowValues.hardwareNominalsValid);
    const ToolWindowReading values = m_window->deviceSession()->poller()->moduleSnapshot(0)->windowValues;
    QCOMPARE(values.voltageHardwareNominal.value(2), 4000.0f);
    QCOMPARE(values.voltageUnit, QStringLiteral("V"));

    QVERIFY(crate.command(QStringLiteral("inhibit 0 2 off")));
    window->findChild<QPushButton*>("btnClearEvents")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!box(window, "chk_EEINH")->isChecked(), 5000);
    // Set Control changes the one bit the operator clicked, read-modify-write on the module.
    auto* setControl = window->findChild<QPushButton*>("btnSetControl");
    QTRY_VERIFY_WITH_TIMEOUT(setControl->isEnabled(), 5000);
    box(window, "chk_setON")->click();
    setControl->click();
    QTRY_VERIFY_WITH_TIMEOUT(box(window, "chk_isON")->isChecked(), 5000);
    QVERIFY(box(window, "chk_setON")->isChecked());
    QVERIFY(!ToolWindow::isEdited(box(window, "chk_setON")));
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
