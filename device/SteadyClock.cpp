#include "device/SteadyClock.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<qint64> s_offsetMs{0};
}

qint64 SteadyClock::nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()
        + s_offsetMs.load(std::memory_order_relaxed);
}

void SteadyClock::advanceMs(qint64 ms)
{
    s_offsetMs.fetch_add(ms, std::memory_order_relaxed);
}
