#pragma once
// How much preview traffic the Director may ask of the cameras' shared Wi-Fi, and which live
// cameras get a wall preview. Pure.

#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "model/live_camera.hpp"
#include "model/preview_records.hpp"

namespace velk {

enum class VELKPreviewNetworkPolicy { automatic, performance5GHz, conservative24GHz };

namespace PreviewNetworkPolicy {

inline constexpr std::array<VELKPreviewNetworkPolicy, 3> allCases = {
    VELKPreviewNetworkPolicy::automatic, VELKPreviewNetworkPolicy::performance5GHz,
    VELKPreviewNetworkPolicy::conservative24GHz};
// Settings key of the user's choice, stored as the raw value.
inline constexpr const char* settingsKey = "director.previewNetworkPolicy";
inline constexpr double minimumBandGHz = 4.9;
inline constexpr double minimumUsableMbps = 65.0;

std::string_view rawValue(VELKPreviewNetworkPolicy policy);
// The raw value is also the id.
inline std::string_view id(VELKPreviewNetworkPolicy policy) { return rawValue(policy); }
std::optional<VELKPreviewNetworkPolicy> fromRaw(std::string_view raw);
std::string_view title(VELKPreviewNetworkPolicy policy);
std::string_view target(VELKPreviewNetworkPolicy policy);
// Never automatic: automatic settles on 5 GHz only when every camera advertises a 5 GHz link with
// enough usable rate.
VELKPreviewNetworkPolicy effective(VELKPreviewNetworkPolicy policy, const std::vector<PreviewCapabilities>& capabilities);

} // namespace PreviewNetworkPolicy

namespace LivePreviewRoster {

inline constexpr std::size_t maximumCameras = 8;

// A Director's own announcements carry this role in any letter case; they never get a preview.
bool isDirectorRole(const std::string& role);
// Online cameras that are not Directors, the first eight in list order.
std::vector<LiveCamera> eligible(const std::vector<LiveCamera>& cameras, WallTime at);
std::set<std::string> eligibleIDs(const std::vector<LiveCamera>& cameras, WallTime at);
std::set<std::string> eligibleIDs(const std::vector<LiveCamera>& cameras);

} // namespace LivePreviewRoster

} // namespace velk
