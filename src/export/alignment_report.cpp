#include "export/alignment_report.hpp"

namespace velk {

void to_json(Json& json, const ExportClipReport& report) {
    json = Json::object();
    json["cameraId"] = report.cameraId;
    json["path"] = report.path;
    json["sha256"] = report.sha256;
    json["media"] = report.media;
    json["correction"] = report.correction;
    json["playbackSpeedPercent"] = report.playbackSpeedPercent;
}

void from_json(const Json& json, ExportClipReport& report) {
    const Json& object = json::requireObject(json, "clips");
    ExportClipReport decoded;
    decoded.cameraId = json::requireString(object, "cameraId");
    decoded.path = json::requireString(object, "path");
    decoded.sha256 = json::requireString(object, "sha256");
    auto media = object.find("media");
    if (media == object.end()) throw JsonError("Missing key \"media\".");
    from_json(*media, decoded.media);
    auto correction = object.find("correction");
    if (correction == object.end()) throw JsonError("Missing key \"correction\".");
    from_json(*correction, decoded.correction);
    decoded.playbackSpeedPercent = json::requireDouble(object, "playbackSpeedPercent");
    report = decoded;
}

void to_json(Json& json, const AlignmentReport& report) {
    json = Json::object();
    json["schemaVersion"] = report.schemaVersion;
    json["projectId"] = report.projectId;
    json["takeId"] = report.takeId;
    json["referenceCameraId"] = report.referenceCameraId;
    json["originalsModified"] = report.originalsModified;
    json["resolveImportVerified"] = report.resolveImportVerified;
    json["clips"] = report.clips;
}

void from_json(const Json& json, AlignmentReport& report) {
    const Json& object = json::requireObject(json, "report");
    AlignmentReport decoded;
    decoded.schemaVersion = json::requireInt64(object, "schemaVersion");
    decoded.projectId = json::requireString(object, "projectId");
    decoded.takeId = json::requireString(object, "takeId");
    decoded.referenceCameraId = json::requireString(object, "referenceCameraId");
    decoded.originalsModified = json::requireBool(object, "originalsModified");
    decoded.resolveImportVerified = json::requireBool(object, "resolveImportVerified");
    decoded.clips = json::requireArray<ExportClipReport>(object, "clips");
    report = decoded;
}

} // namespace velk
