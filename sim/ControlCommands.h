#pragma once

#include <QString>

class CrateModel;
class SimulationClock;
class TransportFaults;

// The simulator's control channel: one text command in, one answer line out ("ok" or
// "error <text>"). Works on the crate model, the clock and the transport faults directly.
class ControlCommands
{
public:
    ControlCommands(CrateModel& model, SimulationClock& clock, TransportFaults& faults);

    // Executes one command line. Sets *quit for the command "quit". Blank lines give an empty
    // answer (nothing to send back).
    QString execute(const QString& line, bool* quit);

    static QString help();

private:
    CrateModel& m_model;
    SimulationClock& m_clock;
    TransportFaults& m_faults;
};
