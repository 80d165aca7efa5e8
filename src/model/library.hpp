#pragma once
// The library document ("library.json"): projects, their takes and the camera clips of each take.
// Records hold no behaviour beyond construction, comparison and their JSON form.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"

namespace velk {

// One correspondence between a moment in a clip's own media and the same moment on the take's
// reference timeline. Its JSON keys are snake_case, unlike every record around it.
struct TimingAnchor {
    double sourceSeconds = 0;
    double referenceSeconds = 0;
    double confidence = 0;
    double uncertaintyMs = 0;

    bool operator==(const TimingAnchor&) const = default;
};

struct VELKClip {
    std::string id;
    std::string cameraId;
    std::string fileName;
    std::optional<std::string> localPath;
    std::optional<std::string> remoteURL;
    std::optional<std::int64_t> sizeBytes;
    std::string sha256;
    std::optional<std::string> anchorMeaning;
    std::vector<TimingAnchor> anchors;
    std::optional<std::string> mediaKind;
    std::optional<bool> hasVideo;
    std::optional<bool> hasAudio;
    std::optional<std::string> timingSidecarURL;
    std::optional<std::string> timingSidecarSHA256;
    std::optional<std::string> deviceId;
    std::optional<std::string> deviceName;
    std::optional<std::int64_t> originCatalogRevision;
    std::optional<std::string> timingSidecarLocalPath;

    bool operator==(const VELKClip&) const = default;
};

struct VELKTake {
    std::string id;
    std::optional<std::string> projectNameAtCapture;
    std::optional<std::int64_t> projectRevisionAtCapture;
    std::optional<std::string> createdAt;
    std::optional<std::string> referenceCameraId;
    std::string timelineFPS = "30";
    std::optional<std::string> sourceManifestPath;
    std::vector<VELKClip> clips;

    bool operator==(const VELKTake&) const = default;
};

struct VELKProject {
    std::string id;
    std::string name;
    std::optional<std::int64_t> revision;
    std::vector<VELKTake> takes;

    bool operator==(const VELKProject&) const = default;
};

// The whole library. It has no equality of its own: compare its projects.
struct VELKLibrary {
    std::vector<VELKProject> projects;
};

// JSON forms. Decoding throws JsonError for the first failing key and yields no partial record;
// absent optionals are left out, never written as null.
void to_json(Json& json, const TimingAnchor& anchor);
void from_json(const Json& json, TimingAnchor& anchor);
void to_json(Json& json, const VELKClip& clip);
void from_json(const Json& json, VELKClip& clip);
void to_json(Json& json, const VELKTake& take);
void from_json(const Json& json, VELKTake& take);
void to_json(Json& json, const VELKProject& project);
void from_json(const Json& json, VELKProject& project);
void to_json(Json& json, const VELKLibrary& library);
void from_json(const Json& json, VELKLibrary& library);

// The text of "library.json". decodeLibrary throws JsonError when the text is not JSON or does
// not decode; encodeLibrary throws JsonError (and returns nothing) when a number is not finite.
// Keys are always sorted; pretty output is what the store saves.
VELKLibrary decodeLibrary(std::string_view jsonText);
std::string encodeLibrary(const VELKLibrary& library, bool pretty = true);

} // namespace velk

template <>
struct std::hash<velk::TimingAnchor> {
    std::size_t operator()(const velk::TimingAnchor& anchor) const noexcept;
};
template <>
struct std::hash<velk::VELKClip> {
    std::size_t operator()(const velk::VELKClip& clip) const noexcept;
};
template <>
struct std::hash<velk::VELKTake> {
    std::size_t operator()(const velk::VELKTake& take) const noexcept;
};
template <>
struct std::hash<velk::VELKProject> {
    std::size_t operator()(const velk::VELKProject& project) const noexcept;
};
