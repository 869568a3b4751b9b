// The monitoring tool windows: system overview, channel and module status/control, channel
// bounds and interlock out. Their commands create them on first use, connect them, prepare them
// from the current module and show them; each renders the snapshots of its module itself.
#include "TesmarControl.h"

#include "CommandDesk.h"
#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "dialogs/DialogChannelBounds.h"
#include "dialogs/DialogChannelControl.h"
#include "dialogs/DialogInterlockOut.h"
#include "dialogs/DialogModuleControl.h"
#include "dialogs/DialogOverview.h"
#include "dialogs/common/WindowFront.h"

void TesmarControl::on_actionModuleOverview_triggered()
{
    // The overview renders the session's snapshots itself and follows its discoveries.
    if (!dialogOverview)
        dialogOverview = new DialogOverview(session.get(), this);
    WindowFront::showAndActivate(dialogOverview.data());
}

void TesmarControl::on_actionChannelStatusControl_triggered()
{
    if (!dialogChannelControl) {
        DialogChannelControl* window = new DialogChannelControl(session.get(), this);
        dialogChannelControl = window;
        connect(window, &DialogChannelControl::clearChannelEvents, desk, &CommandDesk::clearChannelEvents);
        connect(window, &DialogChannelControl::changeChannelControl, desk, &CommandDesk::changeChannelControl);
        connect(window, &DialogChannelControl::changeChannelEventMask, desk, &CommandDesk::changeChannelEventMask);
    }
    if (currentModule())
        dialogChannelControl->showChannel(selectedChannel());
    WindowFront::showAndActivate(dialogChannelControl.data());
}

void TesmarControl::on_actionModuleStatusControl_triggered()
{
    if (!dialogModuleControl) {
        DialogModuleControl* window = new DialogModuleControl(session.get(), this);
        dialogModuleControl = window;
        connect(window, &DialogModuleControl::clearModuleEvents, desk, &CommandDesk::clearModuleEvents);
        connect(window, &DialogModuleControl::changeModuleControl, desk, &CommandDesk::changeModuleControl);
        connect(window, &DialogModuleControl::changeModuleEventMask, desk, &CommandDesk::changeModuleEventMask);
        connect(
            window, &DialogModuleControl::clearModuleEventChannelStatus, desk, &CommandDesk::clearModuleEventChannelStatus);
        connect(window, &DialogModuleControl::setModuleEventChannelMask, desk, &CommandDesk::setModuleEventChannelMask);
        connect(window, &DialogModuleControl::clearModuleEventGroupStatus, desk, &CommandDesk::clearModuleEventGroupStatus);
        connect(window, &DialogModuleControl::setModuleEventGroupMask, desk, &CommandDesk::setModuleEventGroupMask);
        connect(window, &DialogModuleControl::setRestartTime, desk, &CommandDesk::setRestartTime);
    }
    if (BaseModule* module = currentModule())
        dialogModuleControl->setChannelCount(module->channelNumber());
    WindowFront::showAndActivate(dialogModuleControl.data());
}

void TesmarControl::on_actionBounds_triggered()
{
    if (!dialogChannelBounds) {
        DialogChannelBounds* window = new DialogChannelBounds(session.get(), this);
        dialogChannelBounds = window;
        connect(window, &DialogChannelBounds::setChannelBounds, desk, &CommandDesk::setChannelBounds);
        connect(window, &DialogChannelBounds::changeChannelControl, desk, &CommandDesk::changeChannelControl);
    }
    if (BaseModule* module = currentModule()) {
        const int row = qMax(0, selectedChannel());
        dialogChannelBounds->prepare(
            module->voltageUnit(row), module->voltagePrecision(), module->currentUnit(row), module->currentPrecision());
        // The window starts on the channel the table shows, not on a channel of its own.
        dialogChannelBounds->showChannel(row);
    }
    WindowFront::showAndActivate(dialogChannelBounds.data());
}

void TesmarControl::on_actionInterlockOut_triggered()
{
    if (!dialogInterlockOut) {
        DialogInterlockOut* window = new DialogInterlockOut(session.get(), this);
        dialogInterlockOut = window;
        connect(window, &DialogInterlockOut::changeInterlockControl, desk, &CommandDesk::changeInterlockOutControl);
    }
    WindowFront::showAndActivate(dialogInterlockOut.data());
}

void TesmarControl::showChannelInToolWindows(int channel)
{
    if (dialogChannelControl)
        dialogChannelControl->showChannel(channel);
    if (dialogChannelBounds)
        dialogChannelBounds->showChannel(channel);
}
