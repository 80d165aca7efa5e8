#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "director/recording_timing.hpp"

namespace velk {
namespace {

// A sample received at t4 with round trip rtt and offset: the camera answers instantly in its clock.
void sample(DirectorClockEstimate& estimate, double t4, double rtt, double offset) {
    const double t1 = t4 - rtt;
    const double t2 = t1 + rtt / 2 + offset;
    estimate.observe(t1, t2, t2, t4);
}

TEST(ClockEstimate, StartsEmpty) {
    const DirectorClockEstimate estimate;
    EXPECT_EQ(estimate.offset, 0);
    EXPECT_TRUE(std::isinf(estimate.rtt) && estimate.rtt > 0);
    EXPECT_EQ(estimate.samples, 0);
    EXPECT_TRUE(std::isinf(estimate.updated) && estimate.updated < 0);
    EXPECT_FALSE(estimate.usable(0));
}

TEST(ClockEstimate, FirstSlowSampleIsKeptButNotUsable) {
    DirectorClockEstimate estimate;
    sample(estimate, 1000, 400, 250);
    EXPECT_EQ(estimate.samples, 1);
    EXPECT_EQ(estimate.offset, 250);
    EXPECT_EQ(estimate.rtt, 400);
    EXPECT_FALSE(estimate.usable(1000));
}

TEST(ClockEstimate, ThreeGoodSamplesAreUsableFor12000ms) {
    DirectorClockEstimate estimate;
    sample(estimate, 1000, 100, 10);
    sample(estimate, 2000, 120, 20);
    sample(estimate, 3000, 90, 30);
    EXPECT_EQ(estimate.samples, 3);
    EXPECT_EQ(estimate.rtt, 90);
    EXPECT_EQ(estimate.offset, 30);
    EXPECT_TRUE(estimate.usable(3000));
    EXPECT_TRUE(estimate.usable(15000));
    EXPECT_FALSE(estimate.usable(15001));
    EXPECT_FALSE(estimate.usable(2999)); // before the last sample
}

TEST(ClockEstimate, UsableNeedsRoundTripOfAtMost150) {
    DirectorClockEstimate estimate;
    for (double t : {1000.0, 2000.0, 3000.0}) sample(estimate, t, 151, 0);
    EXPECT_FALSE(estimate.usable(3000));
    sample(estimate, 4000, 150, 0);
    EXPECT_TRUE(estimate.usable(4000));
}

TEST(ClockEstimate, RefusesBrokenSamples) {
    struct Case { double t1, t2, t3, t4; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {100, 50, 40, 200},          // t3 < t2
        {100, 50, 50, 99},           // t4 < t1
        {-1, 50, 50, 200},           // negative
        {100, 50, 50, inf},          // infinite
        {100, std::nan(""), 60, 200},
        {0, 10, 10, 500.5},          // round trip 500.5
    };
    for (const Case& c : cases) {
        DirectorClockEstimate estimate;
        estimate.observe(c.t1, c.t2, c.t3, c.t4);
        EXPECT_EQ(estimate, DirectorClockEstimate()) << c.t1 << " " << c.t2 << " " << c.t3 << " " << c.t4;
    }
}

TEST(ClockEstimate, RoundTripsOf0And500AreAcceptedAndNegativeZeroToo) {
    DirectorClockEstimate estimate;
    estimate.observe(0, 10, 10, 500);
    EXPECT_EQ(estimate.samples, 1);
    EXPECT_EQ(estimate.rtt, 500);
    estimate.observe(1000, 7, 7, 1000);
    EXPECT_EQ(estimate.samples, 2);
    EXPECT_EQ(estimate.rtt, 0);
    EXPECT_EQ(estimate.offset, -993);
    DirectorClockEstimate fresh;
    fresh.observe(-0.0, 5, 5, 0);
    EXPECT_EQ(fresh.samples, 1);
    DirectorClockEstimate slow;
    slow.observe(0, 10, 10, 501);
    EXPECT_EQ(slow.samples, 0);
}

TEST(ClockEstimate, SlowerSampleReplacesOffsetOnlyAfter6000ms) {
    DirectorClockEstimate keep;
    sample(keep, 1000, 50, 5);
    sample(keep, 6999, 80, 99);
    EXPECT_EQ(keep.offset, 5);
    EXPECT_EQ(keep.rtt, 50);
    EXPECT_EQ(keep.samples, 2);
    EXPECT_EQ(keep.updated, 6999);

    DirectorClockEstimate replace;
    sample(replace, 1000, 50, 5);
    sample(replace, 7001, 80, 99);
    EXPECT_EQ(replace.offset, 99);
    EXPECT_EQ(replace.rtt, 80);
    EXPECT_EQ(replace.bestAt, 7001);
}

TEST(ClockEstimate, SampleCountStopsAt20) {
    DirectorClockEstimate estimate;
    for (int i = 0; i < 25; ++i) sample(estimate, 1000 + i * 100.0, 20, 0);
    EXPECT_EQ(estimate.samples, 20);
}

TEST(ClockEstimate, GapOver12000msStartsANewRun) {
    DirectorClockEstimate estimate;
    for (int i = 0; i < 5; ++i) sample(estimate, 1000 + i * 1000.0, 10, 1);
    sample(estimate, 5000 + 12000, 300, 77); // exactly 12000: same run, slower sample kept out
    EXPECT_EQ(estimate.samples, 6);
    EXPECT_EQ(estimate.offset, 77); // older than 6000 ms, so it is replaced anyway
    DirectorClockEstimate gap;
    for (int i = 0; i < 5; ++i) sample(gap, 1000 + i * 1000.0, 10, 1);
    sample(gap, 5000 + 12001, 400, 42);
    EXPECT_EQ(gap.samples, 1);
    EXPECT_EQ(gap.offset, 42);
    EXPECT_EQ(gap.rtt, 400);
}

TEST(ClockEstimate, OffsetIsHalfTheSumOfTheTwoLegs) {
    DirectorClockEstimate estimate;
    // forward leg 30 ms, back leg 10 ms, camera 5000 ms ahead, 2 ms in the camera.
    estimate.observe(1000, 1000 + 30 + 5000, 1000 + 30 + 5000 + 2, 1000 + 30 + 2 + 10);
    EXPECT_EQ(estimate.rtt, 40);
    EXPECT_EQ(estimate.offset, 5010); // off by half the asymmetry
}

TEST(RecordingTimingConstants, HoldTheirValues) {
    EXPECT_EQ(RecordingTiming::directorPrepare, 12000);
    EXPECT_EQ(RecordingTiming::reservation, 30000);
    EXPECT_EQ(RecordingTiming::startLead, 2500);
    EXPECT_EQ(RecordingTiming::startACK, 1200);
    EXPECT_EQ(RecordingTiming::stopRetries, (std::array<double, 4>{250, 600, 1200, 2200}));
    EXPECT_EQ(RecordingTiming::stopACK, 3500);
}

} // namespace
} // namespace velk
