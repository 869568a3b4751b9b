#include "IsolatedSettings.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"
#include "device/DeviceSession.h"

#include "TestPaths.h"

#include "app/AddressLocker.h"
#include "app/ChannelTable.h"
#include "app/MessageBoxFatalErrorHandler.h"
#include "app/StartupScreen.h"
#include "app/TesmarControl.h"
#include "dialogs/common/StatusMessages.h"
#include "dialogs/common/UserDialogs.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplashScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {
IsolatedSettings* s_settings = nullptr;

class UrlRecorder : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl& url) { urls << url; }

public:
    QList<QUrl> urls;
};

QStringList menuLayout(const QMenu* menu)
{
    QStringList names;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            names << QStringLiteral("--");
        else if (action->menu())
            names << action->menu()->objectName();
        else
            names << action->objectName();
    }
    return names;
}
} // namespace

class TesmarControlFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void actionTable_data();
    void actionTable();
    void noActionsBeyondTheTable();
    void menus_data();
    void menus();
    void windowFrame();
    void unconnectedStart();
    void closeWithoutModules_data();
    void closeWithoutModules();
    void quitClosesTheWindow();
    void windowLayoutIsKeptBetweenRuns();
    void onlyErrorsAreRed();
    void helpIndexOpensLocalManual();
    void helpIndexMissingManualIsReported();
    void addressLockReleasedWithWindow();
    void startupPictures();
    void fatalErrorBoxIsNotHiddenBySplash();

private:
    std::unique_ptr<TesmarControl> makeWindow();

    ScriptedDialogs m_dialogs;
    std::unique_ptr<TesmarControl> m_window;
};

void TesmarControlFrameTest::initTestCase()
{
    // Nothing listens on this loopback port, so the window starts unconnected and nothing leaves
    // the machine.
    const quint16 port = SimulatorProcess::freeUdpPort();
    QVERIFY(port != 0);
    qputenv("TESMAR_SNMP_PORT", QByteArray::number(port));
    qputenv("TESMAR_SNMP_TIMEOUT_MS", "100");
    qputenv("TESMAR_SNMP_RETRIES", "0");
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("IpAddress"), QStringLiteral("127.0.0.1"));
}

void TesmarControlFrameTest::init()
{
    m_dialogs.asked.clear();
    m_dialogs.questionAnswer = QMessageBox::Cancel;
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), QVariant());
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("Window/Geometry"), QVariant());
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("Window/ChannelColumns"), QVariant());
}

void TesmarControlFrameTest::cleanup()
{
    m_window.reset();
    UserDialogs::setStartupOverride(nullptr);
}

std::unique_ptr<TesmarControl> TesmarControlFrameTest::makeWindow()
{
    UserDialogs::setStartupOverride(&m_dialogs);
    auto window = std::make_unique<TesmarControl>();
    UserDialogs::setStartupOverride(nullptr);
    if (!QTest::qWaitFor([&] { return !window->deviceSession()->isConnecting(); }, 5000))
        qWarning("the window is still connecting");
    return window;
}

void TesmarControlFrameTest::actionTable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checkable");
    // Disabled while no module is connected.
    QTest::addColumn<bool>("needsModule");

    auto row = [](const char* name, const char* text, const char* shortcut, bool visible, bool enabled, bool checkable,
                   bool needsModule) {
        QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(shortcut) << visible << enabled << checkable
                            << needsModule;
    };
    row("actionController", "Select Controller...", "F6", true, true, false, false);
    row("actionConnectionSettings", "Connection Settings...", "", true, true, false, false);
    row("actionLoadProfile", "&Load Profile to Device...", "", false, true, false, false);
    row("actionSaveProfile", "&Save Profile to File...", "", false, true, false, false);
    row("actionPassword", "&Password...", "Ctrl+P", true, true, false, false);
    row("actionScript", "Script...", "", true, true, false, false);
    row("actionAutomatic", "Automatic...", "", true, true, false, false);
    row("actionStatistic", "Statistic...", "", true, true, false, true);
    row("actionSystemReset", "System Reset", "", false, false, false, false);
    row("actionQuit", "&Quit", "Ctrl+Q", true, true, false, false);
    row("actionModuleOverview", "Module Overview...", "F5", true, true, false, true);
    row("actionCrates", "Crates...", "F4", true, true, false, true);
    row("actionTrends", "Trends...", "Ctrl+Shift+T", true, true, false, false);
    row("actionSetCrateAddress", "Set Crate Address...", "", true, false, false, false);
    row("actionSetLiveInsertion", "Set Live Insertion mode...", "", false, true, false, false);
    row("actionSetAllModulesOn", "Set All Modules On", "Ctrl+Shift+O", true, true, false, true);
    row("actionSetAllModulesOff", "Set All Modules Off", "Ctrl+Shift+F", true, true, false, true);
    row("actionSetAllModulesVoltage", "Set All Modules Voltage...", "Ctrl+Shift+V", true, true, false, true);
    row("actionSetAllModulesCurrent", "Set All Modules Current...", "Ctrl+Shift+I", true, true, false, true);
    row("actionSetAllModulesVoltageRamp", "Set All Modules Voltage Ramp...", "Ctrl+R", true, true, false, true);
    row("actionSetAllModulesCurrentRamp", "Set All Modules Current Ramp...", "Ctrl+Shift+R", true, true, false, true);
    row("actionClearAllModulesEvents", "Clear All Modules Events", "Shift+F10", true, true, false, true);
    row("actionSetAllModulesEmergencyOff", "Set All Modules Emergency Off", "", true, true, false, true);
    row("actionClearAllModulesEmergencyOff", "Clear All Modules Emergency Off", "", true, true, false, true);
    row("actionSetAllModulesFineAdjustmentOn", "Set All Modules Fine Adjustment On", "", true, false, false, false);
    row("actionSetAllModulesFineAdjustmentOff", "Set All Modules Fine Adjustment Off", "", true, false, false, false);
    row("actionJournal", "Journal...", "Ctrl+J", true, true, false, false);
    row("actionSelectModule", "Select Module...", "", true, true, false, false);
    row("actionPreviousModule", "Previous Module", "PgUp", true, true, false, false);
    row("actionNextModule", "Next Module", "PgDown", true, true, false, false);
    row("actionSetModulesVoltageRamp", "Set Voltage &Ramp...", "R", true, true, false, true);
    row("actionSetModulesCurrentRamp", "Set Current R&amp...", "Shift+R", true, true, false, true);
    row("actionClearAllEvents", "Clear All &Events", "F10", true, true, false, true);
    row("actionAdcSampleRate", "ADC Sample Rate...", "A", false, true, false, false);
    row("actionDigitalFilter", "Digital Filter...", "D", false, true, false, false);
    row("actionSuppliesAndTemperature", "Supplies and Temperature...", "U", true, true, false, false);
    row("actionModuleStatusControl", "Status / Control...", "Ctrl+S", true, true, false, true);
    row("actionVariableGroups", "&Variable Groups...", "Ctrl+G", false, true, false, false);
    row("actionFactorySettings", "&Factory settings...", "F11", false, true, false, false);
    row("actionSpecialMode", "Special mode...", "F12", false, false, false, false);
    row("actionProgramNewBaseAddress", "Program new Base Address...", "F8", false, true, false, false);
    row("actionInterlockOut", "Interlock Out...", "F7", false, true, false, false);
    row("actionSetFineAdjustmentOn", "Set Fine Adjustment On", "", false, false, false, false);
    row("actionSetFineAdjustmentOff", "Set Fine Adjustment Off", "", false, false, false, false);
    row("actionSettings", "Settings...", "", true, true, false, false);
    row("actionSetAllChannelsOn", "Set &On", "Ctrl+O", true, true, false, true);
    row("actionSetAllChannelsOff", "Set O&ff", "Ctrl+F", true, true, false, true);
    row("actionSetAllVoltages", "Set &Voltage...", "Ctrl+V", true, true, false, true);
    row("actionSetAllCurrents", "Set &Current...", "Ctrl+I", true, true, false, true);
    row("actionSetAllChannelsCurrentTrip", "Set Current Trip...", "Ctrl+T", true, true, false, true);
    row("actionSetAllChannelsExternalInhibitAction", "Set External Inhibit Action...", "Ctrl+N", true, true, false, true);
    row("actionSetAllChannelsVoltageIncremental", "Set Voltage &Incremental", "Ctrl+Alt+V", true, true, false, true);
    row("actionSetAllChannelsEmergencyOff", "Set &Emergency Off", "Ctrl+Y", true, true, false, true);
    row("actionClearAllChannelsEmergencyOff", "Clear E&mergency Off", "Ctrl+M", true, true, false, true);
    row("actionSetKillEnable", "Set Kill Enable", "Ctrl+E", true, true, false, true);
    row("actionSetKillDisable", "Set Kill Disable", "Ctrl+D", true, true, false, true);
    row("actionDisableAllResistors", "Disable All Resistors", "", true, true, false, false);
    row("actionEnableResistor1", "Enable Resistor 1", "", true, true, false, false);
    row("actionEnableResistor2", "Enable Resistor 2", "", true, true, false, false);
    row("actionEnableBothResistors", "Enable Both Resistors", "", true, true, false, false);
    row("actionDoMultiplex", "Do Multiplex", "", true, true, false, false);
    row("actionSelectChannel", "&Select Channel...", "C", true, true, false, true);
    row("actionSetChannelVoltage", "Set &Voltage...", "V", true, true, false, true);
    row("actionSetChannelCurrent", "Set &Current...", "I", true, true, false, true);
    row("actionSetChannelCurrentTrip", "Set Current Trip...", "T", true, true, false, true);
    row("actionSetChannelExternalInhibitAction", "Set External Inhibit Action...", "N", true, true, false, true);
    row("actionSetChannelOn", "Set Channel &On", "O", true, true, false, true);
    row("actionSetChannelOff", "Set Channel O&ff", "F", true, true, false, true);
    row("actionSetChannelEmergencyOff", "Set Emergency Off", "Y", true, true, false, true);
    row("actionClearChannelEmergencyOff", "Clear Emergency Off", "M", true, true, false, true);
    row("actionClearChannelEvents", "Clear &Events", "F9", true, true, false, true);
    row("actionChannelStatusControl", "Status / Control...", "S", true, true, false, true);
    row("actionBounds", "Bounds...", "B", false, true, false, false);
    row("actionSetChannelNominalValues", "Set Nominal Values...", "", false, false, false, false);
    row("actionAutoSwitchMeasurement", "Auto-switch Measurement", "", true, true, true, false);
    row("actionSetChannelExternalMeasurementOn", "Set External Measurement On", "", true, true, false, false);
    row("actionSetChannelExternalMeasurementOff", "Set External Measurement Off", "", true, true, false, false);
    row("actionSetChannelRippleMeasurementOn", "Set Ripple Measurement On", "", true, true, false, false);
    row("actionSetChannelRippleMeasurementOff", "Set Ripple Measurement Off", "", true, true, false, false);
    row("actionIndex", "&Index", "F1", true, true, false, false);
    row("actionAbout", "&About...", "", true, true, false, false);
    row("actionAboutQt", "About &Qt...", "", true, true, false, false);
}

void TesmarControlFrameTest::actionTable()
{
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);
    QFETCH(bool, checkable);
    QFETCH(bool, needsModule);

    if (!m_window)
        m_window = makeWindow();
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto* action = m_window->findChild<QAction*>(name);
    QVERIFY2(action, qPrintable(name));
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), QKeySequence(shortcut));
    QCOMPARE(action->isVisible(), visible);
    QCOMPARE(action->isCheckable(), checkable);
    // A hidden action always reports itself disabled; its own enabled state shows once visible.
    if (!visible) {
        QVERIFY(!action->isEnabled());
        action->setVisible(true);
    }
    // The window starts unconnected here (nothing answers), so the module-dependent ones are off.
    const bool actuallyEnabled = action->isEnabled();
    action->setVisible(visible);
    QCOMPARE(actuallyEnabled, enabled && !needsModule);
    if (name == QLatin1String("actionModuleStatusControl"))
        QCOMPARE(action->toolTip(), QStringLiteral("Status / Control"));
}

void TesmarControlFrameTest::noActionsBeyondTheTable()
{
    m_window = makeWindow();
    QStringList names;
    for (const QAction* action : m_window->findChildren<QAction*>()) {
        if (action->objectName().startsWith(QLatin1String("action")))
            names << action->objectName();
    }
    QCOMPARE(names.size(), 86);
    names.removeDuplicates();
    QCOMPARE(names.size(), 86);
    // No two actions answer the same key.
    QStringList shortcuts;
    for (const QAction* action : m_window->findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty())
            shortcuts << action->shortcut().toString();
    }
    const qsizetype withShortcut = shortcuts.size();
    shortcuts.removeDuplicates();
    QCOMPARE(shortcuts.size(), withShortcut);
}

void TesmarControlFrameTest::menus_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("layout");
    const QString sep = QStringLiteral("--");
    QTest::newRow("menuFile") << "&File"
                              << QStringList{"actionController", "actionConnectionSettings", sep, "actionLoadProfile",
                                     "actionSaveProfile", sep, "actionExportMeasurements", sep, "actionPassword", sep,
                                     "actionScript", "actionAutomatic", "actionStatistic", "actionSystemReset", sep,
                                     "actionQuit"};
    QTest::newRow("menuSystem") << "&System"
                                << QStringList{"actionModuleOverview", "actionCrates", "actionTrends",
                                       "actionAlarmNotification", "actionSetCrateAddress", "actionSetLiveInsertion", sep,
                                       "actionSetAllModulesOn", "actionSetAllModulesOff", sep, "actionSetAllModulesVoltage",
                                       "actionSetAllModulesCurrent", sep, "actionSetAllModulesVoltageRamp",
                                       "actionSetAllModulesCurrentRamp", sep, "actionClearAllModulesEvents", sep,
                                       "actionSetAllModulesEmergencyOff", "actionClearAllModulesEmergencyOff", sep,
                                       "actionSetAllModulesFineAdjustmentOn", "actionSetAllModulesFineAdjustmentOff", sep,
                                       "actionJournal", "actionEvents"};
    QTest::newRow("menuModule") << "&Module"
                                << QStringList{"actionSelectModule", "actionPreviousModule", "actionNextModule", sep,
                                       "actionSetModulesVoltageRamp", "actionSetModulesCurrentRamp", sep,
                                       "actionClearAllEvents", sep, "actionAdcSampleRate", "actionDigitalFilter",
                                       "actionSuppliesAndTemperature", "actionModuleStatusControl", sep,
                                       "menuInstructions_for_all_Channels", "menuModuleLoadModule", "actionVariableGroups",
                                       sep, "actionFactorySettings", "actionSpecialMode", "actionProgramNewBaseAddress",
                                       "actionInterlockOut", sep, "actionSetFineAdjustmentOn", "actionSetFineAdjustmentOff",
                                       sep, "actionSettings"};
    QTest::newRow("menuInstructions_for_all_Channels")
        << "&Instructions for all Channels"
        << QStringList{"actionSetAllChannelsOn", "actionSetAllChannelsOff", sep, "actionSetAllVoltages",
               "actionSetAllCurrents", "actionSetAllChannelsCurrentTrip", "actionSetAllChannelsExternalInhibitAction",
               "actionSetAllChannelsVoltageIncremental", sep, "actionSetAllChannelsEmergencyOff",
               "actionClearAllChannelsEmergencyOff", sep, "actionSetKillEnable", "actionSetKillDisable"};
    QTest::newRow("menuModuleLoadModule") << "Load Module"
                                          << QStringList{"actionDisableAllResistors", "actionEnableResistor1",
                                                 "actionEnableResistor2", "actionEnableBothResistors", sep,
                                                 "actionDoMultiplex"};
    QTest::newRow("menuChannel") << "&Channel"
                                 << QStringList{"actionSelectChannel", sep, "actionSetChannelVoltage",
                                        "actionSetChannelCurrent", "actionSetChannelCurrentTrip",
                                        "actionSetChannelExternalInhibitAction", sep, "actionSetChannelOn",
                                        "actionSetChannelOff", sep, "actionSetChannelEmergencyOff",
                                        "actionClearChannelEmergencyOff", sep, "actionClearChannelEvents", sep,
                                        "actionSetCurrentAlarm", sep, "actionChannelStatusControl", "actionBounds", sep,
                                        "menuChannelLoadModule", "actionSetChannelNominalValues"};
    QTest::newRow("menuChannelLoadModule")
        << "Load Module"
        << QStringList{"actionAutoSwitchMeasurement", sep, "actionSetChannelExternalMeasurementOn",
               "actionSetChannelExternalMeasurementOff", "actionSetChannelRippleMeasurementOn",
               "actionSetChannelRippleMeasurementOff"};
    QTest::newRow("menuHelp") << "&Help" << QStringList{"actionIndex", sep, "actionAbout", "actionAboutQt"};
}

void TesmarControlFrameTest::menus()
{
    QFETCH(QString, title);
    QFETCH(QStringList, layout);
    if (!m_window)
        m_window = makeWindow();
    auto* menu = m_window->findChild<QMenu*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(menu);
    QCOMPARE(menu->title(), title);
    QCOMPARE(menuLayout(menu), layout);
}

void TesmarControlFrameTest::windowFrame()
{
    m_window = makeWindow();
    TesmarControl& window = *m_window;
    QCOMPARE(window.objectName(), QStringLiteral("TesmarControl"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tesmar SNMP Control Version 1.0.8.6"));
    // 895 x 503 is the default; a smaller screen (the offscreen one is 800 x 600) cuts it.
    QCOMPARE(window.size(), QSize(895, 503).boundedTo(window.screen()->availableSize()).expandedTo(QSize(800, 400)));
    QCOMPARE(window.minimumSize(), QSize(800, 400));

    QStringList bar;
    for (const QAction* action : window.menuBar()->actions())
        bar << action->menu()->objectName();
    QCOMPARE(bar, (QStringList{"menuFile", "menuSystem", "menuModule", "menuChannel", "menuHelp"}));

    QVERIFY(window.findChild<QListWidget*>(QStringLiteral("lstModules")));
    QCOMPARE(window.findChild<QListWidget*>(QStringLiteral("lstModules"))->contextMenuPolicy(), Qt::CustomContextMenu);
    auto* table = window.findChild<ChannelTable*>(QStringLiteral("table"));
    QVERIFY(table);
    QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    QVERIFY(window.findChild<QLabel*>(QStringLiteral("lblConnect")));

    const QList<QPair<QString, QString>> labels = {{"connectedModules", "Connected Modules:"}, {"lblModuleType", QString()},
        {"lblChannel", "Channel"}, {"lblSerial", QString()}, {"lblFirmware", QString()}, {"lblVRampSpeed", QString()},
        {"lblIRampSpeed", QString()}, {"lblModuleStatus", QString()}, {"lblModuleEventStatus", QString()},
        {"lblModuleControl", QString()}, {"lblModuleEventMask", QString()}, {"lblChannelStatus", QString()},
        {"lblChannelControl", QString()}, {"lblChannelEventStatus", QString()}, {"lblChannelEventMask", QString()},
        {"vmeDecoderDescription", QString()}, {"vmeDecoderVersion", QString()}};
    for (const auto& [name, text] : labels) {
        auto* label = window.findChild<QLabel*>(name);
        QVERIFY2(label, qPrintable(name));
        if (!text.isNull())
            QCOMPARE(label->text(), text);
    }
    // The connection failed (no library): nothing says "connecting..." any more.
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblModuleType"))->text(), QString());
    QStringList captions;
    for (const QLabel* label : window.centralWidget()->findChildren<QLabel*>()) {
        if (label->text().endsWith(QLatin1Char(':')))
            captions << label->text();
    }
    for (const char* caption : {"Serial Number:", "Firmware Name:", "Firmware Release:", "Voltage Ramp Speed:",
             "Current Ramp Speed:", "Module Status:", "Module Event Status:", "Module Control:", "Module Event Mask:",
             "Channel selected:", "Channel Status:", "Channel Control:", "Channel Event Status:", "Channel Event Mask:"})
        QVERIFY2(captions.contains(QString::fromLatin1(caption)), caption);

    // Three permanent labels, left to right in this order.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QList<QLabel*> permanent;
    for (const char* name : {"statusLabelLiveInsertion", "statusLabelMiddle", "statusLabelController"}) {
        auto* label = window.statusBar()->findChild<QLabel*>(QString::fromLatin1(name));
        QVERIFY2(label, name);
        permanent << label;
    }
    QVERIFY(permanent[0]->x() <= permanent[1]->x());
    QVERIFY(permanent[1]->x() <= permanent[2]->x());

    auto* refresh = window.findChild<QTimer*>(QStringLiteral("refreshTimer"));
    auto* automatic = window.findChild<QTimer*>(QStringLiteral("automaticTimer"));
    QVERIFY(refresh && automatic);
    QCOMPARE(refresh->interval(), 200);
    QCOMPARE(automatic->interval(), 30000);
    QVERIFY(!automatic->isActive());
}

void TesmarControlFrameTest::unconnectedStart()
{
    m_window = makeWindow();
    auto* status = m_window->statusBar()->findChild<QLabel*>(QStringLiteral("statusLabelController"));
    QVERIFY(status);
    QCOMPARE(status->text(),
        QStringLiteral("<font color=\"red\">Can not connect to address 127.0.0.1: no answer: check address, port and read "
                       "community; trying again every 5 s."));
    QVERIFY(!m_window->findChild<QTimer*>(QStringLiteral("refreshTimer"))->isActive());
    QVERIFY(!m_window->findChild<QMenu*>(QStringLiteral("menuSystem"))->isEnabled());
    QVERIFY(!m_window->findChild<QMenu*>(QStringLiteral("menuModule"))->isEnabled());
    QVERIFY(!m_window->findChild<QMenu*>(QStringLiteral("menuChannel"))->isEnabled());
    QVERIFY(!m_window->findChild<QMenu*>(QStringLiteral("menuModuleLoadModule"))->isEnabled());
    QVERIFY(!m_window->findChild<QMenu*>(QStringLiteral("menuChannelLoadModule"))->isEnabled());
    QVERIFY(m_window->findChild<QMenu*>(QStringLiteral("menuFile"))->isEnabled());
    QVERIFY(m_window->findChild<QMenu*>(QStringLiteral("menuHelp"))->isEnabled());
    // The address can still be changed.
    QVERIFY(m_window->findChild<QAction*>(QStringLiteral("actionController"))->isEnabled());
    // ... and so can the port and the communities.
    QVERIFY(m_window->findChild<QAction*>(QStringLiteral("actionConnectionSettings"))->isEnabled());
    QCOMPARE(m_window->findChild<QListWidget*>(QStringLiteral("lstModules"))->count(), 0);
    QVERIFY(m_dialogs.texts(ScriptedDialogs::Kind::Address).isEmpty());
}

void TesmarControlFrameTest::closeWithoutModules_data()
{
    QTest::addColumn<QVariant>("behavior");
    QTest::newRow("unset") << QVariant();
    QTest::newRow("0 ask") << QVariant(0);
    QTest::newRow("1 ramp down") << QVariant(1);
    QTest::newRow("2 never") << QVariant(2);
    QTest::newRow("5 acts as 1") << QVariant(5);
    QTest::newRow("text") << QVariant(QStringLiteral("sometimes"));
}

void TesmarControlFrameTest::closeWithoutModules()
{
    QFETCH(QVariant, behavior);
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), behavior);
    m_window = makeWindow();
    m_window->setUserDialogs(&m_dialogs);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // Nothing to ramp down: no question, the window closes.
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_dialogs.questions().isEmpty());
}

void TesmarControlFrameTest::quitClosesTheWindow()
{
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), 2);
    m_window = makeWindow();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->findChild<QAction*>(QStringLiteral("actionQuit"))->trigger();
    QVERIFY(!m_window->isVisible());
}

void TesmarControlFrameTest::windowLayoutIsKeptBetweenRuns()
{
    // Closed by Ctrl+Q, through the normal close: the size and the operator's column widths
    // come back with the next window; a window destroyed without closing stores nothing.
    s_settings->setValue(QStringLiteral("tesmarcontrol"), QStringLiteral("CloseBehavior"), 2);
    m_window = makeWindow();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto* table = m_window->findChild<ChannelTable*>(QStringLiteral("table"));
    QVERIFY(table);
    const int defaultWidth = table->columnWidth(ChannelTable::ColumnVoltageSet);
    m_window->resize(m_window->minimumSize() + QSize(0, 30));
    table->setColumnWidth(ChannelTable::ColumnVoltageSet, defaultWidth + 37);
    QTest::keyClick(m_window.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!m_window->isVisible());
    m_window.reset();

    m_window = makeWindow();
    QCOMPARE(m_window->size(), QSize(800, 430));
    table = m_window->findChild<ChannelTable*>(QStringLiteral("table"));
    QCOMPARE(table->columnWidth(ChannelTable::ColumnVoltageSet), defaultWidth + 37);
    table->setColumnWidth(ChannelTable::ColumnVoltageSet, defaultWidth + 80);
    m_window.reset();
    m_window = makeWindow();
    QCOMPARE(m_window->findChild<ChannelTable*>(QStringLiteral("table"))->columnWidth(ChannelTable::ColumnVoltageSet),
        defaultWidth + 37);
}

void TesmarControlFrameTest::onlyErrorsAreRed()
{
    m_window = makeWindow();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QStatusBar* bar = m_window->statusBar();
    const QColor normal = bar->palette().color(QPalette::WindowText);
    QVERIFY(normal != QColor(Qt::red));

    // A refused command: red (QStatusBar draws its message with its WindowText colour).
    QAction* switchOn = m_window->findChild<QAction*>(QStringLiteral("actionSetChannelOn"));
    switchOn->setEnabled(true); // no module: the command itself refuses
    switchOn->trigger();
    QVERIFY2(bar->currentMessage().contains(QStringLiteral("nothing was sent")), qPrintable(bar->currentMessage()));
    const QColor error = bar->palette().color(QPalette::WindowText);
    QVERIFY2(error.red() > 150 && error.green() < 100 && error.blue() < 100, qPrintable(error.name()));
    QCOMPARE(StatusMessages::shownKind(bar), StatusMessages::Kind::Error);

    // A success after it is in the normal colour, and the permanent labels never turn red.
    StatusMessages::showNote(bar, QStringLiteral("Profile saved to file /tmp/x.txt."));
    QCOMPARE(bar->palette().color(QPalette::WindowText), normal);
    for (const QLabel* label : bar->findChildren<QLabel*>())
        QVERIFY(label->palette().color(QPalette::WindowText) != error);
}

void TesmarControlFrameTest::helpIndexOpensLocalManual()
{
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("documentation")));
    const QString manual = folder.path() + QStringLiteral("/documentation/index.html");
    QFile file(manual);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
    file.close();

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    m_window = makeWindow();
    m_window->setUserDialogs(&m_dialogs);
    m_window->findChild<QAction*>(QStringLiteral("actionIndex"))->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir::setCurrent(previous);

    QCOMPARE(recorder.urls.size(), 1);
    QCOMPARE(recorder.urls.first(),
        QUrl::fromLocalFile(QDir(folder.path()).canonicalPath() + QStringLiteral("/documentation/index.html")));
    QVERIFY(m_dialogs.informations().isEmpty());
}

void TesmarControlFrameTest::helpIndexMissingManualIsReported()
{
    QTemporaryDir folder;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    m_window = makeWindow();
    m_window->setUserDialogs(&m_dialogs);
    m_window->findChild<QAction*>(QStringLiteral("actionIndex"))->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir::setCurrent(previous);

    QVERIFY(recorder.urls.isEmpty());
    QCOMPARE(m_dialogs.informations().size(), 1);
    QVERIFY(m_dialogs.informations().first().contains(QStringLiteral("/documentation/index.html")));
    QCOMPARE(m_dialogs.askedOf(ScriptedDialogs::Kind::Information).first().title, QStringLiteral("Tesmar SNMP Control"));
}

void TesmarControlFrameTest::addressLockReleasedWithWindow()
{
    m_window = makeWindow();
    QVERIFY(AddressLocker().isLockedByUs(QStringLiteral("127.0.0.1")));
    m_window.reset();
    QVERIFY(AddressLocker().isFree(QStringLiteral("127.0.0.1")));
    // So a second window of this process starts without the conflict question.
    m_window = makeWindow();
    QVERIFY(m_dialogs.texts(ScriptedDialogs::Kind::Address).isEmpty());
}

void TesmarControlFrameTest::startupPictures()
{
    m_window = makeWindow();
    QVERIFY(!m_window->windowIcon().pixmap(64).isNull());
    // The program starts in its run folder, beside the splash picture.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QString::fromLatin1(TestPaths::binaryDir) + QStringLiteral("/../run")));
    const QPixmap splash = StartupScreen::splashImage();
    QDir::setCurrent(previous);
    QVERIFY(!splash.isNull());
}

void TesmarControlFrameTest::fatalErrorBoxIsNotHiddenBySplash()
{
    struct RecordingHandler : MessageBoxFatalErrorHandler
    {
        void showCritical(const QString& title, const QString&) override
        {
            shown = title;
            for (QWidget* widget : QApplication::topLevelWidgets())
                splashVisible |= widget->inherits("QSplashScreen") && widget->isVisible();
        }
        void exitProgram(int exitCode) override { code = exitCode; }
        QString shown;
        bool splashVisible = false;
        int code = -1;
    } handler;
    QSplashScreen splash(QPixmap(8, 8));
    splash.show();
    QVERIFY(splash.isVisible());
    handler.fatalError(QStringLiteral("Tesmar SNMP Control"), QStringLiteral("no library"), 3);
    QCOMPARE(handler.shown, QStringLiteral("Tesmar SNMP Control"));
    QVERIFY(!handler.splashVisible);
    QCOMPARE(handler.code, 3);
}

int main(int argc, char* argv[])
{
    IsolatedSettings settings;
    s_settings = &settings;
    QApplication application(argc, argv);
    TesmarControlFrameTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TesmarControlFrameTest.moc"
