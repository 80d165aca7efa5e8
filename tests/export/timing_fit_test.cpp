#include <algorithm>
#include <cmath>
#include <limits>

#include "export_support.hpp"

namespace velk {
namespace {

using testing::anchorsOnLine;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
const std::vector<double> kSpread = {5, 27.5, 50, 72.5, 95};

// The anchors with one of them changed.
std::vector<TimingAnchor> with(std::vector<TimingAnchor> anchors, std::size_t index, void (*change)(TimingAnchor&)) {
    change(anchors.at(index));
    return anchors;
}

TEST(TimingFit, EachRuleFailsWithItsSentenceAtItsBoundary) {
    const char* const count = "Need a positive duration and at least five verified anchors.";
    const char* const outside = "An anchor is outside the accepted media range or confidence limits.";
    const char* const order = "Anchors must be strictly increasing in both media timelines.";
    const char* const gap = "Anchors leave too much of the middle of the take unverified.";
    const char* const ends = "Anchors must cover the beginning and end of the take.";
    const char* const review = "Timing is nonlinear or drift is excessive; manual review is required.";
    const char* const accepted = "(no error)";
    const auto onLine = [](std::vector<double> sources) { return anchorsOnLine(std::move(sources), 1, 2); };
    // Broken anchors do not matter when the count or the duration already fails.
    const auto broken = with(onLine(kSpread), 0, [](TimingAnchor& a) { a.confidence = kNaN; });
    struct Case { const char* what; std::vector<TimingAnchor> anchors; double duration; const char* result; };
    const Case cases[] = {
        {"four anchors", onLine({5, 35, 65, 95}), 100, count},
        {"duration 0", broken, 0.0, count}, {"duration -0", broken, -0.0, count}, {"duration -5", broken, -5, count},
        {"infinite duration", broken, kInfinity, count}, {"NaN duration", broken, kNaN, count},
        {"five good anchors", onLine(kSpread), 100, accepted},
        {"confidence 0.8", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.confidence = 0.8; }), 100, accepted},
        {"confidence 1.0", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.confidence = 1.0; }), 100, accepted},
        {"uncertainty 5", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.uncertaintyMs = 5.0; }), 100, accepted},
        {"source at the end", onLine({5, 27.5, 50, 72.5, 100}), 100, accepted},
        {"confidence 0.79", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.confidence = 0.79; }), 100, outside},
        {"confidence 1.01", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.confidence = 1.01; }), 100, outside},
        {"uncertainty 0", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.uncertaintyMs = 0; }), 100, outside},
        {"uncertainty 5.01", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.uncertaintyMs = 5.01; }), 100, outside},
        {"uncertainty NaN", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.uncertaintyMs = kNaN; }), 100, outside},
        {"infinite reference", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.referenceSeconds = kInfinity; }), 100, outside},
        {"source beyond the end", onLine({5, 27.5, 50, 72.5, 100.5}), 100, outside},
        {"negative reference", anchorsOnLine(kSpread, 1, -6), 100, outside},
        {"repeated source", onLine({5, 27.5, 50, 50, 95}), 100, order},
        {"flat reference", with(onLine(kSpread), 3, [](TimingAnchor& a) { a.referenceSeconds -= 22.5; }), 100, order},
        {"gap of 35 s", onLine({5, 40, 75, 90, 95}), 100, accepted},
        {"gap of 36 s", onLine({5, 41, 77, 90, 95}), 100, gap},
        {"ends at 10 s", onLine({10, 30, 50, 70, 90}), 100, accepted},
        {"first at 10.5 s", onLine({10.5, 30, 50, 70, 90}), 100, ends},
        {"last at 89.5 s", onLine({10, 30, 50, 70, 89.5}), 100, ends},
        {"gap before ends", onLine({20, 21, 22, 23, 95}), 100, gap},
        {"rate 1.002", anchorsOnLine(kSpread, 1.002, 2), 100, review},
        {"middle lifted 10 ms", with(onLine(kSpread), 2, [](TimingAnchor& a) { a.referenceSeconds += 0.010; }), 100, review},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(testing::exportErrorOf([&] { DriftEngine::fit(c.anchors, c.duration); }), c.result) << c.what;
    }
}

TEST(TimingFit, CorrectionsOfTheWorkedExamples) {
    auto shortClip = anchorsOnLine({0.5, 3, 5, 7, 9.5}, 1.0005, 0);
    for (auto& anchor : shortClip) anchor.uncertaintyMs = 2;
    auto lifted = with(anchorsOnLine(kSpread, 1, 2), 2, [](TimingAnchor& a) { a.referenceSeconds += 0.006; });
    // NaN: not checked.
    struct Case { const char* what; std::vector<TimingAnchor> anchors; double duration; DriftCorrection expected; };
    const Case cases[] = {
        {"shift only", anchorsOnLine(kSpread, 1, 2), 100, {2.0, 1.0, 0, 0, 2.0, false}},
        {"long clip with drift", anchorsOnLine({10, 150, 300, 450, 590}, 1.0005, 1), 600, {1.0, 1.0005, 500, kNaN, 2.0, true}},
        // Drift below the threshold: shifted by the weighted mean of reference − source, not 0.
        {"short clip with drift", shortClip, 10, {0.0005 * 5, 1.0, 0, kNaN, kNaN, false}},
        {"residual from the fitted line", lifted, 100, {2.0012, 1.0, 0, 4.8, 6.8, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DriftCorrection fitted = DriftEngine::fit(c.anchors, c.duration);
        const std::pair<double, double> fields[] = {
            {fitted.offsetSeconds, c.expected.offsetSeconds},
            {fitted.referenceSecondsPerSourceSecond, c.expected.referenceSecondsPerSourceSecond},
            {fitted.driftPPM, c.expected.driftPPM}, {fitted.maxResidualMs, c.expected.maxResidualMs},
            {fitted.endpointUncertaintyMs, c.expected.endpointUncertaintyMs}};
        for (auto [actual, expected] : fields) {
            if (std::isnan(expected)) continue;
            EXPECT_NEAR(actual, expected, 1e-6);
        }
        EXPECT_EQ(fitted.retime, c.expected.retime);
        if (!c.expected.retime) {
            EXPECT_EQ(fitted.referenceSecondsPerSourceSecond, 1.0);
            EXPECT_EQ(fitted.driftPPM, 0.0);
        }
    }
}

TEST(TimingFit, AnchorOrderDoesNotMatterAndTheInputIsNotReordered) {
    const auto sorted = anchorsOnLine({10, 150, 300, 450, 590}, 1.0005, 1.0);
    auto shuffled = sorted;
    std::reverse(shuffled.begin(), shuffled.end());
    std::swap(shuffled[1], shuffled[3]);
    const auto before = shuffled;
    EXPECT_EQ(DriftEngine::fit(shuffled, 600), DriftEngine::fit(sorted, 600));
    EXPECT_EQ(shuffled, before);
}

template <class Record>
void expectKeyRequired(const Json& json, const char* key, const Json& wrongType) {
    Json lacking = json, wrong = json;
    lacking.erase(key);
    wrong[key] = wrongType;
    EXPECT_THROW(lacking.get<Record>(), JsonError) << key;
    EXPECT_THROW(wrong.get<Record>(), JsonError) << key;
}

TEST(ExportRecords, JsonFormsRoundTripAndEveryKeyIsRequired) {
    const DriftCorrection correction{1.25, 1.0005, 500, 0.5, 2.5, true};
    const MediaInfo info{12.5, 1080, 1920, 29.970029830932617, true};
    const Json correctionJson = Json::parse(R"({"offsetSeconds": 1.25, "referenceSecondsPerSourceSecond": 1.0005,
        "driftPPM": 500, "maxResidualMs": 0.5, "endpointUncertaintyMs": 2.5, "retime": true})");
    const Json infoJson = Json::parse(R"({"duration": 12.5, "width": 1080, "height": 1920,
        "fps": 29.970029830932617, "hasAudio": true})");
    EXPECT_EQ(Json(correction), correctionJson);
    EXPECT_EQ(Json(info), infoJson);
    EXPECT_EQ(correctionJson.get<DriftCorrection>(), correction);
    EXPECT_EQ(infoJson.get<MediaInfo>(), info);
    EXPECT_EQ(std::hash<MediaInfo>{}(infoJson.get<MediaInfo>()), std::hash<MediaInfo>{}(info));
    EXPECT_EQ(std::hash<DriftCorrection>{}(correctionJson.get<DriftCorrection>()), std::hash<DriftCorrection>{}(correction));
    expectKeyRequired<DriftCorrection>(correctionJson, "retime", 1);
    expectKeyRequired<MediaInfo>(infoJson, "hasAudio", 1);
    expectKeyRequired<MediaInfo>(infoJson, "width", 1080.5);
}

} // namespace
} // namespace velk
