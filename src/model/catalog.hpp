#pragma once
// The catalog a phone serves over HTTPS: the phone, its catalog revision, its projects with their
// takes and clips, and takes that belong to no project. Read, inspected and dropped; the records
// have no equality or hashing. Values are checked by catalog validation, never while decoding.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "model/library.hpp"

namespace velk {

struct CatalogClip {
    std::string clipId;
    std::string cameraId;
    std::string fileName;
    std::int64_t sizeBytes = 0;
    std::string sha256;
    std::string downloadURL;
    bool finalized = false;
    std::string mediaKind;
    bool hasVideo = false;
    bool hasAudio = false;
    std::optional<std::string> timingSidecarURL;
    std::optional<std::string> timingSidecarSHA256;
    std::optional<std::string> anchorMeaning;
    // Absent and empty are distinct.
    std::optional<std::vector<TimingAnchor>> anchors;
};

struct CatalogTake {
    std::string takeId;
    std::optional<std::string> projectId;
    std::optional<std::string> projectNameAtCapture;
    std::optional<std::int64_t> projectRevisionAtCapture;
    std::optional<std::string> createdAt;
    std::optional<std::string> referenceCameraId;
    std::optional<std::string> timelineFPS;
    std::vector<CatalogClip> clips;
};

struct CatalogProject {
    std::string projectId;
    std::string name;
    std::int64_t revision = 0;
    std::vector<CatalogTake> takes;
};

struct DeviceCatalog {
    std::int64_t schemaVersion = 0;
    std::string deviceId;
    std::string deviceName;
    std::int64_t catalogRevision = 0;
    std::optional<std::string> generatedAt;
    std::vector<CatalogProject> projects;
    // Absent and empty are distinct.
    std::optional<std::vector<CatalogTake>> unassignedTakes;
};

void to_json(Json& json, const CatalogClip& clip);
void from_json(const Json& json, CatalogClip& clip);
void to_json(Json& json, const CatalogTake& take);
void from_json(const Json& json, CatalogTake& take);
void to_json(Json& json, const CatalogProject& project);
void from_json(const Json& json, CatalogProject& project);
void to_json(Json& json, const DeviceCatalog& catalog);
void from_json(const Json& json, DeviceCatalog& catalog);

// Throws JsonError when the text is not JSON or does not decode as a catalog.
DeviceCatalog decodeCatalog(std::string_view jsonText);
// Throws JsonError when a number is not finite.
std::string encodeCatalog(const DeviceCatalog& catalog, bool pretty = false);

} // namespace velk
