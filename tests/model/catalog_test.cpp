#include "model/catalog.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

Json catalogClipJson() {
    return Json::parse(R"({
        "clipId": "c-1", "cameraId": "cam-A", "fileName": "A001.mov", "sizeBytes": 2048,
        "sha256": "ab", "downloadURL": "https://phone.local:8443/velk/v1/files/A001.mov",
        "finalized": true, "mediaKind": "video", "hasVideo": true, "hasAudio": false
    })");
}

Json catalogJson() {
    Json take = Json::parse(R"({"takeId": "t-1", "projectId": "p-1", "clips": []})");
    take["clips"].push_back(catalogClipJson());
    Json project = Json::parse(R"({"projectId": "p-1", "name": "Concert", "revision": 4, "takes": []})");
    project["takes"].push_back(take);
    Json catalog = Json::parse(R"({"schemaVersion": 1, "deviceId": "dev-1", "deviceName": "Phone",
                                   "catalogRevision": 12, "projects": []})");
    catalog["projects"].push_back(project);
    return catalog;
}

DeviceCatalog decode(const Json& document) { return decodeCatalog(document.dump()); }

Json& firstClip(Json& catalog) { return catalog["projects"][0]["takes"][0]["clips"][0]; }

TEST(CatalogDecoding, ReadsEveryLevel) {
    DeviceCatalog catalog = decode(catalogJson());
    EXPECT_EQ(catalog.schemaVersion, 1);
    EXPECT_EQ(catalog.deviceId, "dev-1");
    EXPECT_EQ(catalog.catalogRevision, 12);
    EXPECT_FALSE(catalog.generatedAt.has_value());
    ASSERT_EQ(catalog.projects.size(), 1u);
    EXPECT_EQ(catalog.projects[0].revision, 4);
    const CatalogTake& take = catalog.projects[0].takes.at(0);
    EXPECT_EQ(take.projectId, "p-1");
    const CatalogClip& clip = take.clips.at(0);
    EXPECT_EQ(clip.sizeBytes, 2048);
    EXPECT_TRUE(clip.finalized);
    EXPECT_FALSE(clip.hasAudio);
}

TEST(CatalogDecoding, UnassignedTakesAbsentAndEmptyAreDistinct) {
    Json doc = catalogJson();
    EXPECT_FALSE(decode(doc).unassignedTakes.has_value());
    doc["unassignedTakes"] = nullptr;
    EXPECT_FALSE(decode(doc).unassignedTakes.has_value());
    doc["unassignedTakes"] = Json::array();
    auto takes = decode(doc).unassignedTakes;
    ASSERT_TRUE(takes.has_value());
    EXPECT_TRUE(takes->empty());
    EXPECT_EQ(Json::parse(encodeCatalog(decode(doc)))["unassignedTakes"], Json::array());
}

TEST(CatalogDecoding, ProjectRevisionIsRequired) {
    Json doc = catalogJson();
    doc["projects"][0].erase("revision");
    EXPECT_THROW(decode(doc), JsonError);
    doc["projects"][0]["revision"] = nullptr;
    EXPECT_THROW(decode(doc), JsonError);
}

TEST(CatalogDecoding, RequiredClipKeysFailTheCatalog) {
    for (const char* key : {"clipId", "cameraId", "fileName", "sizeBytes", "sha256", "downloadURL", "finalized",
                            "mediaKind", "hasVideo", "hasAudio"}) {
        Json doc = catalogJson();
        firstClip(doc).erase(key);
        EXPECT_THROW(decode(doc), JsonError) << key;
        firstClip(doc)[key] = nullptr;
        EXPECT_THROW(decode(doc), JsonError) << key;
    }
}

TEST(CatalogDecoding, TakeWithoutFrameRateDecodesWithoutOne) {
    DeviceCatalog catalog = decode(catalogJson());
    EXPECT_FALSE(catalog.projects[0].takes[0].timelineFPS.has_value());
}

TEST(CatalogDecoding, MissingAnchorsAreAbsentNotEmpty) {
    Json doc = catalogJson();
    EXPECT_FALSE(decode(doc).projects[0].takes[0].clips[0].anchors.has_value());
    firstClip(doc)["anchors"] = Json::array();
    auto anchors = decode(doc).projects[0].takes[0].clips[0].anchors;
    ASSERT_TRUE(anchors.has_value());
    EXPECT_TRUE(anchors->empty());
    firstClip(doc)["anchors"] = Json::parse(R"([{"source_seconds":1,"reference_seconds":2,"confidence":1,"uncertainty_ms":0}])");
    EXPECT_EQ(decode(doc).projects[0].takes[0].clips[0].anchors->at(0), (TimingAnchor{1, 2, 1, 0}));
}

struct RevisionCase {
    const char* valueJson;
    bool decodes;
};

class CatalogRevisionTypes : public ::testing::TestWithParam<RevisionCase> {};

TEST_P(CatalogRevisionTypes, AreIntegers) {
    Json doc = catalogJson();
    doc["catalogRevision"] = Json::parse(GetParam().valueJson);
    if (GetParam().decodes)
        EXPECT_NO_THROW(decode(doc));
    else
        EXPECT_THROW(decode(doc), JsonError);
}

INSTANTIATE_TEST_SUITE_P(Table, CatalogRevisionTypes,
                         ::testing::Values(RevisionCase{"7", true}, RevisionCase{"7.0", true}, RevisionCase{"-7", true},
                                           RevisionCase{"\"7\"", false}, RevisionCase{"7.5", false},
                                           RevisionCase{"true", false}, RevisionCase{"null", false},
                                           RevisionCase{"9223372036854775808", false}));

TEST(CatalogDecoding, NoValueIsValidated) {
    Json doc = catalogJson();
    doc["schemaVersion"] = 99;
    firstClip(doc)["sizeBytes"] = 0;
    firstClip(doc)["finalized"] = false;
    firstClip(doc)["downloadURL"] = "not a url";
    doc["projects"][0]["takes"][0]["clips"] = Json::array();
    EXPECT_EQ(decode(doc).schemaVersion, 99);
}

TEST(CatalogDecoding, ExtraKeysAnywhereAreIgnored) {
    Json doc = catalogJson();
    doc["x"] = 1;
    doc["projects"][0]["x"] = {1, 2};
    doc["projects"][0]["takes"][0]["x"] = nullptr;
    firstClip(doc)["x"] = "y";
    EXPECT_NO_THROW(decode(doc));
    const std::string rewritten = encodeCatalog(decode(doc));
    EXPECT_EQ(rewritten.find("\"x\""), std::string::npos);
}

TEST(CatalogDecoding, UnassignedTakeFailureFailsTheCatalog) {
    Json doc = catalogJson();
    doc["unassignedTakes"] = Json::array({Json::parse(R"({"takeId": 5, "clips": []})")});
    EXPECT_THROW(decode(doc), JsonError);
}

TEST(CatalogEncoding, RoundTripsEveryField) {
    CatalogClip clip{.clipId = "c",
                     .cameraId = "cam",
                     .fileName = "f.mov",
                     .sizeBytes = 9,
                     .sha256 = "ff",
                     .downloadURL = "https://h/f",
                     .finalized = true,
                     .mediaKind = "audio",
                     .hasVideo = false,
                     .hasAudio = true,
                     .timingSidecarURL = "https://h/f.timing.json",
                     .timingSidecarSHA256 = "ee",
                     .anchorMeaning = "same-event-reference-media-seconds",
                     .anchors = std::vector<TimingAnchor>{{0.5, 1.5, 0.75, 2}}};
    CatalogTake take{.takeId = "t",
                     .projectId = "p",
                     .projectNameAtCapture = "n",
                     .projectRevisionAtCapture = 3,
                     .createdAt = "2026-01-01T00:00:00Z",
                     .referenceCameraId = "cam",
                     .timelineFPS = "24",
                     .clips = {clip}};
    DeviceCatalog catalog{.schemaVersion = 1,
                          .deviceId = "d",
                          .deviceName = "Phone",
                          .catalogRevision = 8,
                          .generatedAt = "now",
                          .projects = {CatalogProject{.projectId = "p", .name = "n", .revision = 3, .takes = {take}}},
                          .unassignedTakes = std::vector<CatalogTake>{take}};
    const std::string text = encodeCatalog(catalog);
    DeviceCatalog back = decodeCatalog(text);
    EXPECT_EQ(encodeCatalog(back), text);
    EXPECT_EQ(back.projects[0].takes[0].clips[0].anchors->at(0), (TimingAnchor{0.5, 1.5, 0.75, 2}));
    EXPECT_EQ(back.unassignedTakes->at(0).timelineFPS, "24");
}

TEST(CatalogEncoding, AbsentOptionalsAreLeftOut) {
    DeviceCatalog catalog{.schemaVersion = 1, .deviceId = "d", .deviceName = "n", .catalogRevision = 0};
    EXPECT_EQ(encodeCatalog(catalog),
              R"({"catalogRevision":0,"deviceId":"d","deviceName":"n","projects":[],"schemaVersion":1})");
}

} // namespace
} // namespace velk
