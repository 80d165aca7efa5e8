#include "model/preview_records.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

namespace cfo = CameraFrameOrientation;

TEST(PreviewCapabilitiesTests, AdvertisedH264AndPersistentJpegNeedExactNames) {
    PreviewCapabilities caps{.codecs = {"h264"}};
    EXPECT_FALSE(caps.isAdvertised());
    caps.version = 0;
    EXPECT_TRUE(caps.isAdvertised());

    EXPECT_TRUE((PreviewCapabilities{.transports = {"h264-avcc-tcp-v1"}, .codecs = {"h264"}}.advertisesH264()));
    EXPECT_FALSE((PreviewCapabilities{.transports = {"h264-avcc-tcp-v1"}, .codecs = {"H264"}}.advertisesH264()));
    EXPECT_FALSE((PreviewCapabilities{.transports = {"jpeg-tcp-v1"}, .codecs = {"h264"}}.advertisesH264()));

    EXPECT_TRUE((PreviewCapabilities{.transports = {"jpeg-tcp-v1"}, .persistentModes = {4, 5}}.supportsPersistentJPEG()));
    EXPECT_FALSE((PreviewCapabilities{.transports = {"jpeg-tcp-v1"}, .persistentModes = {4}}.supportsPersistentJPEG()));
    EXPECT_FALSE((PreviewCapabilities{.transports = {"JPEG-tcp-v1"}, .requestModes = {4, 5}, .persistentModes = {4, 5}}
                      .supportsPersistentJPEG()));
}

TEST(PreviewTransportTests, AdvertisedWithCodecOrModesAndJpegIgnoresCase) {
    EXPECT_FALSE(PreviewTransportStatus{}.isAdvertised());
    EXPECT_TRUE(PreviewTransportStatus{.modes = {1}}.isAdvertised());
    EXPECT_TRUE(PreviewTransportStatus{.codec = ""}.isAdvertised());
    const std::pair<PreviewTransportStatus, bool> cases[] = {
        {{.modes = {4, 5, 6}, .codec = "jpeg"}, true}, {{.modes = {4, 5}, .codec = "JPEG"}, true},
        {{.modes = {4, 5}, .codec = "JPG"}, false},    {{.modes = {4, 5}}, false},
        {{.modes = {5}, .codec = "Jpeg"}, false}};
    for (const auto& [status, persistent] : cases)
        EXPECT_EQ(status.supportsPersistentJPEG(), persistent) << status.codec.value_or("(none)");
}

TEST(FrameOrientation, NormalizedFoldsIntoOneTurn) {
    const std::pair<std::int64_t, int> cases[] = {{-90, 270}, {-360, 0}, {360, 0}, {725, 5}, {0, 0},
                                                  {359, 359}, {-1, 359}, {INT64_MIN, 352}, {INT64_MAX, 7}};
    for (auto [degrees, expected] : cases) EXPECT_EQ(cfo::normalized(degrees), expected) << degrees;
}

TEST(FrameOrientation, AspectTextIsLandscapePortraitOrNeither) {
    const std::pair<const char*, std::optional<bool>> cases[] = {
        {"16:9", true}, {"16x9", true}, {"16X9", true}, {"16\u00D79", true}, {"9:16", false},
        {"1:1", std::nullopt}, {"0:9", std::nullopt}, {"16:9:1", std::nullopt}, {"16/9", std::nullopt},
        {"nan:1", std::nullopt}, {"", std::nullopt}, {"16::9", true}, {" 16 : 9 ", true},
        {"\t4\u00A0:\u30003", true}, {"16\n:9", std::nullopt}, {"\n16:9", std::nullopt}, {"-16:9", std::nullopt},
        {"1.5e1:9", true}, {"0x10:9", std::nullopt}, {"inf:1", true}, {"1:INFINITY", false},
        {"16,0:9", std::nullopt}, {"16a:9", std::nullopt}, {":", std::nullopt}, {"+4:+3", true}, {"2.35:1", true}};
    for (const auto& [text, landscape] : cases) EXPECT_EQ(cfo::isLandscape(text), landscape) << text;
}

TEST(FrameOrientation, EffectiveRotationDropsTheQuarterTurnOfAFrameWithTheDeclaredShape) {
    struct Case { double width, height; const char* aspect; std::int64_t advertised; int expected; };
    const Case cases[] = {
        {1920, 1080, "16:9", 90, 0},  {1080, 1920, "16:9", 90, 90},  {1080, 1920, "9:16", 270, 0},
        {1920, 1080, "9:16", -90, 270}, {1920, 1080, "16:9", 180, 180}, {1080, 1920, "16:9", 540, 180},
        {1000, 1000.4, "16:9", 90, 90}, {0, 1080, "16:9", 90, 90},      {1920, 1080, "square", 90, 90}};
    for (const Case& c : cases)
        EXPECT_EQ(cfo::effectiveRotation(c.width, c.height, c.aspect, c.advertised), c.expected)
            << c.width << "x" << c.height << " " << c.aspect << " " << c.advertised;
}

TEST(PreviewRotationStateTests, FreezesWhileRecordingAndKeepsManualTurns) {
    // rotate: a manual turn (the other arguments unused); otherwise an update.
    struct Step { const char* id; bool rotate; std::int64_t advertised; const char* aspect; double width, height;
                  bool recording, explicitGeometry; int rotation; bool locked; };
    const Step steps[] = {
        {"a", false, 90, "16:9", 1080, 1920, false, false, 90, false},
        {"a", false, 90, "16:9", 1920, 1080, false, false, 0, false},
        {"a", false, -90, "16:9", 1920, 1080, false, true, 270, false}, // explicit geometry skips the shape test
        {"a", false, 90, "16:9", 1080, 1920, false, false, 90, false},
        {"a", false, 180, "16:9", 1080, 1920, true, false, 90, true},   // recording keeps the shown rotation
        {"a", false, 270, "16:9", 1080, 1920, true, false, 90, true},
        {"a", true, 0, "", 0, 0, false, false, 90, true},               // refused, nothing changes
        {"a", false, 180, "16:9", 1080, 1920, false, false, 180, false},
        {"b", false, 180, "16:9", 1920, 1080, true, false, 180, true},  // first update while recording
        {"c", true, 0, "", 0, 0, false, false, 90, false},
        {"c", true, 0, "", 0, 0, false, false, 180, false},
        {"c", false, 0, "16:9", 1920, 1080, false, false, 180, false},
        {"c", false, 270, "", 1920, 1080, false, false, 90, false},
        {"c", true, 0, "", 0, 0, false, false, 180, false},
        {"c", true, 0, "", 0, 0, false, false, 270, false},
        {"d", false, 0, "", 0, 0, false, false, 0, false},
    };
    PreviewRotationState state;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(::testing::Message() << "step " << i);
        if (s.rotate) {
            const PreviewRotationState before = state;
            EXPECT_EQ(state.rotate(s.id), !s.locked);
            if (s.locked) {
                EXPECT_EQ(state, before);
            }
        } else {
            state.update(s.id, s.advertised, s.aspect, s.width, s.height, s.recording, s.explicitGeometry);
        }
        EXPECT_EQ(state.rotations.at(s.id), s.rotation);
        EXPECT_EQ(state.locked.contains(s.id), s.locked);
    }
}

} // namespace
} // namespace velk
