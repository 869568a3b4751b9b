#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "device/BaseModule.h"
#include "service/CommandSender.h"

#include <functional>
#include <memory>

class BaseController;
class BaseCrate;
class CommandDesk;
struct CrateSnapshot;
struct NominalRange;

// The module commands of the Module and System menus: kill, fine adjustment, resistors and
// multiplex, ramp speeds, ADC sample rate and digital filter, clearing events, Live Insertion,
// and the commands for every module of the crate. They go through the desk to the shown module
// (or to every module); prompts start only from answered values, and what the operator answers
// is sent only while the module asked about is still held.
//
// A child of the main window, in the GUI thread; the window connects its menu actions here.
class ModuleMenuCommands : public QObject
{
    Q_OBJECT
public:
    // A command to the crate or its controller, carried out on the device side (the window's
    // crate commands): `write` returns null when the crate took it, else the reason; `taken` runs
    // in the GUI thread after the crate took it. One that `needsCrate` is refused without a crate.
    using CrateWrite = std::function<QString(BaseController& controller, BaseCrate* crate)>;
    struct WindowHooks
    {
        // The channel the operator put the cursor on, -1 when there is none.
        std::function<int()> selectedChannel;
        // The crate's latest answered read while the crate answers; null otherwise.
        std::function<std::shared_ptr<const CrateSnapshot>()> answeringCrate;
        std::function<void(const QString& what, CrateWrite write, std::function<void()> taken, bool needsCrate)>
            crateCommand;
        // After a command: the poller reads the shown module at once.
        std::function<void()> refreshCurrentModuleNow;
    };

    ModuleMenuCommands(CommandDesk* desk, WindowHooks hooks, QObject* parent = nullptr);

    // Item preselected in the ADC sample rate prompt ("50", "60", "100", "500") and in the digital
    // filter prompt ("1", "16", "64", "256", "1024") for the module's current setting.
    static int adcSampleRateChoice(quint32 samplesPerSecond);
    static int digitalFilterChoice(quint32 filter);

    // Gives every channel of every module the switch command `action`.
    void switchAllModules(BaseModule::SwitchAction action, const QString& what,
        CommandSender::Urgency urgency = CommandSender::Urgency::Normal);

public slots:
    // The shown module.
    void clearEvents();
    void killEnable();
    void killDisable();
    void fineAdjustmentOn();
    void fineAdjustmentOff();
    void disableAllResistors();
    void enableResistor1();
    void enableResistor2();
    void enableBothResistors();
    void multiplex();
    void promptVoltageRamp();
    // Only a module with current control has a current ramp of its own to offer.
    void promptCurrentRamp();
    void promptAdcSampleRate();
    void promptDigitalFilter();
    // Begins or ends the crate's Live Insertion mode after the operator confirmed it.
    void toggleLiveInsertion();

    // Every module.
    void allModulesOn();
    void allModulesOff();
    void allModulesEmergencyOff();
    void allModulesClearEmergencyOff();
    void allModulesClearEvents();
    void promptAllModulesVoltage();
    void promptAllModulesCurrent();
    void promptAllModulesVoltageRamp();
    void promptAllModulesCurrentRamp();

private:
    // One write of a menu command to the shown module (CommandDesk::writeShownModule).
    void writeShownModule(const QString& what, std::function<bool(BaseModule&)> write);
    // The resistor setting `resistors` (0 none, 1, 2, 3 both) of the shown module.
    void setResistors(int resistors);
    void promptAllModulesValue(bool voltage);
    // The all-modules value prompt once the nominal range of every module is known.
    void askAllModulesValue(bool voltage, const QPointer<BaseModule>& module, const NominalRange& range);
    void promptRampSpeed(bool voltage, bool allModules);
    // ADC sample rate, digital filter: the setting read on the device side, then the choice.
    void promptModuleSetting(const QString& label, const QStringList& items, std::function<bool(BaseModule&, quint32*)> read,
        int (*choiceOf)(quint32), const QString& what, std::function<bool(BaseModule&, quint32)> write);

    CommandDesk* m_desk;
    WindowHooks m_hooks;
};
