// Merging a phone's catalog into the library.

#include <QSignalSpy>

#include "export/drift_export_error.hpp"
#include "store/library_merge.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

CatalogProject catalogProject(const std::string& id, const std::string& name, std::int64_t revision,
                              std::vector<CatalogTake> takes = {}) {
    return CatalogProject{id, name, revision, std::move(takes)};
}

DeviceCatalog oneClip(const std::string& takeID = "T1") {
    return catalog({catalogProject("p1", "Concert", 1, {catalogTake(takeID, {catalogClip("c1", "A")})})});
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

TEST(CatalogMerge, NewProjectTakeAndClipFromTheCatalog) {
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
    VELKLibrary library;
    LibraryMerge::mergeCatalog(library, catalog({catalogProject("p1", "Concert", 2, {recorded})}), baseURL);

    const VELKClip expected{.id = "c1", .cameraId = "A", .fileName = "c1.mov",
                            .remoteURL = "https://phone.local:8443/velk/v1/files/c1", .sizeBytes = 1000,
                            .sha256 = digestA, .anchorMeaning = "start", .anchors = *source.anchors,
                            .mediaKind = "video", .hasVideo = true, .hasAudio = false,
                            .timingSidecarURL = "/velk/v1/files/c1.timing.json", .timingSidecarSHA256 = digestC,
                            .deviceId = phoneID, .deviceName = "Stage Left", .originCatalogRevision = 7};
    const VELKTake expectedTake{.id = "T1", .projectNameAtCapture = "Concert", .projectRevisionAtCapture = 2,
                                .createdAt = "2025-03-01T09:30:00Z", .referenceCameraId = "A", .timelineFPS = "25/1",
                                .clips = {expected}};
    ASSERT_EQ(library.projects.size(), 1u);
    EXPECT_EQ(library.projects[0], project("p1", "Concert", 2, {expectedTake}));
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

TEST(CatalogMerge, NothingIsEverRemovedAndEverythingIsSorted) {
    VELKLibrary library;
    library.projects = {project("p0", "beta", 1, {take("T0", {clip("old", "A")})}),
                        project("p1", "Concert", 1, {take("T9", {clip("c9", "A")}), take("T1", {clip("c0", "Z")})})};
    LibraryMerge::mergeCatalog(
        library,
        catalog({catalogProject("p1", "Concert", 1,
                                {catalogTake("T1", {catalogClip("c1", "A")}),
                                 catalogTake("t2", {catalogClip("c3", "c"), catalogClip("c4", "A"), catalogClip("c2", "b")})}),
                 catalogProject("p2", "Alpha", 1)}),
        baseURL);
    ASSERT_EQ(library.projects.size(), 3u);
    EXPECT_EQ(library.projects[0].id, "p2");
    EXPECT_EQ(library.projects[1].id, "p0");
    EXPECT_EQ(library.projects[1].takes.at(0).clips.at(0).id, "old");
    const auto& takes = library.projects[2].takes;
    ASSERT_EQ(takes.size(), 3u);
    std::vector<std::string> order;
    for (const auto& t : takes) {
        order.push_back(t.id + ":");
        for (const auto& c : t.clips) order.back() += " " + c.cameraId;
    }
    EXPECT_EQ(order, (std::vector<std::string>{"T1: A Z", "t2: A b c", "T9: A"}));
}

TEST(CatalogMerge, RevisionsDecideTheProjectName) {
    const std::vector<std::tuple<std::optional<std::int64_t>, std::int64_t, std::string, std::optional<std::int64_t>>> cases = {
        {3, 4, "Concert Live", 4}, {3, 3, "", 3}, {3, 2, "Concert", 3}, {std::nullopt, 1, "Concert Live", 1},
        {std::nullopt, 0, "", std::nullopt}};
    for (const auto& [known, incoming, name, revision] : cases) {
        SCOPED_TRACE(incoming);
        VELKLibrary library;
        library.projects = {project("p1", "Concert", known)};
        const DeviceCatalog source = catalog({catalogProject("p1", "Concert Live", incoming)});
        if (name.empty()) {
            EXPECT_EQ(mergeFailure(library, source),
                      "Project ID p1 has conflicting names at revision " + std::to_string(incoming) + ".");
            continue;
        }
        LibraryMerge::mergeCatalog(library, source, baseURL);
        EXPECT_EQ(library.projects[0], project("p1", name, revision));
    }
}

TEST(CatalogMerge, UnassignedTakesGoToTheDevicesProjectWhoseNameNeverChanges) {
    VELKLibrary library;
    DeviceCatalog source = catalog();
    source.unassignedTakes = std::vector<CatalogTake>{};
    LibraryMerge::mergeCatalog(library, source, baseURL);
    EXPECT_TRUE(library.projects.empty());

    source.deviceId = "0123456789ABCDEF";
    source.unassignedTakes = std::vector<CatalogTake>{catalogTake("T1", {catalogClip("c1", "A")})};
    LibraryMerge::mergeCatalog(library, source, baseURL);
    source.deviceName = "Renamed Phone";
    source.unassignedTakes = std::vector<CatalogTake>{catalogTake("T2", {catalogClip("c2", "A")})};
    LibraryMerge::mergeCatalog(library, source, baseURL);
    ASSERT_EQ(library.projects.size(), 1u);
    EXPECT_EQ(library.projects[0].id, "unassigned-0123456789abcdef");
    EXPECT_EQ(library.projects[0].name, "Unassigned \u2014 Stage Left");
    EXPECT_EQ(library.projects[0].revision, 1);
    EXPECT_EQ(library.projects[0].takes.size(), 2u);
}

TEST(CatalogMerge, TakeRateAndReferenceChosenOnThisComputer) {
    VELKTake prepared = take("T2");
    prepared.timelineFPS = "30/1";
    VELKTake chosen = take("T3");
    chosen.referenceCameraId = "B";
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 1, {take("T1"), prepared, chosen})};
    CatalogTake first = catalogTake("T1");
    first.timelineFPS = "24/1";
    LibraryMerge::mergeCatalog(library, catalog({catalogProject("p1", "Concert", 1, {first, catalogTake("T3")})}), baseURL);
    EXPECT_EQ(library.projects[0].takes[0].timelineFPS, "24/1") << "the default rate takes any rate";
    EXPECT_EQ(library.projects[0].takes[2].referenceCameraId, "B") << "the catalog names none";

    CatalogTake second = catalogTake("T2");
    second.timelineFPS = "25/1";
    EXPECT_EQ(mergeFailure(library, catalog({catalogProject("p1", "Concert", 1, {second})})),
              "Take T2 has conflicting timeline frame rates.");
    CatalogTake other = catalogTake("T3");
    other.referenceCameraId = "A";
    EXPECT_EQ(mergeFailure(library, catalog({catalogProject("p1", "Concert", 1, {other})})),
              "Take T3 has conflicting reference cameras.");
}

TEST(CatalogMerge, EveryRefusalStopsTheMerge) {
    VELKTake captured = take("T1");
    captured.projectNameAtCapture = "Concert";
    captured.projectRevisionAtCapture = 1;
    captured.createdAt = "2025-03-01T09:30:00Z";
    auto known = [](VELKClip c, const std::string& projectID = "p1", const std::string& takeID = "T1") {
        return std::vector<VELKProject>{project(projectID, "Concert", 1, {take(takeID, {c})})};
    };
    VELKClip sized = clip("c1", "A");
    sized.sizeBytes = 999;
    VELKClip elsewhere = clip("c1", "A");
    elsewhere.deviceId = "fedcba9876543210";
    VELKClip uncanonical = clip("c1", "A");
    uncanonical.deviceId = "stage-left";
    VELKClip sameSize = clip("c1", "A");
    sameSize.sizeBytes = 1000;
    CatalogTake stray = catalogTake("T5");
    stray.projectId = "p1";

    using Arrange = std::function<void(DeviceCatalog&)>;
    auto onTake = [](std::function<void(CatalogTake&)> f) { return [f](DeviceCatalog& s) { f(s.projects[0].takes[0]); }; };
    auto onClip = [](std::function<void(CatalogClip&)> f) {
        return [f](DeviceCatalog& s) { f(s.projects[0].takes[0].clips[0]); };
    };
    const Arrange none = [](DeviceCatalog&) {};
    const std::vector<std::tuple<const char*, std::vector<VELKProject>, Arrange, std::string>> cases = {
        {"no device id", {}, [](DeviceCatalog& s) { s.deviceId.clear(); }, "Catalog device identity is missing."},
        {"no device name", {}, [](DeviceCatalog& s) { s.deviceName.clear(); }, "Catalog device identity is missing."},
        {"no project id", {}, [](DeviceCatalog& s) { s.projects[0].projectId.clear(); }, "Catalog project identity is missing."},
        {"no project name", {}, [](DeviceCatalog& s) { s.projects[0].name.clear(); }, "Catalog project identity is missing."},
        {"wrong project", {}, onTake([](CatalogTake& t) { t.projectId = "p2"; }), "Take T1 carries the wrong project ID."},
        {"unassigned with project", {}, [&](DeviceCatalog& s) { s.unassignedTakes = std::vector<CatalogTake>{stray}; },
         "An unassigned take unexpectedly carries a project ID."},
        {"no take id", {}, onTake([](CatalogTake& t) { t.takeId.clear(); }), "Catalog take ID is missing."},
        {"captured name", {project("p1", "Concert", 1, {captured})},
         onTake([](CatalogTake& t) { t.projectNameAtCapture = "Other"; t.createdAt = "2000-01-01T00:00:00Z"; }),
         "Take T1 has conflicting captured project names."},
        {"captured revision", {project("p1", "Concert", 1, {captured})},
         onTake([](CatalogTake& t) { t.projectRevisionAtCapture = 2; }), "Take T1 has conflicting captured project revisions."},
        {"creation time", {project("p1", "Concert", 1, {captured})},
         onTake([](CatalogTake& t) { t.createdAt = "2025-03-01T09:30:01Z"; }), "Take T1 has conflicting creation times."},
        {"not finalized", {}, onClip([](CatalogClip& c) { c.finalized = false; }), "Catalog clip c1 is not finalized video media."},
        {"no video", {}, onClip([](CatalogClip& c) { c.hasVideo = false; }), "Catalog clip c1 is not finalized video media."},
        {"no digest", {}, onClip([](CatalogClip& c) { c.sha256.clear(); }), "Clip identity, camera, or SHA-256 is missing."},
        {"no camera", {}, onClip([](CatalogClip& c) { c.cameraId.clear(); }), "Clip identity, camera, or SHA-256 is missing."},
        {"other project", known(sameSize, "p0"), none, "Immutable clip ID c1 appears in multiple projects."},
        {"other project, equivalent text", known(clip("caf\u00e9", "A"), "p0"), onClip([](CatalogClip& c) { c.clipId = "cafe\u0301"; }),
         "Immutable clip ID cafe\u0301 appears in multiple projects."},
        {"other take", known(clip("c1", "A"), "p1", "T0"), none, "Immutable clip ID c1 appears in multiple takes."},
        {"other digest", known(clip("c1", "A", digestB)), none, "Immutable clip ID c1 has conflicting metadata."},
        {"other size", known(sized), none, "Immutable clip ID c1 has conflicting metadata."},
        {"other device", known(elsewhere), none, "Immutable clip ID c1 has conflicting metadata."},
        {"uncanonical device", known(uncanonical), [](DeviceCatalog& s) { s.deviceId = "stage-left"; },
         "Immutable clip ID c1 has conflicting metadata."},
        {"second clip for a camera", known(clip("c0", "A")), none, "Take T1 has more than one finalized clip for camera A."},
    };
    for (const auto& [name, projects, arrange, sentence] : cases) {
        SCOPED_TRACE(name);
        VELKLibrary library;
        library.projects = projects;
        DeviceCatalog source = oneClip();
        arrange(source);
        EXPECT_EQ(mergeFailure(library, source), sentence);
    }
}

TEST(CatalogMerge, UpperCaseDigestOfTheSameClipIsAccepted) {
    VELKClip known = clip("c1", "A");
    known.localPath = "/media/c1.mov";
    known.deviceId = "0123456789abcdef";
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 1, {take("T1", {known})})};
    DeviceCatalog source = oneClip();
    source.projects[0].takes[0].clips[0].sha256 = std::string(64, 'A');
    LibraryMerge::mergeCatalog(library, source, baseURL);
    const VELKClip& merged = library.projects[0].takes[0].clips.at(0);
    EXPECT_EQ(merged.sha256, std::string(64, 'A'));
    EXPECT_EQ(merged.localPath, "/media/c1.mov");
}

TEST(CatalogMergeInTheStore, EachProjectIsAnnouncedAndAFailureIsRestoredByTheCaller) {
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

    store.reset();
    store = storeWith(roots, {project("p0", "Archive", 1)});
    const std::string saved = readFile(roots.support() / "library.json");
    QSignalSpy later(store.get(), &AppStore::libraryChanged);
    CatalogTake broken = catalogTake("T2", {catalogClip("c2", "A")});
    broken.clips[0].finalized = false;
    source = oneClip();
    source.projects.push_back(catalogProject("p2", "Later", 1, {broken}));
    const VELKLibrary before = store->library();
    EXPECT_THROW(store->mergeCatalog(source, baseURL), DriftExportError);
    EXPECT_EQ(later.count(), 1);
    EXPECT_EQ(store->library().projects.size(), 2u);
    EXPECT_EQ(projectByID(store->library(), "p1").takes.size(), 1u);
    EXPECT_EQ(readFile(roots.support() / "library.json"), saved);
    store->setLibrary(before);
    EXPECT_EQ(store->library().projects, (std::vector<VELKProject>{project("p0", "Archive", 1)}));
}

} // namespace
} // namespace velk
