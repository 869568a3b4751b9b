// The monitoring tool windows: system overview, channel and module status/control, channel
// bounds and interlock out. Their commands create them on first use, connect them, prepare them
// from the current module and show them; each renders the snapshots of its module itself.
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
template <typename Window>
void showAndActivate(Window* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

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
        connect(window, &DialogChannelControl::clearChannelEvents, this, &TesmarControl::clearChannelEvents);
        connect(window, &DialogChannelControl::changeChannelControl, this, &TesmarControl::changeChannelControl);
        connect(window, &DialogChannelControl::changeChannelEventMask, this, &TesmarControl::changeChannelEventMask);
    }
    if (currentModule())
        dialogChannelControl->showChannel(selectedChannel());
    showAndActivate(dialogChannelControl.data());
}

void TesmarControl::on_actionModuleStatusControl_triggered()
{
    if (!dialogModuleControl) {
        DialogModuleControl* window = new DialogModuleControl(session.get(), this);
        dialogModuleControl = window;
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
        connect(window, &DialogChannelBounds::setChannelBounds, this, &TesmarControl::setChannelBounds);
        connect(window, &DialogChannelBounds::changeChannelControl, this, &TesmarControl::changeChannelControl);
    }
    if (BaseModule* module = currentModule()) {
        const int row = qMax(0, selectedChannel());
        dialogChannelBounds->prepare(
            module->voltageUnit(row), module->voltagePrecision(), module->currentUnit(row), module->currentPrecision());
        // The window starts on the channel the table shows, not on a channel of its own.
        dialogChannelBounds->showChannel(row);
    }
    showAndActivate(dialogChannelBounds.data());
}

void TesmarControl::on_actionInterlockOut_triggered()
{
    if (!dialogInterlockOut) {
        DialogInterlockOut* window = new DialogInterlockOut(session.get(), this);
        dialogInterlockOut = window;
        connect(window, &DialogInterlockOut::changeInterlockControl, this, &TesmarControl::changeInterlockOutControl);
    }
    showAndActivate(dialogInterlockOut.data());
}

void TesmarControl::showChannelInToolWindows(int channel)
{
    if (dialogChannelControl)
        dialogChannelControl->showChannel(channel);
    if (dialogChannelBounds)
        dialogChannelBounds->showChannel(channel);
}
