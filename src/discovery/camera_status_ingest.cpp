#include "discovery/camera_status_ingest.hpp"

#include <algorithm>

#include "base/unicode.hpp"
#include "director/recording_wire.hpp"
#include "discovery/preview_decoding.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {

namespace {

constexpr const char* defaultRole = "CAMERA";
constexpr const char* unknownText = "\xE2\x80\x94"; // one em dash
constexpr double silentLevelDB = -60.0;

std::optional<std::string> lowercasedSession(const std::optional<std::string>& session) {
    if (!session) return std::nullopt;
    return text::lowercased(*session);
}

} // namespace

bool isDirectorSnapshot(const Json& payload) {
    auto role = wire::string(wire::member(payload, "role"));
    return role && text::uppercased(*role) == "DIRECTOR";
}

DirectorRecordingPeer recordingPeer(const LiveCameraPacket& packet, const std::string& host, double nowMs) {
    const Json& p = packet.payload;
    DirectorRecordingPeer peer;
    peer.id = packet.cameraID();
    peer.name = wire::string(wire::member(p, "name")).value_or(peer.id);
    peer.host = host;
    peer.session = lowercasedSession(packet.sessionText());
    peer.seenAt = nowMs;
    peer.remoteControl = wire::strictBoolean(wire::member(p, "remoteControl")).value_or(false);
    peer.syncVersion = RecordingWire::integer(wire::member(p, "syncVersion")).value_or(0);
    peer.prepareVersion = RecordingWire::integer(wire::member(p, "syncPrepareVersion")).value_or(0);
    peer.warmPrepare = wire::strictBoolean(wire::member(p, "warmPrepare")).value_or(false);
    peer.safeStopVersion = RecordingWire::integer(wire::member(p, "safeStopVersion")).value_or(0);
    peer.ready = wire::strictBoolean(wire::member(p, "cameraReady")).value_or(false);
    // A camera that does not say it is free counts as busy to the coordinator.
    peer.busy = wire::strictBoolean(wire::member(p, "takeBusy")).value_or(true);
    peer.recording = wire::strictBoolean(wire::member(p, "recording")).value_or(false);
    peer.finalizing = wire::strictBoolean(wire::member(p, "finalizing")).value_or(false);
    peer.takeID = wire::string(wire::member(p, "takeId")).value_or(std::string());
    peer.projectSyncVersion = RecordingWire::integer(wire::member(p, "projectSyncVersion")).value_or(0);
    return peer;
}

std::optional<LiveCamera> cameraRecord(const std::vector<LiveCamera>& cameras, const std::string& sender,
                                       const std::string& host, const Json& payload,
                                       const std::optional<std::string>& session, WallTime now) {
    std::string id = wire::string(wire::member(payload, "id")).value_or(sender);
    if (id.empty() || id.size() > maximumIdentityBytes) return std::nullopt;
    auto sessionID = lowercasedSession(session);

    const LiveCamera* previous = nullptr;
    bool listed = false;
    for (const LiveCamera& camera : cameras) {
        if (camera.id != id) continue;
        listed = true;
        if (!previous && camera.host == host && camera.sourceSessionID == sessionID) previous = &camera;
    }
    // The cap holds new cameras out; a listed camera that moved or restarted is still updated.
    if (!listed && cameras.size() >= maximumListedCameras) return std::nullopt;

    auto geometry = decodePreviewGeometry(wire::member(payload, "previewGeometry"));
    auto key = [&](const char* name) { return wire::member(payload, name); };
    auto orPrevious = [&](auto value, auto field, auto fallback) {
        using Value = decltype(fallback);
        if (value) return Value(*value);
        return previous ? Value((*previous).*field) : fallback;
    };

    LiveCamera camera;
    camera.id = id;
    camera.name = orPrevious(wire::string(key("name")), &LiveCamera::name, id);
    camera.role = orPrevious(wire::string(key("role")), &LiveCamera::role, std::string(defaultRole));
    camera.host = host;
    camera.recording = orPrevious(wire::strictBoolean(key("recording")), &LiveCamera::recording, false);
    camera.recordingSinceMs =
        orPrevious(wire::lenientInteger(key("recordingSinceMs")), &LiveCamera::recordingSinceMs, std::int64_t{0});
    camera.takeId = orPrevious(wire::string(key("takeId")), &LiveCamera::takeId, std::string());
    if (auto battery = wire::lenientInteger(key("battery"))) camera.battery = battery;
    else if (previous) camera.battery = previous->battery;
    if (auto free = wire::lenientDouble(key("freeGb"))) camera.freeGB = free;
    else if (previous) camera.freeGB = previous->freeGB;
    camera.leftDB = orPrevious(wire::lenientDouble(key("leftDb")), &LiveCamera::leftDB, silentLevelDB);
    camera.rightDB = orPrevious(wire::lenientDouble(key("rightDb")), &LiveCamera::rightDB, silentLevelDB);
    camera.channels = orPrevious(wire::lenientInteger(key("channels")), &LiveCamera::channels, std::int64_t{0});
    camera.quality = orPrevious(wire::string(key("quality")), &LiveCamera::quality, std::string(unknownText));
    camera.aspect = orPrevious(wire::string(key("aspect")), &LiveCamera::aspect, std::string(unknownText));
    if (geometry) {
        camera.previewRotation = geometry->rotation;
        camera.previewPixelsOriented = geometry->pixelsOriented;
    } else {
        camera.previewRotation =
            orPrevious(wire::lenientInteger(key("previewRotation")), &LiveCamera::previewRotation, std::int64_t{0});
        if (previous) camera.previewPixelsOriented = previous->previewPixelsOriented;
    }
    camera.previewCapabilities = orPrevious(decodePreviewCapabilities(key("previewCapabilities")),
                                            &LiveCamera::previewCapabilities, PreviewCapabilities{});
    camera.previewTransport = orPrevious(decodePreviewTransport(key("previewTransport")),
                                         &LiveCamera::previewTransport, PreviewTransportStatus{});
    camera.takeBusy = orPrevious(wire::strictBoolean(key("takeBusy")), &LiveCamera::takeBusy, false);
    camera.remoteControl = orPrevious(wire::strictBoolean(key("remoteControl")), &LiveCamera::remoteControl, false);
    camera.finalizing = orPrevious(wire::strictBoolean(key("finalizing")), &LiveCamera::finalizing, false);
    camera.cameraReady = wire::strictBoolean(key("cameraReady")).value_or(false);
    camera.syncVersion = RecordingWire::integer(key("syncVersion")).value_or(0);
    camera.syncPrepareVersion = RecordingWire::integer(key("syncPrepareVersion")).value_or(0);
    camera.warmPrepare = wire::strictBoolean(key("warmPrepare")).value_or(false);
    camera.safeStopVersion = RecordingWire::integer(key("safeStopVersion")).value_or(0);
    camera.projectSyncVersion = RecordingWire::integer(key("projectSyncVersion")).value_or(0);
    camera.lastSeen = now;
    camera.sourceSessionID = sessionID;
    return camera;
}

bool ingestCamera(std::vector<LiveCamera>& cameras, const std::string& sender, const std::string& host,
                  const Json& payload, const std::optional<std::string>& session, WallTime now) {
    auto camera = cameraRecord(cameras, sender, host, payload, session, now);
    if (!camera) return false;
    std::erase_if(cameras, [&](const LiveCamera& listed) { return listed.id == camera->id; });
    cameras.push_back(std::move(*camera));
    std::stable_sort(cameras.begin(), cameras.end(), [](const LiveCamera& a, const LiveCamera& b) {
        return text::localizedCaseInsensitiveCompare(a.name, b.name) < 0;
    });
    return true;
}

} // namespace velk
