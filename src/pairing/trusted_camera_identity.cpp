#include "pairing/trusted_camera_identity.hpp"

#include <algorithm>
#include <cmath>

#include "base/json.hpp"
#include "pairing/camera_pairing_wire.hpp"

namespace velk::TrustedCameraFile {

namespace {

constexpr std::size_t identifierLimit = 128;
constexpr std::size_t publicKeyBytes = 65;
// The span of a nanosecond clock, less a margin; dates beyond it are kept at the edge.
constexpr double representableSeconds = 9.0e9;

} // namespace

double pairedAtSeconds(WallTime time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count() - referenceEpochSeconds;
}

WallTime pairedAtTime(double seconds) {
    const double sinceUnix = std::clamp(seconds + referenceEpochSeconds, -representableSeconds, representableSeconds);
    return WallTime(std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(sinceUnix)));
}

std::string encode(const std::vector<TrustedCameraIdentity>& cameras) {
    Json array = Json::array();
    for (const TrustedCameraIdentity& camera : cameras) {
        array.push_back(Json{{"id", camera.id},
                             {"name", camera.name},
                             {"publicKey", camera.publicKey},
                             {"pairedAt", pairedAtSeconds(camera.pairedAt)}});
    }
    return json::write(array);
}

std::optional<std::vector<TrustedCameraIdentity>> decode(std::string_view document) {
    std::vector<TrustedCameraIdentity> decoded;
    try {
        const Json root = json::parse(document);
        if (!root.is_array()) return std::nullopt;
        for (const Json& element : root) {
            const Json& object = json::requireObject(element, "trusted camera");
            decoded.push_back(TrustedCameraIdentity{json::requireString(object, "id"), json::requireString(object, "name"),
                                                    json::requireString(object, "publicKey"),
                                                    pairedAtTime(json::requireDouble(object, "pairedAt"))});
        }
    } catch (const JsonError&) {
        return std::nullopt;
    }
    if (decoded.size() > maximumEntries) return std::nullopt;
    std::vector<TrustedCameraIdentity> kept;
    for (TrustedCameraIdentity& camera : decoded) {
        if (!CameraPairingWire::bounded(camera.id, identifierLimit)) continue;
        const std::optional<Bytes> key = CameraPairingWire::bytes(camera.publicKey);
        if (!key || key->size() != publicKeyBytes) continue;
        kept.push_back(std::move(camera));
    }
    return kept;
}

} // namespace velk::TrustedCameraFile
