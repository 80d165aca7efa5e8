#pragma once
// What the Mac knows about one camera heard on the live control channel. The channel builds a new
// value from every accepted status snapshot; readers decide from the tests below. Every test that
// depends on time takes the time as an argument.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/clock.hpp"
#include "model/preview_records.hpp"

namespace velk {

struct LiveCamera {
    // Seconds since the last accepted status after which a camera counts as offline / is dropped.
    static constexpr double offlineAfter = 6.5;
    static constexpr double forgetAfter = 30.0;

    std::string id;
    std::string name;
    std::string role;
    std::string host;
    bool recording = false;
    // Wall-clock start of the current recording, ms since 1970; 0 or less when not reported.
    std::int64_t recordingSinceMs = 0;
    std::string takeId;
    std::optional<std::int64_t> battery;
    std::optional<double> freeGB;
    double leftDB = 0;
    double rightDB = 0;
    std::int64_t channels = 0;
    std::string quality;
    std::string aspect;
    std::int64_t previewRotation = 0;
    WallTime lastSeen{};
    PreviewCapabilities previewCapabilities;
    PreviewTransportStatus previewTransport;
    std::optional<bool> previewPixelsOriented;
    bool takeBusy = false;
    bool remoteControl = false;
    bool finalizing = false;
    bool cameraReady = false;
    std::int64_t syncVersion = 0;
    std::int64_t syncPrepareVersion = 0;
    bool warmPrepare = false;
    std::int64_t safeStopVersion = 0;
    std::optional<std::string> sourceSessionID;
    std::int64_t projectSyncVersion = 0;

    // Seconds from lastSeen to the given time; negative when lastSeen is later.
    double ageSeconds(WallTime at) const;
    bool isOnline(WallTime at) const;
    bool isExpired(WallTime at) const;
    bool displaysRecording(WallTime at) const;
    // Recording, busy with a take or finalising: the preview rotation stays frozen.
    bool orientationLocked() const;
    bool canPrepareRecording(WallTime now) const;
    // Running time of the current recording as "HH:MM:SS" (at most 99:59:59), or none.
    std::optional<std::string> recordingElapsed(WallTime at) const;

    bool operator==(const LiveCamera&) const = default;
};

} // namespace velk

template <>
struct std::hash<velk::LiveCamera> {
    std::size_t operator()(const velk::LiveCamera& camera) const noexcept;
};
