#pragma once
// "alignment-report.json": what the export did to each clip of a take.

#include <cstdint>
#include <string>
#include <vector>

#include "base/json.hpp"
#include "export/drift_correction.hpp"
#include "export/media_info.hpp"

namespace velk {

struct ExportClipReport {
    std::string cameraId;
    std::string path;
    std::string sha256; // computed from the local copy, lower case
    MediaInfo media;
    DriftCorrection correction;
    double playbackSpeedPercent = 100;
};

struct AlignmentReport {
    std::int64_t schemaVersion = 1;
    std::string projectId;
    std::string takeId;
    std::string referenceCameraId;
    bool originalsModified = false;
    bool resolveImportVerified = false;
    std::vector<ExportClipReport> clips;
};

void to_json(Json& json, const ExportClipReport& report);
void from_json(const Json& json, ExportClipReport& report);
void to_json(Json& json, const AlignmentReport& report);
void from_json(const Json& json, AlignmentReport& report);

} // namespace velk
