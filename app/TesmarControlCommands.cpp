// The operator's selection, the context menus, the password and settings entries, and the
// wiring of the commands: every menu command goes to the menu commands built on the command desk
// (CommandDesk, ChannelMenuCommands, ModuleMenuCommands); the window only shows what they report.
#include "TesmarControl.h"

#include "ChannelMenuCommands.h"
#include "ChannelTable.h"
#include "CommandDesk.h"
#include "CrateCommands.h"
#include "DialogSettings.h"
#include "HistoryDesk.h"
#include "ModuleMenuCommands.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/FailureText.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogCrate.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>

#include <functional>
#include <vector>

namespace {

struct MenuItem
{
    QString text; // empty: a separator
    std::function<void()> run;
    bool enabled = true;
};

void runContextMenu(QWidget* window, const QString& title, const std::vector<MenuItem>& items)
{
    QMenu menu(window);
    QAction* titleAction = menu.addAction(title);
    titleAction->setEnabled(false);
    QFont bold = titleAction->font();
    bold.setBold(true);
    titleAction->setFont(bold);
    menu.addSeparator();
    for (const MenuItem& item : items) {
        if (item.text.isEmpty()) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(item.text);
        action->setEnabled(item.enabled);
        QObject::connect(action, &QAction::triggered, window, item.run);
    }
    menu.exec(QCursor::pos());
}

// A context menu entry that calls `method` of `target`.
template <typename Target>
std::function<void()> calling(Target* target, void (Target::*method)())
{
    return [target, method] { (target->*method)(); };
}

} // namespace

// ---- The commands ----

void TesmarControl::setUpCommands()
{
    CommandDesk::WindowHooks deskHooks;
    deskHooks.dialogs = [this] { return dialogs(); };
    deskHooks.controllerAddress = [this] { return controllerAddress; };
    deskHooks.moduleAnswering = [this](int index, qint64 nowMs) { return moduleAnswering(index, nowMs); };
    deskHooks.refreshCurrentModuleNow = [this] { refreshCurrentModuleNow(); };
    desk = new CommandDesk(session.get(), &selection, statusBar(), std::move(deskHooks), this);
    connect(desk, &CommandDesk::pendingChanged, this, &TesmarControl::showPendingChannels);

    ChannelMenuCommands::WindowHooks channelHooks;
    channelHooks.selectedChannel = [this] { return selectedChannel(); };
    channelHooks.selectChannel = [this](int channel) { ui->table->setCurrentCell(channel, 0); };
    channelCommands = new ChannelMenuCommands(desk, std::move(channelHooks), this);

    ModuleMenuCommands::WindowHooks moduleHooks;
    moduleHooks.selectedChannel = [this] { return selectedChannel(); };
    moduleHooks.answeringCrate = [this] { return crateAnswering() ? answeredCrate : nullptr; };
    moduleHooks.crateCommand = [this](const QString& what, ModuleMenuCommands::CrateWrite write, std::function<void()> taken,
                                   bool needsCrate) {
        m_crateCommands->submit(what, std::move(write), std::move(taken), needsCrate);
    };
    moduleHooks.refreshCurrentModuleNow = [this] { refreshCurrentModuleNow(); };
    moduleCommands = new ModuleMenuCommands(desk, std::move(moduleHooks), this);

    const std::pair<QAction*, void (ChannelMenuCommands::*)()> channelActions[] = {
        {ui->actionSetChannelOn, &ChannelMenuCommands::switchOn},
        {ui->actionSetChannelOff, &ChannelMenuCommands::switchOff},
        {ui->actionSetChannelEmergencyOff, &ChannelMenuCommands::emergencyOff},
        {ui->actionClearChannelEmergencyOff, &ChannelMenuCommands::clearEmergencyOff},
        {ui->actionClearChannelEvents, &ChannelMenuCommands::clearEvents},
        {ui->actionSetChannelVoltage, &ChannelMenuCommands::promptVoltage},
        {ui->actionSetChannelCurrent, &ChannelMenuCommands::promptCurrent},
        {ui->actionSetChannelCurrentTrip, &ChannelMenuCommands::currentTrip},
        {ui->actionSetChannelExternalInhibitAction, &ChannelMenuCommands::inhibitAction},
        {ui->actionSetChannelNominalValues, &ChannelMenuCommands::nominalValues},
        {ui->actionSelectChannel, &ChannelMenuCommands::selectChannel},
        {ui->actionSetChannelExternalMeasurementOn, &ChannelMenuCommands::externalMeasurementOn},
        {ui->actionSetChannelExternalMeasurementOff, &ChannelMenuCommands::externalMeasurementOff},
        {ui->actionSetChannelRippleMeasurementOn, &ChannelMenuCommands::rippleMeasurementOn},
        {ui->actionSetChannelRippleMeasurementOff, &ChannelMenuCommands::rippleMeasurementOff},
        {ui->actionSetAllChannelsOn, &ChannelMenuCommands::switchAllOn},
        {ui->actionSetAllChannelsOff, &ChannelMenuCommands::switchAllOff},
        {ui->actionSetAllChannelsEmergencyOff, &ChannelMenuCommands::emergencyOffAll},
        {ui->actionClearAllChannelsEmergencyOff, &ChannelMenuCommands::clearEmergencyOffAll},
        {ui->actionSetAllVoltages, &ChannelMenuCommands::promptAllVoltages},
        {ui->actionSetAllCurrents, &ChannelMenuCommands::promptAllCurrents},
        {ui->actionSetAllChannelsCurrentTrip, &ChannelMenuCommands::currentTripAll},
        {ui->actionSetAllChannelsExternalInhibitAction, &ChannelMenuCommands::inhibitActionAll},
        {ui->actionSetAllChannelsVoltageIncremental, &ChannelMenuCommands::setVoltagesIncremental},
    };
    for (const auto& [action, command] : channelActions)
        connect(action, &QAction::triggered, channelCommands, command);
    // The check mark says which: both measurements on or off.
    connect(
        ui->actionAutoSwitchMeasurement, &QAction::triggered, channelCommands, &ChannelMenuCommands::switchBothMeasurements);

    const std::pair<QAction*, void (ModuleMenuCommands::*)()> moduleActions[] = {
        {ui->actionClearAllEvents, &ModuleMenuCommands::clearEvents},
        {ui->actionSetKillEnable, &ModuleMenuCommands::killEnable},
        {ui->actionSetKillDisable, &ModuleMenuCommands::killDisable},
        {ui->actionSetFineAdjustmentOn, &ModuleMenuCommands::fineAdjustmentOn},
        {ui->actionSetFineAdjustmentOff, &ModuleMenuCommands::fineAdjustmentOff},
        // The System-menu pair acts on the current module only, like the Module-menu pair.
        {ui->actionSetAllModulesFineAdjustmentOn, &ModuleMenuCommands::fineAdjustmentOn},
        {ui->actionSetAllModulesFineAdjustmentOff, &ModuleMenuCommands::fineAdjustmentOff},
        {ui->actionDisableAllResistors, &ModuleMenuCommands::disableAllResistors},
        {ui->actionEnableResistor1, &ModuleMenuCommands::enableResistor1},
        {ui->actionEnableResistor2, &ModuleMenuCommands::enableResistor2},
        {ui->actionEnableBothResistors, &ModuleMenuCommands::enableBothResistors},
        {ui->actionDoMultiplex, &ModuleMenuCommands::multiplex},
        {ui->actionSetModulesVoltageRamp, &ModuleMenuCommands::promptVoltageRamp},
        {ui->actionSetModulesCurrentRamp, &ModuleMenuCommands::promptCurrentRamp},
        {ui->actionAdcSampleRate, &ModuleMenuCommands::promptAdcSampleRate},
        {ui->actionDigitalFilter, &ModuleMenuCommands::promptDigitalFilter},
        {ui->actionSetLiveInsertion, &ModuleMenuCommands::toggleLiveInsertion},
        {ui->actionSetAllModulesOn, &ModuleMenuCommands::allModulesOn},
        {ui->actionSetAllModulesOff, &ModuleMenuCommands::allModulesOff},
        {ui->actionSetAllModulesEmergencyOff, &ModuleMenuCommands::allModulesEmergencyOff},
        {ui->actionClearAllModulesEmergencyOff, &ModuleMenuCommands::allModulesClearEmergencyOff},
        {ui->actionClearAllModulesEvents, &ModuleMenuCommands::allModulesClearEvents},
        {ui->actionSetAllModulesVoltage, &ModuleMenuCommands::promptAllModulesVoltage},
        {ui->actionSetAllModulesCurrent, &ModuleMenuCommands::promptAllModulesCurrent},
        {ui->actionSetAllModulesVoltageRamp, &ModuleMenuCommands::promptAllModulesVoltageRamp},
        {ui->actionSetAllModulesCurrentRamp, &ModuleMenuCommands::promptAllModulesCurrentRamp},
    };
    for (const auto& [action, command] : moduleActions)
        connect(action, &QAction::triggered, moduleCommands, command);
}

CommandDesk* TesmarControl::commandDesk() const
{
    return desk;
}

ChannelMenuCommands* TesmarControl::channelMenuCommands() const
{
    return channelCommands;
}

int TesmarControl::commandsInFlight() const
{
    return m_commandsInFlight + desk->inFlight();
}

void TesmarControl::showPendingChannels()
{
    BaseModule* module = currentModule();
    ui->table->setPendingRows(module ? desk->pendingChannels(moduleKey(module)) : QSet<int>());
}

void TesmarControl::showCommandMessage(const QString& text)
{
    desk->showCommandMessage(text);
}

QString TesmarControl::noAnswerText()
{
    return FailureText::noAnswer();
}

// ---- The operator's selection ----

QList<int> TesmarControl::selectedChannelRows() const
{
    BaseModule* module = currentModule();
    if (!module)
        return {};
    return selection.channelsOf(moduleKey(module), module->channelNumber());
}

int TesmarControl::selectedChannel() const
{
    BaseModule* module = currentModule();
    return module ? selection.currentOf(moduleKey(module), module->channelNumber()) : -1;
}

QString TesmarControl::moduleKey(BaseModule* module) const
{
    return desk->moduleKey(module);
}

void TesmarControl::showOperatorSelection()
{
    BaseModule* module = currentModule();
    const QString key = module ? moduleKey(module) : QString();
    const int count = module ? module->channelNumber() : 0;
    ui->table->showSelection(selection.channelsOf(key, count), selection.currentOf(key, count));
    const int current = selection.currentOf(key, count);
    ui->lblChannel->setText(current >= 0 ? tr("Channel %1 selected").arg(current) : tr("none"));
}

// ---- Editing in the table ----

void TesmarControl::tableCellDataChanged(int row, int column, QString text)
{
    const bool voltage = column == ChannelTable::ColumnVoltageSet;
    if (voltage || column == ChannelTable::ColumnCurrentSet)
        channelCommands->writeTypedValue(row, voltage, text);
}

void TesmarControl::on_actionPassword_triggered()
{
    bool ok = false;
    const QString password =
        dialogs()->getText(this, applicationName(), tr("Please enter password:"), QLineEdit::Password, QString(), &ok);
    if (!ok)
        return;
    if (password == QLatin1String("pix7cloud")) {
        ui->actionSpecialMode->setEnabled(true);
    } else if (password == QLatin1String("tundra")) {
        ui->actionSetCrateAddress->setEnabled(true);
        // The crate window offers its fan speed from now on (also when it is opened later).
        crateFanSpeedEnabled = true;
        if (dialogCrate)
            dialogCrate->setFanSpeedEnabled(true);
    } else if (password == QLatin1String("mosk")) {
        ui->actionSetFineAdjustmentOn->setEnabled(true);
        ui->actionSetFineAdjustmentOff->setEnabled(true);
        ui->actionSetAllModulesFineAdjustmentOn->setEnabled(true);
        ui->actionSetAllModulesFineAdjustmentOff->setEnabled(true);
    }
}

// The resolution dialog applies the new units to the modules and makes the table set itself up
// again with them.
void TesmarControl::on_actionSettings_triggered()
{
    if (BaseModule* module = currentModule())
        DialogSettings::editModuleResolution(this, module, session->modules());
}

// ---- Table selection and context menus ----

void TesmarControl::on_table_itemSelectionChanged()
{
    // Blanking, new rows and restoring the selection change the widget's selection too; only
    // the operator's own changes make the selection.
    if (ui->table->changingByProgram())
        return;
    const WriteSource source("command");
    BaseModule* module = currentModule();
    if (!module)
        return;
    selection.setModule(moduleKey(module));
    selection.setChannels(ui->table->selectedRows(), ui->table->currentRow());
    const int row = selection.current();
    ui->lblChannel->setText(row >= 0 ? tr("Channel %1 selected").arg(row) : tr("none"));
    if (row == lastSelectedRow || row < 0)
        return;
    lastSelectedRow = row;
    showChannelInToolWindows(row);
    if (ui->actionAutoSwitchMeasurement->isChecked() && isMeasurementModule(module))
        channelCommands->measureBothAtCursor(module, row);
}

void TesmarControl::on_lstModules_customContextMenuRequested(const QPoint& /*position*/)
{
    if (session->modules().isEmpty())
        return;
    runContextMenu(this, tr("System Menu"),
        {
            {tr("Set All Voltages..."), calling(moduleCommands, &ModuleMenuCommands::promptAllModulesVoltage)},
            {tr("Set All Currents..."), calling(moduleCommands, &ModuleMenuCommands::promptAllModulesCurrent)},
            {},
            {tr("Set All On"), calling(moduleCommands, &ModuleMenuCommands::allModulesOn)},
            {tr("Set All Off"), calling(moduleCommands, &ModuleMenuCommands::allModulesOff)},
            {},
            {tr("Set All Emergency Off"), calling(moduleCommands, &ModuleMenuCommands::allModulesEmergencyOff)},
            {tr("Clear All Emergency Off"), calling(moduleCommands, &ModuleMenuCommands::allModulesClearEmergencyOff)},
            {},
            {tr("Set Voltage Ramp..."), calling(moduleCommands, &ModuleMenuCommands::promptAllModulesVoltageRamp)},
            {tr("Set Current Ramp..."), calling(moduleCommands, &ModuleMenuCommands::promptAllModulesCurrentRamp)},
            {},
            {tr("Clear All Events"), calling(moduleCommands, &ModuleMenuCommands::allModulesClearEvents)},
        });
}

void TesmarControl::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    if (session->modules().isEmpty())
        return;
    runContextMenu(this, tr("Module Menu"),
        {
            {tr("Set All Voltages..."), calling(channelCommands, &ChannelMenuCommands::promptAllVoltages)},
            {tr("Set All Currents..."), calling(channelCommands, &ChannelMenuCommands::promptAllCurrents)},
            {},
            {tr("Set All On"), calling(channelCommands, &ChannelMenuCommands::switchAllOn)},
            {tr("Set All Off"), calling(channelCommands, &ChannelMenuCommands::switchAllOff)},
            {},
            {tr("Set All Emergency Off"), calling(channelCommands, &ChannelMenuCommands::emergencyOffAll)},
            {tr("Clear All Emergency Off"), calling(channelCommands, &ChannelMenuCommands::clearEmergencyOffAll)},
            {},
            {tr("Status / Control..."), calling(this, &TesmarControl::on_actionModuleStatusControl_triggered)},
            {},
            {tr("Set Voltage Ramp..."), calling(moduleCommands, &ModuleMenuCommands::promptVoltageRamp)},
            {tr("Set Current Ramp..."), calling(moduleCommands, &ModuleMenuCommands::promptCurrentRamp)},
        });
}

void TesmarControl::on_table_customContextMenuRequested(const QPoint& /*position*/)
{
    BaseModule* module = currentModule();
    if (!module)
        return;
    const bool multiple = ui->table->hasMultipleSelection();
    const QString title = multiple ? tr("Selected Channels Menu") : tr("Channel %1 Menu").arg(selectedChannel());
    if (isMeasurementModule(module)) {
        runContextMenu(this, title,
            {
                {tr("Set External Measurement On"), calling(channelCommands, &ChannelMenuCommands::externalMeasurementOn)},
                {tr("Set External Measurement Off"), calling(channelCommands, &ChannelMenuCommands::externalMeasurementOff)},
                {tr("Set Ripple Measurement On"), calling(channelCommands, &ChannelMenuCommands::rippleMeasurementOn)},
                {tr("Set Ripple Measurement Off"), calling(channelCommands, &ChannelMenuCommands::rippleMeasurementOff)},
                {},
                {tr("Do Multiplex"), calling(moduleCommands, &ModuleMenuCommands::multiplex)},
                {},
                {tr("Disable All Resistors"), calling(moduleCommands, &ModuleMenuCommands::disableAllResistors)},
                {tr("Enable Resistor 1"), calling(moduleCommands, &ModuleMenuCommands::enableResistor1)},
                {tr("Enable Resistor 2"), calling(moduleCommands, &ModuleMenuCommands::enableResistor2)},
                {tr("Enable Both Resistors"), calling(moduleCommands, &ModuleMenuCommands::enableBothResistors)},
            });
        return;
    }
    std::vector<MenuItem> items{
        {tr("Set Voltage..."), calling(channelCommands, &ChannelMenuCommands::promptVoltage)},
        {tr("Set Current..."), calling(channelCommands, &ChannelMenuCommands::promptCurrent)},
        {},
        {tr("Set On"), calling(channelCommands, &ChannelMenuCommands::switchOn)},
        {tr("Set Off"), calling(channelCommands, &ChannelMenuCommands::switchOff)},
        {},
        {tr("Set Emergency Off"), calling(channelCommands, &ChannelMenuCommands::emergencyOff)},
        {tr("Clear Emergency Off"), calling(channelCommands, &ChannelMenuCommands::clearEmergencyOff)},
        {},
        {tr("Clear Events"), calling(channelCommands, &ChannelMenuCommands::clearEvents)},
        {tr("Status / Control..."), calling(this, &TesmarControl::on_actionChannelStatusControl_triggered), !multiple},
    };
    items.push_back({});
    items.push_back({tr("Set Current Alarm..."), calling(m_history, &HistoryDesk::setCurrentAlarm)});
    if (selectedRowsAlarm())
        items.push_back({tr("Acknowledge Current Alarm"), calling(m_history, &HistoryDesk::acknowledgeCurrentAlarms)});
    runContextMenu(this, title, items);
}
