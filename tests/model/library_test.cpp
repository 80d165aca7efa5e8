#include "model/library.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace velk {
namespace {

Json anchorJson() {
    return Json::parse(R"({"source_seconds": 1.5, "reference_seconds": 2.25, "confidence": 0.9, "uncertainty_ms": 4})");
}

Json clipJson() {
    Json clip = Json::parse(R"({
        "id": "clip-1", "cameraId": "cam-A", "fileName": "A001.mov", "sha256": "ab12",
        "anchors": []
    })");
    clip["anchors"].push_back(anchorJson());
    return clip;
}

Json takeJson() {
    Json take = Json::parse(R"({"id": "take-1", "timelineFPS": "25", "clips": []})");
    take["clips"].push_back(clipJson());
    return take;
}

Json libraryJson() {
    Json project = Json::parse(R"({"id": "p-1", "name": "Concert", "revision": 3, "takes": []})");
    project["takes"].push_back(takeJson());
    Json library = Json::object();
    library["projects"] = Json::array({project});
    return library;
}

VELKLibrary decode(const Json& document) { return decodeLibrary(document.dump()); }

VELKClip fullClip() {
    return VELKClip{
        .id = "clip-9",
        .cameraId = "cam-B",
        .fileName = "B002.mov",
        .localPath = "/home/u/Videos/Velk/p/t/B002.mov",
        .remoteURL = "https://10.0.0.2:8443/velk/v1/files/B002.mov",
        .sizeBytes = 123456789012,
        .sha256 = "00ff",
        .anchorMeaning = "same-event-reference-media-seconds",
        .anchors = {{1, 2, 0.5, 3}, {-1.25, 0, 1, 0.001}},
        .mediaKind = "video",
        .hasVideo = true,
        .hasAudio = false,
        .timingSidecarURL = "https://10.0.0.2:8443/velk/v1/files/B002.timing.json",
        .timingSidecarSHA256 = "aa",
        .deviceId = "dev-1",
        .deviceName = "Phone B",
        .originCatalogRevision = 17,
        .timingSidecarLocalPath = "/tmp/B002.timing.json",
    };
}

TEST(LibraryDecoding, ReadsEveryLevel) {
    VELKLibrary library = decode(libraryJson());
    ASSERT_EQ(library.projects.size(), 1u);
    const VELKProject& project = library.projects[0];
    EXPECT_EQ(project.id, "p-1");
    EXPECT_EQ(project.name, "Concert");
    EXPECT_EQ(project.revision, 3);
    ASSERT_EQ(project.takes.size(), 1u);
    EXPECT_EQ(project.takes[0].timelineFPS, "25");
    ASSERT_EQ(project.takes[0].clips.size(), 1u);
    const VELKClip& clip = project.takes[0].clips[0];
    EXPECT_EQ(clip.fileName, "A001.mov");
    EXPECT_FALSE(clip.localPath.has_value());
    ASSERT_EQ(clip.anchors.size(), 1u);
    EXPECT_EQ(clip.anchors[0], (TimingAnchor{1.5, 2.25, 0.9, 4}));
}

TEST(LibraryDecoding, EmptyObjectFailsEmptyProjectsSucceeds) {
    EXPECT_THROW(decodeLibrary("{}"), JsonError);
    VELKLibrary empty = decodeLibrary(R"({"projects": []})");
    EXPECT_TRUE(empty.projects.empty());
    EXPECT_EQ(encodeLibrary(empty, false), R"({"projects":[]})");
}

TEST(LibraryDecoding, TextThatIsNotAnObjectFails) {
    for (const char* text : {"", "not json", "[]", "null", "3", R"("projects")", R"({"projects": [)"})
        EXPECT_THROW(decodeLibrary(text), JsonError) << text;
}

TEST(LibraryDecoding, NullRevisionIsAbsentAndStaysOut) {
    Json doc = libraryJson();
    doc["projects"][0]["revision"] = nullptr;
    VELKLibrary library = decode(doc);
    EXPECT_FALSE(library.projects[0].revision.has_value());
    Json written = Json::parse(encodeLibrary(library));
    EXPECT_FALSE(written["projects"][0].contains("revision"));
}

TEST(LibraryDecoding, TakeWithoutFrameRateFailsButBuiltTakeHasThirty) {
    Json doc = libraryJson();
    doc["projects"][0]["takes"][0].erase("timelineFPS");
    EXPECT_THROW(decode(doc), JsonError);
    EXPECT_EQ(VELKTake{.id = "t"}.timelineFPS, "30");
}

TEST(LibraryDecoding, ClipAnchorsAreRequiredButMayBeEmpty) {
    Json doc = libraryJson();
    doc["projects"][0]["takes"][0]["clips"][0].erase("anchors");
    EXPECT_THROW(decode(doc), JsonError);
    doc["projects"][0]["takes"][0]["clips"][0]["anchors"] = Json::array();
    EXPECT_TRUE(decode(doc).projects[0].takes[0].clips[0].anchors.empty());
}

TEST(LibraryDecoding, CamelCaseAnchorKeysFail) {
    Json doc = libraryJson();
    Json& anchor = doc["projects"][0]["takes"][0]["clips"][0]["anchors"][0];
    anchor["sourceSeconds"] = anchor["source_seconds"];
    anchor.erase("source_seconds");
    EXPECT_THROW(decode(doc), JsonError);

    doc = libraryJson();
    Json& other = doc["projects"][0]["takes"][0]["clips"][0]["anchors"][0];
    other["referenceSeconds"] = other["reference_seconds"];
    other.erase("reference_seconds");
    EXPECT_THROW(decode(doc), JsonError);
}

struct ClipValueCase {
    const char* key;
    const char* valueJson;
    bool decodes;
};

class ClipValueTypes : public ::testing::TestWithParam<ClipValueCase> {};

TEST_P(ClipValueTypes, DecodeOnlyTheirJsonType) {
    const ClipValueCase& c = GetParam();
    Json doc = libraryJson();
    doc["projects"][0]["takes"][0]["clips"][0][c.key] = Json::parse(c.valueJson);
    if (c.decodes)
        EXPECT_NO_THROW(decode(doc));
    else
        EXPECT_THROW(decode(doc), JsonError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClipValueTypes,
    ::testing::Values(
        ClipValueCase{"sizeBytes", "1024", true}, ClipValueCase{"sizeBytes", "1024.0", true},
        ClipValueCase{"sizeBytes", "5e0", true}, ClipValueCase{"sizeBytes", "-1", true},
        ClipValueCase{"sizeBytes", "null", true}, ClipValueCase{"sizeBytes", "9223372036854775807", true},
        ClipValueCase{"sizeBytes", "\"1024\"", false}, ClipValueCase{"sizeBytes", "1.5", false},
        ClipValueCase{"sizeBytes", "true", false}, ClipValueCase{"sizeBytes", "9223372036854775808", false},
        ClipValueCase{"sizeBytes", "9.3e18", false}, ClipValueCase{"sizeBytes", "[]", false},
        ClipValueCase{"hasVideo", "true", true}, ClipValueCase{"hasVideo", "null", true},
        ClipValueCase{"hasVideo", "1", false}, ClipValueCase{"hasVideo", "\"true\"", false},
        ClipValueCase{"id", "\"\"", true}, ClipValueCase{"id", "null", false}, ClipValueCase{"id", "7", false},
        ClipValueCase{"localPath", "null", true}, ClipValueCase{"localPath", "{}", false},
        ClipValueCase{"anchors", "{}", false}, ClipValueCase{"anchors", "[1]", false},
        ClipValueCase{"anchors", "null", false}, ClipValueCase{"originCatalogRevision", "2.0", true},
        ClipValueCase{"originCatalogRevision", "false", false}));

struct AnchorValueCase {
    const char* valueJson;
    bool decodes;
};

class AnchorValueTypes : public ::testing::TestWithParam<AnchorValueCase> {};

TEST_P(AnchorValueTypes, AreNumbers) {
    Json doc = libraryJson();
    doc["projects"][0]["takes"][0]["clips"][0]["anchors"][0]["confidence"] = Json::parse(GetParam().valueJson);
    if (GetParam().decodes)
        EXPECT_NO_THROW(decode(doc));
    else
        EXPECT_THROW(decode(doc), JsonError);
}

INSTANTIATE_TEST_SUITE_P(Table, AnchorValueTypes,
                         ::testing::Values(AnchorValueCase{"1", true}, AnchorValueCase{"0.25", true},
                                           AnchorValueCase{"-3e-2", true}, AnchorValueCase{"18446744073709551615", true},
                                           AnchorValueCase{"null", false}, AnchorValueCase{"true", false},
                                           AnchorValueCase{"\"0.5\"", false}));

TEST(LibraryDecoding, FirstFailureFailsTheWholeDocument) {
    Json doc = libraryJson();
    Json second = doc["projects"][0];
    second["id"] = "p-2";
    second["takes"][0]["clips"][0]["sha256"] = 12;
    doc["projects"].push_back(second);
    EXPECT_THROW(decode(doc), JsonError);
}

TEST(LibraryDecoding, UnvalidatedValuesDecode) {
    Json doc = libraryJson();
    Json& clip = doc["projects"][0]["takes"][0]["clips"][0];
    clip["sha256"] = "not-a-digest";
    clip["sizeBytes"] = -5;
    doc["projects"].push_back(doc["projects"][0]);
    EXPECT_EQ(decode(doc).projects.size(), 2u);
}

TEST(LibraryEncoding, UnknownKeysAreDroppedOnRewrite) {
    Json doc = libraryJson();
    doc["projects"][0]["takes"][0]["clips"][0]["colour"] = "red";
    doc["extra"] = 1;
    Json written = Json::parse(encodeLibrary(decode(doc)));
    EXPECT_FALSE(written["projects"][0]["takes"][0]["clips"][0].contains("colour"));
    EXPECT_FALSE(written.contains("extra"));
}

TEST(LibraryEncoding, AbsentOptionalsAreLeftOutNeverNull) {
    VELKClip clip{.id = "c", .cameraId = "cam", .fileName = "f.mov", .sha256 = "00"};
    VELKLibrary library{{VELKProject{.id = "p", .name = "n", .takes = {VELKTake{.id = "t", .clips = {clip}}}}}};
    const std::string text = encodeLibrary(library, false);
    EXPECT_EQ(text.find("null"), std::string::npos);
    EXPECT_EQ(text, R"({"projects":[{"id":"p","name":"n","takes":[{"clips":[{"anchors":[],"cameraId":"cam",)"
                    R"("fileName":"f.mov","id":"c","sha256":"00"}],"id":"t","timelineFPS":"30"}]}]})");
}

TEST(LibraryEncoding, PrettyOutputHasSortedKeys) {
    VELKLibrary library{{VELKProject{.id = "p", .name = "n", .takes = {VELKTake{.id = "t", .clips = {fullClip()}}}}}};
    const std::string text = encodeLibrary(library);
    EXPECT_NE(text.find('\n'), std::string::npos);
    EXPECT_LT(text.find("\"anchors\""), text.find("\"cameraId\""));
    EXPECT_LT(text.find("\"timingSidecarLocalPath\""), text.find("\"timingSidecarSHA256\""));
    EXPECT_LT(text.find("\"timingSidecarSHA256\""), text.find("\"timingSidecarURL\""));
    EXPECT_NE(text.find("\"source_seconds\""), std::string::npos);
}

TEST(LibraryEncoding, FullRecordsRoundTrip) {
    VELKTake take{.id = "t-1",
                  .projectNameAtCapture = "Old name",
                  .projectRevisionAtCapture = std::numeric_limits<std::int64_t>::min(),
                  .createdAt = "2026-05-01T12:00:00Z",
                  .referenceCameraId = "cam-A",
                  .timelineFPS = "29.97",
                  .sourceManifestPath = "/tmp/source-manifest.json",
                  .clips = {fullClip(), VELKClip{.id = "c2", .cameraId = "x", .fileName = "y", .sha256 = ""}}};
    VELKLibrary library{{VELKProject{.id = "p", .name = "Ünïcode ✓", .revision = 9, .takes = {take}},
                         VELKProject{.id = "unassigned-x", .name = ""}}};
    for (bool pretty : {true, false}) {
        VELKLibrary back = decodeLibrary(encodeLibrary(library, pretty));
        EXPECT_EQ(back.projects, library.projects);
    }
}

TEST(LibraryEncoding, NonFiniteAnchorFailsTheWholeWrite) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        VELKClip clip = fullClip();
        clip.anchors[1].uncertaintyMs = bad;
        VELKLibrary library{{VELKProject{.id = "p", .name = "n", .takes = {VELKTake{.id = "t", .clips = {clip}}}}}};
        EXPECT_THROW(encodeLibrary(library), JsonError);
        EXPECT_THROW(encodeLibrary(library, false), JsonError);
    }
}

TEST(LibraryRecords, CopiesAreIndependent) {
    VELKProject original{.id = "p", .name = "n", .takes = {VELKTake{.id = "t", .clips = {fullClip()}}}};
    VELKProject copy = original;
    copy.takes[0].clips[0].anchors.push_back({});
    EXPECT_EQ(original.takes[0].clips[0].anchors.size(), 2u);
    EXPECT_NE(copy, original);
}

TEST(LibraryRecords, ClipsDifferingInLocalPathAreUnequal) {
    VELKClip a = fullClip();
    VELKClip b = fullClip();
    b.localPath = "/elsewhere";
    EXPECT_NE(a, b);
    b.localPath.reset();
    EXPECT_NE(a, b);
    EXPECT_EQ(a, fullClip());
    EXPECT_EQ(std::hash<VELKClip>{}(a), std::hash<VELKClip>{}(fullClip()));
}

TEST(LibraryRecords, ZeroAndNegativeZeroAreEqualAndHashAlike) {
    TimingAnchor a{1, 2, 0.0, 3};
    TimingAnchor b{1, 2, -0.0, 3};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<TimingAnchor>{}(a), std::hash<TimingAnchor>{}(b));
    VELKClip ca = fullClip(), cb = fullClip();
    ca.anchors = {a};
    cb.anchors = {b};
    EXPECT_EQ(std::hash<VELKClip>{}(ca), std::hash<VELKClip>{}(cb));
}

TEST(LibraryRecords, NaNIsUnequalToItself) {
    TimingAnchor a{std::nan(""), 0, 0, 0};
    EXPECT_NE(a, a);
}

TEST(LibraryRecords, AbsentOptionalEqualsOnlyAbsent) {
    VELKProject a{.id = "p", .name = "n"};
    VELKProject b = a;
    b.revision = 0;
    EXPECT_NE(a, b);
    VELKTake ta{.id = "t"}, tb{.id = "t", .createdAt = ""};
    EXPECT_NE(ta, tb);
}

} // namespace
} // namespace velk
