#pragma once
// Whether this computer's Wi-Fi network may be changed now, and why not: never while the store
// runs a download, source operation or export, nor while an online camera records, prepares or
// finalises a take.

#include <string>
#include <vector>

#include "base/clock.hpp"
#include "model/live_camera.hpp"

namespace velk::library {

struct WiFiGuardInputs {
    bool isBusy = false;
    const std::vector<LiveCamera>* cameras = nullptr;
    WallTime now{};
};

bool canChangeWiFi(const WiFiGuardInputs& inputs);
// The first reason that applies; "Wi-Fi changes are temporarily unavailable." when none does.
std::string wifiChangeBlockedReason(const WiFiGuardInputs& inputs);
// Every input of the decision in one text, cameras ordered by id: the gate follows its changes.
std::string wifiSafetySignature(const WiFiGuardInputs& inputs);

// What the window keeps to follow the signature: tells whether the gate must be updated now.
class WiFiGuardTracker {
public:
    // True on the first call and whenever the signature differs from the last one seen.
    bool changed(const std::string& signature);

private:
    std::optional<std::string> m_last;
};

} // namespace velk::library
