// The store's state, storage, collector identity, selection, readiness, transfer clients and log.

#include <QSignalSpy>
#include <regex>
#include <set>
#include <unistd.h>

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "store/app_store.hpp"
#include "store/store_text.hpp"
#include "store_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

// --- First run and the collector identity ---

TEST(StoreFirstRun, CreatesOnlyTheIdentityAndStartsEmpty) {
    StoreRoots roots;
    auto store = roots.open();
    const std::string identity = readFile(roots.support() / "collector-id.txt");
    EXPECT_TRUE(uuid::isValid(identity));
    EXPECT_EQ(identity, store->collectorIdentity());
    EXPECT_EQ(identity, text::lowercased(identity));
    EXPECT_FALSE(std::filesystem::exists(roots.support() / "library.json"));
    EXPECT_TRUE(store->library().projects.empty());
    EXPECT_FALSE(store->selectedProjectID());
    EXPECT_FALSE(store->selectedTakeID());
    EXPECT_FALSE(store->errorMessage());
    EXPECT_TRUE(store->activities().empty());
    EXPECT_FALSE(std::filesystem::exists(roots.recordings()));
}

TEST(StoreFirstRun, DefaultRootsFollowTheUserFolders) {
    StoreRoots roots;
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("XDG_DATA_HOME", roots.support().c_str(), 1);
    {
        AppStore store;
        EXPECT_EQ(store.supportDirectory(), roots.support() / "Velk");
        EXPECT_EQ(store.recordingsDirectory().filename(), "Velk");
        EXPECT_TRUE(std::filesystem::exists(roots.support() / "Velk" / "collector-id.txt"));
    }
    if (saved) {
        ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

TEST(StoreFirstRun, SecondStartKeepsTheIdentity) {
    StoreRoots roots;
    const std::string first = roots.open()->collectorIdentity();
    EXPECT_EQ(roots.open()->collectorIdentity(), first);
}

TEST(CollectorIdentity, UpperCaseWithLineBreakIsReadInLowerCaseAndLeftAlone) {
    StoreRoots roots;
    const std::string written = "  0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B\n";
    writeFile(roots.support() / "collector-id.txt", written);
    auto store = roots.open();
    EXPECT_EQ(store->collectorIdentity(), "0f8e2a4c-1b3d-4e5f-8a9b-0c1d2e3f4a5b");
    EXPECT_EQ(readFile(roots.support() / "collector-id.txt"), written);
}

TEST(CollectorIdentity, AWordIsReplacedByANewIdentity) {
    StoreRoots roots;
    writeFile(roots.support() / "collector-id.txt", "camera-desk");
    auto store = roots.open();
    EXPECT_TRUE(uuid::isValid(store->collectorIdentity()));
    EXPECT_EQ(readFile(roots.support() / "collector-id.txt"), store->collectorIdentity());
}

TEST(CollectorIdentity, UnwritableFolderGivesATemporaryIdentityAndAnEntry) {
    StoreRoots roots;
    writeFile(roots.folder.path() / "blocked", "a file where the folder should be");
    AppStore store(roots.folder.path() / "blocked" / "support", roots.recordings());
    EXPECT_TRUE(uuid::isValid(store.collectorIdentity()));
    ASSERT_EQ(store.activities().size(), 1u);
    EXPECT_EQ(store.activities()[0].message,
              "Could not persist this Mac's collector identity; a temporary identity will be used.");
    EXPECT_TRUE(store.activities()[0].isError);
    EXPECT_FALSE(store.errorMessage());
}

// --- Loading and saving ---

TEST(StoreLibraryFile, SavedLibraryIsPrettySortedAndLoadsBack) {
    StoreRoots roots;
    VELKLibrary library;
    library.projects.push_back(project("p1", "Concert", 2, {take("T1", {clip("c1", "A")})}));
    auto store = storeWith(roots, library);
    ASSERT_TRUE(store->save());
    const std::string text = readFile(roots.support() / "library.json");
    EXPECT_NE(text.find('\n'), std::string::npos);
    EXPECT_LT(text.find("\"id\""), text.find("\"name\""));
    auto reopened = roots.open();
    EXPECT_EQ(reopened->library().projects, library.projects);
    EXPECT_EQ(reopened->selectedProjectID(), "p1");
    EXPECT_EQ(reopened->selectedTakeID(), "T1");
}

TEST(StoreLibraryFile, FirstProjectWithoutTakesSelectsNoTake) {
    StoreRoots roots;
    VELKLibrary library;
    library.projects.push_back(project("p1", "Alpha", 1));
    library.projects.push_back(project("p2", "Beta", 1, {take("T1")}));
    auto store = storeWith(roots, library);
    EXPECT_EQ(store->selectedProjectID(), "p1");
    EXPECT_FALSE(store->selectedTakeID());
}

TEST(StoreUnreadableLibrary, InvalidJSONIsReportedAndTheLibraryIsEmpty) {
    StoreRoots roots;
    writeFile(roots.support() / "library.json", "{ not json");
    auto store = roots.open();
    EXPECT_TRUE(store->library().projects.empty());
    ASSERT_TRUE(store->errorMessage());
    EXPECT_EQ(store->errorMessage()->rfind("Could not load the Kestova library: ", 0), 0u);
    EXPECT_GT(store->errorMessage()->size(), std::string("Could not load the Kestova library: ").size());
    ASSERT_EQ(store->activities().size(), 1u);
    EXPECT_EQ(store->activities()[0].message, *store->errorMessage());
    EXPECT_TRUE(store->activities()[0].isError);
    EXPECT_EQ(readFile(roots.support() / "library.json"), "{ not json");
}

TEST(StoreUnreadableLibrary, FirstSaveSetsTheFileAsideThenWrites) {
    StoreRoots roots;
    writeFile(roots.support() / "library.json", "{\"projects\": 3}");
    auto store = roots.open();
    store->createProject("Concert");

    std::vector<std::string> kept;
    for (const auto& entry : std::filesystem::directory_iterator(roots.support())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("library.json.unreadable-", 0) == 0) kept.push_back(name);
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(std::regex_match(kept[0], std::regex(R"(library\.json\.unreadable-\d{8}-\d{6})")));
    EXPECT_EQ(readFile(roots.support() / kept[0]), "{\"projects\": 3}");
    EXPECT_EQ(roots.open()->library().projects.size(), 1u);
    const auto& log = store->activities();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const ActivityEntry& entry) {
        return entry.message == "Kept the unreadable Kestova library as " + kept[0] + "." && !entry.isError;
    }));
}

TEST(StoreUnreadableLibrary, AnEarlierSetAsideFileIsNeverReplaced) {
    StoreRoots roots;
    const ManualClock clock(std::chrono::system_clock::now());
    writeFile(roots.support() / "library.json", "broken one");
    roots.open(clock)->save();
    writeFile(roots.support() / "library.json", "broken two");
    roots.open(clock)->save();
    std::set<std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(roots.support())) {
        if (entry.path().filename().string().rfind("library.json.unreadable-", 0) == 0) {
            contents.insert(readFile(entry.path()));
        }
    }
    EXPECT_EQ(contents, (std::set<std::string>{"broken one", "broken two"}));
}

TEST(StoreUnreadableLibrary, SaveFailsWhenEveryFreeNameIsTaken) {
    StoreRoots roots;
    const ManualClock clock(std::chrono::system_clock::now());
    const std::time_t seconds = std::chrono::system_clock::to_time_t(clock.now());
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = std::string("library.json.unreadable-") + stamp;
    writeFile(roots.support() / base, "older");
    for (int n = 2; n <= 100; ++n) writeFile(roots.support() / (base + "-" + std::to_string(n)), "older");
    writeFile(roots.support() / "library.json", "broken");
    auto store = roots.open(clock);
    store->createProject("Concert");
    EXPECT_EQ(*store->errorMessage(),
              "Could not save the Kestova library: The unreadable library could not be set aside.");
    EXPECT_EQ(readFile(roots.support() / "library.json"), "broken");
    EXPECT_EQ(readFile(roots.support() / base), "older");
    EXPECT_EQ(store->library().projects.size(), 1u);
}

TEST(StoreUnreadableLibrary, SaveFailsAndWritesNothingWhenTheFileCannotBeSetAside) {
    if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind a privileged user";
    StoreRoots roots;
    writeFile(roots.support() / "library.json", "broken");
    auto store = roots.open();
    ::chmod(roots.support().c_str(), 0555);
    EXPECT_FALSE(store->save());
    ::chmod(roots.support().c_str(), 0755);
    EXPECT_EQ(store->errorMessage()->rfind("Could not save the Kestova library: ", 0), 0u);
    EXPECT_EQ(readFile(roots.support() / "library.json"), "broken");
}

TEST(StoreSave, FailureIsReportedAndTheEditStays) {
    StoreRoots roots;
    auto store = roots.open();
    // The library file's place is taken by a folder, so it cannot be replaced.
    std::filesystem::create_directories(roots.support() / "library.json" / "inside");
    store->createProject("Concert");
    ASSERT_TRUE(store->errorMessage());
    EXPECT_EQ(store->errorMessage()->rfind("Could not save the Kestova library: ", 0), 0u);
    ASSERT_EQ(store->library().projects.size(), 1u);
    EXPECT_EQ(store->library().projects[0].name, "Concert");
    ASSERT_EQ(store->activities().size(), 2u);
    EXPECT_EQ(store->activities()[0].message, "Created project Concert.");
    EXPECT_EQ(store->activities()[1].message, *store->errorMessage());
    EXPECT_TRUE(store->activities()[1].isError);
}

TEST(StoreSave, ReadOnlySupportFolderFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind a privileged user";
    StoreRoots roots;
    auto store = roots.open();
    ::chmod(roots.support().c_str(), 0555);
    store->createProject("Concert");
    ::chmod(roots.support().c_str(), 0755);
    EXPECT_FALSE(std::filesystem::exists(roots.support() / "library.json"));
    EXPECT_EQ(store->errorMessage()->rfind("Could not save the Kestova library: ", 0), 0u);
    EXPECT_EQ(store->library().projects.size(), 1u);
}

// --- Selection ---

TEST(StoreSelection, RemovedProjectSelectsNothing) {
    StoreRoots roots;
    VELKLibrary library;
    library.projects.push_back(project("p1", "Alpha", 1, {take("T1")}));
    library.projects.push_back(project("p2", "Beta", 1, {take("T1")}));
    auto store = storeWith(roots, library);
    store->setSelectedProjectID("gone");
    EXPECT_FALSE(store->selectedProject());
    EXPECT_FALSE(store->selectedTake());
}

TEST(StoreSelection, TakeOfAnotherProjectIsNeverReturned) {
    StoreRoots roots;
    VELKLibrary library;
    library.projects.push_back(project("p1", "Alpha", 1, {take("T1")}));
    library.projects.push_back(project("p2", "Beta", 1, {take("T2")}));
    auto store = storeWith(roots, library);
    store->setSelectedTakeID("T2");
    EXPECT_EQ(store->selectedProject()->id, "p1");
    EXPECT_FALSE(store->selectedTake());
}

TEST(StoreSelection, CanonicallyEquivalentIdentifiersMatch) {
    StoreRoots roots;
    VELKLibrary library;
    library.projects.push_back(project("caf\u00e9", "Alpha", 1, {take("T\u00e9")}));
    auto store = storeWith(roots, library);
    store->setSelectedProjectID("cafe\u0301");
    store->setSelectedTakeID("Te\u0301");
    ASSERT_TRUE(store->selectedProject());
    ASSERT_TRUE(store->selectedTake());
    store->setSelectedProjectID("CAF\u00c9");
    EXPECT_FALSE(store->selectedProject());
}

// --- Download readiness and transfer clients ---

class DownloadReadiness : public ::testing::Test {
protected:
    void open(std::vector<VELKClip> clips) {
        VELKLibrary library;
        library.projects.push_back(project("p1", "Alpha", 1, {take("T1", std::move(clips))}));
        store = storeWith(roots, library, clock);
    }
    static VELKClip downloaded(const std::string& id, const std::string& camera) {
        VELKClip made = clip(id, camera);
        made.localPath = "/media/" + id + ".mov";
        made.deviceId = phoneID;
        return made;
    }
    StoreRoots roots;
    ManualClock clock{std::chrono::system_clock::now()};
    std::unique_ptr<AppStore> store;
};

TEST_F(DownloadReadiness, NothingPendingIsFalse) {
    open({downloaded("c1", "A"), downloaded("c2", "B"), downloaded("c3", "C")});
    store->setTransferClient(phoneID, offlineClient(phoneID, clock));
    EXPECT_FALSE(store->canDownloadSelectedTake());
}

TEST_F(DownloadReadiness, PendingClipWithALiveClientIsTrue) {
    VELKClip pending = downloaded("c2", "B");
    pending.localPath.reset();
    open({downloaded("c1", "A"), pending, downloaded("c3", "C")});
    EXPECT_FALSE(store->canDownloadSelectedTake());
    store->setTransferClient(phoneID, offlineClient(phoneID, clock));
    EXPECT_TRUE(store->canDownloadSelectedTake());
    clock.advanceMs(900'000);
    EXPECT_FALSE(store->canDownloadSelectedTake());
}

TEST_F(DownloadReadiness, PendingClipWithoutADeviceIsFalse) {
    VELKClip pending = downloaded("c2", "B");
    pending.localPath.reset();
    pending.deviceId.reset();
    open({downloaded("c1", "A"), pending});
    store->setTransferClient(phoneID, offlineClient(phoneID, clock));
    EXPECT_FALSE(store->canDownloadSelectedTake());
}

TEST_F(DownloadReadiness, MissingTimingSidecarCopyIsPending) {
    VELKClip pending = downloaded("c1", "A");
    pending.timingSidecarURL = "/velk/v1/files/c1.timing.json";
    open({pending});
    store->setTransferClient(phoneID, offlineClient(phoneID, clock));
    EXPECT_TRUE(store->canDownloadSelectedTake());
}

TEST_F(DownloadReadiness, ClientsAreKeyedByTheCanonicalDeviceID) {
    open({});
    const std::string upper = "7D3C1E2A-9B8F-4A6E-8C5D-1F2E3D4C5B6A";
    const std::string lower = "7d3c1e2a-9b8f-4a6e-8c5d-1f2e3d4c5b6a";
    auto first = offlineClient(upper, clock);
    auto second = offlineClient(lower, clock);
    store->setTransferClient(upper, first);
    EXPECT_EQ(store->transferClients().begin()->first, lower);
    EXPECT_EQ(store->transferClient(lower), first);
    store->setTransferClient(lower, second);
    ASSERT_EQ(store->transferClients().size(), 1u);
    EXPECT_EQ(store->transferClients().begin()->first, lower);
    EXPECT_EQ(store->transferClient(upper), second);
    EXPECT_EQ(store->removeTransferClient(upper), second);
    EXPECT_TRUE(store->transferClients().empty());
}

TEST_F(DownloadReadiness, IdentifierWithoutCanonicalFormFindsNoClient) {
    open({});
    store->setTransferClient("phone one", offlineClient(phoneID, clock));
    EXPECT_EQ(store->transferClients().count("phone one"), 1u);
    EXPECT_EQ(store->transferClient("phone one"), nullptr);
    EXPECT_NE(store->removeTransferClient("phone one"), nullptr);
    EXPECT_TRUE(store->transferClients().empty());
}

// --- Activity log and published properties ---

TEST(StoreActivityLog, KeepsTheNewestHundred) {
    StoreRoots roots;
    auto store = roots.open();
    for (int i = 1; i <= 101; ++i) store->log("message " + std::to_string(i), i % 2 == 0);
    ASSERT_EQ(store->activities().size(), 100u);
    EXPECT_EQ(store->activities().front().message, "message 101");
    EXPECT_FALSE(store->activities().front().isError);
    EXPECT_EQ(store->activities().back().message, "message 2");
    EXPECT_FALSE(store->errorMessage());
}

TEST(StoreProperties, EveryWriteIsAnnounced) {
    StoreRoots roots;
    auto store = roots.open();
    QSignalSpy library(store.get(), &AppStore::libraryChanged);
    QSignalSpy activities(store.get(), &AppStore::activitiesChanged);
    QSignalSpy error(store.get(), &AppStore::errorMessageChanged);
    QSignalSpy busy(store.get(), &AppStore::isBusyChanged);
    store->createProject("Concert");
    store->setIsBusy(true);
    store->setErrorMessage(std::nullopt);
    EXPECT_EQ(library.count(), 1);
    EXPECT_EQ(activities.count(), 1);
    EXPECT_EQ(busy.count(), 1);
    EXPECT_EQ(error.count(), 1);
    EXPECT_TRUE(store->property("isBusy").toBool());
}

// --- Path-safe identifiers ---

struct SafeCase {
    const char* input;
    const char* expected;
};

class SafeIdentifier : public ::testing::TestWithParam<SafeCase> {};

TEST_P(SafeIdentifier, MapsEveryCharacter) {
    EXPECT_EQ(AppStore::safeIdentifier(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SafeIdentifier,
                         ::testing::Values(SafeCase{"Camera A/1", "camera-a-1"}, SafeCase{"--Take_07--", "take_07"},
                                           SafeCase{"\u00dcn\u00efcode N\u00e9v", "\u00fcn\u00efcode-n\u00e9v"},
                                           SafeCase{"a..b", "a--b"}, SafeCase{"...", ""}, SafeCase{"", ""},
                                           SafeCase{"Cam \U0001F3A5 2", "cam---2"}, SafeCase{"__x__", "__x__"},
                                           SafeCase{"\u0663\u00bd", "\u0663\u00bd"},
                                           SafeCase{"0123456789ABCDEF", "0123456789abcdef"}));

TEST(StoreText, RevisionsNeverOverflow) {
    EXPECT_EQ(StoreText::nextRevision(std::nullopt), 1);
    EXPECT_EQ(StoreText::nextRevision(4), 5);
    EXPECT_EQ(StoreText::nextRevision(std::numeric_limits<std::int64_t>::max()), std::nullopt);
}

TEST(StoreText, CanonicalEquivalenceReachesPlainText) {
    // The Kelvin sign is canonically the letter K, so plain text is not a shortcut for inequality.
    EXPECT_TRUE(StoreText::same("K1", "\u212A1"));
    EXPECT_TRUE(StoreText::SameText("K1")("\u212A1"));
    EXPECT_EQ(StoreText::canonicalKey("\u212A1"), "K1");
    EXPECT_FALSE(StoreText::same("k1", "K1"));
    EXPECT_TRUE(StoreText::sameIgnoringCase(std::string(64, 'A'), std::string(64, 'a')));
    EXPECT_FALSE(StoreText::sameIgnoringCase("abc", "abd"));
}

TEST(StoreText, SortIsStableAndIgnoresCase) {
    std::vector<std::string> names{"beta", "Alpha", "alpha", "Beta", "gamma"};
    StoreText::stableSortBy(names, [](const std::string& name) -> const std::string& { return name; });
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "alpha", "beta", "Beta", "gamma"}));
}

} // namespace
} // namespace velk
