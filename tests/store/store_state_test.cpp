// The store's state, storage, collector identity, selection, readiness, transfer clients and log.

#include <QSignalSpy>
#include <regex>
#include <set>
#include <unistd.h>

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "store/store_text.hpp"
#include "store_phone_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;
namespace fs = std::filesystem;

std::vector<std::string> setAside(const StoreRoots& roots) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(roots.support()))
        if (entry.path().filename().string().starts_with("library.json.unreadable-"))
            names.push_back(entry.path().filename().string());
    return names;
}

TEST(StoreFirstRun, CreatesOnlyTheIdentityWhichLaterStartsKeep) {
    StoreRoots roots;
    auto store = roots.open();
    const std::string identity = readFile(roots.support() / "collector-id.txt");
    EXPECT_TRUE(uuid::isValid(identity));
    EXPECT_EQ(identity, text::lowercased(identity));
    EXPECT_EQ(store->collectorIdentity(), identity);
    EXPECT_EQ(roots.open()->collectorIdentity(), identity);
    EXPECT_FALSE(fs::exists(roots.support() / "library.json") || fs::exists(roots.recordings()));
    EXPECT_TRUE(store->library().projects.empty() && store->activities().empty());
    EXPECT_FALSE(store->selectedProjectID() || store->selectedTakeID() || store->errorMessage());
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
        EXPECT_TRUE(fs::exists(roots.support() / "Velk" / "collector-id.txt"));
    }
    saved ? ::setenv("XDG_DATA_HOME", saved->c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
}

TEST(CollectorIdentity, WrittenFormsAreReadInLowerCaseOrReplaced) {
    struct Case {
        const char* written;
        const char* expected; // null: replaced by a new identity
    };
    for (const Case& c : {Case{"  0F8E2A4C-1B3D-4E5F-8A9B-0C1D2E3F4A5B\n", "0f8e2a4c-1b3d-4e5f-8a9b-0c1d2e3f4a5b"},
                          Case{"camera-desk", nullptr}}) {
        SCOPED_TRACE(c.written);
        StoreRoots roots;
        writeFile(roots.support() / "collector-id.txt", c.written);
        const std::string identity = roots.open()->collectorIdentity();
        EXPECT_EQ(identity, c.expected ? c.expected : readFile(roots.support() / "collector-id.txt"));
        EXPECT_EQ(readFile(roots.support() / "collector-id.txt"), c.expected ? c.written : identity);
        EXPECT_TRUE(uuid::isValid(identity));
    }
}

TEST(CollectorIdentity, UnwritableFolderGivesATemporaryIdentityAndAnEntry) {
    StoreRoots roots;
    writeFile(roots.folder.path() / "blocked", "a file where the folder should be");
    AppStore store(roots.folder.path() / "blocked" / "support", roots.recordings());
    EXPECT_TRUE(uuid::isValid(store.collectorIdentity()));
    ASSERT_EQ(store.activities().size(), 1u);
    EXPECT_EQ(store.activities()[0].message,
              "Could not persist this computer's collector identity; a temporary identity will be used.");
    EXPECT_TRUE(store.activities()[0].isError);
    EXPECT_FALSE(store.errorMessage());
}

// Saves interrupted by a crash leave temporary files beside the library and the identity; the
// next start removes them before it writes, and nothing else.
TEST(StoreStart, RemovesWhatInterruptedSavesLeftBehind) {
    StoreRoots roots;
    storeWith(roots, {project("p1", "Show", 1)}).reset();
    const std::string hex = "5e1f0c9a7b3d2e48";
    const std::vector<std::string> stale = {".library.json.tmp-" + hex, ".library.json.tmp-00000000000000ff",
                                            ".collector-id.txt.tmp-" + hex};
    const std::vector<std::string> kept = {".trusted-cameras-v1.json.tmp-" + hex, "library.json.tmp-" + hex,
                                           ".library.json.tmp-" + hex.substr(1), ".library.json.tmp-aaaaaaaaaaaaaaaa",
                                           ".library.json.tmp-bbbbbbbbbbbbbbbb"};
    for (const std::string& name : stale) writeFile(roots.support() / name, "{\"projects\":[");
    for (const std::string& name : {kept[0], kept[1], kept[2]}) writeFile(roots.support() / name, "kept");
    fs::create_directory(roots.support() / kept[3]);
    fs::create_symlink(roots.support() / "library.json", roots.support() / kept[4]);

    auto store = roots.open();
    EXPECT_EQ(store->library().projects.size(), 1u);
    EXPECT_FALSE(store->errorMessage());
    for (const std::string& name : stale) EXPECT_FALSE(fs::exists(roots.support() / name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(fs::symlink_status(roots.support() / name))) << name;
    EXPECT_TRUE(fs::is_symlink(roots.support() / kept[4]));
    EXPECT_EQ(readFile(roots.support() / kept[0]), "kept");
}

TEST(StoreLibraryFile, SavedLibraryIsPrettySortedAndLoadsBackSelectingTheFirstProject) {
    StoreRoots roots;
    VELKLibrary library;
    library.projects = {project("p1", "Concert", 2, {take("T1", {clip("c1", "A")})}), project("p2", "Opera", 1)};
    ASSERT_TRUE(storeWith(roots, library)->save());
    const std::string text = readFile(roots.support() / "library.json");
    EXPECT_NE(text.find('\n'), std::string::npos);
    EXPECT_LT(text.find("\"id\""), text.find("\"name\""));
    auto reopened = roots.open();
    EXPECT_EQ(reopened->library().projects, library.projects);
    EXPECT_EQ(reopened->selectedProjectID(), "p1");
    EXPECT_EQ(reopened->selectedTakeID(), "T1");
    std::swap(library.projects[0], library.projects[1]);
    EXPECT_FALSE(storeWith(roots, library)->selectedTakeID()) << "first project without takes";
}

TEST(StoreUnreadableLibrary, IsReportedThenSetAsideByTheFirstSave) {
    StoreRoots roots;
    writeFile(roots.support() / "library.json", "{ not json");
    auto store = roots.open();
    EXPECT_TRUE(store->library().projects.empty());
    ASSERT_TRUE(startsWith(store->errorMessage(), "Could not load the Kestova library: "));
    EXPECT_GT(store->errorMessage()->size(), std::string("Could not load the Kestova library: ").size());
    expectError(*store, *store->errorMessage());
    EXPECT_EQ(store->activities().size(), 1u);
    EXPECT_EQ(readFile(roots.support() / "library.json"), "{ not json");

    store->createProject("Concert");
    const auto kept = setAside(roots);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(std::regex_match(kept[0], std::regex(R"(library\.json\.unreadable-\d{8}-\d{6})")));
    EXPECT_EQ(readFile(roots.support() / kept[0]), "{ not json");
    EXPECT_EQ(roots.open()->library().projects.size(), 1u);
    const auto& log = store->activities();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const ActivityEntry& entry) {
        return entry.message == "Kept the unreadable Kestova library as " + kept[0] + "." && !entry.isError;
    }));
}

TEST(StoreUnreadableLibrary, SetAsideFilesAreNeverReplaced) {
    StoreRoots roots;
    const ManualClock clock(std::chrono::system_clock::now());
    for (const char* broken : {"broken one", "broken two"}) {
        writeFile(roots.support() / "library.json", broken);
        roots.open(clock)->save();
    }
    std::set<std::string> contents;
    for (const auto& name : setAside(roots)) contents.insert(readFile(roots.support() / name));
    EXPECT_EQ(contents, (std::set<std::string>{"broken one", "broken two"}));

    // Every free name taken: the save fails and writes nothing.
    const std::time_t seconds = std::chrono::system_clock::to_time_t(clock.now());
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = std::string("library.json.unreadable-") + stamp;
    for (int n = 2; n <= 100; ++n) writeFile(roots.support() / (base + "-" + std::to_string(n)), "older");
    writeFile(roots.support() / "library.json", "broken");
    auto store = roots.open(clock);
    store->createProject("Concert");
    EXPECT_EQ(*store->errorMessage(),
              "Could not save the Kestova library: The unreadable library could not be set aside.");
    EXPECT_EQ(readFile(roots.support() / "library.json"), "broken");
    EXPECT_EQ(readFile(roots.support() / (base + "-100")), "older");
    EXPECT_EQ(store->library().projects.size(), 1u);
}

TEST(StoreSave, FailureIsReportedAndTheEditStays) {
    const std::vector<std::pair<std::string, std::function<void(const StoreRoots&)>>> cases = {
        {"folder in the file's place", [](const StoreRoots& r) { fs::create_directories(r.support() / "library.json" / "x"); }},
        {"read-only folder", [](const StoreRoots& r) { ::chmod(r.support().c_str(), 0555); }},
    };
    for (const auto& [name, block] : cases) {
        if (name == "read-only folder" && ::geteuid() == 0) continue; // permissions do not bind a privileged user
        SCOPED_TRACE(name);
        StoreRoots roots;
        auto store = roots.open();
        block(roots);
        store->createProject("Concert");
        ::chmod(roots.support().c_str(), 0755);
        EXPECT_FALSE(fs::is_regular_file(roots.support() / "library.json"));
        ASSERT_TRUE(startsWith(store->errorMessage(), "Could not save the Kestova library: "));
        ASSERT_EQ(store->library().projects.size(), 1u);
        EXPECT_EQ(store->library().projects[0].name, "Concert");
        ASSERT_EQ(store->activities().size(), 2u);
        EXPECT_EQ(store->activities()[0].message, "Created project Concert."); // logged after the failed save
        EXPECT_EQ(store->activities()[1].message, *store->errorMessage());
        EXPECT_TRUE(store->activities()[1].isError);
    }
}

TEST(StoreSelection, LooksUpCanonicallyEquivalentIDsAndNeverAcrossProjects) {
    StoreRoots roots;
    auto store = storeWith(roots, {project("caf\u00e9", "Alpha", 1, {take("T\u00e9")}), project("p2", "Beta", 1, {take("T2")})});
    store->setSelectedProjectID("cafe\u0301");
    store->setSelectedTakeID("Te\u0301");
    EXPECT_TRUE(store->selectedProject() && store->selectedTake());
    store->setSelectedTakeID("T2");
    EXPECT_EQ(store->selectedProject()->id, "caf\u00e9");
    EXPECT_FALSE(store->selectedTake()) << "take of another project";
    store->setSelectedProjectID("CAF\u00c9");
    EXPECT_FALSE(store->selectedProject());
    store->setSelectedProjectID("gone");
    EXPECT_FALSE(store->selectedProject() || store->selectedTake());
}

// --- Readiness of the download and trash commands, and refused runs ---

class Readiness : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }
    void open(std::vector<VELKClip> clips, bool trash = true) {
        store = storeWith(roots, {project("p1", "Show", 1, {take("t1", std::move(clips))})}, clock);
        store->setTransferClient(phoneID, offlineClient(phoneID, clock, trash));
    }
    static VELKClip copied(const std::string& id) {
        VELKClip made = clip(id, "cam-" + id);
        made.localPath = "/recordings/" + id + ".mov";
        made.deviceId = phoneID;
        return made;
    }
    struct Ready {
        bool take, project, trash;
        bool operator==(const Ready&) const = default;
    };
    Ready ready() const {
        return {store->canDownloadSelectedTake(), store->canDownloadSelectedProject(),
                store->canTrashSelectedProjectSources()};
    }
    ManualClock clock{WallTime{} + std::chrono::hours(24 * 365 * 50)};
    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

TEST_F(Readiness, FollowsTheSecondClipAndItsSession) {
    const std::string sidecar = "/velk/v1/files/c2.timing.json";
    const std::vector<std::tuple<const char*, std::function<void(VELKClip&)>, Ready>> cases = {
        {"copied", [](VELKClip&) {}, {false, false, true}},
        {"not copied", [](VELKClip& c) { c.localPath.reset(); }, {true, true, false}},
        {"sidecar not copied", [&](VELKClip& c) { c.timingSidecarURL = sidecar; }, {true, true, false}},
        {"sidecar copied", [&](VELKClip& c) { c.timingSidecarURL = sidecar; c.timingSidecarLocalPath = "/r/c2.json"; },
         {false, false, true}},
        {"copied, no device", [](VELKClip& c) { c.deviceId.reset(); }, {false, false, false}},
        {"copied, no session", [](VELKClip& c) { c.deviceId = "fedcba9876543210"; }, {false, false, false}},
        {"not copied, no device", [](VELKClip& c) { c.localPath.reset(); c.deviceId.reset(); }, {false, false, false}},
        {"not copied, no session", [](VELKClip& c) { c.localPath.reset(); c.deviceId = "fedcba9876543210"; },
         {false, false, false}},
    };
    for (const auto& [name, change, expected] : cases) {
        SCOPED_TRACE(name);
        VELKClip second = copied("c2");
        change(second);
        open({copied("c1"), second});
        EXPECT_EQ(ready(), expected);
    }
    open({copied("c1")}, false);
    EXPECT_EQ(ready(), (Ready{false, false, false})) << "source without project trash";
    open({});
    EXPECT_EQ(ready(), (Ready{false, false, false})) << "take without clips";
    VELKClip pending = copied("c1");
    pending.localPath.reset();
    open({pending});
    clock.advanceMs(900'000);
    EXPECT_EQ(ready(), (Ready{false, false, false})) << "expired session";
}

TEST_F(Readiness, RefusedRunsTouchNothing) {
    VELKClip pending = copied("c1");
    pending.localPath.reset();
    auto viewer = std::make_shared<FakeFileViewer>();
    const std::vector<std::tuple<const char*, std::vector<VELKClip>, std::function<void(std::function<void()>)>>> cases = {
        {"trash of an uncopied project", {pending}, [&](auto done) { store->trashSelectedProjectSources(done); }},
        {"project with nothing to download", {copied("c1")}, [&](auto done) { store->downloadSelectedProject(done); }},
        {"project of an expired session", {pending},
         [&](auto done) { clock.advanceMs(900'000); store->downloadSelectedProject(done); }},
        {"busy store", {pending}, [&](auto done) { store->setIsBusy(true); store->downloadSelectedTake(done); }},
        {"export without selection", {copied("c1")}, [&](auto done) {
             store->setFileViewer(viewer);
             store->setSelectedProjectID(std::nullopt);
             store->exportSelectedTake(roots.folder.path(), done);
         }},
    };
    for (const auto& [name, clips, run] : cases) {
        SCOPED_TRACE(name);
        open(clips);
        bool finished = false;
        run([&] { finished = true; });
        EXPECT_TRUE(finished);
        EXPECT_EQ(store->isBusy(), name == std::string("busy store"));
        EXPECT_TRUE(store->activities().empty());
        EXPECT_TRUE(store->transfers().empty());
        EXPECT_FALSE(store->errorMessage());
    }
    EXPECT_TRUE(viewer->revealed.empty());
}

TEST_F(Readiness, ClientsAreKeyedByTheCanonicalDeviceID) {
    open({});
    store->removeTransferClient(phoneID);
    const std::string lower = "7d3c1e2a-9b8f-4a6e-8c5d-1f2e3d4c5b6a";
    auto first = offlineClient(upper(lower), clock);
    auto second = offlineClient(lower, clock);
    store->setTransferClient(upper(lower), first);
    EXPECT_EQ(store->transferClients().begin()->first, lower);
    EXPECT_EQ(store->transferClient(lower), first);
    store->setTransferClient(lower, second);
    ASSERT_EQ(store->transferClients().size(), 1u);
    EXPECT_EQ(store->transferClient(upper(lower)), second);
    EXPECT_EQ(store->removeTransferClient(upper(lower)), second);
    EXPECT_TRUE(store->transferClients().empty());

    // Text without a canonical form is kept as written but matches nothing.
    store->setTransferClient("phone one", first);
    EXPECT_EQ(store->transferClients().count("phone one"), 1u);
    EXPECT_EQ(store->transferClient("phone one"), nullptr);
    EXPECT_NE(store->removeTransferClient("phone one"), nullptr);
    EXPECT_TRUE(store->transferClients().empty());
}

TEST(StoreActivityLog, KeepsTheNewestHundredAndAnnouncesEveryWrite) {
    StoreRoots roots;
    auto store = roots.open();
    for (int i = 1; i <= 101; ++i) store->log("message " + std::to_string(i), i % 2 == 0);
    ASSERT_EQ(store->activities().size(), 100u);
    EXPECT_EQ(store->activities().front().message, "message 101");
    EXPECT_FALSE(store->activities().front().isError);
    EXPECT_EQ(store->activities().back().message, "message 2");
    EXPECT_FALSE(store->errorMessage());

    QSignalSpy library(store.get(), &AppStore::libraryChanged);
    QSignalSpy activities(store.get(), &AppStore::activitiesChanged);
    QSignalSpy error(store.get(), &AppStore::errorMessageChanged);
    QSignalSpy busy(store.get(), &AppStore::isBusyChanged);
    store->createProject("Concert");
    store->setIsBusy(true);
    store->setErrorMessage(std::nullopt);
    EXPECT_EQ((std::vector<qsizetype>{library.count(), activities.count(), busy.count(), error.count()}),
              (std::vector<qsizetype>{1, 1, 1, 1}));
    EXPECT_TRUE(store->property("isBusy").toBool());
}

TEST(StoreText, SafeIdentifiersRevisionsEquivalenceAndSorting) {
    // The store names folders by the collection's rule (tested there), including a prepended letter
    // that carries a "/".
    const std::vector<std::pair<std::string, std::string>> safe = {{"Camera A/1", "camera-a-1"}, {"\xE0\xB5\x8E/x", "x"}};
    for (const auto& [input, expected] : safe) EXPECT_EQ(AppStore::safeIdentifier(input), expected) << input;

    EXPECT_EQ(StoreText::nextRevision(std::nullopt), 1);
    EXPECT_EQ(StoreText::nextRevision(4), 5);
    EXPECT_EQ(StoreText::nextRevision(std::numeric_limits<std::int64_t>::max()), std::nullopt);

    // The Kelvin sign is canonically the letter K, so plain text is not a shortcut for inequality.
    EXPECT_TRUE(StoreText::same("K1", "\u212A1"));
    EXPECT_TRUE(StoreText::SameText("K1")("\u212A1"));
    EXPECT_EQ(StoreText::canonicalKey("\u212A1"), "K1");
    EXPECT_FALSE(StoreText::same("k1", "K1"));
    EXPECT_TRUE(StoreText::sameIgnoringCase(std::string(64, 'A'), std::string(64, 'a')));
    EXPECT_FALSE(StoreText::sameIgnoringCase("abc", "abd"));

    std::vector<std::string> names{"beta", "Alpha", "alpha", "Beta", "gamma"};
    StoreText::stableSortBy(names, [](const std::string& name) -> const std::string& { return name; });
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "alpha", "beta", "Beta", "gamma"}));
}

} // namespace
} // namespace velk

namespace velk {
namespace {

using namespace velk::testing;

// States are written in order, a burst costs few writes and the last state always lands, also when
// the writer goes at once; a failure nobody waits for is reported, one somebody waits for is theirs.
TEST(LibraryWriter, LastStateWinsAndFailuresReachTheirListener) {
    StoreRoots roots;
    std::filesystem::create_directories(roots.support());
    const auto file = roots.support() / "library.json";
    std::vector<std::string> reported;
    std::mutex mutex;
    {
        LibraryWriter writer(file, [&](const std::string& error) {
            std::lock_guard lock(mutex);
            reported.push_back(error);
        });
        for (int revision = 1; revision <= 50; ++revision) {
            VELKLibrary library;
            library.projects.push_back(project("p1", "Concert", revision));
            writer.write(std::make_shared<const VELKLibrary>(std::move(library)));
        }
    }
    EXPECT_EQ(decodeLibrary(readFile(file)).projects.at(0).revision, 50);

    std::filesystem::remove(file);
    std::filesystem::create_directories(file / "inside");
    LibraryWriter writer(file, [&](const std::string& error) {
        std::lock_guard lock(mutex);
        reported.push_back(error);
    });
    EXPECT_TRUE(writer.waitFor(writer.write(std::make_shared<const VELKLibrary>(), true)).has_value());
    EXPECT_TRUE(reported.empty());
    writer.write(std::make_shared<const VELKLibrary>());
    writer.flush();
    std::lock_guard lock(mutex);
    EXPECT_EQ(reported.size(), 1u);
}

} // namespace
} // namespace velk
