// "Download Take": the store's own road, clip by clip, against a simulated phone over HTTPS and,
// where no network is needed, against a library and files made on disk.

#include <fstream>

#include <QSignalSpy>

#include "base/sha256.hpp"
#include "store_phone_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

namespace fs = std::filesystem;
constexpr std::int64_t chunk = 8'388'608;
const std::string wedding = "11111111-2222-4333-8444-555555555555";

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
    EXPECT_EQ(fileBytes(copy.string() + ".timing.json"), "{\"clip\":\"" + big.clipId + "\"}");
    EXPECT_FALSE(fs::exists(copy.string() + ".part"));
    EXPECT_EQ(hexLower(Sha256::of(fileBytes(copy))), big.sha256);
    EXPECT_EQ(findClip(exact.clipId)->localPath, (clipFolder(exact.clipId, "cam-b") / "cam-b.mov").string());
    EXPECT_EQ(store->transfers().back().id, exact.clipId);
    EXPECT_EQ(store->transfers().back().phase, TransferPhase::ready);
    EXPECT_EQ(activityTexts()[0], "Downloaded and verified cam-b.mov.");
    EXPECT_EQ(activityTexts()[1], "Downloaded and verified cam-a.mov.");
    const VELKLibrary saved = decodeLibrary(fileBytes(roots.support() / "library.json"));
    EXPECT_EQ(saved.projects, store->library().projects);
    EXPECT_FALSE(store->canDownloadSelectedTake());
}

TEST_F(TakeDownload, DroppedConnectionEndsTheSessionAndTheNextAttemptResumes) {
    StorePhone phone("Stage Left");
    const PhoneClip clip = phone.addClip(uuidLike(1, 1), "cam-a", chunk + 4096);
    phone.publish(wedding);
    int ranges = 0;
    TransferClientEnvironment environment;
    environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
    environment.makeSession = [&](std::string_view fingerprint) {
        return std::make_unique<HookedSession>(makePinnedHttpsSession(fingerprint),
                                               [&](const HttpsRequest& request, HttpsResponse* response) {
                                                   // The phone drops every attempt at the second range.
                                                   if (!response && isRangeRequest(request) && ++ranges == 2) {
                                                       phone.phone.fault("files", "dropMidBody", nullptr, 3);
                                                   }
                                               });
    };
    store->setTransferEnvironment(environment);
    ASSERT_TRUE(pair(phone));
    selectFirst();
    await([&](auto done) { store->downloadSelectedTake(done); });

    const fs::path partial = clipFolder(clip.clipId, "cam-a") / "cam-a.mov.part";
    EXPECT_EQ(fs::file_size(partial), static_cast<std::uintmax_t>(chunk));
    ASSERT_TRUE(store->errorMessage());
    EXPECT_TRUE(store->errorMessage()->starts_with("Download failed for cam-a.mov: ")) << *store->errorMessage();
    EXPECT_EQ(activityTexts()[0], "Secure transfer authorization was cancelled after a transport failure.");
    EXPECT_EQ(activityTexts()[1], *store->errorMessage());
    EXPECT_EQ(transferRow(clip.clipId)->phase, TransferPhase::failed);
    EXPECT_EQ(transferRow(clip.clipId)->completedBytes, 0);
    EXPECT_TRUE(store->transferSessions().empty());
    EXPECT_TRUE(store->transferClients().empty());
    EXPECT_FALSE(findClip(clip.clipId)->localPath);

    // Without a session the clip is refused before any file is touched.
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_EQ(store->errorMessage(), "cam-a has no compatible range-download metadata.");

    ASSERT_TRUE(pair(phone));
    phone.phone.clear();
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_EQ(phone.rangeStarts(), std::vector<std::int64_t>{chunk});
    EXPECT_EQ(transferRow(clip.clipId)->message, "Verified");
    EXPECT_EQ(hexLower(Sha256::of(fileBytes(clipFolder(clip.clipId, "cam-a") / "cam-a.mov"))), clip.sha256);
}

TEST_F(TakeDownload, DigestMismatchEmptiesThePartialAndEndsTheSession) {
    StorePhone phone("Stage Left");
    const PhoneClip clip = phone.addClip(uuidLike(1, 1), "cam-a", 5000);
    phone.publish(wedding);
    TransferClientEnvironment environment;
    environment.makeSession = [](std::string_view fingerprint) {
        return std::make_unique<HookedSession>(makePinnedHttpsSession(fingerprint),
                                               [](const HttpsRequest& request, HttpsResponse* response) {
                                                   if (response && isRangeRequest(request)) response->body[10] ^= 0xff;
                                               });
    };
    store->setTransferEnvironment(environment);
    ASSERT_TRUE(pair(phone));
    selectFirst();
    await([&](auto done) { store->downloadSelectedTake(done); });

    EXPECT_EQ(store->errorMessage(), "Download failed for cam-a.mov: Downloaded SHA-256 does not match the phone catalog.");
    EXPECT_EQ(activityTexts()[0], "Secure transfer authorization was cancelled after a transport failure.");
    EXPECT_EQ(fs::file_size(clipFolder(clip.clipId, "cam-a") / "cam-a.mov.part"), 0u);
    EXPECT_FALSE(fs::exists(clipFolder(clip.clipId, "cam-a") / "cam-a.mov"));
    EXPECT_TRUE(store->transferSessions().empty());
}

TEST_F(TakeDownload, CatalogDigestWrittenWithSeparatorsStillVerifies) {
    StorePhone phone("Stage Left");
    PhoneClip& clip = phone.addClip(uuidLike(1, 1), "cam-a", 3000);
    std::string separated;
    for (std::size_t i = 0; i < clip.sha256.size(); ++i) {
        if (i > 0 && i % 8 == 0) separated += (i % 16 == 0) ? ":" : "-";
        separated += static_cast<char>(std::toupper(static_cast<unsigned char>(clip.sha256[i])));
    }
    const std::string plain = clip.sha256;
    clip.sha256 = separated;
    phone.publish(wedding);
    ASSERT_TRUE(pair(phone));
    selectFirst();
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_FALSE(store->errorMessage()) << store->errorMessage().value_or("");
    EXPECT_EQ(transferRow(clip.clipId)->message, "Verified");

    // Run again: the copy in place is hashed again and accepted, nothing is fetched.
    phone.phone.clear();
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_FALSE(store->errorMessage());
    EXPECT_TRUE(phone.rangeStarts().empty());
    EXPECT_EQ(hexLower(Sha256::of(fileBytes(*findClip(clip.clipId)->localPath))), plain);
}

TEST_F(TakeDownload, StoreDestroyedMidDownloadIsNeverTouched) {
    StorePhone phone("Stage Left");
    phone.addClip(uuidLike(1, 1), "cam-a", 3 * chunk);
    phone.publish(wedding);
    ASSERT_TRUE(pair(phone));
    selectFirst();
    bool finished = false;
    store->downloadSelectedTake([&] { finished = true; });
    ASSERT_TRUE(runUntil([&] { return !phone.rangeStarts().empty(); }));
    store.reset();
    // The worker goes on to its end; what it hands back is dropped.
    runUntil([&] { return phone.rangeStarts().size() >= 3; }, 10'000);
    runUntil([] { return false; }, 300);
    EXPECT_FALSE(finished);
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
        VELKLibrary library;
        library.projects.push_back(project("p1", "Show", 1, {take("t1", std::move(clips))}));
        store = storeWith(roots, library, clock);
        store->setTransferClient(phoneID, offlineClient(phoneID, clock));
        store->setTransferSessions({store->transferClient(phoneID)->summary()});
    }
    void downloadTake() {
        bool finished = false;
        store->downloadSelectedTake([&] { finished = true; });
        ASSERT_TRUE(runUntil([&] { return finished; }));
    }
    fs::path folderOf(const VELKClip& c) const {
        return roots.recordings() / "p1" / "t1" / AppStore::safeIdentifier(c.cameraId) / AppStore::safeIdentifier(c.id);
    }

    ManualClock clock{WallTime{} + std::chrono::hours(24 * 365 * 50)};
    StoreRoots roots;
    std::unique_ptr<AppStore> store;
};

TEST_F(OfflineTakeDownload, ClipsWithoutUsableMetadataAreRefusedBeforeAnyFile) {
    const std::string contents = "0123456789";
    struct Case {
        const char* name;
        std::function<void(VELKClip&)> change;
    };
    const std::vector<Case> cases = {
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VELKClip made = makeClip("c1", "cam-a", contents);
        c.change(made);
        open({made});
        downloadTake();
        EXPECT_EQ(store->errorMessage(), made.cameraId + " has no compatible range-download metadata.");
        EXPECT_EQ(store->activities().size(), 1u);
        EXPECT_TRUE(store->transfers().empty());
        EXPECT_FALSE(fs::exists(roots.recordings()));
        EXPECT_EQ(store->transferSessions().size(), 1u);
    }
}

TEST_F(OfflineTakeDownload, RemoteURLOffTheSessionOriginIsRejected) {
    VELKClip made = makeClip("c1", "cam-a", "x");
    made.remoteURL = "https://elsewhere.local/velk/v1/files/c1";
    open({made});
    downloadTake();
    EXPECT_EQ(store->errorMessage(),
              "Rejected file URL for cam-a: Catalog file URL must remain on the authenticated HTTPS origin.");
    EXPECT_TRUE(store->transfers().empty());
}

TEST_F(OfflineTakeDownload, FilesAlreadyOnDiskDecideWithoutTheNetwork) {
    const std::string contents = "verified recording bytes";
    struct Case {
        const char* name;
        std::string destination; // empty: none
        std::string partial;     // empty: none
        std::string catalogDigest;
        std::string error;       // empty: verified
        bool sessionStays;
        bool saved;
    };
    std::string upper = hexLower(Sha256::of(contents));
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::vector<Case> cases = {
        {"intact copy, upper-case catalog digest", contents, "", upper, "", true, false},
        {"altered copy", "altered", "", "", "Download failed for c1.mov: Existing destination hash differs; move it before retrying.",
         true, false},
        {"complete partial", "", contents, "", "", true, true},
        {"partial longer than the clip", "", contents + "!", "",
         "Download failed for c1.mov: Partial file is larger than catalog size.", true, false},
        {"complete partial with other bytes", "", std::string(contents.size(), 'z'), "",
         "Download failed for c1.mov: Downloaded SHA-256 does not match the phone catalog.", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VELKClip made = makeClip("c1", "cam-a", contents);
        if (!c.catalogDigest.empty()) made.sha256 = c.catalogDigest;
        open({made});
        const std::string before = fileBytes(roots.support() / "library.json");
        const fs::path destination = folderOf(made) / "c1.mov";
        if (!c.destination.empty()) writeFile(destination, c.destination);
        if (!c.partial.empty()) writeFile(destination.string() + ".part", c.partial);
        downloadTake();
        if (c.error.empty()) {
            EXPECT_FALSE(store->errorMessage());
            EXPECT_EQ(store->transfers().back().message, "Verified");
            EXPECT_EQ(store->library().projects[0].takes[0].clips[0].localPath, destination.string());
        } else {
            EXPECT_EQ(store->errorMessage(), c.error);
            EXPECT_EQ(store->transfers().back().phase, TransferPhase::failed);
            EXPECT_EQ(store->transfers().back().message, c.error.substr(c.error.find(": ") + 2));
        }
        EXPECT_EQ(store->transferSessions().size(), c.sessionStays ? 1u : 0u);
        EXPECT_EQ(fileBytes(roots.support() / "library.json") != before, c.saved);
        if (!c.destination.empty()) {
            EXPECT_EQ(fileBytes(destination), c.destination);
        }
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

TEST_F(OfflineTakeDownload, BusyStoreDoesNothing) {
    open({makeClip("c1", "cam-a", "x")});
    store->setIsBusy(true);
    downloadTake();
    EXPECT_TRUE(store->isBusy());
    EXPECT_TRUE(store->activities().empty());
    EXPECT_TRUE(store->transfers().empty());
}

} // namespace
} // namespace velk
