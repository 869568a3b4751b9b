// Empty bodies of menu slots whose commands are not written yet, so the program links at every
// stage. Each body leaves this file in the same change that implements it elsewhere.
#include "TesmarControl.h"

void TesmarControl::on_actionFactorySettings_triggered()
{
}

void TesmarControl::on_actionSpecialMode_triggered()
{
}

void TesmarControl::on_actionProgramNewBaseAddress_triggered()
{
}
