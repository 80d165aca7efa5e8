#include <gtest/gtest.h>

#include "library_window/wifi_guard.hpp"

namespace velk::library {
namespace {

const WallTime guardNow = fromWallMs(1'700'000'000'000);

LiveCamera camera(const std::string& id, double ageSeconds, bool recording = false, bool takeBusy = false,
                  bool finalizing = false) {
    LiveCamera c;
    c.id = id;
    c.lastSeen = guardNow - std::chrono::milliseconds(static_cast<std::int64_t>(ageSeconds * 1000));
    c.recording = recording;
    c.takeBusy = takeBusy;
    c.finalizing = finalizing;
    return c;
}

TEST(WiFiGuard, DecisionAndReasonFollowTheRulesInOrder) {
    struct Case {
        const char* name;
        bool busy;
        std::vector<LiveCamera> cameras;
        bool allowed;
        std::string reason;
    };
    const std::string busy = "Finish the active project download, export, or source operation before changing Wi-Fi.";
    const std::string recording = "Stop recording on all online cameras before changing Wi-Fi.";
    const std::string takeBusy = "Wait for camera take preparation or finalization to finish before changing Wi-Fi.";
    const std::string none = "Wi-Fi changes are temporarily unavailable.";
    for (const Case& c : std::vector<Case>{
             {"idle", false, {}, true, none},
             {"busy beats recording", true, {camera("a", 1, true)}, false, busy},
             {"recording found after a busy camera", false, {camera("a", 1, false, true), camera("b", 1, true)}, false, recording},
             {"preparing", false, {camera("a", 1, false, true)}, false, takeBusy},
             {"finalizing", false, {camera("a", 1, false, false, true)}, false, takeBusy},
             {"stale recording camera", false, {camera("a", 10, true)}, true, none},
         }) {
        const WiFiGuardInputs inputs{c.busy, &c.cameras, guardNow};
        EXPECT_EQ(canChangeWiFi(inputs), c.allowed) << c.name;
        EXPECT_EQ(wifiChangeBlockedReason(inputs), c.reason) << c.name;
    }
}

TEST(WiFiGuard, SignatureListsCamerasByIdWithEveryFlag) {
    const std::vector<LiveCamera> none;
    EXPECT_EQ(wifiSafetySignature({false, &none, guardNow}), "false|");
    const std::vector<LiveCamera> cameras{camera("b", 1, true), camera("a", 10, false, false, true)};
    EXPECT_EQ(wifiSafetySignature({true, &cameras, guardNow}), "true|a:false:false:false:true|b:true:true:false:false");
}

TEST(WiFiGuard, TrackerReportsTheFirstSignatureAndEachChange) {
    WiFiGuardTracker tracker;
    EXPECT_TRUE(tracker.changed("false|"));
    EXPECT_FALSE(tracker.changed("false|"));
    EXPECT_TRUE(tracker.changed("true|"));
}

} // namespace
} // namespace velk::library
