#include "library_window/wifi_guard.hpp"

#include <algorithm>

#include "library_window/library_texts.hpp"

namespace velk::library {

namespace {

const std::vector<LiveCamera>& camerasOf(const WiFiGuardInputs& inputs) {
    static const std::vector<LiveCamera> none;
    return inputs.cameras ? *inputs.cameras : none;
}

bool anyOnline(const WiFiGuardInputs& inputs, bool (*test)(const LiveCamera&)) {
    const auto& cameras = camerasOf(inputs);
    return std::any_of(cameras.begin(), cameras.end(),
                       [&](const LiveCamera& camera) { return camera.isOnline(inputs.now) && test(camera); });
}

bool isRecording(const LiveCamera& camera) { return camera.recording; }
// Finalising counts like preparing: both hold the take open on the phone.
bool isBusyWithTake(const LiveCamera& camera) { return camera.takeBusy || camera.finalizing; }

const char* flag(bool value) { return value ? "true" : "false"; }

} // namespace

bool canChangeWiFi(const WiFiGuardInputs& inputs) {
    if (inputs.isBusy) return false;
    return !anyOnline(inputs, isRecording) && !anyOnline(inputs, isBusyWithTake);
}

std::string wifiChangeBlockedReason(const WiFiGuardInputs& inputs) {
    if (inputs.isBusy) return library_text::wifiBusy;
    if (anyOnline(inputs, isRecording)) return library_text::wifiRecording;
    if (anyOnline(inputs, isBusyWithTake)) return library_text::wifiTakeBusy;
    return library_text::wifiUnavailable;
}

std::string wifiSafetySignature(const WiFiGuardInputs& inputs) {
    std::vector<const LiveCamera*> sorted;
    for (const LiveCamera& camera : camerasOf(inputs)) sorted.push_back(&camera);
    std::stable_sort(sorted.begin(), sorted.end(), [](const LiveCamera* a, const LiveCamera* b) { return a->id < b->id; });
    std::string signature = std::string(flag(inputs.isBusy)) + "|";
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const LiveCamera& camera = *sorted[i];
        if (i > 0) signature += "|";
        signature += camera.id + ":" + flag(camera.isOnline(inputs.now)) + ":" + flag(camera.recording) + ":" +
                     flag(camera.takeBusy) + ":" + flag(camera.finalizing);
    }
    return signature;
}

bool WiFiGuardTracker::changed(const std::string& signature) {
    if (m_last && *m_last == signature) return false;
    m_last = signature;
    return true;
}

} // namespace velk::library
