#include "base/clock.hpp"

#include <limits>

#include <gtest/gtest.h>

namespace velk {
namespace {

using std::chrono::milliseconds;

TEST(WallMilliseconds, ConvertBothWaysRoundingDownAndSaturating) {
    for (std::int64_t ms : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{1777638600250}, std::int64_t{-8520336000000}})
        EXPECT_EQ(toWallMs(fromWallMs(ms)), ms) << ms;
    // Sub-millisecond parts round towards the past, also before 1970.
    EXPECT_EQ(toWallMs(WallTime(std::chrono::microseconds(1500))), 1);
    EXPECT_EQ(toWallMs(WallTime(std::chrono::microseconds(-1500))), -2);
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
