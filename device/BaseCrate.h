#pragma once

#include "device/CrateReading.h"
#include "device/LastErrors.h"
#include "device/WriteJournal.h"

#include <QString>

// The crate housing the modules: supplies, temperatures, fans, main power switch, identity.
//
// Writes return true only when the crate took them; otherwise lastError() in the calling thread
// says why: "no answer" when the crate did not answer (BaseModule::isNoAnswer()), else the
// crate's reason ("wrongValue", "noAccess", ...) or "not offered by this crate".
class BaseCrate
{
public:
    BaseCrate() = default;
    virtual ~BaseCrate();
    BaseCrate(const BaseCrate&) = delete;
    BaseCrate& operator=(const BaseCrate&) = delete;

    // The values the crate window shows, read together; invalid when any of the reads was not
    // answered (the default asks lastReadFailed() after each one).
    virtual CrateReading read();

    // Whether the crate reports a quantity over its controller; one it cannot report is
    // answered as a constant, which windows show as not available rather than as a reading.
    enum class Quantity { Supply5V, Supply24V, Battery24V, TemperatureBackPlane, TemperaturePowerSupply, FanSpeed, Status };
    virtual bool reports(Quantity quantity) const;

    virtual float supply5V() = 0;
    virtual float supply24V() = 0;
    virtual float battery24V() = 0;
    virtual float temperatureBackPlane() = 0;
    virtual float temperaturePowerSupply() = 0;
    virtual int fanSpeed() = 0;
    virtual bool setFanSpeed(int speed) = 0;
    virtual int fanStageBackPlane() = 0;
    virtual int fanStagePowerSupply() = 0;
    virtual int status() = 0;
    virtual bool acLinePower() = 0;
    virtual bool powerOn() = 0;
    virtual bool setPowerOn(bool on) = 0;
    // Checked read of the main switch: true with `on` when the crate answered, false with
    // lastError() set and `on` untouched otherwise. The default reads powerOn() and asks
    // lastReadFailed().
    virtual bool readPowerOn(bool* on);
    // Why the latest failed operation of this crate in the calling thread failed.
    virtual QString lastError();
    virtual int serialNumber() = 0;
    virtual QString firmwareRelease() = 0;
    virtual int bitRate() = 0;
    virtual bool alive() = 0;
    virtual int alarmFlag() = 0;
    virtual QString alarmInformation() = 0;
    virtual float alarmValue() = 0;
    // True when the latest read of this crate (from any thread) got no answer: the value it
    // returned (0, false) is then not the crate's state. False for crates that cannot tell.
    virtual bool lastReadFailed();

protected:
    // Record the outcome of an operation for lastError() in the calling thread; each returns the
    // operation's result.
    bool succeed();
    bool fail(const QString& reason);

    // Records one write to the crate in the write journal (slot "-", channel "crate"): its "sent"
    // line, then `send()` (sends the write, returns why the crate did not take it, empty when it
    // did), then the result line; returns what `send()` returned. Every crate operation that
    // sends a write goes through it once per write.
    template <typename Send>
    QString journaled(const QString& crateAddress, const char* quantity, const QString& value, Send&& send)
    {
        JournalWrite entry = journalSent(crateAddress, quantity, value);
        const QString reason = send();
        journalResult(entry, reason);
        return reason;
    }
    JournalWrite journalSent(const QString& crateAddress, const char* quantity, const QString& value);
    void journalResult(JournalWrite entry, const QString& reason);

private:
    LastErrors m_lastErrors;
};
