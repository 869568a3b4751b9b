#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

namespace Ui {
class TesmarControl;
}

class BaseController;
class BaseCrate;
class BaseModule;
class QCloseEvent;
class QEvent;
class QLabel;
class QSettings;
class QTimer;
class UserDialogs;

class DialogAutomatic;
class DialogChannelBounds;
class DialogChannelControl;
class DialogCrate;
class DialogFactory;
class DialogFlexGroups;
class DialogInterlockOut;
class DialogModuleControl;
class DialogOverview;
class DialogScriptConsole;
class DialogSpecial;
class DialogStatistic;
class DialogSuppliesTempLimits;
class DialogWriteProfile;

// The program's single main window: menus, module list, channel table and status bar; it owns
// the controller, the modules and the crates, polls them, and re-broadcasts what it reads as
// update signals to the tool windows.
//
// The implementation is split by concern: TesmarControl.cpp (construction, settings, closing,
// help), TesmarControlConnection.cpp (connection and discovery), TesmarControlRefresh.cpp
// (refresh cycle), TesmarControlCommands.cpp (menu commands and the slots the tool windows call).
class TesmarControl : public QMainWindow
{
    Q_OBJECT

public:
    explicit TesmarControl(QWidget* parent = nullptr);
    ~TesmarControl() override;

    // Shown in the title bar and as the title of every message box.
    static QString applicationName();
    static QString version();
    // True when the command line (program name first) asks for the special-mode action: the
    // first argument is exactly "vrok".
    static bool specialModeRequested(const QStringList& arguments);

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
    // (Re)connects to the crate address and rediscovers the modules.
    void initModuleAccess();

    // ---- Refresh cycle ----
    void refreshChannelTable();

    // ---- Commands ----
    void tableCellDataChanged(int row, int column, QString text);
    void autoTimerUpdate();
    void on_actionController_triggered();
    void on_actionLoadProfile_triggered();
    void on_actionSaveProfile_triggered();
    void on_actionPassword_triggered();
    void on_actionScript_triggered();
    void on_actionAutomatic_triggered();
    void on_actionStatistic_triggered();
    void on_actionModuleOverview_triggered();
    void on_actionCrates_triggered();
    void on_actionSetCrateAddress_triggered();
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

    // ---- Command slots called by tool windows ----

signals:
    // ---- Update signals ----

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
    void rampDownAllModules();
    // The main settings ("tesmarcontrol").
    std::unique_ptr<QSettings> openSettings() const;
    void retranslateFrame();

    // ---- Connection and discovery ----
    // Deletes modules, crates and the controller (in that order); safe with nothing connected.
    void releaseModuleAccess();

    // ---- Refresh cycle ----

    // ---- Commands ----

    // ---- Data ----
    Ui::TesmarControl* ui;
    QTimer* refreshTimer;   // 200 ms, drives refreshChannelTable; started by a successful connection
    QTimer* automaticTimer; // 30000 ms, drives autoTimerUpdate

    // Tool windows: created on first use with this window as parent, kept, deleted with it.
    QPointer<DialogChannelControl> dialogChannelControl;
    QPointer<DialogModuleControl> dialogModuleControl;
    QPointer<DialogChannelBounds> dialogChannelBounds;
    QPointer<DialogSuppliesTempLimits> dialogSuppliesTempLimits;
    QPointer<DialogCrate> dialogCrate;
    QPointer<DialogFlexGroups> dialogFlexGroups;
    QPointer<DialogInterlockOut> dialogInterlockOut;
    QPointer<DialogOverview> dialogOverview;
    QPointer<DialogStatistic> dialogStatistic;
    QPointer<DialogAutomatic> dialogAutomatic;
    QPointer<DialogFactory> dialogFactory;
    QPointer<DialogSpecial> dialogSpecial;
    QPointer<DialogScriptConsole> dialogScriptConsole;
    QPointer<DialogWriteProfile> dialogWriteProfile;

    BaseController* controller = nullptr; // owned
    QList<BaseModule*> modules;           // owned, slot order
    QList<BaseCrate*> crates;             // owned, one per controller
    int currentModuleIndex = 0;
    bool moduleRefreshDue = false;

    QString profilePath; // default folder of profile files: the user's home folder
    QString settingsOrganisation;
    QString settingsApplication;

    QLabel* statusLabelLiveInsertion;
    QLabel* statusLabelMiddle;
    QLabel* statusLabelController;

    QString crateIpAddress; // the crate's IPv4 address, from the settings or the user

    std::unique_ptr<UserDialogs> ownDialogs;
    UserDialogs* userDialogs; // ownDialogs, or the replacement set by setUserDialogs
};
