// Automatic voltage stepping: the automatic window, its timer, the steps and the control passes.
// Steps and passes run in the GUI thread and process events between their requests, so the
// window waits for at most one request at a time.
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "dialogs/common/UserDialogs.h"
#include "ui_TesmarControl.h"

#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "profiles/AutomaticStepping.h"
#include "profiles/DialogAutomatic.h"

#include <QCoreApplication>
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
        automaticStepping = new AutomaticStepping(this);
        connect(automaticStepping, &AutomaticStepping::controlLog, this, &TesmarControl::autoTimerControlLog);
        automaticStepping->setBetweenRequests([] { QCoreApplication::processEvents(); });
        automaticStepping->setUsable([this](BaseModule* module) { return isHeld(module); });
    }
    return automaticStepping;
}

void TesmarControl::runAutomatic(bool step)
{
    if (!dialogAutomatic)
        return;
    AutomaticStepping* stepping = automaticSteppingInstance();
    if (stepping->busy()) {
        // Events are processed between the requests of a step or pass: a timer may fire there.
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
    if (stepping->step(parameters, target)) {
        const int delayMs = qMax(automaticTimer->interval() - controlPassLeadMs, controlPassMinDelayMs);
        QTimer::singleShot(delayMs, this, &TesmarControl::autoTimerControlUpdate);
    }
}

void TesmarControl::autoTimerUpdate()
{
    runAutomatic(true);
}

void TesmarControl::autoTimerControlUpdate()
{
    runAutomatic(false);
}
