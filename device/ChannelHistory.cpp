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

template <typename Visit>
void ChannelHistory::visitPoints(int channel, qint64 fromMs, qint64 toMs, Visit&& visit) const
{
    if (channel < 0 || channel >= m_channels || fromMs > toMs)
        return;
    qint64 previousEndMs = std::numeric_limits<qint64>::min();
    const auto add = [&](const Point& point) {
        if (previousEndMs != std::numeric_limits<qint64>::min() && point.atMs - previousEndMs > gapAfterMs) {
            Point gap;
            gap.atMs = previousEndMs;
            gap.voltageMin = gap.voltageMax = gap.voltageMean = notRead;
            gap.currentMin = gap.currentMax = gap.currentMean = notRead;
            visit(gap);
        }
        visit(point);
        previousEndMs = point.atMs + point.durationMs;
    };

    const size_t foldedStride = size_t(m_channels) * foldedValuesPerChannel;
    auto start = std::lower_bound(m_foldedStarts.begin(), m_foldedStarts.end(), fromMs - foldedPeriodMs + 1);
    if (start != m_foldedStarts.end() && *start <= toMs) {
        // Walked with iterators: indexing a deque costs a division per access.
        auto value = m_foldedValues.begin() + ptrdiff_t(size_t(start - m_foldedStarts.begin()) * foldedStride)
            + channel * foldedValuesPerChannel;
        for (auto it = start; it != m_foldedStarts.end() && *it <= toMs; ++it) {
            Point point;
            point.atMs = *it;
            point.durationMs = foldedPeriodMs;
            point.voltageMin = value[0];
            point.voltageMax = value[1];
            point.voltageMean = value[2];
            point.currentMin = value[3];
            point.currentMax = value[4];
            point.currentMean = value[5];
            add(point);
            if (it + 1 != m_foldedStarts.end())
                value += ptrdiff_t(foldedStride);
        }
    }
    if (m_open.count > 0 && m_open.startMs + foldedPeriodMs > fromMs && m_open.startMs <= toMs)
        add(openPoint(channel));

    const size_t stride = size_t(m_channels) * 2;
    const auto first = std::lower_bound(m_sampleTimes.begin(), m_sampleTimes.end(), fromMs);
    if (first == m_sampleTimes.end() || *first > toMs)
        return;
    auto value = m_sampleValues.begin() + ptrdiff_t(size_t(first - m_sampleTimes.begin()) * stride) + channel * 2;
    for (auto it = first; it != m_sampleTimes.end() && *it <= toMs; ++it) {
        Point point;
        point.atMs = *it;
        point.voltageMin = point.voltageMax = point.voltageMean = value[0];
        point.currentMin = point.currentMax = point.currentMean = value[1];
        add(point);
        if (it + 1 != m_sampleTimes.end())
            value += ptrdiff_t(stride);
    }
}

std::vector<ChannelHistory::Point> ChannelHistory::points(int channel, qint64 fromMs, qint64 toMs) const
{
    std::vector<Point> out;
    visitPoints(channel, fromMs, toMs, [&out](const Point& point) { out.push_back(point); });
    return out;
}

std::vector<ChannelHistory::Point> ChannelHistory::envelope(int channel, qint64 fromMs, qint64 toMs, int columns) const
{
    std::vector<Point> out;
    const qint64 spanMs = std::max<qint64>(1, toMs - fromMs);
    columns = std::max(1, columns);
    int column = -1;
    Point current;
    double voltageSum = 0;
    double currentSum = 0;
    int voltageCount = 0;
    int currentCount = 0;
    const auto close = [&] {
        if (column < 0)
            return;
        current.voltageMean = voltageCount ? float(voltageSum / voltageCount) : notRead;
        current.currentMean = currentCount ? float(currentSum / currentCount) : notRead;
        out.push_back(current);
        column = -1;
    };
    // Extends a column's minimum and maximum by one value; NaN stays out of both.
    const auto widen = [](float& low, float& high, float lowValue, float highValue) {
        if (std::isnan(lowValue))
            return;
        low = std::isnan(low) ? lowValue : std::min(low, lowValue);
        high = std::isnan(high) ? highValue : std::max(high, highValue);
    };
    visitPoints(channel, fromMs, toMs, [&](const Point& point) {
        if (point.isGap()) {
            close();
            out.push_back(point);
            return;
        }
        const qint64 middleMs = point.atMs + point.durationMs / 2;
        const int at = int(std::clamp<qint64>((middleMs - fromMs) * columns / spanMs, 0, columns - 1));
        if (at != column) {
            close();
            column = at;
            current = Point();
            current.atMs = point.atMs;
            current.voltageMin = current.voltageMax = current.currentMin = current.currentMax = notRead;
            voltageSum = currentSum = 0;
            voltageCount = currentCount = 0;
        }
        current.durationMs = point.atMs + point.durationMs - current.atMs;
        widen(current.voltageMin, current.voltageMax, point.voltageMin, point.voltageMax);
        widen(current.currentMin, current.currentMax, point.currentMin, point.currentMax);
        if (!std::isnan(point.voltageMean)) {
            voltageSum += point.voltageMean;
            ++voltageCount;
        }
        if (!std::isnan(point.currentMean)) {
            currentSum += point.currentMean;
            ++currentCount;
        }
    });
    close();
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
