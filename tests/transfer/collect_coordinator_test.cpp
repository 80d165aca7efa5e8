#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "fake_clip_source.hpp"
#include "support/milestones.hpp"
#include "support/refused_calls.hpp"
#include "support/small_disk.hpp"
#include "model/catalog.hpp"
#include "test_peers.hpp"
#include "transfer/clip_files.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

using namespace velk::testing;
namespace fs = std::filesystem;

constexpr std::int64_t MiB = 1'048'576;
const std::string clipA = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
const std::string clipB = "7a2d3b45-6c7e-4f80-9bac-1d2e3f4a5b6c";
const std::string clipC = "8b3e4c56-7d8f-4091-acbd-2e3f4a5b6c7d";
const std::string filesURL = "https://phone.local:8443/velk/v1/files/";

struct Event {
    TransferPhase phase;
    std::int64_t completed;
    std::string message;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& event) {
    return out << rawValue(event.phase) << " " << event.completed << " " << event.message;
}

TEST(CollectSafeNames, FollowTheFolderRule) {
    const std::vector<std::pair<std::string, std::string>> cases{
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
        {"Cam \U0001F3A5 2", "cam---2"}, {"__x__", "__x__"}, {"\u0663\u00bd", "\u0663\u00bd"}, {"", ""},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(CollectCoordinator::safe(input), expected) << input;
}

class CollectDownload : public ::testing::Test {
protected:
    VELKClip clipOf(const std::string& id, const std::string& bytes, const std::string& cameraId = "Cam A") {
        return VELKClip{.id = id, .cameraId = cameraId, .fileName = "clip.mov", .remoteURL = filesURL + id,
                        .sizeBytes = static_cast<std::int64_t>(bytes.size()), .sha256 = digestOf(bytes), .deviceId = sourceDeviceId};
    }
    CollectDownloadJob jobOf(const VELKClip& clip) {
        if (!client) client = source.openClient();
        return CollectDownloadJob{"Project 1", "Take 1", clip, client, root};
    }
    // "Project 1", "Take 1" and "Cam A" as folders; clip ids here are their own folder names.
    fs::path folderOf(const VELKClip& clip) { return root / "project-1" / "take-1" / "cam-a" / clip.id; }

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
        const auto outcome = runOne(job);
        return outcome.isSuccess() ? "succeeded" : failureText(outcome.error());
    }

    TempDir dir;
    fs::path root = dir.path() / "Velk";
    FakeClipSource source;
    std::shared_ptr<AuthenticatedTransferClient> client;
    std::mutex eventsMutex;
    std::vector<Event> events;
    CollectDownloadProgress lastProgress;
};

TEST_F(CollectDownload, TwentyMebibytesInThreeRanges) {
    const std::string bytes = patternBytes(20 * MiB);
    source.addClip(clipA, bytes);
    const VELKClip clip = clipOf(clipA, bytes);
    auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << failureText(outcome.error());

    EXPECT_EQ(source.ranges(), (std::vector<std::string>{"0-8388607", "8388608-16777215", "16777216-20971519"}));
    EXPECT_EQ(events, (std::vector<Event>{{TransferPhase::downloading, 0, "Starting"},
                                          {TransferPhase::downloading, 8388608, "Downloading"},
                                          {TransferPhase::downloading, 16777216, "Downloading"},
                                          {TransferPhase::downloading, 20971520, "Downloading"},
                                          {TransferPhase::verifying, 20971520, "Checking SHA-256"},
                                          {TransferPhase::ready, 20971520, "Verified"}}));
    EXPECT_EQ(lastProgress.clipID, clipA);
    EXPECT_EQ(lastProgress.clipName, "clip.mov");
    EXPECT_EQ(lastProgress.deviceID, sourceDeviceId);
    EXPECT_EQ(lastProgress.total, 20971520);

    const fs::path finalFile = root / "project-1" / "take-1" / "cam-a" / clipA / "clip.mov";
    EXPECT_EQ(*outcome.result(), (CollectDownloadResult{"Project 1", "Take 1", clipA, sourceDeviceId, finalFile.string(), std::nullopt}));
    EXPECT_TRUE(readFile(finalFile) == bytes);
    EXPECT_FALSE(fs::exists(finalFile.string() + ".part"));
}

// What is on disk before a download, and what the download leaves there.
TEST_F(CollectDownload, FilesAlreadyOnDisk) {
    enum class Match { none, all, first, last };
    const std::string part = "clip.mov.part", final = "clip.mov", timing = "clip.mov.timing.json";
    const std::string tenMiB = patternBytes(10 * MiB, 2), twoMiB = patternBytes(2 * MiB, 9), small = patternBytes(4096, 4);
    const std::string other = patternBytes(4096, 8), served = "{\"anchors\":[1]}";
    using Files = std::vector<std::pair<std::string, std::optional<std::string>>>; // none: no such file
    auto withSidecar = [&](std::string url, std::optional<std::string> digest) {
        return [=](VELKClip& clip) {
            clip.timingSidecarURL = url;
            clip.timingSidecarSHA256 = digest;
        };
    };
    const auto sidecarURL = filesURL + clipA + ".timing.json";
    struct Case {
        std::string name;
        std::string bytes;
        Files before;
        std::function<void(VELKClip&)> change;
        std::string outcome;
        std::vector<std::string> ranges;
        Files after;
        std::vector<Event> events = {};
        Match match = Match::none;
        std::size_t sidecarRequests = 0;
    };
    const std::vector<Case> cases = {
        {"partial resumes", tenMiB, {{part, tenMiB.substr(0, 1'000'017)}}, nullptr, "succeeded", {"1000017-9388624", "9388625-10485759"},
         {{final, tenMiB}, {part, std::nullopt}}, {{TransferPhase::downloading, 1'000'017, "Resuming partial"}}, Match::first},
        {"complete partial is only checked and moved", small, {{part, small}}, nullptr, "succeeded", {}, {{final, small}},
         {{TransferPhase::downloading, 4096, "Resuming partial"},
          {TransferPhase::verifying, 4096, "Checking SHA-256"},
          {TransferPhase::ready, 4096, "Verified"}}, Match::all},
        {"partial larger than the clip", small, {{part, small + "x"}}, nullptr, "Partial file is larger than catalog size.", {},
         {{part, small + "x"}, {final, std::nullopt}}, {}, Match::all},
        {"bytes the phone never sent", twoMiB, {{part, std::string(700'000, 'x')}}, nullptr,
         "Downloaded SHA-256 does not match the source catalog.", {"700000-2097151"}, {{part, ""}, {final, std::nullopt}},
         {{TransferPhase::verifying, 2 * MiB, "Checking SHA-256"}}, Match::last},
        {"digest with separators verifies", small, {}, [](VELKClip& c) { c.sha256 = separatedDigest(c.sha256, ":"); },
         "succeeded", {"0-4095"}, {{final, small}}},
        {"existing good file, digest with separators", small, {{final, small}},
         [](VELKClip& c) { c.sha256 = separatedDigest(c.sha256, "-"); }, "succeeded", {}, {{final, small}},
         {{TransferPhase::ready, 4096, "Verified"}}, Match::all},
        {"existing other file is never overwritten", small, {{final, other}, {part, small}}, nullptr,
         "Existing destination hash differs; move it before retrying.", {}, {{final, other}, {part, small}}, {}, Match::all},
        {"left-over sidecar part is replaced", small, {{timing + ".part", "stale bytes of an earlier attempt"}},
         withSidecar(sidecarURL, digestOf(served)), "succeeded", {"0-4095"}, {{timing, served}, {timing + ".part", std::nullopt}},
         {}, Match::none, 1},
        {"bad existing sidecar fails a good clip", small, {{timing, "{ }"}}, withSidecar(sidecarURL, digestOf(served)),
         "Local copy changed or failed SHA-256 verification.", {"0-4095"}, {{final, small}, {timing, "{ }"}},
         {{TransferPhase::verifying, 4096, "Checking SHA-256"}}, Match::last},
        {"unparsable sidecar URL", small, {}, withSidecar("https://[::1", digestOf(served)), "Timing sidecar URL is invalid.",
         {"0-4095"}, {{final, small}, {timing, std::nullopt}}},
        {"sidecar without digest is not fetched", small, {}, withSidecar(sidecarURL, std::nullopt), "succeeded", {"0-4095"},
         {{final, small}, {timing, std::nullopt}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        events.clear();
        FakeClipSource phone;
        phone.addClip(clipA, c.bytes);
        phone.addSidecar(clipA, served);
        VELKClip clip = clipOf(clipA, c.bytes);
        if (c.change) c.change(clip);
        for (const auto& [name, bytes] : c.before) writeFile(folderOf(clip) / name, *bytes);
        const auto outcome = runOne(CollectDownloadJob{"Project 1", "Take 1", clip, phone.openClient(), root});
        EXPECT_EQ(outcome.isSuccess() ? "succeeded" : failureText(outcome.error()), c.outcome);
        if (outcome.isSuccess()) {
            EXPECT_EQ(outcome.result()->timingLocalPath.has_value(), fs::exists(folderOf(clip) / timing));
        }
        EXPECT_EQ(phone.ranges(), c.ranges);
        EXPECT_EQ(phone.requestsTo(".timing.json"), c.sidecarRequests);
        for (const auto& [name, bytes] : c.after) {
            EXPECT_EQ(fs::exists(folderOf(clip) / name), bytes.has_value()) << name;
            EXPECT_TRUE(!bytes || readFile(folderOf(clip) / name) == *bytes) << name;
        }
        if (c.match == Match::all) {
            EXPECT_EQ(events, c.events);
        } else if (c.match != Match::none) {
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(c.match == Match::first ? events.front() : events.back(), c.events.front());
        }
    }
}

TEST_F(CollectDownload, LostConnectionKeepsThePartial) {
    const std::string bytes = patternBytes(3 * MiB + 5, 3);
    source.addClip(clipA, bytes);
    source.failRangeAt = 0;
    const VELKClip clip = clipOf(clipA, bytes);
    EXPECT_EQ(failureOf(jobOf(clip)), "The network connection was lost.");
    EXPECT_EQ(fs::file_size(folderOf(clip) / "clip.mov.part"), 0u);
}

TEST_F(CollectDownload, SidecarIsWrittenVerifiedAndNeverFetchedTwice) {
    const std::string bytes = patternBytes(4096, 14);
    const std::string timing = R"({"anchors":[]})";
    source.addClip(clipA, bytes);
    source.addSidecar(clipA, timing);
    VELKClip clip = clipOf(clipA, bytes);
    clip.timingSidecarURL = "/velk/v1/files/" + clipA + ".timing.json"; // relative to the catalog URL
    clip.timingSidecarSHA256 = upper(digestOf(timing));
    const fs::path sidecar = folderOf(clip) / "clip.mov.timing.json";
    for (int run = 0; run < 2; ++run) {
        auto outcome = runOne(jobOf(clip));
        ASSERT_TRUE(outcome.isSuccess()) << failureText(outcome.error());
        EXPECT_EQ(outcome.result()->timingLocalPath, sidecar.string());
    }
    EXPECT_EQ(readFile(sidecar), timing);
    EXPECT_FALSE(fs::exists(sidecar.string() + ".part"));
    EXPECT_EQ(source.requestsTo(".timing.json"), 1u);
    EXPECT_EQ(source.ranges().size(), 1u);
}

TEST_F(CollectDownload, IncompatibleClipsTouchNothing) {
    const std::string bytes = patternBytes(64, 12);
    source.addClip(clipA, bytes);
    struct Case {
        std::string name;
        std::function<void(CollectDownloadJob&)> change;
        std::string sentence = "Clip has no compatible source or range metadata.";
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
        {"route of another clip", [](auto& job) { job.clip.remoteURL = filesURL + clipB; },
         "Catalog file route does not match its immutable clip ID."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CollectDownloadJob job = jobOf(clipOf(clipA, bytes));
        c.change(job);
        EXPECT_EQ(failureOf(job), c.sentence);
        EXPECT_FALSE(fs::exists(root));
    }
    EXPECT_EQ(source.state->sentCount(), 0u);
    EXPECT_TRUE(events.empty());
}

TEST_F(CollectDownload, RunKeepsJobOrderAndGoesOnAfterAFailure) {
    bool called = false;
    EXPECT_TRUE(CollectCoordinator::run({}, 2, [&](const CollectDownloadProgress&) { called = true; }).empty());
    EXPECT_FALSE(called);

    const std::string a = patternBytes(1000, 19), b = patternBytes(1000, 20), c = patternBytes(1000, 21);
    source.addClip(clipA, a);
    source.addClip(clipC, c);
    VELKClip failing = clipOf(clipB, b);
    failing.deviceId = "fedcba9876543210";
    auto outcomes = CollectCoordinator::run({jobOf(clipOf(clipA, a)), jobOf(failing), jobOf(clipOf(clipC, c))}, 2,
                                            [](const CollectDownloadProgress&) {});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].result()->clipID, clipA);
    ASSERT_FALSE(outcomes[1].isSuccess());
    EXPECT_EQ(outcomes[1].job()->clip.id, clipB);
    EXPECT_EQ(failureText(outcomes[1].error()), "Clip has no compatible source or range metadata.");
    EXPECT_EQ(outcomes[2].result()->clipID, clipC);
}

TEST_F(CollectDownload, AtMostTwoDownloadsRunAtOnce) {
    std::vector<VELKClip> clips;
    const std::vector<std::string> ids{clipA, clipB, clipC, "9c4f5d67-8e90-41a2-bdce-3f4a5b6c7d8e"};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string bytes = patternBytes(512, 30 + static_cast<unsigned>(i));
        source.addClip(ids[i], bytes);
        clips.push_back(clipOf(ids[i], bytes, "Cam " + std::to_string(i)));
    }
    // Each range request waits briefly for a second one to join it, so a bound of two is seen as two.
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0, most = 0;
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
    for (const auto& [bound, expected] : std::vector<std::pair<int, int>>{{0, 1}, {1, 1}, {100, 2}}) {
        SCOPED_TRACE(bound);
        std::vector<CollectDownloadJob> jobs;
        for (const auto& clip : clips) {
            jobs.push_back(jobOf(clip));
            jobs.back().takeID = "bound " + std::to_string(bound);
        }
        most = 0;
        for (const auto& outcome : CollectCoordinator::run(jobs, bound, [](const CollectDownloadProgress&) {})) {
            EXPECT_TRUE(outcome.isSuccess());
        }
        EXPECT_EQ(most, expected);
    }
}

// Jobs listed phone by phone (two clips of the left phone, then two of the right one): the first
// two downloads at once go to the two phones. The first range request is held until a second one
// has been asked for. Outcomes stay in job order.
TEST_F(CollectDownload, TwoDownloadsAtOnceGoToTwoPhones) {
    FakeClipSource right;
    const std::string rightDeviceId = "fedcba9876543210";
    const std::vector<std::string> ids{clipA, clipB, clipC, "9c4f5d67-8e90-41a2-bdce-3f4a5b6c7d8e"};
    Milestones moments;
    std::mutex mutex;
    std::vector<std::string> firstTwo;
    const auto holdFirst = [&](FakeClipSource& phone, const std::string& name) {
        auto serve = phone.state->handler;
        phone.state->handler = [&, serve, name](const HttpsRequest& request) {
            bool hold = false;
            {
                std::lock_guard lock(mutex);
                if (firstTwo.size() < 2) firstTwo.push_back(name);
                hold = firstTwo.size() < 2;
            }
            if (hold) {
                moments.waitFor("second asked");
            } else {
                moments.reach("second asked");
            }
            return serve(request);
        };
    };
    holdFirst(source, "left");
    holdFirst(right, "right");
    const auto rightClient = right.openClient(rightDeviceId);
    std::vector<CollectDownloadJob> jobs;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string bytes = patternBytes(1000, 50 + static_cast<unsigned>(i));
        const bool onRight = i >= 2;
        (onRight ? right : source).addClip(ids[i], bytes);
        VELKClip clip = clipOf(ids[i], bytes, "Cam " + std::to_string(i));
        if (onRight) clip.deviceId = rightDeviceId;
        jobs.push_back(onRight ? CollectDownloadJob{"Project 1", "Take 1", clip, rightClient, root} : jobOf(clip));
    }

    const auto outcomes = CollectCoordinator::run(jobs, 2, [](const CollectDownloadProgress&) {});
    std::sort(firstTwo.begin(), firstTwo.end());
    EXPECT_EQ(firstTwo, (std::vector<std::string>{"left", "right"}));
    ASSERT_EQ(outcomes.size(), ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(outcomes[i].isSuccess()) << failureText(outcomes[i].error());
        EXPECT_EQ(outcomes[i].result()->clipID, ids[i]);
    }
    EXPECT_EQ(source.ranges().size(), 2u);
    EXPECT_EQ(right.ranges().size(), 2u);
}

// --- one clip finished while the next is fetched ---

// Two jobs run one at a time: A (with a sidecar, or with `partialOfA` on disk) and B. `hold` sees
// every request before it is answered.
class OverlappedRun : public CollectDownload {
protected:
    std::vector<CollectDownloadOutcome> runBoth(std::function<void(const HttpsRequest&)> hold,
                                                const std::optional<std::string>& partialOfA = std::nullopt) {
        source.addClip(clipA, a);
        source.addSidecar(clipA, "{}");
        source.addClip(clipB, b);
        VELKClip first = clipOf(clipA, a);
        if (partialOfA) {
            writeFile(folderOf(first) / "clip.mov.part", *partialOfA);
        } else {
            first.timingSidecarURL = filesURL + clipA + ".timing.json";
            first.timingSidecarSHA256 = digestOf("{}");
        }
        auto serve = source.state->handler;
        source.state->handler = [hold, serve](const HttpsRequest& request) {
            hold(request);
            return serve(request);
        };
        return CollectCoordinator::run({jobOf(first), jobOf(clipOf(clipB, b))}, 1, [this](const CollectDownloadProgress& p) {
            if (p.clipID == clipA && p.phase == TransferPhase::verifying) moments.reach("A checked");
        }, &cancellation);
    }
    const std::string a = patternBytes(3 * MiB, 40), b = patternBytes(MiB, 41);
    Milestones moments;
    CancellationToken cancellation;
};

// Even one download at a time, a clip's finish overlaps the next clip's fetch: A's sidecar request
// is held until B's first range has been asked for.
TEST_F(OverlappedRun, NextClipIsFetchedWhileThePreviousIsFinished) {
    bool overlapped = false;
    auto outcomes = runBoth([&](const HttpsRequest& request) {
        if (request.url.ends_with(clipB)) moments.reach("B asked for");
        if (request.url.ends_with(".timing.json")) overlapped = moments.waitFor("B asked for");
    });
    EXPECT_TRUE(overlapped);
    ASSERT_TRUE(outcomes[0].isSuccess() && outcomes[1].isSuccess());
    EXPECT_EQ(outcomes[0].result()->timingLocalPath, (folderOf(clipOf(clipA, a)) / "clip.mov.timing.json").string());
}

// A's check fails (its complete partial holds other bytes) beside B's fetch: A's own outcome, as
// before, its partial emptied; B goes on.
TEST_F(OverlappedRun, FinishThatFailsBesideTheNextFetchIsItsOwnOutcome) {
    auto outcomes = runBoth([&](const HttpsRequest&) { moments.waitFor("A checked"); }, std::string(3 * MiB, 'z'));
    ASSERT_FALSE(outcomes[0].isSuccess());
    EXPECT_EQ(failureText(outcomes[0].error()), "Downloaded SHA-256 does not match the source catalog.");
    EXPECT_EQ(readFile(folderOf(clipOf(clipA, a)) / "clip.mov.part"), "");
    EXPECT_TRUE(outcomes[1].isSuccess());
}

// Cancelled while A's sidecar and B's first range are both under way: both stop, and the run
// returns with both failed; A's copy stays in place and B's partial for a resume.
TEST_F(OverlappedRun, CancelledWhileOneClipIsFinishedAndTheNextFetched) {
    bool bothUnderWay = false;
    std::thread canceller([&] {
        bothUnderWay = moments.waitFor("sidecar") && moments.waitFor("range");
        cancellation.cancel();
    });
    auto outcomes = runBoth([&](const HttpsRequest& request) {
        const bool sidecar = request.url.ends_with(".timing.json");
        if (!sidecar && !request.url.ends_with(clipB)) return;
        moments.reach(sidecar ? "sidecar" : "range");
        request.cancellation->waitFor(10'000'000'000);
        throw HttpsTransportError(HttpsErrorKind::cancelled, "The request was cancelled.");
    });
    canceller.join();
    EXPECT_TRUE(bothUnderWay);
    for (const auto& outcome : outcomes) EXPECT_EQ(failureText(outcome.error()), "The request was cancelled.");
    EXPECT_EQ(readFile(folderOf(clipOf(clipA, a)) / "clip.mov"), a);
    EXPECT_TRUE(fs::exists(folderOf(clipOf(clipB, b)) / "clip.mov.part"));
}

// --- open sources ---

DeviceCatalog catalogOf(const std::string& deviceId, std::int64_t schemaVersion = 1) {
    const CatalogClip clip{.clipId = clipA, .cameraId = "cam-a", .fileName = "clip.mov", .sizeBytes = 10,
                           .sha256 = digestOf("0123456789"), .downloadURL = "/velk/v1/files/" + clipA, .finalized = true,
                           .mediaKind = "video", .hasVideo = true};
    DeviceCatalog catalog{.schemaVersion = schemaVersion, .deviceId = deviceId, .deviceName = "Stage Left", .catalogRevision = 1};
    catalog.unassignedTakes = std::vector<CatalogTake>{CatalogTake{.takeId = "take-1", .clips = {clip}}};
    return catalog;
}

class OpenSources : public ::testing::Test {
protected:
    OpenSources() {
        environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
        // One fake session per client, as each client has its own connection.
        environment.makeSession = [this](std::string_view) {
            auto state = std::make_shared<FakeHttpsState>();
            state->handler = [this](const HttpsRequest& request) {
                std::lock_guard lock(catalogsMutex);
                auto found = catalogs.find(request.url);
                return found == catalogs.end() ? reply(404) : reply(200, found->second);
            };
            std::lock_guard lock(catalogsMutex);
            sessions.push_back(state);
            return std::make_unique<FakeHttpsSession>(state);
        };
    }

    DiscoveredDevice deviceAt(int n, const std::string& deviceId, const std::string& body = {}) {
        DiscoveredDevice device = FakeClipSource::device(deviceId, "Phone " + std::to_string(n));
        device.catalogURL = "https://phone" + std::to_string(n) + ".local:8443/velk/v1/catalog";
        std::lock_guard lock(catalogsMutex);
        if (!body.empty()) catalogs[device.catalogURL] = body;
        return device;
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
    std::vector<std::shared_ptr<FakeHttpsState>> sessions;
};

TEST_F(OpenSources, AtMostEightOpenSourcesInInputOrder) {
    EXPECT_TRUE(CollectCoordinator::loadOpenSources({}, 2, environment).empty());
    DiscoveredDevice paired = deviceAt(99, sourceDeviceId);
    paired.transferAccess = "paired";
    EXPECT_TRUE(CollectCoordinator::loadOpenSources({paired, paired}, 2, environment).empty());
    EXPECT_TRUE(sessions.empty());

    std::vector<DiscoveredDevice> devices{paired};
    for (int n = 0; n < 10; ++n) {
        const std::string id = "00000000000000" + std::to_string(10 + n);
        devices.push_back(deviceAt(n, id, encodeCatalog(catalogOf(id))));
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
    for (const auto& url : urls) EXPECT_TRUE(url.find("phone8.") == std::string::npos && url.find("phone9.") == std::string::npos) << url;
}

TEST_F(OpenSources, FailuresAreOutcomesAndLeaveNoOpenClient) {
    auto outcomes = CollectCoordinator::loadOpenSources(
        {deviceAt(1, "00000000000000a1", encodeCatalog(catalogOf("00000000000000a1"))),
         deviceAt(2, "00000000000000a2", encodeCatalog(catalogOf("00000000000000ff"))),
         deviceAt(3, "00000000000000a3", encodeCatalog(catalogOf("00000000000000a3", 2))),
         deviceAt(4, "00000000000000a4", "{\"schemaVersion\": 1"),
         deviceAt(5, "00000000000000A5"), // not a canonical device id
         deviceAt(6, "00000000000000a6")},
        1, environment);
    ASSERT_EQ(outcomes.size(), 6u);
    EXPECT_TRUE(outcomes[0].isSuccess());
    const std::vector<std::string> sentences = {"Catalog device identity differs from the advertised source.",
                                                "Unsupported catalog version.", "undecodable",
                                                "This source is not advertising open project sharing.",
                                                "Transfer server returned HTTP 404."};
    for (std::size_t i = 1; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcome([&] { std::rethrow_exception(outcomes[i].error()); }), sentences[i - 1]);
        EXPECT_EQ(outcomes[i].client(), nullptr);
    }
    // Every client made was closed except the good one; the unreachable source was never asked.
    ASSERT_EQ(sessions.size(), 5u);
    EXPECT_FALSE(sessions[0]->invalidated);
    for (std::size_t i = 1; i < sessions.size(); ++i) EXPECT_TRUE(sessions[i]->invalidated) << i;
    for (const auto& url : requestedURLs()) EXPECT_EQ(url.find("phone5."), std::string::npos);
}

std::string noRoom(const std::string& sizes) { return "Not enough free space on the recordings disk: " + sizes; }

TEST(NotEnoughSpace, SaysBothSizesInTenthsOfAMebibyte) {
    const std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> cases{
        {40 * MiB, 20 * MiB, "40.0 MiB needed, 20.0 MiB free."},
        {40 * MiB + 1, 20 * MiB - 1, "40.1 MiB needed, 19.9 MiB free."}, // never the same text for both
        {314'573, 314'572, "0.4 MiB needed, 0.2 MiB free."},
        {1, 0, "0.1 MiB needed, 0.0 MiB free."},
        {1024 * 1024 * MiB, 9 * MiB / 2, "1048576.0 MiB needed, 4.5 MiB free."},
    };
    for (const auto& [needed, free, sizes] : cases) EXPECT_EQ(ClipFiles::notEnoughSpace(needed, free), noRoom(sizes));
}

// A quota used up before the first byte (the kernel answers in place of a file system with
// quotas): the clip's folders or its partial file are refused in the quota's words, and the
// folders made for the clip go again.
TEST_F(CollectDownload, QuotaUsedUpBeforeTheFirstByteIsWordedAndLeavesNoFolders) {
    const std::string bytes = patternBytes(4096, 3);
    source.addClip(clipA, bytes);
    const CollectDownloadJob job = jobOf(clipOf(clipA, bytes));
    const std::vector<std::pair<std::string, std::vector<test::RefusedCall>>> cases{
        {"a folder", test::refusedFolderMaking(EDQUOT)},
        {"the partial file", test::refusedFileCreation(EDQUOT)},
    };
    for (const auto& [refused, calls] : cases) {
        SCOPED_TRACE(refused);
        std::string outcome = "succeeded";
        test::withRefusedCalls(calls, [&] {
            try {
                CollectCoordinator::download(job, {});
            } catch (...) {
                outcome = failureText(std::current_exception());
            }
        });
        EXPECT_EQ(outcome, "The disk quota for the recordings folder is used up.");
        EXPECT_FALSE(fs::exists(root));
        EXPECT_TRUE(source.ranges().empty());
    }
}

// --- A recordings folder on a small disk (a 20 MiB tmpfs of the test's own). ---

const std::vector<std::string> kSmallDiskSuites = {"CollectOnSmallDisk"};

TEST(CollectSmallDisk, RunsTheFullDiskCasesOnASmallTmpfs) {
    if (!test::smallDisk().empty()) GTEST_SKIP() << "part of another run";
    if (auto skip = test::runOnSmallDisk(kSmallDiskSuites)) VELK_SKIP_CHILD_RUN(kSmallDiskSuites, *skip);
}

class CollectOnSmallDisk : public CollectDownload {
protected:
    void SetUp() override {
        if (test::smallDisk().empty()) GTEST_SKIP() << "runs only on the small disk of a child run";
        root = test::smallDisk() / "Velk";
    }
    void TearDown() override {
        if (!test::smallDisk().empty()) test::emptySmallDisk();
    }
};

// The rest of a clip that does not fit fails before anything is written; what a partial file
// already holds counts as fetched.
TEST_F(CollectOnSmallDisk, ClipsThatCannotFitFailBeforeAnyWrite) {
    struct Case {
        std::string name;
        std::int64_t size;
        std::int64_t partial;
        std::string outcome;
        std::vector<std::string> ranges;
    };
    const std::vector<Case> cases{
        {"new clip larger than the disk", 40 * MiB, 0, noRoom("40.0 MiB needed, 20.0 MiB free."), {}},
        {"partial and rest larger than the disk", 30 * MiB, 8 * MiB, noRoom("22.0 MiB needed, 12.0 MiB free."), {}},
        {"rest of a partial that fits", 16 * MiB, 6 * MiB, "succeeded", {"6291456-14680063", "14680064-16777215"}},
        {"exactly the free space", 20 * MiB, 0, "succeeded", {"0-8388607", "8388608-16777215", "16777216-20971519"}},
    };
    unsigned seed = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = patternBytes(static_cast<std::size_t>(c.size), ++seed);
        source.addClip(clipA, bytes);
        const VELKClip clip = clipOf(clipA, bytes);
        const fs::path partial = folderOf(clip) / "clip.mov.part";
        if (c.partial > 0) writeFile(partial, bytes.substr(0, static_cast<std::size_t>(c.partial)));
        const std::size_t asked = source.ranges().size();

        EXPECT_EQ(failureOf(jobOf(clip)), c.outcome);
        const std::vector<std::string> ranges = source.ranges();
        EXPECT_EQ(std::vector<std::string>(ranges.begin() + static_cast<std::ptrdiff_t>(asked), ranges.end()), c.ranges);
        if (c.outcome == "succeeded") {
            EXPECT_TRUE(readFile(folderOf(clip) / "clip.mov") == bytes);
        } else if (c.partial > 0) {
            EXPECT_EQ(fs::file_size(partial), static_cast<std::uintmax_t>(c.partial));
            EXPECT_FALSE(fs::exists(folderOf(clip) / "clip.mov"));
        } else {
            EXPECT_FALSE(fs::exists(root));
        }
        test::emptySmallDisk();
    }
}

// Another program fills the disk while the clip comes in: the failure says so plainly, the
// partial file keeps the exact bytes written, and the next attempt resumes after them.
TEST_F(CollectOnSmallDisk, DiskFilledMeanwhileKeepsThePartialForTheNextAttempt) {
    const std::string bytes = patternBytes(16 * MiB, 5);
    source.addClip(clipA, bytes);
    auto serve = source.state->handler;
    std::atomic<bool> filled = false;
    source.state->handler = [&, serve](const HttpsRequest& request) {
        // Before the first range's bytes are written: 10 MiB stay free.
        if (!filled.exchange(true)) test::fillSmallDiskLeaving(10 * MiB);
        return serve(request);
    };
    const VELKClip clip = clipOf(clipA, bytes);
    const fs::path partial = folderOf(clip) / "clip.mov.part";

    EXPECT_EQ(failureOf(jobOf(clip)), noRoom("6.0 MiB needed, 0.0 MiB free."));
    EXPECT_EQ(fs::file_size(partial), static_cast<std::uintmax_t>(10 * MiB));
    EXPECT_TRUE(readFile(partial) == bytes.substr(0, 10 * MiB));

    fs::remove(test::smallDisk() / "filler");
    const auto outcome = runOne(jobOf(clip));
    ASSERT_TRUE(outcome.isSuccess()) << failureText(outcome.error());
    EXPECT_EQ(source.ranges().back(), "10485760-16777215");
    EXPECT_TRUE(readFile(folderOf(clip) / "clip.mov") == bytes);
}

// Two clips from two phones at once, each of which fits but not both (15 MiB each, 20 MiB free):
// the one that starts second fails at once in the full-disk words, counting what the first still
// has to write, and writes nothing; the first, held in its first range until then, lands whole
// and the disk never fills.
TEST_F(CollectOnSmallDisk, SecondOfTwoClipsThatDoNotFitTogetherFailsAtOnce) {
    FakeClipSource right;
    const std::string rightDeviceId = "fedcba9876543210";
    const std::string leftBytes = patternBytes(15 * MiB, 61), rightBytes = patternBytes(15 * MiB, 62);
    source.addClip(clipA, leftBytes);
    right.addClip(clipB, rightBytes);
    Milestones moments;
    auto serve = source.state->handler;
    source.state->handler = [&, serve](const HttpsRequest& request) {
        moments.reach("first asked");
        moments.waitFor("second tried");
        return serve(request);
    };
    const CollectDownloadJob firstJob = jobOf(clipOf(clipA, leftBytes, "Cam A"));
    VELKClip second = clipOf(clipB, rightBytes, "Cam B");
    second.deviceId = rightDeviceId;
    const CollectDownloadJob secondJob{"Project 1", "Take 1", second, right.openClient(rightDeviceId), root};
    const auto outcomeOf = [](const CollectDownloadJob& job, const CollectProgressFunction& progress) {
        try {
            CollectCoordinator::download(job, progress);
            return std::string("succeeded");
        } catch (...) {
            return failureText(std::current_exception());
        }
    };
    std::atomic<std::int64_t> leastFree = test::smallDiskBytes;
    std::string firstOutcome;
    std::thread first([&] {
        firstOutcome = outcomeOf(firstJob, [&](const CollectDownloadProgress&) {
            const std::int64_t free = files::diskSpace(root).value_or(files::DiskSpace{}).freeBytes;
            if (free < leastFree) leastFree = free;
        });
    });
    ASSERT_TRUE(moments.waitFor("first asked"));
    const std::string secondOutcome = outcomeOf(secondJob, {});
    moments.reach("second tried");
    first.join();

    EXPECT_EQ(secondOutcome, noRoom("15.0 MiB needed, 5.0 MiB free."));
    EXPECT_TRUE(right.ranges().empty());
    EXPECT_FALSE(fs::exists(root / "project-1" / "take-1" / "cam-b"));
    EXPECT_EQ(firstOutcome, "succeeded");
    EXPECT_TRUE(readFile(folderOf(firstJob.clip) / "clip.mov") == leftBytes);
    EXPECT_GE(leastFree, 5 * MiB);

    // Once the first has ended, what it holds is the disk's own business: the second is measured
    // against what is free now.
    EXPECT_EQ(outcomeOf(secondJob, {}), noRoom("15.0 MiB needed, 5.0 MiB free."));
}

} // namespace
} // namespace velk
