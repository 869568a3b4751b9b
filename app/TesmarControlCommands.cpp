// Menu commands, context menus and the slots through which tool windows write into the current
// module. Channel commands act on the operator's chosen channels (the window's own selection,
// which the table shows highlighted); without a choice, or on a module that does not answer,
// they are refused with a red message.
#include "TesmarControl.h"

#include "dialogs/common/StatusMessages.h"

#include "ChannelTable.h"
#include "DialogSettings.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "controller/BaseController.h"
#include "device/BaseModule.h"
#include "device/CommandTarget.h"
#include "device/CrateSnapshot.h"
#include "device/DeviceSession.h"
#include "device/FailureText.h"
#include "device/ModuleCommands.h"
#include "device/ModuleSnapshot.h"
#include "device/NominalRange.h"
#include "device/SetValueCheck.h"
#include "device/StatusWordBits.h"
#include "device/WriteJournal.h"
#include "dialogs/DialogCrate.h"
#include "service/ChannelBoundsJob.h"
#include "service/CommandSender.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>

#include <cmath>
#include <functional>
#include <vector>

namespace {

constexpr int flexGroupCount = 32;

QString someChannelsNote(const NominalRange& range, const QString& unit)
{
    if (range.smallest < range.largest)
        return TesmarControl::tr("\n\nNote: some channels will only allow %L1 %2.").arg(double(range.smallest)).arg(unit);
    return QString();
}

QString bipolarNote()
{
    return TesmarControl::tr("\n\nNote: the maximum delta for bipolar modules is 3000 V.");
}

struct MenuItem
{
    QString text; // empty: a separator
    void (TesmarControl::*slot)() = nullptr;
    bool enabled = true;
};

void runContextMenu(TesmarControl* window, const QString& title, const std::vector<MenuItem>& items)
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
        QObject::connect(action, &QAction::triggered, window, item.slot);
    }
    menu.exec(QCursor::pos());
}

} // namespace

// ---- Helpers ----

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
    // The controller's address as it was when it connected: asking the controller would wait for
    // its lock, which a read or command in flight holds.
    return CommandTarget::moduleKey(controllerAddress, *module);
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

void TesmarControl::showNoReading(BaseModule* module, const QString& what)
{
    showCommandMessage(
        tr("%1: no current reading of %2; nothing was sent.").arg(CommandOutcome::capitalised(what), module->address()));
}

QString TesmarControl::noAnswerText()
{
    return FailureText::noAnswer();
}

void TesmarControl::showCommandMessage(const QString& text)
{
    StatusMessages::showError(statusBar(), text, refusalMessageMs);
}

CommandTarget TesmarControl::commandTarget(CommandTarget::Scope scope, const QString& what, bool removesVoltage)
{
    CommandTarget::Choice choice;
    choice.modules = session->modules();
    choice.currentIndex = session->currentModuleIndex();
    choice.controllerAddress = controllerAddress;
    choice.selection = &selection;
    choice.answering = moduleAnswering(choice.currentIndex, ModuleSnapshot::nowMs());
    const CommandTarget target = CommandTarget::resolve(choice, scope, what, removesVoltage);
    if (!target.resolved())
        showCommandMessage(target.refusal);
    return target;
}

bool TesmarControl::commandModule(QPointer<BaseModule>& module, const QString& what, bool removesVoltage)
{
    module = commandTarget(CommandTarget::Scope::Module, what, removesVoltage).module;
    return module;
}

bool TesmarControl::commandChannels(
    QPointer<BaseModule>& module, QList<int>& channels, const QString& what, bool removesVoltage)
{
    const CommandTarget target = commandTarget(CommandTarget::Scope::Channels, what, removesVoltage);
    module = target.module;
    channels = target.channels;
    return module;
}

void TesmarControl::showWriteFailures(BaseModule* module, const QString& what, const QList<WriteFailure>& failures)
{
    if (!failures.isEmpty())
        showCommandMessage(CommandOutcome::failuresText(*module, what, failures));
}

QList<int> TesmarControl::allChannelsOf(BaseModule* module)
{
    return CommandTarget::allChannels(*module);
}

// ---- Sending commands ----

void TesmarControl::submitCommand(
    BaseModule* module, const QString& what, int targets, CommandWork work, Urgency urgency, const QList<int>& pending)
{
    const QString sending = targets > 1
        ? tr("%1: sending to %2 channels...").arg(CommandOutcome::capitalised(what)).arg(targets)
        : tr("%1: sending...").arg(CommandOutcome::capitalised(what));
    statusBar()->showMessage(sending, refusalMessageMs);
    sendCommand(
        module, what, std::move(work), urgency,
        [this, sending](const CommandOutcome& outcome) { showOutcome(outcome, sending); }, pending);
}

void TesmarControl::sendCommand(BaseModule* module, const QString& what, CommandWork work, Urgency urgency,
    std::function<void(const CommandOutcome&)> done, const QList<int>& pending)
{
    commandSender()->send(module, what, std::move(work), urgency, std::move(done), pending);
}

CommandSender* TesmarControl::commandSender()
{
    if (!m_commandSender) {
        m_commandSender = new CommandSender(
            session.get(), [this](BaseModule* module) { return moduleKey(module); }, this);
        connect(m_commandSender, &CommandSender::pendingChanged, this, &TesmarControl::showPendingChannels);
    }
    return m_commandSender;
}

int TesmarControl::commandsInFlight() const
{
    return m_commandsInFlight + (m_commandSender ? m_commandSender->inFlight() : 0);
}

void TesmarControl::showPendingChannels()
{
    BaseModule* module = currentModule();
    ui->table->setPendingRows(module && m_commandSender ? m_commandSender->pendingChannels(moduleKey(module)) : QSet<int>());
}

void TesmarControl::showOutcome(const CommandOutcome& outcome, const QString& pending)
{
    if (!outcome.failures.isEmpty())
        showCommandMessage(outcome.failures.join(QStringLiteral(" | ")));
    else if (statusBar()->currentMessage() == pending)
        statusBar()->clearMessage();
    if (!outcome.information.isEmpty())
        dialogs()->information(this, applicationName(), outcome.information, QMessageBox::Ok);
    // The table shows the command's effect at its next frame, not after the next read cycle.
    refreshCurrentModuleNow();
}

void TesmarControl::submitWrite(
    BaseModule* module, int channel, const QString& what, std::function<bool(BaseModule& module)> write)
{
    submitCommand(module, what, 0, [channel, what, write = std::move(write)](BaseModule& each) {
        return CommandOutcome::ofWrite(each, write(each), channel, what);
    });
}

void TesmarControl::submitChannels(
    BaseModule* module, const QList<int>& channels, const ChannelWrite& write, const QString& what, Urgency urgency)
{
    submitCommand(
        module, what, int(channels.size()),
        [channels, write, what](BaseModule& each) {
            return CommandOutcome{CommandOutcome::ofChannels(each, channels, write, what), {}};
        },
        urgency, channels);
}

void TesmarControl::submitChannels(
    BaseModule* module, const QList<int>& channels, BaseModule::SwitchAction action, const QString& what, Urgency urgency)
{
    const WriteSource source("command");
    submitCommand(
        module, what, int(channels.size()),
        [channels, action, what](BaseModule& each) {
            return CommandOutcome{CommandOutcome::ofSwitch(each, channels, action, what), {}};
        },
        urgency, channels);
}

void TesmarControl::submitToModules(
    const QList<BaseModule*>& modules, const QString& what, const CommandWork& work, Urgency urgency, bool writesChannels)
{
    if (modules.isEmpty())
        return;
    const QString pending = tr("%1: sending to %2 modules...").arg(CommandOutcome::capitalised(what)).arg(modules.size());
    statusBar()->showMessage(pending, refusalMessageMs);
    commandSender()->sendToModules(
        modules, what, work, urgency, [this, pending](const CommandOutcome& all) { showOutcome(all, pending); },
        writesChannels);
}

void TesmarControl::showRefusal(BaseModule* module, int channel, const QString& what, const QString& why)
{
    const QString subject = channel >= 0 ? tr("Channel %1").arg(channel) : module->address();
    showCommandMessage(tr("%1: %2 refused %3").arg(subject, what, why));
    // Nothing was sent; the journal keeps the command and why it was refused.
    QString reason = why;
    if (reason.startsWith(QLatin1Char('(')) && reason.endsWith(QLatin1Char(')')))
        reason = reason.mid(1, reason.size() - 2);
    module->journalRefusal(channel, what, QString(), reason);
}

bool TesmarControl::isHeld(const QPointer<BaseModule>& module) const
{
    // Released modules may outlive their release for a moment (a read still running on them);
    // an answer given for one must not reach the crate.
    return module && session->modules().contains(module.data());
}

std::shared_ptr<const ModuleSnapshot> TesmarControl::freshChannelRead(BaseModule* module) const
{
    if (!module || module != currentModule())
        return nullptr;
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(session->currentModuleIndex());
    if (!snapshot || !snapshot->channelsFresh(ModuleSnapshot::nowMs()) || snapshot->voltageUnit != module->voltageUnit(0)
        || snapshot->currentUnit != module->currentUnit(0))
        return nullptr;
    return snapshot;
}

void TesmarControl::writeChannelValue(BaseModule* module, int channel, bool voltage, float value)
{
    const QString unit = voltage ? module->voltageUnit(channel) : module->currentUnit(channel);
    const QString what = SetValueCheck::valueText(voltage, value, unit);
    submitWrite(module, channel, what, [=](BaseModule& m) {
        return voltage ? m.setChannelVoltageSet(channel, value) : m.setChannelCurrentSet(channel, value);
    });
}

void TesmarControl::forEachModule(BaseModule::SwitchAction action, const QString& what, Urgency urgency)
{
    const WriteSource source("command");
    const QList<BaseModule*> modules = session->modules();
    if (modules.isEmpty()) {
        showCommandMessage(tr("%1: no module; nothing was sent.").arg(CommandOutcome::capitalised(what)));
        return;
    }
    // Every module is tried; the message names each one that failed and its channels.
    submitToModules(
        modules, what,
        [action, what](BaseModule& module) { return ModuleCommands::switchAllChannels(module, action, what); }, urgency,
        true);
}

// ---- Editing in the table ----

void TesmarControl::tableCellDataChanged(int row, int column, QString text)
{
    const WriteSource source("table");
    const bool voltage = column == ChannelTable::ColumnVoltageSet;
    if (!voltage && column != ChannelTable::ColumnCurrentSet)
        return;
    const QString what = voltage ? tr("set voltage") : tr("set current");
    QPointer<BaseModule> module;
    if (!commandModule(module, what) || row < 0 || row >= module->channelNumber())
        return;
    // The crate would refuse it too; checked here so the operator learns the range at once.
    const std::shared_ptr<const ModuleSnapshot> snapshot = freshChannelRead(module);
    const SetValueCheck check = SetValueCheck::ofTyped(text, snapshot.get(), row, voltage, SetValueCheck::isBipolar(*module),
        voltage ? module->voltageUnit(row) : module->currentUnit(row));
    if (!check.accepted()) {
        showRefusal(module, row, check.what, check.refusal);
        return;
    }
    writeChannelValue(module, row, voltage, check.value);
}

// ---- Direct channel and module commands ----

void TesmarControl::on_actionSetChannelOn_triggered()
{
    QPointer<BaseModule> module;
    QList<int> channels;
    if (commandChannels(module, channels, tr("switch on")))
        submitChannels(module, channels, BaseModule::SwitchAction::On, tr("switch on"));
}

void TesmarControl::on_actionSetChannelOff_triggered()
{
    QPointer<BaseModule> module;
    QList<int> channels;
    if (commandChannels(module, channels, tr("switch off"), true))
        submitChannels(module, channels, BaseModule::SwitchAction::Off, tr("switch off"));
}

void TesmarControl::on_actionSetChannelEmergencyOff_triggered()
{
    QPointer<BaseModule> module;
    QList<int> channels;
    if (commandChannels(module, channels, tr("emergency off"), true))
        submitChannels(module, channels, BaseModule::SwitchAction::EmergencyOff, tr("emergency off"), Urgency::EmergencyOff);
}

void TesmarControl::on_actionClearChannelEmergencyOff_triggered()
{
    QPointer<BaseModule> module;
    QList<int> channels;
    if (commandChannels(module, channels, tr("clear emergency off")))
        submitChannels(module, channels, BaseModule::SwitchAction::ClearEmergencyOff, tr("clear emergency off"));
}

void TesmarControl::on_actionClearChannelEvents_triggered()
{
    QPointer<BaseModule> module;
    QList<int> channels;
    if (commandChannels(module, channels, tr("clear events")))
        submitChannels(module, channels, BaseModule::SwitchAction::ClearEvents, tr("clear events"));
}

void TesmarControl::on_actionSetAllChannelsOn_triggered()
{
    QPointer<BaseModule> module;
    if (commandModule(module, tr("switch on")))
        submitChannels(module, allChannelsOf(module), BaseModule::SwitchAction::On, tr("switch on"));
}

void TesmarControl::on_actionSetAllChannelsOff_triggered()
{
    QPointer<BaseModule> module;
    if (commandModule(module, tr("switch off"), true))
        submitChannels(module, allChannelsOf(module), BaseModule::SwitchAction::Off, tr("switch off"));
}

void TesmarControl::on_actionSetAllChannelsEmergencyOff_triggered()
{
    QPointer<BaseModule> module;
    if (commandModule(module, tr("emergency off"), true))
        submitChannels(module, allChannelsOf(module), BaseModule::SwitchAction::EmergencyOff, tr("emergency off"),
            Urgency::EmergencyOff);
}

void TesmarControl::on_actionClearAllChannelsEmergencyOff_triggered()
{
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear emergency off")))
        submitChannels(
            module, allChannelsOf(module), BaseModule::SwitchAction::ClearEmergencyOff, tr("clear emergency off"));
}

void TesmarControl::on_actionClearAllEvents_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear events")))
        submitWrite(module, -1, tr("clear events"), [=](BaseModule& m) { return m.doClear(); });
}

void TesmarControl::on_actionSetKillEnable_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("kill enable")))
        submitWrite(module, -1, tr("kill enable"), [=](BaseModule& m) { return m.setKillEnable(true); });
}

void TesmarControl::on_actionSetKillDisable_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("kill disable")))
        submitWrite(module, -1, tr("kill disable"), [=](BaseModule& m) { return m.setKillEnable(false); });
}

void TesmarControl::on_actionSetFineAdjustmentOn_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("fine adjustment on")))
        submitWrite(module, -1, tr("fine adjustment on"), [=](BaseModule& m) { return m.setFineAdjustmentOn(true); });
}

void TesmarControl::on_actionSetFineAdjustmentOff_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("fine adjustment off")))
        submitWrite(module, -1, tr("fine adjustment off"), [=](BaseModule& m) { return m.setFineAdjustmentOn(false); });
}

// The System-menu pair acts on the current module only, like the Module-menu pair.
void TesmarControl::on_actionSetAllModulesFineAdjustmentOn_triggered()
{
    on_actionSetFineAdjustmentOn_triggered();
}

void TesmarControl::on_actionSetAllModulesFineAdjustmentOff_triggered()
{
    on_actionSetFineAdjustmentOff_triggered();
}

void TesmarControl::on_actionSetAllModulesOn_triggered()
{
    forEachModule(BaseModule::SwitchAction::On, tr("switch on"));
}

void TesmarControl::on_actionSetAllModulesOff_triggered()
{
    forEachModule(BaseModule::SwitchAction::Off, tr("switch off"));
}

void TesmarControl::on_actionSetAllModulesEmergencyOff_triggered()
{
    forEachModule(BaseModule::SwitchAction::EmergencyOff, tr("emergency off"), Urgency::EmergencyOff);
}

void TesmarControl::on_actionClearAllModulesEmergencyOff_triggered()
{
    forEachModule(BaseModule::SwitchAction::ClearEmergencyOff, tr("clear emergency off"));
}

void TesmarControl::on_actionClearAllModulesEvents_triggered()
{
    const WriteSource source("command");
    submitToModules(session->modules(), tr("clear events"),
        [](BaseModule& module) { return CommandOutcome::ofWrite(module, module.doClear(), -1, tr("clear events")); });
}

void TesmarControl::on_actionDisableAllResistors_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set resistors 0")))
        submitWrite(module, -1, tr("set resistors 0"), [=](BaseModule& m) { return m.setResistor(0); });
}

void TesmarControl::on_actionEnableResistor1_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set resistors 1")))
        submitWrite(module, -1, tr("set resistors 1"), [=](BaseModule& m) { return m.setResistor(1); });
}

void TesmarControl::on_actionEnableResistor2_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set resistors 2")))
        submitWrite(module, -1, tr("set resistors 2"), [=](BaseModule& m) { return m.setResistor(2); });
}

void TesmarControl::on_actionEnableBothResistors_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set resistors 3")))
        submitWrite(module, -1, tr("set resistors 3"), [=](BaseModule& m) { return m.setResistor(3); });
}

void TesmarControl::on_actionDoMultiplex_triggered()
{
    const WriteSource source("command");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("multiplex")))
        submitWrite(module, -1, tr("multiplex"), [=](BaseModule& m) { return m.doMultiplex(); });
}

void TesmarControl::setMeasurementControlBit(quint32 bit, bool on)
{
    const WriteSource source("command");
    const QString what = on ? tr("set measurement bit 0x%1").arg(bit & 0xFFFF, 4, 16, QLatin1Char('0'))
                            : tr("clear measurement bit 0x%1").arg(bit & 0xFFFF, 4, 16, QLatin1Char('0'));
    QPointer<BaseModule> module;
    QList<int> channels;
    if (!commandChannels(module, channels, what))
        return;
    // The word is read fresh and written in one step: a failed read writes nothing.
    submitChannels(
        module, channels,
        [on, bit](
            BaseModule& each, int channel) { return each.updateChannelControl(channel, on ? 0u : bit, on ? bit : 0u); },
        what);
}

void TesmarControl::on_actionSetChannelExternalMeasurementOn_triggered()
{
    setMeasurementControlBit(ChannelControlBit::externalMeasurement, true);
}

void TesmarControl::on_actionSetChannelExternalMeasurementOff_triggered()
{
    setMeasurementControlBit(ChannelControlBit::externalMeasurement, false);
}

void TesmarControl::on_actionSetChannelRippleMeasurementOn_triggered()
{
    setMeasurementControlBit(ChannelControlBit::rippleMeasurement, true);
}

void TesmarControl::on_actionSetChannelRippleMeasurementOff_triggered()
{
    // Only the 16-bit control word carries meaning.
    setMeasurementControlBit(ChannelControlBit::rippleMeasurement | 0xFFFF0000u, false);
}

void TesmarControl::on_actionAutoSwitchMeasurement_triggered()
{
    const WriteSource source("command");
    const bool on = ui->actionAutoSwitchMeasurement->isChecked();
    const QString what = on ? tr("both measurements on") : tr("both measurements off");
    QPointer<BaseModule> module;
    QList<int> channels;
    if (!commandChannels(module, channels, what))
        return;
    submitChannels(
        module, channels,
        [on](BaseModule& each, int channel) { return each.setChannelBothMeasurementsEnabled(channel, on); }, what);
}

// ---- Prompted values ----

void TesmarControl::promptChannelValue(bool voltage, bool allChannels)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    QPointer<BaseModule> module;
    QList<int> channels;
    if (allChannels ? !commandModule(module, what) : !commandChannels(module, channels, what))
        return;
    if (allChannels)
        channels = allChannelsOf(module);
    // Limits and the value offered come from the latest channel read while it is fresh; a read
    // that failed or is too old offers nothing to start from, so nothing is asked.
    // Several channels are offered the module's full range, with a note when some allow less.
    const std::shared_ptr<const ModuleSnapshot> snapshot = freshChannelRead(module);
    const QList<int> ranged = channels.size() > 1 ? allChannelsOf(module) : channels;
    const NominalRange range = snapshot ? NominalRange::of(*snapshot, ranged, voltage) : NominalRange();
    if (!range.found || range.largest <= 0.0f) {
        showNoReading(module, what);
        return;
    }
    const int cursor = selectedChannel();
    const int shown = channels.contains(cursor) ? cursor : channels.first();
    const ChannelReading& reading = snapshot->channels.at(shown);
    const QString unit = voltage ? snapshot->voltageUnit : snapshot->currentUnit;
    const bool bipolar = voltage && SetValueCheck::isBipolar(*module);
    const float lower = bipolar ? -range.largest : 0.0f;
    QString label;
    if (allChannels) {
        label = (voltage ? tr("Input a Set voltage (%L1...%L2 %3) for all channels:")
                         : tr("Input a Set current (%L1...%L2 %3) for all channels:"))
                    .arg(double(lower))
                    .arg(double(range.largest))
                    .arg(unit)
            + someChannelsNote(range, unit);
    } else if (channels.size() > 1) {
        label = (voltage ? tr("Input a voltage (0...%L1 %2) for the selected channels:")
                         : tr("Input a current (0...%L1 %2) for the selected channels:"))
                    .arg(double(range.largest))
                    .arg(unit)
            + someChannelsNote(range, unit);
    } else if (voltage) {
        label = tr("Input a voltage (%L1...%L2 %3) for channel %4:")
                    .arg(double(lower))
                    .arg(double(range.largest))
                    .arg(unit)
                    .arg(shown);
    } else {
        label = tr("Input a current (0...%L1 %2) for channel %3:").arg(double(range.largest)).arg(unit).arg(shown);
    }
    if (bipolar)
        label += bipolarNote();

    bool ok = false;
    const double value =
        dialogs()->getDouble(this, applicationName(), label, voltage ? reading.voltageSet : reading.currentSet, lower,
            range.largest, voltage ? module->voltagePrecision() : module->currentPrecision(), &ok);
    if (!ok || !isHeld(module))
        return;
    // The units may have been changed while the prompt was open: the number is not sent in
    // units other than the ones it was asked in.
    if (unit != (voltage ? module->voltageUnit(0) : module->currentUnit(0))) {
        showCommandMessage(
            tr("%1: the units changed while asking; nothing was sent.").arg(CommandOutcome::capitalised(what)));
        return;
    }
    if (allChannels) {
        submitWrite(module, -1, allChannelsValueText(module, voltage, value), [=](BaseModule& m) {
            return voltage ? m.setAllChannelsVoltageSet(float(value)) : m.setAllChannelsCurrentSet(float(value));
        });
        return;
    }
    const QString valueWhat = SetValueCheck::valueText(voltage, value, unit);
    const auto quantity = voltage ? BaseModule::SetQuantity::Voltage : BaseModule::SetQuantity::Current;
    submitCommand(
        module, valueWhat, int(channels.size()),
        [channels, quantity, value, valueWhat](BaseModule& each) {
            return CommandOutcome{CommandOutcome::ofReasons(
                                      each, channels, each.setChannelsValue(channels, quantity, float(value)), valueWhat),
                {}};
        },
        Urgency::Normal, channels);
}

void TesmarControl::on_actionSetChannelVoltage_triggered()
{
    promptChannelValue(true, false);
}

void TesmarControl::on_actionSetChannelCurrent_triggered()
{
    promptChannelValue(false, false);
}

void TesmarControl::on_actionSetAllVoltages_triggered()
{
    promptChannelValue(true, true);
}

void TesmarControl::on_actionSetAllCurrents_triggered()
{
    promptChannelValue(false, true);
}

void TesmarControl::promptAllModulesValue(bool voltage)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    QPointer<BaseModule> module;
    if (!commandModule(module, what))
        return;
    // The limit is the largest nominal value any module's latest read gave (nominal values do
    // not change while a module runs); the value offered is the shown module's fresh reading.
    struct Gathered
    {
        NominalRange range;
        int remaining = 0;
    };
    auto gathered = std::make_shared<Gathered>();
    QList<BaseModule*> unread;
    const QList<BaseModule*> modules = session->modules();
    for (int index = 0; index < modules.size(); ++index) {
        const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(index);
        BaseModule* each = modules.at(index);
        if (snapshot && snapshot->voltageUnit == each->voltageUnit(0) && snapshot->currentUnit == each->currentUnit(0)) {
            const NominalRange reached = NominalRange::ofReached(*snapshot, voltage);
            if (reached.found)
                gathered->range.merge(reached);
        } else {
            unread.append(each);
        }
    }
    if (unread.isEmpty()) {
        askAllModulesValue(voltage, module, gathered->range);
        return;
    }
    // A module the poller has not read (only the shown one is read without the overview): its
    // nominal values are read on the device side first.
    gathered->remaining = int(unread.size());
    for (BaseModule* each : std::as_const(unread)) {
        auto moduleRange = std::make_shared<NominalRange>();
        sendCommand(
            each, what,
            [voltage, moduleRange](BaseModule& read) {
                *moduleRange = NominalRange::readFrom(read, voltage);
                return CommandOutcome();
            },
            Urgency::Normal,
            [this, voltage, module, gathered, moduleRange](const CommandOutcome&) {
                if (moduleRange->found)
                    gathered->range.merge(*moduleRange);
                if (--gathered->remaining == 0 && isHeld(module))
                    askAllModulesValue(voltage, module, gathered->range);
            });
    }
}

void TesmarControl::askAllModulesValue(bool voltage, const QPointer<BaseModule>& module, const NominalRange& range)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    const std::shared_ptr<const ModuleSnapshot> shown = freshChannelRead(module);
    const int cursor = qMax(0, selectedChannel());
    if (!range.found || range.largest <= 0.0f || !shown || cursor >= shown->channels.size()
        || !shown->channels.at(cursor).complete) {
        showNoReading(module, what);
        return;
    }
    const QString unit = voltage ? shown->voltageUnit : shown->currentUnit;
    const QString text = voltage ? tr("Input a Set voltage (0...%L1 %2) for all channels in all modules:")
                                 : tr("Input a Set current (0...%L1 %2) for all channels in all modules:");
    const QString label = text.arg(double(range.largest)).arg(unit) + someChannelsNote(range, unit);
    const ChannelReading& reading = shown->channels.at(cursor);

    bool ok = false;
    const double value =
        dialogs()->getDouble(this, applicationName(), label, voltage ? reading.voltageSet : reading.currentSet, 0.0,
            range.largest, voltage ? module->voltagePrecision() : module->currentPrecision(), &ok);
    // Modules rediscovered while the prompt was open are not the ones the operator answered for.
    if (!ok || !isHeld(module))
        return;
    submitToModules(
        session->modules(), what,
        [voltage, value](BaseModule& each) {
            return CommandOutcome::ofWrite(each,
                voltage ? each.setAllChannelsVoltageSet(float(value)) : each.setAllChannelsCurrentSet(float(value)), -1,
                allChannelsValueText(&each, voltage, value));
        },
        Urgency::Normal, true);
}

void TesmarControl::on_actionSetAllModulesVoltage_triggered()
{
    promptAllModulesValue(true);
}

void TesmarControl::on_actionSetAllModulesCurrent_triggered()
{
    promptAllModulesValue(false);
}

void TesmarControl::promptRampSpeed(bool voltage, bool allModules)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage ramp speed") : tr("set current ramp speed");
    QPointer<BaseModule> module;
    if (!commandModule(module, what) || (!voltage && !allModules && !module->currentControl()))
        return;
    // The speed offered is the one the window shows while it is a live reading; without one
    // nothing is asked (a failed read would offer its 0).
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(session->currentModuleIndex());
    const bool shown = snapshot && snapshot->values.rampSpeedsValid && snapshot->connected(ModuleSnapshot::nowMs())
        && (voltage || snapshot->values.currentControl || allModules);
    if (!shown) {
        showNoReading(module, what);
        return;
    }
    const double speed = voltage ? snapshot->values.voltageRampSpeed
                                 : (snapshot->values.currentControl ? snapshot->values.currentRampSpeed : 50.0);
    bool ok = false;
    const double value = voltage
        ? dialogs()->getDouble(this, applicationName(), tr("Input Voltage Ramp speed (%/s):"), speed, 0.001, 100.0, 3, &ok)
        : dialogs()->getDouble(this, applicationName(), tr("Input Current Ramp speed (%/s):"), speed, 1.0, 100.0, 1, &ok);
    if (!ok || !isHeld(module))
        return;
    const QList<BaseModule*> targets = allModules ? session->modules() : QList<BaseModule*>{module.data()};
    const QString valueWhat = (voltage ? tr("set voltage ramp speed %1 %/s") : tr("set current ramp speed %1 %/s"))
                                  .arg(CommandOutcome::numberText(value));
    submitToModules(targets, valueWhat, [voltage, value, valueWhat](BaseModule& each) {
        return CommandOutcome::ofWrite(
            each, voltage ? each.setVoltageRampSpeed(float(value)) : each.setCurrentRampSpeed(float(value)), -1, valueWhat);
    });
}

void TesmarControl::on_actionSetModulesVoltageRamp_triggered()
{
    promptRampSpeed(true, false);
}

void TesmarControl::on_actionSetAllModulesVoltageRamp_triggered()
{
    promptRampSpeed(true, true);
}

// Only a module with current control has a current ramp of its own to offer.
void TesmarControl::on_actionSetModulesCurrentRamp_triggered()
{
    promptRampSpeed(false, false);
}

void TesmarControl::on_actionSetAllModulesCurrentRamp_triggered()
{
    promptRampSpeed(false, true);
}

void TesmarControl::on_actionSetAllChannelsVoltageIncremental_triggered()
{
    const WriteSource source("command");
    const QString what = tr("set incremental voltages");
    QPointer<BaseModule> module;
    if (!commandModule(module, what))
        return;
    const int n = module->channelNumber();
    const std::shared_ptr<const ModuleSnapshot> snapshot = freshChannelRead(module);
    const NominalRange range = snapshot && n > 0 ? NominalRange::of(*snapshot, {0}, true) : NominalRange();
    if (!range.found || range.largest <= 0.0f) {
        showNoReading(module, what);
        return;
    }
    const float nominal = range.largest;
    const bool descending = incrementalVoltageDescending;
    submitChannels(
        module, allChannelsOf(module),
        [descending, n, nominal](BaseModule& each, int channel) {
            return each.setChannelVoltageSet(channel, ModuleCommands::incrementalVoltage(channel, n, nominal, descending));
        },
        tr("set voltage"));
    incrementalVoltageDescending = !incrementalVoltageDescending;
}

// ---- Selection prompts ----

void TesmarControl::on_actionSelectChannel_triggered()
{
    QPointer<BaseModule> module = currentModule();
    if (!module || module->channelNumber() <= 0)
        return;
    const int last = module->channelNumber() - 1;
    bool ok = false;
    const int row = dialogs()->getInt(this, applicationName(), tr("Select Channel (0...%1):").arg(last),
        qBound(0, selectedChannel(), last), 0, last, 1, &ok);
    if (ok && isHeld(module))
        ui->table->setCurrentCell(row, 0);
}

int TesmarControl::adcSampleRateChoice(quint32 samplesPerSecond)
{
    switch (samplesPerSecond) {
    case 50:
        return 0;
    case 60:
        return 1;
    case 100:
        return 2;
    default:
        return 3; // "500"
    }
}

int TesmarControl::digitalFilterChoice(quint32 filter)
{
    switch (filter) {
    case 1:
        return 0;
    case 16:
        return 1;
    case 256:
        return 3;
    case 1024:
        return 4;
    default:
        return 2; // "64"
    }
}

void TesmarControl::on_actionAdcSampleRate_triggered()
{
    promptModuleSetting(
        tr("Choose ADC Sample Rate (samples per second):"),
        {QStringLiteral("50"), QStringLiteral("60"), QStringLiteral("100"), QStringLiteral("500")},
        [](BaseModule& module, quint32* value) { return module.readAdcSamplesPerSecond(value); }, adcSampleRateChoice,
        tr("set ADC sample rate %1"),
        [](BaseModule& module, quint32 value) { return module.setAdcSamplesPerSecond(value); });
}

void TesmarControl::on_actionDigitalFilter_triggered()
{
    promptModuleSetting(
        tr("Choose Digital Filter averaging steps:"),
        {QStringLiteral("1"), QStringLiteral("16"), QStringLiteral("64"), QStringLiteral("256"), QStringLiteral("1024")},
        [](BaseModule& module, quint32* value) { return module.readDigitalFilter(value); }, digitalFilterChoice,
        tr("set digital filter %1"), [](BaseModule& module, quint32 value) { return module.setDigitalFilter(value); });
}

void TesmarControl::promptModuleSetting(const QString& label, const QStringList& items,
    std::function<bool(BaseModule&, quint32*)> read, int (*choiceOf)(quint32), const QString& what,
    std::function<bool(BaseModule&, quint32)> write)
{
    QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    // The setting is read on the device side; the prompt opens with the answer. A setting that
    // could not be read preselects nothing: the list starts with an empty entry that sends
    // nothing.
    struct Answer
    {
        bool read = false;
        quint32 value = 0;
        QString reason;
    };
    // Written on the device side before the outcome is posted here.
    auto answer = std::make_shared<Answer>();
    sendCommand(
        module, label,
        [read = std::move(read), answer](BaseModule& each) {
            answer->read = read(each, &answer->value);
            if (!answer->read)
                answer->reason = each.lastError();
            return CommandOutcome();
        },
        Urgency::Normal,
        [this, module, label, items, what, write, choiceOf, answer](const CommandOutcome& outcome) {
            if (!isHeld(module))
                return;
            const WriteSource source("prompt");
            QStringList offered = items;
            QString text = label;
            int preselected = 0;
            if (answer->read) {
                preselected = choiceOf(answer->value);
            } else {
                offered.prepend(QString());
                const QString reason = answer->reason.isEmpty() ? outcome.failures.value(0) : answer->reason;
                // "not offered by this module" says it as it is; no answer gets its hint.
                text += tr("\n\nThe current setting could not be read (%1).")
                            .arg(BaseModule::isNoAnswer(reason) ? noAnswerText() : reason);
            }
            bool ok = false;
            const QString choice = dialogs()->getItem(this, applicationName(), text, offered, preselected, false, &ok);
            if (!ok || choice.isEmpty() || !isHeld(module))
                return;
            bool converted = false;
            const int value = choice.toInt(&converted);
            if (converted)
                submitWrite(module, -1, what.arg(value), [=](BaseModule& m) { return write(m, quint32(value)); });
        });
}

// ---- Crate-wide modes ----

void TesmarControl::on_actionSetLiveInsertion_triggered()
{
    const WriteSource source("command");
    BaseController* controller = session->controller();
    if (!controller)
        return;
    // The mode the crate reported at its latest answered read; without one nothing is asked.
    if (!crateAnswering()) {
        showCommandMessage(tr("Live Insertion: the crate does not answer; nothing was sent."));
        return;
    }
    const bool active = answeredCrate->liveInsertion;
    const QString text = active ? tr("End the Live Insertion mode for the whole system?")
                                : tr("Begin the Live Insertion mode for the whole system?\n\n"
                                     "Note: to plug out a module, turn off all channels in this module first!");
    if (dialogs()->question(this, applicationName(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    // A connection made while the question was open is not the one asked about.
    if (session->controller() != controller)
        return;
    submitCrateCommand(
        active ? tr("end Live Insertion") : tr("begin Live Insertion"),
        [active](BaseController& each, BaseCrate*) {
            each.setLiveInsertion(!active);
            return QString();
        },
        [this] { refreshCurrentModuleNow(); }, false);
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
        submitWrite(module, row, tr("both measurements on"),
            [=](BaseModule& m) { return m.setChannelBothMeasurementsEnabled(row, true); });
}

void TesmarControl::on_lstModules_customContextMenuRequested(const QPoint& /*position*/)
{
    if (session->modules().isEmpty())
        return;
    runContextMenu(this, tr("System Menu"),
        {
            {tr("Set All Voltages..."), &TesmarControl::on_actionSetAllModulesVoltage_triggered},
            {tr("Set All Currents..."), &TesmarControl::on_actionSetAllModulesCurrent_triggered},
            {},
            {tr("Set All On"), &TesmarControl::on_actionSetAllModulesOn_triggered},
            {tr("Set All Off"), &TesmarControl::on_actionSetAllModulesOff_triggered},
            {},
            {tr("Set All Emergency Off"), &TesmarControl::on_actionSetAllModulesEmergencyOff_triggered},
            {tr("Clear All Emergency Off"), &TesmarControl::on_actionClearAllModulesEmergencyOff_triggered},
            {},
            {tr("Set Voltage Ramp..."), &TesmarControl::on_actionSetAllModulesVoltageRamp_triggered},
            {tr("Set Current Ramp..."), &TesmarControl::on_actionSetAllModulesCurrentRamp_triggered},
            {},
            {tr("Clear All Events"), &TesmarControl::on_actionClearAllModulesEvents_triggered},
        });
}

void TesmarControl::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    if (session->modules().isEmpty())
        return;
    runContextMenu(this, tr("Module Menu"),
        {
            {tr("Set All Voltages..."), &TesmarControl::on_actionSetAllVoltages_triggered},
            {tr("Set All Currents..."), &TesmarControl::on_actionSetAllCurrents_triggered},
            {},
            {tr("Set All On"), &TesmarControl::on_actionSetAllChannelsOn_triggered},
            {tr("Set All Off"), &TesmarControl::on_actionSetAllChannelsOff_triggered},
            {},
            {tr("Set All Emergency Off"), &TesmarControl::on_actionSetAllChannelsEmergencyOff_triggered},
            {tr("Clear All Emergency Off"), &TesmarControl::on_actionClearAllChannelsEmergencyOff_triggered},
            {},
            {tr("Status / Control..."), &TesmarControl::on_actionModuleStatusControl_triggered},
            {},
            {tr("Set Voltage Ramp..."), &TesmarControl::on_actionSetModulesVoltageRamp_triggered},
            {tr("Set Current Ramp..."), &TesmarControl::on_actionSetModulesCurrentRamp_triggered},
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
                {tr("Set External Measurement On"), &TesmarControl::on_actionSetChannelExternalMeasurementOn_triggered},
                {tr("Set External Measurement Off"), &TesmarControl::on_actionSetChannelExternalMeasurementOff_triggered},
                {tr("Set Ripple Measurement On"), &TesmarControl::on_actionSetChannelRippleMeasurementOn_triggered},
                {tr("Set Ripple Measurement Off"), &TesmarControl::on_actionSetChannelRippleMeasurementOff_triggered},
                {},
                {tr("Do Multiplex"), &TesmarControl::on_actionDoMultiplex_triggered},
                {},
                {tr("Disable All Resistors"), &TesmarControl::on_actionDisableAllResistors_triggered},
                {tr("Enable Resistor 1"), &TesmarControl::on_actionEnableResistor1_triggered},
                {tr("Enable Resistor 2"), &TesmarControl::on_actionEnableResistor2_triggered},
                {tr("Enable Both Resistors"), &TesmarControl::on_actionEnableBothResistors_triggered},
            });
        return;
    }
    std::vector<MenuItem> items{
        {tr("Set Voltage..."), &TesmarControl::on_actionSetChannelVoltage_triggered},
        {tr("Set Current..."), &TesmarControl::on_actionSetChannelCurrent_triggered},
        {},
        {tr("Set On"), &TesmarControl::on_actionSetChannelOn_triggered},
        {tr("Set Off"), &TesmarControl::on_actionSetChannelOff_triggered},
        {},
        {tr("Set Emergency Off"), &TesmarControl::on_actionSetChannelEmergencyOff_triggered},
        {tr("Clear Emergency Off"), &TesmarControl::on_actionClearChannelEmergencyOff_triggered},
        {},
        {tr("Clear Events"), &TesmarControl::on_actionClearChannelEvents_triggered},
        {tr("Status / Control..."), &TesmarControl::on_actionChannelStatusControl_triggered, !multiple},
    };
    items.push_back({});
    items.push_back({tr("Set Current Alarm..."), &TesmarControl::setCurrentAlarm});
    if (selectedRowsAlarm())
        items.push_back({tr("Acknowledge Current Alarm"), &TesmarControl::acknowledgeCurrentAlarms});
    runContextMenu(this, title, items);
}

// ---- Command slots called by tool windows ----

void TesmarControl::clearChannelEvents(int /*serialNumber*/, int channel)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear events")))
        submitWrite(module, channel, tr("clear events"), [=](BaseModule& m) { return m.clearChannelEventStatus(channel); });
}

void TesmarControl::changeChannelControl(int /*serialNumber*/, int channel, quint32 clearBits, quint32 setBits)
{
    const WriteSource source("tool window");
    BaseModule* module = currentModule();
    if (!module)
        return;
    const QString what = tr("change control (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16);
    submitCommand(module, what, 0,
        [=](BaseModule& each) { return ModuleCommands::changeChannelControl(each, channel, clearBits, setBits, what); });
}

void TesmarControl::submitWordChange(const QString& what, const QString& wordName, int channel, quint32 clearBits,
    quint32 setBits, std::function<quint32(BaseModule&)> read, std::function<bool(BaseModule&, quint32)> write)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (!commandModule(module, what))
        return;
    submitCommand(module, what, 0, [=](BaseModule& each) {
        return ModuleCommands::changeWord(each, what, wordName, channel, clearBits, setBits, read, write);
    });
}

void TesmarControl::changeChannelEventMask(int /*serialNumber*/, int channel, quint32 clearBits, quint32 setBits)
{
    submitWordChange(
        tr("change event mask (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16), tr("Event mask"), channel,
        clearBits, setBits, [channel](BaseModule& m) { return m.channelEventMask(channel); },
        [channel](BaseModule& m, quint32 mask) { return m.setChannelEventMask(channel, mask); });
}

void TesmarControl::clearModuleEvents()
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear module events")))
        submitWrite(module, -1, tr("clear module events"), [=](BaseModule& m) { return m.clearEventStatus(); });
}

void TesmarControl::changeModuleControl(quint32 clearBits, quint32 setBits)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    const QString what = tr("change module control (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16);
    if (commandModule(module, what))
        submitWrite(module, -1, what, [=](BaseModule& m) { return m.updateControl(clearBits, setBits); });
}

void TesmarControl::changeModuleEventMask(quint32 clearBits, quint32 setBits)
{
    submitWordChange(
        tr("change module event mask (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16),
        tr("Module event mask"), -1, clearBits, setBits, [](BaseModule& m) { return m.eventMask(); },
        [](BaseModule& m, quint32 mask) { return m.setEventMask(mask); });
}

void TesmarControl::setRestartTime(quint32 restartTime)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set restart time %1").arg(restartTime)))
        submitWrite(module, -1, tr("set restart time %1").arg(restartTime),
            [=](BaseModule& m) { return m.setRestartTime(restartTime); });
}

void TesmarControl::setModuleEventChannelMask(quint32 mask)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set event channel mask 0x%1").arg(mask, 0, 16)))
        submitWrite(module, -1, tr("set event channel mask 0x%1").arg(mask, 0, 16),
            [=](BaseModule& m) { return m.setEventChannelMask(mask); });
}

void TesmarControl::clearModuleEventChannelStatus()
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear event channel status")))
        submitWrite(
            module, -1, tr("clear event channel status"), [=](BaseModule& m) { return m.clearEventChannelStatus(); });
}

void TesmarControl::setModuleEventGroupMask(quint32 mask)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set event group mask 0x%1").arg(mask, 0, 16)))
        submitWrite(module, -1, tr("set event group mask 0x%1").arg(mask, 0, 16),
            [=](BaseModule& m) { return m.setEventGroupMask(mask); });
}

void TesmarControl::clearModuleEventGroupStatus()
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear event group status")))
        submitWrite(module, -1, tr("clear event group status"), [=](BaseModule& m) { return m.clearEventGroupStatus(); });
}

void TesmarControl::setFlexGroup(int groupNumber, quint32 member, quint32 type)
{
    const WriteSource source("tool window");
    if (groupNumber < 0 || groupNumber >= flexGroupCount)
        return;
    QPointer<BaseModule> module;
    if (commandModule(module, tr("set group %1").arg(groupNumber)))
        submitWrite(module, -1, tr("set group %1").arg(groupNumber),
            [=](BaseModule& m) { return m.setFlexGroup(groupNumber, member, type); });
}

void TesmarControl::changeInterlockOutControl(quint32 clearBits, quint32 setBits)
{
    submitWordChange(
        tr("change interlock out control (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16),
        tr("Interlock out control word"), -1, clearBits, setBits, [](BaseModule& m) { return m.GetModuleIlkOutControl(); },
        [](BaseModule& m, quint32 control) { return m.SetModuleIlkOutControl(control); });
}

void TesmarControl::setChannelNominalFromToolWindow(int channel, bool voltage, float value)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (!commandModule(module, voltage ? tr("set nominal voltage") : tr("set nominal current")))
        return;
    const QString what =
        ModuleCommands::nominalText(voltage, value, voltage ? module->voltageUnit(channel) : module->currentUnit(channel));
    const QString refusal =
        ModuleCommands::nominalRefusal(snapshotOf(session->currentModuleIndex()).get(), ModuleSnapshot::nowMs());
    if (!refusal.isEmpty()) {
        showRefusal(module, channel, what, refusal);
        return;
    }
    submitWrite(module, channel, what, [=](BaseModule& m) {
        return voltage ? m.setChannelVoltageNominal(channel, value) : m.setChannelCurrentNominal(channel, value);
    });
}

void TesmarControl::setChannelVoltageNominal(int channel, float value)
{
    setChannelNominalFromToolWindow(channel, true, value);
}

void TesmarControl::setChannelCurrentNominal(int channel, float value)
{
    setChannelNominalFromToolWindow(channel, false, value);
}

void TesmarControl::setChannelBounds(int channel, bool asymmetricVoltageBounds, float voltageInterlockMaxSet,
    float voltageInterlockMinSet, bool asymmetricCurrentBounds, float currentInterlockMaxSet, float currentInterlockMinSet)
{
    QPointer<BaseModule> module;
    if (!commandModule(module, tr("set bounds")) || channel < 0 || channel >= module->channelNumber())
        return;
    const ChannelBoundsJob::Bounds bounds{asymmetricVoltageBounds, voltageInterlockMaxSet, voltageInterlockMinSet,
        asymmetricCurrentBounds, currentInterlockMaxSet, currentInterlockMinSet};
    runCommandJob(
        new ChannelBoundsJob(session.get(), module, channel, bounds, QStringLiteral("tool window"), this), tr("set bounds"));
}

void TesmarControl::runCommandJob(ServiceJob* job, const QString& what)
{
    const QString sending = tr("%1: sending...").arg(CommandOutcome::capitalised(what));
    statusBar()->showMessage(sending, refusalMessageMs);
    commandSender()->runJob(job, what, [this, sending](const CommandOutcome& outcome) { showOutcome(outcome, sending); });
}
