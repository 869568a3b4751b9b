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

#include "device/BaseModule.h"
#include "device/ChannelSelection.h"
#include "device/CommandOutcome.h"
#include "device/CommandTarget.h"
#include "service/CommandSender.h"
#include "service/FirmwareFile.h"

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
class ControllerFactory;
class CrateCommands;
class DeviceSession;
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
class DialogFactory;
class DialogFlexGroups;
class DialogInterlockOut;
class EventLog;
class HistoryDesk;
class DialogModuleControl;
class DialogOverview;
class DialogScriptConsole;
class DialogSetCurrent;
class DialogSpecial;
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
// (rendering the snapshots), TesmarControlCommands.cpp (menu commands and the slots the tool windows call),
// TesmarControlScript.cpp (script console), TesmarControlService.cpp (special mode, factory settings
// and base address programming of VME modules). Trends, alarms, events and the archive are
// HistoryDesk's, the write journal's window JournalDesk's, the crate's commands CrateCommands',
// profiles and the statistic window ProfileDesk's, automatic stepping AutomaticDesk's.
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
    void on_actionSetLiveInsertion_triggered();
    void on_actionSetAllModulesOn_triggered();
    void on_actionSetAllModulesOff_triggered();
    void on_actionSetAllModulesVoltage_triggered();
    void on_actionSetAllModulesCurrent_triggered();
    void on_actionSetAllModulesVoltageRamp_triggered();
    void on_actionSetAllModulesCurrentRamp_triggered();
    void on_actionClearAllModulesEvents_triggered();
    void on_actionSetAllModulesEmergencyOff_triggered();
    void on_actionClearAllModulesEmergencyOff_triggered();
    void on_actionSetAllModulesFineAdjustmentOn_triggered();
    void on_actionSetAllModulesFineAdjustmentOff_triggered();
    void on_actionSelectModule_triggered();
    void on_actionPreviousModule_triggered();
    void on_actionNextModule_triggered();
    void on_actionSetModulesVoltageRamp_triggered();
    void on_actionSetModulesCurrentRamp_triggered();
    void on_actionClearAllEvents_triggered();
    void on_actionAdcSampleRate_triggered();
    void on_actionDigitalFilter_triggered();
    void on_actionSuppliesAndTemperature_triggered();
    void on_actionModuleStatusControl_triggered();
    void on_actionVariableGroups_triggered();
    void on_actionFactorySettings_triggered();
    void on_actionSpecialMode_triggered();
    void on_actionProgramNewBaseAddress_triggered();
    void on_actionInterlockOut_triggered();
    void on_actionSetFineAdjustmentOn_triggered();
    void on_actionSetFineAdjustmentOff_triggered();
    void on_actionSettings_triggered();
    void on_actionSetAllChannelsOn_triggered();
    void on_actionSetAllChannelsOff_triggered();
    void on_actionSetAllVoltages_triggered();
    void on_actionSetAllCurrents_triggered();
    void on_actionSetAllChannelsCurrentTrip_triggered();
    void on_actionSetAllChannelsExternalInhibitAction_triggered();
    void on_actionSetAllChannelsVoltageIncremental_triggered();
    void on_actionSetAllChannelsEmergencyOff_triggered();
    void on_actionClearAllChannelsEmergencyOff_triggered();
    void on_actionSetKillEnable_triggered();
    void on_actionSetKillDisable_triggered();
    void on_actionDisableAllResistors_triggered();
    void on_actionEnableResistor1_triggered();
    void on_actionEnableResistor2_triggered();
    void on_actionEnableBothResistors_triggered();
    void on_actionDoMultiplex_triggered();
    void on_actionSelectChannel_triggered();
    void on_actionSetChannelVoltage_triggered();
    void on_actionSetChannelCurrent_triggered();
    void on_actionSetChannelCurrentTrip_triggered();
    void on_actionSetChannelExternalInhibitAction_triggered();
    void on_actionSetChannelOn_triggered();
    void on_actionSetChannelOff_triggered();
    void on_actionSetChannelEmergencyOff_triggered();
    void on_actionClearChannelEmergencyOff_triggered();
    void on_actionClearChannelEvents_triggered();
    void on_actionChannelStatusControl_triggered();
    void on_actionBounds_triggered();
    void on_actionSetChannelNominalValues_triggered();
    void on_actionAutoSwitchMeasurement_triggered();
    void on_actionSetChannelExternalMeasurementOn_triggered();
    void on_actionSetChannelExternalMeasurementOff_triggered();
    void on_actionSetChannelRippleMeasurementOn_triggered();
    void on_actionSetChannelRippleMeasurementOff_triggered();

    void on_table_itemSelectionChanged();
    void on_table_customContextMenuRequested(const QPoint& position);
    void on_lstModules_customContextMenuRequested(const QPoint& position);

    // ---- Command slots called by tool windows ----
    // All act on the current module; a serial-number argument is not used to find a module.
    void clearChannelEvents(int serialNumber, int channel);
    // Clear `clearBits`, then set `setBits` of the control word the module has now (one
    // read-modify-write; nothing is written when the word cannot be read).
    void changeChannelControl(int serialNumber, int channel, quint32 clearBits, quint32 setBits);
    // The same for an event mask or the interlock-out control word: read on the device side
    // (a read that was not answered writes nothing), changed, written back.
    void changeChannelEventMask(int serialNumber, int channel, quint32 clearBits, quint32 setBits);
    void clearModuleEvents();
    void changeModuleControl(quint32 clearBits, quint32 setBits);
    void changeModuleEventMask(quint32 clearBits, quint32 setBits);
    void setRestartTime(quint32 restartTime);
    void setModuleEventChannelMask(quint32 mask);
    void clearModuleEventChannelStatus();
    void setModuleEventGroupMask(quint32 mask);
    void clearModuleEventGroupStatus();
    void setFlexGroup(int groupNumber, quint32 member, quint32 type);
    void changeInterlockOutControl(quint32 clearBits, quint32 setBits);
    void setChannelVoltageNominal(int channel, float value);
    void setChannelCurrentNominal(int channel, float value);
    // ---- Service requests (TesmarControlService.cpp) ----
    // These act on the requesting dialog's target module (the one the procedure started on),
    // whatever serial number they carry and whichever module is current; a module that is gone
    // gets nothing and the dialog is told.
    void setSpecialControl(int serialNumber, quint32 command);
    // Starts the special-mode dialog's transfer as a job on its target module.
    void startFirmwareTransfer(const QVector<FirmwareFile::Line>& lines, qint64 fileSize, bool write);
    // Starts the factory reset on the factory dialog's module and returns; factoryResetDone
    // (or factoryResetCancelled) follows when it ended.
    void storeFactorySettings(int serialNumber);
    void cancelFactoryReset();
    // Writes the asymmetric-bounds bits of the channel's control word, waits until the module
    // reports them, then the bounds. Gives up with a message when the word never reads back.
    void setChannelBounds(int channel, bool asymmetricVoltageBounds, float voltageInterlockMaxSet,
        float voltageInterlockMinSet, bool asymmetricCurrentBounds, float currentInterlockMaxSet,
        float currentInterlockMinSet);

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
    // Item preselected in the ADC sample rate prompt ("50", "60", "100", "500") and in the digital
    // filter prompt ("1", "16", "64", "256", "1024") for the module's current setting.
    static int adcSampleRateChoice(quint32 samplesPerSecond);
    static int digitalFilterChoice(quint32 filter);

signals:
    // After the factory reset procedure; false when it gave up or a write was refused.
    void factoryResetDone(bool success);
    void factoryResetCancelled();
    void factoryResetProgress(int done, int total);

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
    // The main settings ("tesmarcontrol").
    std::unique_ptr<QSettings> openSettings() const;
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
    // CrateCommands::submit, for the crate-wide modes sent from the menus.
    using CrateWrite = std::function<QString(BaseController& controller, BaseCrate* crate)>;
    void submitCrateCommand(const QString& what, CrateWrite write, std::function<void()> taken = {}, bool needsCrate = true);
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
    // The target of a command named `what` (CommandTarget::resolve) from the shown module and the
    // operator's choice; a refusal is shown in red. `removesVoltage` (Off, Emergency Off) still
    // sends to a module that does not answer: such a command is tried rather than refused.
    CommandTarget commandTarget(CommandTarget::Scope scope, const QString& what, bool removesVoltage = false);
    bool commandModule(QPointer<BaseModule>& module, const QString& what, bool removesVoltage = false);
    bool commandChannels(
        QPointer<BaseModule>& module, QList<int>& channels, const QString& what, bool removesVoltage = false);
    // "Set voltage: no current reading of Slot 5; nothing was sent."
    void showNoReading(BaseModule* module, const QString& what);
    // What every message says of a request nobody answered (FailureText::noAnswer()).
    static QString noAnswerText();
    // Red in the status bar for a while: a command that was not sent or not taken.
    void showCommandMessage(const QString& text);
    using WriteFailure = CommandOutcome::Failure;
    // The failures (CommandOutcome::failuresText()) red in the status bar; nothing for none.
    void showWriteFailures(BaseModule* module, const QString& what, const QList<WriteFailure>& failures);
    // Every channel of the module, whatever its number (the quint32 masks reach only 0..31).
    static QList<int> allChannelsOf(BaseModule* module);
    // ---- Sending commands ----
    // Every command is carried out off the GUI thread (CommandSender): the
    // status bar says "Switch on: sending to 48 channels..." meanwhile and shows the outcome when
    // it is back. A command's work runs on the device thread with the module and returns what
    // went wrong (empty: every write was taken); it may use only the module it gets and the
    // CommandOutcome builders.
    using CommandWork = CommandSender::Work;
    using Urgency = CommandSender::Urgency;
    // Sends `work` to `module` (one of the session's modules). `what` names the command in the
    // pending text, `targets` the number of channels it writes (0: the module).
    // `pending` are the channels the command writes: the table shows them pending until its
    // outcome is back.
    void submitCommand(BaseModule* module, const QString& what, int targets, CommandWork work,
        Urgency urgency = Urgency::Normal, const QList<int>& pending = {});
    void sendCommand(BaseModule* module, const QString& what, CommandWork work, Urgency urgency,
        std::function<void(const CommandOutcome&)> done, const QList<int>& pending = {});
    // Created on first use, a child of the window.
    CommandSender* commandSender();
    CommandSender* m_commandSender = nullptr;
    // The current module's channels that await a command, shown pending in the table.
    void showPendingChannels();
    void showOutcome(const CommandOutcome& outcome, const QString& pending);
    // One write to the module; `channel` -1 names the module in a failure.
    void submitWrite(BaseModule* module, int channel, const QString& what, std::function<bool(BaseModule& module)> write);
    // A per-channel operation on each of `channels`; every failed channel is named.
    using ChannelWrite = CommandOutcome::ChannelWrite;
    void submitChannels(BaseModule* module, const QList<int>& channels, const ChannelWrite& write, const QString& what,
        Urgency urgency = Urgency::Normal);
    // A switch command for `channels`, all of them in one operation of the module (its writes
    // go out together where the controller can do that).
    void submitChannels(BaseModule* module, const QList<int>& channels, BaseModule::SwitchAction action, const QString& what,
        Urgency urgency = Urgency::Normal);
    // `work` for each of `modules`; the failures of all come back as one message. With
    // `writesChannels` the table shows every channel of the modules pending meanwhile.
    void submitToModules(const QList<BaseModule*>& modules, const QString& what, const CommandWork& work,
        Urgency urgency = Urgency::Normal, bool writesChannels = false);
    // A job started as a command (the bounds write): pending in the status bar and counted in
    // commandsInFlight() until it finished; its refusals, or a give-up as a message box, then.
    // The job is deleted after it finished.
    void runCommandJob(ServiceJob* job, const QString& what);
    // ModuleCommands::changeWord on the shown module, from a tool window.
    void submitWordChange(const QString& what, const QString& wordName, int channel, quint32 clearBits, quint32 setBits,
        std::function<quint32(BaseModule&)> read, std::function<bool(BaseModule&, quint32)> write);
    // The all-modules value prompt once the nominal range of every module is known.
    void askAllModulesValue(bool voltage, const QPointer<BaseModule>& module, const NominalRange& range);
    // ADC sample rate, digital filter: the setting read on the device side, then the choice.
    void promptModuleSetting(const QString& label, const QStringList& items, std::function<bool(BaseModule&, quint32*)> read,
        int (*choiceOf)(quint32), const QString& what, std::function<bool(BaseModule&, quint32)> write);
    // The one place that tells the operator about a refused write: red in the status bar for a
    // few seconds, "Channel 3: set voltage 99999 V refused by the crate (wrongValue)"; a negative
    // channel names the module ("Slot 5: ..."). `why` follows "refused".
    void showRefusal(BaseModule* module, int channel, const QString& what, const QString& why);
    void writeChannelValue(BaseModule* module, int channel, bool voltage, float value);
    // True while `module` is one of the session's modules (not released during a prompt).
    bool isHeld(const QPointer<BaseModule>& module) const;
    // The shown module's latest channel read while it is fresh and in the units shown now; null
    // otherwise: a prompt or dialog then offers nothing rather than a stale or failed read.
    std::shared_ptr<const ModuleSnapshot> freshChannelRead(BaseModule* module) const;
    // A nominal value from the channel window: sent only while the latest answered module status
    // shows stop mode, otherwise refused with that reason.
    void setChannelNominalFromToolWindow(int channel, bool voltage, float value);
    // The voltage or current prompt for the chosen channels or all channels of the shown module.
    void promptChannelValue(bool voltage, bool allChannels);
    static QString allChannelsValueText(BaseModule* module, bool voltage, double value)
    {
        return CommandOutcome::allChannelsValueText(*module, voltage, value);
    }
    void setMeasurementControlBit(quint32 bit, bool on);
    void promptAllModulesValue(bool voltage);
    void promptRampSpeed(bool voltage, bool allModules);
    // Gives every channel of every module the switch command `action`.
    void forEachModule(BaseModule::SwitchAction action, const QString& what, Urgency urgency = Urgency::Normal);

    // ---- Control windows (TesmarControlControlWindows.cpp) ----
    // Reads `channel`'s settings for a dialog off the GUI thread: `fill` gets them, `failed` the
    // reason when they were not answered; neither runs once `dialog` is gone.
    void readChannelSettingsFor(QObject* dialog, const QPointer<BaseModule>& module, int channel,
        std::function<void(const ChannelSettings&)> fill, std::function<void(const QString&)> failed);
    // The red line of a dialog whose channel could not be read.
    static QString unreadText(int channel, const QString& reason);
    // The one chosen channel a single-channel dialog acts on; -1 (refused with a red message)
    // without a module, without a channel or with several chosen.
    int singleChannelTarget(QPointer<BaseModule>& module, const QString& what);
    void runInhibitDialog(bool allChannels);
    // The channel windows follow the operator's current channel.
    void showChannelInToolWindows(int channel);
    // The password "tundra" was given: the crate window offers its fan speed, also one created later.
    bool crateFanSpeedEnabled = false;

    static constexpr int refusalMessageMs = 8000;
    int m_commandsInFlight = 0; // crate commands (CrateCommands); module commands are counted by the sender
    // The address the session's controller connected to (part of every module key).
    QString controllerAddress;

    int lastSelectedRow = -1;
    ChannelSelection selection;
    bool incrementalVoltageDescending = true;

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
    QPointer<DialogFactory> dialogFactory;
    QPointer<DialogSpecial> dialogSpecial;
    QPointer<DialogScriptConsole> dialogScriptConsole;

    // Controller, modules, crates and the poller; the window keeps no device object of its own.
    std::unique_ptr<DeviceSession> session;
    // The module whose change the window last announced (currentModuleChanged); -1 for none.
    int announcedModuleIndex = -1;
    qint64 discoveredAtMs = -1; // ModuleSnapshot::nowMs() of the latest discovery
    bool moduleRefreshDue = false;

    QString settingsOrganisation;
    QString settingsApplication;

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
public slots:
    // HistoryDesk::acknowledgeCurrentAlarms and setCurrentAlarm, for the table's context menu.
    void acknowledgeCurrentAlarms();
    void setCurrentAlarm();

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

    // ---- Service functions (TesmarControlService.cpp) ----
public:
    // The register window a VME module decodes: 0x800 for the 24-channel layout, else 0x400.
    static quint32 addressWindowOf(BaseModule* module);

private:
    enum class ServiceDialog { Special, Factory, None };
    // The module object the dialog acts on, null when it has none.
    BaseModule* dialogTarget(ServiceDialog dialog) const;
    // The same, null when it is no longer listed (the dialog is told).
    BaseModule* serviceTarget(ServiceDialog dialog);
    // "VME BA 0x4000, serial 1234"
    static QString serviceTargetName(BaseModule* module, int serialNumber);
    int lastReadSerialNumber(BaseModule* module) const;
    // Sends `write` to the dialog's module on the device side; a refusal goes to the status bar
    // and to the dialog with the module's reason.
    void serviceWrite(ServiceDialog dialog, const QString& what, std::function<bool(BaseModule&)> write);
    void tellServiceDialog(ServiceDialog dialog, const QString& text);
    void serviceModuleControl(ServiceDialog dialog, quint32 control);
    // Per refresh tick: reads what the shown service dialogs need on the poller's thread.
    void refreshServiceDialogs();
    void readServiceWords(ServiceDialog dialog);
    // The dialogs follow the current module while no procedure of theirs runs.
    void followCurrentModuleInServiceDialogs();
    // Asks for the new address and starts programming it; false when nothing was started.
    bool programNewBaseAddress(const QPointer<BaseModule>& module);
    void baseAddressProgrammed(ServiceJob* job, const QString& oldAddressText);
    void baseAddressResetEnded(ServiceJob* job);
    void factoryResetEnded(ServiceJob* job);
    // Runs `job` with the refresh timer stopped (as long as any service job runs); its refused
    // writes go to the status bar and to `dialog` (None: no dialog). The window owns it until it
    // ended.
    void startServiceJob(ServiceJob* job, ServiceDialog dialog);
    void reportRefusals(ServiceJob* job, ServiceDialog dialog);
    void serviceJobEnded(ServiceJob* job);

    bool vmeModules = false;              // the controller kind reaches VME modules
    qint64 serviceReadAtMs[2] = {-1, -1}; // start of the service read in flight, per dialog
    QPointer<ServiceJob> factoryResetJob;
    QPointer<ServiceJob> baseAddressJob; // programming, then the reset to the new address
    int serviceJobsRunning = 0;
};
