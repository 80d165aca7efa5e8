#include "export/drift_engine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace velk {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Anchors on reference = offset + rate × source at the given source times.
std::vector<TimingAnchor> onLine(std::vector<double> sources, double rate, double offset,
                                 double uncertaintyMs = 1.0, double confidence = 0.95) {
    std::vector<TimingAnchor> anchors;
    for (double source : sources) anchors.push_back({source, offset + rate * source, confidence, uncertaintyMs});
    return anchors;
}

std::string fitFailure(const std::vector<TimingAnchor>& anchors, double duration) {
    try {
        DriftEngine::fit(anchors, duration);
    } catch (const DriftExportError& error) {
        EXPECT_EQ(error.errorCase(), DriftExportError::Case::invalid);
        return error.what();
    }
    return "accepted";
}

const std::vector<double> kSpread = {5, 27.5, 50, 72.5, 95};

TEST(TimingFitDurationAndCount, FailBeforeAnyAnchorIsLookedAt) {
    const std::string sentence = "Need a positive duration and at least five verified anchors.";
    auto four = onLine({5, 35, 65, 95}, 1, 2);
    EXPECT_EQ(fitFailure(four, 100), sentence);
    // Broken anchors do not matter when the count or duration already fails.
    auto broken = onLine(kSpread, 1, 2);
    broken[0].confidence = kNaN;
    for (double duration : {0.0, -0.0, -5.0, kInfinity, kNaN}) {
        EXPECT_EQ(fitFailure(broken, duration), sentence) << duration;
    }
}

TEST(TimingFitAnchorLimits, BoundariesPassAndValuesBeyondThemFail) {
    const std::string outside = "An anchor is outside the accepted media range or confidence limits.";
    struct Case { const char* what; void (*change)(TimingAnchor&); bool accepted; };
    const Case cases[] = {
        {"confidence 0.8", [](TimingAnchor& a) { a.confidence = 0.8; }, true},
        {"confidence 1.0", [](TimingAnchor& a) { a.confidence = 1.0; }, true},
        {"uncertainty 5.0", [](TimingAnchor& a) { a.uncertaintyMs = 5.0; }, true},
        {"confidence 0.79", [](TimingAnchor& a) { a.confidence = 0.79; }, false},
        {"confidence 1.01", [](TimingAnchor& a) { a.confidence = 1.01; }, false},
        {"uncertainty 0", [](TimingAnchor& a) { a.uncertaintyMs = 0; }, false},
        {"uncertainty 5.01", [](TimingAnchor& a) { a.uncertaintyMs = 5.01; }, false},
        {"uncertainty NaN", [](TimingAnchor& a) { a.uncertaintyMs = kNaN; }, false},
        {"reference infinite", [](TimingAnchor& a) { a.referenceSeconds = kInfinity; }, false},
    };
    for (const Case& c : cases) {
        auto anchors = onLine(kSpread, 1, 2);
        c.change(anchors[2]);
        EXPECT_EQ(fitFailure(anchors, 100) == "accepted", c.accepted) << c.what << ": " << fitFailure(anchors, 100);
        if (!c.accepted) {
            EXPECT_EQ(fitFailure(anchors, 100), outside) << c.what;
        }
    }

    auto atEnd = onLine({5, 27.5, 50, 72.5, 100}, 1, 2);
    EXPECT_EQ(fitFailure(atEnd, 100), "accepted");
    auto beyondEnd = onLine({5, 27.5, 50, 72.5, 100.5}, 1, 2);
    EXPECT_EQ(fitFailure(beyondEnd, 100), outside);
    auto negativeReference = onLine(kSpread, 1, -6);
    EXPECT_EQ(fitFailure(negativeReference, 100), outside);
}

TEST(TimingFitOrder, RepeatedOrFallingTimesFail) {
    const std::string sentence = "Anchors must be strictly increasing in both media timelines.";
    auto sameSource = onLine({5, 27.5, 50, 50, 95}, 1, 2);
    EXPECT_EQ(fitFailure(sameSource, 100), sentence);
    auto flatReference = onLine(kSpread, 1, 2);
    flatReference[3].referenceSeconds = flatReference[2].referenceSeconds;
    EXPECT_EQ(fitFailure(flatReference, 100), sentence);
}

TEST(TimingFitCoverage, GapsAndEndsAtTheirBoundaries) {
    const std::string gap = "Anchors leave too much of the middle of the take unverified.";
    const std::string ends = "Anchors must cover the beginning and end of the take.";
    EXPECT_EQ(fitFailure(onLine({5, 40, 75, 90, 95}, 1, 2), 100), "accepted");
    EXPECT_EQ(fitFailure(onLine({5, 41, 77, 90, 95}, 1, 2), 100), gap);
    EXPECT_EQ(fitFailure(onLine({10, 30, 50, 70, 90}, 1, 2), 100), "accepted");
    EXPECT_EQ(fitFailure(onLine({10.5, 30, 50, 70, 90}, 1, 2), 100), ends);
    EXPECT_EQ(fitFailure(onLine({10, 30, 50, 70, 89.5}, 1, 2), 100), ends);
    // The gap rule comes before the coverage rule.
    EXPECT_EQ(fitFailure(onLine({20, 21, 22, 23, 95}, 1, 2), 100), gap);
}

TEST(TimingFitResult, ShiftOnlyClipGetsTheExactOffset) {
    auto correction = DriftEngine::fit(onLine(kSpread, 1, 2.0), 100);
    EXPECT_NEAR(correction.offsetSeconds, 2.0, 1e-12);
    EXPECT_EQ(correction.referenceSecondsPerSourceSecond, 1.0);
    EXPECT_EQ(correction.driftPPM, 0.0);
    EXPECT_NEAR(correction.maxResidualMs, 0, 1e-9);
    EXPECT_NEAR(correction.endpointUncertaintyMs, 2.0, 1e-9);
    EXPECT_FALSE(correction.retime);
}

TEST(TimingFitResult, LongClipWithDriftIsRetimed) {
    auto correction = DriftEngine::fit(onLine({10, 150, 300, 450, 590}, 1.0005, 1.0), 600);
    EXPECT_TRUE(correction.retime);
    EXPECT_NEAR(correction.referenceSecondsPerSourceSecond, 1.0005, 1e-12);
    EXPECT_NEAR(correction.offsetSeconds, 1.0, 1e-9);
    EXPECT_NEAR(correction.driftPPM, 500, 1e-6);
    EXPECT_NEAR(correction.endpointUncertaintyMs, 2.0, 1e-6);
}

TEST(TimingFitResult, ShortClipWithSmallDriftIsOnlyShiftedByTheWeightedMean) {
    const auto anchors = onLine({0.5, 3, 5, 7, 9.5}, 1.0005, 0, 2.0);
    auto correction = DriftEngine::fit(anchors, 10);
    EXPECT_FALSE(correction.retime);
    EXPECT_EQ(correction.referenceSecondsPerSourceSecond, 1.0);
    EXPECT_EQ(correction.driftPPM, 0.0);
    double mean = 0;
    for (const auto& a : anchors) mean += a.referenceSeconds - a.sourceSeconds;
    mean /= static_cast<double>(anchors.size()); // equal weights
    EXPECT_NEAR(correction.offsetSeconds, mean, 1e-12);
    EXPECT_GT(correction.offsetSeconds, 0.0);
}

TEST(TimingFitResult, ExcessiveDriftNeedsReview) {
    EXPECT_EQ(fitFailure(onLine(kSpread, 1.002, 2), 100),
              "Timing is nonlinear or drift is excessive; manual review is required.");
}

TEST(TimingFitResult, ResidualsAreMeasuredFromTheFittedLine) {
    auto lifted = onLine(kSpread, 1, 2.0);
    lifted[2].referenceSeconds += 0.010;
    EXPECT_EQ(fitFailure(lifted, 100), "Timing is nonlinear or drift is excessive; manual review is required.");

    lifted = onLine(kSpread, 1, 2.0);
    lifted[2].referenceSeconds += 0.006;
    auto correction = DriftEngine::fit(lifted, 100);
    EXPECT_NEAR(correction.maxResidualMs, 4.8, 1e-6);
    EXPECT_NEAR(correction.offsetSeconds, 2.0012, 1e-9);
    EXPECT_NEAR(correction.endpointUncertaintyMs, 6.8, 1e-6);
    EXPECT_FALSE(correction.retime);
}

TEST(TimingFitResult, AnchorOrderDoesNotMatter) {
    const auto sorted = onLine({10, 150, 300, 450, 590}, 1.0005, 1.0);
    auto shuffled = sorted;
    std::reverse(shuffled.begin(), shuffled.end());
    std::swap(shuffled[1], shuffled[3]);
    const auto before = shuffled;
    EXPECT_EQ(DriftEngine::fit(shuffled, 600), DriftEngine::fit(sorted, 600));
    EXPECT_EQ(shuffled, before);
}

TEST(DriftCorrectionRecord, JsonRoundTripAndRequiredKeys) {
    DriftCorrection correction{1.25, 1.0005, 500, 0.5, 2.5, true};
    Json encoded = correction;
    EXPECT_EQ(encoded.size(), 6u);
    DriftCorrection decoded;
    from_json(encoded, decoded);
    EXPECT_EQ(decoded, correction);
    EXPECT_EQ(std::hash<DriftCorrection>{}(decoded), std::hash<DriftCorrection>{}(correction));
    encoded.erase("retime");
    EXPECT_THROW(from_json(encoded, decoded), JsonError);
    Json wrongType = correction;
    wrongType["retime"] = 1;
    EXPECT_THROW(from_json(wrongType, decoded), JsonError);
}

} // namespace
} // namespace velk
