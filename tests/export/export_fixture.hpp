#pragma once
// A take built in a temporary folder: each clip gets a small file whose digest is catalogued, and
// a fake probe answers for it. Exports go to an "exports" folder with a fixed clock (UTC).

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

#include "export/drift_engine.hpp"
#include "export_test_support.hpp"
#include "fake_media_probe.hpp"

namespace velk::testing {

inline const char* const kSameEvent = "same-event-reference-media-seconds";

// Anchors on reference = offset + rate × source, uncertainty 1 ms.
inline std::vector<TimingAnchor> anchorsOnLine(std::vector<double> sources, double rate, double offset) {
    std::vector<TimingAnchor> anchors;
    for (double source : sources) anchors.push_back({source, offset + rate * source, 0.95, 1.0});
    return anchors;
}

inline std::filesystem::path dtdPath() {
    return std::filesystem::path(VELK_SOURCE_DIR) / ".." / "shared" / "reference" / "fcpxml" / "FCPXMLv1_7.dtd";
}

// Empty when the document validates; the reason otherwise. Skips are decided by the caller.
inline std::string dtdErrors(const std::filesystem::path& document) {
    auto result = run("xmllint --noout --dtdvalid " + quoted(dtdPath()) + " " + quoted(document) + " 2>&1");
    return result.exitCode == 0 ? std::string() : result.output + " (exit " + std::to_string(result.exitCode) + ")";
}

inline bool canValidateDtd() { return std::filesystem::exists(dtdPath()) && haveTool("xmllint"); }

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        std::filesystem::create_directories(folder / "media");
        std::filesystem::create_directories(parent);
        project.id = "proj-1";
        project.name = "Summer Show";
        project.revision = 4;
        take.id = "take-1";
        take.referenceCameraId = "cam-A";
        take.timelineFPS = "30";
    }

    // Adds a clip whose local copy exists with the given media facts.
    VELKClip& addClip(const std::string& cameraId, const std::string& fileName, FakeMedia media,
                      std::vector<TimingAnchor> anchors = {}, std::optional<std::string> meaning = std::nullopt) {
        const auto path = folder / "media" / fileName;
        const std::string content = "media of " + cameraId + " in " + fileName;
        writeBytes(path, content);
        probe.media[fileName] = media;
        VELKClip clip;
        clip.id = "clip-" + cameraId;
        clip.cameraId = cameraId;
        clip.fileName = fileName;
        clip.localPath = path.string();
        clip.sha256 = oneShotSha256(content);
        clip.anchorMeaning = meaning ? meaning : (anchors.empty() ? std::nullopt : std::optional<std::string>(kSameEvent));
        clip.anchors = std::move(anchors);
        take.clips.push_back(clip);
        return take.clips.back();
    }

    ExportEnvironment environment() {
        ExportEnvironment env;
        env.probe = &probe;
        env.now = std::chrono::system_clock::from_time_t(1772600767); // 2026-03-04 05:06:07 UTC
        return env;
    }

    std::filesystem::path runExport() { return DriftEngine::exportTake(project, take, parent, environment()); }

    // The sentence of the DriftExportError the export ends with, or "exported".
    std::string exportFailure() {
        try {
            runExport();
        } catch (const DriftExportError& error) {
            return error.what();
        }
        return "exported";
    }

    bool parentIsEmpty() const { return std::filesystem::is_empty(parent); }

    TempFolder folder;
    std::filesystem::path parent = folder / "exports";
    FakeMediaProbe probe;
    VELKProject project;
    VELKTake take;
};

} // namespace velk::testing
