#include "model/source_manifest.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace velk {
namespace {

Json manifestJson() {
    return Json::parse(R"({
        "schemaVersion": 1, "projectId": "p-1", "takeId": "t-1", "referenceCameraId": "cam-A",
        "clips": [
            {"cameraId": "cam-A", "takeId": "t-1", "path": "media/A001.mov", "sha256": "ab"}
        ]
    })");
}

SourceManifest decode(const Json& document) { return decodeSourceManifest(document.dump()); }

SourceManifest exportedManifest() {
    return SourceManifest{
        .schemaVersion = 1,
        .projectId = "p-1",
        .projectName = "Concert",
        .projectRevision = 5,
        .projectNameAtCapture = "Rehearsal",
        .projectRevisionAtCapture = 4,
        .takeId = "t-1",
        .referenceCameraId = "cam-A",
        .timelineFPS = "30",
        .clips = {SourceClip{.clipId = "c-1",
                             .cameraId = "cam-A",
                             .takeId = "t-1",
                             .path = "/abs/A001.mov",
                             .sha256 = "00",
                             .anchorMeaning = "same-event-reference-media-seconds",
                             .anchors = std::vector<TimingAnchor>{{0, 0, 1, 0}, {10, 10.002, 0.8, 1.5}},
                             .mediaKind = "video",
                             .timingSidecarPath = "/abs/A001.timing.json",
                             .timingSidecarSHA256 = "11",
                             .deviceId = "dev",
                             .deviceName = "Phone A"},
                  SourceClip{.cameraId = "cam-B", .takeId = "t-1", .path = "B.mov", .sha256 = "22"}},
    };
}

TEST(ManifestDecoding, MinimalManifestDecodes) {
    SourceManifest manifest = decode(manifestJson());
    EXPECT_EQ(manifest.schemaVersion, 1);
    EXPECT_EQ(manifest.referenceCameraId, "cam-A");
    EXPECT_FALSE(manifest.timelineFPS.has_value());
    EXPECT_FALSE(manifest.projectName.has_value());
    EXPECT_FALSE(manifest.projectRevision.has_value());
    EXPECT_FALSE(manifest.projectRevisionAtCapture.has_value());
    ASSERT_EQ(manifest.clips.size(), 1u);
    EXPECT_FALSE(manifest.clips[0].clipId.has_value());
    EXPECT_FALSE(manifest.clips[0].anchors.has_value());
}

TEST(ManifestDecoding, ReferenceCameraIsRequired) {
    Json doc = manifestJson();
    doc.erase("referenceCameraId");
    EXPECT_THROW(decode(doc), JsonError);
}

TEST(ManifestDecoding, AbsentOptionalsStayOutOnRewrite) {
    Json written = Json::parse(encodeSourceManifest(decode(manifestJson())));
    for (const char* key : {"timelineFPS", "projectName", "projectRevision", "projectNameAtCapture",
                            "projectRevisionAtCapture"})
        EXPECT_FALSE(written.contains(key)) << key;
    EXPECT_FALSE(written["clips"][0].contains("clipId"));
    EXPECT_FALSE(written["clips"][0].contains("anchors"));
}

struct RevisionCase {
    const char* valueJson;
    bool decodes;
};

class ManifestRevisionTypes : public ::testing::TestWithParam<RevisionCase> {};

TEST_P(ManifestRevisionTypes, AreIntegers) {
    Json doc = manifestJson();
    doc["projectRevision"] = Json::parse(GetParam().valueJson);
    if (GetParam().decodes)
        EXPECT_NO_THROW(decode(doc));
    else
        EXPECT_THROW(decode(doc), JsonError);
}

INSTANTIATE_TEST_SUITE_P(Table, ManifestRevisionTypes,
                         ::testing::Values(RevisionCase{"3", true}, RevisionCase{"3.0", true}, RevisionCase{"null", true},
                                           RevisionCase{"3.5", false}, RevisionCase{"\"3\"", false},
                                           RevisionCase{"false", false}, RevisionCase{"1e19", false}));

TEST(ManifestDecoding, RequiredClipKeysFailTheManifest) {
    for (const char* key : {"path", "sha256", "cameraId", "takeId"}) {
        Json doc = manifestJson();
        doc["clips"][0].erase(key);
        EXPECT_THROW(decode(doc), JsonError) << key;
    }
}

TEST(ManifestDecoding, EmptyAnchorsArePresentAndWrittenBack) {
    Json doc = manifestJson();
    doc["clips"][0]["anchors"] = Json::array();
    SourceManifest manifest = decode(doc);
    ASSERT_TRUE(manifest.clips[0].anchors.has_value());
    EXPECT_TRUE(manifest.clips[0].anchors->empty());
    EXPECT_EQ(Json::parse(encodeSourceManifest(manifest))["clips"][0]["anchors"], Json::array());
}

TEST(ManifestDecoding, CamelCaseAnchorFailsTheManifest) {
    Json doc = manifestJson();
    doc["clips"][0]["anchors"] =
        Json::parse(R"([{"sourceSeconds": 1, "referenceSeconds": 1, "confidence": 1, "uncertaintyMs": 0}])");
    EXPECT_THROW(decode(doc), JsonError);
}

TEST(ManifestDecoding, SchemaVersionIsNotCheckedHere) {
    Json doc = manifestJson();
    doc["schemaVersion"] = 2;
    EXPECT_EQ(decode(doc).schemaVersion, 2);
    doc["schemaVersion"] = "1";
    EXPECT_THROW(decode(doc), JsonError);
}

TEST(ManifestEncoding, ExportedManifestReadsBackAsWritten) {
    const SourceManifest manifest = exportedManifest();
    const std::string text = encodeSourceManifest(manifest);
    SourceManifest back = decodeSourceManifest(text);
    EXPECT_EQ(back.projectName, "Concert");
    EXPECT_EQ(back.projectRevision, 5);
    EXPECT_EQ(back.projectNameAtCapture, "Rehearsal");
    EXPECT_EQ(back.projectRevisionAtCapture, 4);
    EXPECT_EQ(back.timelineFPS, "30");
    ASSERT_EQ(back.clips.size(), 2u);
    EXPECT_EQ(back.clips[0].anchors, manifest.clips[0].anchors);
    EXPECT_EQ(back.clips[0].deviceName, "Phone A");
    EXPECT_EQ(back.clips[0].timingSidecarPath, "/abs/A001.timing.json");
    EXPECT_FALSE(back.clips[1].clipId.has_value());
    EXPECT_EQ(encodeSourceManifest(back), text);
    EXPECT_LT(text.find("\"clips\""), text.find("\"projectId\""));
}

TEST(ManifestEncoding, InfiniteAnchorFailsTheWrite) {
    SourceManifest manifest = exportedManifest();
    (*manifest.clips[0].anchors)[0].sourceSeconds = std::numeric_limits<double>::infinity();
    EXPECT_THROW(encodeSourceManifest(manifest), JsonError);
}

} // namespace
} // namespace velk
