// The Library's roads end to end against two simulated phones over pinned HTTPS: the whole
// project downloaded two clips at a time (one phone with a wrong digest, one that drops the
// connection mid-clip and then recovers), sessions ended and sources asked to trash the copied
// project.

#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/sha256.hpp"
#include "base/unicode.hpp"
#include "store_phone_fixture.hpp"

namespace velk {
namespace {

using namespace velk::testing;

namespace fs = std::filesystem;

class CollectEndToEnd : public StoreEndToEnd {
protected:
    void SetUp() override {
        StoreEndToEnd::SetUp();
        a1 = left.addClip(uuidLike(1, 1), "cam-a1", 3000, true, 11);
        a2 = left.addClip(uuidLike(1, 2), "cam-a2", 2000, false, 12);
        b1 = right.addClip(uuidLike(2, 1), "cam-b1", 1500, false, 21);
        b2 = right.addClip(uuidLike(2, 2), "cam-b2", chunk + 5000, false, 22);
        left.publish(wedding);
        right.publish(wedding);
        hook([this](const HttpsRequest& request, HttpsResponse* response) { onRequest(request, response); });
    }

    // While `dropSecondRange` is set, the right phone drops every attempt at the second range of b2.
    // b1 is asked once and never retried; its answer is awaited first so that the three dropped
    // requests are all b2's.
    void onRequest(const HttpsRequest& request, HttpsResponse* response) {
        if (response) {
            if (request.url.ends_with(b1.clipId)) {
                std::lock_guard lock(b1Mutex);
                b1Answered = true;
                b1Changed.notify_all();
            }
            return;
        }
        if (!dropSecondRange || !request.url.ends_with(b2.clipId)) return;
        for (const auto& [name, value] : request.headers) {
            if (name == "Range" && value.starts_with("bytes=" + std::to_string(chunk) + "-") && !dropArmed.exchange(true)) {
                std::unique_lock lock(b1Mutex);
                b1Changed.wait_for(lock, std::chrono::seconds(10), [this] { return b1Answered; });
                right.phone.fault("files", "dropMidBody", nullptr, 3);
            }
        }
    }

    void connectBoth() {
        ASSERT_TRUE(pair(left));
        ASSERT_TRUE(pair(right));
        selectFirst();
        ASSERT_EQ(store->library().projects.size(), 1u);
        ASSERT_EQ(store->library().projects[0].takes[0].clips.size(), 4u);
    }

    std::vector<std::string> pathsOf(StorePhone& phone) {
        std::vector<std::string> paths;
        for (const auto& [method, path] : phone.requests()) paths.push_back(method + " " + path);
        return paths;
    }

    StorePhone left{"Stage Left"};
    StorePhone right{"Stage Right"};
    PhoneClip a1, a2, b1, b2;
    std::atomic<bool> dropSecondRange{false};
    std::atomic<bool> dropArmed{false};
    std::mutex b1Mutex;
    std::condition_variable b1Changed;
    bool b1Answered = false;
};

TEST_F(CollectEndToEnd, WholeProjectAcrossTwoPhonesKeepsPartialsAndRecovers) {
    // The right phone's catalog promises other bytes for b1.
    right.clips[0].sha256 = std::string(64, 'e');
    right.publish(wedding);
    connectBoth();
    EXPECT_TRUE(store->canDownloadSelectedProject());
    dropSecondRange = true;
    std::vector<CollectSourceStatus> leftRows;
    QObject::connect(store.get(), &AppStore::collectSourcesChanged, [&] {
        if (const CollectSourceStatus* row = sourceRow("Stage Left")) leftRows.push_back(*row);
    });
    const auto errorBefore = store->errorMessage();
    const std::size_t entriesBefore = store->activities().size();

    await([&](auto done) { store->downloadSelectedProject(done); });

    EXPECT_FALSE(store->isBusy());
    EXPECT_EQ(store->errorMessage(), errorBefore);
    EXPECT_TRUE(findClip(a1.clipId)->localPath);
    EXPECT_TRUE(findClip(a1.clipId)->timingSidecarLocalPath);
    EXPECT_TRUE(findClip(a2.clipId)->localPath);
    EXPECT_FALSE(findClip(b1.clipId)->localPath);
    EXPECT_FALSE(findClip(b2.clipId)->localPath);
    // Outcomes in job order: b1, then b2.
    ASSERT_EQ(store->activities().size(), entriesBefore + 2);
    EXPECT_EQ(activityTexts()[1], "Collect retained the partial for cam-b1.mov: File identity headers do not match the catalog.");
    EXPECT_TRUE(activityTexts()[0].starts_with("Collect retained the partial for cam-b2.mov: ")) << activityTexts()[0];
    EXPECT_TRUE(store->activities()[0].isError);
    const CollectSourceStatus* rightRow = sourceRow("Stage Right");
    ASSERT_NE(rightRow, nullptr);
    EXPECT_EQ(rightRow->phase, CollectSourcePhase::failed);
    EXPECT_TRUE(rightRow->message.starts_with("cam-b2.mov: "));
    EXPECT_EQ(sourceRow("Stage Left")->phase, CollectSourcePhase::complete);
    EXPECT_EQ(sourceRow("Stage Left")->message, "Latest queued recording verified");
    // Progress reports reach the source row as "<clip> • <step>", the phase mapped from the step.
    auto reported = [&](const std::string& message, CollectSourcePhase phase) {
        return std::any_of(leftRows.begin(), leftRows.end(), [&](const CollectSourceStatus& row) {
            return row.message == message && row.phase == phase;
        });
    };
    EXPECT_TRUE(reported("cam-a2.mov \u2022 Downloading", CollectSourcePhase::downloading));
    EXPECT_TRUE(reported("cam-a2.mov \u2022 Checking SHA-256", CollectSourcePhase::verifying));
    EXPECT_TRUE(reported("cam-a2.mov \u2022 Verified", CollectSourcePhase::complete));
    EXPECT_EQ(transferRow(b1.clipId)->phase, TransferPhase::failed);
    EXPECT_EQ(transferRow(b1.clipId)->totalBytes, 1500);
    EXPECT_EQ(transferRow(a1.clipId)->phase, TransferPhase::ready);
    EXPECT_EQ(store->transferSessions().size(), 2u);
    const VELKLibrary saved = decodeLibrary(readFile(roots.support() / "library.json"));
    EXPECT_EQ(saved.projects, store->library().projects);

    // The next run resumes b2 after its first range; b1 still fails on its digest.
    dropSecondRange = false;
    right.phone.clear();
    await([&](auto done) { store->downloadSelectedProject(done); });
    EXPECT_EQ(right.rangeStarts(b2.clipId), std::vector<std::int64_t>{chunk});
    ASSERT_TRUE(findClip(b2.clipId)->localPath);
    EXPECT_EQ(hexLower(Sha256::of(readFile(*findClip(b2.clipId)->localPath))), b2.sha256);
    EXPECT_FALSE(findClip(b1.clipId)->localPath);
    EXPECT_EQ(transferRow(b2.clipId)->phase, TransferPhase::ready);
}

TEST_F(CollectEndToEnd, TakeRoadDropsTheFailingSourceOnlyAndResumesLater) {
    connectBoth();
    dropSecondRange = true;
    await([&](auto done) { store->downloadSelectedTake(done); });
    for (const PhoneClip* c : {&a1, &a2, &b1}) EXPECT_TRUE(findClip(c->clipId)->localPath) << c->cameraId;
    EXPECT_TRUE(findClip(a1.clipId)->timingSidecarLocalPath);
    EXPECT_FALSE(findClip(b2.clipId)->localPath);
    const fs::path partial = roots.recordings() / wedding / "take-1" / "cam-b2" / b2.clipId / "cam-b2.mov.part";
    EXPECT_EQ(fs::file_size(partial), static_cast<std::uintmax_t>(chunk));
    ASSERT_TRUE(startsWith(store->errorMessage(), "Download failed for cam-b2.mov: ")) << store->errorMessage().value_or("");
    EXPECT_EQ(activityTexts()[0], "Secure transfer authorization was cancelled after a transport failure.");
    EXPECT_EQ(activityTexts()[1], *store->errorMessage());
    EXPECT_EQ(transferRow(b2.clipId)->phase, TransferPhase::failed);
    EXPECT_EQ(transferRow(b2.clipId)->completedBytes, 0);
    ASSERT_EQ(store->transferSessions().size(), 1u);
    EXPECT_EQ(store->transferSessions()[0].deviceName, "Stage Left");
    EXPECT_EQ(store->transferClients().size(), 1u);

    // Without a session the clip is refused before any file is touched.
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_EQ(store->errorMessage(), "cam-b2 has no compatible range-download metadata.");

    dropSecondRange = false;
    ASSERT_TRUE(pair(right));
    selectFirst();
    right.phone.clear();
    await([&](auto done) { store->downloadSelectedTake(done); });
    EXPECT_EQ(right.rangeStarts(b2.clipId), std::vector<std::int64_t>{chunk});
    EXPECT_EQ(transferRow(b2.clipId)->message, "Verified");
    EXPECT_EQ(hexLower(Sha256::of(readFile(*findClip(b2.clipId)->localPath))), b2.sha256);
}

TEST_F(CollectEndToEnd, SessionsEndAcknowledgedOrNot) {
    connectBoth();
    right.phone.fault("end", "status", 500);

    await([&](auto done) { store->endTransferSession(left.phone.deviceId, done); });
    EXPECT_EQ(activityTexts()[0], "Returned Stage Left to Camera mode.");
    EXPECT_EQ(sourceRow("Stage Left")->phase, CollectSourcePhase::ended);
    EXPECT_EQ(sourceRow("Stage Left")->message, "Source acknowledged Camera mode request");
    ASSERT_EQ(store->transferSessions().size(), 1u);
    EXPECT_EQ(store->transferSessions()[0].deviceName, "Stage Right");
    EXPECT_EQ(left.requests().back(), std::make_pair(std::string("POST"), std::string("/velk/v1/session/end")));

    // The device id in another letter case names the same phone.
    bool finished = false;
    store->endTransferSession(upper(right.phone.deviceId), [&] { finished = true; });
    EXPECT_TRUE(store->transferSessions().empty()); // forgotten before the phone is asked
    EXPECT_EQ(sourceRow("Stage Right")->phase, CollectSourcePhase::returning);
    EXPECT_EQ(sourceRow("Stage Right")->message, "Ending transfer session");
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(activityTexts()[0], "Ended local session for Stage Right, but the source did not acknowledge Camera mode.");
    EXPECT_TRUE(store->activities()[0].isError);
    EXPECT_EQ(sourceRow("Stage Right")->phase, CollectSourcePhase::failed);
    EXPECT_EQ(sourceRow("Stage Right")->message, "Source did not acknowledge; check the phone");
    EXPECT_FALSE(store->errorMessage());

    // Ending all asks each phone in turn.
    connectBoth();
    std::size_t entries = store->activities().size();
    finished = false;
    store->endAllTransferSessions([&] { finished = true; });
    EXPECT_TRUE(store->transferSessions().empty());
    EXPECT_TRUE(store->transferClients().empty());
    ASSERT_TRUE(runUntil([&] { return finished; }));
    EXPECT_EQ(store->activities().size(), entries + 1);
    EXPECT_EQ(activityTexts()[0], "Requested Camera mode from all Collect sources.");
    EXPECT_EQ(sourceRow("Stage Left")->phase, CollectSourcePhase::ended);
    EXPECT_EQ(sourceRow("Stage Right")->phase, CollectSourcePhase::failed);
    EXPECT_EQ(sourceRow("Stage Right")->message, "No acknowledgement; check the phone");

    // Nothing left to end: nothing is logged.
    entries = store->activities().size();
    await([&](auto done) { store->endAllTransferSessions(done); });
    EXPECT_EQ(store->activities().size(), entries);
}

TEST_F(CollectEndToEnd, CopiedProjectGoesToEachPhonesTrashInOrder) {
    connectBoth();
    await([&](auto done) { store->downloadSelectedProject(done); });
    ASSERT_TRUE(store->canTrashSelectedProjectSources());
    const std::string libraryBefore = readFile(roots.support() / "library.json");
    left.phone.clear();
    right.phone.clear();

    await([&](auto done) { store->trashSelectedProjectSources(done); });

    EXPECT_FALSE(store->errorMessage()) << store->errorMessage().value_or("");
    EXPECT_FALSE(store->isBusy());
    const std::vector<std::string> expected = {"GET /velk/v1/catalog", "POST /velk/v1/projects/delete"};
    EXPECT_EQ(pathsOf(left), expected);
    EXPECT_EQ(pathsOf(right), expected);
    // Ascending device ids: the phone whose id sorts first is asked first.
    const bool leftFirst = left.phone.deviceId < right.phone.deviceId;
    EXPECT_EQ(activityTexts()[leftFirst ? 1 : 0],
              "Moved source project on Stage Left to recoverable Trash. Verified copies on this computer remain.");
    EXPECT_EQ(activityTexts()[leftFirst ? 0 : 1],
              "Moved source project on Stage Right to recoverable Trash. Verified copies on this computer remain.");
    const Json body = json::parse(json::requireString(left.phone.log()[1], "body"));
    EXPECT_EQ(json::requireString(body, "projectId"), wedding);
    EXPECT_EQ(body.at("clips").size(), 2u);
    EXPECT_EQ(readFile(roots.support() / "library.json"), libraryBefore);
    EXPECT_TRUE(fs::exists(*findClip(a1.clipId)->localPath));
}

TEST_F(CollectEndToEnd, UnassignedTakesAreTrashedAsUnassigned) {
    left.publish("");
    ASSERT_TRUE(pair(left));
    selectFirst();
    ASSERT_TRUE(store->selectedProject()->id.starts_with("unassigned-"));
    await([&](auto done) { store->downloadSelectedProject(done); });
    left.phone.clear();
    await([&](auto done) { store->trashSelectedProjectSources(done); });
    EXPECT_FALSE(store->errorMessage()) << store->errorMessage().value_or("");
    const Json body = json::parse(json::requireString(left.phone.log().back(), "body"));
    EXPECT_EQ(json::requireString(body, "projectId"), "unassigned");
    const std::string requestId = json::requireString(body, "requestId");
    EXPECT_EQ(requestId.size(), 36u);
    EXPECT_EQ(requestId, text::lowercased(requestId));
}

TEST_F(CollectEndToEnd, TrashStopsAtTheFirstFailure) {
    connectBoth();
    await([&](auto done) { store->downloadSelectedProject(done); });
    StorePhone& first = left.phone.deviceId < right.phone.deviceId ? left : right;
    StorePhone& second = &first == &left ? right : left;

    // The second phone's catalog no longer validates: nothing is sent to either.
    second.phone.fault("catalog", "rawBody", "{\"schemaVersion\":1}", 1);
    first.phone.clear();
    await([&](auto done) { store->trashSelectedProjectSources(done); });
    ASSERT_TRUE(store->errorMessage());
    EXPECT_TRUE(store->errorMessage()->starts_with("Source removal stopped: ")) << *store->errorMessage();
    EXPECT_TRUE(store->errorMessage()->ends_with(
        ". Completed removals remain recoverable. A request whose reply was lost may also have completed; inspect source "
        "Trash. Copies on this computer remain."));
    EXPECT_EQ(pathsOf(first), std::vector<std::string>{"GET /velk/v1/catalog"});

    // The second phone does not confirm: the first one's project stays moved, the run stops.
    second.phone.clear();
    second.phone.fault("delete", "trashReply", Json::array({"movedToTrash", false}), 1);
    await([&](auto done) { store->trashSelectedProjectSources(done); });
    EXPECT_EQ(store->errorMessage(),
              "Source removal stopped: Source did not confirm recoverable project removal.. Completed removals remain "
              "recoverable. A request whose reply was lost may also have completed; inspect source Trash. Copies on "
              "this computer remain.");
    EXPECT_EQ(activityTexts()[1], "Moved source project on " + first.name +
                                      " to recoverable Trash. Verified copies on this computer remain.");
    EXPECT_FALSE(store->isBusy());
    EXPECT_EQ(store->transferSessions().size(), 2u);
}

} // namespace
} // namespace velk
