// Importing a take from a source manifest.

#include "model/source_manifest.hpp"
#include "store/app_store.hpp"
#include "store/manifest_import.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

SourceClip sourceClip(const std::optional<std::string>& id, const std::string& camera, const std::string& path) {
    SourceClip made;
    made.clipId = id;
    made.cameraId = camera;
    made.takeId = "T7";
    made.path = path;
    made.sha256 = digestA;
    return made;
}

SourceManifest manifest(std::optional<std::string> name, std::optional<std::int64_t> revision,
                        std::vector<SourceClip> clips = {}) {
    SourceManifest made;
    made.schemaVersion = 1;
    made.projectId = "p1";
    made.projectName = std::move(name);
    made.projectRevision = revision;
    made.takeId = "T7";
    made.referenceCameraId = "A";
    made.clips = std::move(clips);
    return made;
}

class ManifestImporting : public ::testing::Test {
protected:
    void open(std::vector<VELKProject> projects) {
        VELKLibrary library;
        library.projects = std::move(projects);
        store = storeWith(roots, library);
    }
    std::filesystem::path write(const SourceManifest& document, const std::string& folder = "F") {
        return writeFile(roots.folder.path() / folder / "source-manifest.json", encodeSourceManifest(document));
    }
    const VELKProject& projectByID(const std::string& id) const {
        for (const VELKProject& p : store->library().projects) {
            if (p.id == id) return p;
        }
        throw std::runtime_error("no project " + id);
    }
    // The import failed with this text and changed nothing.
    void expectRefused(const std::filesystem::path& file, const std::string& description) {
        const auto projects = store->library().projects;
        const auto selectedProject = store->selectedProjectID();
        const auto selectedTake = store->selectedTakeID();
        const std::string saved = readFile(roots.support() / "library.json");
        store->importManifest(file);
        ASSERT_TRUE(store->errorMessage());
        EXPECT_EQ(*store->errorMessage(), "Manifest import failed: " + description);
        EXPECT_EQ(store->activities().front().message, *store->errorMessage());
        EXPECT_TRUE(store->activities().front().isError);
        EXPECT_EQ(store->library().projects, projects);
        EXPECT_EQ(store->selectedProjectID(), selectedProject);
        EXPECT_EQ(store->selectedTakeID(), selectedTake);
        EXPECT_EQ(readFile(roots.support() / "library.json"), saved);
    }

    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

// --- Refusals ---

TEST_F(ManifestImporting, OtherSchemaVersionIsRefused) {
    open({project("p0", "Other", 1)});
    SourceManifest document = manifest("Concert", 1);
    document.schemaVersion = 2;
    expectRefused(write(document), "Unsupported source manifest version.");
}

TEST_F(ManifestImporting, UnreadableOrUndecodableFileIsRefused) {
    open({project("p0", "Other", 1)});
    store->importManifest(roots.folder.path() / "missing.json");
    ASSERT_TRUE(store->errorMessage());
    EXPECT_EQ(store->errorMessage()->rfind("Manifest import failed: ", 0), 0u);
    EXPECT_GT(store->errorMessage()->size(), std::string("Manifest import failed: ").size());
    const auto file = writeFile(roots.folder.path() / "bad.json", "{\"schemaVersion\": 1}");
    store->importManifest(file);
    EXPECT_EQ(store->errorMessage()->rfind("Manifest import failed: ", 0), 0u);
    EXPECT_EQ(store->library().projects.size(), 1u);
}

struct TakeConflict {
    const char* what;
    std::function<void(VELKTake&)> existing;
    std::function<void(SourceManifest&)> incoming;
    const char* sentence;
};

class ManifestTakeConflicts : public ManifestImporting, public ::testing::WithParamInterface<TakeConflict> {};

TEST_P(ManifestTakeConflicts, AreRefusedInOrder) {
    VELKTake existing = take("T7");
    GetParam().existing(existing);
    open({project("p1", "Concert", 1, {existing})});
    SourceManifest document = manifest("Concert", 1);
    GetParam().incoming(document);
    expectRefused(write(document), GetParam().sentence);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ManifestTakeConflicts,
    ::testing::Values(
        TakeConflict{"names", [](VELKTake& t) { t.projectNameAtCapture = "Old"; t.referenceCameraId = "Z"; },
                     [](SourceManifest& m) { m.projectNameAtCapture = "New"; },
                     "Take T7 has conflicting captured project names."},
        TakeConflict{"revisions", [](VELKTake& t) { t.projectRevisionAtCapture = 1; },
                     [](SourceManifest& m) { m.projectRevisionAtCapture = 2; },
                     "Take T7 has conflicting captured project revisions."},
        TakeConflict{"reference", [](VELKTake& t) { t.referenceCameraId = "B"; }, [](SourceManifest&) {},
                     "Take T7 has conflicting reference cameras."},
        TakeConflict{"rate", [](VELKTake& t) { t.timelineFPS = "30/1"; },
                     [](SourceManifest& m) { m.timelineFPS = "25"; }, "Take T7 has conflicting timeline frame rates."}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ManifestImporting, ClipRejectedByTheClipRuleRefusesTheImport) {
    open({project("p0", "Other", 1, {take("T1", {clip("shared", "A")})})});
    expectRefused(write(manifest("Concert", 1, {sourceClip("shared", "A", "A.mov")})),
                  "Immutable clip ID shared appears in multiple projects.");
}

// --- Project name and revision ---

TEST_F(ManifestImporting, NewProjectWithoutNameIsNamedAfterItsID) {
    open({});
    store->importManifest(write(manifest(std::nullopt, std::nullopt)));
    EXPECT_FALSE(store->errorMessage());
    EXPECT_EQ(projectByID("p1").name, "p1");
    EXPECT_FALSE(projectByID("p1").revision);
}

struct Reconciliation {
    std::optional<std::string> name;
    std::optional<std::int64_t> revision;
    std::optional<std::string> expectedName; // none: refused
    std::int64_t expectedRevision;
};

class ManifestRevisions : public ManifestImporting, public ::testing::WithParamInterface<Reconciliation> {};

TEST_P(ManifestRevisions, ReconcileWithTheLibraryProject) {
    open({project("p1", "Concert", 3)});
    const auto file = write(manifest(GetParam().name, GetParam().revision));
    if (!GetParam().expectedName) {
        expectRefused(file, "Project ID p1 has conflicting names at the same revision.");
        return;
    }
    store->importManifest(file);
    EXPECT_FALSE(store->errorMessage());
    EXPECT_EQ(projectByID("p1").name, *GetParam().expectedName);
    EXPECT_EQ(projectByID("p1").revision, GetParam().expectedRevision);
    EXPECT_EQ(projectByID("p1").takes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ManifestRevisions,
                         ::testing::Values(Reconciliation{"Concert Live", 4, "Concert Live", 4},
                                           Reconciliation{"Concert Live", 3, std::nullopt, 0},
                                           Reconciliation{"Concert Live", 2, "Concert", 3},
                                           Reconciliation{"Concert Live", std::nullopt, std::nullopt, 0},
                                           Reconciliation{std::nullopt, 4, "p1", 4},
                                           Reconciliation{"Concert", 3, "Concert", 3}));

TEST_F(ManifestImporting, ProjectWithoutRevisionTakesAnyPositiveOne) {
    open({project("p1", "Concert", std::nullopt)});
    store->importManifest(write(manifest("Concert Live", 1)));
    EXPECT_EQ(projectByID("p1").name, "Concert Live");
    EXPECT_EQ(projectByID("p1").revision, 1);
}

// --- Clip mapping ---

TEST_F(ManifestImporting, ClipsMapFromTheManifestFolder) {
    open({});
    SourceClip relative = sourceClip(std::nullopt, "B", "media/../B.mov");
    relative.anchors = std::vector<TimingAnchor>{{1, 2, 0.9, 3}};
    relative.timingSidecarPath = "sidecars/B.timing.json";
    relative.timingSidecarSHA256 = digestC;
    relative.deviceId = phoneID;
    relative.deviceName = "Stage Left";
    relative.mediaKind = "video";
    relative.anchorMeaning = "start";
    const SourceClip absolute = sourceClip("clip-a", "A", "/media/cards/./A.mov");
    const auto file = write(manifest("Concert", 1, {relative, absolute}));
    store->importManifest(file);
    ASSERT_FALSE(store->errorMessage());

    const VELKTake& imported = projectByID("p1").takes.at(0);
    ASSERT_EQ(imported.clips.size(), 2u);
    const VELKClip& b = imported.clips[0];
    EXPECT_EQ(b.id, "T7::B");
    EXPECT_EQ(b.fileName, "B.mov");
    EXPECT_EQ(b.localPath, (roots.folder.path() / "F" / "B.mov").string());
    EXPECT_EQ(b.timingSidecarURL, "sidecars/B.timing.json");
    EXPECT_EQ(b.timingSidecarSHA256, digestC);
    EXPECT_EQ(b.deviceId, phoneID);
    EXPECT_EQ(b.deviceName, "Stage Left");
    EXPECT_EQ(b.anchors, relative.anchors);
    EXPECT_EQ(b.mediaKind, "video");
    EXPECT_EQ(b.anchorMeaning, "start");
    EXPECT_FALSE(b.remoteURL || b.sizeBytes || b.hasVideo || b.hasAudio || b.originCatalogRevision ||
                 b.timingSidecarLocalPath);
    const VELKClip& a = imported.clips[1];
    EXPECT_EQ(a.id, "clip-a");
    EXPECT_EQ(a.localPath, "/media/cards/A.mov");
    EXPECT_TRUE(a.anchors.empty());

    EXPECT_EQ(imported.referenceCameraId, "A");
    EXPECT_EQ(imported.timelineFPS, "30");
    EXPECT_EQ(imported.sourceManifestPath, file.string());
    EXPECT_FALSE(imported.createdAt);
    EXPECT_EQ(store->selectedProjectID(), "p1");
    EXPECT_EQ(store->selectedTakeID(), "T7");
    EXPECT_EQ(store->activities().front().message, "Imported take T7 with 2 camera clip(s).");
    EXPECT_EQ(roots.open()->library().projects, store->library().projects);
}

TEST_F(ManifestImporting, ClipLocationIsStandardisedWithoutTouchingTheFile) {
    EXPECT_EQ(ManifestImport::clipLocation("media/../A.mov", "/F/source-manifest.json"), "/F/A.mov");
    EXPECT_EQ(ManifestImport::clipLocation("../../../A.mov", "/F/source-manifest.json"), "/A.mov");
    EXPECT_EQ(ManifestImport::clipLocation("/x/./y/../A.mov", "/F/source-manifest.json"), "/x/A.mov");
}

TEST_F(ManifestImporting, ManifestWithoutClipsImportsTheTake) {
    open({});
    store->importManifest(write(manifest("Concert", 1)));
    EXPECT_EQ(store->activities().front().message, "Imported take T7 with 0 camera clip(s).");
    EXPECT_EQ(projectByID("p1").takes.at(0).id, "T7");
}

TEST_F(ManifestImporting, ExistingTakeIsReplacedAtTheEndAndProjectsSorted) {
    VELKTake existing = take("T7");
    existing.createdAt = "2025-01-01T00:00:00Z";
    open({project("p1", "Zulu", 1, {take("T1"), existing, take("T9")}), project("p0", "Mike", 1)});
    SourceManifest document = manifest("Alpha", 2);
    document.timelineFPS = "25";
    document.projectNameAtCapture = "Alpha";
    store->importManifest(write(document));
    ASSERT_FALSE(store->errorMessage());
    EXPECT_EQ(store->library().projects[0].id, "p1");
    const auto& takes = projectByID("p1").takes;
    ASSERT_EQ(takes.size(), 3u);
    EXPECT_EQ(takes[2].id, "T7");
    EXPECT_EQ(takes[2].createdAt, "2025-01-01T00:00:00Z");
    EXPECT_EQ(takes[2].timelineFPS, "25");
    EXPECT_EQ(takes[2].projectNameAtCapture, "Alpha");
}

// --- Round trip: a take's own exported manifest ---

TEST_F(ManifestImporting, ReimportingAnExportedManifestKeepsWhatTheLibraryKnew) {
    VELKClip downloaded = clip("c1", "A");
    downloaded.localPath = (roots.recordings() / "p1" / "t7" / "c1.mov").string();
    downloaded.remoteURL = "https://phone.local:8443/velk/v1/files/c1";
    downloaded.sizeBytes = 1000;
    downloaded.hasVideo = true;
    downloaded.hasAudio = false;
    downloaded.mediaKind = "video";
    downloaded.anchors = {{0.5, 0.25, 1, 2}};
    downloaded.timingSidecarURL = "https://phone.local:8443/velk/v1/files/c1.timing.json";
    downloaded.timingSidecarSHA256 = digestC;
    downloaded.timingSidecarLocalPath = (roots.recordings() / "p1" / "t7" / "c1.timing.json").string();
    downloaded.deviceId = phoneID;
    downloaded.deviceName = "Stage Left";
    downloaded.originCatalogRevision = 7;
    VELKTake recorded = take("T7", {downloaded});
    recorded.projectNameAtCapture = "Concert";
    recorded.projectRevisionAtCapture = 2;
    recorded.createdAt = "2025-03-01T09:30:00Z";
    recorded.referenceCameraId = "A";
    recorded.timelineFPS = "30/1";
    open({project("p1", "Concert", 2, {recorded})});

    // The document the export writes for this take.
    SourceManifest exported = manifest("Concert", 2);
    exported.projectNameAtCapture = "Concert";
    exported.projectRevisionAtCapture = 2;
    exported.timelineFPS = "30/1";
    SourceClip source = sourceClip("c1", "A", *downloaded.localPath);
    source.sha256 = "AAAA" + digestA.substr(4);
    source.anchors = downloaded.anchors;
    source.mediaKind = "video";
    source.timingSidecarPath = downloaded.timingSidecarURL;
    source.timingSidecarSHA256 = "CCCC" + digestC.substr(4);
    source.deviceId = phoneID;
    exported.clips = {source};
    const auto file = write(exported, "Export 1");
    store->importManifest(file);
    ASSERT_FALSE(store->errorMessage());

    const VELKTake& after = projectByID("p1").takes.at(0);
    ASSERT_EQ(after.clips.size(), 1u);
    VELKClip expected = downloaded;
    expected.sha256 = source.sha256;
    expected.timingSidecarSHA256 = source.timingSidecarSHA256;
    EXPECT_EQ(after.clips[0], expected);
    EXPECT_EQ(after.sourceManifestPath, file.string());
    EXPECT_EQ(after.createdAt, recorded.createdAt);
}

TEST_F(ManifestImporting, ChangedSidecarDigestDropsTheLocalSidecar) {
    VELKClip downloaded = clip("c1", "A");
    downloaded.localPath = "/media/c1.mov";
    downloaded.timingSidecarSHA256 = digestC;
    downloaded.timingSidecarLocalPath = "/media/c1.timing.json";
    open({project("p1", "Concert", 1, {take("T7", {downloaded})})});
    SourceClip source = sourceClip("c1", "A", "elsewhere/c1.mov");
    source.timingSidecarSHA256 = digestB;
    store->importManifest(write(manifest("Concert", 1, {source})));
    ASSERT_FALSE(store->errorMessage());
    const VELKClip& after = projectByID("p1").takes.at(0).clips.at(0);
    EXPECT_FALSE(after.timingSidecarLocalPath);
    EXPECT_EQ(after.localPath, "/media/c1.mov"); // a verified copy already known keeps its place
}

} // namespace
} // namespace velk
