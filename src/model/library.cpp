#include "model/library.hpp"

#include "model/hashing.hpp"

namespace velk {

void to_json(Json& json, const TimingAnchor& anchor) {
    json = Json::object();
    json["source_seconds"] = anchor.sourceSeconds;
    json["reference_seconds"] = anchor.referenceSeconds;
    json["confidence"] = anchor.confidence;
    json["uncertainty_ms"] = anchor.uncertaintyMs;
}

void from_json(const Json& json, TimingAnchor& anchor) {
    TimingAnchor decoded;
    decoded.sourceSeconds = json::requireDouble(json, "source_seconds");
    decoded.referenceSeconds = json::requireDouble(json, "reference_seconds");
    decoded.confidence = json::requireDouble(json, "confidence");
    decoded.uncertaintyMs = json::requireDouble(json, "uncertainty_ms");
    anchor = decoded;
}

void to_json(Json& json, const VELKClip& clip) {
    json = Json::object();
    json["id"] = clip.id;
    json["cameraId"] = clip.cameraId;
    json["fileName"] = clip.fileName;
    json::putOptional(json, "localPath", clip.localPath);
    json::putOptional(json, "remoteURL", clip.remoteURL);
    json::putOptional(json, "sizeBytes", clip.sizeBytes);
    json["sha256"] = clip.sha256;
    json::putOptional(json, "anchorMeaning", clip.anchorMeaning);
    json["anchors"] = clip.anchors;
    json::putOptional(json, "mediaKind", clip.mediaKind);
    json::putOptional(json, "hasVideo", clip.hasVideo);
    json::putOptional(json, "hasAudio", clip.hasAudio);
    json::putOptional(json, "timingSidecarURL", clip.timingSidecarURL);
    json::putOptional(json, "timingSidecarSHA256", clip.timingSidecarSHA256);
    json::putOptional(json, "deviceId", clip.deviceId);
    json::putOptional(json, "deviceName", clip.deviceName);
    json::putOptional(json, "originCatalogRevision", clip.originCatalogRevision);
    json::putOptional(json, "timingSidecarLocalPath", clip.timingSidecarLocalPath);
}

void from_json(const Json& json, VELKClip& clip) {
    VELKClip decoded;
    decoded.id = json::requireString(json, "id");
    decoded.cameraId = json::requireString(json, "cameraId");
    decoded.fileName = json::requireString(json, "fileName");
    decoded.localPath = json::optionalString(json, "localPath");
    decoded.remoteURL = json::optionalString(json, "remoteURL");
    decoded.sizeBytes = json::optionalInt64(json, "sizeBytes");
    decoded.sha256 = json::requireString(json, "sha256");
    decoded.anchorMeaning = json::optionalString(json, "anchorMeaning");
    decoded.anchors = json::requireArray<TimingAnchor>(json, "anchors");
    decoded.mediaKind = json::optionalString(json, "mediaKind");
    decoded.hasVideo = json::optionalBool(json, "hasVideo");
    decoded.hasAudio = json::optionalBool(json, "hasAudio");
    decoded.timingSidecarURL = json::optionalString(json, "timingSidecarURL");
    decoded.timingSidecarSHA256 = json::optionalString(json, "timingSidecarSHA256");
    decoded.deviceId = json::optionalString(json, "deviceId");
    decoded.deviceName = json::optionalString(json, "deviceName");
    decoded.originCatalogRevision = json::optionalInt64(json, "originCatalogRevision");
    decoded.timingSidecarLocalPath = json::optionalString(json, "timingSidecarLocalPath");
    clip = std::move(decoded);
}

void to_json(Json& json, const VELKTake& take) {
    json = Json::object();
    json["id"] = take.id;
    json::putOptional(json, "projectNameAtCapture", take.projectNameAtCapture);
    json::putOptional(json, "projectRevisionAtCapture", take.projectRevisionAtCapture);
    json::putOptional(json, "createdAt", take.createdAt);
    json::putOptional(json, "referenceCameraId", take.referenceCameraId);
    json["timelineFPS"] = take.timelineFPS;
    json::putOptional(json, "sourceManifestPath", take.sourceManifestPath);
    json["clips"] = take.clips;
}

void from_json(const Json& json, VELKTake& take) {
    VELKTake decoded;
    decoded.id = json::requireString(json, "id");
    decoded.projectNameAtCapture = json::optionalString(json, "projectNameAtCapture");
    decoded.projectRevisionAtCapture = json::optionalInt64(json, "projectRevisionAtCapture");
    decoded.createdAt = json::optionalString(json, "createdAt");
    decoded.referenceCameraId = json::optionalString(json, "referenceCameraId");
    // The construction default "30" is deliberately not applied when decoding.
    decoded.timelineFPS = json::requireString(json, "timelineFPS");
    decoded.sourceManifestPath = json::optionalString(json, "sourceManifestPath");
    decoded.clips = json::requireArray<VELKClip>(json, "clips");
    take = std::move(decoded);
}

void to_json(Json& json, const VELKProject& project) {
    json = Json::object();
    json["id"] = project.id;
    json["name"] = project.name;
    json::putOptional(json, "revision", project.revision);
    json["takes"] = project.takes;
}

void from_json(const Json& json, VELKProject& project) {
    VELKProject decoded;
    decoded.id = json::requireString(json, "id");
    decoded.name = json::requireString(json, "name");
    decoded.revision = json::optionalInt64(json, "revision");
    decoded.takes = json::requireArray<VELKTake>(json, "takes");
    project = std::move(decoded);
}

void to_json(Json& json, const VELKLibrary& library) {
    json = Json::object();
    json["projects"] = library.projects;
}

void from_json(const Json& json, VELKLibrary& library) {
    VELKLibrary decoded;
    decoded.projects = json::requireArray<VELKProject>(json, "projects");
    library = std::move(decoded);
}

VELKLibrary decodeLibrary(std::string_view jsonText) {
    Json document = json::parse(jsonText);
    VELKLibrary library;
    from_json(json::requireObject(document, "library"), library);
    return library;
}

std::string encodeLibrary(const VELKLibrary& library, bool pretty) {
    Json document;
    to_json(document, library);
    return json::write(document, {.pretty = pretty});
}

} // namespace velk

std::size_t std::hash<velk::TimingAnchor>::operator()(const velk::TimingAnchor& anchor) const noexcept {
    return velk::hashing::Hasher{}
        .add(anchor.sourceSeconds)
        .add(anchor.referenceSeconds)
        .add(anchor.confidence)
        .add(anchor.uncertaintyMs)
        .value();
}

std::size_t std::hash<velk::VELKClip>::operator()(const velk::VELKClip& clip) const noexcept {
    return velk::hashing::Hasher{}
        .add(clip.id)
        .add(clip.cameraId)
        .add(clip.fileName)
        .add(clip.localPath)
        .add(clip.remoteURL)
        .add(clip.sizeBytes)
        .add(clip.sha256)
        .add(clip.anchorMeaning)
        .add(clip.anchors)
        .add(clip.mediaKind)
        .add(clip.hasVideo)
        .add(clip.hasAudio)
        .add(clip.timingSidecarURL)
        .add(clip.timingSidecarSHA256)
        .add(clip.deviceId)
        .add(clip.deviceName)
        .add(clip.originCatalogRevision)
        .add(clip.timingSidecarLocalPath)
        .value();
}

std::size_t std::hash<velk::VELKTake>::operator()(const velk::VELKTake& take) const noexcept {
    return velk::hashing::Hasher{}
        .add(take.id)
        .add(take.projectNameAtCapture)
        .add(take.projectRevisionAtCapture)
        .add(take.createdAt)
        .add(take.referenceCameraId)
        .add(take.timelineFPS)
        .add(take.sourceManifestPath)
        .add(take.clips)
        .value();
}

std::size_t std::hash<velk::VELKProject>::operator()(const velk::VELKProject& project) const noexcept {
    return velk::hashing::Hasher{}.add(project.id).add(project.name).add(project.revision).add(project.takes).value();
}
