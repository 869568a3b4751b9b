#pragma once

#include <QtGlobal>

#include <deque>
#include <vector>

// Measured voltage and current of every channel of one module over time, in volts and amperes
// on the ModuleSnapshot::nowMs() clock: every read of the last hour as it came (full rate),
// older reads folded into one point per 10 s with the minimum, maximum and mean of each
// quantity, nothing older than 24 h. Memory is bounded: at most maxFullRateSamples reads are
// kept at full rate (older ones are folded early) and at most one folded point per 10 s.
//
// A value that was not read is NaN: the channel has a gap there, never a zero. A stretch in
// which the module was not read at all (no read for more than gapAfterMs, or a 10 s period
// without a read) is a gap as well.
//
// Not thread-safe: one thread (the GUI thread) appends and asks.
class ChannelHistory
{
public:
    static constexpr qint64 fullRateForMs = 3600 * 1000;
    static constexpr qint64 foldedPeriodMs = 10 * 1000;
    static constexpr qint64 keptForMs = 24 * 3600 * 1000;
    // Ten reads a second for the hour; the window's refresh reads five.
    static constexpr int maxFullRateSamples = 36000;
    // Two reads further apart than this have a gap between them (the freshness time of a read).
    static constexpr qint64 gapAfterMs = 2000;

    // One point of one channel: a read (minimum = maximum = mean, durationMs 0) or a folded
    // period of durationMs starting at atMs. A gap point has NaN values.
    struct Point
    {
        qint64 atMs = 0;
        qint64 durationMs = 0;
        float voltageMin = 0, voltageMax = 0, voltageMean = 0;
        float currentMin = 0, currentMax = 0, currentMean = 0;
        bool isGap() const { return voltageMean != voltageMean && currentMean != currentMean; }
    };

    explicit ChannelHistory(int channels);

    int channelCount() const { return m_channels; }

    // One read of every channel: `voltagesV` and `currentsA` hold channelCount() values, NaN
    // where the read did not reach the channel. A read not later than the latest is ignored.
    void append(qint64 atMs, const float* voltagesV, const float* currentsA);

    // The points of `channel` that start within [fromMs, toMs], oldest first, with a gap point
    // (NaN, at the end of the earlier read) wherever the module was not read.
    std::vector<Point> points(int channel, qint64 fromMs, qint64 toMs) const;

    // The same points reduced for drawing `columns` pixel columns across [fromMs, toMs]: at most
    // one point per column and stretch of reads (minimum, maximum and mean of what falls into
    // it, atMs of its first point), with the gap points kept. Costs one pass over the span and
    // memory for the columns only.
    std::vector<Point> envelope(int channel, qint64 fromMs, qint64 toMs, int columns) const;

    // Drops everything before `ms` (reads before it, folded periods ending at or before it).
    void dropBefore(qint64 ms);

    bool isEmpty() const { return m_sampleTimes.empty() && m_foldedStarts.empty() && m_open.count == 0; }
    qint64 oldestMs() const;
    qint64 newestMs() const { return m_newestMs; }
    int fullRateCount() const { return int(m_sampleTimes.size()); }
    int foldedCount() const { return int(m_foldedStarts.size()) + (m_open.count ? 1 : 0); }
    // Bytes held by the stored values (container overhead included approximately).
    size_t memoryBytes() const;

private:
    // The period being folded: sums in double so the mean of 50 reads keeps float precision.
    struct Accumulator
    {
        qint64 startMs = 0;
        int count = 0;
        std::vector<float> minimum; // voltage, current per channel
        std::vector<float> maximum;
        std::vector<double> sum;
        std::vector<int> valid;
    };
    static constexpr int foldedValuesPerChannel = 6;

    // Calls visit(point) for every point of `channel` starting within [fromMs, toMs] and for
    // the gap points between them, oldest first.
    template <typename Visit>
    void visitPoints(int channel, qint64 fromMs, qint64 toMs, Visit&& visit) const;
    void foldOldest();
    void closeOpenPeriod();
    void startPeriod(qint64 startMs);
    void addToPeriod(size_t sample);
    Point openPoint(int channel) const;

    int m_channels;
    qint64 m_newestMs = -1;
    // Full rate: one time per read, 2 values (voltage, current) per channel per read.
    std::deque<qint64> m_sampleTimes;
    std::deque<float> m_sampleValues;
    // Folded: one start per period, 6 values (voltage min, max, mean, current min, max, mean)
    // per channel per period.
    std::deque<qint64> m_foldedStarts;
    std::deque<float> m_foldedValues;
    Accumulator m_open;
};
