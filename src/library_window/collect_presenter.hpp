#pragma once
// The Collect from Cameras sheet's rules: which sources and cameras are listed, the chosen
// source, the pairing-code filter, the primary button and the per-row presentation.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "library_window/library_presenter.hpp"
#include "model/discovered_device.hpp"
#include "model/live_camera.hpp"
#include "model/progress.hpp"

namespace velk::library {

inline constexpr std::size_t collectListLimit = 8;

// Sources of the secure transfer type only, in the browser's order, at most eight.
std::vector<DiscoveredDevice> transferDevices(const std::vector<DiscoveredDevice>& devices);
// Online cameras that are not a Director, in the channel's order, at most eight.
std::vector<LiveCamera> collectLiveCameras(const std::vector<LiveCamera>& cameras, WallTime now);
// The listed source the choice names, if it is still listed.
std::optional<DiscoveredDevice> selectedDevice(const std::vector<DiscoveredDevice>& listed,
                                               const std::optional<std::string>& pairingDeviceID);

// Keeps only decimal digits of any script, written as ASCII digits, at most six.
std::string filteredPairingCode(std::string_view typed);

struct CollectInputs {
    const DiscoveredDevice* selected = nullptr;
    bool requireSecure = false;
    bool isBusy = false;
    bool fingerprintConfirmed = false;
    std::string pairingCode;
};
// An open-sharing source chosen while the setting allows open access needs no pairing.
bool opensWithoutPairing(const CollectInputs& inputs);
bool showsPairingPanel(const CollectInputs& inputs);
std::string primaryTitle(const CollectInputs& inputs);
bool primaryEnabled(const CollectInputs& inputs);
// Loading every open source is what the secure setting forbids.
bool loadAllOpenEnabled(const std::vector<DiscoveredDevice>& listed, bool isBusy, bool requireSecure);

struct SourceCard {
    std::string symbol;
    Tint tint;
    std::string title;
    std::string capability;
    bool enabled;
    bool chosen;
};
SourceCard sourceCard(const DiscoveredDevice& device, const std::optional<std::string>& pairingDeviceID);
// What a source card tells assistive tools beyond its name: its capability and its place among the
// cards ("Secure pairing • HTTPS, 1 of 2").
std::string sourceCardDescription(const SourceCard& card, std::size_t index, std::size_t count);

// The source cards are one choice, as radio buttons are on the desktop: Tab reaches one card of
// them, the chosen one, or the first that can be chosen while none is (none while none can be), and
// an arrow key chooses the next card that can be chosen `step` (+1 or -1) on, none past either end.
std::optional<std::size_t> sourceCardTabStop(const std::vector<SourceCard>& cards);
std::optional<std::size_t> sourceCardAfterArrow(const std::vector<SourceCard>& cards, std::size_t from, int step);

// The fingerprint the user compares with the one the phone shows, grouped as the pairing card shows
// it ("C94F 3A98 …"); the confirmation box beside it tells it too, so a screen reader speaks it
// where the box asks for the comparison.
std::string fingerprintToCompare(const DiscoveredDevice& device);

// Asking a camera to share its files needs it online and not busy with a take.
bool cameraCardEnabled(const LiveCamera& camera, WallTime now);

// "Paired • expires 14:05" with the time already formatted by the caller.
std::string sessionLine(const TransferSessionSummary& session, std::string_view expiryTime);

// The collect status card's message is orange for a source that needs a retry.
Tint collectMessageTint(const CollectSourceStatus& status);

} // namespace velk::library
