// Whole exports over real media files, probed with libavformat and checked with xmllint.

#include <gtest/gtest.h>

#include "export/alignment_report.hpp"
#include "export_fixture.hpp"
#include "media_fixtures.hpp"
#include "model/source_manifest.hpp"

namespace velk {
namespace {

using testing::MediaFixtures;

VELKClip clipOf(const std::string& cameraId, const std::filesystem::path& file, std::vector<TimingAnchor> anchors) {
    VELKClip clip;
    clip.id = "take-7::" + cameraId;
    clip.cameraId = cameraId;
    clip.fileName = file.filename().string();
    clip.localPath = file.string();
    clip.sha256 = testing::oneShotSha256(testing::readBytes(file));
    if (!anchors.empty()) clip.anchorMeaning = testing::kSameEvent;
    clip.anchors = std::move(anchors);
    clip.deviceName = cameraId + " phone";
    return clip;
}

TEST(RealMediaExport, ThreeCameraTake) {
    const MediaFixtures& fixtures = MediaFixtures::shared();
    if (!fixtures.available()) GTEST_SKIP() << fixtures.reason();
    testing::TempFolder parent;

    VELKProject project{.id = "proj/7", .name = "Live at \"The Hall\" & Co", .revision = 2};
    VELKTake take;
    take.id = "take-7";
    take.referenceCameraId = "wide";
    take.timelineFPS = "30";
    const std::vector<double> sources = {0.05, 0.3, 0.55, 0.8, 0.95};
    take.clips.push_back(clipOf("wide", fixtures["landscape.mov"], {}));
    take.clips.push_back(clipOf("upright", fixtures["portrait.mov"], testing::anchorsOnLine(sources, 1, 0.1)));
    take.clips.push_back(clipOf("close", fixtures["ntsc.mp4"], testing::anchorsOnLine(sources, 1, 0.2)));

    ExportEnvironment environment;
    environment.now = std::chrono::system_clock::from_time_t(1772600767);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const auto folder = DriftEngine::exportTake(project, take, parent.path(), environment);
    EXPECT_EQ(folder.filename(), "Kestova_proj-7_take-7_20260304-050607");

    const auto timeline = folder / "timeline.fcpxml";
    const std::string document = testing::readBytes(timeline);
    EXPECT_NE(document.find("<format id=\"timeline-format\" frameDuration=\"1/30s\" width=\"64\" height=\"36\"/>"),
              std::string::npos);
    EXPECT_NE(document.find("<format id=\"format-2\" frameDuration=\"1/30s\" width=\"36\" height=\"64\"/>"),
              std::string::npos);
    EXPECT_NE(document.find("<format id=\"format-3\" frameDuration=\"7374/220999s\" width=\"64\" height=\"36\"/>"),
              std::string::npos);
    EXPECT_NE(document.find("name=\"upright\" lane=\"2\""), std::string::npos);
    EXPECT_NE(document.find("name=\"close\" lane=\"3\""), std::string::npos);
    if (testing::canValidateDtd()) {
        EXPECT_EQ(testing::dtdErrors(timeline), "");
    } else {
        std::cout << "[ note ] DTD validation skipped: FCPXML DTD or xmllint not found\n";
    }

    AlignmentReport report;
    from_json(json::parse(testing::readBytes(folder / "alignment-report.json")), report);
    ASSERT_EQ(report.clips.size(), 3u);
    EXPECT_EQ(report.clips[1].media, DriftEngine::mediaInfo(fixtures["portrait.mov"]));
    EXPECT_EQ(report.clips[2].media.fps, 29.970029830932617);
    EXPECT_NEAR(report.clips[2].correction.offsetSeconds, 0.2, 1e-9);
    EXPECT_EQ(report.clips[0].sha256, take.clips[0].sha256);

    const SourceManifest manifest = decodeSourceManifest(testing::readBytes(folder / "source-manifest.json"));
    EXPECT_EQ(manifest.projectId, "proj/7");
    EXPECT_EQ(manifest.projectName, project.name);
    ASSERT_EQ(manifest.clips.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(manifest.clips[i].path, take.clips[i].localPath);
        EXPECT_EQ(manifest.clips[i].sha256, take.clips[i].sha256);
        EXPECT_EQ(manifest.clips[i].anchors, take.clips[i].anchors);
        EXPECT_EQ(manifest.clips[i].deviceName, take.clips[i].deviceName);
    }
}

TEST(RealMediaExport, DtdRejectsAWrongDocument) {
    // Guards the validation itself: a document the DTD does not allow must fail it.
    if (!testing::canValidateDtd()) GTEST_SKIP() << "FCPXML DTD or xmllint not found";
    testing::TempFolder folder;
    testing::writeBytes(folder / "bad.fcpxml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n<fcpxml version=\"1.8\"/>");
    EXPECT_NE(testing::dtdErrors(folder / "bad.fcpxml"), "");
}

} // namespace
} // namespace velk
