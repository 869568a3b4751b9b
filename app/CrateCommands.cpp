#include "CrateCommands.h"

#include "controller/ApplicationIdentity.h"
#include "controller/BaseController.h"
#include "dialogs/common/UserDialogs.h"

#include "device/BaseCrate.h"
#include "device/CommandOutcome.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/WriteJournal.h"

#include <QTimer>
#include <QWidget>

namespace {
// How often a switch-off is checked against the crate's reads: as often as the window refreshes.
constexpr int offCheckIntervalMs = 200;
} // namespace

CrateCommands::CrateCommands(DeviceSession* session, Hooks hooks, QWidget* window)
    : QObject(window)
    , m_session(session)
    , m_hooks(std::move(hooks))
    , m_window(window)
{
}

void CrateCommands::setInFlight(int count)
{
    m_inFlight = count;
    emit inFlightChanged(count);
}

void CrateCommands::setPowerOn(bool on)
{
    const WriteSource source("tool window");
    const QString what = on ? tr("switch on") : tr("switch off");
    submit(
        what, [on](BaseController&, BaseCrate* crate) { return crate->setPowerOn(on) ? QString() : crate->lastError(); },
        [this, on] { powerTaken(on); });
}

void CrateCommands::setFanSpeed(int speed)
{
    const WriteSource source("tool window");
    submit(tr("set fan speed %1").arg(speed),
        [speed](BaseController&, BaseCrate* crate) { return crate->setFanSpeed(speed) ? QString() : crate->lastError(); });
}

void CrateCommands::promptCrateAddress()
{
    if (!m_session->controller())
        return;
    if (!m_hooks.crateAnswering()) {
        emit refused(tr("Crate: set address: the crate does not answer; nothing was sent."));
        return;
    }
    emit addressPromptOpen(true);
    QString address = m_hooks.crateAddress();
    const QString label = tr("<p>Input a new static IP Address for the MPOD Crate:</p>"
                             "<p>Note: The address 0.0.0.0 switches the MPOD to DHCP mode.</p>");
    const bool ok = m_hooks.dialogs()->getAddress(m_window, ApplicationIdentity::title(), label, &address);
    emit addressPromptOpen(false);
    if (!ok)
        return;
    const WriteSource source("prompt");
    const QString crateAddress = JournalWrite::snmpCrateAddress(m_session->controllerAddress());
    submit(
        tr("set address %1").arg(address),
        [address, crateAddress](BaseController& controller, BaseCrate* crate) {
            return sendCrateAddress(controller, crate, crateAddress, address);
        },
        [this, address] { emit crateAddressChanged(address); }, false);
}

QString CrateCommands::sendCrateAddress(
    BaseController& controller, BaseCrate* crate, const QString& crateAddress, const QString& address)
{
    JournalWrite write;
    write.crateAddress = crateAddress;
    write.serialNumber = crate ? crate->serialNumber() : 0;
    write.channel = JournalWrite::channelText(JournalWrite::crateWide);
    write.quantity = QStringLiteral("crate address");
    write.value = address;
    WriteJournal::instance().sent(&write);
    const bool sent = controller.setIpAddress(address);
    const QString reason = controller.errorString();
    write.result = sent ? QStringLiteral("ok") : reason.isEmpty() ? QStringLiteral("not confirmed by the crate") : reason;
    WriteJournal::instance().finished(write);
    return sent ? QString() : write.result;
}

void CrateCommands::submit(const QString& what, Write write, std::function<void()> taken, bool needsCrate)
{
    if (needsCrate && m_session->crates().isEmpty()) {
        emit refused(tr("Crate: no crate is connected; nothing was sent."));
        return;
    }
    // The command goes out on the device side; the window goes on meanwhile and shows it pending.
    const QString pending = tr("Crate: %1: sending...").arg(what);
    emit commandPending(pending);
    // The journal names who sent the command, as if it had been sent here.
    const QString source = WriteSource::current();
    const QString gone = tr("Crate: %1: the connection went away; nothing was sent.").arg(what);
    setInFlight(m_inFlight + 1);
    auto refuse = [this, gone] {
        setInFlight(m_inFlight - 1);
        emit refused(gone);
    };
    m_session->submitCrateCommand(
        this, DeviceSession::Priority::Normal,
        [this, source, what, pending, needsCrate, refuse, write = std::move(write), taken = std::move(taken)](
            BaseController& controller, BaseCrate* crate) -> DeviceSession::CommandResult {
            if (needsCrate && !crate)
                return refuse;
            const WriteSource scope(source);
            // The reason belongs to this thread's operation: taken here, shown there.
            const QString reason = write(controller, crate);
            const QString failure = reason.isNull() ? QString() : CommandOutcome::failureText(tr("Crate"), what, reason);
            return [this, failure, pending, taken] {
                setInFlight(m_inFlight - 1);
                if (!failure.isEmpty()) {
                    // A command the crate did not take changes nothing here.
                    emit refused(failure);
                    return;
                }
                emit commandEnded(pending);
                if (taken)
                    taken();
            };
        },
        refuse);
}

void CrateCommands::powerTaken(bool on)
{
    if (m_hooks.refreshNow)
        m_hooks.refreshNow();
    if (!on) {
        // The modules are let go only once the crate reports its main switch off.
        m_offSentAtMs = ModuleSnapshot::nowMs();
        if (!m_offWatch) {
            m_offWatch = new QObject(this);
            m_offTimer = new QTimer(this);
            m_offTimer->setInterval(offCheckIntervalMs);
            connect(m_offTimer, &QTimer::timeout, this, &CrateCommands::checkCrateOff);
        }
        m_session->setNeeds(m_offWatch, Poller::CrateValues);
        m_offTimer->start();
        emit crateStateText(tr("Waiting for the crate to report that it is off..."));
        return;
    }
    emit crateStateText(QStringLiteral("<font color=\"yellow\"><b>")
        + tr("Waiting %1 seconds for Crate to switch on...").arg((m_rediscoveryDelayAfterPowerOnMs + 999) / 1000));
    emit rediscoveryWanted(m_rediscoveryDelayAfterPowerOnMs);
}

void CrateCommands::checkCrateOff()
{
    // Without a connection nothing is read: the check waits for the next one.
    if (m_offSentAtMs < 0 || !m_session->controller())
        return;
    const std::shared_ptr<const CrateSnapshot> crate = m_session->poller() ? m_session->poller()->crateSnapshot() : nullptr;
    const bool confirmed =
        crate && crate->answered && crate->crateReadAtMs > m_offSentAtMs && crate->crate.valid && !crate->crate.powerOn;
    const bool overdue = ModuleSnapshot::nowMs() - m_offSentAtMs > m_offConfirmMs;
    if (!confirmed && !overdue)
        return;
    m_offSentAtMs = -1;
    m_offTimer->stop();
    m_session->setNeeds(m_offWatch, Poller::Needs());
    emit crateStateText(QString());
    if (!confirmed) {
        emit refused(tr("Crate: switched off, but the crate still does not report its main switch off after %1 s; "
                        "its modules stay listed.")
                         .arg(m_offConfirmMs / 1000));
        return;
    }
    emit crateSwitchedOff();
}
