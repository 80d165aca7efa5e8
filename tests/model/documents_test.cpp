// The JSON forms of the library, the phone catalog, the source manifest and the pairing bodies.

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "model/catalog.hpp"
#include "model/library.hpp"
#include "model/pairing_bodies.hpp"
#include "model/source_manifest.hpp"

namespace velk {
namespace {

// Every key of each document, in loose spacing (any JSON whitespace is accepted on reading).
const char* const kLibrary = R"({"projects": [{"id": "p-1", "name": "Ünïcode ✓", "revision": 3, "takes": [
  {"id": "take-1", "projectNameAtCapture": "Old", "projectRevisionAtCapture": -9223372036854775808,
   "createdAt": "2026-05-01T12:00:00Z", "referenceCameraId": "cam-A", "timelineFPS": "25",
   "sourceManifestPath": "/tmp/source-manifest.json", "clips": [
    {"id": "clip-1", "cameraId": "cam-A", "fileName": "A001.mov", "localPath": "/v/A001.mov",
     "remoteURL": "https://10.0.0.2:8443/velk/v1/files/A001.mov", "sizeBytes": 123456789012, "sha256": "ab12",
     "anchorMeaning": "same-event-reference-media-seconds",
     "anchors": [{"source_seconds": 1.5, "reference_seconds": 2.25, "confidence": 0.9, "uncertainty_ms": 4}],
     "mediaKind": "video", "hasVideo": true, "hasAudio": false, "timingSidecarURL": "https://h/A001.timing.json",
     "timingSidecarSHA256": "aa", "deviceId": "dev-1", "deviceName": "Phone A", "originCatalogRevision": 17,
     "timingSidecarLocalPath": "/tmp/A001.timing.json"}]}]}]})";

const char* const kCatalog = R"({"schemaVersion": 1, "deviceId": "dev-1", "deviceName": "Phone", "catalogRevision": 12,
  "generatedAt": "now", "projects": [{"projectId": "p-1", "name": "Concert", "revision": 4, "takes": [
    {"takeId": "t-1", "projectId": "p-1", "projectNameAtCapture": "n", "projectRevisionAtCapture": 3,
     "createdAt": "2026-01-01T00:00:00Z", "referenceCameraId": "cam-A", "timelineFPS": "24", "clips": [
      {"clipId": "c-1", "cameraId": "cam-A", "fileName": "A001.mov", "sizeBytes": 2048, "sha256": "ab",
       "downloadURL": "https://phone.local:8443/velk/v1/files/A001.mov", "finalized": true, "mediaKind": "video",
       "hasVideo": true, "hasAudio": false, "timingSidecarURL": "https://h/f.timing.json",
       "timingSidecarSHA256": "ee", "anchorMeaning": "same-event-reference-media-seconds",
       "anchors": [{"source_seconds": 0.5, "reference_seconds": 1.5, "confidence": 0.75, "uncertainty_ms": 2}]}]}]}],
  "unassignedTakes": [{"takeId": "t-2", "clips": []}]})";

const char* const kManifest = R"({"schemaVersion": 1, "projectId": "p-1", "projectName": "Concert",
  "projectRevision": 5, "projectNameAtCapture": "Rehearsal", "projectRevisionAtCapture": 4, "takeId": "t-1",
  "referenceCameraId": "cam-A", "timelineFPS": "30", "clips": [
    {"clipId": "c-1", "cameraId": "cam-A", "takeId": "t-1", "path": "/abs/A001.mov", "sha256": "00",
     "anchorMeaning": "same-event-reference-media-seconds",
     "anchors": [{"source_seconds": 10, "reference_seconds": 10.002, "confidence": 0.8, "uncertainty_ms": 1.5}],
     "mediaKind": "video", "timingSidecarPath": "/abs/A001.timing.json", "timingSidecarSHA256": "11",
     "deviceId": "dev", "deviceName": "Phone A"}]})";

const char* const kPairing = R"({"schemaVersion": 1, "deviceId": "dev-1", "sessionId": "s-1", "bearerToken": "tok",
  "expiresAt": "2026-05-01T12:00:00Z", "scopes": ["catalog:read", "media:read"], "certificateSHA256": "ab",
  "foregroundOnly": true})";

// Decodes a document and writes it again; decoding failures throw JsonError.
struct Form {
    const char* name;
    const char* document;
    std::string (*rewrite)(std::string_view);
};
const Form kLibraryForm{"library", kLibrary, [](std::string_view t) { return encodeLibrary(decodeLibrary(t), false); }};
const Form kCatalogForm{"catalog", kCatalog, [](std::string_view t) { return encodeCatalog(decodeCatalog(t)); }};
const Form kManifestForm{"manifest", kManifest,
                         [](std::string_view t) { return encodeSourceManifest(decodeSourceManifest(t), false); }};
const Form kPairingForm{"pairing response", kPairing, [](std::string_view t) {
                            Json json;
                            to_json(json, decodePairingResponse(t));
                            return json.dump();
                        }};
const Form* const kForms[] = {&kLibraryForm, &kCatalogForm, &kManifestForm, &kPairingForm};

// The form's document with the key at `pointer` set to `value` (JSON text), or removed when it is null.
Json changed(const Form& form, const std::string& pointer, const char* value) {
    Json doc = Json::parse(form.document);
    Json::json_pointer at(pointer);
    if (value) doc[at] = Json::parse(value);
    else doc[at.parent_pointer()].erase(at.back());
    return doc;
}

bool decodes(const Form& form, const Json& doc) {
    try {
        form.rewrite(doc.dump());
        return true;
    } catch (const JsonError&) {
        return false;
    }
}

TEST(DocumentForms, FullDocumentsRewriteUnchanged) {
    for (const Form* form : kForms) {
        SCOPED_TRACE(form->name);
        EXPECT_EQ(Json::parse(form->rewrite(form->document)), Json::parse(form->document));
    }
    const VELKClip clip = decodeLibrary(kLibrary).projects.at(0).takes.at(0).clips.at(0);
    EXPECT_EQ(clip.localPath, "/v/A001.mov");
    EXPECT_EQ(clip.remoteURL, "https://10.0.0.2:8443/velk/v1/files/A001.mov");
    EXPECT_EQ(clip.anchors, (std::vector<TimingAnchor>{{1.5, 2.25, 0.9, 4}}));
    EXPECT_EQ(clip.timingSidecarLocalPath, "/tmp/A001.timing.json");
    const CatalogClip catalogClip = decodeCatalog(kCatalog).projects.at(0).takes.at(0).clips.at(0);
    EXPECT_EQ(catalogClip.downloadURL, "https://phone.local:8443/velk/v1/files/A001.mov");
    EXPECT_EQ(catalogClip.anchors->at(0), (TimingAnchor{0.5, 1.5, 0.75, 2}));
    EXPECT_EQ(decodeSourceManifest(kManifest).clips.at(0).timingSidecarPath, "/abs/A001.timing.json");
    EXPECT_EQ(decodePairingResponse(kPairing).scopes, (std::vector<std::string>{"catalog:read", "media:read"}));
}

TEST(DocumentForms, EachKeyDecodesOnlyItsJsonType) {
    struct Case { const Form& form; std::string pointer; const char* value; bool decodes; };
    std::vector<Case> cases = {
        // library
        {kLibraryForm, "/projects/0/takes/0/timelineFPS", nullptr, false},
        {kLibraryForm, "/projects/0/revision", "null", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors", nullptr, false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors", "[]", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors", "null", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors", "{}", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors", "[1]", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors/0",
         R"({"sourceSeconds": 1, "reference_seconds": 1, "confidence": 1, "uncertainty_ms": 0})", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors/0",
         R"({"source_seconds": 1, "referenceSeconds": 1, "confidence": 1, "uncertainty_ms": 0})", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/id", "\"\"", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/id", "null", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/id", "7", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/sha256", "\"not-a-digest\"", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/localPath", "null", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/localPath", "{}", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/hasVideo", "null", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/hasVideo", "1", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/hasVideo", "\"true\"", false},
        {kLibraryForm, "/projects/0/takes/0/clips/0/originCatalogRevision", "2.0", true},
        {kLibraryForm, "/projects/0/takes/0/clips/0/originCatalogRevision", "false", false},
        {kLibraryForm, "/projects/-", R"({"id": "p-2", "name": "n", "takes": [{"id": "t", "timelineFPS": "30",
             "clips": [{"id": "c", "cameraId": "c", "fileName": "f", "sha256": 12, "anchors": []}]}]})", false},
        // catalog
        {kCatalogForm, "/projects/0/revision", nullptr, false},
        {kCatalogForm, "/projects/0/revision", "null", false},
        {kCatalogForm, "/schemaVersion", "99", true},
        {kCatalogForm, "/projects/0/takes/0/clips/0/sizeBytes", "0", true},
        {kCatalogForm, "/projects/0/takes/0/clips/0/finalized", "false", true},
        {kCatalogForm, "/projects/0/takes/0/clips/0/downloadURL", "\"not a url\"", true},
        {kCatalogForm, "/unassignedTakes", R"([{"takeId": 5, "clips": []}])", false},
        // manifest
        {kManifestForm, "/referenceCameraId", nullptr, false},
        {kManifestForm, "/clips/0/clipId", nullptr, true},
        {kManifestForm, "/schemaVersion", "2", true},
        {kManifestForm, "/schemaVersion", "\"1\"", false},
        {kManifestForm, "/clips/0/anchors",
         R"([{"sourceSeconds": 1, "referenceSeconds": 1, "confidence": 1, "uncertaintyMs": 0}])", false},
        // pairing response
        {kPairingForm, "/foregroundOnly", nullptr, false},
        {kPairingForm, "/foregroundOnly", "\"true\"", false},
        {kPairingForm, "/foregroundOnly", "null", false},
        {kPairingForm, "/foregroundOnly", "0", false},
        {kPairingForm, "/scopes", "[]", true},
        {kPairingForm, "/scopes", "\"catalog:read\"", false},
        {kPairingForm, "/scopes", "[1]", false},
        {kPairingForm, "/scopes", "[null]", false},
        {kPairingForm, "/expiresAt", "\"soon\"", true},
        {kPairingForm, "/expiresAt", "0", false},
        {kPairingForm, "/bearerToken", "\"\"", true},
        {kPairingForm, "/bearerToken", nullptr, false},
    };
    // Integer keys: whole numbers (also written as floats) only, within 64 bits.
    const std::pair<const char*, bool> integers[] = {
        {"1024", true},  {"1024.0", true}, {"5e0", true},     {"-1", true}, {"9223372036854775807", true},
        {"\"1024\"", false}, {"1.5", false}, {"true", false}, {"[]", false}, {"9223372036854775808", false},
        {"9.3e18", false}, {"1e19", false}};
    for (auto [value, ok] : integers) {
        cases.push_back({kLibraryForm, "/projects/0/takes/0/clips/0/sizeBytes", value, ok});
        cases.push_back({kCatalogForm, "/catalogRevision", value, ok});
        cases.push_back({kManifestForm, "/projectRevision", value, ok});
        cases.push_back({kPairingForm, "/schemaVersion", value, ok});
    }
    cases.push_back({kLibraryForm, "/projects/0/takes/0/clips/0/sizeBytes", "null", true});
    cases.push_back({kManifestForm, "/projectRevision", "null", true});
    cases.push_back({kCatalogForm, "/catalogRevision", "null", false});
    for (auto [value, ok] : std::initializer_list<std::pair<const char*, bool>>{
             {"1", true}, {"0.25", true}, {"-3e-2", true}, {"18446744073709551615", true},
             {"null", false}, {"true", false}, {"\"0.5\"", false}})
        cases.push_back({kLibraryForm, "/projects/0/takes/0/clips/0/anchors/0/confidence", value, ok});
    for (const char* key : {"clipId", "cameraId", "fileName", "sizeBytes", "sha256", "downloadURL", "finalized",
                            "mediaKind", "hasVideo", "hasAudio"}) {
        cases.push_back({kCatalogForm, std::string("/projects/0/takes/0/clips/0/") + key, nullptr, false});
        cases.push_back({kCatalogForm, std::string("/projects/0/takes/0/clips/0/") + key, "null", false});
    }
    for (const char* pointer : {"/clips/0/path", "/clips/0/sha256", "/clips/0/cameraId", "/clips/0/takeId"})
        cases.push_back({kManifestForm, pointer, nullptr, false});

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.form.name) + " " + c.pointer + " = " + (c.value ? c.value : "(removed)"));
        EXPECT_EQ(decodes(c.form, changed(c.form, c.pointer, c.value)), c.decodes);
    }
}

TEST(DocumentForms, AbsentNullAndEmptyAreKeptApartOnRewrite) {
    struct Case { const Form& form; const char* pointer; const char* value; const char* rewritten; };
    const Case cases[] = {
        {kLibraryForm, "/projects/0/revision", "null", nullptr},
        {kLibraryForm, "/projects/0/takes/0/clips/0/hasAudio", "null", nullptr},
        {kLibraryForm, "/projects/0/takes/0/clips/0/anchors", "[]", "[]"},
        {kCatalogForm, "/unassignedTakes", nullptr, nullptr},
        {kCatalogForm, "/unassignedTakes", "null", nullptr},
        {kCatalogForm, "/unassignedTakes", "[]", "[]"},
        {kCatalogForm, "/projects/0/takes/0/timelineFPS", nullptr, nullptr},
        {kCatalogForm, "/projects/0/takes/0/clips/0/anchors", nullptr, nullptr},
        {kCatalogForm, "/projects/0/takes/0/clips/0/anchors", "[]", "[]"},
        {kManifestForm, "/timelineFPS", nullptr, nullptr},
        {kManifestForm, "/projectName", "null", nullptr},
        {kManifestForm, "/projectRevision", nullptr, nullptr},
        {kManifestForm, "/projectNameAtCapture", nullptr, nullptr},
        {kManifestForm, "/projectRevisionAtCapture", "null", nullptr},
        {kManifestForm, "/clips/0/clipId", "null", nullptr},
        {kManifestForm, "/clips/0/anchors", nullptr, nullptr},
        {kManifestForm, "/clips/0/anchors", "[]", "[]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.form.name) + " " + c.pointer);
        const std::string text = c.form.rewrite(changed(c.form, c.pointer, c.value).dump());
        const Json rewritten = Json::parse(text);
        const Json::json_pointer at(c.pointer);
        if (c.rewritten) EXPECT_EQ(rewritten.at(at), Json::parse(c.rewritten));
        else EXPECT_FALSE(rewritten.contains(at));
        EXPECT_EQ(text.find("null"), std::string::npos);
    }
}

TEST(DocumentForms, UnknownKeysAreIgnoredAndGoneAfterRewrite) {
    const std::pair<const Form*, std::vector<const char*>> places[] = {
        {&kLibraryForm, {"/x", "/projects/0/x", "/projects/0/takes/0/x", "/projects/0/takes/0/clips/0/x",
                         "/projects/0/takes/0/clips/0/anchors/0/x"}},
        {&kCatalogForm, {"/x", "/projects/0/x", "/projects/0/takes/0/x", "/projects/0/takes/0/clips/0/x"}},
        {&kManifestForm, {"/x", "/clips/0/x"}},
        {&kPairingForm, {"/x"}},
    };
    for (const auto& [form, pointers] : places) {
        SCOPED_TRACE(form->name);
        Json doc = Json::parse(form->document);
        for (const char* pointer : pointers) doc[Json::json_pointer(pointer)] = Json::parse(R"({"a": [1, null]})");
        EXPECT_EQ(Json::parse(form->rewrite(doc.dump())), Json::parse(form->document));
    }
}

TEST(DocumentForms, TextThatIsNotADocumentFails) {
    for (const Form* form : kForms) {
        for (const char* text : {"", "not json", "<html>", "[]", "null", "3", "true", "\"projects\"", "{}",
                                 R"({"projects": [)"})
            EXPECT_THROW(form->rewrite(text), JsonError) << form->name << ": " << text;
    }
    EXPECT_TRUE(decodeLibrary(R"({"projects": []})").projects.empty());
}

TEST(DocumentForms, MinimalRecordsAreWrittenWithoutAbsentKeys) {
    VELKClip clip{.id = "c", .cameraId = "cam", .fileName = "f.mov", .sha256 = "00"};
    VELKLibrary library{{VELKProject{.id = "p", .name = "n", .takes = {VELKTake{.id = "t", .clips = {clip}}}}}};
    EXPECT_EQ(encodeLibrary(library, false),
              R"({"projects":[{"id":"p","name":"n","takes":[{"clips":[{"anchors":[],"cameraId":"cam",)"
              R"("fileName":"f.mov","id":"c","sha256":"00"}],"id":"t","timelineFPS":"30"}]}]})");
    EXPECT_EQ(encodeLibrary(VELKLibrary{}), "{\n  \"projects\": []\n}");
    DeviceCatalog catalog{.schemaVersion = 1, .deviceId = "d", .deviceName = "n", .catalogRevision = 0};
    EXPECT_EQ(encodeCatalog(catalog),
              R"({"catalogRevision":0,"deviceId":"d","deviceName":"n","projects":[],"schemaVersion":1})");
    // A request built without a schema version says 1; empty fields are still written.
    EXPECT_EQ(encodePairingRequest(PairingRequest{}),
              R"({"certificateSHA256":"","collectorId":"","collectorName":"","pairingCode":"","requestId":"",)"
              R"("schemaVersion":1})");
    PairingRequest request{.schemaVersion = 3, .requestId = "r", .collectorId = "c", .collectorName = "Mac",
                           .pairingCode = "123456", .certificateSHA256 = "ab"};
    PairingRequest back;
    from_json(Json::parse(encodePairingRequest(request)), back);
    EXPECT_EQ(back, request);
}

TEST(DocumentForms, NonFiniteAnchorFailsTheWholeWrite) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {std::nan(""), inf, -inf}) {
        VELKLibrary library = decodeLibrary(kLibrary);
        library.projects[0].takes[0].clips[0].anchors[0].uncertaintyMs = bad;
        EXPECT_THROW(encodeLibrary(library), JsonError);
        EXPECT_THROW(encodeLibrary(library, false), JsonError);
        SourceManifest manifest = decodeSourceManifest(kManifest);
        (*manifest.clips[0].anchors)[0].sourceSeconds = bad;
        EXPECT_THROW(encodeSourceManifest(manifest), JsonError);
    }
}

} // namespace
} // namespace velk
