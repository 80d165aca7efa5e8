#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <gtest/gtest.h>

#include "fake_clip_source.hpp"
#include "model/catalog.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {
namespace {

using testing::FakeClipSource;
using testing::patternBytes;
using testing::readFile;
using testing::writeFile;
namespace fs = std::filesystem;

constexpr std::int64_t MiB = 1'048'576;
const std::string clipA = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
const std::string clipB = "7a2d3b45-6c7e-4f80-9bac-1d2e3f4a5b6c";
const std::string clipC = "8b3e4c56-7d8f-4091-acbd-2e3f4a5b6c7d";
const std::string filesURL = "https://phone.local:8443/velk/v1/files/";

std::string outcomeSentence(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    }
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Event {
    TransferPhase phase;
    std::int64_t completed;
    std::string message;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& event) {
    return out << rawValue(event.phase) << " " << event.completed << " " << event.message;
}

class CollectDownload : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "collect-download-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        root = base / "Velk";
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(base); }

    VELKClip clipOf(const std::string& id, const std::string& bytes, const std::string& cameraId = "Cam A") {
        VELKClip clip;
        clip.id = id;
        clip.cameraId = cameraId;
        clip.fileName = "clip.mov";
        clip.remoteURL = filesURL + id;
        clip.sizeBytes = static_cast<std::int64_t>(bytes.size());
        clip.sha256 = testing::digestOf(bytes);
        clip.deviceId = testing::sourceDeviceId;
        return clip;
    }

    CollectDownloadJob jobOf(const VELKClip& clip) {
        if (!client) client = source.openClient();
        return CollectDownloadJob{"Project 1", "Take 1", clip, client, root};
    }

    fs::path folderOf(const VELKClip& clip) { return root / "project-1" / "take-1" / CollectCoordinator::safe(clip.cameraId) / clip.id; }

    CollectDownloadOutcome runOne(const CollectDownloadJob& job) {
        auto outcomes = CollectCoordinator::run({job}, 2, [this](const CollectDownloadProgress& progress) {
            std::lock_guard lock(eventsMutex);
            events.push_back(Event{progress.phase, progress.completed, progress.message});
            lastProgress = progress;
        });
        EXPECT_EQ(outcomes.size(), 1u);
        return outcomes.front();
    }

    std::string failureOf(const CollectDownloadJob& job) {
        auto outcome = runOne(job);
        if (outcome.isSuccess()) return "succeeded";
        return outcomeSentence(outcome.error());
    }

    fs::path base;
    fs::path root;
    FakeClipSource source;
    std::shared_ptr<AuthenticatedTransferClient> client;
    std::mutex eventsMutex;
    std::vector<Event> events;
    CollectDownloadProgress lastProgress;
};

TEST(CollectSafeNames, FollowTheFolderRule) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"Cam #2", "cam--2"},
        {"--Take_01--", "take_01"},
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"},               // ÉTÉ -> été
        {"\xD0\x9A\xD0\xB0\xD0\xBC 1", "\xD0\xBA\xD0\xB0\xD0\xBC-1"}, // Кам 1 -> кам-1
        {"\xD9\xA3x", "\xD9\xA3x"},                                 // Arabic-Indic three stays
        {"a--b", "a--b"},
        {"../..", ""},
        {"###", ""},
        {"6F1C2A34-5B6D", "6f1c2a34-5b6d"},
        {"e\xCC\x81/x", "e\xCC\x81-x"}, // a letter with its mark stays whole
        {"\xE0\xB5\x8E/x", "x"},        // a prepended letter carrying "/" is no folder name
    };
    for (const auto& c : cases) EXPECT_EQ(CollectCoordinator::safe(c.input), c.expected) << c.input;
}

TEST_F(CollectDownload, TwentyMebibytesInThreeRanges) {
    const std::string bytes = patternBytes(20 * MiB);
    source.addClip(clipA, bytes);
    const VELKClip clip = clipOf(clipA, bytes);
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());

    EXPECT_EQ(source.ranges(), (std::vector<std::string>{"0-8388607", "8388608-16777215", "16777216-20971519"}));
    EXPECT_EQ(events, (std::vector<Event>{{TransferPhase::downloading, 0, "Starting"},
                                          {TransferPhase::downloading, 8388608, "Downloading"},
                                          {TransferPhase::downloading, 16777216, "Downloading"},
                                          {TransferPhase::downloading, 20971520, "Downloading"},
                                          {TransferPhase::verifying, 20971520, "Checking SHA-256"},
                                          {TransferPhase::ready, 20971520, "Verified"}}));
    EXPECT_EQ(lastProgress.clipID, clipA);
    EXPECT_EQ(lastProgress.clipName, "clip.mov");
    EXPECT_EQ(lastProgress.deviceID, testing::sourceDeviceId);
    EXPECT_EQ(lastProgress.total, 20971520);

    const CollectDownloadResult& result = *outcome.result();
    const fs::path finalFile = folderOf(clip) / "clip.mov";
    EXPECT_EQ(result, (CollectDownloadResult{"Project 1", "Take 1", clipA, testing::sourceDeviceId, finalFile.string(), std::nullopt}));
    EXPECT_EQ(fs::path(result.localPath).parent_path(), root / "project-1" / "take-1" / "cam-a" / clipA);
    EXPECT_TRUE(readFile(finalFile) == bytes);
    EXPECT_FALSE(fs::exists(finalFile.string() + ".part"));
}

TEST_F(CollectDownload, ResumesFromThePartialFileOnDisk) {
    const std::string bytes = patternBytes(20 * MiB, 2);
    source.addClip(clipA, bytes);
    const VELKClip clip = clipOf(clipA, bytes);
    writeFile(folderOf(clip) / "clip.mov.part", bytes.substr(0, 10'000'000));
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());
    ASSERT_FALSE(source.ranges().empty());
    EXPECT_EQ(source.ranges().front(), "10000000-18388607");
    EXPECT_EQ(events.front(), (Event{TransferPhase::downloading, 10'000'000, "Resuming partial"}));
    EXPECT_TRUE(readFile(outcome.result()->localPath) == bytes);
}

TEST_F(CollectDownload, InterruptedDownloadKeepsEveryWrittenByteAndResumes) {
    const std::string bytes = patternBytes(3 * MiB + 5, 3);
    source.addClip(clipA, bytes);
    VELKClip clip = clipOf(clipA, bytes);
    source.failRangeAt = 0;
    EXPECT_EQ(failureOf(jobOf(clip)), "The network connection was lost.");
    EXPECT_EQ(fs::file_size(folderOf(clip) / "clip.mov.part"), 0u);

    // A partial left by an earlier run that ended mid-clip.
    writeFile(folderOf(clip) / "clip.mov.part", bytes.substr(0, MiB + 17));
    source.failRangeAt.reset();
    const std::size_t before = source.ranges().size();
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());
    const auto ranges = source.ranges();
    ASSERT_EQ(ranges.size(), before + 1);
    EXPECT_EQ(ranges.back(), std::to_string(MiB + 17) + "-" + std::to_string(bytes.size() - 1));
    EXPECT_TRUE(readFile(outcome.result()->localPath) == bytes);
}

TEST_F(CollectDownload, CompletePartialIsOnlyCheckedAndMoved) {
    const std::string bytes = patternBytes(4096, 4);
    source.addClip(clipA, bytes);
    const VELKClip clip = clipOf(clipA, bytes);
    writeFile(folderOf(clip) / "clip.mov.part", bytes);
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());
    EXPECT_TRUE(source.ranges().empty());
    EXPECT_EQ(events, (std::vector<Event>{{TransferPhase::downloading, 4096, "Resuming partial"},
                                          {TransferPhase::verifying, 4096, "Checking SHA-256"},
                                          {TransferPhase::ready, 4096, "Verified"}}));
}

TEST_F(CollectDownload, PartialLargerThanTheClipIsLeftAlone) {
    const std::string bytes = patternBytes(4096, 5);
    source.addClip(clipA, bytes);
    const VELKClip clip = clipOf(clipA, bytes);
    const std::string longer = bytes + "x";
    writeFile(folderOf(clip) / "clip.mov.part", longer);
    EXPECT_EQ(failureOf(jobOf(clip)), "Partial file is larger than catalog size.");
    EXPECT_EQ(readFile(folderOf(clip) / "clip.mov.part"), longer);
    EXPECT_TRUE(events.empty());
}

TEST_F(CollectDownload, ExistingGoodFileIsAcceptedWithoutAnyRequest) {
    const std::string bytes = patternBytes(4096, 6);
    source.addClip(clipA, bytes);
    VELKClip clip = clipOf(clipA, bytes);
    clip.sha256 = upper(clip.sha256);
    writeFile(folderOf(clip) / "clip.mov", bytes);
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());
    EXPECT_EQ(source.state->sentCount(), 0u);
    EXPECT_EQ(events, (std::vector<Event>{{TransferPhase::ready, 4096, "Verified"}}));
}

TEST_F(CollectDownload, ExistingOtherFileIsNeverOverwritten) {
    const std::string bytes = patternBytes(4096, 7);
    source.addClip(clipA, bytes);
    const VELKClip clip = clipOf(clipA, bytes);
    const std::string other = patternBytes(4096, 8);
    writeFile(folderOf(clip) / "clip.mov", other);
    writeFile(folderOf(clip) / "clip.mov.part", bytes);
    EXPECT_EQ(failureOf(jobOf(clip)), "Existing destination hash differs; move it before retrying.");
    EXPECT_EQ(readFile(folderOf(clip) / "clip.mov"), other);
    EXPECT_EQ(readFile(folderOf(clip) / "clip.mov.part"), bytes);
    EXPECT_EQ(source.state->sentCount(), 0u);
    EXPECT_TRUE(events.empty());
}

TEST_F(CollectDownload, WrongDigestEmptiesThePartialAndMovesNothing) {
    const std::string promised = patternBytes(3 * MiB, 9);
    const std::string served = patternBytes(3 * MiB, 10);
    source.addLyingClip(clipA, served, testing::digestOf(promised));
    const VELKClip clip = clipOf(clipA, promised);
    EXPECT_EQ(failureOf(jobOf(clip)), "Downloaded SHA-256 does not match the source catalog.");
    EXPECT_EQ(fs::file_size(folderOf(clip) / "clip.mov.part"), 0u);
    EXPECT_FALSE(fs::exists(folderOf(clip) / "clip.mov"));
    EXPECT_EQ(events.back(), (Event{TransferPhase::verifying, 3 * MiB, "Checking SHA-256"}));
}

TEST_F(CollectDownload, DigestWrittenWithSeparatorsStillVerifies) {
    const std::string bytes = patternBytes(2 * MiB, 11);
    source.addClip(clipA, bytes);
    VELKClip clip = clipOf(clipA, bytes);
    std::string separated;
    for (std::size_t i = 0; i < clip.sha256.size(); i += 2) {
        if (i) separated += (i % 4 == 0) ? ":" : "-";
        separated += upper(clip.sha256.substr(i, 2));
    }
    clip.sha256 = separated;
    auto first = runOne(jobOf(clip));
    ASSERT_TRUE(first.isSuccess()) << outcomeSentence(first.error());
    // The existing-file branch accepts the same copy again.
    auto second = runOne(jobOf(clip));
    ASSERT_TRUE(second.isSuccess()) << outcomeSentence(second.error());
    EXPECT_EQ(source.ranges().size(), 1u);
}

TEST_F(CollectDownload, IncompatibleClipsTouchNothing) {
    const std::string bytes = patternBytes(64, 12);
    source.addClip(clipA, bytes);
    struct Case {
        std::string name;
        std::function<void(CollectDownloadJob&)> change;
    };
    const std::vector<Case> cases{
        {"size zero", [](auto& job) { job.clip.sizeBytes = 0; }},
        {"size absent", [](auto& job) { job.clip.sizeBytes.reset(); }},
        {"no remote URL", [](auto& job) { job.clip.remoteURL.reset(); }},
        {"remote URL does not parse", [](auto& job) { job.clip.remoteURL = "https://[bad"; }},
        {"no device", [](auto& job) { job.clip.deviceId.reset(); }},
        {"another device", [](auto& job) { job.clip.deviceId = "fedcba9876543210"; }},
        {"empty file name", [](auto& job) { job.clip.fileName = ""; }},
        {"dot", [](auto& job) { job.clip.fileName = "."; }},
        {"dot dot", [](auto& job) { job.clip.fileName = ".."; }},
        {"slash", [](auto& job) { job.clip.fileName = "../../escape.mov"; }},
        {"NUL", [](auto& job) { job.clip.fileName = std::string("a\0b.mov", 7); }},
        {"256 bytes", [](auto& job) { job.clip.fileName = std::string(252, 'a') + ".mov"; }},
        {"project without safe form", [](auto& job) { job.projectID = "../.."; }},
        {"take without safe form", [](auto& job) { job.takeID = "#"; }},
        {"camera without safe form", [](auto& job) { job.clip.cameraId = " "; }},
        {"clip without safe form", [](auto& job) { job.clip.id = "--"; }},
    };
    for (const auto& c : cases) {
        CollectDownloadJob job = jobOf(clipOf(clipA, bytes));
        c.change(job);
        EXPECT_EQ(failureOf(job), "Clip has no compatible source or range metadata.") << c.name;
        EXPECT_TRUE(fs::is_empty(root)) << c.name;
    }
    EXPECT_EQ(source.state->sentCount(), 0u);
    EXPECT_TRUE(events.empty());
}

TEST_F(CollectDownload, RouteOfAnotherClipIsRefusedBeforeAnyFolder) {
    const std::string bytes = patternBytes(64, 13);
    VELKClip clip = clipOf(clipA, bytes);
    clip.remoteURL = filesURL + clipB;
    EXPECT_EQ(failureOf(jobOf(clip)), "Catalog file route does not match its immutable clip ID.");
    EXPECT_TRUE(fs::is_empty(root));
}

TEST_F(CollectDownload, SidecarIsWrittenVerifiedAndNeverFetchedTwice) {
    const std::string bytes = patternBytes(4096, 14);
    const std::string timing = R"({"anchors":[]})";
    source.addClip(clipA, bytes);
    source.addSidecar(clipA, timing);
    VELKClip clip = clipOf(clipA, bytes);
    clip.timingSidecarURL = "/velk/v1/files/" + clipA + ".timing.json"; // relative to the catalog URL
    clip.timingSidecarSHA256 = upper(testing::digestOf(timing));

    auto first = runOne(jobOf(clip));
    ASSERT_TRUE(first.isSuccess()) << outcomeSentence(first.error());
    const fs::path sidecar = folderOf(clip) / "clip.mov.timing.json";
    EXPECT_EQ(first.result()->timingLocalPath, sidecar.string());
    EXPECT_EQ(readFile(sidecar), timing);
    EXPECT_FALSE(fs::exists(sidecar.string() + ".part"));

    auto second = runOne(jobOf(clip));
    ASSERT_TRUE(second.isSuccess()) << outcomeSentence(second.error());
    EXPECT_EQ(second.result()->timingLocalPath, sidecar.string());
    EXPECT_EQ(source.requestsTo(".timing.json"), 1u);
    EXPECT_EQ(source.ranges().size(), 1u);
}

TEST_F(CollectDownload, LeftOverSidecarBeingWrittenIsReplaced) {
    const std::string bytes = patternBytes(4096, 15);
    const std::string timing = R"({"anchors":[1]})";
    source.addClip(clipA, bytes);
    source.addSidecar(clipA, timing);
    VELKClip clip = clipOf(clipA, bytes);
    clip.timingSidecarURL = filesURL + clipA + ".timing.json";
    clip.timingSidecarSHA256 = testing::digestOf(timing);
    writeFile(folderOf(clip) / "clip.mov.timing.json.part", "stale bytes of an earlier attempt");
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());
    EXPECT_EQ(readFile(folderOf(clip) / "clip.mov.timing.json"), timing);
}

TEST_F(CollectDownload, SidecarWithoutDigestIsNotFetched) {
    const std::string bytes = patternBytes(4096, 16);
    source.addClip(clipA, bytes);
    VELKClip clip = clipOf(clipA, bytes);
    clip.timingSidecarURL = filesURL + clipA + ".timing.json";
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << outcomeSentence(outcome.error());
    EXPECT_EQ(outcome.result()->timingLocalPath, std::nullopt);
    EXPECT_EQ(source.requestsTo(".timing.json"), 0u);
}

TEST_F(CollectDownload, BadExistingSidecarFailsAGoodClip) {
    const std::string bytes = patternBytes(4096, 17);
    source.addClip(clipA, bytes);
    source.addSidecar(clipA, "{}");
    VELKClip clip = clipOf(clipA, bytes);
    clip.timingSidecarURL = filesURL + clipA + ".timing.json";
    clip.timingSidecarSHA256 = testing::digestOf("{}");
    writeFile(folderOf(clip) / "clip.mov.timing.json", "{ }");
    EXPECT_EQ(failureOf(jobOf(clip)), "Local copy changed or failed SHA-256 verification.");
    EXPECT_TRUE(readFile(folderOf(clip) / "clip.mov") == bytes);
    EXPECT_EQ(source.requestsTo(".timing.json"), 0u);
    EXPECT_NE(events.back().message, "Verified");
}

TEST_F(CollectDownload, UnparsableSidecarURLLeavesTheClipInPlace) {
    const std::string bytes = patternBytes(4096, 18);
    source.addClip(clipA, bytes);
    VELKClip clip = clipOf(clipA, bytes);
    clip.timingSidecarURL = "https://[::1";
    clip.timingSidecarSHA256 = testing::digestOf("{}");
    EXPECT_EQ(failureOf(jobOf(clip)), "Timing sidecar URL is invalid.");
    EXPECT_TRUE(readFile(folderOf(clip) / "clip.mov") == bytes);
}

TEST_F(CollectDownload, RunKeepsJobOrderAndGoesOnAfterAFailure) {
    const std::string a = patternBytes(1000, 19);
    const std::string b = patternBytes(1000, 20);
    const std::string c = patternBytes(1000, 21);
    source.addClip(clipA, a);
    source.addClip(clipC, c);
    VELKClip failing = clipOf(clipB, b);
    failing.deviceId = "fedcba9876543210";
    const std::vector<CollectDownloadJob> jobs{jobOf(clipOf(clipA, a)), jobOf(failing), jobOf(clipOf(clipC, c))};
    auto outcomes = CollectCoordinator::run(jobs, 2, [](const CollectDownloadProgress&) {});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(outcomes[0].isSuccess());
    EXPECT_EQ(outcomes[0].result()->clipID, clipA);
    ASSERT_FALSE(outcomes[1].isSuccess());
    EXPECT_EQ(outcomes[1].job()->clip.id, clipB);
    EXPECT_EQ(outcomeSentence(outcomes[1].error()), "Clip has no compatible source or range metadata.");
    EXPECT_TRUE(outcomes[2].isSuccess());
    EXPECT_EQ(outcomes[2].result()->clipID, clipC);
}

TEST_F(CollectDownload, EmptyRunSendsNothing) {
    bool called = false;
    EXPECT_TRUE(CollectCoordinator::run({}, 2, [&](const CollectDownloadProgress&) { called = true; }).empty());
    EXPECT_FALSE(called);
}

// The most range requests in flight at once while four clips download with the given bound. Each
// request waits briefly for a second one to join it, so a bound of two is seen as two.
int mostRequestsAtOnce(FakeClipSource& source, const std::vector<CollectDownloadJob>& jobs, int maximumConcurrent) {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    int most = 0;
    auto serve = source.state->handler;
    source.state->handler = [&, serve](const HttpsRequest& request) {
        {
            std::unique_lock lock(mutex);
            most = std::max(most, ++inFlight);
            changed.notify_all();
            changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return inFlight >= 2; });
        }
        HttpsResponse response = serve(request);
        std::lock_guard lock(mutex);
        --inFlight;
        return response;
    };
    auto outcomes = CollectCoordinator::run(jobs, maximumConcurrent, [](const CollectDownloadProgress&) {});
    for (const auto& outcome : outcomes) EXPECT_TRUE(outcome.isSuccess());
    source.state->handler = serve;
    return most;
}

TEST_F(CollectDownload, AtMostTwoDownloadsRunAtOnce) {
    std::vector<VELKClip> clips;
    const std::vector<std::string> ids{clipA, clipB, clipC, "9c4f5d67-8e90-41a2-bdce-3f4a5b6c7d8e"};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string bytes = patternBytes(512, 30 + static_cast<unsigned>(i));
        source.addClip(ids[i], bytes);
        clips.push_back(clipOf(ids[i], bytes, "Cam " + std::to_string(i)));
    }
    auto jobsIn = [&](const std::string& take) {
        std::vector<CollectDownloadJob> jobs;
        for (const auto& clip : clips) {
            CollectDownloadJob job = jobOf(clip);
            job.takeID = take;
            jobs.push_back(job);
        }
        return jobs;
    };
    EXPECT_EQ(mostRequestsAtOnce(source, jobsIn("zero"), 0), 1);
    EXPECT_EQ(mostRequestsAtOnce(source, jobsIn("one"), 1), 1);
    EXPECT_EQ(mostRequestsAtOnce(source, jobsIn("hundred"), 100), 2);
}

// --- open sources ---

DeviceCatalog catalogOf(const std::string& deviceId, std::int64_t schemaVersion = 1) {
    DeviceCatalog catalog;
    catalog.schemaVersion = schemaVersion;
    catalog.deviceId = deviceId;
    catalog.deviceName = "Stage Left";
    catalog.catalogRevision = 1;
    CatalogClip clip;
    clip.clipId = clipA;
    clip.cameraId = "cam-a";
    clip.fileName = "clip.mov";
    clip.sizeBytes = 10;
    clip.sha256 = testing::digestOf("0123456789");
    clip.downloadURL = "/velk/v1/files/" + clipA;
    clip.finalized = true;
    clip.mediaKind = "video";
    clip.hasVideo = true;
    CatalogTake take;
    take.takeId = "take-1";
    take.clips.push_back(clip);
    catalog.unassignedTakes = std::vector<CatalogTake>{take};
    return catalog;
}

class OpenSources : public ::testing::Test {
protected:
    OpenSources() {
        environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
        // One fake session per client, as each client has its own connection.
        environment.makeSession = [this](std::string_view) {
            auto state = std::make_shared<testing::FakeHttpsState>();
            state->handler = [this](const HttpsRequest& request) {
                std::lock_guard lock(catalogsMutex);
                auto found = catalogs.find(request.url);
                if (found == catalogs.end()) return testing::reply(404);
                return testing::reply(200, found->second);
            };
            std::lock_guard lock(catalogsMutex);
            sessions.push_back(state);
            return std::make_unique<testing::FakeHttpsSession>(state);
        };
    }

    DiscoveredDevice deviceAt(int n, const std::string& deviceId) {
        DiscoveredDevice device = FakeClipSource::device(deviceId, "Phone " + std::to_string(n));
        device.catalogURL = "https://phone" + std::to_string(n) + ".local:8443/velk/v1/catalog";
        return device;
    }

    void serve(const DiscoveredDevice& device, const std::string& body) {
        std::lock_guard lock(catalogsMutex);
        catalogs[device.catalogURL] = body;
    }

    std::vector<std::string> requestedURLs() {
        std::vector<std::string> urls;
        for (const auto& session : sessions) {
            std::lock_guard lock(session->mutex);
            for (const auto& request : session->sent) urls.push_back(request.url);
        }
        return urls;
    }

    TransferClientEnvironment environment;
    std::mutex catalogsMutex;
    std::map<std::string, std::string> catalogs;
    std::vector<std::shared_ptr<testing::FakeHttpsState>> sessions;
};

TEST_F(OpenSources, NothingOpenMeansNoRequest) {
    EXPECT_TRUE(CollectCoordinator::loadOpenSources({}, 2, environment).empty());
    DiscoveredDevice paired = deviceAt(1, testing::sourceDeviceId);
    paired.transferAccess = "paired";
    EXPECT_TRUE(CollectCoordinator::loadOpenSources({paired, paired}, 2, environment).empty());
    EXPECT_TRUE(sessions.empty());
}

TEST_F(OpenSources, AtMostEightInInputOrder) {
    std::vector<DiscoveredDevice> devices;
    DiscoveredDevice paired = deviceAt(99, testing::sourceDeviceId);
    paired.transferAccess = "paired";
    devices.push_back(paired);
    for (int n = 0; n < 10; ++n) {
        char id[17];
        std::snprintf(id, sizeof id, "00000000000000%02d", n);
        devices.push_back(deviceAt(n, id));
        serve(devices.back(), encodeCatalog(catalogOf(id)));
    }
    auto outcomes = CollectCoordinator::loadOpenSources(devices, 5, environment);
    ASSERT_EQ(outcomes.size(), 8u);
    for (int n = 0; n < 8; ++n) {
        EXPECT_TRUE(outcomes[n].isSuccess()) << n;
        EXPECT_EQ(outcomes[n].device().serviceName, "Phone " + std::to_string(n));
        EXPECT_EQ(outcomes[n].catalog()->deviceId, outcomes[n].client()->deviceId());
    }
    const auto urls = requestedURLs();
    EXPECT_EQ(urls.size(), 8u);
    for (const auto& url : urls) {
        EXPECT_TRUE(url.find("phone8.") == std::string::npos && url.find("phone9.") == std::string::npos) << url;
    }
}

TEST_F(OpenSources, FailuresAreOutcomesAndLeaveNoOpenClient) {
    const DiscoveredDevice good = deviceAt(1, "00000000000000a1");
    serve(good, encodeCatalog(catalogOf("00000000000000a1")));
    const DiscoveredDevice impostor = deviceAt(2, "00000000000000a2");
    serve(impostor, encodeCatalog(catalogOf("00000000000000ff")));
    const DiscoveredDevice future = deviceAt(3, "00000000000000a3");
    serve(future, encodeCatalog(catalogOf("00000000000000a3", 2)));
    const DiscoveredDevice garbled = deviceAt(4, "00000000000000a4");
    serve(garbled, "{\"schemaVersion\": 1");
    DiscoveredDevice unreachable = deviceAt(5, "00000000000000A5"); // not a canonical device id
    const DiscoveredDevice missing = deviceAt(6, "00000000000000a6");

    auto outcomes = CollectCoordinator::loadOpenSources({good, impostor, future, garbled, unreachable, missing}, 1, environment);
    ASSERT_EQ(outcomes.size(), 6u);
    EXPECT_TRUE(outcomes[0].isSuccess());
    EXPECT_EQ(outcomeSentence(outcomes[1].error()), "Catalog device identity differs from the advertised source.");
    EXPECT_EQ(outcomeSentence(outcomes[2].error()), "Unsupported catalog version.");
    EXPECT_THROW(std::rethrow_exception(outcomes[3].error()), JsonError);
    EXPECT_EQ(outcomeSentence(outcomes[4].error()), "This source is not advertising open project sharing.");
    try {
        std::rethrow_exception(outcomes[5].error());
    } catch (const TransferProtocolError& error) {
        EXPECT_EQ(error.status(), 404);
    }
    for (std::size_t i = 1; i < outcomes.size(); ++i) {
        EXPECT_FALSE(outcomes[i].isSuccess());
        EXPECT_EQ(outcomes[i].client(), nullptr);
    }
    // Every client made was closed except the good one; the unreachable source was never asked.
    ASSERT_EQ(sessions.size(), 5u);
    EXPECT_FALSE(sessions[0]->invalidated);
    for (std::size_t i = 1; i < sessions.size(); ++i) EXPECT_TRUE(sessions[i]->invalidated) << i;
    for (const auto& url : requestedURLs()) EXPECT_EQ(url.find("phone5."), std::string::npos);
}

} // namespace
} // namespace velk
