#include <functional>

#include <gtest/gtest.h>

#include "model/catalog.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

const std::string baseURL = "https://phone.local:8443/velk/v1/catalog";
using testing::sampleDigest;
const std::string projectA = "11111111-2222-4333-8444-555555555555";
const std::string projectB = "21111111-2222-4333-8444-555555555555";

// "é" is two UTF-8 bytes; a text of `bytes` bytes made of it (and one "a" for odd counts).
std::string multiByteText(std::size_t bytes) {
    std::string text;
    while (text.size() + 2 <= bytes) text += "\xC3\xA9";
    if (text.size() < bytes) text += "a";
    return text;
}

std::string clipUUID(int n) {
    char buffer[37];
    std::snprintf(buffer, sizeof buffer, "%08x-aaaa-4bbb-8ccc-dddddddddddd", n);
    return buffer;
}

CatalogClip makeClip(int n, const std::string& cameraId) {
    CatalogClip clip;
    clip.clipId = clipUUID(n);
    clip.cameraId = cameraId;
    clip.fileName = "clip-" + std::to_string(n) + ".mov";
    clip.sizeBytes = 1000;
    clip.sha256 = sampleDigest;
    clip.downloadURL = "/velk/v1/files/" + clip.clipId;
    clip.finalized = true;
    clip.mediaKind = "video";
    clip.hasVideo = true;
    clip.timingSidecarURL = "/velk/v1/files/" + clip.clipId + ".timing.json";
    clip.timingSidecarSHA256 = sampleDigest;
    return clip;
}

CatalogTake makeTake(const std::string& takeId, std::optional<std::string> projectId, std::vector<CatalogClip> clips) {
    return CatalogTake{.takeId = takeId, .projectId = std::move(projectId), .clips = std::move(clips)};
}

DeviceCatalog makeCatalog() {
    DeviceCatalog catalog;
    catalog.schemaVersion = 1;
    catalog.deviceId = "0123456789abcdef";
    catalog.deviceName = "Stage Left";
    catalog.catalogRevision = 3;
    catalog.projects.push_back(CatalogProject{projectA, "Concert", 1,
                                              {makeTake("take-1", projectA, {makeClip(1, "cam-a"), makeClip(2, "cam-b")}),
                                               makeTake("take-2", projectA, {makeClip(3, "cam-a")})}});
    catalog.unassignedTakes = std::vector<CatalogTake>{makeTake("take-1", std::nullopt, {makeClip(4, "cam-a")})};
    return catalog;
}

std::string validationSentence(const DeviceCatalog& catalog) {
    try {
        TransferProtocol::validateAuthenticatedCatalog(catalog, baseURL);
        return "valid";
    } catch (const TransferProtocolError& error) {
        return error.sentence();
    }
}

struct Mutation {
    std::string name;
    std::function<void(DeviceCatalog&)> change;
    std::string sentence;
};

void expectAll(const std::vector<Mutation>& mutations) {
    for (const auto& mutation : mutations) {
        DeviceCatalog catalog = makeCatalog();
        mutation.change(catalog);
        EXPECT_EQ(validationSentence(catalog), mutation.sentence) << mutation.name;
    }
}

CatalogClip& firstClip(DeviceCatalog& catalog) { return catalog.projects[0].takes[0].clips[0]; }

TEST(CatalogValidation, WellFormedCatalogsPass) {
    EXPECT_EQ(validationSentence(makeCatalog()), "valid");
    DeviceCatalog empty;
    empty.deviceId = "6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B";
    empty.deviceName = "x";
    empty.catalogRevision = 0;
    EXPECT_EQ(validationSentence(empty), "valid");
}

TEST(CatalogValidation, DeviceMetadata) {
    const std::string sentence = "Authenticated catalog device metadata is invalid.";
    expectAll({
        {"device name 128 bytes", [](auto& c) { c.deviceName = multiByteText(128); }, "valid"},
        {"device name 129 bytes", [](auto& c) { c.deviceName = multiByteText(129); }, sentence},
        {"empty device name", [](auto& c) { c.deviceName.clear(); }, sentence},
        {"upper-case hex device id", [](auto& c) { c.deviceId = "0123456789ABCDEF"; }, sentence},
        {"padded device id", [](auto& c) { c.deviceId = "0123456789abcdef "; }, sentence},
        {"negative revision", [](auto& c) { c.catalogRevision = -1; }, sentence},
    });
}

TEST(CatalogValidation, ProjectMetadata) {
    const std::string sentence = "Authenticated catalog project metadata is invalid.";
    expectAll({
        {"project name 256 bytes", [](auto& c) { c.projects[0].name = multiByteText(256); }, "valid"},
        {"project name 257 bytes", [](auto& c) { c.projects[0].name = multiByteText(257); }, sentence},
        {"upper-case project id", [](auto& c) {
             c.projects[0].projectId = "ABCDEF01-2222-4333-8444-555555555555";
             for (auto& take : c.projects[0].takes) take.projectId = c.projects[0].projectId;
         }, "valid"},
        {"project revision 0", [](auto& c) { c.projects[0].revision = 0; }, sentence},
        // The project id is looked at before any of its takes.
        {"project id not a UUID", [](auto& c) {
             c.projects[0].projectId = "concert";
             c.projects[0].takes[0].takeId.clear();
         }, sentence},
        {"project id repeated", [](auto& c) {
             CatalogProject second = c.projects[0];
             second.takes.clear();
             c.projects.push_back(second);
         }, sentence},
    });
}

TEST(CatalogValidation, TakeIdentity) {
    const std::string sentence = "Authenticated catalog take identity is invalid.";
    expectAll({
        {"take id 96 bytes", [](auto& c) { c.projects[0].takes[0].takeId = multiByteText(96); }, "valid"},
        {"take id 97 bytes", [](auto& c) { c.projects[0].takes[0].takeId = multiByteText(97); }, sentence},
        {"empty take id", [](auto& c) { c.projects[0].takes[0].takeId.clear(); }, sentence},
        {"take names another project", [](auto& c) { c.projects[0].takes[0].projectId = projectB; }, sentence},
        {"take names no project", [](auto& c) { c.projects[0].takes[0].projectId.reset(); }, sentence},
        {"unassigned take names a project", [](auto& c) { (*c.unassignedTakes)[0].projectId = projectA; }, sentence},
        {"take without clips", [](auto& c) { c.projects[0].takes[0].clips.clear(); }, "valid"},
    });
}

TEST(CatalogValidation, RepeatedTakeIds) {
    expectAll({
        {"take id twice in one project", [](auto& c) { c.projects[0].takes[1].takeId = "take-1"; },
         "Authenticated catalog repeats a take ID."},
        {"take id twice among unassigned", [](auto& c) {
             c.unassignedTakes->push_back(makeTake("take-1", std::nullopt, {}));
         }, "Authenticated catalog repeats an unassigned take ID."},
        {"same take id in two projects", [](auto& c) {
             CatalogProject second;
             second.projectId = projectB;
             second.name = "Other";
             second.revision = 2;
             second.takes.push_back(makeTake("take-1", projectB, {makeClip(9, "cam-a")}));
             c.projects.push_back(second);
         }, "valid"},
    });
}

TEST(CatalogValidation, ClipMetadata) {
    const std::string sentence = "Authenticated catalog clip metadata is invalid.";
    expectAll({
        {"clip id not a UUID", [](auto& c) { firstClip(c).clipId = "clip-1"; }, sentence},
        {"not finalized", [](auto& c) { firstClip(c).finalized = false; }, sentence},
        {"no video", [](auto& c) { firstClip(c).hasVideo = false; }, sentence},
        {"size 0", [](auto& c) { firstClip(c).sizeBytes = 0; }, sentence},
        {"digest of 63 digits", [](auto& c) { firstClip(c).sha256 = sampleDigest.substr(1); }, sentence},
        {"upper-case digest with colons", [](auto& c) { firstClip(c).sha256 = "01:23:45:67:89:AB:CD:EF" + sampleDigest.substr(16); }, "valid"},
        {"camera id 128 bytes", [](auto& c) { firstClip(c).cameraId = multiByteText(128); }, "valid"},
        {"camera id 129 bytes", [](auto& c) { firstClip(c).cameraId = multiByteText(129); }, sentence},
        {"empty camera id", [](auto& c) { firstClip(c).cameraId.clear(); }, sentence},
        {"camera twice in one take", [](auto& c) { c.projects[0].takes[0].clips[1].cameraId = "cam-a"; }, sentence},
        {"clip id in two takes", [](auto& c) {
             auto& clip = c.projects[0].takes[1].clips[0];
             clip = makeClip(1, "cam-a");
         }, sentence},
        {"clip id in a project and an unassigned take", [](auto& c) { (*c.unassignedTakes)[0].clips[0] = makeClip(1, "cam-a"); }, sentence},
        {"file name 255 bytes", [](auto& c) { firstClip(c).fileName = multiByteText(255); }, "valid"},
        {"file name 256 bytes", [](auto& c) { firstClip(c).fileName = multiByteText(256); }, sentence},
        {"file name with a slash", [](auto& c) { firstClip(c).fileName = "a/b.mov"; }, sentence},
        {"file name with a trailing slash", [](auto& c) { firstClip(c).fileName = "a.mov/"; }, sentence},
        {"file name .", [](auto& c) { firstClip(c).fileName = "."; }, sentence},
        {"file name ..", [](auto& c) { firstClip(c).fileName = ".."; }, sentence},
        {"empty file name", [](auto& c) { firstClip(c).fileName.clear(); }, sentence},
        {"file name with NUL", [](auto& c) { firstClip(c).fileName = std::string("a\0b", 3); }, sentence},
    });
}

TEST(CatalogValidation, FileURLs) {
    const std::string origin = "Catalog file URL must remain on the authenticated HTTPS origin.";
    const std::string route = "Catalog file route does not match its immutable clip ID.";
    expectAll({
        {"absolute URL on the same origin", [](auto& c) {
             firstClip(c).downloadURL = "https://phone.local:8443/velk/v1/files/" + firstClip(c).clipId;
         }, "valid"},
        {"another port", [](auto& c) { firstClip(c).downloadURL = "https://phone.local:9443/velk/v1/files/" + firstClip(c).clipId; }, origin},
        {"another host", [](auto& c) { firstClip(c).downloadURL = "https://other.local:8443/velk/v1/files/" + firstClip(c).clipId; }, origin},
        {"plain HTTP", [](auto& c) { firstClip(c).downloadURL = "http://phone.local:8443/velk/v1/files/" + firstClip(c).clipId; }, origin},
        {"another clip's route", [](auto& c) { firstClip(c).downloadURL = "/velk/v1/files/" + clipUUID(2); }, route},
        {"a query", [](auto& c) { firstClip(c).downloadURL += "?v=1"; }, route},
        {"an empty query", [](auto& c) { firstClip(c).downloadURL += "?"; }, route},
        {"an empty fragment", [](auto& c) { firstClip(c).downloadURL += "#"; }, route},
        {"sidecar URL with the media route", [](auto& c) { firstClip(c).timingSidecarURL = firstClip(c).downloadURL; }, route},
        {"sidecar URL on another host", [](auto& c) {
             firstClip(c).timingSidecarURL = "https://other.local:8443/velk/v1/files/" + firstClip(c).clipId + ".timing.json";
         }, origin},
        {"sidecar URL with a query", [](auto& c) { *firstClip(c).timingSidecarURL += "?x"; }, route},
    });
}

TEST(CatalogValidation, TimingSidecarIdentity) {
    expectAll({
        {"sidecar URL without digest", [](auto& c) { firstClip(c).timingSidecarSHA256.reset(); },
         "Timing sidecar identity is incomplete."},
        {"sidecar URL with an invalid digest", [](auto& c) { firstClip(c).timingSidecarSHA256 = "abc"; },
         "Timing sidecar identity is incomplete."},
        {"sidecar digest without URL", [](auto& c) { firstClip(c).timingSidecarURL.reset(); },
         "Timing sidecar digest has no matching URL."},
        {"neither", [](auto& c) {
             firstClip(c).timingSidecarURL.reset();
             firstClip(c).timingSidecarSHA256.reset();
         }, "valid"},
        {"upper-case colon-separated sidecar digest", [](auto& c) {
             firstClip(c).timingSidecarSHA256 = "01:23:45:67:89:AB:CD:EF" + sampleDigest.substr(16);
         }, "valid"},
    });
}

TEST(CatalogValidation, FirstFailingRuleWins) {
    DeviceCatalog catalog = makeCatalog();
    catalog.deviceName.clear();
    catalog.projects[0].revision = 0;
    EXPECT_EQ(validationSentence(catalog), "Authenticated catalog device metadata is invalid.");
    catalog = makeCatalog();
    firstClip(catalog).finalized = false;
    firstClip(catalog).downloadURL = "https://other.local/x";
    EXPECT_EQ(validationSentence(catalog), "Authenticated catalog clip metadata is invalid.");
}

} // namespace
} // namespace velk
