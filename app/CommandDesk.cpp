#include "CommandDesk.h"

#include "controller/ApplicationIdentity.h"
#include "device/ChannelSettings.h"
#include "device/DeviceSession.h"
#include "device/FailureText.h"
#include "device/ModuleCommands.h"
#include "device/ModuleSnapshot.h"
#include "device/NominalRange.h"
#include "device/Poller.h"
#include "device/SetValueCheck.h"
#include "device/WriteJournal.h"
#include "dialogs/common/StatusMessages.h"
#include "dialogs/common/UserDialogs.h"
#include "service/ChannelBoundsJob.h"

#include <QStatusBar>
#include <QWidget>

namespace {
constexpr int flexGroupCount = 32;
constexpr int messageMs = StatusMessages::defaultShownMs;
} // namespace

CommandDesk::CommandDesk(
    DeviceSession* session, const ChannelSelection* selection, QStatusBar* statusBar, WindowHooks hooks, QWidget* window)
    : QObject(window)
    , m_session(session)
    , m_selection(selection)
    , m_statusBar(statusBar)
    , m_hooks(std::move(hooks))
    , m_window(window)
{
}

UserDialogs* CommandDesk::dialogs() const
{
    return m_hooks.dialogs();
}

// ---- Targets ----

CommandTarget CommandDesk::commandTarget(CommandTarget::Scope scope, const QString& what, bool removesVoltage)
{
    CommandTarget::Choice choice;
    choice.modules = m_session->modules();
    choice.currentIndex = m_session->currentModuleIndex();
    choice.controllerAddress = m_hooks.controllerAddress();
    choice.selection = m_selection;
    choice.answering = m_hooks.moduleAnswering(choice.currentIndex, ModuleSnapshot::nowMs());
    const CommandTarget target = CommandTarget::resolve(choice, scope, what, removesVoltage);
    if (!target.resolved())
        showCommandMessage(target.refusal);
    return target;
}

bool CommandDesk::commandModule(QPointer<BaseModule>& module, const QString& what, bool removesVoltage)
{
    module = commandTarget(CommandTarget::Scope::Module, what, removesVoltage).module;
    return module;
}

bool CommandDesk::commandChannels(
    QPointer<BaseModule>& module, QList<int>& channels, const QString& what, bool removesVoltage)
{
    const CommandTarget target = commandTarget(CommandTarget::Scope::Channels, what, removesVoltage);
    module = target.module;
    channels = target.channels;
    return module;
}

int CommandDesk::singleChannelTarget(QPointer<BaseModule>& module, const QString& what)
{
    const CommandTarget target = commandTarget(CommandTarget::Scope::OneChannel, what);
    module = target.module;
    return target.resolved() ? target.channels.first() : -1;
}

QString CommandDesk::moduleKey(BaseModule* module) const
{
    // The controller's address as it was when it connected: asking the controller would wait for
    // its lock, which a read or command in flight holds.
    return CommandTarget::moduleKey(m_hooks.controllerAddress(), *module);
}

bool CommandDesk::isHeld(const QPointer<BaseModule>& module) const
{
    return m_session->holds(module.data());
}

QList<int> CommandDesk::allChannelsOf(BaseModule* module)
{
    return CommandTarget::allChannels(*module);
}

// ---- What the commands start from ----

std::shared_ptr<const ModuleSnapshot> CommandDesk::snapshotOf(int index) const
{
    return m_session->poller() ? m_session->poller()->moduleSnapshot(index) : nullptr;
}

std::shared_ptr<const ModuleSnapshot> CommandDesk::freshChannelRead(BaseModule* module) const
{
    if (!module || module != m_session->currentModule())
        return nullptr;
    const std::shared_ptr<const ModuleSnapshot> snapshot = snapshotOf(m_session->currentModuleIndex());
    if (!snapshot || !snapshot->channelsFresh(ModuleSnapshot::nowMs()) || snapshot->voltageUnit != module->voltageUnit(0)
        || snapshot->currentUnit != module->currentUnit(0))
        return nullptr;
    return snapshot;
}

void CommandDesk::readChannelSettingsFor(QObject* dialog, const QPointer<BaseModule>& module, int channel,
    std::function<void(const ChannelSettings&)> fill, std::function<void(const QString&)> failed)
{
    // Read on the poller's thread: the dialog shows "---" meanwhile and the window stays usable.
    // The result reaches the dialog only while it exists, and only for the module it was opened on.
    const BaseModule* expected = module.data();
    m_session->readCurrentModuleOnce(
        dialog, [expected, channel, fill, failed](BaseModule& read) -> DeviceSession::ModuleReadResult {
            if (&read != expected)
                return [failed] { failed(tr("another module is shown now")); };
            ChannelSettings settings;
            QString reason;
            if (!ModuleCommands::readChannelSettings(read, channel, &settings, &reason))
                return [failed, reason] { failed(reason); };
            return [fill, settings] { fill(settings); };
        });
}

QString CommandDesk::unreadText(int channel, const QString& reason)
{
    const QString why = BaseModule::isNoAnswer(reason) ? FailureText::noAnswer() : reason;
    return tr("Channel %1 could not be read: %2. Nothing can be set from here; close and try again.").arg(channel).arg(why);
}

QString CommandDesk::someChannelsNote(const NominalRange& range, const QString& unit)
{
    if (range.smallest < range.largest)
        return tr("\n\nNote: some channels will only allow %L1 %2.").arg(double(range.smallest)).arg(unit);
    return QString();
}

// ---- Sending ----

CommandSender* CommandDesk::commandSender()
{
    if (!m_commandSender) {
        m_commandSender = new CommandSender(
            m_session, [this](BaseModule* module) { return moduleKey(module); }, this);
        connect(m_commandSender, &CommandSender::pendingChanged, this, &CommandDesk::pendingChanged);
    }
    return m_commandSender;
}

int CommandDesk::inFlight() const
{
    return m_commandSender ? m_commandSender->inFlight() : 0;
}

QSet<int> CommandDesk::pendingChannels(const QString& key) const
{
    return m_commandSender ? m_commandSender->pendingChannels(key) : QSet<int>();
}

void CommandDesk::submitCommand(
    BaseModule* module, const QString& what, int targets, CommandWork work, Urgency urgency, const QList<int>& pending)
{
    const QString sending = targets > 1
        ? tr("%1: sending to %2 channels...").arg(CommandOutcome::capitalised(what)).arg(targets)
        : tr("%1: sending...").arg(CommandOutcome::capitalised(what));
    m_statusBar->showMessage(sending, messageMs);
    sendCommand(
        module, what, std::move(work), urgency,
        [this, sending](const CommandOutcome& outcome) { showOutcome(outcome, sending); }, pending);
}

void CommandDesk::sendCommand(BaseModule* module, const QString& what, CommandWork work, Urgency urgency,
    std::function<void(const CommandOutcome&)> done, const QList<int>& pending)
{
    commandSender()->send(module, what, std::move(work), urgency, std::move(done), pending);
}

void CommandDesk::showOutcome(const CommandOutcome& outcome, const QString& pending)
{
    if (!outcome.failures.isEmpty())
        showCommandMessage(outcome.failures.join(QStringLiteral(" | ")));
    else if (m_statusBar->currentMessage() == pending)
        m_statusBar->clearMessage();
    if (!outcome.information.isEmpty())
        dialogs()->information(m_window, ApplicationIdentity::title(), outcome.information, QMessageBox::Ok);
    // The table shows the command's effect at its next frame, not after the next read cycle.
    m_hooks.refreshCurrentModuleNow();
}

void CommandDesk::submitWrite(
    BaseModule* module, int channel, const QString& what, std::function<bool(BaseModule& module)> write)
{
    submitCommand(module, what, 0, [channel, what, write = std::move(write)](BaseModule& each) {
        return CommandOutcome::ofWrite(each, write(each), channel, what);
    });
}

void CommandDesk::writeShownModule(const QString& what, std::function<bool(BaseModule& module)> write)
{
    QPointer<BaseModule> module;
    if (commandModule(module, what))
        submitWrite(module, -1, what, std::move(write));
}

void CommandDesk::submitChannels(
    BaseModule* module, const QList<int>& channels, const ChannelWrite& write, const QString& what, Urgency urgency)
{
    submitCommand(
        module, what, int(channels.size()),
        [channels, write, what](BaseModule& each) {
            return CommandOutcome{CommandOutcome::ofChannels(each, channels, write, what), {}};
        },
        urgency, channels);
}

void CommandDesk::submitChannels(
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

void CommandDesk::submitToModules(
    const QList<BaseModule*>& modules, const QString& what, const CommandWork& work, Urgency urgency, bool writesChannels)
{
    if (modules.isEmpty())
        return;
    const QString pending = tr("%1: sending to %2 modules...").arg(CommandOutcome::capitalised(what)).arg(modules.size());
    m_statusBar->showMessage(pending, messageMs);
    commandSender()->sendToModules(
        modules, what, work, urgency, [this, pending](const CommandOutcome& all) { showOutcome(all, pending); },
        writesChannels);
}

void CommandDesk::runCommandJob(ServiceJob* job, const QString& what)
{
    const QString sending = tr("%1: sending...").arg(CommandOutcome::capitalised(what));
    m_statusBar->showMessage(sending, messageMs);
    commandSender()->runJob(job, what, [this, sending](const CommandOutcome& outcome) { showOutcome(outcome, sending); });
}

void CommandDesk::writeChannelValue(BaseModule* module, int channel, bool voltage, float value)
{
    const QString unit = voltage ? module->voltageUnit(channel) : module->currentUnit(channel);
    const QString what = SetValueCheck::valueText(voltage, value, unit);
    submitWrite(module, channel, what, [=](BaseModule& m) {
        return voltage ? m.setChannelVoltageSet(channel, value) : m.setChannelCurrentSet(channel, value);
    });
}

// ---- Telling the operator ----

void CommandDesk::showCommandMessage(const QString& text)
{
    StatusMessages::showError(m_statusBar, text, messageMs);
}

void CommandDesk::showNote(const QString& text)
{
    StatusMessages::showNote(m_statusBar, text, messageMs);
}

void CommandDesk::showRefusal(BaseModule* module, int channel, const QString& what, const QString& why)
{
    const QString subject = channel >= 0 ? tr("Channel %1").arg(channel) : module->address();
    showCommandMessage(tr("%1: %2 refused %3").arg(subject, what, why));
    // Nothing was sent; the journal keeps the command and why it was refused.
    QString reason = why;
    if (reason.startsWith(QLatin1Char('(')) && reason.endsWith(QLatin1Char(')')))
        reason = reason.mid(1, reason.size() - 2);
    module->journalRefusal(channel, what, QString(), reason);
}

void CommandDesk::showWriteFailures(BaseModule* module, const QString& what, const QList<CommandOutcome::Failure>& failures)
{
    if (!failures.isEmpty())
        showCommandMessage(CommandOutcome::failuresText(*module, what, failures));
}

void CommandDesk::showNoReading(BaseModule* module, const QString& what)
{
    showCommandMessage(
        tr("%1: no current reading of %2; nothing was sent.").arg(CommandOutcome::capitalised(what), module->address()));
}

// ---- The tool windows' writes ----

void CommandDesk::clearChannelEvents(int channel)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (commandModule(module, tr("clear events")))
        submitWrite(module, channel, tr("clear events"), [=](BaseModule& m) { return m.clearChannelEventStatus(channel); });
}

void CommandDesk::changeChannelControl(int channel, quint32 clearBits, quint32 setBits)
{
    const WriteSource source("tool window");
    BaseModule* module = m_session->currentModule();
    if (!module)
        return;
    const QString what = tr("change control (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16);
    submitCommand(module, what, 0,
        [=](BaseModule& each) { return ModuleCommands::changeChannelControl(each, channel, clearBits, setBits, what); });
}

void CommandDesk::submitWordChange(const QString& what, const QString& wordName, int channel, quint32 clearBits,
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

void CommandDesk::changeChannelEventMask(int channel, quint32 clearBits, quint32 setBits)
{
    submitWordChange(
        tr("change event mask (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16), tr("Event mask"), channel,
        clearBits, setBits, [channel](BaseModule& m) { return m.channelEventMask(channel); },
        [channel](BaseModule& m, quint32 mask) { return m.setChannelEventMask(channel, mask); });
}

void CommandDesk::clearModuleEvents()
{
    const WriteSource source("tool window");
    writeShownModule(tr("clear module events"), [](BaseModule& m) { return m.clearEventStatus(); });
}

void CommandDesk::changeModuleControl(quint32 clearBits, quint32 setBits)
{
    const WriteSource source("tool window");
    writeShownModule(tr("change module control (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16),
        [=](BaseModule& m) { return m.updateControl(clearBits, setBits); });
}

void CommandDesk::changeModuleEventMask(quint32 clearBits, quint32 setBits)
{
    submitWordChange(
        tr("change module event mask (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16),
        tr("Module event mask"), -1, clearBits, setBits, [](BaseModule& m) { return m.eventMask(); },
        [](BaseModule& m, quint32 mask) { return m.setEventMask(mask); });
}

void CommandDesk::setRestartTime(quint32 restartTime)
{
    const WriteSource source("tool window");
    writeShownModule(
        tr("set restart time %1").arg(restartTime), [restartTime](BaseModule& m) { return m.setRestartTime(restartTime); });
}

void CommandDesk::setModuleEventChannelMask(quint32 mask)
{
    const WriteSource source("tool window");
    writeShownModule(
        tr("set event channel mask 0x%1").arg(mask, 0, 16), [mask](BaseModule& m) { return m.setEventChannelMask(mask); });
}

void CommandDesk::clearModuleEventChannelStatus()
{
    const WriteSource source("tool window");
    writeShownModule(tr("clear event channel status"), [](BaseModule& m) { return m.clearEventChannelStatus(); });
}

void CommandDesk::setModuleEventGroupMask(quint32 mask)
{
    const WriteSource source("tool window");
    writeShownModule(
        tr("set event group mask 0x%1").arg(mask, 0, 16), [mask](BaseModule& m) { return m.setEventGroupMask(mask); });
}

void CommandDesk::clearModuleEventGroupStatus()
{
    const WriteSource source("tool window");
    writeShownModule(tr("clear event group status"), [](BaseModule& m) { return m.clearEventGroupStatus(); });
}

void CommandDesk::setFlexGroup(int groupNumber, quint32 member, quint32 type)
{
    const WriteSource source("tool window");
    if (groupNumber >= 0 && groupNumber < flexGroupCount)
        writeShownModule(
            tr("set group %1").arg(groupNumber), [=](BaseModule& m) { return m.setFlexGroup(groupNumber, member, type); });
}

void CommandDesk::changeInterlockOutControl(quint32 clearBits, quint32 setBits)
{
    submitWordChange(
        tr("change interlock out control (clear 0x%1, set 0x%2)").arg(clearBits, 0, 16).arg(setBits, 0, 16),
        tr("Interlock out control word"), -1, clearBits, setBits, [](BaseModule& m) { return m.GetModuleIlkOutControl(); },
        [](BaseModule& m, quint32 control) { return m.SetModuleIlkOutControl(control); });
}

void CommandDesk::setChannelNominalFromToolWindow(int channel, bool voltage, float value)
{
    const WriteSource source("tool window");
    QPointer<BaseModule> module;
    if (!commandModule(module, voltage ? tr("set nominal voltage") : tr("set nominal current")))
        return;
    const QString what =
        ModuleCommands::nominalText(voltage, value, voltage ? module->voltageUnit(channel) : module->currentUnit(channel));
    const QString refusal =
        ModuleCommands::nominalRefusal(snapshotOf(m_session->currentModuleIndex()).get(), ModuleSnapshot::nowMs());
    if (!refusal.isEmpty()) {
        showRefusal(module, channel, what, refusal);
        return;
    }
    submitWrite(module, channel, what, [=](BaseModule& m) {
        return voltage ? m.setChannelVoltageNominal(channel, value) : m.setChannelCurrentNominal(channel, value);
    });
}

void CommandDesk::setChannelVoltageNominal(int channel, float value)
{
    setChannelNominalFromToolWindow(channel, true, value);
}

void CommandDesk::setChannelCurrentNominal(int channel, float value)
{
    setChannelNominalFromToolWindow(channel, false, value);
}

void CommandDesk::setChannelBounds(int channel, bool asymmetricVoltageBounds, float voltageInterlockMaxSet,
    float voltageInterlockMinSet, bool asymmetricCurrentBounds, float currentInterlockMaxSet, float currentInterlockMinSet)
{
    QPointer<BaseModule> module;
    if (!commandModule(module, tr("set bounds")) || channel < 0 || channel >= module->channelNumber())
        return;
    const ChannelBoundsJob::Bounds bounds{asymmetricVoltageBounds, voltageInterlockMaxSet, voltageInterlockMinSet,
        asymmetricCurrentBounds, currentInterlockMaxSet, currentInterlockMinSet};
    runCommandJob(
        new ChannelBoundsJob(m_session, module, channel, bounds, QStringLiteral("tool window"), this), tr("set bounds"));
}
