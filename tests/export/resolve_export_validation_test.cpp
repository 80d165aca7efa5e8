#include <gtest/gtest.h>

#include "export_fixture.hpp"

namespace velk {
namespace {

using testing::ExportTest;
using testing::FakeMedia;
using testing::anchorsOnLine;

const std::vector<double> kTenSecondAnchors = {1, 3, 5, 7, 9};

class ExportValidation : public ExportTest {};

TEST_F(ExportValidation, TakeWithoutClips) {
    EXPECT_EQ(exportFailure(), "The selected take has no clips.");
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportValidation, ReferenceCameraAbsentOrWithoutClip) {
    addClip("cam-A", "a.mov", FakeMedia{});
    take.referenceCameraId.reset();
    EXPECT_EQ(exportFailure(), "Choose a reference camera before export.");
    take.referenceCameraId = "cam-a"; // exact comparison
    EXPECT_EQ(exportFailure(), "Choose a reference camera before export.");
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportValidation, UnusableTimelineRates) {
    addClip("cam-A", "a.mov", FakeMedia{});
    // "0/1" and "inf" parse, and 3,000,000 fps has a frame duration that rounds to zero; all three
    // are the rate's fault, not a clip's.
    for (const char* rate : {"abc", "30/0", "0/1", "inf", "nan/1", "3000000", "-30/1"}) {
        take.timelineFPS = rate;
        EXPECT_EQ(exportFailure(), "Invalid timeline frame rate.") << rate;
    }
    EXPECT_TRUE(parentIsEmpty());
    take.timelineFPS = "1000000";
    EXPECT_EQ(exportFailure(), "exported");
}

TEST_F(ExportValidation, ExistingDestinationIsLeftAsItWas) {
    addClip("cam-A", "a.mov", FakeMedia{});
    const auto existing = parent / "Kestova_proj-1_take-1_20260304-050607";
    std::filesystem::create_directory(existing);
    testing::writeBytes(existing / "keep.txt", "mine");
    EXPECT_EQ(exportFailure(), "Export destination already exists.");
    EXPECT_EQ(testing::readBytes(existing / "keep.txt"), "mine");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(existing), {}), 1);
}

TEST_F(ExportValidation, ExportingTwiceInOneSecondFailsTheSecondTime) {
    addClip("cam-A", "a.mov", FakeMedia{});
    const auto first = runExport();
    const std::string timeline = testing::readBytes(first / "timeline.fcpxml");
    EXPECT_EQ(exportFailure(), "Export destination already exists.");
    EXPECT_EQ(testing::readBytes(first / "timeline.fcpxml"), timeline);
}

TEST_F(ExportValidation, SlashesInIdsBecomeDashesInTheFolderName) {
    addClip("cam-A", "a.mov", FakeMedia{});
    project.id = "studio/proj";
    take.id = "take/2";
    const auto folder = runExport();
    EXPECT_EQ(folder, parent / "Kestova_studio-proj_take-2_20260304-050607");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST_F(ExportValidation, ClipNotDownloadedOrAbsent) {
    addClip("cam-A", "a.mov", FakeMedia{});
    VELKClip& other = addClip("cam-B", "b.mov", FakeMedia{}, anchorsOnLine(kTenSecondAnchors, 1, 2));
    const std::string path = *other.localPath;
    other.localPath.reset();
    EXPECT_EQ(exportFailure(), "cam-B has not been downloaded.");
    take.clips[1].localPath = path + ".gone";
    EXPECT_EQ(exportFailure(), "Missing source: " + path + ".gone");
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportValidation, DigestMustMatchIgnoringLetterCase) {
    VELKClip& clip = addClip("cam-A", "a.mov", FakeMedia{});
    const std::string digest = clip.sha256;
    for (char& c : clip.sha256) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::filesystem::remove_all(runExport());

    take.clips[0].sha256 = digest;
    take.clips[0].sha256[0] = digest[0] == '0' ? '1' : '0';
    EXPECT_EQ(exportFailure(), "Checksum mismatch for cam-A.");
}

TEST_F(ExportValidation, DigestRunsBeforeTheProbe) {
    VELKClip& clip = addClip("cam-A", "a.mov", FakeMedia{});
    clip.sha256 = std::string(64, '0');
    EXPECT_EQ(exportFailure(), "Checksum mismatch for cam-A.");
    EXPECT_TRUE(probe.loads.empty());
}

TEST_F(ExportValidation, OtherCamerasNeedSameEventAnchors) {
    addClip("cam-A", "a.mov", FakeMedia{});
    addClip("cam-B", "b.mov", FakeMedia{});
    EXPECT_EQ(exportFailure(), "cam-B does not have same-event media anchors.");
    take.clips[1].anchors = anchorsOnLine(kTenSecondAnchors, 1, 2);
    take.clips[1].anchorMeaning = "wall-clock-seconds";
    EXPECT_EQ(exportFailure(), "cam-B does not have same-event media anchors.");
    take.clips[1].anchorMeaning = "same-event-reference-media-seconds";
    EXPECT_EQ(exportFailure(), "exported");
}

TEST_F(ExportValidation, FitAndProbeFailuresPassThrough) {
    addClip("cam-A", "a.mov", FakeMedia{});
    addClip("cam-B", "b.mov", FakeMedia{}, anchorsOnLine({1, 3, 5, 7}, 1, 2));
    EXPECT_EQ(exportFailure(), "Need a positive duration and at least five verified anchors.");
    take.clips[1].anchors = anchorsOnLine(kTenSecondAnchors, 1, 2);
    probe.media["b.mov"].audioTracks = 2;
    EXPECT_EQ(exportFailure(), "Multiple audio tracks need manual mapping.");
    probe.media.erase("b.mov");
    EXPECT_THROW(runExport(), MediaFrameworkError);
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportValidation, ClipWithNoWholeFrameOnTheTimeline) {
    // Fitted to start after its own media has ended.
    addClip("cam-A", "a.mov", FakeMedia{.durationSeconds = 0.02});
    EXPECT_EQ(exportFailure(), "No usable media remains for cam-A.");
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportValidation, NamesThatFcpxmlCannotCarryFailBeforeAnythingIsRead) {
    const std::string sentence = "A name in this take contains characters that FCPXML cannot carry.";
    const std::string forbidden[] = {std::string("cam\x01", 4), std::string("cam\0", 4), "cam\x1F", "cam\x0B",
                                     "cam\xEF\xBF\xBE", "cam\xEF\xBF\xBF", "cam\xC3", "cam\xED\xA0\x80"};
    for (const std::string& name : forbidden) {
        take = {};
        take.id = "take-1";
        take.referenceCameraId = name;
        addClip(name, "a.mov", FakeMedia{});
        probe.loads.clear();
        EXPECT_EQ(exportFailure(), sentence);
        EXPECT_TRUE(probe.loads.empty());
    }
    take = {};
    take.id = "take-1";
    take.referenceCameraId = "cam-A";
    addClip("cam-A", "a.mov", FakeMedia{});
    project.name = "Show\x02";
    EXPECT_EQ(exportFailure(), sentence);
    project.name = "Show";
    take.id = "take\x7F\xFF";
    EXPECT_EQ(exportFailure(), sentence);
    EXPECT_TRUE(parentIsEmpty());
}

TEST_F(ExportValidation, MissingParentIsTheFileSystemsError) {
    addClip("cam-A", "a.mov", FakeMedia{});
    parent = folder / "no-such-parent";
    EXPECT_THROW(runExport(), std::system_error);
    EXPECT_FALSE(std::filesystem::exists(parent));
}

} // namespace
} // namespace velk
