#pragma once

#include "service/ServiceJob.h"

// Resets a VME module to its factory settings: every channel off, its nominal values back at the
// hardware's (each read back), set values, bounds and event masks to defaults, the module's ramp
// speeds, masks, filter and sample rate to defaults; then the module is stopped and told to
// store its set values, and the job waits until it reports them stored.
//
// A nominal value that cannot be read is never written: the job gives up instead. A channel whose
// control word or nominal value does not read back in time ends the channel passes (GaveUp with
// the reason as errorText()); the wait for the store still runs, so the module is not left in
// the middle of saving. A refused write is reported by refused() and the job goes on; it then
// ends with Refused.
class FactoryResetJob : public ServiceJob
{
    Q_OBJECT
public:
    FactoryResetJob(DeviceSession* session, BaseModule* module, QObject* parent = nullptr);

signals:
    // Channel `channel` has these nominal values now (what the dialog logs).
    void channelReset(
        int channel, float voltageNominal, const QString& voltageUnit, float currentNominal, const QString& currentUnit);

protected:
    void begin() override;

private:
    struct Nominals
    {
        float voltage = 0;
        float current = 0;
        QString voltageUnit, currentUnit;
    };

    // Reads the nominal values `channel` goes back to; false when they are no values a module
    // can hold (a failed read).
    static bool readNominals(BaseModule& module, int channel, bool keepNominals, Nominals* nominals);
    void firstPass(int channel);
    void secondPass(int channel);
    // Writes the channel's nominal voltage (then current) and waits until it reads back.
    void resetNominal(int channel, const Nominals& nominals, bool voltage);
    void writeChannelDefaults(int channel, const Nominals& nominals);
    void writeModuleDefaults();
    void storeSettings();
    void waitForStore();
    // Ends the channel passes with `text`; the store wait follows.
    void giveUp(const QString& text);
    void nominalsUnreadable(int channel);
    void advance(const QString& step);

    int m_channels = 0;
    bool m_keepNominals = false;
    int m_done = 0;
    QString m_gaveUp;
    bool m_refused = false;
};
