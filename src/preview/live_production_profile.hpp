#pragma once
// Live production: its fixed parameters, its availability text and the words of its routing. This
// build carries them with every operational switch off.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.hpp"
#include "model/live_camera.hpp"

namespace velk {

namespace LiveProductionProfile {

inline constexpr bool defaultEnabled = false;
inline constexpr bool fhdTransportOperational = false;
inline constexpr bool processedPreviewRelayOperational = false;
inline constexpr bool isOperational = false;
inline constexpr bool controlsVisible = false;
inline constexpr int maximumCameras = 8;
inline constexpr int width = 1920;
inline constexpr int height = 1080;
inline constexpr std::array<std::int64_t, 2> allowedFPS = {25, 30};
inline constexpr std::int64_t defaultFPS = 25;
inline constexpr const char* audioCodec = "AAC";
inline constexpr int targetBitrateMbps = 6;
struct ClosedRange {
    int lowerBound;
    int upperBound;
};
inline constexpr ClosedRange adaptiveBitrateRangeMbps = {4, 10};

inline constexpr const char* enabledSettingsKey = "director.liveProductionEnabled";
inline constexpr const char* fpsSettingsKey = "director.liveProductionFPS";

// The value when it is an allowed frame rate, otherwise the default.
std::int64_t normalizedFPS(std::int64_t fps);
// "Unavailable in this build" when asked for, "Off" otherwise.
std::string availability(bool requested, const std::vector<LiveCamera>& cameras);

} // namespace LiveProductionProfile

enum class LiveProductionNodeRole { camera, macDirector, deviceDirector, both };
enum class LiveProductionPreviewIntent { low, fullHD };
enum class LiveProductionPreviewSource { unavailable, cameraLow, cameraDirectFullHD, electedMacProcessedLow };

std::string_view rawValue(LiveProductionNodeRole role);
std::string_view rawValue(LiveProductionPreviewIntent intent);
std::string_view rawValue(LiveProductionPreviewSource source);
std::optional<LiveProductionNodeRole> nodeRoleFromRaw(std::string_view raw);
std::optional<LiveProductionPreviewIntent> previewIntentFromRaw(std::string_view raw);
std::optional<LiveProductionPreviewSource> previewSourceFromRaw(std::string_view raw);

// JSON strings of the raw values; decoding any other value throws JsonError.
void to_json(Json& json, LiveProductionNodeRole role);
void from_json(const Json& json, LiveProductionNodeRole& role);
void to_json(Json& json, LiveProductionPreviewIntent intent);
void from_json(const Json& json, LiveProductionPreviewIntent& intent);
void to_json(Json& json, LiveProductionPreviewSource source);
void from_json(const Json& json, LiveProductionPreviewSource& source);

} // namespace velk
