#include "export/drift_engine.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "fake_media_probe.hpp"

namespace velk {
namespace {

using testing::FakeMedia;
using testing::FakeMediaProbe;

std::string probeFailure(FakeMediaProbe& probe, const std::string& file) {
    try {
        DriftEngine::mediaInfo(file, probe);
    } catch (const DriftExportError& error) {
        EXPECT_EQ(error.errorCase(), DriftExportError::Case::invalid);
        return error.what();
    }
    return "probed";
}

TEST(MediaProbeOrientation, RotationSwapsTheDisplaySize) {
    FakeMediaProbe probe;
    probe.media["portrait.mov"] = FakeMedia{.naturalSize = {1920, 1080}, .transform = {0, 1, -1, 0}};
    const MediaInfo info = DriftEngine::mediaInfo("/clips/portrait.mov", probe);
    EXPECT_EQ(info.width, 1080);
    EXPECT_EQ(info.height, 1920);
}

TEST(MediaProbeOrientation, SizesAreTruncatedNotRounded) {
    FakeMediaProbe probe;
    probe.media["odd.mov"] = FakeMedia{.naturalSize = {1919.6, 1080.4}};
    const MediaInfo info = DriftEngine::mediaInfo("odd.mov", probe);
    EXPECT_EQ(info.width, 1919);
    EXPECT_EQ(info.height, 1080);
}

TEST(MediaProbeFrameRate, IsTheThirtyTwoBitRateWidened) {
    FakeMediaProbe probe;
    probe.media["ntsc.mov"] = FakeMedia{.frameRate = static_cast<float>(30000.0 / 1001)};
    const MediaInfo info = DriftEngine::mediaInfo("ntsc.mov", probe);
    EXPECT_EQ(info.fps, 29.970029830932617);
    EXPECT_DOUBLE_EQ(info.duration, 10);
    EXPECT_TRUE(info.hasAudio);
}

TEST(MediaProbeRefusals, EachRuleWithItsSentence) {
    struct Case { const char* file; FakeMedia media; const char* sentence; };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"clip.mov", FakeMedia{.durationSeconds = 0}, "Invalid media duration for clip.mov."},
        {"clip.mov", FakeMedia{.durationSeconds = -0.0}, "Invalid media duration for clip.mov."},
        {"clip.mov", FakeMedia{.durationSeconds = -3}, "Invalid media duration for clip.mov."},
        {"clip.mov", FakeMedia{.durationSeconds = inf}, "Invalid media duration for clip.mov."},
        {"clip.mov", FakeMedia{.durationSeconds = std::nan("")}, "Invalid media duration for clip.mov."},
        {"audio.m4a", FakeMedia{.videoTracks = 0}, "Each clip must contain exactly one video track."},
        {"two.mov", FakeMedia{.videoTracks = 2}, "Each clip must contain exactly one video track."},
        {"mics.mov", FakeMedia{.audioTracks = 2}, "Multiple audio tracks need manual mapping."},
        {"mics.mov", FakeMedia{.audioTracks = 2, .frameRate = 0}, "Multiple audio tracks need manual mapping."},
        {"still.mov", FakeMedia{.frameRate = 0}, "Missing video frame rate."},
        {"still.mov", FakeMedia{.frameRate = nan}, "Missing video frame rate."},
        {"still.mov", FakeMedia{.frameRate = -30}, "Missing video frame rate."},
    };
    for (const Case& c : cases) {
        FakeMediaProbe probe;
        probe.media[c.file] = c.media;
        EXPECT_EQ(probeFailure(probe, std::string("/media/") + c.file), c.sentence) << c.file;
    }
}

TEST(MediaProbeRefusals, DurationIsCheckedBeforeAnyTrack) {
    FakeMediaProbe probe;
    probe.media["clip.mov"] = FakeMedia{.durationSeconds = 0, .videoTracks = 0};
    EXPECT_EQ(probeFailure(probe, "clip.mov"), "Invalid media duration for clip.mov.");
    EXPECT_EQ(probe.loads, (std::vector<std::string>{"clip.mov:duration"}));
}

TEST(MediaProbeLoads, EachPropertyOnceInOrder) {
    FakeMediaProbe probe;
    probe.media["clip.mov"] = FakeMedia{.audioTracks = 0};
    const MediaInfo info = DriftEngine::mediaInfo("clip.mov", probe);
    EXPECT_FALSE(info.hasAudio);
    EXPECT_EQ(probe.loads, (std::vector<std::string>{"clip.mov:duration", "clip.mov:video", "clip.mov:audio",
                                                     "clip.mov:size", "clip.mov:transform", "clip.mov:rate"}));
}

TEST(MediaProbeLoads, FrameworkErrorsPassUnchanged) {
    FakeMediaProbe probe;
    probe.media["bad.mov"] = FakeMedia{.failSizeLoad = true};
    EXPECT_THROW(
        {
            try {
                DriftEngine::mediaInfo("bad.mov", probe);
            } catch (const MediaFrameworkError& error) {
                EXPECT_STREQ(error.what(), "size load failed");
                throw;
            }
        },
        MediaFrameworkError);
    EXPECT_THROW(DriftEngine::mediaInfo("unknown.mov", probe), MediaFrameworkError);
}

TEST(MediaInfoRecord, JsonRoundTripAndRequiredKeys) {
    const MediaInfo info{12.5, 1080, 1920, 29.970029830932617, true};
    Json encoded = info;
    MediaInfo decoded;
    from_json(encoded, decoded);
    EXPECT_EQ(decoded, info);
    EXPECT_EQ(std::hash<MediaInfo>{}(decoded), std::hash<MediaInfo>{}(info));

    Json lacking = encoded;
    lacking.erase("hasAudio");
    EXPECT_THROW(from_json(lacking, decoded), JsonError);
    Json fractionalWidth = encoded;
    fractionalWidth["width"] = 1080.5;
    EXPECT_THROW(from_json(fractionalWidth, decoded), JsonError);
    Json numericFlag = encoded;
    numericFlag["hasAudio"] = 1;
    EXPECT_THROW(from_json(numericFlag, decoded), JsonError);
}

} // namespace
} // namespace velk
