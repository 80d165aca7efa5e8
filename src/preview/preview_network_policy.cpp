#include "preview/preview_network_policy.hpp"

#include <algorithm>

#include "base/unicode.hpp"

namespace velk {

namespace PreviewNetworkPolicy {

std::string_view rawValue(VELKPreviewNetworkPolicy policy) {
    switch (policy) {
    case VELKPreviewNetworkPolicy::automatic: return "automatic";
    case VELKPreviewNetworkPolicy::performance5GHz: return "performance5GHz";
    case VELKPreviewNetworkPolicy::conservative24GHz: return "conservative24GHz";
    }
    return {};
}

std::optional<VELKPreviewNetworkPolicy> fromRaw(std::string_view raw) {
    for (auto policy : allCases) {
        if (rawValue(policy) == raw) return policy;
    }
    return std::nullopt;
}

std::string_view title(VELKPreviewNetworkPolicy policy) {
    switch (policy) {
    case VELKPreviewNetworkPolicy::automatic: return "Auto";
    case VELKPreviewNetworkPolicy::performance5GHz: return "5 GHz Performance";
    case VELKPreviewNetworkPolicy::conservative24GHz: return "2.4 GHz Conservative";
    }
    return {};
}

std::string_view target(VELKPreviewNetworkPolicy policy) {
    switch (policy) {
    case VELKPreviewNetworkPolicy::automatic: return "Capability measured";
    case VELKPreviewNetworkPolicy::performance5GHz: return "65\u201370 Mbps usable target";
    case VELKPreviewNetworkPolicy::conservative24GHz: return "Reduced selected streams";
    }
    return {};
}

VELKPreviewNetworkPolicy effective(VELKPreviewNetworkPolicy policy, const std::vector<PreviewCapabilities>& capabilities) {
    if (policy != VELKPreviewNetworkPolicy::automatic) return policy;
    std::vector<const PreviewCapabilities*> advertised;
    for (const auto& record : capabilities) {
        if (record.isAdvertised()) advertised.push_back(&record);
    }
    if (advertised.empty() || advertised.size() < capabilities.size()) return VELKPreviewNetworkPolicy::conservative24GHz;
    const bool fast = std::all_of(advertised.begin(), advertised.end(), [](const PreviewCapabilities* record) {
        return record->wifiBandGHz && *record->wifiBandGHz >= minimumBandGHz && record->usableMbps &&
               *record->usableMbps >= minimumUsableMbps;
    });
    return fast ? VELKPreviewNetworkPolicy::performance5GHz : VELKPreviewNetworkPolicy::conservative24GHz;
}

} // namespace PreviewNetworkPolicy

namespace LivePreviewRoster {

bool isDirectorRole(const std::string& role) { return text::uppercased(role) == "DIRECTOR"; }

std::vector<LiveCamera> eligible(const std::vector<LiveCamera>& cameras, WallTime at) {
    std::vector<LiveCamera> result;
    for (const auto& camera : cameras) {
        if (result.size() == maximumCameras) break;
        if (camera.isOnline(at) && !isDirectorRole(camera.role)) result.push_back(camera);
    }
    return result;
}

std::set<std::string> eligibleIDs(const std::vector<LiveCamera>& cameras, WallTime at) {
    std::set<std::string> ids;
    for (const auto& camera : eligible(cameras, at)) ids.insert(camera.id);
    return ids;
}

std::set<std::string> eligibleIDs(const std::vector<LiveCamera>& cameras) {
    return eligibleIDs(cameras, std::chrono::system_clock::now());
}

} // namespace LivePreviewRoster

} // namespace velk
