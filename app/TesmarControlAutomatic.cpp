// Automatic voltage stepping: the automatic window, its timer, the steps and the control passes.
// The requests of steps and passes run on the device side, one at a time; the window never waits
// for them.
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "profiles/AutomaticStepping.h"
#include "profiles/DialogAutomatic.h"

#include <QDebug>
#include <QTimer>

namespace {
// The control pass runs this long before the next step, but at least this long after its own.
constexpr int controlPassLeadMs = 4000;
constexpr int controlPassMinDelayMs = 2000;
// A pass due while a step still waits for the crate is tried again this much later.
constexpr int busyRetryMs = 100;
} // namespace

void TesmarControl::on_actionAutomatic_triggered()
{
    if (!dialogAutomatic) {
        dialogAutomatic = new DialogAutomatic(session.get(), this);
        connect(dialogAutomatic, &DialogAutomatic::automaticTimerEnabled, this, &TesmarControl::autoTimerEnabled);
        connect(dialogAutomatic, &DialogAutomatic::automaticTimerIntervalChanged, this,
            &TesmarControl::autoTimerIntervalChanged);
        connect(this, &TesmarControl::autoTimerControlLog, dialogAutomatic, &DialogAutomatic::log);
    }
    dialogAutomatic->show();
    dialogAutomatic->raise();
    dialogAutomatic->activateWindow();
}

void TesmarControl::autoTimerEnabled(bool enabled)
{
    qCDebug(lcProfiles) << "autoTimer enabled" << enabled;
    if (enabled && dialogAutomatic && dialogAutomatic->scope() == AutomaticStepping::SelectedChannel
        && selectedChannel() < 0) {
        dialogAutomatic->setRunning(false);
        dialogs()->information(this, applicationName(),
            tr("No channel is selected. Select the channel whose set voltage the timer changes, then start again."));
        return;
    }
    if (enabled)
        automaticTimer->start();
    else
        automaticTimer->stop();
}

void TesmarControl::autoTimerIntervalChanged(int intervalMs)
{
    automaticTimer->setInterval(intervalMs);
    qCDebug(lcProfiles) << "autoTimer interval" << intervalMs;
}

AutomaticStepping* TesmarControl::automaticSteppingInstance()
{
    if (!automaticStepping) {
        automaticStepping = new AutomaticStepping(session.get(), this);
        connect(automaticStepping, &AutomaticStepping::controlLog, this, &TesmarControl::autoTimerControlLog);
        automaticStepping->setUsable([this](BaseModule* module) { return isHeld(module); });
        // The control pass follows a step that demanded a value, timed from the step's end.
        connect(automaticStepping, &AutomaticStepping::stepFinished, this, [this](bool demanded) {
            if (!demanded)
                return;
            const int delayMs = qMax(automaticTimer->interval() - controlPassLeadMs, controlPassMinDelayMs);
            QTimer::singleShot(delayMs, this, &TesmarControl::autoTimerControlUpdate);
        });
    }
    return automaticStepping;
}

void TesmarControl::runAutomatic(bool step)
{
    if (!dialogAutomatic)
        return;
    AutomaticStepping* stepping = automaticSteppingInstance();
    if (stepping->busy()) {
        // A step or pass still waits for the crate: a pass comes again, a step is left out.
        if (!step)
            QTimer::singleShot(busyRetryMs, this, &TesmarControl::autoTimerControlUpdate);
        else
            qCDebug(lcProfiles) << "autoTimer step skipped: the previous one still runs";
        return;
    }
    AutomaticStepping::Parameters parameters;
    parameters.upperVolts = dialogAutomatic->upperLimitVolts();
    parameters.lowerVolts = dialogAutomatic->lowerLimitVolts();
    parameters.incrementVolts = dialogAutomatic->incrementVolts();
    parameters.scope = AutomaticStepping::Scope(dialogAutomatic->scope());
    AutomaticStepping::Target target;
    target.current = currentModule();
    target.row = selectedChannel();
    const QList<BaseModule*> modules = session->modules();
    for (BaseModule* module : modules)
        target.modules.append(module);

    if (!step) {
        stepping->controlPass(parameters, target);
        return;
    }
    stepping->step(parameters, target);
}

void TesmarControl::autoTimerUpdate()
{
    runAutomatic(true);
}

void TesmarControl::autoTimerControlUpdate()
{
    runAutomatic(false);
}
