#pragma once

#include <QtGlobal>

// The age rules of every value the windows show, in one place: a value read less than
// ageingAfterMs ago is shown plain; an older one is still the latest reading but visibly not
// current (grey); one older than staleAfterMs, or never read, is no reading any more and is not
// shown ("---", bits unknown, their Set buttons off). Times are on ModuleSnapshot::nowMs()'s
// clock; -1 means never read.
enum class Freshness { Fresh, Ageing, Stale };

struct FreshnessRules
{
    static constexpr qint64 ageingAfterMs = 600;
    static constexpr qint64 staleAfterMs = 2000;

    static constexpr Freshness of(qint64 readAtMs, qint64 nowMs)
    {
        if (readAtMs < 0 || nowMs - readAtMs > staleAfterMs)
            return Freshness::Stale;
        return nowMs - readAtMs > ageingAfterMs ? Freshness::Ageing : Freshness::Fresh;
    }
    // The older of two: a value made of both is no fresher than either.
    static constexpr Freshness older(Freshness a, Freshness b) { return a > b ? a : b; }
};
