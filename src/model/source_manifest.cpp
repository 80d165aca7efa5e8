#include "model/source_manifest.hpp"

namespace velk {

void to_json(Json& json, const SourceClip& clip) {
    json = Json::object();
    json::putOptional(json, "clipId", clip.clipId);
    json["cameraId"] = clip.cameraId;
    json["takeId"] = clip.takeId;
    json["path"] = clip.path;
    json["sha256"] = clip.sha256;
    json::putOptional(json, "anchorMeaning", clip.anchorMeaning);
    json::putOptional(json, "anchors", clip.anchors);
    json::putOptional(json, "mediaKind", clip.mediaKind);
    json::putOptional(json, "timingSidecarPath", clip.timingSidecarPath);
    json::putOptional(json, "timingSidecarSHA256", clip.timingSidecarSHA256);
    json::putOptional(json, "deviceId", clip.deviceId);
    json::putOptional(json, "deviceName", clip.deviceName);
}

void from_json(const Json& json, SourceClip& clip) {
    SourceClip decoded;
    decoded.clipId = json::optionalString(json, "clipId");
    decoded.cameraId = json::requireString(json, "cameraId");
    decoded.takeId = json::requireString(json, "takeId");
    decoded.path = json::requireString(json, "path");
    decoded.sha256 = json::requireString(json, "sha256");
    decoded.anchorMeaning = json::optionalString(json, "anchorMeaning");
    decoded.anchors = json::optionalArray<TimingAnchor>(json, "anchors");
    decoded.mediaKind = json::optionalString(json, "mediaKind");
    decoded.timingSidecarPath = json::optionalString(json, "timingSidecarPath");
    decoded.timingSidecarSHA256 = json::optionalString(json, "timingSidecarSHA256");
    decoded.deviceId = json::optionalString(json, "deviceId");
    decoded.deviceName = json::optionalString(json, "deviceName");
    clip = std::move(decoded);
}

void to_json(Json& json, const SourceManifest& manifest) {
    json = Json::object();
    json["schemaVersion"] = manifest.schemaVersion;
    json["projectId"] = manifest.projectId;
    json::putOptional(json, "projectName", manifest.projectName);
    json::putOptional(json, "projectRevision", manifest.projectRevision);
    json::putOptional(json, "projectNameAtCapture", manifest.projectNameAtCapture);
    json::putOptional(json, "projectRevisionAtCapture", manifest.projectRevisionAtCapture);
    json["takeId"] = manifest.takeId;
    json["referenceCameraId"] = manifest.referenceCameraId;
    json::putOptional(json, "timelineFPS", manifest.timelineFPS);
    json["clips"] = manifest.clips;
}

void from_json(const Json& json, SourceManifest& manifest) {
    SourceManifest decoded;
    decoded.schemaVersion = json::requireInt64(json, "schemaVersion");
    decoded.projectId = json::requireString(json, "projectId");
    decoded.projectName = json::optionalString(json, "projectName");
    decoded.projectRevision = json::optionalInt64(json, "projectRevision");
    decoded.projectNameAtCapture = json::optionalString(json, "projectNameAtCapture");
    decoded.projectRevisionAtCapture = json::optionalInt64(json, "projectRevisionAtCapture");
    decoded.takeId = json::requireString(json, "takeId");
    decoded.referenceCameraId = json::requireString(json, "referenceCameraId");
    decoded.timelineFPS = json::optionalString(json, "timelineFPS");
    decoded.clips = json::requireArray<SourceClip>(json, "clips");
    manifest = std::move(decoded);
}

SourceManifest decodeSourceManifest(std::string_view jsonText) {
    Json document = json::parse(jsonText);
    SourceManifest manifest;
    from_json(json::requireObject(document, "manifest"), manifest);
    return manifest;
}

std::string encodeSourceManifest(const SourceManifest& manifest, bool pretty) {
    Json document;
    to_json(document, manifest);
    return json::write(document, {.pretty = pretty});
}

} // namespace velk
