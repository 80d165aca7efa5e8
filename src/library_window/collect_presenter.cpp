#include "library_window/collect_presenter.hpp"

#include <algorithm>

#include "base/unicode.hpp"
#include "discovery/lan_discovery.hpp"
#include "library_window/library_texts.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk::library {

namespace T = library_text;

std::vector<DiscoveredDevice> transferDevices(const std::vector<DiscoveredDevice>& devices) {
    std::vector<DiscoveredDevice> listed;
    for (const DiscoveredDevice& device : devices) {
        if (listed.size() == collectListLimit) break;
        if (device.serviceType == lan::transferServiceType) listed.push_back(device);
    }
    return listed;
}

std::vector<LiveCamera> collectLiveCameras(const std::vector<LiveCamera>& cameras, WallTime now) {
    std::vector<LiveCamera> listed;
    for (const LiveCamera& camera : cameras) {
        if (listed.size() == collectListLimit) break;
        if (camera.isOnline(now) && text::uppercased(camera.role) != "DIRECTOR") listed.push_back(camera);
    }
    return listed;
}

std::optional<DiscoveredDevice> selectedDevice(const std::vector<DiscoveredDevice>& listed,
                                               const std::optional<std::string>& pairingDeviceID) {
    if (!pairingDeviceID) return std::nullopt;
    for (const DiscoveredDevice& device : listed) {
        if (device.id() == *pairingDeviceID) return device;
    }
    return std::nullopt;
}

std::string filteredPairingCode(std::string_view typed) {
    std::string code;
    for (char32_t scalar : text::scalars(typed)) {
        if (code.size() == static_cast<std::size_t>(TransferProtocol::pairingCodeLength)) break;
        if (const auto digit = text::decimalDigitValue(scalar)) code.push_back(static_cast<char>('0' + *digit));
    }
    return code;
}

bool opensWithoutPairing(const CollectInputs& in) {
    return in.selected && !in.requireSecure && in.selected->supportsOpenTransfer();
}

bool showsPairingPanel(const CollectInputs& in) { return in.selected && !opensWithoutPairing(in); }

std::string primaryTitle(const CollectInputs& in) { return opensWithoutPairing(in) ? T::loadProjects : T::pairAndLoad; }

bool primaryEnabled(const CollectInputs& in) {
    if (!in.selected) return false;
    if (!in.selected->supportsAuthenticatedTransfer()) return false;
    if (in.isBusy) return false;
    if (opensWithoutPairing(in)) return true;
    return in.fingerprintConfirmed && TransferProtocol::isValidPairingCode(in.pairingCode);
}

bool loadAllOpenEnabled(const std::vector<DiscoveredDevice>& listed, bool isBusy, bool requireSecure) {
    if (isBusy || requireSecure) return false;
    return std::any_of(listed.begin(), listed.end(), [](const DiscoveredDevice& d) { return d.supportsOpenTransfer(); });
}

SourceCard sourceCard(const DiscoveredDevice& device, const std::optional<std::string>& pairingDeviceID) {
    const bool secure = device.supportsAuthenticatedTransfer();
    std::string capability = device.supportsOpenTransfer() ? T::capabilityOpen
                             : secure                      ? T::capabilitySecure
                                                           : T::capabilityIncomplete;
    return {secure ? "iphone.gen3.radiowaves.left.and.right" : "exclamationmark.shield",
            secure ? Tint::green : Tint::orange,
            device.serviceName,
            std::move(capability),
            secure,
            pairingDeviceID && *pairingDeviceID == device.id()};
}

std::string sourceCardDescription(const SourceCard& card, std::size_t index, std::size_t count) {
    return card.capability + ", " + std::to_string(index + 1) + " of " + std::to_string(count);
}

std::optional<std::size_t> sourceCardTabStop(const std::vector<SourceCard>& cards) {
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        if (cards[i].chosen) return i;
        if (cards[i].enabled && !first) first = i;
    }
    return first;
}

std::optional<std::size_t> sourceCardAfterArrow(const std::vector<SourceCard>& cards, std::size_t from, int step) {
    for (std::size_t i = from + static_cast<std::size_t>(step); i < cards.size(); i += static_cast<std::size_t>(step))
        if (cards[i].enabled) return i;
    return std::nullopt;
}

std::string fingerprintToCompare(const DiscoveredDevice& device) { return device.fingerprintDisplay(); }

bool cameraCardEnabled(const LiveCamera& camera, WallTime now) {
    return camera.isOnline(now) && !camera.orientationLocked();
}

std::string sessionLine(const TransferSessionSummary& session, std::string_view expiryTime) {
    return std::string(session.openAccess ? T::openLAN : T::paired) + T::expiresJoin + std::string(expiryTime);
}

Tint collectMessageTint(const CollectSourceStatus& status) {
    return status.phase == CollectSourcePhase::failed ? Tint::orange : Tint::secondary;
}

} // namespace velk::library
