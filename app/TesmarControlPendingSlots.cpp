// Empty bodies of menu slots whose commands are not written yet, so the program links at every
// stage. Each body leaves this file in the same change that implements it elsewhere.
#include "TesmarControl.h"

void TesmarControl::refreshChannelTable()
{
}

void TesmarControl::tableCellDataChanged(int /*row*/, int /*column*/, QString /*text*/)
{
}

void TesmarControl::autoTimerUpdate()
{
}

void TesmarControl::on_actionController_triggered()
{
}

void TesmarControl::on_actionLoadProfile_triggered()
{
}

void TesmarControl::on_actionSaveProfile_triggered()
{
}

void TesmarControl::on_actionPassword_triggered()
{
}

void TesmarControl::on_actionScript_triggered()
{
}

void TesmarControl::on_actionAutomatic_triggered()
{
}

void TesmarControl::on_actionStatistic_triggered()
{
}

void TesmarControl::on_actionModuleOverview_triggered()
{
}

void TesmarControl::on_actionCrates_triggered()
{
}

void TesmarControl::on_actionSetCrateAddress_triggered()
{
}

void TesmarControl::on_actionSetLiveInsertion_triggered()
{
}

void TesmarControl::on_actionSetAllModulesOn_triggered()
{
}

void TesmarControl::on_actionSetAllModulesOff_triggered()
{
}

void TesmarControl::on_actionSetAllModulesVoltage_triggered()
{
}

void TesmarControl::on_actionSetAllModulesCurrent_triggered()
{
}

void TesmarControl::on_actionSetAllModulesVoltageRamp_triggered()
{
}

void TesmarControl::on_actionSetAllModulesCurrentRamp_triggered()
{
}

void TesmarControl::on_actionClearAllModulesEvents_triggered()
{
}

void TesmarControl::on_actionSetAllModulesEmergencyOff_triggered()
{
}

void TesmarControl::on_actionClearAllModulesEmergencyOff_triggered()
{
}

void TesmarControl::on_actionSetAllModulesFineAdjustmentOn_triggered()
{
}

void TesmarControl::on_actionSetAllModulesFineAdjustmentOff_triggered()
{
}

void TesmarControl::on_actionSelectModule_triggered()
{
}

void TesmarControl::on_actionPreviousModule_triggered()
{
}

void TesmarControl::on_actionNextModule_triggered()
{
}

void TesmarControl::on_actionSetModulesVoltageRamp_triggered()
{
}

void TesmarControl::on_actionSetModulesCurrentRamp_triggered()
{
}

void TesmarControl::on_actionClearAllEvents_triggered()
{
}

void TesmarControl::on_actionAdcSampleRate_triggered()
{
}

void TesmarControl::on_actionDigitalFilter_triggered()
{
}

void TesmarControl::on_actionSuppliesAndTemperature_triggered()
{
}

void TesmarControl::on_actionModuleStatusControl_triggered()
{
}

void TesmarControl::on_actionVariableGroups_triggered()
{
}

void TesmarControl::on_actionFactorySettings_triggered()
{
}

void TesmarControl::on_actionSpecialMode_triggered()
{
}

void TesmarControl::on_actionProgramNewBaseAddress_triggered()
{
}

void TesmarControl::on_actionInterlockOut_triggered()
{
}

void TesmarControl::on_actionSetFineAdjustmentOn_triggered()
{
}

void TesmarControl::on_actionSetFineAdjustmentOff_triggered()
{
}

void TesmarControl::on_actionSettings_triggered()
{
}

void TesmarControl::on_actionSetAllChannelsOn_triggered()
{
}

void TesmarControl::on_actionSetAllChannelsOff_triggered()
{
}

void TesmarControl::on_actionSetAllVoltages_triggered()
{
}

void TesmarControl::on_actionSetAllCurrents_triggered()
{
}

void TesmarControl::on_actionSetAllChannelsCurrentTrip_triggered()
{
}

void TesmarControl::on_actionSetAllChannelsExternalInhibitAction_triggered()
{
}

void TesmarControl::on_actionSetAllChannelsVoltageIncremental_triggered()
{
}

void TesmarControl::on_actionSetAllChannelsEmergencyOff_triggered()
{
}

void TesmarControl::on_actionClearAllChannelsEmergencyOff_triggered()
{
}

void TesmarControl::on_actionSetKillEnable_triggered()
{
}

void TesmarControl::on_actionSetKillDisable_triggered()
{
}

void TesmarControl::on_actionDisableAllResistors_triggered()
{
}

void TesmarControl::on_actionEnableResistor1_triggered()
{
}

void TesmarControl::on_actionEnableResistor2_triggered()
{
}

void TesmarControl::on_actionEnableBothResistors_triggered()
{
}

void TesmarControl::on_actionDoMultiplex_triggered()
{
}

void TesmarControl::on_actionSelectChannel_triggered()
{
}

void TesmarControl::on_actionSetChannelVoltage_triggered()
{
}

void TesmarControl::on_actionSetChannelCurrent_triggered()
{
}

void TesmarControl::on_actionSetChannelCurrentTrip_triggered()
{
}

void TesmarControl::on_actionSetChannelExternalInhibitAction_triggered()
{
}

void TesmarControl::on_actionSetChannelOn_triggered()
{
}

void TesmarControl::on_actionSetChannelOff_triggered()
{
}

void TesmarControl::on_actionSetChannelEmergencyOff_triggered()
{
}

void TesmarControl::on_actionClearChannelEmergencyOff_triggered()
{
}

void TesmarControl::on_actionClearChannelEvents_triggered()
{
}

void TesmarControl::on_actionChannelStatusControl_triggered()
{
}

void TesmarControl::on_actionBounds_triggered()
{
}

void TesmarControl::on_actionSetChannelNominalValues_triggered()
{
}

void TesmarControl::on_actionAutoSwitchMeasurement_triggered()
{
}

void TesmarControl::on_actionSetChannelExternalMeasurementOn_triggered()
{
}

void TesmarControl::on_actionSetChannelExternalMeasurementOff_triggered()
{
}

void TesmarControl::on_actionSetChannelRippleMeasurementOn_triggered()
{
}

void TesmarControl::on_actionSetChannelRippleMeasurementOff_triggered()
{
}
