#pragma once

#include <QByteArray>
#include <QColor>
#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include "app/ServiceDesk.h"
#include "device/BaseModule.h"
#include "device/ChannelSelection.h"
#include "device/CommandOutcome.h"

#include <functional>
#include <memory>

namespace Ui {
class TesmarControl;
}

class Archive;
class AutomaticDesk;
class BaseController;
class BaseCrate;
class BaseModule;
class ChannelMenuCommands;
class CommandDesk;
class ControllerFactory;
class CrateCommands;
class DeviceSession;
class ModuleMenuCommands;
class ServiceJob;
struct ChannelSettings;
struct CrateSnapshot;
struct ModuleSnapshot;
struct NominalRange;
class QCloseEvent;
class QContextMenuEvent;
class QPoint;
class QEvent;
class QLabel;
class QSettings;
class QAction;
class QTimer;
class UserDialogs;

class DialogChannelBounds;
class DialogChannelControl;
class DialogCrate;
class DialogFlexGroups;
class DialogInterlockOut;
class EventLog;
class HistoryDesk;
class DialogModuleControl;
class DialogOverview;
class DialogScriptConsole;
class DialogSetCurrent;
class DialogSuppliesTempLimits;
class ProfileDesk;
class TrendRecorder;

// The program's single main window: menus, module list, channel table and status bar. Its
// device session owns the controller, the modules and the crates and reads them on a background
// thread; the window renders the latest snapshots of the module it shows, and every tool window
// renders them itself for its own module (ToolWindow). Commands go to the device side.
//
// The implementation is split by concern: TesmarControl.cpp (construction, settings, closing,
// help), TesmarControlConnection.cpp (connection and discovery), TesmarControlRefresh.cpp
// (rendering the snapshots), TesmarControlCommands.cpp (the operator's selection, context menus and
// wiring the menu actions to CommandDesk, ChannelMenuCommands and ModuleMenuCommands),
// TesmarControlScript.cpp (script console). Trends, alarms, events and the archive are
// HistoryDesk's, the write journal's window JournalDesk's, the crate's commands CrateCommands',
// profiles and the statistic window ProfileDesk's, automatic stepping AutomaticDesk's, the service
// functions of VME modules (special mode, factory settings, base address programming) ServiceDesk's.
class TesmarControl : public QMainWindow
{
    Q_OBJECT

public:
    // Closes the window as a normal close does, but without the close prompt (which nobody would
    // answer): open modal dialogs are cancelled first. With CloseBehavior 0 (ask) the high
    // voltage is left as it is; other behaviours act as configured. Used for SIGTERM and
    // SIGINT; also ends the event loop. True when the window closed.
    bool closeOnTermination();
    // Cancels every visible dialog (message boxes included), so that their event loops end.
    static void cancelOpenDialogs();

public:
    explicit TesmarControl(QWidget* parent = nullptr);
    // With the modules `factory` makes (tests: in-memory modules) instead of the crate's.
    explicit TesmarControl(std::unique_ptr<ControllerFactory> factory, QWidget* parent = nullptr);
    // The same for the controller kind `controllerKind` (ControllerKinds), which decides the
    // menus that only VME modules serve; the form above stands for "snmp".
    TesmarControl(std::unique_ptr<ControllerFactory> factory, const QString& controllerKind, QWidget* parent = nullptr);
    ~TesmarControl() override;

    // Commands sent to the device side whose outcome has not come back yet.
    int commandsInFlight() const;

    // Shown in the title bar and as the title of every message box.
    static QString applicationName();
    static QString version();
    // True when the command line (program name first) asks for the special-mode action: the
    // first argument is exactly "vrok", not counting the --controller option (CommandLine).
    static bool specialModeRequested(const QStringList& arguments);
    // The controller kind the window connects with: "--controller KIND" on the command line, else
    // the setting "Controller/Kind", else "snmp". An unknown kind on the line (main refuses it
    // before) or in the settings (with a warning) gives "snmp".
    static QString controllerKindRequested(const QStringList& arguments);

    // Every message box and input dialog of this window goes through dialogs(). The window owns
    // a default instance showing real dialogs; setUserDialogs replaces it (not owned; nullptr
    // restores the default).
    void setUserDialogs(UserDialogs* dialogs);
    UserDialogs* dialogs() const;

public slots:
    // ---- Frame (TesmarControl.cpp) ----
    void on_actionQuit_triggered();
    void on_actionAbout_triggered();
    void on_actionAboutQt_triggered();
    void on_actionIndex_triggered();
    void on_actionSystemReset_triggered();

    // ---- Connection and discovery ----
    // (Re)connects to the crate address and rediscovers the modules, without waiting: the window
    // says "connecting..." until connectFinished; a connection still being tried is superseded.
    void initModuleAccess();
    void on_lstModules_currentRowChanged(int row);

    // ---- Refresh cycle ----
    void refreshChannelTable();
    void refreshModule();
    void refreshCrateData();

    // ---- Commands ----
    void tableCellDataChanged(int row, int column, QString text);
    void on_actionController_triggered();
    void on_actionConnectionSettings_triggered();
    void on_actionPassword_triggered();
    void on_actionScript_triggered();
    void on_actionModuleOverview_triggered();
    void on_actionCrates_triggered();
    void on_actionSelectModule_triggered();
    void on_actionPreviousModule_triggered();
    void on_actionNextModule_triggered();
    void on_actionSuppliesAndTemperature_triggered();
    void on_actionModuleStatusControl_triggered();
    void on_actionVariableGroups_triggered();
    void on_actionInterlockOut_triggered();
    void on_actionSettings_triggered();
    void on_actionChannelStatusControl_triggered();
    void on_actionBounds_triggered();

    void on_table_itemSelectionChanged();
    void on_table_customContextMenuRequested(const QPoint& position);
    void on_lstModules_customContextMenuRequested(const QPoint& position);

public:
    // ---- Profiles, statistic and automatic stepping (ProfileDesk, AutomaticDesk) ----
    ProfileDesk* profileDesk() const { return m_profileDesk; }
    AutomaticDesk* automaticDesk() const { return m_automaticDesk; }

    // ---- Test seams (connection and refresh) ----
    // Delays before rediscovery after the crate was switched on (15 s) and after a new crate
    // address was sent (2 s); tests shorten them.
    void setReconnectDelays(int afterCratePowerOnMs, int afterAddressChangeMs);
    // After a failed connection the window tries again in the background this often.
    void setReconnectIntervalMs(int intervalMs);
    // The module shown in the channel table; nullptr without modules.
    BaseModule* currentModule() const;
    // The session below the window (tool windows register their needs with it).
    DeviceSession* deviceSession() const;
    // Where every command goes through (the tool windows' writes too), and the menu commands
    // (some menu entries are hidden or locked; tests call them here).
    CommandDesk* commandDesk() const;
    ChannelMenuCommands* channelMenuCommands() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // ---- Frame (TesmarControl.cpp) ----
    // Enables or disables the actions and menus that need a module; `on` also enables the
    // crate dialog action and the System menu (a failed connection disables those).
    void enableModuleActions(bool on);
    void applyStartVisibility();
    // Claims crateIpAddress against other running instances; may change it (user's choice) or
    // end the process with exit status 2 (user cancelled).
    void claimCrateAddress();
    // "IpAddress" from the settings; a missing or malformed one (not a plain dotted quad) gives
    // the default address, a malformed one with a warning on standard error.
    QString storedCrateAddress() const;
    void rampDownAllModules();
    void retranslateFrame();
    // Window geometry and channel-table column widths: restored from the settings at start-up
    // (a default size that fits the screen when none are stored), stored when the window closes.
    void restoreWindowLayout();
    void saveWindowLayout() const;

    // ---- Connection and discovery ----
    // Drops modules, crates and the controller (in that order); safe with nothing connected.
    void releaseModuleAccess();
    // Module list entry `index`: the module's address, a line feed, and `text`.
    void setModuleListText(int index, const QString& text);
    // Widens the module list to its longest entry.
    void fitModuleListWidth();
    static constexpr int modulesListMinimumWidth = 100;
    // Shows `module`'s address anew in its list entry and, when it is the current one, the
    // connection line (after it moved to another base address).
    void showModuleAddress(BaseModule* module);
    // Drops the modules and empties the module list; controller and crates stay.
    void deleteModules();
    // Empties the module list before the session lets go of the modules.
    void forgetModules();
    // Advances every module's connection state from the age of its snapshot (once a second).
    void advanceConnectionStates();
    // True while something of module `index` was answered within the freshness time; a module
    // without a snapshot yet counts as answering during that time after the discovery.
    bool moduleAnswering(int index, qint64 nowMs) const;
    std::shared_ptr<const ModuleSnapshot> snapshotOf(int index) const;
    // After a command: the poller reads the current module at once.
    void refreshCurrentModuleNow();
    // Runs initModuleAccess once after `delayMs`; a later request replaces a pending one.
    void scheduleRediscovery(int delayMs);
    void selectModuleRow(int row);
    // The crate took a new address: the address lock and the settings follow it, and the modules
    // are found again there.
    void crateAddressTaken(const QString& address);
    // The crate reports its main switch off after a switch-off: its modules are let go.
    void showCrateSwitchedOff();
    // True while the crate answered within the freshness time.
    bool crateAnswering() const;
    // Crate commands with the window's hooks; a child of the window.
    void setUpCrateCommands();
    CrateCommands* m_crateCommands = nullptr;

    QTimer* rediscoveryTimer = nullptr;
    // Tries the crate again in the background after a failed connection (connectInBackground).
    QTimer* reconnectTimer = nullptr;
    int reconnectIntervalMs = 5000;
    void tryReconnect();
    void watchBackgroundConnects();
    void reconnectFinished(bool connected);
    // The two ends of a connection attempt: the window with the modules found, or the failure
    // (with the background retry started).
    void showConnectedModules();
    void showConnectFailure();
    int rediscoveryDelayAfterAddressChangeMs = 2000;

    // ---- Refresh cycle ----
    // Sets the table up for `module` (state connected -> initialised).
    void initialiseTableFor(BaseModule* module);
    // "Connected to <firmware> sn. <serial> at <address>" for the connection line.
    QString connectionLine(BaseModule* module) const;
    // Shows the channels of the latest snapshot, or the module as lost when nothing of it was
    // answered for the freshness time.
    void refreshChannelRows(BaseModule* module);
    // Blanks the cells and shows the red connection text: nothing old stays on screen as live.
    void showModuleLost();
    // "---" in the labels of values read from the module (ramp speeds, status words).
    void showModuleValuesUnknown();
    // The controller label: the connection and bus status, or that the crate does not answer.
    void showControllerState();
    bool isMeasurementModule(BaseModule* module);

    // The latest crate read the crate answered: one lost read does not make it "not answering".
    std::shared_ptr<const CrateSnapshot> answeredCrate;
    bool closingOnTermination = false;
    int tableTickCount = 0;
    int crateTickCount = 1000; // so the first tick after start checks the connection at once

    // ---- Commands ----
protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The operator's chosen channels of the shown module (each once, ascending); empty when
    // none is chosen. Never taken from the table widget's current row.
    QList<int> selectedChannelRows() const;
    // The channel the operator put the cursor on, -1 when there is none.
    int selectedChannel() const;
    // The name of `module` that survives a rediscovery: controller address and module address.
    QString moduleKey(BaseModule* module) const;
    // After the program changed the table (blanking, new rows, another module): shows the
    // operator's selection in it again.
    void showOperatorSelection();
    // Red in the status bar for a while: a command that was not sent or not taken (the desk's).
    void showCommandMessage(const QString& text);
    // What every message says of a request nobody answered (FailureText::noAnswer()).
    static QString noAnswerText();
    // ---- Commands: the desk and the menu commands built on it ----
    // Creates them and connects the menu actions to them.
    void setUpCommands();
    CommandDesk* desk = nullptr;
    ChannelMenuCommands* channelCommands = nullptr;
    ModuleMenuCommands* moduleCommands = nullptr;
    // The current module's channels that await a command, shown pending in the table.
    void showPendingChannels();

    // ---- Control windows (TesmarControlControlWindows.cpp) ----
    // The channel windows follow the operator's current channel.
    void showChannelInToolWindows(int channel);
    // The password "tundra" was given: the crate window offers its fan speed, also one created later.
    bool crateFanSpeedEnabled = false;

    static constexpr int refusalMessageMs = 8000;
    int m_commandsInFlight = 0; // crate commands (CrateCommands); module commands are counted by the desk
    // The address the session's controller connected to (part of every module key).
    QString controllerAddress;

    int lastSelectedRow = -1;
    ChannelSelection selection;

    // ---- Data ----
    Ui::TesmarControl* ui;
    QTimer* refreshTimer; // 200 ms, drives refreshChannelTable; started by a successful connection

    // Tool windows: created on first use with this window as parent, kept, deleted with it.
    QPointer<DialogChannelControl> dialogChannelControl;
    QPointer<DialogModuleControl> dialogModuleControl;
    QPointer<DialogChannelBounds> dialogChannelBounds;
    QPointer<DialogSuppliesTempLimits> dialogSuppliesTempLimits;
    QPointer<DialogCrate> dialogCrate;
    QPointer<DialogFlexGroups> dialogFlexGroups;
    QPointer<DialogInterlockOut> dialogInterlockOut;
    QPointer<DialogOverview> dialogOverview;
    QPointer<DialogScriptConsole> dialogScriptConsole;

    // Controller, modules, crates and the poller; the window keeps no device object of its own.
    std::unique_ptr<DeviceSession> session;
    // The module whose change the window last announced (currentModuleChanged); -1 for none.
    int announcedModuleIndex = -1;
    qint64 discoveredAtMs = -1; // ModuleSnapshot::nowMs() of the latest discovery
    bool moduleRefreshDue = false;

    QLabel* statusLabelLiveInsertion;
    QLabel* statusLabelMiddle;
    QLabel* statusLabelController;

    QString crateIpAddress; // the crate's IPv4 address, from the settings or the user

    // Created in the constructor, children of the window.
    ProfileDesk* m_profileDesk = nullptr;
    AutomaticDesk* m_automaticDesk = nullptr;
    void setUpProfileDesks();

    std::unique_ptr<UserDialogs> ownDialogs;
    UserDialogs* userDialogs; // ownDialogs, or the replacement set by setUserDialogs

    // ---- Scripts (TesmarControlScript.cpp) ----
public slots:
    // Replaces the held script unless `script` is empty, then runs it against the module the
    // window shows (bound anew for every run, named in the console). While a script runs only
    // the held text changes; without a module the console is told why nothing runs.
    void runScript(QString script);

private:
    // Created with the console on first use, as its child: it goes with the tool windows, before
    // the devices (the session's release tells it first).
    QPointer<class ScriptThread> scriptThread;

    // ---- Trends, current alarms, events and archive (HistoryDesk) ----
public:
    // History of every module the refresh reads, and the current alarms fed from it.
    TrendRecorder* trendRecorder() const;
    // Null when the [Archive] settings are unusable (the window says why).
    Archive* archive() const;
    EventLog* eventLog() const;
    void showEvents();
    // The crate's commands (the crate window's switch and fan speed go there).
    CrateCommands* crateCommands() const;

private:
    // Places the desk's actions in the menus and its labels in the status bar.
    void setUpHistory();
    // The alarm colour of the current module's status cells.
    void markAlarmRows();
    bool selectedRowsAlarm() const;
    HistoryDesk* m_history = nullptr;

    // ---- Service functions (ServiceDesk) ----
public:
    // The special-mode and factory dialogs, base address programming and the service jobs.
    ServiceDesk* serviceDesk() const;

private:
    void setUpServiceDesk();

    bool vmeModules = false; // the controller kind reaches VME modules
    ServiceDesk* m_serviceDesk = nullptr;
};
