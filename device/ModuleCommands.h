#pragma once

#include "device/CommandOutcome.h"

#include <QCoreApplication>
#include <QString>

#include <functional>
#include <optional>

class BaseModule;
struct ChannelSettings;
struct ModuleSnapshot;

// Commands of several steps on one module, run where commands run (the device side, one session
// command, with the module it was given) and reported as a CommandOutcome in the operator's words.
// None of them waits: a procedure that has to wait for the module is a job (service/).
class ModuleCommands
{
    Q_DECLARE_TR_FUNCTIONS(ModuleCommands)
public:
    // A read-modify-write of a 16-bit word: `clearBits` cleared and `setBits` set in the word as
    // read now. A word that cannot be read is not written back ("<wordName> not written: ...").
    static CommandOutcome changeWord(BaseModule& module, const QString& what, const QString& wordName, int channel,
        quint32 clearBits, quint32 setBits, const std::function<quint32(BaseModule&)>& read,
        const std::function<bool(BaseModule&, quint32)>& write);

    // A change of a channel's control word (read fresh inside the module operation). Clearing
    // the emergency-off bit also ends the emergency off: the bit alone does not on every module.
    static CommandOutcome changeChannelControl(
        BaseModule& module, int channel, quint32 clearBits, quint32 setBits, const QString& what);

    // New user nominal values of one channel (a value left out is not written). The module takes
    // them only in stop mode: it is set first when the module is not stopped and left again
    // afterwards; a stop that was set before (an interrupted profile write, the operator) stays.
    // A control word that cannot be read is not written back. The module is marked for a new
    // set-up afterwards, so the window takes the new nominal values as its limits.
    static CommandOutcome changeNominalValues(BaseModule& module, int channel, std::optional<double> voltage,
        const QString& voltageUnit, std::optional<double> current, const QString& currentUnit);

    // Why a single nominal value from a tool window is refused before anything is sent: the
    // module is not in stop mode by its latest answered status (never by a read that failed).
    // Empty when it may be sent.
    static QString nominalRefusal(const ModuleSnapshot* snapshot, qint64 nowMs);
    // "set nominal voltage 3000 V" / "set nominal current 3 mA".
    static QString nominalText(bool voltage, double value, const QString& unit);

    // The switch command `action` for every channel of the module; each failure starts with the
    // module's address (the message names modules of a whole crate).
    static CommandOutcome switchAllChannels(BaseModule& module, BaseModule::SwitchAction action, const QString& what);

    // The set voltage of `channel` in the incremental pattern over `count` channels: steps of
    // nominal/count (at most 100) below the nominal value, rising with the channel number or,
    // `descending`, falling.
    static float incrementalVoltage(int channel, int count, float nominal, bool descending);

    // A channel's settings as a dialog starts from them. A lost request is asked again, up to
    // settingsReadAttempts times (the read is all or nothing, so a loss anywhere fails it); a
    // refusal is not. False with the reason of the last try.
    static constexpr int settingsReadAttempts = 3;
    static bool readChannelSettings(BaseModule& module, int channel, ChannelSettings* settings, QString* reason);
};
