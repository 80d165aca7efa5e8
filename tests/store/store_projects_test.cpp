// Creating and renaming projects, choosing a reference camera and preparing a Director take.

#include <limits>
#include <regex>

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "store/app_store.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

constexpr const char* chooseRegular = "Choose a regular project and a valid take ID before starting the Director session.";
constexpr const char* useNewTake = "Use a new take ID; this take already has media or a different reference camera.";

class ProjectEdits : public ::testing::Test {
protected:
    void open(std::vector<VELKProject> projects) {
        VELKLibrary library;
        library.projects = std::move(projects);
        store = storeWith(roots, library, clock);
    }
    std::string savedText() const { return readFile(roots.support() / "library.json"); }
    const VELKProject& projectNamed(const std::string& id) const {
        for (const VELKProject& p : store->library().projects) {
            if (p.id == id) return p;
        }
        throw std::runtime_error("no project " + id);
    }
    const VELKTake& takeOf(const std::string& projectID, const std::string& takeID) const {
        for (const VELKTake& t : projectNamed(projectID).takes) {
            if (t.id == takeID) return t;
        }
        throw std::runtime_error("no take " + takeID);
    }
    void expectRefusal(const std::string& sentence) const {
        ASSERT_TRUE(store->errorMessage());
        EXPECT_EQ(*store->errorMessage(), sentence);
        ASSERT_FALSE(store->activities().empty());
        EXPECT_EQ(store->activities().front().message, sentence);
        EXPECT_TRUE(store->activities().front().isError);
    }

    StoreRoots roots;
    ManualClock clock{std::chrono::sys_days{std::chrono::year{2025} / 3 / 1} + std::chrono::hours{9} +
                      std::chrono::minutes{30} + std::chrono::milliseconds{250}};
    std::unique_ptr<AppStore> store;
};

// --- Create and rename ---

TEST_F(ProjectEdits, CreateWithOnlySpacesDoesNothing) {
    auto fresh = roots.open();
    store = std::move(fresh);
    store->createProject(" \n\t ");
    EXPECT_TRUE(store->library().projects.empty());
    EXPECT_TRUE(store->activities().empty());
    EXPECT_FALSE(std::filesystem::exists(roots.support() / "library.json"));
}

TEST_F(ProjectEdits, CreateTrimsSelectsAppendsSavesAndLogs) {
    open({project("p1", "Zulu", 1, {take("T1")})});
    store->createProject("  Concert \n");
    ASSERT_EQ(store->library().projects.size(), 2u);
    const VELKProject& made = store->library().projects.back();
    EXPECT_EQ(made.name, "Concert");
    EXPECT_EQ(made.revision, 1);
    EXPECT_TRUE(made.takes.empty());
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
    store->setSelectedProjectID("p1");
    store->renameSelectedProject(" Zulu ");
    EXPECT_EQ(store->library().projects[1].id, "p1");
    EXPECT_EQ(projectNamed("p1").name, "Zulu");
    EXPECT_EQ(projectNamed("p1").revision, 4);
    EXPECT_EQ(store->activities().front().message, "Renamed project to Zulu.");
    store->setSelectedProjectID("p2");
    store->renameSelectedProject("beta two");
    EXPECT_EQ(projectNamed("p2").revision, 1);
}

TEST_F(ProjectEdits, RenameToTheSameNameChangesAndWritesNothing) {
    open({project("p1", "Alpha", 3)});
    store->renameSelectedProject("Alpha");
    EXPECT_EQ(projectNamed("p1").revision, 3);
    EXPECT_TRUE(store->activities().empty());
    EXPECT_EQ(savedText(), encodeLibrary(store->library()));
}

TEST_F(ProjectEdits, RenameDoesNothingForUnassignedOrMissingProjects) {
    open({project("unassigned-phone", "Unassigned \u2014 Phone", 1), project("p1", "Alpha", 1)});
    store->renameSelectedProject("Other");
    EXPECT_EQ(projectNamed("unassigned-phone").name, "Unassigned \u2014 Phone");
    store->setSelectedProjectID("gone");
    store->renameSelectedProject("Other");
    store->setSelectedProjectID(std::nullopt);
    store->renameSelectedProject("Other");
    EXPECT_TRUE(store->activities().empty());
    EXPECT_FALSE(store->errorMessage());
}

TEST_F(ProjectEdits, RenameAtTheLargestRevisionDoesNothing) {
    open({project("p1", "Alpha", std::numeric_limits<std::int64_t>::max())});
    store->renameSelectedProject("Beta");
    EXPECT_EQ(projectNamed("p1").name, "Alpha");
    EXPECT_EQ(projectNamed("p1").revision, std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(store->activities().empty());
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

TEST_F(ProjectEdits, NewTakeIsFrozenToTheProject) {
    open({project("p1", "Concert", 4)});
    EXPECT_TRUE(store->prepareDirectorTake(" T1", std::nullopt));
    const VELKTake& made = takeOf("p1", "T1");
    EXPECT_EQ(made.projectNameAtCapture, "Concert");
    EXPECT_EQ(made.projectRevisionAtCapture, 4);
    EXPECT_EQ(made.createdAt, "2025-03-01T09:30:00Z");
    EXPECT_FALSE(made.referenceCameraId);
    EXPECT_EQ(made.timelineFPS, "30/1");
    EXPECT_EQ(store->selectedTakeID(), "T1");
    EXPECT_EQ(store->activities().front().message, "Prepared take T1 for Concert revision 4.");
    EXPECT_FALSE(store->activities().front().isError);
    EXPECT_NE(savedText().find("\"T1\""), std::string::npos);
}

TEST_F(ProjectEdits, NewTakeInAProjectWithoutRevision) {
    open({project("p1", "Concert", std::nullopt, {take("T9"), take("T0")})});
    EXPECT_TRUE(store->prepareDirectorTake("T5", std::string("A")));
    EXPECT_FALSE(takeOf("p1", "T5").projectRevisionAtCapture);
    EXPECT_EQ(takeOf("p1", "T5").referenceCameraId, "A");
    EXPECT_EQ(store->activities().front().message, "Prepared take T5 for Concert revision 0.");
    const auto& takes = projectNamed("p1").takes;
    EXPECT_EQ(takes[0].id, "T0");
    EXPECT_EQ(takes[1].id, "T5");
    EXPECT_EQ(takes[2].id, "T9");
}

TEST_F(ProjectEdits, NewTakeIsPlacedByIdentifier) {
    open({project("p1", "Concert", 1, {take("a1"), take("C3")})});
    EXPECT_TRUE(store->prepareDirectorTake("b2", std::nullopt));
    const auto& takes = projectNamed("p1").takes;
    EXPECT_EQ(takes[0].id, "a1");
    EXPECT_EQ(takes[1].id, "b2");
    EXPECT_EQ(takes[2].id, "C3");
}

struct TakeIDCase {
    std::string id;
    bool accepted;
};

class TakeIDRule : public ProjectEdits, public ::testing::WithParamInterface<TakeIDCase> {};

TEST_P(TakeIDRule, FollowsTheRecordingIdentifierRule) {
    open({project("p1", "Concert", 1)});
    EXPECT_EQ(store->prepareDirectorTake(GetParam().id, std::nullopt), GetParam().accepted);
    if (!GetParam().accepted) expectRefusal(chooseRegular);
}

INSTANTIATE_TEST_SUITE_P(Cases, TakeIDRule,
                         ::testing::Values(TakeIDCase{std::string(64, 'a'), true}, TakeIDCase{std::string(65, 'a'), false},
                                           TakeIDCase{"", false}, TakeIDCase{"   ", false},
                                           TakeIDCase{"Take\x01", false}, TakeIDCase{"\tTake 1\n", true}));

TEST_F(ProjectEdits, PreparationNeedsARegularSelectedProject) {
    open({project("unassigned-phone", "Unassigned \u2014 Phone", 1), project("p1", "Alpha", 1)});
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    expectRefusal(chooseRegular);
    store->setSelectedProjectID("gone");
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    store->setSelectedProjectID(std::nullopt);
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    expectRefusal(chooseRegular);
}

TEST_F(ProjectEdits, FrozenTakeIsRefusedEvenWithoutReferenceCamera) {
    VELKTake frozenName = take("T1");
    frozenName.projectNameAtCapture = "Old name";
    VELKTake frozenRevision = take("T2");
    frozenRevision.projectRevisionAtCapture = 2;
    open({project("p1", "Concert", 3, {frozenName, frozenRevision})});
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    expectRefusal("Take T1 is frozen to a different project revision.");
    EXPECT_FALSE(store->prepareDirectorTake("T2", std::string("A")));
    expectRefusal("Take T2 is frozen to a different project revision.");
}

TEST_F(ProjectEdits, CapturedRevisionAgainstAProjectWithoutOneIsRefused) {
    VELKTake frozen = take("T1");
    frozen.projectRevisionAtCapture = 1;
    open({project("p1", "Concert", std::nullopt, {frozen})});
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    expectRefusal("Take T1 is frozen to a different project revision.");
}

TEST_F(ProjectEdits, RenamedProjectRefusesItsEarlierTakes) {
    open({project("p1", "Concert", 1)});
    ASSERT_TRUE(store->prepareDirectorTake("T1", std::nullopt));
    store->renameSelectedProject("Concert Live");
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    expectRefusal("Take T1 is frozen to a different project revision.");
}

TEST_F(ProjectEdits, ReuseWithoutReferenceCameraSelectsAndWritesNothing) {
    VELKTake used = take("T1", {clip("c1", "A")});
    used.referenceCameraId = "B";
    open({project("p1", "Concert", 1, {used, take("T2")})});
    store->setSelectedTakeID("T2");
    const std::string before = savedText();
    EXPECT_TRUE(store->prepareDirectorTake("T1", std::nullopt));
    EXPECT_EQ(store->selectedTakeID(), "T1");
    EXPECT_EQ(savedText(), before);
    EXPECT_TRUE(store->activities().empty());
}

TEST_F(ProjectEdits, ReuseWithMediaOrAnotherReferenceIsRefused) {
    VELKTake withMedia = take("T1", {clip("c1", "A")});
    VELKTake otherReference = take("T2");
    otherReference.referenceCameraId = "B";
    open({project("p1", "Concert", 1, {withMedia, otherReference})});
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::string("A")));
    expectRefusal(useNewTake);
    EXPECT_FALSE(store->prepareDirectorTake("T2", std::string("A")));
    expectRefusal(useNewTake);
}

TEST_F(ProjectEdits, ReuseOfAnEmptyTakeSetsTheReferenceAndTheDirectorRate) {
    VELKTake sameReference = take("T1");
    sameReference.referenceCameraId = "A";
    VELKTake otherRate = take("T2");
    otherRate.timelineFPS = "25";
    open({project("p1", "Concert", 1, {sameReference, otherRate})});
    EXPECT_TRUE(store->prepareDirectorTake("T1", std::string("A")));
    EXPECT_EQ(takeOf("p1", "T1").timelineFPS, "30/1");
    EXPECT_TRUE(store->prepareDirectorTake("T2", std::string("B")));
    EXPECT_EQ(takeOf("p1", "T2").referenceCameraId, "B");
    EXPECT_EQ(takeOf("p1", "T2").timelineFPS, "25");
    EXPECT_EQ(store->selectedTakeID(), "T2");
    EXPECT_TRUE(store->activities().empty());
    EXPECT_EQ(roots.open()->library().projects[0].takes[1].referenceCameraId, "B");
}

TEST_F(ProjectEdits, TakeIDsOfOtherProjectsDoNotMatter) {
    VELKTake used = take("T1", {clip("c1", "A")});
    open({project("p1", "Alpha", 1, {used}), project("p2", "Beta", 1)});
    store->setSelectedProjectID("p2");
    EXPECT_TRUE(store->prepareDirectorTake("T1", std::string("A")));
    EXPECT_EQ(takeOf("p2", "T1").referenceCameraId, "A");
}

TEST_F(ProjectEdits, FailedSaveReturnsFalseAndKeepsTheTake) {
    open({project("p1", "Concert", 1)});
    std::filesystem::remove(roots.support() / "library.json");
    std::filesystem::create_directories(roots.support() / "library.json" / "inside");
    EXPECT_FALSE(store->prepareDirectorTake("T1", std::nullopt));
    EXPECT_EQ(store->errorMessage()->rfind("Could not save the Kestova library: ", 0), 0u);
    EXPECT_EQ(takeOf("p1", "T1").timelineFPS, "30/1");
    EXPECT_EQ(store->selectedTakeID(), "T1");
}

TEST_F(ProjectEdits, AssignmentOfThePreparedTake) {
    open({project("p1", "Concert", std::nullopt)});
    EXPECT_FALSE(store->selectedTakeAssignment());
    ASSERT_TRUE(store->prepareDirectorTake("T1", std::string("A")));
    const auto assignment = store->selectedTakeAssignment();
    ASSERT_TRUE(assignment);
    EXPECT_EQ(assignment->takeID, "T1");
    EXPECT_EQ(assignment->projectID, "p1");
    EXPECT_EQ(assignment->projectName, "Concert");
    EXPECT_EQ(assignment->projectRevision, 1);
    EXPECT_EQ(assignment->createdAt, "2025-03-01T09:30:00Z");
    EXPECT_EQ(assignment->referenceCameraID, "A");
    EXPECT_EQ(assignment->timelineFPS, "30/1");
}

} // namespace
} // namespace velk
