#include <cmath>
#include <fstream>
#include <limits>
#include <numeric>
#include <sstream>

#include "export/movie_header.hpp"
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

// The time scale and duration of the first `box` ("mvhd" or "mdhd") in a file, read by looking for
// its name among the bytes (version 0 boxes, as ffmpeg writes them for short clips).
std::pair<std::uint64_t, std::uint64_t> scaleAndDuration(const std::string& bytes, const char* box) {
    const std::size_t at = bytes.find(box);
    EXPECT_NE(at, std::string::npos) << box;
    EXPECT_EQ(bytes.at(at + 4), 0) << box << " version";
    auto word = [&](std::size_t offset) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + offset + i));
        return value;
    };
    return {word(16), word(20)};
}

TEST(LibavMediaProbe, DurationIsExactInTheMoviesOwnTimeScale) {
    if (!testing::haveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    testing::TempFolder folder;
    const std::pair<std::uint64_t, const char*> scales[] = {{600, "30"}, {1000, "30"}, {30000, "30000/1001"}, {90000, "30000/1001"}};
    for (auto [scale, rate] : scales) {
        SCOPED_TRACE(scale);
        const std::filesystem::path clip = folder / ("clip-" + std::to_string(scale) + ".mov");
        const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x36:rate=" + std::string(rate) +
                                 " -frames:v 181 -c:v libx264 -preset ultrafast -threads 1 -movie_timescale " +
                                 std::to_string(scale) + " -video_track_timescale " + std::to_string(scale) + " " +
                                 testing::quoted(clip);
        ASSERT_EQ(testing::run(make).exitCode, 0);
        std::ifstream in(clip, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto [movieScale, movieDuration] = scaleAndDuration(bytes, "mvhd");
        const auto [trackScale, trackDuration] = scaleAndDuration(bytes, "mdhd");
        ASSERT_EQ(movieScale, scale);
        ASSERT_EQ(trackScale, scale);
        EXPECT_EQ(trackDuration, movieDuration);

        const MediaInfo info = DriftEngine::mediaInfo(clip);
        EXPECT_EQ(info.duration, static_cast<double>(movieDuration) / static_cast<double>(movieScale));
        const std::uint64_t common = std::gcd(movieDuration, movieScale);
        EXPECT_EQ(DriftEngine::seconds(info.duration),
                  std::to_string(movieDuration / common) + "/" + std::to_string(movieScale / common) + "s");
    }
}

TEST(MovieHeader, ReadsVersionsAndRefusesBrokenBoxes) {
    auto box = [](const char* type, const std::string& payload) {
        const std::uint32_t size = static_cast<std::uint32_t>(payload.size() + 8);
        return std::string{char(size >> 24), char(size >> 16), char(size >> 8), char(size)} + type + payload;
    };
    const std::string zero4(4, '\0');
    const std::string v0 = std::string(1, '\0') + std::string(3, '\0') + zero4 + zero4 + std::string("\0\0\x02\x58", 4) +
                           std::string("\0\0\x0e\x14", 4) + std::string(80, '\0'); // 3604/600
    const std::string v1 = std::string(1, '\1') + std::string(3, '\0') + std::string(16, '\0') +
                           std::string("\0\0\x75\x30", 4) + std::string("\0\0\0\x01\0\0\0\0", 8); // 2^32/30000
    const std::string indefinite = std::string(12, '\0') + std::string("\0\0\x03\xe8", 4) + std::string(4, '\xff');
    const std::string free = box("free", "xx");
    // A movie after its media data, the last box running to the end of the file (size 0).
    const std::string toEnd = std::string("\0\0\0\0moov", 8) + box("mvhd", v0);
    struct Case { std::string file; std::optional<double> seconds; };
    const Case cases[] = {
        {box("ftyp", "qt  ") + box("mdat", "frames") + box("moov", box("trak", "") + box("mvhd", v0)), 3604.0 / 600},
        {free + box("moov", box("mvhd", v1)), 4294967296.0 / 30000},
        {free + toEnd, 3604.0 / 600},
        {box("moov", box("mvhd", indefinite)), std::nullopt},
        {box("moov", box("mvhd", v0.substr(0, 19))), std::nullopt},       // truncated header
        {box("moov", box("mvhd", "\x02" + v0.substr(1))), std::nullopt}, // unknown version
        {box("mdat", "frames") + box("trak", box("mvhd", v0)), std::nullopt}, // no movie box
        {std::string("\0\0\0\x04moov", 8) + box("mvhd", v0), std::nullopt}, // a size below the header's
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        std::istringstream in(c.file);
        const std::optional<MovieHeader> header = readMovieHeader(in);
        EXPECT_EQ(header ? movieSeconds(*header) : std::nullopt, c.seconds) << ::testing::PrintToString(c.file);
    }
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
