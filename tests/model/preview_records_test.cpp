#include "model/preview_records.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

namespace cfo = CameraFrameOrientation;

TEST(PreviewCapabilitiesTests, AdvertisedOnlyWithVersion) {
    PreviewCapabilities caps;
    EXPECT_FALSE(caps.isAdvertised());
    caps.codecs = {"h264"};
    EXPECT_FALSE(caps.isAdvertised());
    caps.version = 0;
    EXPECT_TRUE(caps.isAdvertised());
}

TEST(PreviewCapabilitiesTests, H264NeedsCodecAndTransportExactly) {
    PreviewCapabilities caps{.transports = {"h264-avcc-tcp-v1"}, .codecs = {"h264"}};
    EXPECT_TRUE(caps.advertisesH264());
    caps.codecs = {"H264"};
    EXPECT_FALSE(caps.advertisesH264());
    caps.codecs = {"h264"};
    caps.transports = {"jpeg-tcp-v1"};
    EXPECT_FALSE(caps.advertisesH264());
}

TEST(PreviewCapabilitiesTests, PersistentJPEGNeedsTransportAndModesFourAndFive) {
    PreviewCapabilities caps{.transports = {"jpeg-tcp-v1"}, .persistentModes = {4, 5}};
    EXPECT_TRUE(caps.supportsPersistentJPEG());
    caps.persistentModes = {4};
    EXPECT_FALSE(caps.supportsPersistentJPEG());
    caps.persistentModes = {4, 5};
    caps.requestModes = {4, 5};
    caps.transports = {"JPEG-tcp-v1"};
    EXPECT_FALSE(caps.supportsPersistentJPEG());
}

TEST(PreviewTransportTests, AdvertisedWithCodecOrModes) {
    PreviewTransportStatus status;
    EXPECT_FALSE(status.isAdvertised());
    status.modes = {1};
    EXPECT_TRUE(status.isAdvertised());
    status = {.codec = ""};
    EXPECT_TRUE(status.isAdvertised());
}

TEST(PreviewTransportTests, PersistentJPEGIgnoresCodecCase) {
    PreviewTransportStatus status{.modes = {4, 5, 6}, .codec = "jpeg"};
    EXPECT_TRUE(status.supportsPersistentJPEG());
    status.codec = "JPEG";
    EXPECT_TRUE(status.supportsPersistentJPEG());
    status.codec = "JPG";
    EXPECT_FALSE(status.supportsPersistentJPEG());
    status.codec.reset();
    EXPECT_FALSE(status.supportsPersistentJPEG());
    status.codec = "Jpeg";
    status.modes = {5};
    EXPECT_FALSE(status.supportsPersistentJPEG());
}

TEST(PreviewRecordsValue, EqualityAndHashCoverEveryField) {
    PreviewTransportStatus a{.encodeCounters = {"dropped=3"}, .fullStream4K = false};
    PreviewTransportStatus b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<PreviewTransportStatus>{}(a), std::hash<PreviewTransportStatus>{}(b));
    b.fullStream4K.reset();
    EXPECT_NE(a, b);
    PreviewCapabilities c{.wifiBandGHz = 0.0}, d{.wifiBandGHz = -0.0};
    EXPECT_EQ(c, d);
    EXPECT_EQ(std::hash<PreviewCapabilities>{}(c), std::hash<PreviewCapabilities>{}(d));
}

TEST(FrameOrientationNormalized, FoldsIntoOneTurn) {
    const std::pair<std::int64_t, int> cases[] = {{-90, 270}, {-360, 0}, {360, 0}, {725, 5}, {0, 0},
                                                  {359, 359}, {-1, 359}, {INT64_MIN, 352}, {INT64_MAX, 7}};
    for (auto [degrees, expected] : cases) EXPECT_EQ(cfo::normalized(degrees), expected) << degrees;
}

struct AspectCase {
    const char* text;
    std::optional<bool> landscape;
};

class FrameOrientationAspect : public ::testing::TestWithParam<AspectCase> {};

TEST_P(FrameOrientationAspect, IsLandscape) {
    EXPECT_EQ(cfo::isLandscape(GetParam().text), GetParam().landscape) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FrameOrientationAspect,
    ::testing::Values(AspectCase{"16:9", true}, AspectCase{"16x9", true}, AspectCase{"16X9", true},
                      AspectCase{"16\u00D79", true}, AspectCase{"9:16", false}, AspectCase{"1:1", std::nullopt},
                      AspectCase{"0:9", std::nullopt}, AspectCase{"16:9:1", std::nullopt},
                      AspectCase{"16/9", std::nullopt}, AspectCase{"nan:1", std::nullopt}, AspectCase{"", std::nullopt},
                      AspectCase{"16::9", true}, AspectCase{" 16 : 9 ", true}, AspectCase{"\t4\u00A0:\u30003", true},
                      AspectCase{"16\n:9", std::nullopt}, AspectCase{"\n16:9", std::nullopt},
                      AspectCase{"-16:9", std::nullopt}, AspectCase{"1.5e1:9", true}, AspectCase{"0x10:9", std::nullopt},
                      AspectCase{"inf:1", true}, AspectCase{"1:INFINITY", false}, AspectCase{"16,0:9", std::nullopt},
                      AspectCase{"16a:9", std::nullopt}, AspectCase{":", std::nullopt}, AspectCase{"+4:+3", true},
                      AspectCase{"2.35:1", true}));

TEST(FrameOrientationEffective, DropsQuarterTurnWhenFrameHasDeclaredShape) {
    EXPECT_EQ(cfo::effectiveRotation(1920, 1080, "16:9", 90), 0);
    EXPECT_EQ(cfo::effectiveRotation(1080, 1920, "16:9", 90), 90);
    EXPECT_EQ(cfo::effectiveRotation(1080, 1920, "9:16", 270), 0);
    EXPECT_EQ(cfo::effectiveRotation(1920, 1080, "9:16", -90), 270);
    EXPECT_EQ(cfo::effectiveRotation(1920, 1080, "16:9", 180), 180);
    EXPECT_EQ(cfo::effectiveRotation(1080, 1920, "16:9", 540), 180);
    EXPECT_EQ(cfo::effectiveRotation(1000, 1000.4, "16:9", 90), 90);
    EXPECT_EQ(cfo::effectiveRotation(0, 1080, "16:9", 90), 90);
    EXPECT_EQ(cfo::effectiveRotation(1920, 1080, "square", 90), 90);
}

TEST(PreviewRotationStateTests, StoresEffectiveRotationWhenNotRecording) {
    PreviewRotationState state;
    state.update("a", 90, "16:9", 1080, 1920, false, false);
    EXPECT_EQ(state.rotations.at("a"), 90);
    state.update("a", 90, "16:9", 1920, 1080, false, false);
    EXPECT_EQ(state.rotations.at("a"), 0);
    EXPECT_TRUE(state.locked.empty());
}

TEST(PreviewRotationStateTests, ExplicitGeometrySkipsTheShapeTest) {
    PreviewRotationState state;
    state.update("a", -90, "16:9", 1920, 1080, false, true);
    EXPECT_EQ(state.rotations.at("a"), 270);
}

TEST(PreviewRotationStateTests, RecordingFreezesAtTheShownRotation) {
    PreviewRotationState state;
    state.update("a", 90, "16:9", 1080, 1920, false, false);
    state.update("a", 180, "16:9", 1080, 1920, true, false);
    EXPECT_EQ(state.rotations.at("a"), 90);
    EXPECT_TRUE(state.locked.contains("a"));
    state.update("a", 270, "16:9", 1080, 1920, true, false);
    EXPECT_EQ(state.rotations.at("a"), 90);
    state.update("a", 180, "16:9", 1080, 1920, false, false);
    EXPECT_EQ(state.rotations.at("a"), 180);
    EXPECT_FALSE(state.locked.contains("a"));
}

TEST(PreviewRotationStateTests, FirstUpdateWhileRecordingStoresAndLocks) {
    PreviewRotationState state;
    state.update("b", 180, "16:9", 1920, 1080, true, false);
    EXPECT_EQ(state.rotations.at("b"), 180);
    EXPECT_TRUE(state.locked.contains("b"));
}

TEST(PreviewRotationStateTests, RotateOnLockedCameraChangesNothing) {
    PreviewRotationState state;
    state.update("a", 0, "16:9", 1920, 1080, true, false);
    const PreviewRotationState before = state;
    EXPECT_FALSE(state.rotate("a"));
    EXPECT_EQ(state, before);
}

TEST(PreviewRotationStateTests, ManualTurnsAddToTheAdvertisedRotation) {
    PreviewRotationState state;
    EXPECT_TRUE(state.rotate("a"));
    EXPECT_EQ(state.rotations.at("a"), 90);
    EXPECT_TRUE(state.rotate("a"));
    EXPECT_EQ(state.rotations.at("a"), 180);
    state.update("a", 0, "16:9", 1920, 1080, false, false);
    EXPECT_EQ(state.rotations.at("a"), 180);
    state.update("a", 270, "", 1920, 1080, false, false);
    EXPECT_EQ(state.rotations.at("a"), 90);
    EXPECT_TRUE(state.rotate("a"));
    EXPECT_TRUE(state.rotate("a"));
    EXPECT_EQ(state.rotations.at("a"), 270);
    state.update("b", 0, "", 0, 0, false, false);
    EXPECT_EQ(state.rotations.at("b"), 0);
}

} // namespace
} // namespace velk
