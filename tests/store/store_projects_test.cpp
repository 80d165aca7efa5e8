// Creating and renaming projects, choosing a reference camera and preparing a Director take.

#include <limits>

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

constexpr const char* chooseRegular = "Choose a regular project and a valid take ID before starting the Director session.";
constexpr const char* useNewTake = "Use a new take ID; this take already has media or a different reference camera.";
constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();

class ProjectEdits : public ::testing::Test {
protected:
    void open(std::vector<VELKProject> projects) {
        store.reset(); // its last save lands before the next store reads the file
        store = storeWith(roots, std::move(projects), clock);
    }
    std::string savedText() const { return readFile(roots.support() / "library.json"); }
    const VELKProject& projectNamed(const std::string& id) const { return projectByID(store->library(), id); }
    const VELKTake& takeOf(const std::string& projectID, const std::string& takeID) const {
        for (const VELKTake& t : projectNamed(projectID).takes)
            if (t.id == takeID) return t;
        throw std::runtime_error("no take " + takeID);
    }
    std::vector<std::string> takeIDs(const std::string& projectID) const {
        std::vector<std::string> ids;
        for (const VELKTake& t : projectNamed(projectID).takes) ids.push_back(t.id);
        return ids;
    }

    StoreRoots roots;
    ManualClock clock{std::chrono::sys_days{std::chrono::year{2025} / 3 / 1} + std::chrono::hours{9} +
                      std::chrono::minutes{30} + std::chrono::milliseconds{250}};
    std::unique_ptr<AppStore> store;
};

TEST_F(ProjectEdits, CreateTrimsSelectsAppendsSavesAndLogs) {
    store = roots.open();
    store->createProject(" \n\t ");
    EXPECT_TRUE(store->library().projects.empty() && store->activities().empty());
    EXPECT_FALSE(std::filesystem::exists(roots.support() / "library.json"));

    open({project("p1", "Zulu", 1, {take("T1")})});
    store->createProject("  Concert \n");
    ASSERT_EQ(store->library().projects.size(), 2u);
    const VELKProject& made = store->library().projects.back();
    EXPECT_EQ(made, project(made.id, "Concert", 1));
    EXPECT_TRUE(uuid::isValid(made.id));
    EXPECT_EQ(made.id, text::lowercased(made.id));
    EXPECT_EQ(store->selectedProjectID(), made.id);
    EXPECT_FALSE(store->selectedTakeID());
    EXPECT_EQ(store->activities().front().message, "Created project Concert.");
    EXPECT_FALSE(store->activities().front().isError);
    EXPECT_NE(savedText().find("Concert"), std::string::npos);
}

TEST_F(ProjectEdits, RenameRaisesTheRevisionAndSortsByName) {
    open({project("p1", "Alpha", 3), project("p2", "Beta", std::nullopt)});
    store->renameSelectedProject(" Zulu ");
    EXPECT_EQ(store->library().projects[1], project("p1", "Zulu", 4));
    EXPECT_EQ(store->activities().front().message, "Renamed project to Zulu.");
    store->setSelectedProjectID("p2");
    store->renameSelectedProject("beta two");
    EXPECT_EQ(projectNamed("p2").revision, 1);
}

TEST_F(ProjectEdits, RenameThatCannotApplyChangesAndWritesNothing) {
    open({project("unassigned-phone", "Unassigned \u2014 Phone", 1), project("p1", "Alpha", 3),
          project("p2", "Beta", largest)});
    const auto before = store->library().projects;
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {"unassigned-phone", "Other"}, {"gone", "Other"}, {std::nullopt, "Other"}, {"p1", "Alpha"}, {"p2", "Gamma"}};
    for (const auto& [selected, name] : cases) {
        SCOPED_TRACE(selected.value_or("nothing selected"));
        store->setSelectedProjectID(selected);
        store->renameSelectedProject(name);
        EXPECT_EQ(store->library().projects, before);
        EXPECT_TRUE(store->activities().empty());
        EXPECT_FALSE(store->errorMessage());
        EXPECT_EQ(savedText(), encodeLibrary(store->library()));
    }
}

TEST_F(ProjectEdits, ReferenceCameraIsSetUncheckedAndSaved) {
    open({project("p1", "Alpha", 1, {take("T1", {clip("c1", "A")})})});
    store->setReferenceCamera("Z");
    EXPECT_EQ(takeOf("p1", "T1").referenceCameraId, "Z");
    EXPECT_TRUE(store->activities().empty());
    EXPECT_EQ(roots.open()->library().projects[0].takes[0].referenceCameraId, "Z");
    store->setSelectedTakeID("none");
    store->setReferenceCamera("Y");
    EXPECT_EQ(takeOf("p1", "T1").referenceCameraId, "Z");
}

// --- Director take preparation ---

TEST_F(ProjectEdits, NewTakeIsFrozenToTheProjectAndPlacedByID) {
    open({project("p1", "Concert", 4, {take("a1"), take("C3")})});
    EXPECT_FALSE(store->selectedTakeAssignment());
    EXPECT_TRUE(store->prepareDirectorTake(" b2", std::nullopt));
    VELKTake expected{.id = "b2", .projectNameAtCapture = "Concert", .projectRevisionAtCapture = 4,
                      .createdAt = "2025-03-01T09:30:00Z", .timelineFPS = "30/1"};
    EXPECT_EQ(takeOf("p1", "b2"), expected);
    EXPECT_EQ(takeIDs("p1"), (std::vector<std::string>{"a1", "b2", "C3"}));
    EXPECT_EQ(store->selectedTakeID(), "b2");
    EXPECT_EQ(store->activities().front().message, "Prepared take b2 for Concert revision 4.");
    EXPECT_FALSE(store->activities().front().isError);
    EXPECT_EQ(roots.open()->library().projects, store->library().projects);
}

TEST_F(ProjectEdits, NewTakeInAProjectWithoutRevision) {
    open({project("p1", "Concert", std::nullopt, {take("T9"), take("T0")})});
    EXPECT_TRUE(store->prepareDirectorTake("T5", std::string("A")));
    EXPECT_FALSE(takeOf("p1", "T5").projectRevisionAtCapture);
    EXPECT_EQ(takeOf("p1", "T5").referenceCameraId, "A");
    EXPECT_EQ(store->activities().front().message, "Prepared take T5 for Concert revision 0.");
    EXPECT_EQ(takeIDs("p1"), (std::vector<std::string>{"T0", "T5", "T9"}));
    EXPECT_EQ(store->selectedTakeAssignment(),
              (DirectorTakeAssignment{"T5", "p1", "Concert", 1, "2025-03-01T09:30:00Z", "A", "30/1"}));
}

TEST_F(ProjectEdits, TakeIDsFollowTheRecordingIdentifierRule) {
    const std::vector<std::pair<std::string, bool>> cases = {{std::string(64, 'a'), true}, {std::string(65, 'a'), false},
                                                             {"", false}, {"   ", false}, {"Take\x01", false},
                                                             {"\tTake 1\n", true}};
    for (const auto& [id, accepted] : cases) {
        SCOPED_TRACE(id);
        open({project("p1", "Concert", 1)});
        EXPECT_EQ(store->prepareDirectorTake(id, std::nullopt), accepted);
        if (!accepted) expectError(*store, chooseRegular);
    }
}

TEST_F(ProjectEdits, PreparationRefusals) {
    VELKTake frozenName = take("T1");
    frozenName.projectNameAtCapture = "Old name";
    VELKTake frozenRevision = take("T2");
    frozenRevision.projectRevisionAtCapture = 2;
    VELKTake withMedia = take("T3", {clip("c1", "A")});
    VELKTake otherReference = take("T4");
    otherReference.referenceCameraId = "B";
    VELKTake capturedOne = take("T5");
    capturedOne.projectRevisionAtCapture = 1;
    const std::vector<VELKProject> projects = {project("unassigned-phone", "Unassigned \u2014 Phone", 1),
                                               project("p1", "Concert", 3, {frozenName, frozenRevision, withMedia, otherReference}),
                                               project("p2", "No revision", std::nullopt, {capturedOne})};
    const std::vector<std::tuple<std::optional<std::string>, std::string, std::optional<std::string>, std::string>> cases = {
        {"unassigned-phone", "T1", std::nullopt, chooseRegular},
        {"gone", "T1", std::nullopt, chooseRegular},
        {std::nullopt, "T1", std::nullopt, chooseRegular},
        {"p1", "T1", std::nullopt, "Take T1 is frozen to a different project revision."},
        {"p1", "T2", "A", "Take T2 is frozen to a different project revision."},
        {"p2", "T5", std::nullopt, "Take T5 is frozen to a different project revision."},
        {"p1", "T3", "A", useNewTake},
        {"p1", "T4", "A", useNewTake},
    };
    for (const auto& [selected, takeID, reference, sentence] : cases) {
        SCOPED_TRACE(takeID + " in " + selected.value_or("nothing"));
        open(projects);
        store->setSelectedProjectID(selected);
        EXPECT_FALSE(store->prepareDirectorTake(takeID, reference));
        expectError(*store, sentence);
        EXPECT_EQ(store->library().projects, projects);
    }
}

TEST_F(ProjectEdits, RenamedProjectRefusesItsEarlierTakes) {
    open({project("p1", "Concert", 1)});
    ASSERT_TRUE(store->prepareDirectorTake("T1", std::nullopt));
    store->renameSelectedProject("Concert Live");
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    expectError(*store, "Take T1 is frozen to a different project revision.");
}

TEST_F(ProjectEdits, ReuseOfATakeWithoutMedia) {
    VELKTake used = take("T1", {clip("c1", "A")});
    used.referenceCameraId = "B";
    VELKTake sameReference = take("T2");
    sameReference.referenceCameraId = "A";
    VELKTake otherRate = take("T3");
    otherRate.timelineFPS = "25";
    open({project("p1", "Concert", 1, {used, sameReference, otherRate}), project("p2", "Beta", 1)});
    store->setSelectedTakeID("T3");
    const std::string before = savedText();
    // Without a reference camera a used take is only selected.
    EXPECT_TRUE(store->prepareDirectorTake("T1", std::nullopt));
    EXPECT_EQ(store->selectedTakeID(), "T1");
    EXPECT_EQ(savedText(), before);

    EXPECT_TRUE(store->prepareDirectorTake("T2", std::string("A")));
    EXPECT_EQ(takeOf("p1", "T2").timelineFPS, "30/1");
    EXPECT_TRUE(store->prepareDirectorTake("T3", std::string("B")));
    EXPECT_EQ(takeOf("p1", "T3").referenceCameraId, "B");
    EXPECT_EQ(takeOf("p1", "T3").timelineFPS, "25");
    EXPECT_EQ(store->selectedTakeID(), "T3");
    EXPECT_TRUE(store->activities().empty());
    EXPECT_EQ(roots.open()->library().projects[0].takes[2].referenceCameraId, "B");

    // Take IDs of other projects do not matter.
    store->setSelectedProjectID("p2");
    EXPECT_TRUE(store->prepareDirectorTake("T1", std::string("A")));
    EXPECT_EQ(takeOf("p2", "T1").referenceCameraId, "A");
}

TEST_F(ProjectEdits, FailedSaveReturnsFalseAndKeepsTheTake) {
    open({project("p1", "Concert", 1)});
    std::filesystem::remove(roots.support() / "library.json");
    std::filesystem::create_directories(roots.support() / "library.json" / "inside");
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    EXPECT_TRUE(startsWith(store->errorMessage(), "Could not save the Kestova library: "));
    EXPECT_EQ(takeOf("p1", "T1").timelineFPS, "30/1");
    EXPECT_EQ(store->selectedTakeID(), "T1");
}

} // namespace
} // namespace velk
