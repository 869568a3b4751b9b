#pragma once

#include "service/ServiceJob.h"

// Writes a channel's voltage and current bounds. The channel control word says which bounds are
// asymmetric, and the module takes a lower bound only once its word shows that: first the two
// bounds bits change (the rest of the word is the module's own, read fresh in the same
// operation; a word that cannot be read is not written back), then the word is read back until
// it shows them, up to controlReadBackReads times controlReadBackWaitMs apart, and only then are
// the bounds written (the upper ones always, a lower one only when asymmetric).
//
// Refused when the bits were refused (nothing more is sent) or a bound was refused (the others
// are still written; refused() names each). GaveUp when the word never showed the bits, with
// "Error setting Channel N Control word. Giving up." as its text; no bound is written then.
class ChannelBoundsJob : public ServiceJob
{
    Q_OBJECT
public:
    struct Bounds
    {
        bool asymmetricVoltage = false;
        float voltageMax = 0.0f;
        float voltageMin = 0.0f;
        bool asymmetricCurrent = false;
        float currentMax = 0.0f;
        float currentMin = 0.0f;
    };

    // The control word usually shows new bits within a few reads; these bound the wait to about
    // a quarter of a second plus the reads themselves.
    static constexpr int controlReadBackReads = 50;
    static constexpr int controlReadBackWaitMs = 5;

    // `source` names the writes in the write journal ("tool window").
    ChannelBoundsJob(DeviceSession* session, BaseModule* module, int channel, const Bounds& bounds, const QString& source,
        QObject* parent = nullptr);

    int channel() const { return m_channel; }

protected:
    void begin() override;

private:
    void writeBounds();

    int m_channel;
    Bounds m_bounds;
    bool m_refused = false;
};
