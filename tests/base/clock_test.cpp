#include "base/clock.hpp"

#include <limits>
#include <utility>

#include <gtest/gtest.h>

namespace velk {
namespace {

using std::chrono::milliseconds;

TEST(WallMilliseconds, ConvertBothWaysCuttingTowardZeroAndSaturating) {
    for (std::int64_t ms : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{1777638600250}, std::int64_t{-8520336000000}})
        EXPECT_EQ(toWallMs(fromWallMs(ms)), ms) << ms;
    // A part of a millisecond is cut off toward zero, on both sides of 1970.
    const std::pair<std::chrono::nanoseconds, std::int64_t> cut[] = {
        {std::chrono::microseconds(1500), 1},     {std::chrono::microseconds(-1500), -1},
        {std::chrono::nanoseconds(999'999), 0},   {std::chrono::nanoseconds(-999'999), 0},
        {std::chrono::nanoseconds(-1'000'001), -1}, {std::chrono::milliseconds(-2), -2},
    };
    for (const auto& [sinceEpoch, ms] : cut) {
        EXPECT_EQ(toWallMs(WallTime(std::chrono::duration_cast<WallTime::duration>(sinceEpoch))), ms)
            << sinceEpoch.count() << " ns";
    }
    EXPECT_EQ(fromWallMs(std::numeric_limits<std::int64_t>::max()), WallTime::max());
    EXPECT_EQ(fromWallMs(std::numeric_limits<std::int64_t>::min()), WallTime::min());
    EXPECT_EQ(fromWallMs(9'300'000'000'000'000), WallTime::max());
}

TEST(SystemTime, MonotonicNeverGoesBackAndWallIsNear) {
    double previous = monotonicNowMs();
    for (int i = 0; i < 1000; ++i) {
        double now = monotonicNowMs();
        EXPECT_GE(now, previous);
        previous = now;
    }
    EXPECT_GT(previous, 0.0);
    EXPECT_GT(wallNowMs(), 1'700'000'000'000); // after November 2023
    EXPECT_EQ(&SystemClock::shared(), &SystemClock::shared());
    EXPECT_GE(SystemClock::shared().monotonicMs(), previous);
}

TEST(ManualTime, MovesOnlyWhenTold) {
    ManualClock clock(fromWallMs(1000), 50);
    EXPECT_EQ(toWallMs(clock.now()), 1000);
    EXPECT_EQ(clock.monotonicMs(), 50);
    clock.advanceMs(2.5);
    EXPECT_EQ(clock.monotonicMs(), 52.5);
    EXPECT_EQ(clock.now().time_since_epoch(), milliseconds(1000) + std::chrono::microseconds(2500));
    clock.setWall(fromWallMs(5));
    clock.setMonotonicMs(7);
    EXPECT_EQ(toWallMs(clock.now()), 5);
    EXPECT_EQ(clock.monotonicMs(), 7);
}

} // namespace
} // namespace velk
