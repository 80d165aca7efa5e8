#include <gtest/gtest.h>

#include "base/files.hpp"
#include "export/alignment_report.hpp"
#include "export_fixture.hpp"
#include "model/source_manifest.hpp"

namespace velk {
namespace {

using testing::ExportTest;
using testing::FakeMedia;
using testing::anchorsOnLine;

const std::vector<double> kTenSecondAnchors = {1, 3, 5, 7, 9};
const char* const kNote = "<note>Kestova linked A/V timing; verify head, middle and tail in Resolve.</note>";

class ExportPackage : public ExportTest {
protected:
    static bool everySlashEscaped(const std::string& text) {
        for (std::size_t i = text.find('/'); i != std::string::npos; i = text.find('/', i + 1)) {
            if (i == 0 || text[i - 1] != '\\') return false;
        }
        return true;
    }

    // The asset clip of camera lane `lane` (1-based) in a written timeline.
    static std::string assetClip(const std::string& document, int lane) {
        const std::string start = "<asset-clip ref=\"asset-" + std::to_string(lane) + "\"";
        auto begin = document.find(start);
        if (begin == std::string::npos) return {};
        auto end = document.find("</asset-clip>", begin);
        return document.substr(begin, end - begin);
    }

    void expectValidAgainstDtd(const std::filesystem::path& timeline) {
        if (!testing::canValidateDtd()) {
            std::cout << "[ note ] DTD validation skipped: FCPXML DTD or xmllint not found\n";
            return;
        }
        EXPECT_EQ(testing::dtdErrors(timeline), "");
    }
};

TEST_F(ExportPackage, TimelineDocumentByteForByte) {
    project.name = "Show & Tell";
    addClip("cam-A", "cam A.mov", FakeMedia{.durationSeconds = 10});
    addClip("cam-B", "b.mov",
            FakeMedia{.durationSeconds = 10, .audioTracks = 0, .transform = {0, 1, -1, 0},
                      .frameRate = static_cast<float>(30000.0 / 1001)},
            anchorsOnLine(kTenSecondAnchors, 1, 2.5));
    const auto exported = runExport();
    EXPECT_EQ(exported, parent / "Kestova_proj-1_take-1_20260304-050607");

    const std::string media = (folder / "media").string();
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n"
        "<fcpxml version=\"1.7\"><resources>"
        "<format id=\"timeline-format\" frameDuration=\"1/30s\" width=\"1920\" height=\"1080\"/>"
        "<format id=\"format-1\" frameDuration=\"1/30s\" width=\"1920\" height=\"1080\"/>"
        "<asset id=\"asset-1\" name=\"cam-A\" src=\"file://" + media + "/cam%20A.mov\" start=\"0s\" "
        "duration=\"10/1s\" hasVideo=\"1\" hasAudio=\"1\" format=\"format-1\"/>"
        "<format id=\"format-2\" frameDuration=\"7374/220999s\" width=\"1080\" height=\"1920\"/>"
        "<asset id=\"asset-2\" name=\"cam-B\" src=\"file://" + media + "/b.mov\" start=\"0s\" "
        "duration=\"10/1s\" hasVideo=\"1\" hasAudio=\"0\" format=\"format-2\"/>"
        "</resources>"
        "<event name=\"Show &amp; Tell\"><project name=\"take-1\">"
        "<sequence format=\"timeline-format\" duration=\"25/2s\" tcStart=\"0s\" tcFormat=\"NDF\" "
        "audioLayout=\"stereo\" audioRate=\"48k\"><spine>"
        "<gap name=\"Kestova take\" offset=\"0s\" start=\"0s\" duration=\"25/2s\">"
        "<asset-clip ref=\"asset-1\" format=\"format-1\" name=\"cam-A\" lane=\"1\" offset=\"0/1s\" start=\"0s\" "
        "duration=\"10/1s\" srcEnable=\"all\">" + std::string(kNote) +
        "<timeMap frameSampling=\"floor\" preservesPitch=\"1\">"
        "<timept time=\"0s\" value=\"0/1s\" interp=\"linear\"/>"
        "<timept time=\"10/1s\" value=\"10/1s\" interp=\"linear\"/></timeMap></asset-clip>"
        "<asset-clip ref=\"asset-2\" format=\"format-2\" name=\"cam-B\" lane=\"2\" offset=\"5/2s\" start=\"0s\" "
        "duration=\"10/1s\" srcEnable=\"all\">" + std::string(kNote) +
        "<timeMap frameSampling=\"floor\" preservesPitch=\"1\">"
        "<timept time=\"0s\" value=\"0/1s\" interp=\"linear\"/>"
        "<timept time=\"10/1s\" value=\"10/1s\" interp=\"linear\"/></timeMap></asset-clip>"
        "</gap></spine></sequence></project></event></fcpxml>";
    EXPECT_EQ(testing::readBytes(exported / "timeline.fcpxml"), expected);
    expectValidAgainstDtd(exported / "timeline.fcpxml");
}

TEST_F(ExportPackage, ReferenceOnlyTakeNeedsNoAnchors) {
    take.timelineFPS = "30000/1001";
    addClip("cam-A", "a.mov", FakeMedia{.durationSeconds = 5.3});
    addClip("cam-A", "a2.mov", FakeMedia{.durationSeconds = 2.0});
    const std::string document = testing::readBytes(runExport() / "timeline.fcpxml");
    EXPECT_NE(document.find("<format id=\"timeline-format\" frameDuration=\"1001/30000s\""), std::string::npos);
    // floor(d × F) frames of 1001/30000 s each: 158 and 59 frames.
    EXPECT_NE(assetClip(document, 1).find("offset=\"0/1s\" start=\"0s\" duration=\"79079/15000s\""), std::string::npos)
        << assetClip(document, 1);
    EXPECT_NE(assetClip(document, 2).find("duration=\"59059/30000s\""), std::string::npos) << assetClip(document, 2);
}

TEST_F(ExportPackage, FittedStartIsTheFirstWholeFrameAtOrAfterTheOffset) {
    addClip("cam-A", "a.mov", FakeMedia{.durationSeconds = 10});
    addClip("cam-B", "b.mov", FakeMedia{.durationSeconds = 10}, anchorsOnLine(kTenSecondAnchors, 1, 2.51));
    const auto exported = runExport();
    const std::string clip = assetClip(testing::readBytes(exported / "timeline.fcpxml"), 2);
    EXPECT_NE(clip.find("offset=\"38/15s\""), std::string::npos) << clip;
    // Frames 76 to 375: the source starts 0.0233 s in and ends 0.01 s before the media does.
    EXPECT_NE(clip.find("<timept time=\"0s\" value=\"7/300s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("<timept time=\"299/30s\" value=\"999/100s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("duration=\"299/30s\""), std::string::npos) << clip;
    expectValidAgainstDtd(exported / "timeline.fcpxml");
}

TEST_F(ExportPackage, NegativeOffsetCutsTheHead) {
    addClip("cam-A", "a.mov", FakeMedia{.durationSeconds = 10});
    addClip("cam-B", "b.mov", FakeMedia{.durationSeconds = 10}, anchorsOnLine({1, 3.5, 6, 8.5, 9.5}, 1, -1.0));
    const std::string clip = assetClip(testing::readBytes(runExport() / "timeline.fcpxml"), 2);
    EXPECT_NE(clip.find("offset=\"0/1s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("duration=\"9/1s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("<timept time=\"0s\" value=\"1/1s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("<timept time=\"9/1s\" value=\"10/1s\""), std::string::npos) << clip;
}

TEST_F(ExportPackage, RetimedClipMapsTimelineToSourceAtTheFittedRate) {
    addClip("cam-A", "a.mov", FakeMedia{.durationSeconds = 600});
    addClip("cam-B", "b.mov", FakeMedia{.durationSeconds = 600},
            anchorsOnLine({10, 150, 300, 450, 590}, 1.0005, 1.0));
    const auto exported = runExport();
    const std::string clip = assetClip(testing::readBytes(exported / "timeline.fcpxml"), 2);
    // Frames 30 to floor((1.0005 × 600 + 1) × 30) = 18039: 18009 frames; the source runs
    // (start − offset) / rate to the media's end.
    EXPECT_NE(clip.find("offset=\"1/1s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("duration=\"6003/10s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("<timept time=\"0s\" value=\"0/1s\""), std::string::npos) << clip;
    EXPECT_NE(clip.find("<timept time=\"6003/10s\" value=\"600/1s\""), std::string::npos) << clip;

    AlignmentReport report;
    from_json(json::parse(testing::readBytes(exported / "alignment-report.json")), report);
    ASSERT_EQ(report.clips.size(), 2u);
    EXPECT_TRUE(report.clips[1].correction.retime);
    EXPECT_NEAR(report.clips[1].playbackSpeedPercent, 100 / 1.0005, 1e-9);
    expectValidAgainstDtd(exported / "timeline.fcpxml");
}

TEST_F(ExportPackage, NamesAreEscapedAndKeepTheirWhiteSpace) {
    project.name = "Tom's \"Big\" <Show> & Co\tTake\nTwo\r";
    addClip("cam<&>\"'", "a.mov", FakeMedia{});
    take.referenceCameraId = "cam<&>\"'";
    const auto exported = runExport();
    const std::string document = testing::readBytes(exported / "timeline.fcpxml");
    EXPECT_NE(document.find("<event name=\"Tom's &quot;Big&quot; &lt;Show&gt; &amp; Co&#9;Take&#10;Two&#13;\">"),
              std::string::npos);
    EXPECT_NE(document.find("name=\"cam&lt;&amp;&gt;&quot;'\""), std::string::npos);
    expectValidAgainstDtd(exported / "timeline.fcpxml");
}

TEST_F(ExportPackage, FileUrlsArePercentEncoded) {
    addClip("cam-A", "Été #1 100%?.mov", FakeMedia{});
    const std::string document = testing::readBytes(runExport() / "timeline.fcpxml");
    const std::string media = (folder / "media").string();
    EXPECT_NE(document.find("src=\"file://" + media + "/%C3%89t%C3%A9%20%231%20100%25%3F.mov\""), std::string::npos)
        << document;
}

TEST_F(ExportPackage, AlignmentReportDocument) {
    VELKClip& reference = addClip("cam-A", "a.mov", FakeMedia{.durationSeconds = 10});
    for (char& c : reference.sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    addClip("cam-B", "b.mov", FakeMedia{.durationSeconds = 10, .audioTracks = 0}, anchorsOnLine(kTenSecondAnchors, 1, 2.5));
    const auto exported = runExport();
    const std::string text = testing::readBytes(exported / "alignment-report.json");

    AlignmentReport report;
    from_json(json::parse(text), report);
    EXPECT_EQ(report.schemaVersion, 1);
    EXPECT_EQ(report.projectId, "proj-1");
    EXPECT_EQ(report.takeId, "take-1");
    EXPECT_EQ(report.referenceCameraId, "cam-A");
    EXPECT_FALSE(report.originalsModified);
    EXPECT_FALSE(report.resolveImportVerified);
    ASSERT_EQ(report.clips.size(), 2u);
    const ExportClipReport& first = report.clips[0];
    EXPECT_EQ(first.cameraId, "cam-A");
    EXPECT_EQ(first.path, (folder / "media" / "a.mov").string());
    EXPECT_EQ(first.sha256, testing::oneShotSha256("media of cam-A in a.mov"));
    EXPECT_EQ(first.media, (MediaInfo{10, 1920, 1080, 30, true}));
    EXPECT_EQ(first.correction, DriftCorrection::identity());
    EXPECT_EQ(first.playbackSpeedPercent, 100);
    EXPECT_EQ(report.clips[1].correction.offsetSeconds, 2.5);
    EXPECT_FALSE(report.clips[1].media.hasAudio);

    // Pretty, keys sorted at every level, and "/" written as "\/".
    EXPECT_NE(text.find('\n'), std::string::npos);
    EXPECT_LT(text.find("\"cameraId\""), text.find("\"correction\""));
    EXPECT_LT(text.find("\"driftPPM\""), text.find("\"endpointUncertaintyMs\""));
    EXPECT_LT(text.find("\"clips\""), text.find("\"originalsModified\""));
    EXPECT_TRUE(everySlashEscaped(text)) << text;
    EXPECT_NE(text.find("\\/media\\/a.mov"), std::string::npos);
}

TEST_F(ExportPackage, SourceManifestReadsBackAsWritten) {
    take.projectNameAtCapture = "Summer Show (draft)";
    take.projectRevisionAtCapture = 3;
    take.timelineFPS = "30000/1001";
    addClip("cam-A", "a.mov", FakeMedia{});
    VELKClip& other = addClip("cam-B", "b.mov", FakeMedia{}, anchorsOnLine(kTenSecondAnchors, 1, 2));
    other.mediaKind = "video";
    other.timingSidecarURL = "https://phone.local:8443/clips/b.timing.json";
    other.timingSidecarSHA256 = std::string(64, 'a');
    other.deviceId = "device-2";
    other.deviceName = "Stage Left";
    // A catalogued digest in upper case is kept as it is in the manifest.
    for (char& c : take.clips[0].sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    const auto exported = runExport();
    const std::string text = testing::readBytes(exported / "source-manifest.json");
    EXPECT_TRUE(everySlashEscaped(text)) << text;
    const SourceManifest manifest = decodeSourceManifest(text);
    EXPECT_EQ(manifest.schemaVersion, 1);
    EXPECT_EQ(manifest.projectId, "proj-1");
    EXPECT_EQ(manifest.projectName, "Summer Show");
    EXPECT_EQ(manifest.projectRevision, 4);
    EXPECT_EQ(manifest.projectNameAtCapture, "Summer Show (draft)");
    EXPECT_EQ(manifest.projectRevisionAtCapture, 3);
    EXPECT_EQ(manifest.takeId, "take-1");
    EXPECT_EQ(manifest.referenceCameraId, "cam-A");
    EXPECT_EQ(manifest.timelineFPS, "30000/1001");
    ASSERT_EQ(manifest.clips.size(), 2u);

    const SourceClip& a = manifest.clips[0];
    EXPECT_EQ(a.clipId, "clip-cam-A");
    EXPECT_EQ(a.takeId, "take-1");
    EXPECT_EQ(a.path, *take.clips[0].localPath);
    EXPECT_EQ(a.sha256, take.clips[0].sha256);
    EXPECT_FALSE(a.anchorMeaning);
    ASSERT_TRUE(a.anchors);
    EXPECT_TRUE(a.anchors->empty());
    EXPECT_FALSE(a.mediaKind || a.timingSidecarPath || a.timingSidecarSHA256 || a.deviceId || a.deviceName);

    const SourceClip& b = manifest.clips[1];
    EXPECT_EQ(b.anchorMeaning, "same-event-reference-media-seconds");
    EXPECT_EQ(b.anchors, take.clips[1].anchors);
    EXPECT_EQ(b.mediaKind, "video");
    EXPECT_EQ(b.timingSidecarPath, "https://phone.local:8443/clips/b.timing.json");
    EXPECT_EQ(b.timingSidecarSHA256, std::string(64, 'a'));
    EXPECT_EQ(b.deviceId, "device-2");
    EXPECT_EQ(b.deviceName, "Stage Left");

    // The report keeps the computed lower-case digest.
    AlignmentReport report;
    from_json(json::parse(testing::readBytes(exported / "alignment-report.json")), report);
    EXPECT_EQ(report.clips[0].sha256, testing::oneShotSha256("media of cam-A in a.mov"));
}

TEST_F(ExportPackage, ProjectWithoutRevisionLeavesTheKeyOut) {
    project.revision.reset();
    addClip("cam-A", "a.mov", FakeMedia{});
    const std::string text = testing::readBytes(runExport() / "source-manifest.json");
    EXPECT_EQ(text.find("projectRevision\""), std::string::npos);
    EXPECT_EQ(text.find("null"), std::string::npos);
}

TEST_F(ExportPackage, FailedManifestEncodingRemovesTheWholeFolder) {
    // The reference clip's anchors are never examined, so a non-finite one only fails the manifest,
    // after the timeline and the report were written.
    addClip("cam-A", "a.mov", FakeMedia{}, {{std::numeric_limits<double>::infinity(), 1, 1, 1}},
            std::string("same-event-reference-media-seconds"));
    EXPECT_THROW(runExport(), JsonError);
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportPackage, FailedWriteOfAnyDocumentRemovesTheWholeFolder) {
    addClip("cam-A", "a.mov", FakeMedia{});
    for (const char* failing : {"timeline.fcpxml", "alignment-report.json", "source-manifest.json"}) {
        ExportEnvironment env = environment();
        env.writeFile = [&](const std::filesystem::path& path, std::string_view data) {
            if (path.filename() == failing) throw std::system_error(ENOSPC, std::generic_category(), "write");
            files::writeAtomically(path, data);
        };
        EXPECT_THROW(DriftEngine::exportTake(project, take, parent, env), std::system_error) << failing;
        EXPECT_TRUE(parentIsEmpty()) << failing;
    }
}

TEST_F(ExportPackage, MediaFilesAreNeverChanged) {
    addClip("cam-A", "a.mov", FakeMedia{});
    const auto before = std::filesystem::last_write_time(*take.clips[0].localPath);
    const VELKTake unchanged = take;
    const auto exported = runExport();
    EXPECT_EQ(std::filesystem::last_write_time(*take.clips[0].localPath), before);
    EXPECT_EQ(take, unchanged);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(exported)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alignment-report.json", "source-manifest.json", "timeline.fcpxml"}));
}

} // namespace
} // namespace velk
