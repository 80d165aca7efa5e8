// "Download Take": the store's own road, clip by clip, against a simulated phone over HTTPS and,
// where no network is needed, against a library and files made on disk.

#include <algorithm>

#include "base/sha256.hpp"
#include "base/worker_pool.hpp"
#include "fake_https_session.hpp"
#include "store_phone_fixture.hpp"
#include "support/milestones.hpp"
#include "support/small_disk.hpp"

namespace velk {
namespace {

using namespace velk::testing;
namespace fs = std::filesystem;

class TakeDownload : public StoreEndToEnd {
protected:
    // Collects every message of a clip's row as it changes.
    void watchRows(const std::string& clipId) {
        QObject::connect(store.get(), &AppStore::transfersChanged, [this, clipId] {
            const TransferStatus* row = transferRow(clipId);
            if (row && !(lastRow && *lastRow == *row)) {
                lastRow = *row;
                rowMessages.push_back(row->message);
            }
        });
    }
    fs::path clipFolder(const std::string& clipId, const std::string& camera) const {
        return roots.recordings() / wedding / "take-1" / camera / clipId;
    }
    std::vector<std::string> rowMessages;
    std::optional<TransferStatus> lastRow;
};

TEST_F(TakeDownload, RangesOfEightMiBThenSidecarIntoTheRecordingsFolder) {
    StorePhone phone("Stage Left");
    const PhoneClip big = phone.addClip(uuidLike(1, 1), "cam-a", chunk + 1, true);
    const PhoneClip exact = phone.addClip(uuidLike(1, 2), "cam-b", chunk, false, 2);
    phone.publish(wedding);
    ASSERT_TRUE(pair(phone));
    selectFirst();
    EXPECT_TRUE(store->canDownloadSelectedTake());
    watchRows(big.clipId);
    phone.phone.clear();

    await([&](auto done) { store->downloadSelectedTake(done); });

    EXPECT_FALSE(store->isBusy());
    EXPECT_FALSE(store->errorMessage());
    EXPECT_EQ(phone.rangeStarts(), (std::vector<std::int64_t>{0, chunk, 0}));
    EXPECT_EQ(rowMessages, (std::vector<std::string>{"Resuming", "Downloading", "Downloading", "Checking SHA-256", "Verified"}));
    const fs::path copy = clipFolder(big.clipId, "cam-a") / "cam-a.mov";
    EXPECT_EQ(findClip(big.clipId)->localPath, copy.string());
    EXPECT_EQ(findClip(big.clipId)->timingSidecarLocalPath, copy.string() + ".timing.json");
    EXPECT_EQ(readFile(copy.string() + ".timing.json"), "{\"clip\":\"" + big.clipId + "\"}");
    EXPECT_FALSE(fs::exists(copy.string() + ".part"));
    EXPECT_EQ(hexLower(Sha256::of(readFile(copy))), big.sha256);
    EXPECT_EQ(findClip(exact.clipId)->localPath, (clipFolder(exact.clipId, "cam-b") / "cam-b.mov").string());
    EXPECT_EQ(store->transfers().back().id, exact.clipId);
    EXPECT_EQ(store->transfers().back().phase, TransferPhase::ready);
    EXPECT_EQ(activityTexts()[0], "Downloaded and verified cam-b.mov.");
    EXPECT_EQ(activityTexts()[1], "Downloaded and verified cam-a.mov.");
    const VELKLibrary saved = decodeLibrary(readFile(roots.support() / "library.json"));
    EXPECT_EQ(saved.projects, store->library().projects);
    EXPECT_FALSE(store->canDownloadSelectedTake());
}

// The store goes while its worker waits inside a request: the request is abandoned at once, the
// worker ends, and nothing it would have handed back reaches the gone store.
TEST_F(TakeDownload, StoreDestroyedMidDownloadOrMidPairingStopsItsWork) {
    StorePhone phone("Stage Left");
    phone.addClip(uuidLike(1, 1), "cam-a", 3 * chunk);
    phone.publish(wedding);
    ASSERT_TRUE(pair(phone));
    for (const char* stage : {"download", "pairing"}) {
        SCOPED_TRACE(stage);
        bool finished = false;
        phone.phone.clear();
        if (stage == std::string("download")) {
            phone.phone.fault("files", "slowBody", 60);
            selectFirst();
            store->downloadSelectedTake([&] { finished = true; });
        } else {
            phone.phone.fault("pair", "slowBody", 60);
            store->pairAndConnect(phone.device(), "123456", true, false, [&](bool) { finished = true; });
        }
        ASSERT_TRUE(runUntil([&] { return !phone.phone.log().empty(); }));
        QElapsedTimer stopping;
        stopping.start();
        store.reset();
        EXPECT_TRUE(runUntil([] { return workers::busyCount() == 0; }, 5'000));
        EXPECT_LT(stopping.elapsed(), 2'500);
        runUntil([] { return false; }, 100);
        EXPECT_FALSE(finished);
        EXPECT_LE(phone.rangeStarts().size(), 1u);
        store = roots.open();
        hook(nullptr);
    }
}

// While one clip is finished (read once more, recorded, its sidecar copied) the next one is
// fetched: the first clip's sidecar request is held until the second clip has arrived whole. The
// library records the clips, and the log names them, in the take's order all the same.
TEST_F(TakeDownload, NextClipIsFetchedWhileThePreviousIsFinishedAndRecordsKeepTheirOrder) {
    StorePhone phone("Stage Left");
    const PhoneClip first = phone.addClip(uuidLike(1, 1), "cam-a", 2 * chunk + 5, true);
    const PhoneClip second = phone.addClip(uuidLike(1, 2), "cam-b", 1000, true, 2);
    const PhoneClip third = phone.addClip(uuidLike(1, 3), "cam-c", 1000, false, 3);
    phone.publish(wedding);
    Milestones moments;
    bool overlapped = false;
    hook([&](const HttpsRequest& request, HttpsResponse* response) {
        if (response && isRangeRequest(request) && request.url.ends_with(second.clipId)) moments.reach("second arrived");
        if (!response && request.url.ends_with(first.clipId + ".timing.json")) overlapped = moments.waitFor("second arrived");
    });
    ASSERT_TRUE(pair(phone));
    selectFirst();
    std::vector<std::string> recorded;
    QObject::connect(store.get(), &AppStore::libraryChanged, [&] {
        for (const PhoneClip& clip : {first, second, third}) {
            for (const auto& [name, done] : {std::pair{" copy", findClip(clip.clipId)->localPath.has_value()},
                                             std::pair{" sidecar", findClip(clip.clipId)->timingSidecarLocalPath.has_value()}}) {
                if (done && std::ranges::count(recorded, clip.cameraId + name) == 0) recorded.push_back(clip.cameraId + name);
            }
        }
    });

    await([&](auto done) { store->downloadSelectedTake(done); });

    EXPECT_TRUE(overlapped);
    EXPECT_EQ(recorded, (std::vector<std::string>{"cam-a copy", "cam-a sidecar", "cam-b copy", "cam-b sidecar", "cam-c copy"}));
    EXPECT_EQ(activityTexts(), (std::vector<std::string>{"Downloaded and verified cam-c.mov.", "Downloaded and verified cam-b.mov.",
                                                         "Downloaded and verified cam-a.mov.",
                                                         "Paired with Stage Left; merged 1 project(s)."}));
    EXPECT_EQ(store->transfers().back().id, third.clipId);
}

// The check of one clip fails (its complete partial holds other bytes) while the next clip of the
// same phone is fetched: the failure ends the phone's session, and the next clip is reported as it
// always was after such a failure, for want of a session, with no row of its own.
TEST_F(TakeDownload, FailedCheckBesideTheNextFetchIsReportedAsBefore) {
    StorePhone phone("Stage Left");
    const PhoneClip first = phone.addClip(uuidLike(1, 1), "cam-a", 1000);
    const PhoneClip second = phone.addClip(uuidLike(1, 2), "cam-b", 3 * chunk, false, 2);
    phone.publish(wedding);
    Milestones moments;
    hook([&](const HttpsRequest& request, HttpsResponse* response) {
        if (!response && request.url.ends_with(second.clipId)) moments.waitFor("first failed");
    });
    ASSERT_TRUE(pair(phone));
    selectFirst();
    writeFile(clipFolder(first.clipId, "cam-a") / "cam-a.mov.part", std::string(1000, 'z'));
    QObject::connect(store.get(), &AppStore::transfersChanged, [&] {
        if (transferRow(first.clipId) && transferRow(first.clipId)->phase == TransferPhase::failed) moments.reach("first failed");
    });

    await([&](auto done) { store->downloadSelectedTake(done); });

    EXPECT_EQ(activityTexts(), (std::vector<std::string>{"cam-b has no compatible range-download metadata.",
                                                         "Secure transfer authorization was cancelled after a transport failure.",
                                                         "Download failed for cam-a.mov: Downloaded SHA-256 does not match the phone catalog.",
                                                         "Paired with Stage Left; merged 1 project(s)."}));
    EXPECT_EQ(store->errorMessage(), activityTexts().front());
    ASSERT_EQ(store->transfers().size(), 1u);
    EXPECT_EQ(store->transfers()[0].message, "Downloaded SHA-256 does not match the phone catalog.");
    EXPECT_TRUE(store->transferSessions().empty());
}

// The store goes while one clip's sidecar and the next clip's first range are both under way: both
// requests stop at once, the workers end, and nothing reaches the gone store.
TEST_F(TakeDownload, StoreDestroyedWhileOneClipIsFinishedAndTheNextFetched) {
    StorePhone phone("Stage Left");
    const PhoneClip first = phone.addClip(uuidLike(1, 1), "cam-a", 1000, true);
    const PhoneClip second = phone.addClip(uuidLike(1, 2), "cam-b", 3 * chunk, false, 2);
    phone.publish(wedding);
    Milestones moments;
    hook([&](const HttpsRequest& request, HttpsResponse* response) {
        const bool sidecar = request.url.ends_with(first.clipId + ".timing.json");
        if (response || (!sidecar && !request.url.ends_with(second.clipId))) return;
        moments.reach(sidecar ? "sidecar" : "range");
        request.cancellation->waitFor(10'000'000'000); // held until the store cancels its work
    });
    ASSERT_TRUE(pair(phone));
    selectFirst();
    bool finished = false;
    store->downloadSelectedTake([&] { finished = true; });
    EXPECT_TRUE(runUntil([&] { return moments.reached("sidecar") && moments.reached("range"); }, 10'000));
    store.reset();
    EXPECT_TRUE(runUntil([] { return workers::busyCount() == 0; }, 5'000));
    runUntil([] { return false; }, 100);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(fs::exists(clipFolder(first.clipId, "cam-a") / "cam-a.mov"));
    store = roots.open();
}

// --- Without a network: a library on disk and a client that never connects. ---

class OfflineTakeDownload : public ::testing::Test {
protected:
    void SetUp() override { ensureApplication(); }

    VELKClip makeClip(const std::string& id, const std::string& camera, const std::string& contents) {
        VELKClip made = clip(id, camera, hexLower(Sha256::of(contents)));
        made.remoteURL = "/velk/v1/files/" + id;
        made.sizeBytes = static_cast<std::int64_t>(contents.size());
        made.deviceId = phoneID;
        return made;
    }
    void open(std::vector<VELKClip> clips) {
        store.reset(); // its last save lands before the next store reads the file
        store = storeWith(roots, {project("p1", "Show", 1, {take("t1", std::move(clips))})}, clock);
        store->setTransferClient(phoneID, offlineClient(phoneID, clock));
        store->setTransferSessions({store->transferClient(phoneID)->summary()});
    }
    void downloadTake() {
        bool finished = false;
        store->downloadSelectedTake([&] { finished = true; });
        ASSERT_TRUE(runUntil([&] { return finished; }));
        store->waitForSaves();
    }
    // Every clip here is "c1" of camera "cam-a", whose folder names are themselves.
    fs::path folderOf(const VELKClip&) const { return roots.recordings() / "p1" / "t1" / "cam-a" / "c1"; }
    // Connects the store to a phone that answers with `handler`.
    void connectPhone(std::function<HttpsResponse(const HttpsRequest&)> handler) {
        auto phone = std::make_shared<FakeHttpsState>();
        phone->handler = std::move(handler);
        TransferClientEnvironment environment;
        environment.clock = &clock;
        environment.makeSession = fakeSessionFactory(phone);
        const DiscoveredDevice device{.serviceName = "Phone", .catalogURL = baseURL, .serviceType = "_velk-transfer._tcp.",
                                      .deviceId = phoneID, .sessionId = "5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f",
                                      .certificateSHA256 = digestA, .foregroundOnly = true, .transferAccess = "open"};
        store->setTransferClient(phoneID, AuthenticatedTransferClient::connectOpen(device, environment));
        store->setTransferSessions({store->transferClient(phoneID)->summary()});
    }
    std::vector<std::string> namesIn(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ManualClock clock{WallTime{} + std::chrono::hours(24 * 365 * 50)};
    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

TEST_F(OfflineTakeDownload, ClipsWithoutUsableMetadataAreRefusedBeforeAnyFile) {
    const std::vector<std::pair<const char*, std::function<void(VELKClip&)>>> cases = {
        {"no size", [](VELKClip& c) { c.sizeBytes.reset(); }},
        {"size 0", [](VELKClip& c) { c.sizeBytes = 0; }},
        {"no remote URL", [](VELKClip& c) { c.remoteURL.reset(); }},
        {"no device", [](VELKClip& c) { c.deviceId.reset(); }},
        {"no client", [](VELKClip& c) { c.deviceId = "fedcba9876543210"; }},
        {"empty file name", [](VELKClip& c) { c.fileName = ""; }},
        {"dot", [](VELKClip& c) { c.fileName = "."; }},
        {"dot dot", [](VELKClip& c) { c.fileName = ".."; }},
        {"separator", [](VELKClip& c) { c.fileName = "../../escape.mov"; }},
        {"NUL", [](VELKClip& c) { c.fileName = std::string("a\0b.mov", 7); }},
        {"256 bytes", [](VELKClip& c) { c.fileName = std::string(252, 'a') + ".mov"; }},
        {"camera id without a safe form", [](VELKClip& c) { c.cameraId = "..."; }},
        {"clip id without a safe form", [](VELKClip& c) { c.id = "///"; }},
        {"URL off the session origin", [](VELKClip& c) { c.remoteURL = "https://elsewhere.local/velk/v1/files/c1"; }},
    };
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        VELKClip made = makeClip("c1", "cam-a", "0123456789");
        change(made);
        open({made});
        downloadTake();
        EXPECT_EQ(store->errorMessage(),
                  made.remoteURL && made.remoteURL->starts_with("https:")
                      ? "Rejected file URL for cam-a: Catalog file URL must remain on the authenticated HTTPS origin."
                      : made.cameraId + " has no compatible range-download metadata.");
        EXPECT_EQ(store->activities().size(), 1u);
        EXPECT_TRUE(store->transfers().empty());
        EXPECT_FALSE(fs::exists(roots.recordings()));
        EXPECT_EQ(store->transferSessions().size(), 1u);
    }
}

TEST_F(OfflineTakeDownload, FilesAlreadyOnDiskDecideWithoutTheNetwork) {
    const std::string contents = "verified recording bytes";
    const std::string digest = hexLower(Sha256::of(contents));
    std::string separated; // upper case, with ":" and "-" between groups of eight
    for (std::size_t i = 0; i < digest.size(); i += 8) separated += (i == 0 ? "" : i % 16 ? "-" : ":") + upper(digest.substr(i, 8));
    struct Case {
        const char* name;
        std::string destination; // empty: none
        std::string partial;     // empty: none
        std::string catalogDigest;
        std::string error; // empty: verified
        bool saved = false;
    };
    const std::vector<Case> cases = {
        {"intact copy, upper-case catalog digest", contents, "", upper(digest), ""},
        {"altered copy", "altered", "", digest, "Download failed for c1.mov: Existing destination hash differs; move it before retrying."},
        {"complete partial, catalog digest with separators", "", contents, separated, "", true},
        {"partial longer than the clip", "", contents + "!", digest, "Download failed for c1.mov: Partial file is larger than catalog size."},
        {"complete partial with other bytes", "", std::string(contents.size(), 'z'), digest,
         "Download failed for c1.mov: Downloaded SHA-256 does not match the phone catalog."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VELKClip made = makeClip("c1", "cam-a", contents);
        made.sha256 = c.catalogDigest;
        open({made});
        const std::string before = readFile(roots.support() / "library.json");
        const fs::path destination = folderOf(made) / "c1.mov";
        if (!c.destination.empty()) writeFile(destination, c.destination);
        if (!c.partial.empty()) writeFile(destination.string() + ".part", c.partial);
        downloadTake();
        const bool mismatch = c.error.ends_with("does not match the phone catalog.");
        if (c.error.empty()) {
            EXPECT_FALSE(store->errorMessage());
            EXPECT_EQ(store->transfers().back().message, "Verified");
            EXPECT_EQ(store->library().projects[0].takes[0].clips[0].localPath, destination.string());
            EXPECT_EQ(readFile(destination), contents);
        } else {
            EXPECT_EQ(store->errorMessage(), c.error);
            EXPECT_EQ(store->transfers().back().phase, TransferPhase::failed);
            EXPECT_EQ(store->transfers().back().message, c.error.substr(c.error.find(": ") + 2));
        }
        if (mismatch) {
            // The bad bytes are thrown away and the session that sent them ends.
            EXPECT_EQ(store->activities().front().message, "Secure transfer authorization was cancelled after a transport failure.");
            EXPECT_EQ(fs::file_size(destination.string() + ".part"), 0u);
            EXPECT_FALSE(fs::exists(destination));
        }
        EXPECT_EQ(store->transferSessions().size(), mismatch ? 0u : 1u);
        EXPECT_EQ(readFile(roots.support() / "library.json") != before, c.saved);
        if (!c.destination.empty()) { EXPECT_EQ(readFile(destination), c.destination); }
        fs::remove_all(roots.recordings());
    }
}

TEST_F(OfflineTakeDownload, LinksInPlaceOfTheCopyAreNeitherTrustedNorWrittenThrough) {
    const std::string contents = "verified recording bytes";
    const fs::path outside = roots.support() / "elsewhere.mov";
    for (const char* linked : {"c1.mov", "c1.mov.part"}) {
        SCOPED_TRACE(linked);
        open({makeClip("c1", "cam-a", contents)});
        writeFile(outside, contents);
        fs::create_directories(folderOf({}));
        fs::create_symlink(outside, folderOf({}) / linked);
        downloadTake();
        EXPECT_EQ(store->transfers().back().phase, TransferPhase::failed);
        EXPECT_TRUE(store->errorMessage()->starts_with("Download failed for c1.mov: ")) << *store->errorMessage();
        EXPECT_FALSE(store->library().projects[0].takes[0].clips[0].localPath);
        EXPECT_EQ(readFile(outside), contents);
        fs::remove_all(roots.recordings());
    }
}

TEST_F(OfflineTakeDownload, FinishedClipWithoutSourceIsSkippedSilently) {
    VELKClip done = makeClip("c1", "cam-a", "x");
    done.localPath = "/somewhere/c1.mov";
    done.deviceId = "fedcba9876543210"; // no session for this phone
    open({done});
    downloadTake();
    EXPECT_FALSE(store->errorMessage());
    EXPECT_TRUE(store->activities().empty());
    EXPECT_TRUE(store->transfers().empty());
}

TEST_F(OfflineTakeDownload, SidecarIsNeverWrittenOutsideTheRecordingsFolder) {
    TemporaryFolder elsewhere;
    const fs::path outside = writeFile(elsewhere.path() / "c1.mov", "x");
    VELKClip made = makeClip("c1", "cam-a", "x");
    made.sizeBytes.reset(); // the clip step refuses; the sidecar step still runs
    made.localPath = outside.string();
    made.timingSidecarURL = "/velk/v1/files/c1.timing.json";
    made.timingSidecarSHA256 = digestB;
    open({made});
    downloadTake();
    EXPECT_EQ(store->errorMessage(), "Timing copy failed: Copy is missing, outside recordings, or has an invalid size.");
    EXPECT_FALSE(fs::exists(outside.string() + ".timing.json"));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), fs::directory_iterator()), 1);
}

// A timing sidecar's partial file that a killed download left beside the copy (under its one
// name, or an older one with a UUID) is cleared by the next download on either road, and the
// sidecar lands whole.
TEST_F(OfflineTakeDownload, SidecarPartialLeftByAKilledDownloadIsClearedByTheNext) {
    const std::string contents = "verified recording bytes", sidecar = "{\"anchors\":[]}";
    for (const char* road : {"take", "project"}) {
        SCOPED_TRACE(road);
        VELKClip made = makeClip("c1", "cam-a", contents);
        made.timingSidecarURL = "/velk/v1/files/c1.timing.json";
        made.timingSidecarSHA256 = hexLower(Sha256::of(sidecar));
        open({made});
        connectPhone([&](const HttpsRequest& request) {
            return request.url.ends_with("/c1.timing.json") ? reply(200, sidecar) : reply(404);
        });
        const fs::path copy = writeFile(folderOf(made) / "c1.mov", contents);
        writeFile(copy.string() + ".timing.json.part", "{\"anch");
        writeFile(copy.string() + ".timing.json.0b4e3f7a-9c1d-4e2f-8a5b-6c7d8e9f0a1b.part", "{");

        bool finished = false;
        if (road == std::string("take")) {
            store->downloadSelectedTake([&] { finished = true; });
        } else {
            store->downloadSelectedProject([&] { finished = true; });
        }
        ASSERT_TRUE(runUntil([&] { return finished; }));
        EXPECT_FALSE(store->errorMessage());
        EXPECT_EQ(store->library().projects[0].takes[0].clips[0].timingSidecarLocalPath, copy.string() + ".timing.json");
        EXPECT_EQ(readFile(copy.string() + ".timing.json"), sidecar);
        EXPECT_EQ(namesIn(copy.parent_path()), (std::vector<std::string>{"c1.mov", "c1.mov.timing.json"}));
        fs::remove_all(roots.recordings());
    }
}

// --- A recordings folder on a small disk (a 20 MiB tmpfs of the test's own). ---

constexpr std::int64_t MiB = 1 << 20;
const std::vector<std::string> kSmallDiskSuites = {"TakeDownloadOnSmallDisk"};

TEST(TakeDownloadSmallDisk, RunsTheFullDiskCasesOnASmallTmpfs) {
    if (!test::smallDisk().empty()) GTEST_SKIP() << "part of another run";
    if (auto skip = test::runOnSmallDisk(kSmallDiskSuites)) VELK_SKIP_CHILD_RUN(kSmallDiskSuites, *skip);
}

class TakeDownloadOnSmallDisk : public OfflineTakeDownload {
protected:
    void SetUp() override {
        if (test::smallDisk().empty()) GTEST_SKIP() << "runs only on the small disk of a child run";
        OfflineTakeDownload::SetUp();
    }
    void TearDown() override {
        store.reset();
        if (!test::smallDisk().empty()) test::emptySmallDisk();
    }
};

// A clip whose rest cannot fit fails at once, in words, with nothing written and the session kept.
TEST_F(TakeDownloadOnSmallDisk, ClipThatCannotFitFailsAtOnceAndWritesNothing) {
    VELKClip big = makeClip("c1", "cam-a", "x");
    big.sizeBytes = 40 * MiB;
    storeWith(roots, {project("p1", "Show", 1, {take("t1", {big})})}).reset();
    store = std::make_unique<AppStore>(roots.support(), test::smallDisk() / "Velk", clock);
    store->setTransferClient(phoneID, offlineClient(phoneID, clock));
    store->setTransferSessions({store->transferClient(phoneID)->summary()});
    const std::string sentence = "Not enough free space on the recordings disk: 40.0 MiB needed, 20.0 MiB free.";

    downloadTake();
    expectError(*store, "Download failed for c1.mov: " + sentence);
    EXPECT_EQ(store->transfers().back().phase, TransferPhase::failed);
    EXPECT_EQ(store->transfers().back().message, sentence);
    EXPECT_EQ(store->transferSessions().size(), 1u);
    EXPECT_TRUE(fs::is_empty(test::smallDisk()));

    // "Download Whole Project" words the same refusal its own way.
    bool finished = false;
    store->downloadSelectedProject([&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(store->activities().front().message, "Collect retained the partial for c1.mov: " + sentence);
    EXPECT_EQ(store->transfers().back().message, sentence);
    EXPECT_TRUE(fs::is_empty(test::smallDisk()));
}

// A disk that fills before the timing sidecar is written: both roads say so in the same words as
// for a clip and leave no half-written sidecar behind; the clip's copy stays recorded.
TEST_F(TakeDownloadOnSmallDisk, SidecarOnAFullDiskIsWordedAsForAClip) {
    const std::string contents = "verified recording bytes";
    const fs::path copy = test::smallDisk() / "Velk" / "p1" / "t1" / "cam-a" / "c1" / "c1.mov";
    writeFile(copy, contents);
    VELKClip made = makeClip("c1", "cam-a", contents);
    made.timingSidecarURL = "/velk/v1/files/c1.timing.json";
    made.timingSidecarSHA256 = hexLower(Sha256::of(std::string("{}")));
    storeWith(roots, {project("p1", "Show", 1, {take("t1", {made})})}).reset();
    store = std::make_unique<AppStore>(roots.support(), test::smallDisk() / "Velk", clock);
    // The phone answers only the sidecar, and fills the disk before it does.
    connectPhone([](const HttpsRequest& request) {
        if (!request.url.ends_with("/c1.timing.json")) return reply(404);
        if (!fs::exists(test::smallDisk() / "filler")) test::fillSmallDiskLeaving(0);
        return reply(200, "{}");
    });
    const std::string sentence = "Not enough free space on the recordings disk: 0.1 MiB needed, 0.0 MiB free.";
    const auto besideTheCopy = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(copy.parent_path())) names.push_back(entry.path().filename().string());
        return names;
    };

    downloadTake();
    expectError(*store, "Timing copy failed: " + sentence);
    EXPECT_EQ(store->library().projects[0].takes[0].clips[0].localPath, copy.string());
    EXPECT_FALSE(store->library().projects[0].takes[0].clips[0].timingSidecarLocalPath);
    EXPECT_EQ(besideTheCopy(), std::vector<std::string>{"c1.mov"});

    bool finished = false;
    store->downloadSelectedProject([&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(store->activities().front().message, "Collect retained the partial for c1.mov: " + sentence);
    EXPECT_EQ(store->transfers().back().message, sentence);
    EXPECT_FALSE(store->library().projects[0].takes[0].clips[0].timingSidecarLocalPath);
    EXPECT_EQ(besideTheCopy(), std::vector<std::string>{"c1.mov"});
}

// --- A recordings folder on a disk of few files (a tmpfs of the test's own that holds 64). ---

const std::vector<std::string> kFewFilesSuites = {"TakeDownloadOutOfFiles", "TakeRetryOutOfFiles"};

TEST(TakeDownloadFewFilesDisk, RunsTheOutOfFilesCasesOnATmpfsOfFewFiles) {
    if (!test::smallDisk().empty()) GTEST_SKIP() << "part of another run";
    if (auto skip = test::runOnSmallDisk(kFewFilesSuites, 64)) VELK_SKIP_CHILD_RUN(kFewFilesSuites, *skip);
}

// Every name on the small disk but the many files that fill it, as paths below it.
std::vector<std::string> namesOnTheSmallDisk() {
    std::vector<std::string> names;
    for (auto entry = fs::recursive_directory_iterator(test::smallDisk()); entry != fs::recursive_directory_iterator(); ++entry) {
        names.push_back(fs::relative(entry->path(), test::smallDisk()).string());
        if (entry->path().filename() == "files") entry.disable_recursion_pending();
    }
    std::sort(names.begin(), names.end());
    return names;
}

class TakeDownloadOutOfFiles : public TakeDownloadOnSmallDisk {};

// The disk can hold no more files before the first byte: whether it refuses one of the clip's
// folders, its partial file or its timing sidecar, both roads say so in words, the phone's session
// stays, and the folders made for the clip go again.
TEST_F(TakeDownloadOutOfFiles, RefusedFolderOrFileIsWordedAndLeavesNoEmptyFolders) {
    const std::string contents = "verified recording bytes", sidecar = "{}";
    const std::string sentence = "The recordings disk has no room for more files.";
    const fs::path recordings = test::smallDisk() / "Velk";
    struct Case {
        const char* what;
        std::size_t filesLeft;
        bool copyInPlace; // only the clip's timing sidecar is missing
        std::string takeError;
    };
    const std::vector<Case> cases{
        {"no folder", 0, false, "Download failed for c1.mov: " + sentence},
        {"two of the five folders", 2, false, "Download failed for c1.mov: " + sentence},
        {"the folders, not the partial file", 5, false, "Download failed for c1.mov: " + sentence},
        {"the sidecar's partial file", 0, true, "Timing copy failed: " + sentence},
    };
    for (const Case& c : cases) {
        for (const std::string road : {"take", "project"}) {
            SCOPED_TRACE(std::string(c.what) + ", " + road);
            VELKClip made = makeClip("c1", "cam-a", contents);
            made.timingSidecarURL = "/velk/v1/files/c1.timing.json";
            made.timingSidecarSHA256 = hexLower(Sha256::of(sidecar));
            if (c.copyInPlace) writeFile(recordings / "p1" / "t1" / "cam-a" / "c1" / "c1.mov", contents);
            storeWith(roots, {project("p1", "Show", 1, {take("t1", {made})})}).reset();
            store = std::make_unique<AppStore>(roots.support(), recordings, clock);
            connectPhone([&](const HttpsRequest& request) {
                return request.url.ends_with("/c1.timing.json") ? reply(200, sidecar) : reply(404);
            });
            test::useUpSmallDiskFilesLeaving(c.filesLeft);
            const std::vector<std::string> before = namesOnTheSmallDisk();

            bool finished = false;
            if (road == "take") {
                store->downloadSelectedTake([&] { finished = true; });
            } else {
                store->downloadSelectedProject([&] { finished = true; });
            }
            ASSERT_TRUE(runUntil([&] { return finished; }));
            if (road == "take") {
                expectError(*store, c.takeError);
            } else {
                EXPECT_EQ(store->activities().front().message, "Collect retained the partial for c1.mov: " + sentence);
            }
            if (!c.copyInPlace || road == "project") { EXPECT_EQ(store->transfers().back().message, sentence); }
            EXPECT_EQ(store->transferSessions().size(), 1u);
            EXPECT_EQ(namesOnTheSmallDisk(), before);
            store.reset();
            test::emptySmallDisk();
        }
    }
}

class TakeRetryOutOfFiles : public StoreEndToEnd {
protected:
    void SetUp() override {
        if (test::smallDisk().empty()) GTEST_SKIP() << "runs only on the small disk of a child run";
        StoreEndToEnd::SetUp();
        store = std::make_unique<AppStore>(roots.support(), test::smallDisk() / "Velk");
        hook(nullptr);
    }
    void TearDown() override {
        store.reset();
        if (!test::smallDisk().empty()) test::emptySmallDisk();
    }
};

// A partial file the disk refuses is this computer's refusal, not the phone's: the phone keeps its
// session, and once files are freed the same take comes from the same phone without pairing again.
TEST_F(TakeRetryOutOfFiles, RefusedPartialFileKeepsThePhonesSessionForTheRetry) {
    StorePhone phone("Stage Left");
    const PhoneClip clip = phone.addClip(uuidLike(1, 1), "cam-a", 3000);
    phone.publish(wedding);
    ASSERT_TRUE(pair(phone));
    selectFirst();
    test::useUpSmallDiskFilesLeaving(5); // the recordings folder and the clip's four

    await([&](auto done) { store->downloadSelectedTake(done); });
    expectError(*store, "Download failed for cam-a.mov: The recordings disk has no room for more files.");
    EXPECT_EQ(store->transferSessions().size(), 1u);
    EXPECT_EQ(std::ranges::count(activityTexts(), "Secure transfer authorization was cancelled after a transport failure."), 0);

    fs::remove_all(test::smallDisk() / "files");
    phone.phone.clear();
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_EQ(activityTexts().front(), "Downloaded and verified cam-a.mov.");
    const fs::path copy = test::smallDisk() / "Velk" / wedding / "take-1" / "cam-a" / clip.clipId / "cam-a.mov";
    EXPECT_EQ(findClip(clip.clipId)->localPath, copy.string());
    EXPECT_EQ(hexLower(Sha256::of(readFile(copy))), clip.sha256);
    for (const auto& [method, path] : phone.requests()) EXPECT_EQ(path.find("/pair"), std::string::npos) << path;
}

} // namespace
} // namespace velk
