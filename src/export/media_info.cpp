#include "export/media_info.hpp"

#include <cmath>
#include <limits>

#include "export/drift_engine.hpp"
#include "model/hashing.hpp"

namespace velk {

void to_json(Json& json, const MediaInfo& info) {
    json = Json::object();
    json["duration"] = info.duration;
    json["width"] = info.width;
    json["height"] = info.height;
    json["fps"] = info.fps;
    json["hasAudio"] = info.hasAudio;
}

void from_json(const Json& json, MediaInfo& info) {
    const Json& object = json::requireObject(json, "media");
    MediaInfo decoded;
    decoded.duration = json::requireDouble(object, "duration");
    decoded.width = json::requireInt64(object, "width");
    decoded.height = json::requireInt64(object, "height");
    decoded.fps = json::requireDouble(object, "fps");
    decoded.hasAudio = json::requireBool(object, "hasAudio");
    info = decoded;
}

namespace DriftEngine {

namespace {

// Sizes come from finite container headers; anything else saturates instead of overflowing.
std::int64_t truncatedPixels(double oriented) {
    double magnitude = std::trunc(std::abs(oriented));
    if (!std::isfinite(magnitude)) return std::isnan(magnitude) ? 0 : std::numeric_limits<std::int64_t>::max();
    if (magnitude >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(magnitude);
}

} // namespace

MediaInfo mediaInfo(const std::filesystem::path& file) {
    return mediaInfo(file, LibavMediaProbe::shared());
}

MediaInfo mediaInfo(const std::filesystem::path& file, MediaProbe& probe) {
    std::unique_ptr<MediaAsset> asset = probe.open(file);

    const double duration = asset->durationSeconds();
    if (!std::isfinite(duration) || !(duration > 0)) {
        throw DriftExportError::invalid("Invalid media duration for " + file.filename().string() + ".");
    }

    const std::vector<std::size_t> video = asset->videoTracks();
    if (video.size() != 1) throw DriftExportError::invalid("Each clip must contain exactly one video track.");
    const std::size_t track = video.front();

    const std::vector<std::size_t> audio = asset->audioTracks();
    if (audio.size() > 1) throw DriftExportError::invalid("Multiple audio tracks need manual mapping.");

    const MediaSize size = asset->naturalSize(track);
    const MediaTransform transform = asset->preferredTransform(track);
    const double orientedWidth = transform.a * size.width + transform.c * size.height;
    const double orientedHeight = transform.b * size.width + transform.d * size.height;

    const float rate = asset->nominalFrameRate(track);
    if (!(rate > 0)) throw DriftExportError::invalid("Missing video frame rate.");

    MediaInfo info;
    info.duration = duration;
    info.width = truncatedPixels(orientedWidth);
    info.height = truncatedPixels(orientedHeight);
    info.fps = static_cast<double>(rate);
    info.hasAudio = !audio.empty();
    return info;
}

} // namespace DriftEngine
} // namespace velk

std::size_t std::hash<velk::MediaInfo>::operator()(const velk::MediaInfo& info) const noexcept {
    velk::hashing::Hasher hasher;
    hasher.add(info.duration).add(info.width).add(info.height).add(info.fps).add(info.hasAudio);
    return hasher.value();
}
