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

TEST(ClockEstimate, SampleAdmission) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { const char* what; double t1, t2, t3, t4; bool accepted; double rtt; };
    const Case cases[] = {
        {"round trip 0", 1000, 7, 7, 1000, true, 0},
        {"round trip 500", 0, 10, 10, 500, true, 500},
        {"round trip 500.5", 0, 10, 10, 500.5, false, 0},
        {"round trip 501", 0, 10, 10, 501, false, 0},
        {"negative zero", -0.0, 5, 5, 0, true, 0},
        {"t3 before t2", 100, 50, 40, 200, false, 0},
        {"t4 before t1", 100, 50, 50, 99, false, 0},
        {"negative time", -1, 50, 50, 200, false, 0},
        {"infinite time", 100, 50, 50, inf, false, 0},
        {"not a number", 100, std::nan(""), 60, 200, false, 0},
    };
    for (const Case& c : cases) {
        DirectorClockEstimate estimate;
        estimate.observe(c.t1, c.t2, c.t3, c.t4);
        DirectorClockEstimate expected;
        if (c.accepted) expected = {.offset = estimate.offset, .rtt = c.rtt, .samples = 1, .updated = c.t4, .bestAt = c.t4};
        EXPECT_EQ(estimate, expected) << c.what;
    }
    DirectorClockEstimate legs; // forward 30 ms, back 10 ms, camera 5000 ms ahead, 2 ms inside it
    legs.observe(1000, 6030, 6032, 1042);
    EXPECT_EQ(legs.rtt, 40);
    EXPECT_EQ(legs.offset, 5010); // off by half the asymmetry
}

TEST(ClockEstimate, UsableAfterThreeFastSamplesFor12000ms) {
    DirectorClockEstimate estimate;
    EXPECT_FALSE(estimate.usable(0));
    sample(estimate, 1000, 400, 250); // a slow first sample is kept but not usable
    EXPECT_EQ(estimate.offset, 250);
    EXPECT_FALSE(estimate.usable(1000));
    sample(estimate, 2000, 151, 20);
    sample(estimate, 3000, 151, 30);
    EXPECT_EQ(estimate.samples, 3);
    EXPECT_FALSE(estimate.usable(3000)); // round trip 151
    sample(estimate, 4000, 150, 40);
    EXPECT_EQ(estimate.offset, 40);
    EXPECT_TRUE(estimate.usable(4000));
    EXPECT_TRUE(estimate.usable(16000));
    EXPECT_FALSE(estimate.usable(16001));
    EXPECT_FALSE(estimate.usable(3999)); // before the last sample
}

TEST(ClockEstimate, SlowerSamplesRefreshAfter6000msAndRunsResetAfter12000ms) {
    DirectorClockEstimate estimate;
    sample(estimate, 1000, 50, 5);
    sample(estimate, 6999, 80, 99);
    EXPECT_EQ(estimate.offset, 5);
    EXPECT_EQ(estimate.rtt, 50);
    EXPECT_EQ(estimate.updated, 6999);
    sample(estimate, 7001, 80, 99);
    EXPECT_EQ(estimate.offset, 99);
    EXPECT_EQ(estimate.bestAt, 7001);

    for (int i = 0; i < 25; ++i) sample(estimate, 8000 + i * 100.0, 20, 1);
    EXPECT_EQ(estimate.samples, 20);
    sample(estimate, 10400 + 12000, 300, 77); // exactly 12000 ms later: the same run
    EXPECT_EQ(estimate.samples, 20);
    EXPECT_EQ(estimate.offset, 77); // the kept sample is older than 6000 ms
    sample(estimate, 22400 + 12001, 400, 42);
    EXPECT_EQ(estimate.samples, 1);
    EXPECT_EQ(estimate.offset, 42);
    EXPECT_EQ(estimate.rtt, 400);
}

} // namespace
} // namespace velk
