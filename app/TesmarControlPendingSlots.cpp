// Empty bodies of menu slots whose commands are not written yet, so the program links at every
// stage. Each body leaves this file in the same change that implements it elsewhere.
#include "TesmarControl.h"

void TesmarControl::autoTimerUpdate()
{
}

void TesmarControl::on_actionLoadProfile_triggered()
{
}

void TesmarControl::on_actionSaveProfile_triggered()
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

void TesmarControl::on_actionModuleStatusControl_triggered()
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

void TesmarControl::on_actionChannelStatusControl_triggered()
{
}

void TesmarControl::on_actionBounds_triggered()
{
}
