#include "export/drift_engine.hpp"

#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "media_fixtures.hpp"

namespace velk {
namespace {

using testing::MediaFixtures;

#define REQUIRE_FIXTURES()                                                          \
    const MediaFixtures& fixtures = MediaFixtures::shared();                        \
    if (!fixtures.available()) GTEST_SKIP() << fixtures.reason();                   \
    if (!testing::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed"

// What ffprobe (which reads the whole file) reports for the same facts the probe reads from
// headers.
MediaInfo ffprobeInfo(const std::filesystem::path& file) {
    auto result = testing::run("ffprobe -v error -show_streams -show_format -of json " + testing::quoted(file));
    EXPECT_EQ(result.exitCode, 0) << file;
    const Json document = json::parse(result.output);
    MediaInfo info;
    info.duration = std::strtod(json::requireString(document.at("format"), "duration").c_str(), nullptr);
    int audio = 0;
    for (const Json& stream : document.at("streams")) {
        const std::string type = json::requireString(stream, "codec_type");
        if (type == "audio") ++audio;
        if (type != "video" || json::integerValue(stream.at("disposition").at("attached_pic")) == 1) continue;
        std::int64_t width = json::requireInt64(stream, "width");
        std::int64_t height = json::requireInt64(stream, "height");
        if (stream.contains("side_data_list")) {
            for (const Json& side : stream.at("side_data_list")) {
                auto rotation = side.contains("rotation") ? json::integerValue(side.at("rotation")) : std::nullopt;
                if (rotation && std::abs(*rotation) % 180 == 90) std::swap(width, height);
            }
        }
        info.width = width;
        info.height = height;
        const std::string rate = json::requireString(stream, "avg_frame_rate");
        const auto slash = rate.find('/');
        info.fps = static_cast<float>(std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1)));
    }
    info.hasAudio = audio == 1;
    return info;
}

TEST(LibavMediaProbe, AgreesWithFfprobe) {
    REQUIRE_FIXTURES();
    for (const char* name : {"landscape.mov", "portrait.mov", "ntsc.mp4", "pal.mov", "cover-art.mp4"}) {
        const MediaInfo probed = DriftEngine::mediaInfo(fixtures[name]);
        const MediaInfo expected = ffprobeInfo(fixtures[name]);
        EXPECT_NEAR(probed.duration, expected.duration, 1e-6) << name;
        EXPECT_EQ(probed.width, expected.width) << name;
        EXPECT_EQ(probed.height, expected.height) << name;
        EXPECT_EQ(probed.fps, expected.fps) << name;
        EXPECT_EQ(probed.hasAudio, expected.hasAudio) << name;
    }

    // The same facts as literal values: an upright phone clip, the NTSC rate as a 32-bit float,
    // and cover art that is not a second video track.
    EXPECT_EQ(DriftEngine::mediaInfo(fixtures["portrait.mov"]), (MediaInfo{1.0, 36, 64, 30.0, true}));
    const MediaInfo ntsc = DriftEngine::mediaInfo(fixtures["ntsc.mp4"]);
    EXPECT_EQ(ntsc.fps, 29.970029830932617);
    EXPECT_FALSE(ntsc.hasAudio);
    EXPECT_EQ(DriftEngine::mediaInfo(fixtures["cover-art.mp4"]), (MediaInfo{1.0, 48, 32, 25.0, false}));
}

TEST(LibavMediaProbe, RefusesFilesTheTimelineCannotCarry) {
    REQUIRE_FIXTURES();
    struct Case { const char* name; const char* sentence; };
    const Case cases[] = {
        {"two-audio.mp4", "Multiple audio tracks need manual mapping."},
        {"audio-only.m4a", "Each clip must contain exactly one video track."},
        {"two-video.mp4", "Each clip must contain exactly one video track."},
    };
    for (const Case& c : cases) {
        try {
            DriftEngine::mediaInfo(fixtures[c.name]);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const DriftExportError& error) {
            EXPECT_STREQ(error.what(), c.sentence) << c.name;
        }
    }
}

TEST(LibavMediaProbe, FilesThatAreNotMediaRaiseTheFrameworkError) {
    testing::TempFolder folder;
    testing::writeBytes(folder / "not-media.mov", "this is plain text, not a movie\n");
    EXPECT_THROW(DriftEngine::mediaInfo(folder / "not-media.mov"), MediaFrameworkError);
    EXPECT_THROW(DriftEngine::mediaInfo(folder / "absent.mov"), MediaFrameworkError);
    // A name that looks like a protocol is still a local file name.
    EXPECT_THROW(DriftEngine::mediaInfo("pipe:0"), MediaFrameworkError);
}

} // namespace
} // namespace velk
