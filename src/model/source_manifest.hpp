#pragma once
// "source-manifest.json": one take as a set of camera media files on disk. Written by the export,
// read back by the store's manifest import. No equality or hashing; values are checked by the
// import, never while decoding.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "model/library.hpp"

namespace velk {

struct SourceClip {
    // When absent, the importing store names the clip "<takeId>::<cameraId>".
    std::optional<std::string> clipId;
    std::string cameraId;
    std::string takeId;
    // Absolute, or relative to the folder holding the manifest file.
    std::string path;
    std::string sha256;
    std::optional<std::string> anchorMeaning;
    // Absent and empty are distinct.
    std::optional<std::vector<TimingAnchor>> anchors;
    std::optional<std::string> mediaKind;
    std::optional<std::string> timingSidecarPath;
    std::optional<std::string> timingSidecarSHA256;
    std::optional<std::string> deviceId;
    std::optional<std::string> deviceName;
};

struct SourceManifest {
    std::int64_t schemaVersion = 0;
    std::string projectId;
    std::optional<std::string> projectName;
    std::optional<std::int64_t> projectRevision;
    std::optional<std::string> projectNameAtCapture;
    std::optional<std::int64_t> projectRevisionAtCapture;
    std::string takeId;
    std::string referenceCameraId;
    std::optional<std::string> timelineFPS;
    std::vector<SourceClip> clips;
};

void to_json(Json& json, const SourceClip& clip);
void from_json(const Json& json, SourceClip& clip);
void to_json(Json& json, const SourceManifest& manifest);
void from_json(const Json& json, SourceManifest& manifest);

// Throws JsonError when the text is not JSON or does not decode as a manifest.
SourceManifest decodeSourceManifest(std::string_view jsonText);
// Sorted keys; pretty is the form the export writes. Throws JsonError when a number is not finite.
std::string encodeSourceManifest(const SourceManifest& manifest, bool pretty = true);

} // namespace velk
