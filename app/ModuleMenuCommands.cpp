#include "ModuleMenuCommands.h"

#include "CommandDesk.h"

#include "controller/ApplicationIdentity.h"
#include "controller/BaseController.h"
#include "device/CrateSnapshot.h"
#include "device/DeviceSession.h"
#include "device/FailureText.h"
#include "device/ModuleCommands.h"
#include "device/ModuleSnapshot.h"
#include "device/NominalRange.h"
#include "device/WriteJournal.h"
#include "dialogs/common/UserDialogs.h"

namespace {
using Urgency = CommandDesk::Urgency;
} // namespace

ModuleMenuCommands::ModuleMenuCommands(CommandDesk* desk, WindowHooks hooks, QObject* parent)
    : QObject(parent)
    , m_desk(desk)
    , m_hooks(std::move(hooks))
{
}

// ---- The shown module ----

void ModuleMenuCommands::writeShownModule(const QString& what, std::function<bool(BaseModule&)> write)
{
    const WriteSource source("command");
    m_desk->writeShownModule(what, std::move(write));
}

void ModuleMenuCommands::clearEvents()
{
    writeShownModule(tr("clear events"), [](BaseModule& m) { return m.doClear(); });
}

void ModuleMenuCommands::killEnable()
{
    writeShownModule(tr("kill enable"), [](BaseModule& m) { return m.setKillEnable(true); });
}

void ModuleMenuCommands::killDisable()
{
    writeShownModule(tr("kill disable"), [](BaseModule& m) { return m.setKillEnable(false); });
}

// The System-menu pair acts on the current module only, like the Module-menu pair: the window
// connects both here.
void ModuleMenuCommands::fineAdjustmentOn()
{
    writeShownModule(tr("fine adjustment on"), [](BaseModule& m) { return m.setFineAdjustmentOn(true); });
}

void ModuleMenuCommands::fineAdjustmentOff()
{
    writeShownModule(tr("fine adjustment off"), [](BaseModule& m) { return m.setFineAdjustmentOn(false); });
}

void ModuleMenuCommands::setResistors(int resistors)
{
    writeShownModule(tr("set resistors %1").arg(resistors), [resistors](BaseModule& m) { return m.setResistor(resistors); });
}

void ModuleMenuCommands::disableAllResistors()
{
    setResistors(0);
}

void ModuleMenuCommands::enableResistor1()
{
    setResistors(1);
}

void ModuleMenuCommands::enableResistor2()
{
    setResistors(2);
}

void ModuleMenuCommands::enableBothResistors()
{
    setResistors(3);
}

void ModuleMenuCommands::multiplex()
{
    writeShownModule(tr("multiplex"), [](BaseModule& m) { return m.doMultiplex(); });
}

// ---- Ramp speeds ----

void ModuleMenuCommands::promptRampSpeed(bool voltage, bool allModules)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage ramp speed") : tr("set current ramp speed");
    QPointer<BaseModule> module;
    if (!m_desk->commandModule(module, what) || (!voltage && !allModules && !module->currentControl()))
        return;
    // The speed offered is the one the window shows while it is a live reading; without one
    // nothing is asked (a failed read would offer its 0).
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->snapshotOf(m_desk->session()->currentModuleIndex());
    const bool shown = snapshot && snapshot->values.rampSpeedsValid && snapshot->connected(ModuleSnapshot::nowMs())
        && (voltage || snapshot->values.currentControl || allModules);
    if (!shown) {
        m_desk->showNoReading(module, what);
        return;
    }
    const double speed = voltage ? snapshot->values.voltageRampSpeed
                                 : (snapshot->values.currentControl ? snapshot->values.currentRampSpeed : 50.0);
    UserDialogs* dialogs = m_desk->dialogs();
    QWidget* window = m_desk->window();
    bool ok = false;
    const double value = voltage ? dialogs->getDouble(window, ApplicationIdentity::title(),
                             tr("Input Voltage Ramp speed (%/s):"), speed, 0.001, 100.0, 3, &ok)
                                 : dialogs->getDouble(window, ApplicationIdentity::title(),
                                     tr("Input Current Ramp speed (%/s):"), speed, 1.0, 100.0, 1, &ok);
    if (!ok || !m_desk->isHeld(module))
        return;
    const QList<BaseModule*> targets = allModules ? m_desk->session()->modules() : QList<BaseModule*>{module.data()};
    const QString valueWhat = (voltage ? tr("set voltage ramp speed %1 %/s") : tr("set current ramp speed %1 %/s"))
                                  .arg(CommandOutcome::numberText(value));
    m_desk->submitToModules(targets, valueWhat, [voltage, value, valueWhat](BaseModule& each) {
        return CommandOutcome::ofWrite(
            each, voltage ? each.setVoltageRampSpeed(float(value)) : each.setCurrentRampSpeed(float(value)), -1, valueWhat);
    });
}

void ModuleMenuCommands::promptVoltageRamp()
{
    promptRampSpeed(true, false);
}

void ModuleMenuCommands::promptCurrentRamp()
{
    promptRampSpeed(false, false);
}

void ModuleMenuCommands::promptAllModulesVoltageRamp()
{
    promptRampSpeed(true, true);
}

void ModuleMenuCommands::promptAllModulesCurrentRamp()
{
    promptRampSpeed(false, true);
}

// ---- ADC sample rate and digital filter ----

int ModuleMenuCommands::adcSampleRateChoice(quint32 samplesPerSecond)
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

int ModuleMenuCommands::digitalFilterChoice(quint32 filter)
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

void ModuleMenuCommands::promptAdcSampleRate()
{
    promptModuleSetting(
        tr("Choose ADC Sample Rate (samples per second):"),
        {QStringLiteral("50"), QStringLiteral("60"), QStringLiteral("100"), QStringLiteral("500")},
        [](BaseModule& module, quint32* value) { return module.readAdcSamplesPerSecond(value); }, adcSampleRateChoice,
        tr("set ADC sample rate %1"),
        [](BaseModule& module, quint32 value) { return module.setAdcSamplesPerSecond(value); });
}

void ModuleMenuCommands::promptDigitalFilter()
{
    promptModuleSetting(
        tr("Choose Digital Filter averaging steps:"),
        {QStringLiteral("1"), QStringLiteral("16"), QStringLiteral("64"), QStringLiteral("256"), QStringLiteral("1024")},
        [](BaseModule& module, quint32* value) { return module.readDigitalFilter(value); }, digitalFilterChoice,
        tr("set digital filter %1"), [](BaseModule& module, quint32 value) { return module.setDigitalFilter(value); });
}

void ModuleMenuCommands::promptModuleSetting(const QString& label, const QStringList& items,
    std::function<bool(BaseModule&, quint32*)> read, int (*choiceOf)(quint32), const QString& what,
    std::function<bool(BaseModule&, quint32)> write)
{
    QPointer<BaseModule> module = m_desk->session()->currentModule();
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
    m_desk->sendCommand(
        module, label,
        [read = std::move(read), answer](BaseModule& each) {
            answer->read = read(each, &answer->value);
            if (!answer->read)
                answer->reason = each.lastError();
            return CommandOutcome();
        },
        Urgency::Normal,
        [this, module, label, items, what, write, choiceOf, answer](const CommandOutcome& outcome) {
            if (!m_desk->isHeld(module))
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
                            .arg(BaseModule::isNoAnswer(reason) ? FailureText::noAnswer() : reason);
            }
            bool ok = false;
            const QString choice = m_desk->dialogs()->getItem(
                m_desk->window(), ApplicationIdentity::title(), text, offered, preselected, false, &ok);
            if (!ok || choice.isEmpty() || !m_desk->isHeld(module))
                return;
            bool converted = false;
            const int value = choice.toInt(&converted);
            if (converted)
                m_desk->submitWrite(module, -1, what.arg(value), [=](BaseModule& m) { return write(m, quint32(value)); });
        });
}

// ---- Crate-wide mode ----

void ModuleMenuCommands::toggleLiveInsertion()
{
    const WriteSource source("command");
    DeviceSession* session = m_desk->session();
    BaseController* controller = session->controller();
    if (!controller)
        return;
    // The mode the crate reported at its latest answered read; without one nothing is asked.
    const std::shared_ptr<const CrateSnapshot> crate = m_hooks.answeringCrate();
    if (!crate) {
        m_desk->showCommandMessage(tr("Live Insertion: the crate does not answer; nothing was sent."));
        return;
    }
    const bool active = crate->liveInsertion;
    const QString text = active ? tr("End the Live Insertion mode for the whole system?")
                                : tr("Begin the Live Insertion mode for the whole system?\n\n"
                                     "Note: to plug out a module, turn off all channels in this module first!");
    if (m_desk->dialogs()->question(
            m_desk->window(), ApplicationIdentity::title(), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    // A connection made while the question was open is not the one asked about.
    if (session->controller() != controller)
        return;
    m_hooks.crateCommand(
        active ? tr("end Live Insertion") : tr("begin Live Insertion"),
        [active](BaseController& each, BaseCrate*) {
            each.setLiveInsertion(!active);
            return QString();
        },
        m_hooks.refreshCurrentModuleNow, false);
}

// ---- Every module ----

void ModuleMenuCommands::switchAllModules(BaseModule::SwitchAction action, const QString& what, Urgency urgency)
{
    const WriteSource source("command");
    const QList<BaseModule*> modules = m_desk->session()->modules();
    if (modules.isEmpty()) {
        m_desk->showCommandMessage(tr("%1: no module; nothing was sent.").arg(CommandOutcome::capitalised(what)));
        return;
    }
    // Every module is tried; the message names each one that failed and its channels.
    m_desk->submitToModules(
        modules, what,
        [action, what](BaseModule& module) { return ModuleCommands::switchAllChannels(module, action, what); }, urgency,
        true);
}

void ModuleMenuCommands::allModulesOn()
{
    switchAllModules(BaseModule::SwitchAction::On, tr("switch on"));
}

void ModuleMenuCommands::allModulesOff()
{
    switchAllModules(BaseModule::SwitchAction::Off, tr("switch off"));
}

void ModuleMenuCommands::allModulesEmergencyOff()
{
    switchAllModules(BaseModule::SwitchAction::EmergencyOff, tr("emergency off"), Urgency::EmergencyOff);
}

void ModuleMenuCommands::allModulesClearEmergencyOff()
{
    switchAllModules(BaseModule::SwitchAction::ClearEmergencyOff, tr("clear emergency off"));
}

void ModuleMenuCommands::allModulesClearEvents()
{
    const WriteSource source("command");
    m_desk->submitToModules(m_desk->session()->modules(), tr("clear events"),
        [](BaseModule& module) { return CommandOutcome::ofWrite(module, module.doClear(), -1, tr("clear events")); });
}

void ModuleMenuCommands::promptAllModulesVoltage()
{
    promptAllModulesValue(true);
}

void ModuleMenuCommands::promptAllModulesCurrent()
{
    promptAllModulesValue(false);
}

void ModuleMenuCommands::promptAllModulesValue(bool voltage)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    QPointer<BaseModule> module;
    if (!m_desk->commandModule(module, what))
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
    const QList<BaseModule*> modules = m_desk->session()->modules();
    for (int index = 0; index < modules.size(); ++index) {
        const std::shared_ptr<const ModuleSnapshot> snapshot = m_desk->snapshotOf(index);
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
        m_desk->sendCommand(
            each, what,
            [voltage, moduleRange](BaseModule& read) {
                *moduleRange = NominalRange::readFrom(read, voltage);
                return CommandOutcome();
            },
            Urgency::Normal,
            [this, voltage, module, gathered, moduleRange](const CommandOutcome&) {
                if (moduleRange->found)
                    gathered->range.merge(*moduleRange);
                if (--gathered->remaining == 0 && m_desk->isHeld(module))
                    askAllModulesValue(voltage, module, gathered->range);
            });
    }
}

void ModuleMenuCommands::askAllModulesValue(bool voltage, const QPointer<BaseModule>& module, const NominalRange& range)
{
    const WriteSource source("prompt");
    const QString what = voltage ? tr("set voltage") : tr("set current");
    const std::shared_ptr<const ModuleSnapshot> shown = m_desk->freshChannelRead(module);
    const int cursor = qMax(0, m_hooks.selectedChannel());
    if (!range.found || range.largest <= 0.0f || !shown || cursor >= shown->channels.size()
        || !shown->channels.at(cursor).complete) {
        m_desk->showNoReading(module, what);
        return;
    }
    const QString unit = voltage ? shown->voltageUnit : shown->currentUnit;
    const QString text = voltage ? tr("Input a Set voltage (0...%L1 %2) for all channels in all modules:")
                                 : tr("Input a Set current (0...%L1 %2) for all channels in all modules:");
    const QString label = text.arg(double(range.largest)).arg(unit) + CommandDesk::someChannelsNote(range, unit);
    const ChannelReading& reading = shown->channels.at(cursor);

    bool ok = false;
    const double value = m_desk->dialogs()->getDouble(m_desk->window(), ApplicationIdentity::title(), label,
        voltage ? reading.voltageSet : reading.currentSet, 0.0, range.largest,
        voltage ? module->voltagePrecision() : module->currentPrecision(), &ok);
    // Modules rediscovered while the prompt was open are not the ones the operator answered for.
    if (!ok || !m_desk->isHeld(module))
        return;
    m_desk->submitToModules(
        m_desk->session()->modules(), what,
        [voltage, value](BaseModule& each) {
            return CommandOutcome::ofWrite(each,
                voltage ? each.setAllChannelsVoltageSet(float(value)) : each.setAllChannelsCurrentSet(float(value)), -1,
                CommandOutcome::allChannelsValueText(each, voltage, value));
        },
        Urgency::Normal, true);
}
