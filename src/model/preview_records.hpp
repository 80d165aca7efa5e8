#pragma once
// What a camera advertises for live preview, how its preview is carried now, and the rotation
// that turns each camera's preview frames upright on the Director's wall.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace velk {

struct PreviewCapabilities {
    std::optional<std::int64_t> version;
    std::set<std::string> transports;
    std::set<std::string> codecs;
    std::set<std::int64_t> requestModes;
    std::set<std::int64_t> persistentModes;
    std::optional<double> wifiBandGHz;
    std::optional<double> usableMbps;

    bool isAdvertised() const;
    bool advertisesH264() const;
    bool supportsPersistentJPEG() const;

    bool operator==(const PreviewCapabilities&) const = default;
};

struct PreviewTransportStatus {
    std::set<std::int64_t> modes;
    std::optional<std::string> codec;
    std::optional<std::string> policy;
    std::optional<std::int64_t> wallTargetFPS;
    std::optional<std::int64_t> selectedTargetFPS;
    std::optional<std::string> thermalLevel;
    std::optional<std::int64_t> connections;
    std::optional<std::int64_t> deliveryLimitedClients;
    std::optional<std::int64_t> pendingEncodeJobs;
    // Each counter as "name=value".
    std::set<std::string> encodeCounters;
    std::optional<std::string> band;
    bool capacityMeasured = false;
    std::optional<bool> fullStream4K;

    bool isAdvertised() const;
    bool supportsPersistentJPEG() const;

    bool operator==(const PreviewTransportStatus&) const = default;
};

namespace CameraFrameOrientation {

// Degrees folded into 0...359.
int normalized(std::int64_t degrees);
// Whether a declared aspect text such as "16:9", "16x9" or "9×16" is landscape; none for square,
// unreadable or non-positive aspects.
std::optional<bool> isLandscape(std::string_view aspect);
// The rotation to apply to a frame: a quarter turn is dropped when the frame already has the
// declared shape, because its pixels then arrive upright.
int effectiveRotation(double imageWidth, double imageHeight, std::string_view declaredAspect,
                      std::int64_t advertisedRotation);

} // namespace CameraFrameOrientation

// Per-camera preview rotation of the Director window: frozen while a camera records, and keeping
// the operator's manual quarter turns.
class PreviewRotationState {
public:
    // Rotation in degrees (0...359) to apply to each camera's preview now.
    std::map<std::string, int> rotations;
    // Cameras whose rotation is frozen because they record.
    std::set<std::string> locked;

    void update(const std::string& id, std::int64_t advertised, std::string_view aspect, double width,
                double height, bool recording, bool explicitGeometry);
    // Adds a manual quarter turn; false (and no change) while the camera is locked.
    bool rotate(const std::string& id);

    bool operator==(const PreviewRotationState&) const = default;

private:
    std::map<std::string, int> m_corrections;
};

} // namespace velk

template <>
struct std::hash<velk::PreviewCapabilities> {
    std::size_t operator()(const velk::PreviewCapabilities& capabilities) const noexcept;
};
template <>
struct std::hash<velk::PreviewTransportStatus> {
    std::size_t operator()(const velk::PreviewTransportStatus& status) const noexcept;
};
