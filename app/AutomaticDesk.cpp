// Automatic voltage stepping: the automatic window, its timer, the steps and the control passes.
// The requests of steps and passes run on the device side, one at a time; the window never waits
// for them.
#include "AutomaticDesk.h"

#include "dialogs/common/UserDialogs.h"
#include "dialogs/common/WindowFront.h"

#include "controller/ApplicationIdentity.h"
#include "controller/LogCategories.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "profiles/AutomaticStepping.h"
#include "profiles/DialogAutomatic.h"

#include <QDebug>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace {
// The control pass runs this long before the next step, but at least this long after its own.
constexpr int controlPassLeadMs = 4000;
constexpr int controlPassMinDelayMs = 2000;
// A pass due while a step still waits for the crate is tried again this much later.
constexpr int busyRetryMs = 100;
constexpr int initialIntervalMs = 30000;
} // namespace

AutomaticDesk::AutomaticDesk(DeviceSession* session, QWidget* window, Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_window(window)
    , m_hooks(std::move(hooks))
    , m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("automaticTimer"));
    m_timer->setInterval(initialIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &AutomaticDesk::step);
}

void AutomaticDesk::stopTimer()
{
    m_timer->stop();
}

void AutomaticDesk::showWindow()
{
    if (!m_dialog) {
        m_dialog = new DialogAutomatic(m_session, m_window);
        connect(m_dialog, &DialogAutomatic::automaticTimerEnabled, this, &AutomaticDesk::setTimerEnabled);
        connect(m_dialog, &DialogAutomatic::automaticTimerIntervalChanged, this, &AutomaticDesk::setTimerIntervalMs);
        connect(this, &AutomaticDesk::autoTimerControlLog, m_dialog, &DialogAutomatic::log);
    }
    WindowFront::showAndActivate(m_dialog);
}

void AutomaticDesk::setTimerEnabled(bool enabled)
{
    qCDebug(lcProfiles) << "autoTimer enabled" << enabled;
    if (enabled && m_dialog && m_dialog->scope() == AutomaticStepping::SelectedChannel && m_hooks.selectedChannel() < 0) {
        m_dialog->setRunning(false);
        m_hooks.dialogs()->information(m_window, ApplicationIdentity::title(),
            tr("No channel is selected. Select the channel whose set voltage the timer changes, then start again."));
        return;
    }
    if (enabled)
        m_timer->start();
    else
        m_timer->stop();
}

void AutomaticDesk::setTimerIntervalMs(int intervalMs)
{
    m_timer->setInterval(intervalMs);
    qCDebug(lcProfiles) << "autoTimer interval" << intervalMs;
}

AutomaticStepping* AutomaticDesk::stepping()
{
    if (!m_stepping) {
        m_stepping = new AutomaticStepping(m_session, this);
        connect(m_stepping, &AutomaticStepping::controlLog, this, &AutomaticDesk::autoTimerControlLog);
        m_stepping->setUsable([this](BaseModule* module) { return m_hooks.isHeld(module); });
        // The control pass follows a step that demanded a value, timed from the step's end.
        connect(m_stepping, &AutomaticStepping::stepFinished, this, [this](bool demanded) {
            if (!demanded)
                return;
            const int delayMs = qMax(m_timer->interval() - controlPassLeadMs, controlPassMinDelayMs);
            QTimer::singleShot(delayMs, this, &AutomaticDesk::controlPass);
        });
    }
    return m_stepping;
}

void AutomaticDesk::run(bool step)
{
    if (!m_dialog)
        return;
    AutomaticStepping* stepping = this->stepping();
    if (stepping->busy()) {
        // A step or pass still waits for the crate: a pass comes again, a step is left out.
        if (!step)
            QTimer::singleShot(busyRetryMs, this, &AutomaticDesk::controlPass);
        else
            qCDebug(lcProfiles) << "autoTimer step skipped: the previous one still runs";
        return;
    }
    AutomaticStepping::Parameters parameters;
    parameters.upperVolts = m_dialog->upperLimitVolts();
    parameters.lowerVolts = m_dialog->lowerLimitVolts();
    parameters.incrementVolts = m_dialog->incrementVolts();
    parameters.scope = AutomaticStepping::Scope(m_dialog->scope());
    AutomaticStepping::Target target;
    target.current = m_session->currentModule();
    target.row = m_hooks.selectedChannel();
    const QList<BaseModule*> modules = m_session->modules();
    for (BaseModule* module : modules)
        target.modules.append(module);

    if (!step) {
        stepping->controlPass(parameters, target);
        return;
    }
    stepping->step(parameters, target);
}

void AutomaticDesk::step()
{
    run(true);
}

void AutomaticDesk::controlPass()
{
    run(false);
}
