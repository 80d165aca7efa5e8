#pragma once
// How one clip is placed on the reference camera's timeline: reference = offset + rate × source.

#include <cstddef>
#include <functional>

#include "base/json.hpp"

namespace velk {

struct DriftCorrection {
    double offsetSeconds = 0;
    double referenceSecondsPerSourceSecond = 1.0;
    double driftPPM = 0;
    double maxResidualMs = 0;
    double endpointUncertaintyMs = 0;
    bool retime = false;

    bool operator==(const DriftCorrection&) const = default;

    // Offset 0, rate 1: what the reference camera's own clips get.
    static DriftCorrection identity() { return {}; }
};

void to_json(Json& json, const DriftCorrection& correction);
void from_json(const Json& json, DriftCorrection& correction);

} // namespace velk

template <>
struct std::hash<velk::DriftCorrection> {
    std::size_t operator()(const velk::DriftCorrection& correction) const noexcept;
};
