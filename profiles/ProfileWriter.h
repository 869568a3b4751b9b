#pragma once

#include "profiles/ModuleProfile.h"

#include <QString>

#include <functional>

class BaseModule;

// Writes a profile into a module the guarded way: stop mode first, then the channels' control
// words and nominal values (written twice, the second time read back until they match), the
// module values, the remaining channel values, and finally the module's request to store its
// set values in its own memory, after which stop mode is released. Qt Core only: the caller
// supplies the pause between polls and the questions to the operator.
//
// Before anything is sent, every voltage and current is checked against the channels' hardware
// nominal values, read now; a value above them, or a nominal that cannot be read, ends the
// procedure with nothing written. Read-backs and the store's progress count only reads the
// module answered; the nominal values compare within the float round trip.
//
// Every write is checked: one the module refuses ends the procedure with the reason in the log
// and a message. After an error the module is left where the procedure stood (in stop mode with
// the values written so far, or with the stop request of the first step).
class ProfileWriter
{
public:
    enum Result {
        Written,
        HardwareNominalNotRead, // nothing written: the values could not be checked
        AboveHardwareNominal,   // nothing written: a value exceeds what the channel can do
        StopModeNotReached,
        ChannelNotConfirmed, // a control word or nominal value never read back
        WriteRefused,
        SaveNotAcknowledged, // the operator gave up retrying the store request
        SaveNotFinished,     // acknowledged, but the module never reported the store finished
    };

    struct Hooks
    {
        std::function<void(const QString&)> log;      // one line for the write-profile log
        std::function<void()> pause;                  // about 1 ms, processing events
        std::function<void(const QString&)> inform;   // a message box with Ok
        std::function<bool(const QString&)> askRetry; // Yes/No question, No the default; true for Yes
    };

    // Poll counts (numbers of attempts, not times).
    static constexpr int stopModePolls = 2000;
    static constexpr int channelReadBackPolls = 200;
    static constexpr int saveAcknowledgePolls = 500;
    static constexpr int saveFinishPolls = 5000;

    explicit ProfileWriter(Hooks hooks);

    // `profile` must be in the module's display units and hold the module's channels.
    Result write(BaseModule* module, const ModuleProfile& profile);

private:
    bool checked(bool ok, BaseModule* module, const QString& what);
    // Equal within the float round trip of the module's conversion (a few units in the last place).
    static bool sameNominal(double readBack, double written);
    Result fail(Result result, const QString& message);
    void pause();

    Hooks m_hooks;
};
