#include <gtest/gtest.h>

#include <unicode/locid.h>

#include "library_window/library_presenter.hpp"

namespace velk::library {
namespace {

VELKClip clip(const std::string& camera, std::optional<std::string> localPath = std::nullopt, int anchors = 0) {
    VELKClip c{.id = "clip-" + camera, .cameraId = camera, .fileName = camera + ".mov", .localPath = std::move(localPath)};
    c.anchors.resize(static_cast<std::size_t>(anchors));
    return c;
}

VELKTake take(const std::string& id, std::vector<VELKClip> clips = {}) {
    return VELKTake{.id = id, .timelineFPS = "30/1", .clips = std::move(clips)};
}

TEST(LibraryPresenter, ProjectFilterTrimsIgnoresCaseAndNeverSearchesIds) {
    const std::vector<VELKProject> projects{{"p-interview", "Interview B-Roll", 1, {}},
                                            {"p2", "Wedding", 1, {}},
                                            {"p3", "Ärger im Büro", 1, {}}};
    struct Case {
        std::string search;
        std::vector<std::size_t> expected;
    };
    for (const Case& c : std::vector<Case>{{"", {0, 1, 2}},
                                           {"   \n", {0, 1, 2}},
                                           {"  interview ", {0}},
                                           {"b-roll", {0}},
                                           {"p-", {}},
                                           {"äRGER", {2}},
                                           {"ding", {1}}}) {
        EXPECT_EQ(filteredProjectIndexes(projects, c.search), c.expected) << c.search;
    }
}

// The search folds case fully and follows the user's language where folding depends on it.
TEST(LibraryPresenter, ProjectFilterFoldsCaseInTheUsersLanguage) {
    const icu::Locale saved = icu::Locale::getDefault();
    const std::vector<VELKProject> projects{{"p1", "Stra\xC3\x9F" "enfest", 1, {}}, // Straßenfest
                                            {"p2", "\xC4\xB0zmir Konser", 1, {}},   // İzmir Konser
                                            {"p3", "Irmak kenar\xC4\xB1", 1, {}}};  // Irmak kenarı
    struct Case {
        const char* locale;
        std::string search;
        std::vector<std::size_t> expected;
    };
    for (const Case& c : std::vector<Case>{{"de_DE", "STRASSE", {0}},
                                           {"en_US", "strasse", {0}},
                                           {"en_US", "irmak", {2}},
                                           {"tr_TR", "izmir", {1}},
                                           {"tr_TR", "irmak", {}},
                                           {"tr_TR", "\xC4\xB1rmak", {2}}}) { // ırmak
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(c.locale), status);
        EXPECT_EQ(filteredProjectIndexes(projects, c.search), c.expected) << c.locale << " " << c.search;
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(saved, status);
}

TEST(LibraryPresenter, ProjectRowsMarkUnassignedAndCountTakesWithoutSingular) {
    const ProjectRow unassigned = projectRow({"unassigned-0123", "Phone", std::nullopt, {take("a")}});
    EXPECT_EQ(unassigned.symbol, "tray");
    EXPECT_EQ(unassigned.tint, Tint::orange);
    EXPECT_EQ(unassigned.subtitle, "1 takes");
    const ProjectRow regular = projectRow({"p", "Wedding", 1, {}});
    EXPECT_EQ(regular.symbol, "folder.fill");
    EXPECT_EQ(regular.tint, Tint::green);
    EXPECT_EQ(regular.subtitle, "0 takes");
    EXPECT_EQ(countText(0, " projects"), "0 projects");
}

TEST(LibraryPresenter, RenameNeedsARegularSelectedProject) {
    const VELKProject regular{"p", "Wedding", 1, {}};
    const VELKProject unassigned{"unassigned-x", "Phone", 1, {}};
    EXPECT_TRUE(canRenameProject(&regular));
    EXPECT_FALSE(canRenameProject(&unassigned));
    EXPECT_FALSE(canRenameProject(nullptr));
}

TEST(LibraryPresenter, ConfirmationActsOnlyForTheProjectItWasOpenedFor) {
    using O = std::optional<std::string>;
    EXPECT_TRUE(confirmationStillApplies(O("a"), O("a")));
    EXPECT_FALSE(confirmationStillApplies(O("a"), O("b")));
    EXPECT_FALSE(confirmationStillApplies(O("a"), std::nullopt));
    EXPECT_FALSE(confirmationStillApplies(std::nullopt, std::nullopt));
}

TEST(LibraryPresenter, ToolbarEnablingFollowsTheStoreAndTheBusyFlag) {
    struct Case {
        ToolbarInputs in;
        bool downloadTake, exportTake, downloadProject, trash;
    };
    for (const Case& c : std::vector<Case>{
             {{false, false, false, false, false}, false, false, false, false},
             {{false, true, true, true, true}, true, true, true, true},
             {{true, true, true, true, true}, false, false, false, false},
             {{false, false, true, false, true}, false, true, true, false},
         }) {
        const ToolbarState state = toolbarState(c.in);
        EXPECT_TRUE(state.director && state.importManifest && state.projectMenu);
        EXPECT_EQ(state.downloadTake, c.downloadTake);
        EXPECT_EQ(state.exportForResolve, c.exportTake);
        EXPECT_EQ(state.downloadWholeProject, c.downloadProject);
        EXPECT_EQ(state.moveSourceToTrash, c.trash);
    }
}

TEST(LibraryPresenter, MediaReadyNeedsClipsAndEveryLocalPath) {
    EXPECT_FALSE(isMediaReady(take("t")));
    EXPECT_FALSE(isMediaReady(take("t", {clip("a", "/a"), clip("b")})));
    EXPECT_TRUE(isMediaReady(take("t", {clip("a", "/a"), clip("b", "")})));
    const TakeRow pending = takeRow(take("t1", {clip("a", "/a"), clip("b"), clip("c", "/c")}));
    EXPECT_EQ(pending.symbol, "film");
    EXPECT_EQ(pending.subtitle, "3 cameras  \u2022  30/1 fps");
    EXPECT_EQ(takeRow(take("t2", {clip("a", "/a")})).symbol, "checkmark.circle.fill");
}

TEST(LibraryPresenter, TakeSelectionAfterProjectChangeKeepsATakeOfTheNewProject) {
    const VELKProject project{"p", "P", 1, {take("first"), take("imported")}};
    const VELKProject empty{"e", "E", 1, {}};
    using O = std::optional<std::string>;
    EXPECT_EQ(takeSelectionAfterProjectChange(&project, O("imported")), O("imported"));
    EXPECT_EQ(takeSelectionAfterProjectChange(&project, O("elsewhere")), O("first"));
    EXPECT_EQ(takeSelectionAfterProjectChange(&project, std::nullopt), O("first"));
    EXPECT_EQ(takeSelectionAfterProjectChange(&empty, O("first")), std::nullopt);
    EXPECT_EQ(takeSelectionAfterProjectChange(nullptr, O("first")), std::nullopt);
}

TEST(LibraryPresenter, DashboardTabsAreIdentifiedByTheirExactTitles) {
    for (LibraryDashboardTab tab : allDashboardTabs) EXPECT_EQ(dashboardTabFromRawValue(rawValue(tab)), tab);
    EXPECT_EQ(rawValue(LibraryDashboardTab::exportPackage), "Resolve");
    EXPECT_EQ(dashboardTabFromRawValue("overview"), std::nullopt);
    EXPECT_EQ(dashboardTabFromRawValue("Export"), std::nullopt);
}

TEST(LibraryPresenter, DashboardOfATakeWithoutClips) {
    const VELKProject project{"p", "Wedding", 1, {}};
    const VELKTake empty = take("t");
    EXPECT_EQ(mediaPill(empty), (Pill{"MEDIA PENDING", Tint::orange}));
    const auto metrics = takeMetrics(empty);
    EXPECT_EQ(metrics[0], (Metric{"CAMERAS", "0", "video.fill"}));
    EXPECT_EQ(metrics[1], (Metric{"ON COMPUTER", "0/0", "checkmark.circle.fill"}));
    EXPECT_EQ(metrics[2], (Metric{"TIMELINE", "30/1 fps", "timeline.selection"}));
    EXPECT_EQ(takeReadiness(project, empty),
              (std::vector<Readiness>{{"Project identity", true}, {"Camera recordings", false}, {"Verified downloads", false},
                                      {"Reference camera", false}, {"Timing anchors", false}}));
    EXPECT_EQ(resolveMediaStatus(empty).text, "Download all camera media before export");
}

TEST(LibraryPresenter, DashboardOfAReadyTakeWithReferenceAndAnchors) {
    const VELKProject project{"p", "Renamed", 2, {}};
    VELKTake t = take("t", {clip("a", "/a", 2), clip("b", "/b")});
    t.referenceCameraId = "nobody";
    t.projectNameAtCapture = "Original";
    t.sourceManifestPath = "/m.json";
    EXPECT_EQ(mediaPill(t), (Pill{"READY", Tint::green}));
    EXPECT_EQ(takeMetrics(t)[1].value, "2/2");
    for (const Readiness& row : takeReadiness(project, t)) EXPECT_TRUE(row.ready) << row.label;
    EXPECT_EQ(takeDetails(project, t),
              (std::vector<Detail>{{"Take ID", "t"}, {"Frame rate", "30/1"}, {"Reference", "nobody"},
                                   {"Captured as", "Original"}, {"Manifest", "Imported"}}));
    EXPECT_EQ(resolveMediaStatus(t), (StatusLine{"Media is present on this computer", "checkmark.circle.fill", Tint::green}));
    EXPECT_FALSE(isReferenceClip(t, t.clips[0]));

    VELKTake fromCatalog = take("c");
    EXPECT_EQ(takeDetails(project, fromCatalog)[2].value, "Not selected");
    EXPECT_EQ(takeDetails(project, fromCatalog)[3].value, "Renamed");
    EXPECT_EQ(takeDetails(project, fromCatalog)[4].value, "Catalog / local library");
}

TEST(LibraryPresenter, ClipRowFollowsTheLocalCopyAndTheReferenceMark) {
    const ClipRowView remote = clipRow(clip("a"), false);
    EXPECT_EQ(remote.symbol, "iphone.gen3.radiowaves.left.and.right");
    EXPECT_EQ(remote.tint, Tint::orange);
    EXPECT_EQ(remote.copyText, "On device");
    EXPECT_EQ(remote.anchorsText, "0 anchors");
    EXPECT_TRUE(remote.showsReferenceButton);
    EXPECT_FALSE(remote.showsReferencePill);
    const ClipRowView local = clipRow(clip("a", "/a", 1), true);
    EXPECT_EQ(local.symbol, "video.fill");
    EXPECT_EQ(local.copyText, "Verified on computer");
    EXPECT_EQ(local.anchorsText, "1 anchors");
    EXPECT_FALSE(local.showsReferenceButton);
    EXPECT_TRUE(local.showsReferencePill);
}

// A clip's row is read as one text: its camera, file, copy, anchors and whether it is the reference.
TEST(LibraryPresenter, ClipRowIsReadWithItsCopyAnchorsAndReference) {
    const std::pair<ClipRowView, std::string> rows[] = {
        {clipRow(clip("a"), false), "a, a.mov, On device, 0 anchors, not the reference"},
        {clipRow(clip("a", "/a", 1), true), "a, a.mov, Verified on computer, 1 anchors, reference camera"},
    };
    for (const auto& [row, spoken] : rows) EXPECT_EQ(row.spokenText, spoken);
}

} // namespace
} // namespace velk::library
