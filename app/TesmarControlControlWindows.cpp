// The control windows of the main window: supplies and temperatures, crates and variable groups
// (tool windows, created on first use and kept). Their writes go to the command desk, or for the
// crate to the window's crate commands.
#include "TesmarControl.h"

#include "CommandDesk.h"
#include "CrateCommands.h"
#include "dialogs/common/UserDialogs.h"
#include "dialogs/common/WindowFront.h"

#include "device/DeviceSession.h"
#include "dialogs/DialogCrate.h"
#include "dialogs/DialogFlexGroups.h"
#include "dialogs/DialogSuppliesTempLimits.h"

#include <QPointer>

// ---- Tool windows ----

void TesmarControl::on_actionSuppliesAndTemperature_triggered()
{
    if (!dialogSuppliesTempLimits)
        dialogSuppliesTempLimits = new DialogSuppliesTempLimits(session.get(), this);
    WindowFront::showAndActivate(dialogSuppliesTempLimits);
}

void TesmarControl::on_actionCrates_triggered()
{
    if (!dialogCrate) {
        auto* window = new DialogCrate(session.get(), this);
        dialogCrate = window;
        window->setUserDialogs(dialogs());
        connect(window, &DialogCrate::setPowerOn, m_crateCommands, &CrateCommands::setPowerOn);
        connect(window, &DialogCrate::setFanSpeed, m_crateCommands, &CrateCommands::setFanSpeed);
    }
    dialogCrate->setUserDialogs(dialogs());
    dialogCrate->clearCrates();
    dialogCrate->setFanSpeedEnabled(crateFanSpeedEnabled);
    WindowFront::showAndActivate(dialogCrate);
}

void TesmarControl::on_actionVariableGroups_triggered()
{
    if (!dialogFlexGroups) {
        auto* window = new DialogFlexGroups(session.get(), this);
        dialogFlexGroups = window;
        connect(window, &DialogFlexGroups::setFlexGroup, desk, &CommandDesk::setFlexGroup);
    }
    WindowFront::showAndActivate(dialogFlexGroups);
}
