#include "base/clock.hpp"

#include <ctime>

namespace velk {

double monotonicNowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1'000'000.0;
}

std::int64_t wallNowMs() { return toWallMs(std::chrono::system_clock::now()); }

// A part of a millisecond is cut off toward zero, before 1970 too, as the wire formats count them.
std::int64_t toWallMs(WallTime time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// Milliseconds arrive from the network too; values beyond the clock's range (a few centuries either
// side of 1970) saturate instead of overflowing.
WallTime fromWallMs(std::int64_t ms) {
    using std::chrono::milliseconds;
    constexpr auto maxMs = std::chrono::duration_cast<milliseconds>(WallTime::duration::max()).count();
    constexpr auto minMs = std::chrono::duration_cast<milliseconds>(WallTime::duration::min()).count();
    if (ms >= maxMs) return WallTime::max();
    if (ms <= minMs) return WallTime::min();
    return WallTime(std::chrono::duration_cast<WallTime::duration>(milliseconds(ms)));
}

const SystemClock& SystemClock::shared() {
    static const SystemClock clock;
    return clock;
}

} // namespace velk
