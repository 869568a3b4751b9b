#include "device/ChannelHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr float notRead = std::numeric_limits<float>::quiet_NaN();

qint64 periodStartOf(qint64 ms, qint64 periodMs)
{
    const qint64 start = ms / periodMs * periodMs;
    return start > ms ? start - periodMs : start; // floor for negative times as well
}
} // namespace

ChannelHistory::ChannelHistory(int channels)
    : m_channels(std::max(0, channels))
{
}

void ChannelHistory::append(qint64 atMs, const float* voltagesV, const float* currentsA)
{
    if (atMs <= m_newestMs)
        return;
    m_newestMs = atMs;
    m_sampleTimes.push_back(atMs);
    for (int channel = 0; channel < m_channels; ++channel) {
        m_sampleValues.push_back(voltagesV[channel]);
        m_sampleValues.push_back(currentsA[channel]);
    }
    foldOldest();
    dropBefore(atMs - keptForMs);
}

void ChannelHistory::foldOldest()
{
    const size_t stride = size_t(m_channels) * 2;
    while (!m_sampleTimes.empty()
        && (m_sampleTimes.front() < m_newestMs - fullRateForMs || m_sampleTimes.size() > size_t(maxFullRateSamples))) {
        const qint64 start = periodStartOf(m_sampleTimes.front(), foldedPeriodMs);
        if (m_open.count > 0 && m_open.startMs != start)
            closeOpenPeriod();
        if (m_open.count == 0)
            startPeriod(start);
        addToPeriod(0);
        m_sampleTimes.pop_front();
        m_sampleValues.erase(m_sampleValues.begin(), m_sampleValues.begin() + stride);
    }
}

void ChannelHistory::startPeriod(qint64 startMs)
{
    const size_t values = size_t(m_channels) * 2;
    m_open.startMs = startMs;
    m_open.count = 0;
    m_open.minimum.assign(values, std::numeric_limits<float>::infinity());
    m_open.maximum.assign(values, -std::numeric_limits<float>::infinity());
    m_open.sum.assign(values, 0.0);
    m_open.valid.assign(values, 0);
}

void ChannelHistory::addToPeriod(size_t sample)
{
    const size_t stride = size_t(m_channels) * 2;
    for (size_t i = 0; i < stride; ++i) {
        const float value = m_sampleValues[sample * stride + i];
        if (std::isnan(value))
            continue;
        m_open.minimum[i] = std::min(m_open.minimum[i], value);
        m_open.maximum[i] = std::max(m_open.maximum[i], value);
        m_open.sum[i] += value;
        ++m_open.valid[i];
    }
    ++m_open.count;
}

ChannelHistory::Point ChannelHistory::openPoint(int channel) const
{
    Point point;
    point.atMs = m_open.startMs;
    point.durationMs = foldedPeriodMs;
    const size_t v = size_t(channel) * 2;
    const size_t i = v + 1;
    const auto mean = [this](size_t k) { return m_open.valid[k] ? float(m_open.sum[k] / m_open.valid[k]) : notRead; };
    point.voltageMin = m_open.valid[v] ? m_open.minimum[v] : notRead;
    point.voltageMax = m_open.valid[v] ? m_open.maximum[v] : notRead;
    point.voltageMean = mean(v);
    point.currentMin = m_open.valid[i] ? m_open.minimum[i] : notRead;
    point.currentMax = m_open.valid[i] ? m_open.maximum[i] : notRead;
    point.currentMean = mean(i);
    return point;
}

void ChannelHistory::closeOpenPeriod()
{
    m_foldedStarts.push_back(m_open.startMs);
    for (int channel = 0; channel < m_channels; ++channel) {
        const Point point = openPoint(channel);
        for (float value :
            {point.voltageMin, point.voltageMax, point.voltageMean, point.currentMin, point.currentMax, point.currentMean})
            m_foldedValues.push_back(value);
    }
    m_open.count = 0;
}

void ChannelHistory::dropBefore(qint64 ms)
{
    const size_t foldedStride = size_t(m_channels) * foldedValuesPerChannel;
    while (!m_foldedStarts.empty() && m_foldedStarts.front() + foldedPeriodMs <= ms) {
        m_foldedStarts.pop_front();
        m_foldedValues.erase(m_foldedValues.begin(), m_foldedValues.begin() + foldedStride);
    }
    if (m_open.count > 0 && m_open.startMs + foldedPeriodMs <= ms)
        m_open.count = 0;
    const size_t stride = size_t(m_channels) * 2;
    while (!m_sampleTimes.empty() && m_sampleTimes.front() < ms) {
        m_sampleTimes.pop_front();
        m_sampleValues.erase(m_sampleValues.begin(), m_sampleValues.begin() + stride);
    }
}

qint64 ChannelHistory::oldestMs() const
{
    if (!m_foldedStarts.empty())
        return m_foldedStarts.front();
    if (m_open.count > 0)
        return m_open.startMs;
    return m_sampleTimes.empty() ? -1 : m_sampleTimes.front();
}

std::vector<ChannelHistory::Point> ChannelHistory::points(int channel, qint64 fromMs, qint64 toMs) const
{
    std::vector<Point> out;
    if (channel < 0 || channel >= m_channels || fromMs > toMs)
        return out;
    qint64 previousEndMs = std::numeric_limits<qint64>::min();
    const auto add = [&](const Point& point) {
        if (previousEndMs != std::numeric_limits<qint64>::min() && point.atMs - previousEndMs > gapAfterMs) {
            Point gap;
            gap.atMs = previousEndMs;
            gap.voltageMin = gap.voltageMax = gap.voltageMean = notRead;
            gap.currentMin = gap.currentMax = gap.currentMean = notRead;
            out.push_back(gap);
        }
        out.push_back(point);
        previousEndMs = point.atMs + point.durationMs;
    };

    const size_t foldedStride = size_t(m_channels) * foldedValuesPerChannel;
    const auto firstFolded = std::lower_bound(m_foldedStarts.begin(), m_foldedStarts.end(), fromMs - foldedPeriodMs + 1);
    for (auto it = firstFolded; it != m_foldedStarts.end() && *it <= toMs; ++it) {
        const size_t base = size_t(it - m_foldedStarts.begin()) * foldedStride + size_t(channel) * foldedValuesPerChannel;
        Point point;
        point.atMs = *it;
        point.durationMs = foldedPeriodMs;
        point.voltageMin = m_foldedValues[base];
        point.voltageMax = m_foldedValues[base + 1];
        point.voltageMean = m_foldedValues[base + 2];
        point.currentMin = m_foldedValues[base + 3];
        point.currentMax = m_foldedValues[base + 4];
        point.currentMean = m_foldedValues[base + 5];
        add(point);
    }
    if (m_open.count > 0 && m_open.startMs + foldedPeriodMs > fromMs && m_open.startMs <= toMs)
        add(openPoint(channel));

    const size_t stride = size_t(m_channels) * 2;
    const auto firstSample = std::lower_bound(m_sampleTimes.begin(), m_sampleTimes.end(), fromMs);
    out.reserve(out.size() + size_t(m_sampleTimes.end() - firstSample) + 16);
    for (auto it = firstSample; it != m_sampleTimes.end() && *it <= toMs; ++it) {
        const size_t base = size_t(it - m_sampleTimes.begin()) * stride + size_t(channel) * 2;
        Point point;
        point.atMs = *it;
        point.voltageMin = point.voltageMax = point.voltageMean = m_sampleValues[base];
        point.currentMin = point.currentMax = point.currentMean = m_sampleValues[base + 1];
        add(point);
    }
    return out;
}

size_t ChannelHistory::memoryBytes() const
{
    // std::deque keeps its elements in 512-byte blocks plus one map pointer per block.
    const auto dequeBytes = [](size_t count, size_t elementBytes) {
        const size_t bytes = count * elementBytes;
        return bytes + (bytes / 512 + 1) * sizeof(void*);
    };
    return sizeof(*this) + dequeBytes(m_sampleTimes.size(), sizeof(qint64))
        + dequeBytes(m_sampleValues.size(), sizeof(float)) + dequeBytes(m_foldedStarts.size(), sizeof(qint64))
        + dequeBytes(m_foldedValues.size(), sizeof(float))
        + m_open.minimum.capacity() * (2 * sizeof(float) + sizeof(double) + sizeof(int));
}
