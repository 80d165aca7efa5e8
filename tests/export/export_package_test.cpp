#include <algorithm>
#include <functional>
#include <limits>

#include "export/alignment_report.hpp"
#include "export_support.hpp"
#include "model/source_manifest.hpp"

namespace velk {
namespace {

using testing::anchorsOnLine;
using testing::ExportTest;
using testing::FakeMedia;

const std::vector<double> kTenSecondAnchors = {1, 3, 5, 7, 9};
const char* const kNote = "<note>Kestova linked A/V timing; verify head, middle and tail in Resolve.</note>";

bool everySlashEscaped(const std::string& text) {
    for (std::size_t i = text.find('/'); i != std::string::npos; i = text.find('/', i + 1))
        if (i == 0 || text[i - 1] != '\\') return false;
    return true;
}

// The asset clip of camera lane `lane` (1-based) in a written timeline.
std::string assetClip(const std::string& document, int lane) {
    const auto begin = document.find("<asset-clip ref=\"asset-" + std::to_string(lane) + "\"");
    return begin == std::string::npos ? std::string() : document.substr(begin, document.find("</asset-clip>", begin) - begin);
}

TEST_F(ExportTest, TimelineDocumentByteForByte) {
    // Names keep their white space and are escaped, except for the apostrophe; file URLs are
    // percent-encoded.
    project.name = "Tom's \"Big\" <Show> & Co\tTake\nTwo\r";
    take.referenceCameraId = "cam<&>\"'";
    addClip("cam<&>\"'", "Été #1 100%?.mov");
    addClip("cam-B", "b.mov", {.audioTracks = 0, .transform = {0, 1, -1, 0}, .frameRate = static_cast<float>(30000.0 / 1001)},
            anchorsOnLine(kTenSecondAnchors, 1, 2.5));
    const auto exported = runExport();
    EXPECT_EQ(exported, parent / "Kestova_proj-1_take-1_20260304-050607");
    const std::string media = (folder / "media").string();
    const std::string timeMap = "<timeMap frameSampling=\"floor\" preservesPitch=\"1\">"
                                "<timept time=\"0s\" value=\"0/1s\" interp=\"linear\"/>"
                                "<timept time=\"10/1s\" value=\"10/1s\" interp=\"linear\"/></timeMap></asset-clip>";
    EXPECT_EQ(files::readAll(exported / "timeline.fcpxml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n"
              "<fcpxml version=\"1.7\"><resources>"
              "<format id=\"timeline-format\" frameDuration=\"1/30s\" width=\"1920\" height=\"1080\"/>"
              "<format id=\"format-1\" frameDuration=\"1/30s\" width=\"1920\" height=\"1080\"/>"
              "<asset id=\"asset-1\" name=\"cam&lt;&amp;&gt;&quot;'\" src=\"file://" + media +
              "/%C3%89t%C3%A9%20%231%20100%25%3F.mov\" start=\"0s\" "
              "duration=\"10/1s\" hasVideo=\"1\" hasAudio=\"1\" format=\"format-1\"/>"
              "<format id=\"format-2\" frameDuration=\"7374/220999s\" width=\"1080\" height=\"1920\"/>"
              "<asset id=\"asset-2\" name=\"cam-B\" src=\"file://" + media + "/b.mov\" start=\"0s\" "
              "duration=\"10/1s\" hasVideo=\"1\" hasAudio=\"0\" format=\"format-2\"/>"
              "</resources>"
              "<event name=\"Tom's &quot;Big&quot; &lt;Show&gt; &amp; Co&#9;Take&#10;Two&#13;\"><project name=\"take-1\">"
              "<sequence format=\"timeline-format\" duration=\"25/2s\" tcStart=\"0s\" tcFormat=\"NDF\" "
              "audioLayout=\"stereo\" audioRate=\"48k\"><spine>"
              "<gap name=\"Kestova take\" offset=\"0s\" start=\"0s\" duration=\"25/2s\">"
              "<asset-clip ref=\"asset-1\" format=\"format-1\" name=\"cam&lt;&amp;&gt;&quot;'\" lane=\"1\" offset=\"0/1s\" start=\"0s\" "
              "duration=\"10/1s\" srcEnable=\"all\">" + kNote + timeMap +
              "<asset-clip ref=\"asset-2\" format=\"format-2\" name=\"cam-B\" lane=\"2\" offset=\"5/2s\" start=\"0s\" "
              "duration=\"10/1s\" srcEnable=\"all\">" + kNote + timeMap +
              "</gap></spine></sequence></project></event></fcpxml>");
    testing::expectValidAgainstDtd(exported / "timeline.fcpxml");
}

TEST_F(ExportTest, PlacementOnWholeTimelineFrames) {
    struct Clip { const char* camera; const char* file; double duration; std::vector<TimingAnchor> anchors; };
    struct Case {
        const char* what;
        const char* rate;
        std::vector<Clip> clips;
        std::vector<std::pair<int, const char*>> expected; // lane 0: the whole document
        double secondSpeedPercent;                          // in the report
    };
    const Case cases[] = {
        // floor(d × F) frames of 1001/30000 s each: 158 and 59 frames.
        {"reference camera only", "30000/1001", {{"cam-A", "a.mov", 5.3, {}}, {"cam-A", "a2.mov", 2.0, {}}},
         {{0, "<format id=\"timeline-format\" frameDuration=\"1001/30000s\""},
          {1, "offset=\"0/1s\" start=\"0s\" duration=\"79079/15000s\""}, {2, "duration=\"59059/30000s\""}}, 100},
        // Frames 76 to 375: the source starts 0.0233 s in and ends 0.01 s before the media does.
        {"start at the first whole frame after the offset", "30",
         {{"cam-A", "a.mov", 10, {}}, {"cam-B", "b.mov", 10, anchorsOnLine(kTenSecondAnchors, 1, 2.51)}},
         {{2, "offset=\"38/15s\""}, {2, "<timept time=\"0s\" value=\"7/300s\""},
          {2, "<timept time=\"299/30s\" value=\"999/100s\""}, {2, "duration=\"299/30s\""}}, 100},
        {"negative offset cuts the head", "30",
         {{"cam-A", "a.mov", 10, {}}, {"cam-B", "b.mov", 10, anchorsOnLine({1, 3.5, 6, 8.5, 9.5}, 1, -1.0)}},
         {{2, "offset=\"0/1s\""}, {2, "duration=\"9/1s\""}, {2, "<timept time=\"0s\" value=\"1/1s\""},
          {2, "<timept time=\"9/1s\" value=\"10/1s\""}}, 100},
        // Frames 30 to floor((1.0005 × 600 + 1) × 30) = 18039; the source runs to the media's end.
        {"retimed clip", "30",
         {{"cam-A", "a.mov", 600, {}}, {"cam-B", "b.mov", 600, anchorsOnLine({10, 150, 300, 450, 590}, 1.0005, 1.0)}},
         {{2, "offset=\"1/1s\""}, {2, "duration=\"6003/10s\""}, {2, "<timept time=\"0s\" value=\"0/1s\""},
          {2, "<timept time=\"6003/10s\" value=\"600/1s\""}}, 100 / 1.0005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        take.clips.clear();
        take.timelineFPS = c.rate;
        for (const Clip& clip : c.clips) addClip(clip.camera, clip.file, {.durationSeconds = clip.duration}, clip.anchors);
        const auto exported = runExport();
        const std::string document = files::readAll(exported / "timeline.fcpxml");
        for (auto [lane, text] : c.expected) {
            const std::string part = lane == 0 ? document : assetClip(document, lane);
            EXPECT_NE(part.find(text), std::string::npos) << text << " in " << part;
        }
        const Json report = json::parse(files::readAll(exported / "alignment-report.json"));
        EXPECT_NEAR(report.at("clips").at(1).at("playbackSpeedPercent").get<double>(), c.secondSpeedPercent, 1e-9);
        testing::expectValidAgainstDtd(exported / "timeline.fcpxml");
        std::filesystem::remove_all(exported);
    }
}

TEST_F(ExportTest, ReportAndManifestDocuments) {
    take.projectNameAtCapture = "Summer Show (draft)";
    take.projectRevisionAtCapture = 3;
    take.timelineFPS = "30000/1001";
    VELKClip& reference = addClip("cam-A", "a.mov");
    std::transform(reference.sha256.begin(), reference.sha256.end(), reference.sha256.begin(), ::toupper);
    VELKClip& other = addClip("cam-B", "b.mov", {.audioTracks = 0}, anchorsOnLine(kTenSecondAnchors, 1, 2.5));
    other.mediaKind = "video";
    other.timingSidecarURL = "https://phone.local:8443/clips/b.timing.json";
    other.timingSidecarSHA256 = std::string(64, 'a');
    other.deviceId = "device-2";
    other.deviceName = "Stage Left";
    const VELKTake unchanged = take;
    const auto mediaTime = std::filesystem::last_write_time(folder / "media" / "a.mov");
    const auto exported = runExport();
    const std::string pathA = (folder / "media" / "a.mov").string(), pathB = (folder / "media" / "b.mov").string();

    // The report keeps the computed lower-case digest; the reference clip is placed as it is.
    const std::string reportText = files::readAll(exported / "alignment-report.json");
    Json report = json::parse(reportText);
    Json first = Json::parse(R"({"cameraId": "cam-A", "playbackSpeedPercent": 100,
        "media": {"duration": 10, "width": 1920, "height": 1080, "fps": 30, "hasAudio": true},
        "correction": {"offsetSeconds": 0, "referenceSecondsPerSourceSecond": 1, "driftPPM": 0, "maxResidualMs": 0,
                       "endpointUncertaintyMs": 0, "retime": false}})");
    first["path"] = pathA;
    first["sha256"] = Sha256::hexOf("media of cam-A in a.mov");
    ASSERT_EQ(report.at("clips").size(), 2u);
    EXPECT_EQ(report["clips"][0], first);
    EXPECT_EQ(report["clips"][1]["path"], pathB);
    EXPECT_EQ(report["clips"][1]["correction"]["offsetSeconds"], 2.5);
    EXPECT_EQ(report["clips"][1]["media"]["hasAudio"], false);
    report.erase("clips");
    EXPECT_EQ(report, Json::parse(R"({"schemaVersion": 1, "projectId": "proj-1", "takeId": "take-1",
        "referenceCameraId": "cam-A", "originalsModified": false, "resolveImportVerified": false})"));
    // Pretty, keys sorted at every level, and "/" written as "\/".
    EXPECT_NE(reportText.find('\n'), std::string::npos);
    EXPECT_LT(reportText.find("\"cameraId\""), reportText.find("\"correction\""));
    EXPECT_LT(reportText.find("\"driftPPM\""), reportText.find("\"endpointUncertaintyMs\""));
    EXPECT_LT(reportText.find("\"clips\""), reportText.find("\"originalsModified\""));
    EXPECT_TRUE(everySlashEscaped(reportText)) << reportText;

    // The manifest keeps the catalogued digest as it was, and is what the store's import reads.
    const std::string manifestText = files::readAll(exported / "source-manifest.json");
    EXPECT_TRUE(everySlashEscaped(manifestText)) << manifestText;
    Json manifest = Json::parse(R"json({"schemaVersion": 1, "projectId": "proj-1", "projectName": "Summer Show",
        "projectRevision": 4, "projectNameAtCapture": "Summer Show (draft)", "projectRevisionAtCapture": 3,
        "takeId": "take-1", "referenceCameraId": "cam-A", "timelineFPS": "30000/1001", "clips": [
        {"clipId": "clip-cam-A", "cameraId": "cam-A", "takeId": "take-1", "anchors": []},
        {"clipId": "clip-cam-B", "cameraId": "cam-B", "takeId": "take-1", "mediaKind": "video",
         "anchorMeaning": "same-event-reference-media-seconds",
         "timingSidecarPath": "https://phone.local:8443/clips/b.timing.json", "deviceId": "device-2",
         "deviceName": "Stage Left"}]})json");
    manifest["clips"][0]["path"] = pathA;
    manifest["clips"][0]["sha256"] = take.clips[0].sha256;
    manifest["clips"][1]["path"] = pathB;
    manifest["clips"][1]["sha256"] = take.clips[1].sha256;
    manifest["clips"][1]["timingSidecarSHA256"] = std::string(64, 'a');
    manifest["clips"][1]["anchors"] = take.clips[1].anchors;
    EXPECT_EQ(Json::parse(manifestText), manifest);

    // The package holds three documents; the media and the take are left as they were.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(exported)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alignment-report.json", "source-manifest.json", "timeline.fcpxml"}));
    EXPECT_EQ(std::filesystem::last_write_time(folder / "media" / "a.mov"), mediaTime);
    EXPECT_EQ(take, unchanged);

    std::filesystem::remove_all(exported);
    project.revision.reset();
    const std::string withoutRevision = files::readAll(runExport() / "source-manifest.json");
    EXPECT_EQ(withoutRevision.find("projectRevision\""), std::string::npos);
    EXPECT_EQ(withoutRevision.find("null"), std::string::npos);
}

TEST_F(ExportTest, ValidationFailsWithItsSentenceBeforeAnythingIsWritten) {
    const std::string forbidden = "A name in this take contains characters that FCPXML cannot carry.";
    const std::string pathB = (folder / "media" / "b.mov").string();
    struct Case { std::string what; std::function<void()> change; std::string sentence; bool beforeProbe = false; };
    std::vector<Case> cases = {
        {"reference camera needs no anchors", [] {}, "exported"},
        {"upper-case catalogued digest", [&] { for (char& c : take.clips[0].sha256) c = static_cast<char>(std::toupper(c)); },
         "exported"},
        {"rate 1000000", [&] { take.timelineFPS = "1000000"; }, "exported"},
        {"no clips", [&] { take.clips.clear(); }, "The selected take has no clips."},
        {"no reference", [&] { take.referenceCameraId.reset(); }, "Choose a reference camera before export."},
        {"reference compared exactly", [&] { take.referenceCameraId = "cam-a"; }, "Choose a reference camera before export."},
        {"not downloaded", [&] { take.clips[1].localPath.reset(); }, "cam-B has not been downloaded."},
        {"file gone", [&] { take.clips[1].localPath = pathB + ".gone"; }, "Missing source: " + pathB + ".gone"},
        {"digest before probe", [&] { take.clips[0].sha256 = std::string(64, '0'); }, "Checksum mismatch for cam-A.", true},
        {"no meaning", [&] { take.clips[1].anchorMeaning.reset(); }, "cam-B does not have same-event media anchors."},
        {"other meaning", [&] { take.clips[1].anchorMeaning = "wall-clock-seconds"; },
         "cam-B does not have same-event media anchors."},
        {"fit failure", [&] { take.clips[1].anchors.pop_back(); }, "Need a positive duration and at least five verified anchors."},
        {"probe failure", [&] { probe.media["b.mov"].audioTracks = 2; }, "Multiple audio tracks need manual mapping."},
        // Fitted to start after its own media has ended.
        {"no whole frame", [&] { probe.media["a.mov"].durationSeconds = 0.02; }, "No usable media remains for cam-A."},
        {"project name", [&] { project.name = "Show\x02"; }, forbidden, true},
        {"take id", [&] { take.id = "take\x7F\xFF"; }, forbidden, true},
    };
    // "0/1" and "inf" parse, and 3,000,000 fps has a frame duration that rounds to zero: all are the
    // rate's fault, not a clip's.
    for (const char* rate : {"abc", "30/0", "0/1", "inf", "nan/1", "3000000", "-30/1"})
        cases.push_back({std::string("rate ") + rate, [&, rate] { take.timelineFPS = rate; }, "Invalid timeline frame rate."});
    for (const std::string& name : {std::string("cam\x01"), std::string("cam\0", 4), std::string("cam\x1F"),
                                   std::string("cam\x0B"), std::string("cam\xEF\xBF\xBE"), std::string("cam\xEF\xBF\xBF"),
                                   std::string("cam\xC3"), std::string("cam\xED\xA0\x80")})
        cases.push_back({"camera id " + std::to_string(static_cast<unsigned char>(name.back())),
                         [&, name] { take.clips[0].cameraId = name, take.referenceCameraId = name; }, forbidden, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        project = {.id = "proj-1", .name = "Summer Show", .revision = 4};
        take = {.id = "take-1", .referenceCameraId = "cam-A", .timelineFPS = "30"};
        addClip("cam-A", "a.mov");
        addClip("cam-B", "b.mov", {}, anchorsOnLine(kTenSecondAnchors, 1, 2));
        probe.loads.clear();
        c.change();
        EXPECT_EQ(exportFailure(), c.sentence);
        EXPECT_TRUE(parentIsEmpty());
        if (c.beforeProbe) {
            EXPECT_EQ(probe.loads, std::vector<std::string>{});
        }
    }
}

TEST_F(ExportTest, DestinationIsNewAndNamedFromTheIds) {
    addClip("cam-A", "a.mov");
    const auto name = parent / "Kestova_proj-1_take-1_20260304-050607";
    std::filesystem::create_directory(name);
    files::writeAtomically(name / "keep.txt", "mine");
    EXPECT_EQ(exportFailure(), "Export destination already exists.");
    EXPECT_EQ(files::readAll(name / "keep.txt"), "mine");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(name), {}), 1);

    // Exporting twice within one second fails the second time and leaves the first as it was.
    std::filesystem::remove_all(name);
    const std::string timeline = files::readAll(runExport() / "timeline.fcpxml");
    EXPECT_EQ(exportFailure(), "Export destination already exists.");
    EXPECT_EQ(files::readAll(name / "timeline.fcpxml"), timeline);

    project.id = "studio/proj";
    take.id = "take/2";
    EXPECT_TRUE(std::filesystem::is_directory(runExport()));
    EXPECT_TRUE(std::filesystem::is_directory(parent / "Kestova_studio-proj_take-2_20260304-050607"));

    parent = folder / "no-such-parent";
    EXPECT_THROW(runExport(), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(parent));
}

TEST_F(ExportTest, FailuresAfterTheFolderIsMadeRemoveIt) {
    addClip("cam-A", "a.mov");
    for (const char* failing : {"timeline.fcpxml", "alignment-report.json", "source-manifest.json"}) {
        ExportEnvironment env = environment();
        env.writeFile = [&](const std::filesystem::path& path, std::string_view data) {
            if (path.filename() == failing) throw std::system_error(EIO, std::generic_category(), "write");
            files::writeAtomically(path, data);
        };
        EXPECT_THROW(DriftEngine::exportTake(project, take, parent, env), std::system_error) << failing;
        EXPECT_TRUE(parentIsEmpty()) << failing;
    }
    // The reference clip's anchors are never examined, so a non-finite one fails only the manifest,
    // after the timeline and the report were made.
    take.clips[0].anchors = {{std::numeric_limits<double>::infinity(), 1, 1, 1}};
    EXPECT_THROW(runExport(), JsonError);
    EXPECT_TRUE(parentIsEmpty());
    probe.media.clear(); // the framework's own error passes through
    EXPECT_THROW(runExport(), MediaFrameworkError);
    EXPECT_TRUE(parentIsEmpty());
}

VELKClip realClip(const std::string& cameraId, const std::filesystem::path& file, std::vector<TimingAnchor> anchors) {
    return VELKClip{.id = "take-7::" + cameraId, .cameraId = cameraId, .fileName = file.filename().string(),
                    .localPath = file.string(), .sha256 = Sha256::hexOf(files::readAll(file)),
                    .anchorMeaning = anchors.empty() ? std::nullopt : std::optional<std::string>(testing::kSameEvent),
                    .anchors = anchors, .deviceName = cameraId + " phone"};
}

TEST(RealMediaExport, ThreeCameraTakeProbedWithLibavAndValidated) {
    VELK_REQUIRE_MEDIA_FIXTURES(fixtures);
    testing::TempFolder parent;
    const VELKProject project{.id = "proj/7", .name = "Live at \"The Hall\" & Co", .revision = 2};
    const std::vector<double> sources = {0.05, 0.3, 0.55, 0.8, 0.95};
    const VELKTake take{.id = "take-7", .referenceCameraId = "wide", .timelineFPS = "30",
                        .clips = {realClip("wide", fixtures["landscape.mov"], {}),
                                  realClip("upright", fixtures["portrait.mov"], anchorsOnLine(sources, 1, 0.1)),
                                  realClip("close", fixtures["ntsc.mp4"], anchorsOnLine(sources, 1, 0.2))}};
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const auto folder = DriftEngine::exportTake(project, take, parent.path,
                                                {.now = std::chrono::system_clock::from_time_t(1772600767)});
    EXPECT_EQ(folder.filename(), "Kestova_proj-7_take-7_20260304-050607");

    const std::string document = files::readAll(folder / "timeline.fcpxml");
    for (const char* text : {"<format id=\"timeline-format\" frameDuration=\"1/30s\" width=\"64\" height=\"36\"/>",
                             "<format id=\"format-2\" frameDuration=\"1/30s\" width=\"36\" height=\"64\"/>",
                             "<format id=\"format-3\" frameDuration=\"7374/220999s\" width=\"64\" height=\"36\"/>",
                             "name=\"upright\" lane=\"2\"", "name=\"close\" lane=\"3\""})
        EXPECT_NE(document.find(text), std::string::npos) << text;
    testing::expectValidAgainstDtd(folder / "timeline.fcpxml");

    AlignmentReport report;
    from_json(json::parse(files::readAll(folder / "alignment-report.json")), report);
    ASSERT_EQ(report.clips.size(), 3u);
    EXPECT_EQ(report.clips[1].media, DriftEngine::mediaInfo(fixtures["portrait.mov"]));
    EXPECT_EQ(report.clips[2].media.fps, 29.970029830932617);
    EXPECT_NEAR(report.clips[2].correction.offsetSeconds, 0.2, 1e-9);
    EXPECT_EQ(report.clips[0].sha256, take.clips[0].sha256);

    EXPECT_EQ(decodeSourceManifest(files::readAll(folder / "source-manifest.json")).projectId, "proj/7");
}

TEST(RealMediaExport, DtdValidationRejectsAWrongDocument) {
    if (!testing::canValidateDtd()) GTEST_SKIP() << "FCPXML DTD or xmllint not found";
    testing::TempFolder folder;
    files::writeAtomically(folder / "bad.fcpxml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n<fcpxml version=\"1.8\"/>");
    EXPECT_NE(testing::dtdErrors(folder / "bad.fcpxml"), "");
}

} // namespace
} // namespace velk
