#include "director/recording_timing.hpp"

#include <algorithm>
#include <cmath>

namespace velk {

namespace {

bool usableTime(double value) { return std::isfinite(value) && value >= 0; }

} // namespace

void DirectorClockEstimate::observe(double t1, double t2, double t3, double t4) {
    if (!usableTime(t1) || !usableTime(t2) || !usableTime(t3) || !usableTime(t4)) return;
    if (t4 < t1 || t3 < t2) return;
    const double sampleRTT = (t4 - t1) - (t3 - t2);
    if (!(sampleRTT >= 0 && sampleRTT <= maximumSampleRTT)) return;

    if (t4 - updated > runGap) {
        samples = 0;
        rtt = std::numeric_limits<double>::infinity();
    }
    samples = std::min(samples + 1, maximumSamples);
    if (sampleRTT <= rtt || t4 - bestAt > bestSampleRefresh) {
        offset = ((t2 - t1) + (t3 - t4)) * 0.5;
        rtt = sampleRTT;
        bestAt = t4;
    }
    updated = t4;
}

bool DirectorClockEstimate::usable(double now) const {
    return samples >= usableSamples && rtt <= usableRTT && now >= updated && now - updated <= usableAge;
}

} // namespace velk
