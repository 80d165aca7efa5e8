#include <cmath>
#include <limits>

#include "export_support.hpp"

namespace velk {
namespace {

using testing::FakeMedia;
using testing::FakeMediaProbe;

TEST(MediaProbe, OrientedTruncatedSizesAndTheWidenedFloatRate) {
    struct Case { FakeMedia media; MediaInfo expected; };
    const Case cases[] = {
        {{.naturalSize = {1920, 1080}, .transform = {0, 1, -1, 0}}, {10, 1080, 1920, 30, true}}, // upright phone
        {{.naturalSize = {1919.6, 1080.4}}, {10, 1919, 1080, 30, true}},                          // truncated
        {{.frameRate = static_cast<float>(30000.0 / 1001)}, {10, 1920, 1080, 29.970029830932617, true}},
        {{.durationSeconds = 2.5, .audioTracks = 0}, {2.5, 1920, 1080, 30, false}},
    };
    for (const Case& c : cases) {
        FakeMediaProbe probe;
        probe.media["clip.mov"] = c.media;
        EXPECT_EQ(DriftEngine::mediaInfo("/clips/clip.mov", probe), c.expected);
    }
}

TEST(MediaProbe, RefusesWhatTheTimelineCannotCarryInRuleOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const char* const duration = "Invalid media duration for clip.mov.";
    const char* const oneVideo = "Each clip must contain exactly one video track.";
    const char* const audio = "Multiple audio tracks need manual mapping.";
    const char* const rate = "Missing video frame rate.";
    const std::pair<FakeMedia, const char*> cases[] = {
        {{.durationSeconds = 0}, duration}, {{.durationSeconds = -0.0}, duration}, {{.durationSeconds = -3}, duration},
        {{.durationSeconds = inf}, duration}, {{.durationSeconds = std::nan("")}, duration},
        {{.durationSeconds = 0, .videoTracks = 0}, duration}, // before any track is examined
        {{.videoTracks = 0}, oneVideo}, {{.videoTracks = 2}, oneVideo},
        {{.audioTracks = 2}, audio}, {{.audioTracks = 2, .frameRate = 0}, audio},
        {{.frameRate = 0}, rate}, {{.frameRate = nan}, rate}, {{.frameRate = -30}, rate},
    };
    for (const auto& [media, sentence] : cases) {
        FakeMediaProbe probe;
        probe.media["clip.mov"] = media;
        EXPECT_EQ(testing::exportErrorOf([&] { DriftEngine::mediaInfo("/media/clip.mov", probe); }), sentence);
        if (sentence == duration) {
            EXPECT_EQ(probe.loads, std::vector<std::string>{"clip.mov:duration"});
        }
    }
}

TEST(MediaProbe, LoadsEachPropertyOnceInOrderAndPassesFrameworkErrorsOn) {
    FakeMediaProbe probe;
    probe.media["clip.mov"] = FakeMedia{};
    DriftEngine::mediaInfo("clip.mov", probe);
    EXPECT_EQ(probe.loads, (std::vector<std::string>{"clip.mov:duration", "clip.mov:video", "clip.mov:audio",
                                                     "clip.mov:size", "clip.mov:transform", "clip.mov:rate"}));
    probe.media["bad.mov"] = FakeMedia{.failSizeLoad = true};
    try {
        DriftEngine::mediaInfo("bad.mov", probe);
        ADD_FAILURE() << "probed";
    } catch (const MediaFrameworkError& error) {
        EXPECT_STREQ(error.what(), "size load failed");
    }
    EXPECT_THROW(DriftEngine::mediaInfo("unknown.mov", probe), MediaFrameworkError);
}

// What ffprobe, which reads the whole file, reports for the facts the probe reads from headers.
MediaInfo ffprobeInfo(const std::filesystem::path& file) {
    auto result = testing::run("ffprobe -v error -show_streams -show_format -of json " + testing::quoted(file));
    EXPECT_EQ(result.exitCode, 0) << file;
    const Json document = json::parse(result.output);
    MediaInfo info{.duration = std::stod(json::requireString(document.at("format"), "duration"))};
    int audio = 0;
    for (const Json& stream : document.at("streams")) {
        const std::string type = json::requireString(stream, "codec_type");
        audio += type == "audio";
        if (type != "video" || json::integerValue(stream.at("disposition").at("attached_pic")) == 1) continue;
        info.width = json::requireInt64(stream, "width");
        info.height = json::requireInt64(stream, "height");
        for (const Json& side : stream.value("side_data_list", Json::array())) {
            auto rotation = side.contains("rotation") ? json::integerValue(side.at("rotation")) : std::nullopt;
            if (rotation && std::abs(*rotation) % 180 == 90) std::swap(info.width, info.height);
        }
        const std::string rate = json::requireString(stream, "avg_frame_rate");
        const auto slash = rate.find('/');
        info.fps = static_cast<float>(std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1)));
    }
    info.hasAudio = audio == 1;
    return info;
}

TEST(LibavMediaProbe, AgreesWithFfprobeOnRealFiles) {
    VELK_REQUIRE_MEDIA_FIXTURES(fixtures);
    if (!testing::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    for (const char* name : {"landscape.mov", "portrait.mov", "ntsc.mp4", "pal.mov", "cover-art.mp4"}) {
        SCOPED_TRACE(name);
        const MediaInfo probed = DriftEngine::mediaInfo(fixtures[name]);
        const MediaInfo expected = ffprobeInfo(fixtures[name]);
        EXPECT_NEAR(probed.duration, expected.duration, 1e-6);
        EXPECT_EQ(probed, (MediaInfo{probed.duration, expected.width, expected.height, expected.fps, expected.hasAudio}));
    }
    // The same facts as literal values: an upright phone clip, the NTSC rate as a 32-bit float, and
    // cover art that is not a second video track.
    EXPECT_EQ(DriftEngine::mediaInfo(fixtures["portrait.mov"]), (MediaInfo{1.0, 36, 64, 30.0, true}));
    const MediaInfo ntsc = DriftEngine::mediaInfo(fixtures["ntsc.mp4"]);
    EXPECT_EQ(ntsc, (MediaInfo{ntsc.duration, 64, 36, 29.970029830932617, false}));
    EXPECT_EQ(DriftEngine::mediaInfo(fixtures["cover-art.mp4"]), (MediaInfo{1.0, 48, 32, 25.0, false}));

    const std::pair<const char*, const char*> refused[] = {
        {"two-audio.mp4", "Multiple audio tracks need manual mapping."},
        {"audio-only.m4a", "Each clip must contain exactly one video track."},
        {"two-video.mp4", "Each clip must contain exactly one video track."}};
    for (auto [name, sentence] : refused)
        EXPECT_EQ(testing::exportErrorOf([&] { DriftEngine::mediaInfo(fixtures[name]); }), sentence) << name;
}

TEST(LibavMediaProbe, FilesThatAreNotMediaRaiseTheFrameworkError) {
    testing::TempFolder folder;
    files::writeAtomically(folder / "not-media.mov", "this is plain text, not a movie\n");
    EXPECT_THROW(DriftEngine::mediaInfo(folder / "not-media.mov"), MediaFrameworkError);
    EXPECT_THROW(DriftEngine::mediaInfo(folder / "absent.mov"), MediaFrameworkError);
    EXPECT_THROW(DriftEngine::mediaInfo("pipe:0"), MediaFrameworkError); // a local file name, not a protocol
}

} // namespace
} // namespace velk
