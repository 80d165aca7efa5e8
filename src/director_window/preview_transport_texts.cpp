#include "director_window/preview_transport_texts.hpp"

#include <vector>

#include <unicode/uchar.h>

#include "base/unicode.hpp"
#include "director_window/number_text.hpp"

namespace velk::PreviewTransportTexts {

namespace {

constexpr const char* kNoCamera = "No camera";
constexpr const char* kOffline = "Offline";
constexpr const char* kNotAdvertised = "Not advertised";
constexpr const char* kSeparator = " \u2022 ";

std::string joined(const std::vector<std::string>& parts) {
    std::string result;
    for (const auto& part : parts) {
        if (!result.empty()) result += kSeparator;
        result += part;
    }
    return result;
}

} // namespace

std::string capitalized(const std::string& value) {
    // A word starts at any letter that follows a non-letter, so "5ghz" reads "5Ghz", as the
    // cameras' band and thermal texts have always been shown.
    std::vector<char32_t> scalars = text::scalars(value);
    bool afterLetter = false;
    for (char32_t& scalar : scalars) {
        const bool letter = text::isAlphabetic(scalar);
        if (letter) scalar = static_cast<char32_t>(afterLetter ? u_tolower(static_cast<UChar32>(scalar))
                                                               : u_totitle(static_cast<UChar32>(scalar)));
        afterLetter = letter;
    }
    return text::fromScalars(scalars);
}

std::string selectedLinkStatus(const LiveCamera* camera, bool online) {
    if (!camera) return kNoCamera;
    if (!online) return kOffline;
    const auto& capabilities = camera->previewCapabilities;
    if (capabilities.wifiBandGHz && capabilities.usableMbps)
        return numberText::fixed(*capabilities.wifiBandGHz, 1) + " GHz" + kSeparator +
               numberText::fixed(*capabilities.usableMbps, 0) + " Mbps";
    const auto& transport = camera->previewTransport;
    if (!transport.isAdvertised()) return kNotAdvertised;
    return (transport.band ? capitalized(*transport.band) : std::string("Band unknown")) +
           (transport.capacityMeasured ? " \u2022 measured" : " \u2022 unmeasured");
}

std::string advertisedTransportStatus(const LiveCamera* camera, bool online) {
    if (!camera || !online) return kOffline;
    const auto& transport = camera->previewTransport;
    if (!transport.isAdvertised()) return kNotAdvertised;
    std::vector<std::string> parts{transport.codec.value_or("Unknown codec")};
    if (transport.policy) parts.push_back(text::uppercased(*transport.policy));
    if (transport.wallTargetFPS && transport.selectedTargetFPS)
        parts.push_back(std::to_string(*transport.wallTargetFPS) + "/" + std::to_string(*transport.selectedTargetFPS) + " fps");
    return joined(parts);
}

std::string previewHealthStatus(const LiveCamera* camera, bool online) {
    if (!camera || !online) return kOffline;
    const auto& transport = camera->previewTransport;
    if (!transport.isAdvertised()) return kNotAdvertised;
    std::vector<std::string> parts;
    if (transport.thermalLevel) parts.push_back(capitalized(*transport.thermalLevel));
    if (transport.deliveryLimitedClients && *transport.deliveryLimitedClients > 0)
        parts.push_back(std::to_string(*transport.deliveryLimitedClients) + " limited");
    if (transport.pendingEncodeJobs) parts.push_back(std::to_string(*transport.pendingEncodeJobs) + " pending");
    return parts.empty() ? "Normal" : joined(parts);
}

std::string h264Status(const LiveCamera* camera, bool online) {
    if (!camera) return kNoCamera;
    if (!online) return kOffline;
    return camera->previewCapabilities.advertisesH264() ? "Advertised \u2022 inactive" : kNotAdvertised;
}

std::string fullStream4KStatus(const LiveCamera* camera, bool online) {
    if (!camera || !online) return kOffline;
    const auto& full = camera->previewTransport.fullStream4K;
    if (!full) return kNotAdvertised;
    return *full ? "Advertised \u2022 inactive" : "No \u2022 separate future path";
}

std::string transportStatus(VELKPreviewProfile profile, const std::optional<std::string>& previewCameraID,
                            VELKPreviewNetworkPolicy effective,
                            const std::optional<VELKPreviewClient::Transport>& transport) {
    using VELKPreviewClient::Transport;
    if (!previewCameraID) return kNoCamera;
    const bool selected = profile == VELKPreviewProfile::selected;
    if (selected && effective == VELKPreviewNetworkPolicy::conservative24GHz) return "Off \u2022 using wall preview";
    if (!transport) return "Negotiating\u2026";
    const bool persistent = *transport == Transport::persistent;
    if (!selected) return persistent ? "JPEG mode 4 \u2022 persistent" : "JPEG mode 1 \u2022 fallback";
    return persistent ? "JPEG mode 5 \u2022 persistent" : "JPEG mode 2 \u2022 fallback";
}

} // namespace velk::PreviewTransportTexts
