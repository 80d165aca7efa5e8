#include "model/catalog.hpp"

namespace velk {

void to_json(Json& json, const CatalogClip& clip) {
    json = Json::object();
    json["clipId"] = clip.clipId;
    json["cameraId"] = clip.cameraId;
    json["fileName"] = clip.fileName;
    json["sizeBytes"] = clip.sizeBytes;
    json["sha256"] = clip.sha256;
    json["downloadURL"] = clip.downloadURL;
    json["finalized"] = clip.finalized;
    json["mediaKind"] = clip.mediaKind;
    json["hasVideo"] = clip.hasVideo;
    json["hasAudio"] = clip.hasAudio;
    json::putOptional(json, "timingSidecarURL", clip.timingSidecarURL);
    json::putOptional(json, "timingSidecarSHA256", clip.timingSidecarSHA256);
    json::putOptional(json, "anchorMeaning", clip.anchorMeaning);
    json::putOptional(json, "anchors", clip.anchors);
}

void from_json(const Json& json, CatalogClip& clip) {
    CatalogClip decoded;
    decoded.clipId = json::requireString(json, "clipId");
    decoded.cameraId = json::requireString(json, "cameraId");
    decoded.fileName = json::requireString(json, "fileName");
    decoded.sizeBytes = json::requireInt64(json, "sizeBytes");
    decoded.sha256 = json::requireString(json, "sha256");
    decoded.downloadURL = json::requireString(json, "downloadURL");
    decoded.finalized = json::requireBool(json, "finalized");
    decoded.mediaKind = json::requireString(json, "mediaKind");
    decoded.hasVideo = json::requireBool(json, "hasVideo");
    decoded.hasAudio = json::requireBool(json, "hasAudio");
    decoded.timingSidecarURL = json::optionalString(json, "timingSidecarURL");
    decoded.timingSidecarSHA256 = json::optionalString(json, "timingSidecarSHA256");
    decoded.anchorMeaning = json::optionalString(json, "anchorMeaning");
    decoded.anchors = json::optionalArray<TimingAnchor>(json, "anchors");
    clip = std::move(decoded);
}

void to_json(Json& json, const CatalogTake& take) {
    json = Json::object();
    json["takeId"] = take.takeId;
    json::putOptional(json, "projectId", take.projectId);
    json::putOptional(json, "projectNameAtCapture", take.projectNameAtCapture);
    json::putOptional(json, "projectRevisionAtCapture", take.projectRevisionAtCapture);
    json::putOptional(json, "createdAt", take.createdAt);
    json::putOptional(json, "referenceCameraId", take.referenceCameraId);
    json::putOptional(json, "timelineFPS", take.timelineFPS);
    json["clips"] = take.clips;
}

void from_json(const Json& json, CatalogTake& take) {
    CatalogTake decoded;
    decoded.takeId = json::requireString(json, "takeId");
    decoded.projectId = json::optionalString(json, "projectId");
    decoded.projectNameAtCapture = json::optionalString(json, "projectNameAtCapture");
    decoded.projectRevisionAtCapture = json::optionalInt64(json, "projectRevisionAtCapture");
    decoded.createdAt = json::optionalString(json, "createdAt");
    decoded.referenceCameraId = json::optionalString(json, "referenceCameraId");
    decoded.timelineFPS = json::optionalString(json, "timelineFPS");
    decoded.clips = json::requireArray<CatalogClip>(json, "clips");
    take = std::move(decoded);
}

void to_json(Json& json, const CatalogProject& project) {
    json = Json::object();
    json["projectId"] = project.projectId;
    json["name"] = project.name;
    json["revision"] = project.revision;
    json["takes"] = project.takes;
}

void from_json(const Json& json, CatalogProject& project) {
    CatalogProject decoded;
    decoded.projectId = json::requireString(json, "projectId");
    decoded.name = json::requireString(json, "name");
    decoded.revision = json::requireInt64(json, "revision");
    decoded.takes = json::requireArray<CatalogTake>(json, "takes");
    project = std::move(decoded);
}

void to_json(Json& json, const DeviceCatalog& catalog) {
    json = Json::object();
    json["schemaVersion"] = catalog.schemaVersion;
    json["deviceId"] = catalog.deviceId;
    json["deviceName"] = catalog.deviceName;
    json["catalogRevision"] = catalog.catalogRevision;
    json::putOptional(json, "generatedAt", catalog.generatedAt);
    json["projects"] = catalog.projects;
    json::putOptional(json, "unassignedTakes", catalog.unassignedTakes);
}

void from_json(const Json& json, DeviceCatalog& catalog) {
    DeviceCatalog decoded;
    decoded.schemaVersion = json::requireInt64(json, "schemaVersion");
    decoded.deviceId = json::requireString(json, "deviceId");
    decoded.deviceName = json::requireString(json, "deviceName");
    decoded.catalogRevision = json::requireInt64(json, "catalogRevision");
    decoded.generatedAt = json::optionalString(json, "generatedAt");
    decoded.projects = json::requireArray<CatalogProject>(json, "projects");
    decoded.unassignedTakes = json::optionalArray<CatalogTake>(json, "unassignedTakes");
    catalog = std::move(decoded);
}

DeviceCatalog decodeCatalog(std::string_view jsonText) {
    Json document = json::parse(jsonText);
    DeviceCatalog catalog;
    from_json(json::requireObject(document, "catalog"), catalog);
    return catalog;
}

std::string encodeCatalog(const DeviceCatalog& catalog, bool pretty) {
    Json document;
    to_json(document, catalog);
    return json::write(document, {.pretty = pretty});
}

} // namespace velk
