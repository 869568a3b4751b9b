#pragma once

#include "profiles/ModuleProfile.h"
#include "service/ServiceJob.h"

#include <QVector>

// Writes a profile into a module the guarded way, as a job: stop mode first, then the channels'
// control words and nominal values (written twice, the second time read back until they match),
// the module values, the remaining channel values, and finally the module's request to store its
// set values in its own memory, after which stop mode is released.
//
// Before anything is sent, every voltage and current is checked against the channels' hardware
// nominal values, read now (BaseModule::readHardwareNominals(), as many channels per step as the
// module reads together); a value above them, or a nominal that cannot be read, ends the job
// with nothing written. Read-backs and the store's progress count only reads the module
// answered; the nominal values compare within the float round trip.
//
// Each step is a bounded batch on the device side (one channel's reads or writes, the module
// values, one poll); the polls are paced by the job's timer (pollWaitMs() apart), never by a
// sleep. Every write is checked: one the module refuses ends the job with the reason in the log.
// After an error or a kill() the module is left where the procedure stood (in stop mode with the
// values written so far, or with the stop request of the first step), and the log says so.
//
// When the module does not acknowledge the store request, retryRequested() asks whoever started
// the job; answerRetry() carries the answer back (with nobody connected the answer is No).
class ProfileWriteJob : public ServiceJob
{
    Q_OBJECT
public:
    enum Error {
        HardwareNominalNotRead = 100, // nothing written: the values could not be checked
        AboveHardwareNominal,         // nothing written: a value exceeds what the channel can do
        StopModeNotReached,
        ChannelNotConfirmed, // a control word or nominal value never read back
        WriteRefused,
        SaveNotAcknowledged, // the operator gave up retrying the store request
        SaveNotFinished,     // acknowledged, but the module never reported the store finished
    };
    Q_ENUM(Error)

    // Poll counts (numbers of attempts, not times).
    static constexpr int stopModePolls = 2000;
    static constexpr int channelReadBackPolls = 200;
    static constexpr int saveAcknowledgePolls = 500;
    static constexpr int saveFinishPolls = 5000;

    // `profile` must be in the module's display units and hold the module's channels.
    ProfileWriteJob(DeviceSession* session, BaseModule* module, const ModuleProfile& profile, QObject* parent = nullptr);

    // The wait between two polls of the module (1 ms unless set).
    void setPollWaitMs(int ms) { m_pollWaitMs = ms; }
    int pollWaitMs() const { return m_pollWaitMs; }

    // The answer to retryRequested(): true sends the store request again, false ends the job.
    // Ignored unless the job waits for it.
    void answerRetry(bool retry);

signals:
    // One line for the write-profile log.
    void logLine(const QString& line);
    // A Yes/No question for the operator (No the safe default); answer with answerRetry().
    void retryRequested(const QString& question);

protected:
    void begin() override;

private:
    void checkChannel(int channel);
    void checkProfile();
    void requestStopMode();
    void pollStopMode(int polls);
    void firstPass(int channel);
    void writeModuleValues();
    void writeChannel(int channel);
    void writeChannelValues(int channel);
    // Reads back with `probe` up to `polls` times, pollWaitMs() apart, then `next`; at the end of
    // the polls the job ends with the probe's failure text. `debugLine` takes the remaining count.
    struct Check
    {
        bool matched = false;
        QString failure; // the message should this be the last poll
    };
    using Probe = std::function<Check(BaseModule& module)>;
    void confirm(const QString& debugLine, int polls, Probe probe, Continuation next);
    void requestStore();
    void pollStore(bool untilSet, int polls);
    void storeAcknowledged(bool acknowledged);
    void storeFinished(bool finished);
    void releaseStopMode();

    // What a step returns after the module refused the write `what`.
    Continuation refusal(const QString& what, const QString& reason);
    void fail(int error, const QString& message);
    void reportEnd();
    void advance(const QString& step);

    ModuleProfile m_profile;
    int m_channels = 0;
    QString m_voltageUnit;
    QString m_currentUnit;
    QVector<float> m_voltageHardwareNominal;
    QVector<float> m_currentHardwareNominal;
    quint32 m_working = 0; // the module control word the store request is built on
    bool m_sent = false;   // something was sent to the module
    bool m_waitingForAnswer = false;
    int m_pollWaitMs = 1;
    int m_done = 0;
};
