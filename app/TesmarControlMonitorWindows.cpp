// The monitoring tool windows: system overview, channel and module status/control, channel
// bounds and interlock out. Their commands create them on first use, connect them, prepare them
// from the current module and show them; the refresh re-broadcasts what they need of the latest
// read while they are visible.
#include "TesmarControl.h"

#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "dialogs/DialogChannelBounds.h"
#include "dialogs/DialogChannelControl.h"
#include "dialogs/DialogInterlockOut.h"
#include "dialogs/DialogModuleControl.h"
#include "dialogs/DialogOverview.h"

namespace {
// Tool-window values are read with the module values (every 11th tick): they count as current
// for one such period beyond the freshness time.
constexpr qint64 windowValuesFreshForMs = 11 * Poller::tickMs + ModuleSnapshot::freshForMs;

template <typename Window>
void showAndActivate(Window* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

void TesmarControl::emitToolWindowValues(BaseModule* module, const ModuleSnapshot& snapshot)
{
    const Poller::Needs needs = session->needs();
    const qint64 now = ModuleSnapshot::nowMs();
    if (!(needs & Poller::ToolWindowValues) || snapshot.windowValuesReadAtMs < 0
        || now - snapshot.windowValuesReadAtMs > windowValuesFreshForMs)
        return;
    const ToolWindowReading& values = snapshot.windowValues;
    const int serialNumber = module->serialNumber();
    using Quantity = BaseModule::Quantity;

    if (needs.testFlag(Poller::ModuleControlWords) && values.moduleWordsValid) {
        if (module->reports(Quantity::ModuleControl))
            emit updateModuleControl(serialNumber, values.control);
        if (module->reports(Quantity::ModuleEventMask))
            emit updateModuleEventMask(serialNumber, values.eventMask);
        if (module->reports(Quantity::RestartTime))
            emit updateModuleRestartTime(serialNumber, values.restartTime);
        if (module->reports(Quantity::EventChannelWords)) {
            emit updateModuleEventChannelStatus(serialNumber, values.eventChannelStatus);
            emit updateModuleEventChannelMask(serialNumber, values.eventChannelMask);
        }
        if (module->reports(Quantity::EventGroupWords)) {
            emit updateModuleEventGroupStatus(serialNumber, values.eventGroupStatus);
            emit updateModuleEventGroupMask(serialNumber, values.eventGroupMask);
        }
    }
    if (needs.testFlag(Poller::ChannelEventWords) && values.channelEventWordsValid) {
        const bool masks = module->reports(Quantity::ChannelEventMask);
        for (int channel = 0; channel < values.channelEventStatus.size(); ++channel) {
            emit updateChannelEventStatus(serialNumber, channel, values.channelEventStatus.at(channel));
            if (masks)
                emit updateChannelEventMask(serialNumber, channel, values.channelEventMask.at(channel));
        }
    }

    // Voltages and currents only in the units shown now.
    const QString voltageUnit = module->voltageUnit(0);
    const QString currentUnit = module->currentUnit(0);
    if (values.voltageUnit != voltageUnit || values.currentUnit != currentUnit)
        return;
    if (needs.testFlag(Poller::ChannelHardwareNominals) && values.hardwareNominalsValid) {
        for (int channel = 0; channel < values.voltageHardwareNominal.size(); ++channel) {
            emit updateChannelVoltageHardwareNominal(
                serialNumber, channel, values.voltageHardwareNominal.at(channel), voltageUnit);
            emit updateChannelCurrentHardwareNominal(
                serialNumber, channel, values.currentHardwareNominal.at(channel), currentUnit);
        }
    }
    if (needs.testFlag(Poller::ChannelBounds) && values.boundsValid) {
        // The bound boxes are limited by the channel's nominal values, which travel with the
        // channel reads.
        if (snapshot.voltageUnit == voltageUnit && snapshot.currentUnit == currentUnit) {
            for (int channel = 0; channel < snapshot.channels.size(); ++channel) {
                const ChannelReading& reading = snapshot.channels.at(channel);
                if (!reading.complete)
                    continue;
                emit updateChannelVoltageNominal(serialNumber, channel, reading.voltageNominal, voltageUnit);
                emit updateChannelCurrentNominal(serialNumber, channel, reading.currentNominal, currentUnit);
            }
        }
        for (int channel = 0; channel < values.voltageInterlockMax.size(); ++channel) {
            emit updateChannelVoltageInterlockMaxSet(
                serialNumber, channel, values.voltageInterlockMax.at(channel), voltageUnit);
            emit updateChannelVoltageInterlockMinSet(
                serialNumber, channel, values.voltageInterlockMin.at(channel), voltageUnit);
            emit updateChannelCurrentInterlockMaxSet(
                serialNumber, channel, values.currentInterlockMax.at(channel), currentUnit);
            emit updateChannelCurrentInterlockMinSet(
                serialNumber, channel, values.currentInterlockMin.at(channel), currentUnit);
        }
    }
    if (needs.testFlag(Poller::InterlockOut) && values.interlockOutValid) {
        emit updateInterlockStatus(serialNumber, values.interlockStatus);
        emit updateInterlockControl(serialNumber, values.interlockControl);
        emit updateInterlockCount(serialNumber, values.interlockCount);
        emit updateInterlockLastTrigger(serialNumber, values.interlockLastTrigger);
        emit updateInterlockChannelActualActive(serialNumber, values.interlockChannelActualActive);
        emit updateInterlockChannelEverTriggered(serialNumber, values.interlockChannelEverTriggered);
    }
}

void TesmarControl::on_actionModuleOverview_triggered()
{
    // The overview renders the session's snapshots itself and follows its discoveries.
    if (!dialogOverview)
        dialogOverview = new DialogOverview(session.get(), this);
    showAndActivate(dialogOverview.data());
}

void TesmarControl::on_actionChannelStatusControl_triggered()
{
    if (!dialogChannelControl) {
        DialogChannelControl* window = new DialogChannelControl(session.get(), this);
        dialogChannelControl = window;
        connect(this, &TesmarControl::updateChannelControl, window, &DialogChannelControl::updateChannelControl);
        connect(this, &TesmarControl::updateChannelStatus, window, &DialogChannelControl::updateChannelStatus);
        connect(this, &TesmarControl::updateChannelEventStatus, window, &DialogChannelControl::updateChannelEventStatus);
        connect(this, &TesmarControl::updateChannelEventMask, window, &DialogChannelControl::updateChannelEventMask);
        connect(this, &TesmarControl::updateModuleFirmwareName, window, &DialogChannelControl::updateModuleFirmwareName);
        connect(this, &TesmarControl::currentChannelChanged, window, &DialogChannelControl::currentChannelChanged);
        connect(window, &DialogChannelControl::clearChannelEvents, this, &TesmarControl::clearChannelEvents);
        connect(window, &DialogChannelControl::changeChannelControl, this, &TesmarControl::changeChannelControl);
        connect(window, &DialogChannelControl::changeChannelEventMask, this, &TesmarControl::changeChannelEventMask);
    }
    if (BaseModule* module = currentModule()) {
        const int serialNumber = module->serialNumber();
        dialogChannelControl->currentChannelChanged(serialNumber, qMax(0, selectedChannel()));
        dialogChannelControl->updateModuleFirmwareName(serialNumber, module->firmwareName());
    }
    showAndActivate(dialogChannelControl.data());
}

void TesmarControl::on_actionModuleStatusControl_triggered()
{
    if (!dialogModuleControl) {
        DialogModuleControl* window = new DialogModuleControl(session.get(), this);
        dialogModuleControl = window;
        connect(this, &TesmarControl::updateModuleControl, window, &DialogModuleControl::updateModuleControl);
        connect(this, &TesmarControl::updateModuleStatus, window, &DialogModuleControl::updateModuleStatus);
        connect(this, &TesmarControl::updateModuleEventStatus, window, &DialogModuleControl::updateModuleEventStatus);
        connect(this, &TesmarControl::updateModuleEventMask, window, &DialogModuleControl::updateModuleEventMask);
        connect(this, &TesmarControl::updateModuleRestartTime, window, &DialogModuleControl::updateModuleRestartTime);
        connect(this, &TesmarControl::updateModuleEventChannelStatus, window,
            &DialogModuleControl::updateModuleEventChannelStatus);
        connect(
            this, &TesmarControl::updateModuleEventChannelMask, window, &DialogModuleControl::updateModuleEventChannelMask);
        connect(
            this, &TesmarControl::updateModuleEventGroupStatus, window, &DialogModuleControl::updateModuleEventGroupStatus);
        connect(this, &TesmarControl::updateModuleEventGroupMask, window, &DialogModuleControl::updateModuleEventGroupMask);
        connect(window, &DialogModuleControl::clearModuleEvents, this, &TesmarControl::clearModuleEvents);
        connect(window, &DialogModuleControl::changeModuleControl, this, &TesmarControl::changeModuleControl);
        connect(window, &DialogModuleControl::changeModuleEventMask, this, &TesmarControl::changeModuleEventMask);
        connect(window, &DialogModuleControl::clearModuleEventChannelStatus, this,
            &TesmarControl::clearModuleEventChannelStatus);
        connect(window, &DialogModuleControl::setModuleEventChannelMask, this, &TesmarControl::setModuleEventChannelMask);
        connect(
            window, &DialogModuleControl::clearModuleEventGroupStatus, this, &TesmarControl::clearModuleEventGroupStatus);
        connect(window, &DialogModuleControl::setModuleEventGroupMask, this, &TesmarControl::setModuleEventGroupMask);
        connect(window, &DialogModuleControl::setRestartTime, this, &TesmarControl::setRestartTime);
    }
    if (BaseModule* module = currentModule())
        dialogModuleControl->setChannelCount(module->channelNumber());
    showAndActivate(dialogModuleControl.data());
}

void TesmarControl::on_actionBounds_triggered()
{
    if (!dialogChannelBounds) {
        DialogChannelBounds* window = new DialogChannelBounds(session.get(), this);
        dialogChannelBounds = window;
        connect(
            this, &TesmarControl::updateChannelVoltageNominal, window, &DialogChannelBounds::updateChannelVoltageNominal);
        connect(
            this, &TesmarControl::updateChannelCurrentNominal, window, &DialogChannelBounds::updateChannelCurrentNominal);
        connect(this, &TesmarControl::updateChannelControl, window, &DialogChannelBounds::updateChannelControl);
        connect(this, &TesmarControl::updateChannelVoltageInterlockMinSet, window,
            &DialogChannelBounds::updateChannelVoltageInterlockMinSet);
        connect(this, &TesmarControl::updateChannelVoltageInterlockMaxSet, window,
            &DialogChannelBounds::updateChannelVoltageInterlockMaxSet);
        connect(this, &TesmarControl::updateChannelCurrentInterlockMinSet, window,
            &DialogChannelBounds::updateChannelCurrentInterlockMinSet);
        connect(this, &TesmarControl::updateChannelCurrentInterlockMaxSet, window,
            &DialogChannelBounds::updateChannelCurrentInterlockMaxSet);
        connect(this, &TesmarControl::currentChannelChanged, window, &DialogChannelBounds::currentChannelChanged);
        connect(window, &DialogChannelBounds::setChannelBounds, this, &TesmarControl::setChannelBounds);
        connect(window, &DialogChannelBounds::changeChannelControl, this, &TesmarControl::changeChannelControl);
    }
    if (BaseModule* module = currentModule()) {
        const int row = qMax(0, selectedChannel());
        dialogChannelBounds->prepare(
            module->voltageUnit(row), module->voltagePrecision(), module->currentUnit(row), module->currentPrecision());
        // The window starts on the channel the table shows, not on a channel of its own.
        dialogChannelBounds->currentChannelChanged(module->serialNumber(), row);
    }
    showAndActivate(dialogChannelBounds.data());
}

void TesmarControl::on_actionInterlockOut_triggered()
{
    if (!dialogInterlockOut) {
        DialogInterlockOut* window = new DialogInterlockOut(session.get(), this);
        dialogInterlockOut = window;
        connect(this, &TesmarControl::updateInterlockStatus, window, &DialogInterlockOut::updateInterlockStatus);
        connect(this, &TesmarControl::updateInterlockControl, window, &DialogInterlockOut::updateInterlockControl);
        connect(this, &TesmarControl::updateInterlockCount, window, &DialogInterlockOut::updateInterlockCount);
        connect(this, &TesmarControl::updateInterlockLastTrigger, window, &DialogInterlockOut::updateInterlockLastTrigger);
        connect(this, &TesmarControl::updateInterlockChannelActualActive, window,
            &DialogInterlockOut::updateInterlockChannelActualActive);
        connect(this, &TesmarControl::updateInterlockChannelEverTriggered, window,
            &DialogInterlockOut::updateInterlockChannelEverTriggered);
        connect(window, &DialogInterlockOut::changeInterlockControl, this, &TesmarControl::changeInterlockOutControl);
    }
    showAndActivate(dialogInterlockOut.data());
}
