// Equality and hashing of the model records.

#include <cmath>
#include <unordered_set>

#include <gtest/gtest.h>

#include "model/discovered_device.hpp"
#include "model/library.hpp"
#include "model/live_camera.hpp"
#include "model/pairing_bodies.hpp"
#include "model/preview_records.hpp"
#include "model/progress.hpp"

namespace velk {
namespace {

template <class T>
void expectSameValue(const T& a, const T& b) {
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<T>{}(a), std::hash<T>{}(b));
    EXPECT_EQ((std::unordered_set<T>{a, b}.size()), 1u);
}

TEST(RecordValues, SignedZerosAreEqualAndNaNIsNot) {
    expectSameValue(TimingAnchor{1, 2, 0.0, 3}, TimingAnchor{1, 2, -0.0, 3});
    VELKClip zero{.id = "c", .anchors = {{1, 2, 0.0, 3}}}, negativeZero{.id = "c", .anchors = {{1, 2, -0.0, 3}}};
    expectSameValue(zero, negativeZero);
    const TimingAnchor nan{std::nan(""), 0, 0, 0};
    EXPECT_NE(nan, nan);
    LiveCamera a{.id = "cam", .leftDB = 0.0}, b{.id = "cam", .leftDB = -0.0};
    expectSameValue(a, b);
    expectSameValue(PreviewCapabilities{.wifiBandGHz = 0.0}, PreviewCapabilities{.wifiBandGHz = -0.0});
}

TEST(RecordValues, AbsentOptionalsEqualOnlyAbsent) {
    VELKClip clip{.id = "c", .localPath = "/a"};
    expectSameValue(clip, VELKClip{.id = "c", .localPath = "/a"});
    EXPECT_NE(clip, (VELKClip{.id = "c", .localPath = "/elsewhere"}));
    EXPECT_NE(clip, (VELKClip{.id = "c"}));
    EXPECT_NE((VELKProject{.id = "p"}), (VELKProject{.id = "p", .revision = 0}));
    EXPECT_NE((VELKTake{.id = "t"}), (VELKTake{.id = "t", .createdAt = ""}));
    PreviewTransportStatus status{.encodeCounters = {"dropped=3"}, .fullStream4K = false};
    expectSameValue(status, PreviewTransportStatus{.encodeCounters = {"dropped=3"}, .fullStream4K = false});
    EXPECT_NE(status, (PreviewTransportStatus{.encodeCounters = {"dropped=3"}}));
}

TEST(RecordValues, EveryFieldTakesPart) {
    PairingResponse response{.scopes = {"catalog:read", "media:read"}};
    EXPECT_NE(response, (PairingResponse{.scopes = {"media:read", "catalog:read"}}));

    const WallTime seen = WallTime{} + std::chrono::seconds(1'780'000'000);
    LiveCamera camera{.id = "cam", .lastSeen = seen};
    EXPECT_NE(camera, (LiveCamera{.id = "cam", .lastSeen = seen + std::chrono::milliseconds(1)}));
    LiveCamera h264 = camera;
    h264.previewCapabilities.codecs.insert("h264");
    EXPECT_NE(camera, h264);

    TransferStatus row{.id = "r", .clipName = "c", .phase = TransferPhase::failed, .completedBytes = 1, .totalBytes = 2};
    expectSameValue(row, TransferStatus{row});
    TransferStatus withMessage = row;
    withMessage.message = "Digest mismatch";
    EXPECT_NE(row, withMessage);
    CollectSourceStatus source{.deviceID = "d", .name = "n", .phase = CollectSourcePhase::ready};
    CollectSourceStatus other = source;
    other.message = "x";
    EXPECT_NE(source, other);

    TransferSessionSummary summary{.deviceId = "dev", .deviceName = "Phone", .sessionId = "s", .expiresAt = seen};
    TransferSessionSummary later = summary;
    expectSameValue(summary, later);
    later.expiresAt += std::chrono::seconds(1);
    EXPECT_NE(summary, later);
    EXPECT_EQ(summary.id(), "dev");
}

TEST(RecordValues, DiscoveredSourcesDifferingInDeviceIdShareTheIdentityOnly) {
    DiscoveredDevice a{.serviceName = "A", .catalogURL = "https://h/c", .deviceId = "dev-a", .sessionId = "s"};
    DiscoveredDevice b = a;
    b.deviceId = "other";
    EXPECT_EQ(a.id(), b.id());
    EXPECT_NE(a, b);
    b.deviceId = a.deviceId;
    expectSameValue(a, b);
}

TEST(RecordValues, ActivityEntriesAreDistinctEvenWithEqualArguments) {
    const WallTime date = WallTime{} + std::chrono::seconds(5);
    ActivityEntry a(date, "Imported manifest");
    ActivityEntry b(date, "Imported manifest");
    EXPECT_NE(a, b);
    EXPECT_NE(a.id(), b.id());
    expectSameValue(a, ActivityEntry{a});
    EXPECT_FALSE(a.isError);
    EXPECT_TRUE(ActivityEntry(date, "Resolve export failed: x", true).isError);
}

} // namespace
} // namespace velk
