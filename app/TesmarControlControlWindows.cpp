// The control windows of the main window: supplies and temperatures, crates, variable groups
// (tool windows, created on first use and kept), and the modal current trip, external inhibit
// and user nominal value dialogs. Their writes go through the module operations and report a
// refusal like every other command (checkWrite).
#include "TesmarControl.h"

#include "ChannelTable.h"
#include "UserDialogs.h"
#include "ui_TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "dialogs/DialogCrate.h"
#include "dialogs/DialogFlexGroups.h"
#include "dialogs/DialogInhibit.h"
#include "dialogs/DialogSetCurrent.h"
#include "dialogs/DialogSetUserNominalValues.h"
#include "dialogs/DialogSuppliesTempLimits.h"

#include <QPointer>

#include <cmath>

namespace {
// Module control bit 2: stop mode, in which the module takes user nominal values.
constexpr quint32 stopModeControlBit = 0x0004;

void showAndActivate(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

// ---- Tool windows ----

void TesmarControl::on_actionSuppliesAndTemperature_triggered()
{
    if (!dialogSuppliesTempLimits) {
        auto* window = new DialogSuppliesTempLimits(session.get(), this);
        dialogSuppliesTempLimits = window;
        connect(this, &TesmarControl::updateModuleSupplyP5, window, &DialogSuppliesTempLimits::updateModuleSupplyP5);
        connect(this, &TesmarControl::updateModuleSupplyP12, window, &DialogSuppliesTempLimits::updateModuleSupplyP12);
        connect(this, &TesmarControl::updateModuleSupplyN12, window, &DialogSuppliesTempLimits::updateModuleSupplyN12);
        connect(this, &TesmarControl::updateModuleTemperature, window, &DialogSuppliesTempLimits::updateModuleTemperature);
        connect(this, &TesmarControl::updateModuleVoltageHardwareLimit, window,
            &DialogSuppliesTempLimits::updateModuleVoltageHardwareLimit);
        connect(this, &TesmarControl::updateModuleCurrentHardwareLimit, window,
            &DialogSuppliesTempLimits::updateModuleCurrentHardwareLimit);
    }
    showAndActivate(dialogSuppliesTempLimits);
}

void TesmarControl::on_actionCrates_triggered()
{
    if (!dialogCrate) {
        auto* window = new DialogCrate(session.get(), this);
        dialogCrate = window;
        window->setUserDialogs(dialogs());
        connect(this, &TesmarControl::updateCrateFirmwareRelease, window, &DialogCrate::updateFirmwareRelease);
        connect(this, &TesmarControl::updateCrateSupply5V, window, &DialogCrate::updateSupply5V);
        connect(this, &TesmarControl::updateCrateSupply24V, window, &DialogCrate::updateSupply24V);
        connect(this, &TesmarControl::updateCrateBattery24V, window, &DialogCrate::updateBattery24V);
        connect(this, &TesmarControl::updateCrateTemperatureBackPlane, window, &DialogCrate::updateTemperatureBackPlane);
        connect(this, &TesmarControl::updateCrateTemperaturePowerSupply, window, &DialogCrate::updateTemperaturePowerSupply);
        connect(this, &TesmarControl::updateCrateFanSpeed, window, &DialogCrate::updateCrateFanSpeed);
        connect(this, &TesmarControl::updateCrateStatus, window, &DialogCrate::updateStatus);
        connect(this, &TesmarControl::updateCratePowerOn, window, &DialogCrate::updatePowerOn);
        connect(window, &DialogCrate::setPowerOn, this, &TesmarControl::setCratePowerOn);
        connect(window, &DialogCrate::setFanSpeed, this, &TesmarControl::setCrateFanSpeed);
    }
    dialogCrate->setUserDialogs(dialogs());
    dialogCrate->clearCrates();
    dialogCrate->setFanSpeedEnabled(crateFanSpeedEnabled);
    showAndActivate(dialogCrate);
}

void TesmarControl::on_actionVariableGroups_triggered()
{
    if (!dialogFlexGroups) {
        auto* window = new DialogFlexGroups(session.get(), this);
        dialogFlexGroups = window;
        connect(window, &DialogFlexGroups::getFlexGroupData, this, &TesmarControl::getFlexGroupData);
        connect(this, &TesmarControl::updateModuleFlexGroups, window, &DialogFlexGroups::updateModuleFlexGroups);
        connect(window, &DialogFlexGroups::setFlexGroup, this, &TesmarControl::setFlexGroup);
    }
    if (BaseModule* module = currentModule()) {
        dialogFlexGroups->setDeviceClass(module->deviceClass());
        dialogFlexGroups->setChannelCount(module->channelNumber());
    }
    showAndActivate(dialogFlexGroups);
}

// ---- Current trip ----

void TesmarControl::prepareCurrentTripDialog(DialogSetCurrent& dialog, BaseModule* module, int channel)
{
    // Channel -1 (all channels) takes the remaining fields from the current row.
    const int row = channel >= 0 ? channel : currentRowOrZero();
    // Modules that read channel values in blocks refresh them on a read of channel 0: the
    // dialog starts from the crate's values, not from a block read a while ago.
    if (row != 0) {
        module->channelCurrentSet(0);
        module->channelDelayedTripEnabled(0);
        module->channelDelayedTripTime(0);
    }
    dialog.setAvailable(module->currentControl());
    dialog.setChannel(channel);
    dialog.setDecimals(module->currentPrecision());
    if (channel >= 0)
        dialog.setMaximum(std::fabs(module->channelCurrentNominal(row)));
    dialog.setValue(module->channelCurrentSet(row));
    dialog.setUnit(module->currentUnit(row));
    const bool delayedTrip = module->channelDelayedTripEnabled(row);
    dialog.setDelayedTrip(delayedTrip);
    dialog.setRampDown(delayedTrip ? module->channelDelayedTripRampDown(row) : true);
    dialog.setDelay(module->channelDelayedTripTime(row));
}

namespace {
QString tripText(int action, int delayMs)
{
    return TesmarControl::tr("set delayed trip action %1 after %2 ms").arg(action).arg(delayMs);
}
} // namespace

void TesmarControl::on_actionSetChannelCurrentTrip_triggered()
{
    QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    const int channel = currentRowOrZero();
    DialogSetCurrent dialog(this);
    prepareCurrentTripDialog(dialog, module, channel);
    if (dialogs()->exec(&dialog) != QDialog::Accepted || !isHeld(module))
        return;
    writeChannelValue(module, channel, false, float(dialog.value()));
    checkWrite(
        module->setChannelDelayedTripAction(channel, BaseModule::OutputSupervisionAction(dialog.action()), dialog.delay()),
        module, channel, tripText(dialog.action(), dialog.delay()));
}

void TesmarControl::on_actionSetAllChannelsCurrentTrip_triggered()
{
    QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    float smallest = 0.0f;
    float largest = 0.0f;
    for (int channel = 0; channel < module->channelNumber(); ++channel) {
        const float nominal = std::fabs(module->channelCurrentNominal(channel));
        smallest = channel == 0 ? nominal : qMin(smallest, nominal);
        largest = qMax(largest, nominal);
    }
    DialogSetCurrent dialog(this);
    dialog.setMaximum(largest);
    dialog.setSmallestNominal(smallest);
    prepareCurrentTripDialog(dialog, module, -1);
    if (dialogs()->exec(&dialog) != QDialog::Accepted || !isHeld(module))
        return;
    const float value = float(dialog.value());
    checkWrite(module->setAllChannelsCurrentSet(value), module, -1, allChannelsValueText(module, false, value));
    checkWrite(module->setAllChannelsDelayedTripAction(BaseModule::OutputSupervisionAction(dialog.action()), dialog.delay()),
        module, -1, tripText(dialog.action(), dialog.delay()) + tr(" for all channels"));
}

// ---- External inhibit ----

void TesmarControl::runInhibitDialog(bool allChannels)
{
    QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    // Without a current row the command acts on channel 0, as the other channel commands do;
    // "any channel" stays the text of the all-channels variant.
    const int row = currentRowOrZero();
    DialogInhibit dialog(this);
    dialog.setChannel(allChannels ? -1 : row);
    if (row != 0)
        module->channelInhibitAction(0); // refreshes a module's block of behaviour words
    dialog.setAction(module->channelInhibitAction(row));
    if (dialogs()->exec(&dialog) != QDialog::Accepted || !isHeld(module))
        return;
    const auto action = BaseModule::OutputSupervisionAction(dialog.action());
    if (allChannels)
        checkWrite(module->setAllChannelsInhibitAction(action), module, -1,
            tr("set external inhibit action %1 for all channels").arg(dialog.action()));
    else
        checkWrite(module->setChannelInhibitAction(row, action), module, row,
            tr("set external inhibit action %1").arg(dialog.action()));
}

void TesmarControl::on_actionSetChannelExternalInhibitAction_triggered()
{
    runInhibitDialog(false);
}

void TesmarControl::on_actionSetAllChannelsExternalInhibitAction_triggered()
{
    runInhibitDialog(true);
}

// ---- User nominal values ----

void TesmarControl::on_actionSetChannelNominalValues_triggered()
{
    QPointer<BaseModule> module = currentModule();
    if (!module)
        return;
    const int row = currentRowOrZero();

    // The module takes user nominal values only in stop mode. A stop that was set before (an
    // interrupted profile write, the operator) stays set afterwards.
    const bool wasStopped = module->control() & stopModeControlBit;
    if (!wasStopped)
        checkWrite(module->setControl(module->control() | stopModeControlBit), module, -1, tr("set stop mode"));

    DialogSetUserNominalValues dialog(this);
    dialog.setVoltageDecimals(module->voltagePrecision());
    dialog.setVoltageMaximum(module->channelVoltageHardwareNominal(row));
    dialog.setVoltageNominal(module->channelVoltageNominal(row));
    dialog.setVoltageUnit(module->voltageUnit(row));
    dialog.setCurrentDecimals(module->currentPrecision());
    dialog.setCurrentMaximum(module->channelCurrentHardwareNominal(row));
    dialog.setCurrentNominal(module->channelCurrentNominal(row));
    dialog.setCurrentUnit(module->currentUnit(row));
    // What the spin boxes show is the module's value rounded to their decimals: a value the
    // operator did not touch compares equal to it and is not written.
    const double shownVoltage = dialog.voltageNominal();
    const double shownCurrent = dialog.currentNominal();

    const bool accepted = dialogs()->exec(&dialog) == QDialog::Accepted;
    if (!isHeld(module))
        return;
    if (accepted) {
        const double voltage = dialog.voltageNominal();
        const double current = dialog.currentNominal();
        if (voltage != shownVoltage)
            checkWrite(module->setChannelVoltageNominal(row, float(voltage)), module, row,
                tr("set nominal voltage %1 %2").arg(numberText(voltage), module->voltageUnit(row)));
        if (current != shownCurrent)
            checkWrite(module->setChannelCurrentNominal(row, float(current)), module, row,
                tr("set nominal current %1 %2").arg(numberText(current), module->currentUnit(row)));
    }
    if (!wasStopped)
        checkWrite(module->setControl(module->control() & ~stopModeControlBit), module, -1, tr("leave stop mode"));
    // The table sets itself up again with the new nominal values.
    module->setConnectionState(BaseModule::ModuleStateUnknown);
}
