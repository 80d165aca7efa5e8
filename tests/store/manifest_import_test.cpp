// Importing a take from a source manifest, and the Resolve export command whose manifest imports back.

#include "base/sha256.hpp"
#include "export/drift_engine.hpp"
#include "model/source_manifest.hpp"
#include "store/manifest_import.hpp"
#include "store_phone_fixture.hpp"
#include "support/build_paths.hpp"

namespace velk {
namespace {

using namespace velk::testing;

SourceClip sourceClip(const std::optional<std::string>& id, const std::string& camera, const std::string& path) {
    return SourceClip{.clipId = id, .cameraId = camera, .takeId = "T7", .path = path, .sha256 = digestA};
}

SourceManifest manifest(std::optional<std::string> name, std::optional<std::int64_t> revision,
                        std::vector<SourceClip> clips = {}) {
    return SourceManifest{.schemaVersion = 1, .projectId = "p1", .projectName = std::move(name), .projectRevision = revision,
                          .takeId = "T7", .referenceCameraId = "A", .clips = std::move(clips)};
}

class ManifestImporting : public ::testing::Test {
protected:
    void open(std::vector<VELKProject> projects) {
        store.reset(); // its last save lands before the next store reads the file
        store = storeWith(roots, std::move(projects));
    }
    std::filesystem::path write(const SourceManifest& document) {
        return writeFile(roots.folder.path() / "F" / "source-manifest.json", encodeSourceManifest(document));
    }
    const VELKProject& projectNamed(const std::string& id) const { return projectByID(store->library(), id); }
    // The import failed with this text and changed nothing.
    void expectRefused(const std::filesystem::path& file, const std::string& description) {
        const auto projects = store->library().projects;
        const auto selectedProject = store->selectedProjectID();
        const auto selectedTake = store->selectedTakeID();
        store->waitForSaves();
        const std::string saved = readFile(roots.support() / "library.json");
        store->importManifest(file);
        store->waitForSaves();
        if (description.empty()) {
            EXPECT_TRUE(startsWith(store->errorMessage(), "Manifest import failed: "));
            EXPECT_GT(store->errorMessage().value_or("").size(), std::string("Manifest import failed: ").size());
        } else {
            expectError(*store, "Manifest import failed: " + description);
        }
        EXPECT_EQ(store->library().projects, projects);
        EXPECT_EQ(store->selectedProjectID(), selectedProject);
        EXPECT_EQ(store->selectedTakeID(), selectedTake);
        EXPECT_EQ(readFile(roots.support() / "library.json"), saved);
    }

    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

TEST_F(ManifestImporting, RefusalsChangeNothing) {
    open({project("p0", "Other", 1, {take("T1", {clip("shared", "A")})})});
    expectRefused(roots.folder.path() / "missing.json", "");
    expectRefused(writeFile(roots.folder.path() / "bad.json", "{\"schemaVersion\": 1}"), "");
    SourceManifest document = manifest("Concert", 1);
    document.schemaVersion = 2;
    expectRefused(write(document), "Unsupported source manifest version.");
    expectRefused(write(manifest("Concert", 1, {sourceClip("shared", "A", "A.mov")})),
                  "Immutable clip ID shared appears in multiple projects.");
}

TEST_F(ManifestImporting, TakeConflictsAreRefusedInOrder) {
    const std::vector<std::tuple<std::function<void(VELKTake&)>, std::function<void(SourceManifest&)>, std::string>> cases = {
        {[](VELKTake& t) { t.projectNameAtCapture = "Old"; t.referenceCameraId = "Z"; },
         [](SourceManifest& m) { m.projectNameAtCapture = "New"; }, "Take T7 has conflicting captured project names."},
        {[](VELKTake& t) { t.projectRevisionAtCapture = 1; }, [](SourceManifest& m) { m.projectRevisionAtCapture = 2; },
         "Take T7 has conflicting captured project revisions."},
        {[](VELKTake& t) { t.referenceCameraId = "B"; }, [](SourceManifest&) {}, "Take T7 has conflicting reference cameras."},
        {[](VELKTake& t) { t.timelineFPS = "30/1"; }, [](SourceManifest& m) { m.timelineFPS = "25"; },
         "Take T7 has conflicting timeline frame rates."},
    };
    for (const auto& [existing, incoming, sentence] : cases) {
        SCOPED_TRACE(sentence);
        VELKTake known = take("T7");
        existing(known);
        open({project("p1", "Concert", 1, {known})});
        SourceManifest document = manifest("Concert", 1);
        incoming(document);
        expectRefused(write(document), sentence);
    }
}

TEST_F(ManifestImporting, NameAndRevisionAreReconciledWithTheLibrary) {
    // (library revision, manifest name, manifest revision) -> name and revision, or refused when no name.
    const std::vector<std::tuple<std::optional<std::int64_t>, std::optional<std::string>, std::optional<std::int64_t>,
                                 std::optional<std::string>, std::optional<std::int64_t>>>
        cases = {{3, "Concert Live", 4, "Concert Live", 4},     {3, "Concert Live", 3, std::nullopt, 0},
                 {3, "Concert Live", 2, "Concert", 3},          {3, "Concert Live", std::nullopt, std::nullopt, 0},
                 {3, std::nullopt, 4, "p1", 4},                 {3, "Concert", 3, "Concert", 3},
                 {std::nullopt, "Concert Live", 1, "Concert Live", 1}};
    for (const auto& [known, name, revision, expectedName, expectedRevision] : cases) {
        SCOPED_TRACE(name.value_or("no name") + " " + std::to_string(revision.value_or(-1)));
        open({project("p1", "Concert", known)});
        const auto file = write(manifest(name, revision));
        if (!expectedName) {
            expectRefused(file, "Project ID p1 has conflicting names at the same revision.");
            continue;
        }
        store->importManifest(file);
        EXPECT_FALSE(store->errorMessage());
        EXPECT_EQ(projectNamed("p1").name, *expectedName);
        EXPECT_EQ(projectNamed("p1").revision, expectedRevision);
        EXPECT_EQ(projectNamed("p1").takes.size(), 1u);
    }
    open({});
    store->importManifest(write(manifest(std::nullopt, std::nullopt)));
    EXPECT_EQ(projectNamed("p1"), project("p1", "p1", std::nullopt, projectNamed("p1").takes)) << "new project";
}

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
    const auto file = write(manifest("Concert", 1, {relative, sourceClip("clip-a", "A", "/media/cards/./A.mov")}));
    store->importManifest(file);
    ASSERT_FALSE(store->errorMessage());

    const VELKTake& imported = projectNamed("p1").takes.at(0);
    ASSERT_EQ(imported.clips.size(), 2u);
    const VELKClip b{.id = "T7::B", .cameraId = "B", .fileName = "B.mov",
                     .localPath = (roots.folder.path() / "F" / "B.mov").string(), .sha256 = digestA,
                     .anchorMeaning = "start", .anchors = *relative.anchors, .mediaKind = "video",
                     .timingSidecarURL = "sidecars/B.timing.json", .timingSidecarSHA256 = digestC, .deviceId = phoneID,
                     .deviceName = "Stage Left"};
    EXPECT_EQ(imported.clips[0], b);
    const VELKClip a{.id = "clip-a", .cameraId = "A", .fileName = "A.mov", .localPath = "/media/cards/A.mov", .sha256 = digestA};
    EXPECT_EQ(imported.clips[1], a);
    EXPECT_EQ(imported, (VELKTake{.id = "T7", .referenceCameraId = "A", .sourceManifestPath = file.string(), .clips = {b, a}}));
    EXPECT_EQ(store->selectedProjectID(), "p1");
    EXPECT_EQ(store->selectedTakeID(), "T7");
    EXPECT_EQ(store->activities().front().message, "Imported take T7 with 2 camera clip(s).");
    store->waitForSaves();
    EXPECT_EQ(roots.open()->library().projects, store->library().projects);

    EXPECT_EQ(ManifestImport::clipLocation("../../../A.mov", "/F/source-manifest.json"), "/A.mov");
    EXPECT_EQ(ManifestImport::clipLocation("/x/./y/../A.mov", "/F/source-manifest.json"), "/x/A.mov");
    store->importManifest(write(manifest("Concert", 1)));
    EXPECT_EQ(store->activities().front().message, "Imported take T7 with 0 camera clip(s).");
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
    const auto& takes = projectNamed("p1").takes;
    ASSERT_EQ(takes.size(), 3u);
    EXPECT_EQ(takes[2].id, "T7");
    EXPECT_EQ(takes[2].createdAt, "2025-01-01T00:00:00Z");
    EXPECT_EQ(takes[2].timelineFPS, "25");
    EXPECT_EQ(takes[2].projectNameAtCapture, "Alpha");
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
    const VELKClip& after = projectNamed("p1").takes.at(0).clips.at(0);
    EXPECT_FALSE(after.timingSidecarLocalPath);
    EXPECT_EQ(after.localPath, "/media/c1.mov"); // a verified copy already known keeps its place
}

TEST(ResolveExport, RevealsTheTimelineAndItsManifestImportsBackWithoutLosingAnything) {
    ensureApplication();
    StoreRoots roots;
    const std::filesystem::path media = roots.recordings() / "concert" / "t7";
    VELKTake recorded{.id = "T7", .projectNameAtCapture = "Concert", .projectRevisionAtCapture = 2,
                      .createdAt = "2025-03-01T09:30:00Z", .referenceCameraId = "A", .timelineFPS = "30/1"};
    for (const std::string camera : {"A", "B"}) {
        const std::string content = "media of camera " + camera;
        const std::string url = "https://phone.local:8443/velk/v1/files/clip-" + camera;
        VELKClip made{.id = "clip-" + camera, .cameraId = camera, .fileName = "clip-" + camera + ".mov",
                      .localPath = writeFile(media / ("clip-" + camera + ".mov"), content).string(), .remoteURL = url,
                      .sizeBytes = static_cast<std::int64_t>(content.size()), .sha256 = Sha256::hexOf(content),
                      .mediaKind = "video", .hasVideo = true, .hasAudio = true, .timingSidecarURL = url + ".timing.json",
                      .timingSidecarSHA256 = digestC, .deviceId = phoneID, .deviceName = "Stage Left",
                      .originCatalogRevision = 7, .timingSidecarLocalPath = (media / ("clip-" + camera + ".timing.json")).string()};
        if (camera == "B") {
            made.anchorMeaning = "same-event-reference-media-seconds";
            for (double source : {0.5, 3.0, 5.0, 7.0, 9.5}) made.anchors.push_back({source, source + 2, 0.95, 1.0});
        }
        recorded.clips.push_back(made);
    }
    auto store = storeWith(roots, {project("p1", "Concert", 2, {recorded})});
    SteadyMedia probe;
    store->setExportEnvironment(ExportEnvironment{&probe, std::chrono::system_clock::from_time_t(1772600767), {}});
    auto viewer = std::make_shared<FakeFileViewer>();
    store->setFileViewer(viewer);
    const std::filesystem::path parent = roots.folder.path() / "exports";
    std::filesystem::create_directories(parent);
    auto exportTake = [&] {
        bool finished = false;
        store->exportSelectedTake(parent, [&] { finished = true; });
        ASSERT_TRUE(runUntil([&] { return finished; }));
    };

    exportTake();
    ASSERT_FALSE(store->errorMessage()) << *store->errorMessage();
    ASSERT_EQ(viewer->revealed.size(), 1u);
    ASSERT_EQ(viewer->revealed[0].size(), 1u);
    const std::filesystem::path timeline = viewer->revealed[0][0];
    EXPECT_EQ(timeline.filename(), "timeline.fcpxml");
    EXPECT_EQ(store->activities().front().message, "Created Resolve export " + timeline.parent_path().filename().string() + ".");
    const auto dtd = std::filesystem::path(test::sourcePath("..")) / "shared" / "reference" / "fcpxml" / "FCPXMLv1_7.dtd";
    if (std::filesystem::exists(dtd) && std::system("command -v xmllint >/dev/null 2>&1") == 0) {
        const std::string command = "xmllint --noout --dtdvalid '" + dtd.string() + "' '" + timeline.string() + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // The same second again: the folder exists and is never overwritten.
    exportTake();
    expectError(*store, "Resolve export failed: Export destination already exists.");
    EXPECT_FALSE(store->isBusy());
    EXPECT_EQ(viewer->revealed.size(), 1u);
    // A desktop without a file manager: the activity tells the package's whole path.
    viewer->shows = false;
    store->setExportEnvironment(ExportEnvironment{&probe, std::chrono::system_clock::from_time_t(1772600768), {}});
    exportTake();
    ASSERT_EQ(viewer->revealed.size(), 2u);
    const std::filesystem::path unseen = viewer->revealed[1][0].parent_path();
    ASSERT_TRUE(unseen.is_absolute());
    EXPECT_EQ(store->activities().at(0).message, "No file viewer could be opened; the Resolve export is in " + unseen.string() + ".");
    EXPECT_FALSE(store->activities().at(0).isError);
    EXPECT_EQ(store->activities().at(1).message, "Created Resolve export " + unseen.filename().string() + ".");

    // The library knows the sidecar digests in upper case: equal digests ignore case.
    VELKLibrary known = store->library();
    for (VELKClip& c : known.projects[0].takes[0].clips) c.timingSidecarSHA256 = upper(digestC);
    store->setLibrary(known);
    store->setErrorMessage(std::nullopt);
    store->importManifest(timeline.parent_path() / "source-manifest.json");
    ASSERT_FALSE(store->errorMessage()) << *store->errorMessage();
    recorded.sourceManifestPath = (timeline.parent_path() / "source-manifest.json").string();
    EXPECT_EQ(store->library().projects, (std::vector<VELKProject>{project("p1", "Concert", 2, {recorded})}));
    EXPECT_EQ(store->activities().front().message, "Imported take T7 with 2 camera clip(s).");
}

} // namespace
} // namespace velk
