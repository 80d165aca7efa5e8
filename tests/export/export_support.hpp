#pragma once
// Shared by the export tests: temporary folders, the command-line tools the tests compare against,
// a media probe that answers from a table, tiny media files made with ffmpeg, and a take laid out in
// a temporary folder.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>

#include <gtest/gtest.h>

#include "base/files.hpp"
#include "base/sha256.hpp"
#include "export/drift_engine.hpp"
#include "support/build_paths.hpp"

namespace velk::testing {

namespace fs = std::filesystem;

inline const char* const kSameEvent = "same-event-reference-media-seconds";

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "velk-export-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path operator/(const std::string& name) const { return path / name; }
    fs::path path;
};

struct CommandResult {
    int exitCode = -1;
    std::string output; // standard output only
};

// Runs a shell command line; standard error goes to /dev/null unless the command redirects it.
inline CommandResult run(const std::string& commandLine) {
    CommandResult result;
    FILE* pipe = ::popen((commandLine + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) result.output.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline bool haveTool(const std::string& name) { return run("command -v " + name + " >/dev/null").exitCode == 0; }

inline std::string quoted(const fs::path& path) {
    std::string text = "'";
    for (char c : path.string()) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

inline fs::path dtdPath() { return fs::path(test::sourcePath("..")) / "shared" / "reference" / "fcpxml" / "FCPXMLv1_7.dtd"; }
inline bool canValidateDtd() { return fs::exists(dtdPath()) && haveTool("xmllint"); }

// Empty when the document validates against the FCPXML DTD; the reason otherwise.
inline std::string dtdErrors(const fs::path& document) {
    auto result = run("xmllint --noout --dtdvalid " + quoted(dtdPath()) + " " + quoted(document) + " 2>&1");
    return result.exitCode == 0 ? std::string() : result.output + " (exit " + std::to_string(result.exitCode) + ")";
}

inline void expectValidAgainstDtd(const fs::path& document) {
    if (canValidateDtd()) EXPECT_EQ(dtdErrors(document), "");
    else std::cout << "[ note ] DTD validation skipped: FCPXML DTD or xmllint not found\n";
}

// The sentence of the DriftExportError that `action` throws, marked when its case is not `invalid`.
inline std::string exportErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const DriftExportError& error) {
        return (error.errorCase() == DriftExportError::Case::invalid ? "" : "(not invalid) ") + std::string(error.what());
    }
    return "(no error)";
}

struct FakeMedia {
    double durationSeconds = 10;
    std::size_t videoTracks = 1;
    std::size_t audioTracks = 1;
    MediaSize naturalSize{1920, 1080};
    MediaTransform transform{};
    float frameRate = 30;
    bool failSizeLoad = false;
};

// Answers for each file name from `media`; any other file fails to open, like a file that is not media.
class FakeMediaProbe final : public MediaProbe {
public:
    std::map<std::string, FakeMedia> media;
    std::vector<std::string> loads; // every load, in order, as "<file>:<what>"

    std::unique_ptr<MediaAsset> open(const fs::path& file) override {
        auto found = media.find(file.filename().string());
        if (found == media.end()) throw MediaFrameworkError(file.filename().string() + ": Invalid data found");
        return std::make_unique<Asset>(*this, found->first, found->second);
    }

private:
    class Asset final : public MediaAsset {
    public:
        Asset(FakeMediaProbe& probe, std::string name, FakeMedia media) : m_probe(probe), m_name(std::move(name)), m_media(media) {}
        double durationSeconds() override { return note("duration"), m_media.durationSeconds; }
        std::vector<std::size_t> videoTracks() override { return note("video"), std::vector<std::size_t>(m_media.videoTracks, 0); }
        std::vector<std::size_t> audioTracks() override { return note("audio"), std::vector<std::size_t>(m_media.audioTracks, 1); }
        MediaSize naturalSize(std::size_t) override {
            note("size");
            if (m_media.failSizeLoad) throw MediaFrameworkError("size load failed");
            return m_media.naturalSize;
        }
        MediaTransform preferredTransform(std::size_t) override { return note("transform"), m_media.transform; }
        float nominalFrameRate(std::size_t) override { return note("rate"), m_media.frameRate; }

    private:
        void note(const char* what) { m_probe.loads.push_back(m_name + ":" + what); }
        FakeMediaProbe& m_probe;
        std::string m_name;
        FakeMedia m_media;
    };
};

// One-second media files made once per test process. H.264 as phones record it: libavformat leaves
// the frame size of MPEG-4 Visual tracks to the decoder, so those would not show what the probe
// reads from headers.
class MediaFixtures {
public:
    static const MediaFixtures& shared() {
        static const MediaFixtures fixtures;
        return fixtures;
    }
    const std::string& unavailableReason() const { return m_reason; }
    fs::path operator[](const std::string& name) const { return m_folder / name; }

private:
    MediaFixtures() {
        if (!haveTool("ffmpeg")) {
            m_reason = "ffmpeg is not installed";
            return;
        }
        const std::string in = quoted(m_folder.path) + "/";
        const std::string h264 = " -c:v libx264 -preset ultrafast -threads 1";
        const std::string make =
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x36:rate=30"
            " -f lavfi -i testsrc=size=64x36:rate=30000/1001 -f lavfi -i testsrc=size=48x32:rate=25"
            " -f lavfi -i sine=frequency=440:sample_rate=48000 -f lavfi -i sine=frequency=880:sample_rate=48000"
            " -f lavfi -i color=c=red:size=16x16:rate=1"
            " -map 0:v -map 3:a -t 1" + h264 + " -c:a aac " + in + "landscape.mov"
            " -map 1:v -map 3:a -map 4:a -t 1" + h264 + " -c:a aac " + in + "two-audio.mp4"
            " -map 1:v -t 1" + h264 + " " + in + "ntsc.mp4"
            " -map 2:v -map 3:a -t 1" + h264 + " -c:a aac " + in + "pal.mov"
            " -map 3:a -t 1 -c:a aac " + in + "audio-only.m4a"
            " -map 0:v -map 2:v -t 1" + h264 + " " + in + "two-video.mp4"
            " -map 2:v -map 5:v -t 1" + h264 + " -c:v:1 png -frames:v:1 1 -disposition:v:1 attached_pic " + in + "cover-art.mp4";
        // A phone held upright records landscape frames with a 90° display matrix.
        const std::string rotate = "ffmpeg -nostdin -v error -y -i " + in + "landscape.mov -c copy"
                                   " -metadata:s:v:0 rotate=90 " + in + "portrait.mov";
        if (run(make).exitCode != 0 || run(rotate).exitCode != 0) m_reason = "ffmpeg could not make the media fixtures";
    }

    TempFolder m_folder;
    std::string m_reason;
};

#define VELK_REQUIRE_MEDIA_FIXTURES(fixtures)                                                      \
    const ::velk::testing::MediaFixtures& fixtures = ::velk::testing::MediaFixtures::shared();     \
    if (!fixtures.unavailableReason().empty()) GTEST_SKIP() << fixtures.unavailableReason()

// Anchors on reference = offset + rate × source, confidence 0.95, uncertainty 1 ms.
inline std::vector<TimingAnchor> anchorsOnLine(std::vector<double> sources, double rate, double offset) {
    std::vector<TimingAnchor> anchors;
    for (double source : sources) anchors.push_back({source, offset + rate * source, 0.95, 1.0});
    return anchors;
}

// A take whose clips are small files with catalogued digests, answered for by the fake probe.
// Exports go to "exports" with a fixed clock, 2026-03-04 05:06:07 UTC.
class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        fs::create_directories(folder / "media");
        fs::create_directories(parent);
        project = {.id = "proj-1", .name = "Summer Show", .revision = 4};
        take = {.id = "take-1", .referenceCameraId = "cam-A", .timelineFPS = "30"};
    }

    VELKClip& addClip(const std::string& cameraId, const std::string& fileName, FakeMedia media = {},
                      std::vector<TimingAnchor> anchors = {}) {
        const fs::path path = folder / "media" / fileName;
        const std::string content = "media of " + cameraId + " in " + fileName;
        files::writeAtomically(path, content);
        probe.media[fileName] = media;
        take.clips.push_back(VELKClip{.id = "clip-" + cameraId, .cameraId = cameraId, .fileName = fileName,
                                      .localPath = path.string(), .sha256 = Sha256::hexOf(content),
                                      .anchorMeaning = anchors.empty() ? std::nullopt : std::optional<std::string>(kSameEvent),
                                      .anchors = std::move(anchors)});
        return take.clips.back();
    }

    ExportEnvironment environment() {
        return ExportEnvironment{.probe = &probe, .now = std::chrono::system_clock::from_time_t(1772600767)};
    }
    fs::path runExport() { return DriftEngine::exportTake(project, take, parent, environment()); }

    // The sentence of the DriftExportError the export ends with, or "exported" (the folder then removed).
    std::string exportFailure() {
        try {
            fs::remove_all(runExport());
        } catch (const DriftExportError& error) {
            return error.what();
        }
        return "exported";
    }

    bool parentIsEmpty() const { return fs::is_empty(parent); }

    TempFolder folder;
    fs::path parent = folder / "exports";
    FakeMediaProbe probe;
    VELKProject project;
    VELKTake take;
};

} // namespace velk::testing
