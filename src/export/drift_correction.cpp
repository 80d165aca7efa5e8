#include "export/drift_correction.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "export/drift_engine.hpp"
#include "model/hashing.hpp"

namespace velk {

void to_json(Json& json, const DriftCorrection& correction) {
    json = Json::object();
    json["offsetSeconds"] = correction.offsetSeconds;
    json["referenceSecondsPerSourceSecond"] = correction.referenceSecondsPerSourceSecond;
    json["driftPPM"] = correction.driftPPM;
    json["maxResidualMs"] = correction.maxResidualMs;
    json["endpointUncertaintyMs"] = correction.endpointUncertaintyMs;
    json["retime"] = correction.retime;
}

void from_json(const Json& json, DriftCorrection& correction) {
    const Json& object = json::requireObject(json, "correction");
    DriftCorrection decoded;
    decoded.offsetSeconds = json::requireDouble(object, "offsetSeconds");
    decoded.referenceSecondsPerSourceSecond = json::requireDouble(object, "referenceSecondsPerSourceSecond");
    decoded.driftPPM = json::requireDouble(object, "driftPPM");
    decoded.maxResidualMs = json::requireDouble(object, "maxResidualMs");
    decoded.endpointUncertaintyMs = json::requireDouble(object, "endpointUncertaintyMs");
    decoded.retime = json::requireBool(object, "retime");
    correction = decoded;
}

namespace DriftEngine {

namespace {

constexpr std::size_t kLeastAnchors = 5;
constexpr double kLeastConfidence = 0.8;
constexpr double kMostConfidence = 1.0;
constexpr double kMostUncertaintyMs = 5.0;
constexpr double kLargestGapShare = 0.35;
constexpr double kFirstAnchorShare = 0.1;
constexpr double kLastAnchorShare = 0.9;
constexpr double kLargestResidualMs = 5.0;
constexpr double kLargestRateDeviation = 0.001;

const char* const kNeedAnchors = "Need a positive duration and at least five verified anchors.";
const char* const kOutsideLimits = "An anchor is outside the accepted media range or confidence limits.";
const char* const kNotIncreasing = "Anchors must be strictly increasing in both media timelines.";
const char* const kMiddleUnverified = "Anchors leave too much of the middle of the take unverified.";
const char* const kEndsUncovered = "Anchors must cover the beginning and end of the take.";
const char* const kNoSpan = "Anchors do not span enough media time.";
const char* const kNeedsReview = "Timing is nonlinear or drift is excessive; manual review is required.";

bool withinLimits(const TimingAnchor& anchor, double duration) {
    return std::isfinite(anchor.sourceSeconds) && std::isfinite(anchor.referenceSeconds) &&
           std::isfinite(anchor.confidence) && std::isfinite(anchor.uncertaintyMs) &&
           anchor.sourceSeconds >= 0 && anchor.sourceSeconds <= duration &&
           anchor.referenceSeconds >= 0 &&
           anchor.confidence >= kLeastConfidence && anchor.confidence <= kMostConfidence &&
           anchor.uncertaintyMs > 0 && anchor.uncertaintyMs <= kMostUncertaintyMs;
}

} // namespace

DriftCorrection fit(const std::vector<TimingAnchor>& anchors, double duration) {
    if (!std::isfinite(duration) || duration <= 0 || anchors.size() < kLeastAnchors) {
        throw DriftExportError::invalid(kNeedAnchors);
    }

    std::vector<TimingAnchor> sorted = anchors;
    std::stable_sort(sorted.begin(), sorted.end(), [](const TimingAnchor& l, const TimingAnchor& r) {
        return l.sourceSeconds < r.sourceSeconds;
    });

    for (const TimingAnchor& anchor : sorted) {
        if (!withinLimits(anchor, duration)) throw DriftExportError::invalid(kOutsideLimits);
    }

    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (!(sorted[i].sourceSeconds > sorted[i - 1].sourceSeconds) ||
            !(sorted[i].referenceSeconds > sorted[i - 1].referenceSeconds)) {
            throw DriftExportError::invalid(kNotIncreasing);
        }
    }

    double largestGap = 0;
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        largestGap = std::max(largestGap, sorted[i].sourceSeconds - sorted[i - 1].sourceSeconds);
    }
    if (largestGap > kLargestGapShare * duration) throw DriftExportError::invalid(kMiddleUnverified);

    if (sorted.front().sourceSeconds > kFirstAnchorShare * duration ||
        sorted.back().sourceSeconds < kLastAnchorShare * duration) {
        throw DriftExportError::invalid(kEndsUncovered);
    }

    double weightSum = 0, weightedX = 0, weightedY = 0;
    for (const TimingAnchor& anchor : sorted) {
        double w = 1.0 / (anchor.uncertaintyMs * anchor.uncertaintyMs);
        weightSum += w;
        weightedX += w * anchor.sourceSeconds;
        weightedY += w * anchor.referenceSeconds;
    }
    const double meanX = weightedX / weightSum;
    const double meanY = weightedY / weightSum;

    double sxx = 0;
    for (const TimingAnchor& anchor : sorted) {
        double w = 1.0 / (anchor.uncertaintyMs * anchor.uncertaintyMs);
        double dx = anchor.sourceSeconds - meanX;
        sxx += w * dx * dx;
    }
    if (!(sxx > 0)) throw DriftExportError::invalid(kNoSpan);

    double sxy = 0;
    for (const TimingAnchor& anchor : sorted) {
        double w = 1.0 / (anchor.uncertaintyMs * anchor.uncertaintyMs);
        sxy += w * (anchor.sourceSeconds - meanX) * (anchor.referenceSeconds - meanY);
    }
    const double slope = sxy / sxx;
    const double intercept = meanY - slope * meanX;

    double maxResidualMs = 0;
    for (const TimingAnchor& anchor : sorted) {
        double residualMs = std::abs(anchor.referenceSeconds - intercept - slope * anchor.sourceSeconds) * 1000;
        maxResidualMs = std::max(maxResidualMs, residualMs);
    }
    if (!(maxResidualMs <= kLargestResidualMs) || !(std::abs(slope - 1) <= kLargestRateDeviation)) {
        throw DriftExportError::invalid(kNeedsReview);
    }

    double largestUncertaintyMs = 0;
    for (const TimingAnchor& anchor : sorted) largestUncertaintyMs = std::max(largestUncertaintyMs, anchor.uncertaintyMs);
    const double endpointUncertaintyMs = 2 * largestUncertaintyMs + maxResidualMs;

    DriftCorrection correction;
    correction.maxResidualMs = maxResidualMs;
    correction.endpointUncertaintyMs = endpointUncertaintyMs;
    const double driftOverClipMs = std::abs(slope - 1) * duration * 1000;
    if (driftOverClipMs > 2 * endpointUncertaintyMs) {
        correction.retime = true;
        correction.referenceSecondsPerSourceSecond = slope;
        correction.offsetSeconds = intercept;
    } else {
        double weightedDifference = 0;
        for (const TimingAnchor& anchor : sorted) {
            double w = 1.0 / (anchor.uncertaintyMs * anchor.uncertaintyMs);
            weightedDifference += w * (anchor.referenceSeconds - anchor.sourceSeconds);
        }
        correction.retime = false;
        correction.referenceSecondsPerSourceSecond = 1.0;
        correction.offsetSeconds = weightedDifference / weightSum;
    }
    correction.driftPPM = (correction.referenceSecondsPerSourceSecond - 1) * 1'000'000;
    return correction;
}

} // namespace DriftEngine
} // namespace velk

std::size_t std::hash<velk::DriftCorrection>::operator()(const velk::DriftCorrection& correction) const noexcept {
    velk::hashing::Hasher hasher;
    hasher.add(correction.offsetSeconds)
        .add(correction.referenceSecondsPerSourceSecond)
        .add(correction.driftPPM)
        .add(correction.maxResidualMs)
        .add(correction.endpointUncertaintyMs)
        .add(correction.retime);
    return hasher.value();
}
