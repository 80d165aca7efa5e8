// Merging a phone's catalog into the library.

#include <QSignalSpy>

#include "export/drift_export_error.hpp"
#include "store/app_store.hpp"
#include "store/library_merge.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

CatalogProject catalogProject(const std::string& id, const std::string& name, std::int64_t revision,
                              std::vector<CatalogTake> takes = {}) {
    return CatalogProject{id, name, revision, std::move(takes)};
}

const VELKProject& projectByID(const VELKLibrary& library, const std::string& id) {
    for (const VELKProject& p : library.projects) {
        if (p.id == id) return p;
    }
    throw std::runtime_error("no project " + id);
}

std::string mergeFailure(VELKLibrary& library, const DeviceCatalog& source) {
    try {
        LibraryMerge::mergeCatalog(library, source, baseURL);
    } catch (const DriftExportError& error) {
        EXPECT_EQ(error.errorCase(), DriftExportError::Case::invalid);
        return error.what();
    }
    return "merged";
}

// --- Building clips, takes and projects ---

TEST(CatalogMerge, NewProjectTakeAndClipFromTheCatalog) {
    VELKLibrary library;
    CatalogClip source = catalogClip("c1", "A");
    source.timingSidecarURL = "/velk/v1/files/c1.timing.json";
    source.timingSidecarSHA256 = digestC;
    source.anchors = std::vector<TimingAnchor>{{1, 2, 0.5, 4}};
    source.anchorMeaning = "start";
    source.hasAudio = false;
    CatalogTake recorded = catalogTake("T1", {source});
    recorded.createdAt = "2025-03-01T09:30:00Z";
    recorded.timelineFPS = "25/1";
    recorded.projectNameAtCapture = "Concert";
    recorded.projectRevisionAtCapture = 2;
    recorded.referenceCameraId = "A";
    LibraryMerge::mergeCatalog(library, catalog({catalogProject("p1", "Concert", 2, {recorded})}), baseURL);

    const VELKProject& merged = projectByID(library, "p1");
    EXPECT_EQ(merged.name, "Concert");
    EXPECT_EQ(merged.revision, 2);
    ASSERT_EQ(merged.takes.size(), 1u);
    const VELKTake& t = merged.takes[0];
    EXPECT_EQ(t.createdAt, "2025-03-01T09:30:00Z");
    EXPECT_EQ(t.timelineFPS, "25/1");
    EXPECT_EQ(t.projectNameAtCapture, "Concert");
    EXPECT_EQ(t.projectRevisionAtCapture, 2);
    EXPECT_EQ(t.referenceCameraId, "A");
    EXPECT_FALSE(t.sourceManifestPath);
    ASSERT_EQ(t.clips.size(), 1u);
    const VELKClip& c = t.clips[0];
    EXPECT_EQ(c.id, "c1");
    EXPECT_EQ(c.fileName, "c1.mov");
    EXPECT_FALSE(c.localPath);
    EXPECT_EQ(c.remoteURL, "https://phone.local:8443/velk/v1/files/c1");
    EXPECT_EQ(c.sizeBytes, 1000);
    EXPECT_EQ(c.sha256, digestA);
    EXPECT_EQ(c.anchorMeaning, "start");
    EXPECT_EQ(c.anchors, *source.anchors);
    EXPECT_EQ(c.mediaKind, "video");
    EXPECT_EQ(c.hasVideo, true);
    EXPECT_EQ(c.hasAudio, false);
    EXPECT_EQ(c.timingSidecarURL, "/velk/v1/files/c1.timing.json");
    EXPECT_EQ(c.timingSidecarSHA256, digestC);
    EXPECT_EQ(c.deviceId, phoneID);
    EXPECT_EQ(c.deviceName, "Stage Left");
    EXPECT_EQ(c.originCatalogRevision, 7);
    EXPECT_FALSE(c.timingSidecarLocalPath);
}

TEST(CatalogMerge, RoutesResolveAgainstTheBase) {
    EXPECT_EQ(LibraryMerge::resolvedRoute("/velk/v1/files/c1", baseURL), "https://phone.local:8443/velk/v1/files/c1");
    EXPECT_EQ(LibraryMerge::resolvedRoute("files/c1", baseURL), "https://phone.local:8443/velk/v1/files/c1");
    EXPECT_EQ(LibraryMerge::resolvedRoute("https://other:1/x", baseURL), "https://other:1/x");
    EXPECT_FALSE(LibraryMerge::resolvedRoute("/c1", "not a url"));
    EXPECT_FALSE(LibraryMerge::resolvedRoute("", baseURL));
}

TEST(CatalogMerge, MergingTwiceEqualsMergingOnceAndKeepsLocalCopies) {
    CatalogClip sidecar = catalogClip("c2", "B", digestB);
    sidecar.timingSidecarURL = "/velk/v1/files/c2.timing.json";
    sidecar.timingSidecarSHA256 = digestC;
    const DeviceCatalog source =
        catalog({catalogProject("p1", "Concert", 1, {catalogTake("T1", {catalogClip("c1", "A"), sidecar})})});
    VELKLibrary library;
    LibraryMerge::mergeCatalog(library, source, baseURL);
    const auto once = library.projects;
    LibraryMerge::mergeCatalog(library, source, baseURL);
    EXPECT_EQ(library.projects, once);

    for (VELKClip& c : library.projects[0].takes[0].clips) {
        c.localPath = "/media/" + c.id + ".mov";
        if (c.timingSidecarURL) c.timingSidecarLocalPath = "/media/" + c.id + ".timing.json";
    }
    const auto downloaded = library.projects;
    LibraryMerge::mergeCatalog(library, source, baseURL);
    EXPECT_EQ(library.projects, downloaded);
}

TEST(CatalogMerge, NothingIsEverRemoved) {
    VELKLibrary library;
    library.projects = {project("p0", "Archive", 1, {take("T0", {clip("old", "A")})}),
                        project("p1", "Concert", 1, {take("T9", {clip("c9", "A")}), take("T1", {clip("c0", "Z")})})};
    LibraryMerge::mergeCatalog(library, catalog({catalogProject("p1", "Concert", 1, {catalogTake("T1", {catalogClip("c1", "A")})})}),
                               baseURL);
    EXPECT_EQ(projectByID(library, "p0").takes.at(0).clips.at(0).id, "old");
    const auto& takes = projectByID(library, "p1").takes;
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[0].id, "T1");
    EXPECT_EQ(takes[1].id, "T9");
    ASSERT_EQ(takes[0].clips.size(), 2u);
    EXPECT_EQ(takes[0].clips[0].id, "c1");
    EXPECT_EQ(takes[0].clips[1].id, "c0");
}

TEST(CatalogMerge, ClipsOrderByCameraTakesByIDProjectsByName) {
    VELKLibrary library;
    library.projects = {project("p0", "beta", 1)};
    LibraryMerge::mergeCatalog(
        library,
        catalog({catalogProject("p1", "Alpha", 1,
                                {catalogTake("t2", {catalogClip("c3", "c"), catalogClip("c1", "A"), catalogClip("c2", "b")}),
                                 catalogTake("T1")})}),
        baseURL);
    EXPECT_EQ(library.projects[0].name, "Alpha");
    const auto& takes = library.projects[0].takes;
    EXPECT_EQ(takes[0].id, "T1");
    EXPECT_EQ(takes[1].id, "t2");
    EXPECT_EQ(takes[1].clips[0].cameraId, "A");
    EXPECT_EQ(takes[1].clips[1].cameraId, "b");
    EXPECT_EQ(takes[1].clips[2].cameraId, "c");
}

// --- Project revisions ---

struct RevisionCase {
    std::optional<std::int64_t> library;
    std::int64_t catalog;
    std::string expectedName; // "" when refused
    std::optional<std::int64_t> expectedRevision;
};

class CatalogRevisions : public ::testing::TestWithParam<RevisionCase> {};

TEST_P(CatalogRevisions, DecideTheProjectName) {
    VELKLibrary library;
    library.projects = {project("p1", "Concert", GetParam().library)};
    const DeviceCatalog source = catalog({catalogProject("p1", "Concert Live", GetParam().catalog)});
    if (GetParam().expectedName.empty()) {
        EXPECT_EQ(mergeFailure(library, source),
                  "Project ID p1 has conflicting names at revision " + std::to_string(GetParam().catalog) + ".");
        return;
    }
    LibraryMerge::mergeCatalog(library, source, baseURL);
    EXPECT_EQ(library.projects[0].name, GetParam().expectedName);
    EXPECT_EQ(library.projects[0].revision, GetParam().expectedRevision);
}

INSTANTIATE_TEST_SUITE_P(Cases, CatalogRevisions,
                         ::testing::Values(RevisionCase{3, 4, "Concert Live", 4}, RevisionCase{3, 3, "", std::nullopt},
                                           RevisionCase{3, 2, "Concert", 3},
                                           RevisionCase{std::nullopt, 1, "Concert Live", 1},
                                           RevisionCase{std::nullopt, 0, "", std::nullopt}));

// --- Unassigned takes ---

TEST(CatalogUnassigned, EmptyListMakesNoProject) {
    VELKLibrary library;
    DeviceCatalog source = catalog();
    source.unassignedTakes = std::vector<CatalogTake>{};
    LibraryMerge::mergeCatalog(library, source, baseURL);
    EXPECT_TRUE(library.projects.empty());
}

TEST(CatalogUnassigned, TakesGoToTheDevicesProjectWhoseNameNeverChanges) {
    VELKLibrary library;
    DeviceCatalog source = catalog();
    source.deviceId = "0123456789ABCDEF";
    source.unassignedTakes = std::vector<CatalogTake>{catalogTake("T1", {catalogClip("c1", "A")})};
    LibraryMerge::mergeCatalog(library, source, baseURL);
    ASSERT_EQ(library.projects.size(), 1u);
    EXPECT_EQ(library.projects[0].id, "unassigned-0123456789abcdef");
    EXPECT_EQ(library.projects[0].name, "Unassigned \u2014 Stage Left");
    EXPECT_EQ(library.projects[0].revision, 1);

    source.deviceName = "Renamed Phone";
    source.unassignedTakes = std::vector<CatalogTake>{catalogTake("T2", {catalogClip("c2", "A")})};
    LibraryMerge::mergeCatalog(library, source, baseURL);
    ASSERT_EQ(library.projects.size(), 1u);
    EXPECT_EQ(library.projects[0].name, "Unassigned \u2014 Stage Left");
    EXPECT_EQ(library.projects[0].takes.size(), 2u);
}

// --- Take fields ---

TEST(CatalogTakeFields, DefaultRateTakesAnyRateOtherRatesRefuseAChange) {
    VELKTake prepared = take("T2");
    prepared.timelineFPS = "30/1";
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 1, {take("T1"), prepared})};
    CatalogTake first = catalogTake("T1");
    first.timelineFPS = "24/1";
    LibraryMerge::mergeCatalog(library, catalog({catalogProject("p1", "Concert", 1, {first})}), baseURL);
    EXPECT_EQ(library.projects[0].takes[0].timelineFPS, "24/1");

    CatalogTake second = catalogTake("T2");
    second.timelineFPS = "25/1";
    EXPECT_EQ(mergeFailure(library, catalog({catalogProject("p1", "Concert", 1, {second})})),
              "Take T2 has conflicting timeline frame rates.");
}

TEST(CatalogTakeFields, ReferenceChosenOnThisComputerStaysWhenTheCatalogNamesNone) {
    VELKTake chosen = take("T1");
    chosen.referenceCameraId = "B";
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 1, {chosen})};
    LibraryMerge::mergeCatalog(library, catalog({catalogProject("p1", "Concert", 1, {catalogTake("T1")})}), baseURL);
    EXPECT_EQ(library.projects[0].takes[0].referenceCameraId, "B");
    CatalogTake other = catalogTake("T1");
    other.referenceCameraId = "A";
    EXPECT_EQ(mergeFailure(library, catalog({catalogProject("p1", "Concert", 1, {other})})),
              "Take T1 has conflicting reference cameras.");
}

// --- Every refusal ---

struct MergeRefusal {
    const char* name;
    std::function<void(VELKLibrary&, DeviceCatalog&)> arrange;
    const char* sentence;
};

class CatalogRefusals : public ::testing::TestWithParam<MergeRefusal> {};

TEST_P(CatalogRefusals, StopTheMerge) {
    VELKLibrary library;
    DeviceCatalog source = catalog({catalogProject("p1", "Concert", 1, {catalogTake("T1", {catalogClip("c1", "A")})})});
    GetParam().arrange(library, source);
    EXPECT_EQ(mergeFailure(library, source), GetParam().sentence);
}

VELKTake capturedTake() {
    VELKTake made = take("T1");
    made.projectNameAtCapture = "Concert";
    made.projectRevisionAtCapture = 1;
    made.createdAt = "2025-03-01T09:30:00Z";
    return made;
}

CatalogTake& firstTake(DeviceCatalog& source) { return source.projects[0].takes[0]; }
CatalogClip& firstClip(DeviceCatalog& source) { return source.projects[0].takes[0].clips[0]; }

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogRefusals,
    ::testing::Values(
        MergeRefusal{"noDeviceID", [](VELKLibrary&, DeviceCatalog& s) { s.deviceId.clear(); },
                     "Catalog device identity is missing."},
        MergeRefusal{"noDeviceName", [](VELKLibrary&, DeviceCatalog& s) { s.deviceName.clear(); },
                     "Catalog device identity is missing."},
        MergeRefusal{"noProjectID", [](VELKLibrary&, DeviceCatalog& s) { s.projects[0].projectId.clear(); },
                     "Catalog project identity is missing."},
        MergeRefusal{"noProjectName", [](VELKLibrary&, DeviceCatalog& s) { s.projects[0].name.clear(); },
                     "Catalog project identity is missing."},
        MergeRefusal{"wrongProject", [](VELKLibrary&, DeviceCatalog& s) { firstTake(s).projectId = "p2"; },
                     "Take T1 carries the wrong project ID."},
        MergeRefusal{"unassignedWithProject",
                     [](VELKLibrary&, DeviceCatalog& s) {
                         CatalogTake stray = catalogTake("T5");
                         stray.projectId = "p1";
                         s.unassignedTakes = std::vector<CatalogTake>{stray};
                     },
                     "An unassigned take unexpectedly carries a project ID."},
        MergeRefusal{"noTakeID", [](VELKLibrary&, DeviceCatalog& s) { firstTake(s).takeId.clear(); },
                     "Catalog take ID is missing."},
        MergeRefusal{"capturedName",
                     [](VELKLibrary& l, DeviceCatalog& s) {
                         l.projects = {project("p1", "Concert", 1, {capturedTake()})};
                         firstTake(s).projectNameAtCapture = "Other";
                         firstTake(s).createdAt = "2000-01-01T00:00:00Z";
                     },
                     "Take T1 has conflicting captured project names."},
        MergeRefusal{"capturedRevision",
                     [](VELKLibrary& l, DeviceCatalog& s) {
                         l.projects = {project("p1", "Concert", 1, {capturedTake()})};
                         firstTake(s).projectRevisionAtCapture = 2;
                     },
                     "Take T1 has conflicting captured project revisions."},
        MergeRefusal{"creationTime",
                     [](VELKLibrary& l, DeviceCatalog& s) {
                         l.projects = {project("p1", "Concert", 1, {capturedTake()})};
                         firstTake(s).createdAt = "2025-03-01T09:30:01Z";
                     },
                     "Take T1 has conflicting creation times."},
        MergeRefusal{"notFinalized", [](VELKLibrary&, DeviceCatalog& s) { firstClip(s).finalized = false; },
                     "Catalog clip c1 is not finalized video media."},
        MergeRefusal{"noVideo", [](VELKLibrary&, DeviceCatalog& s) { firstClip(s).hasVideo = false; },
                     "Catalog clip c1 is not finalized video media."},
        MergeRefusal{"noDigest", [](VELKLibrary&, DeviceCatalog& s) { firstClip(s).sha256.clear(); },
                     "Clip identity, camera, or SHA-256 is missing."},
        MergeRefusal{"noCamera", [](VELKLibrary&, DeviceCatalog& s) { firstClip(s).cameraId.clear(); },
                     "Clip identity, camera, or SHA-256 is missing."},
        MergeRefusal{"otherProject",
                     [](VELKLibrary& l, DeviceCatalog&) {
                         VELKClip same = clip("c1", "A");
                         same.sizeBytes = 1000;
                         l.projects = {project("p0", "Archive", 1, {take("T1", {same})})};
                     },
                     "Immutable clip ID c1 appears in multiple projects."},
        MergeRefusal{"otherProjectEquivalentText",
                     [](VELKLibrary& l, DeviceCatalog& s) {
                         firstClip(s).clipId = "cafe\u0301";
                         l.projects = {project("p0", "Archive", 1, {take("T1", {clip("caf\u00e9", "A")})})};
                     },
                     "Immutable clip ID cafe\u0301 appears in multiple projects."},
        MergeRefusal{"otherTake",
                     [](VELKLibrary& l, DeviceCatalog&) {
                         l.projects = {project("p1", "Concert", 1, {take("T0", {clip("c1", "A")})})};
                     },
                     "Immutable clip ID c1 appears in multiple takes."},
        MergeRefusal{"otherDigest",
                     [](VELKLibrary& l, DeviceCatalog&) {
                         l.projects = {project("p1", "Concert", 1, {take("T1", {clip("c1", "A", digestB)})})};
                     },
                     "Immutable clip ID c1 has conflicting metadata."},
        MergeRefusal{"otherSize",
                     [](VELKLibrary& l, DeviceCatalog&) {
                         VELKClip known = clip("c1", "A");
                         known.sizeBytes = 999;
                         l.projects = {project("p1", "Concert", 1, {take("T1", {known})})};
                     },
                     "Immutable clip ID c1 has conflicting metadata."},
        MergeRefusal{"otherDevice",
                     [](VELKLibrary& l, DeviceCatalog&) {
                         VELKClip known = clip("c1", "A");
                         known.deviceId = "fedcba9876543210";
                         l.projects = {project("p1", "Concert", 1, {take("T1", {known})})};
                     },
                     "Immutable clip ID c1 has conflicting metadata."},
        MergeRefusal{"uncanonicalDevice",
                     [](VELKLibrary& l, DeviceCatalog& s) {
                         s.deviceId = "stage-left";
                         VELKClip known = clip("c1", "A");
                         known.deviceId = "stage-left";
                         l.projects = {project("p1", "Concert", 1, {take("T1", {known})})};
                     },
                     "Immutable clip ID c1 has conflicting metadata."},
        MergeRefusal{"secondClipForCamera",
                     [](VELKLibrary& l, DeviceCatalog&) {
                         l.projects = {project("p1", "Concert", 1, {take("T1", {clip("c0", "A")})})};
                     },
                     "Take T1 has more than one finalized clip for camera A."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CatalogClips, UpperCaseDigestOfTheSameClipIsAccepted) {
    VELKClip known = clip("c1", "A");
    known.localPath = "/media/c1.mov";
    known.deviceId = "0123456789abcdef";
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 1, {take("T1", {known})})};
    DeviceCatalog source = catalog({catalogProject("p1", "Concert", 1, {catalogTake("T1", {catalogClip("c1", "A")})})});
    source.projects[0].takes[0].clips[0].sha256 = std::string(64, 'A');
    LibraryMerge::mergeCatalog(library, source, baseURL);
    const VELKClip& merged = library.projects[0].takes[0].clips.at(0);
    EXPECT_EQ(merged.sha256, std::string(64, 'A'));
    EXPECT_EQ(merged.localPath, "/media/c1.mov");
}

// --- Partial merges and the store ---

TEST(CatalogMergeInTheStore, FailureLeavesEarlierProjectsUntilTheCallerRestores) {
    StoreRoots roots;
    VELKLibrary original;
    original.projects = {project("p0", "Archive", 1)};
    auto store = storeWith(roots, original);
    const std::string saved = readFile(roots.support() / "library.json");
    QSignalSpy changes(store.get(), &AppStore::libraryChanged);

    CatalogTake broken = catalogTake("T2", {catalogClip("c2", "A")});
    broken.clips[0].finalized = false;
    const DeviceCatalog source = catalog({catalogProject("p1", "Concert", 1, {catalogTake("T1", {catalogClip("c1", "A")})}),
                                          catalogProject("p2", "Later", 1, {broken})});
    const VELKLibrary before = store->library();
    EXPECT_THROW(store->mergeCatalog(source, baseURL), DriftExportError);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(store->library().projects.size(), 2u);
    EXPECT_EQ(projectByID(store->library(), "p1").takes.size(), 1u);
    EXPECT_EQ(readFile(roots.support() / "library.json"), saved);

    store->setLibrary(before);
    EXPECT_EQ(store->library().projects, original.projects);
}

TEST(CatalogMergeInTheStore, EachProjectIsAnnounced) {
    StoreRoots roots;
    auto store = roots.open();
    QSignalSpy changes(store.get(), &AppStore::libraryChanged);
    DeviceCatalog source = catalog({catalogProject("p1", "B", 1), catalogProject("p2", "A", 1)});
    source.unassignedTakes = std::vector<CatalogTake>{catalogTake("T1")};
    store->mergeCatalog(source, baseURL);
    EXPECT_EQ(changes.count(), 3);
    ASSERT_EQ(store->library().projects.size(), 3u);
    EXPECT_EQ(store->library().projects[0].id, "p2");
    EXPECT_FALSE(std::filesystem::exists(roots.support() / "library.json"));
}

} // namespace
} // namespace velk
