// Collection end to end: open sources loaded and clips downloaded from simulated phones over real
// TLS on loopback, with the phones' own request logs as the witness of what was fetched.

#include <map>
#include <atomic>
#include <filesystem>
#include <mutex>

#include <gtest/gtest.h>

#include "fake_clip_source.hpp"
#include "model/catalog.hpp"
#include "test_peers.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

namespace fs = std::filesystem;
using testing::failureText;
using testing::readFile;

std::string clipIdOf(int phone, int n) {
    char text[37];
    std::snprintf(text, sizeof text, "%08d-0000-4000-8000-%012d", phone, n);
    return text;
}

// One simulated phone sharing its recordings openly, its clips published as one take of a project.
struct OpenPhone {
    OpenPhone() { phone.command(Json{{"cmd", "config"}, {"open", true}}); }

    // The catalog may write the digest in any accepted spelling.
    void addClip(const std::string& clipId, const std::string& cameraId, std::int64_t size, bool withSidecar, int seed,
                 const std::function<std::string(std::string)>& spelling = [](std::string digest) { return digest; }) {
        const Json file = phone.command(Json{{"cmd", "file"}, {"clipId", clipId}, {"size", size}, {"seed", seed}});
        Json entry{{"clipId", clipId}, {"cameraId", cameraId}, {"fileName", "clip.mov"}, {"sizeBytes", size},
                   {"sha256", spelling(json::requireString(file, "sha256"))}, {"finalized", true}, {"mediaKind", "video"},
                   {"hasVideo", true}, {"hasAudio", true}, {"downloadURL", "/velk/v1/files/" + clipId}};
        if (withSidecar) {
            const Json text{{"cmd", "sidecar"}, {"clipId", clipId}, {"text", "{\"anchors\":[{\"clip\":\"" + clipId + "\"}]}"}};
            entry["timingSidecarURL"] = "/velk/v1/files/" + clipId + ".timing.json";
            entry["timingSidecarSHA256"] = json::requireString(phone.command(text), "sha256");
        }
        clips.push_back(entry);
        const Json take{{"takeId", "take-1"}, {"projectId", testing::projectUUID}, {"clips", clips}};
        const Json project{{"projectId", testing::projectUUID}, {"name", "Wedding"}, {"revision", 1}, {"takes", Json::array({take})}};
        const Json body{{"schemaVersion", 1}, {"deviceId", phone.deviceId}, {"deviceName", "Sim Phone"},
                        {"catalogRevision", 1}, {"projects", Json::array({project})}};
        phone.command(Json{{"cmd", "catalog"}, {"body", body}});
    }

    DiscoveredDevice device() const {
        DiscoveredDevice device = testing::pairingDevice();
        device.serviceName = "Sim Phone " + std::to_string(phone.port);
        device.catalogURL = phone.baseURL() + "/velk/v1/catalog";
        device.deviceId = phone.deviceId;
        device.sessionId = phone.sessionId;
        device.certificateSHA256 = phone.fingerprint;
        device.transferAccess = "open";
        return device;
    }

    // Ranges asked for since the log was last cleared, as (start, end).
    std::vector<std::pair<std::int64_t, std::int64_t>> rangeRequests() {
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
        for (const auto& entry : phone.log()) {
            if (!entry.at("headers").contains("range")) continue;
            const std::string range = json::requireString(entry.at("headers"), "range").substr(6);
            ranges.emplace_back(std::stoll(range), std::stoll(range.substr(range.find('-') + 1)));
        }
        return ranges;
    }
    std::size_t sidecarRequests() {
        std::size_t count = 0;
        for (const auto& entry : phone.log()) count += json::requireString(entry, "path").ends_with(".timing.json");
        return count;
    }

    testing::SimPhone phone;
    Json clips = Json::array();
};

class CollectEndToEnd : public ::testing::Test {
protected:
    CollectEndToEnd() { environment.sleeper = [](std::uint64_t, const CancellationToken*) {}; }

    // One job per clip of each loaded catalog, as the store makes them from the merged library.
    std::vector<CollectDownloadJob> load(const std::vector<OpenPhone*>& phones) {
        std::vector<DiscoveredDevice> devices;
        for (OpenPhone* phone : phones) devices.push_back(phone->device());
        std::vector<CollectDownloadJob> jobs;
        for (const auto& source : CollectCoordinator::loadOpenSources(devices, 2, environment)) {
            EXPECT_TRUE(source.isSuccess()) << failureText(source.error());
            if (!source.isSuccess()) continue;
            const CatalogTake& take = source.catalog()->projects.at(0).takes.at(0);
            for (const CatalogClip& entry : take.clips) {
                const VELKClip clip{.id = entry.clipId, .cameraId = entry.cameraId, .fileName = entry.fileName,
                                    .remoteURL = entry.downloadURL, .sizeBytes = entry.sizeBytes, .sha256 = entry.sha256,
                                    .timingSidecarURL = entry.timingSidecarURL,
                                    .timingSidecarSHA256 = entry.timingSidecarSHA256, .deviceId = source.catalog()->deviceId};
                jobs.push_back(CollectDownloadJob{testing::projectUUID, take.takeId, clip, source.client(), root});
            }
        }
        return jobs;
    }

    std::vector<CollectDownloadOutcome> run(const std::vector<CollectDownloadJob>& jobs,
                                            const CollectProgressFunction& extra = nullptr) {
        return CollectCoordinator::run(jobs, CollectCoordinator::maximumConcurrentDownloads,
                                       [&](const CollectDownloadProgress& progress) {
                                           {
                                               std::lock_guard lock(eventsMutex);
                                               verified += progress.message == "Verified";
                                           }
                                           if (extra) extra(progress);
                                       });
    }

    static fs::path finalPathOf(const CollectDownloadJob& job) {
        // Project, take and clip ids here are lower-case UUIDs and "take-1": their own folder names.
        const std::map<std::string, std::string> cameraFolders{{"Cam A", "cam-a"}, {"Cam B", "cam-b"}};
        return job.recordingsRoot / job.projectID / job.takeID / cameraFolders.at(job.clip.cameraId) / job.clip.id /
               job.clip.fileName;
    }

    testing::TempDir dir;
    fs::path root = dir.path() / "Velk";
    TransferClientEnvironment environment;
    std::mutex eventsMutex;
    int verified = 0;
};

TEST_F(CollectEndToEnd, ThreePhonesAtOnceOneMisbehaving) {
    OpenPhone phones[3];
    for (int p = 0; p < 3; ++p) {
        // The last phone writes its digests upper-case with colons; they verify all the same.
        auto spelling = [p](std::string digest) { return p == 2 ? testing::separatedDigest(digest) : digest; };
        phones[p].addClip(clipIdOf(p + 1, 1), "Cam A", 1'500'000 + p, true, 10 * p + 1, spelling);
        phones[p].addClip(clipIdOf(p + 1, 2), "Cam B", 600'000 + p, false, 10 * p + 2, spelling);
    }
    const auto jobs = load({&phones[0], &phones[1], &phones[2]});
    ASSERT_EQ(jobs.size(), 6u);

    // The middle phone drops every file connection half way through the body.
    phones[1].phone.fault("files", "dropMidBody");
    auto outcomes = run(jobs);
    ASSERT_EQ(outcomes.size(), 6u);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        SCOPED_TRACE(i);
        const bool misbehaving = i == 2 || i == 3;
        ASSERT_EQ(outcomes[i].isSuccess(), !misbehaving) << failureText(outcomes[i].error());
        if (misbehaving) {
            EXPECT_EQ(outcomes[i].job()->clip.id, jobs[i].clip.id);
            EXPECT_FALSE(fs::exists(finalPathOf(jobs[i])));
            continue;
        }
        const CollectDownloadResult& result = *outcomes[i].result();
        EXPECT_EQ(result.clipID, jobs[i].clip.id);
        EXPECT_EQ(result.localPath, finalPathOf(jobs[i]).string());
        EXPECT_EQ(testing::digestOf(readFile(result.localPath)), TransferProtocol::normalizedSHA256(jobs[i].clip.sha256));
        EXPECT_EQ(result.timingLocalPath.has_value(), jobs[i].clip.timingSidecarSHA256.has_value());
        if (result.timingLocalPath) {
            EXPECT_EQ(testing::digestOf(readFile(*result.timingLocalPath)), *jobs[i].clip.timingSidecarSHA256);
        }
    }
    EXPECT_EQ(verified, 4);

    // Run again once the phone behaves: the copies in place are accepted as they are, and their
    // sidecars are not fetched a second time; only the failed clips are read.
    for (auto& phone : phones) phone.phone.clear();
    for (const auto& outcome : run(jobs)) EXPECT_TRUE(outcome.isSuccess()) << failureText(outcome.error());
    EXPECT_TRUE(phones[0].phone.log().empty());
    EXPECT_TRUE(phones[2].phone.log().empty());
    EXPECT_EQ(phones[1].rangeRequests().size(), 2u);
    EXPECT_EQ(phones[1].sidecarRequests(), 1u);
}

TEST_F(CollectEndToEnd, DroppedConnectionResumesFromThePartial) {
    constexpr std::int64_t chunk = 8'388'608;
    OpenPhone phone;
    const std::int64_t size = 2 * chunk + 1'048'576 + 123;
    phone.addClip(clipIdOf(1, 1), "Cam A", size, false, 7);
    const auto jobs = load({&phone});
    ASSERT_EQ(jobs.size(), 1u);

    // Once the first range is on disk, the phone starts refusing every connection; the next range
    // may already be on its way and still arrive.
    std::atomic<bool> cut = false;
    auto first = run(jobs, [&](const CollectDownloadProgress& progress) {
        if (progress.message == "Downloading" && !cut.exchange(true)) phone.phone.fault("files", "failConnection");
    });
    ASSERT_FALSE(first.at(0).isSuccess());
    const std::int64_t kept = static_cast<std::int64_t>(fs::file_size(finalPathOf(jobs[0]).string() + ".part"));
    EXPECT_TRUE(kept == chunk || kept == 2 * chunk) << kept;

    phone.phone.clear();
    auto second = run(jobs);
    ASSERT_TRUE(second.at(0).isSuccess()) << failureText(second[0].error());
    const auto ranges = phone.rangeRequests();
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.front().first, kept);
    std::int64_t requested = 0;
    for (const auto& [start, end] : ranges) requested += end - start + 1;
    EXPECT_EQ(requested, size - kept);
    EXPECT_EQ(testing::digestOf(readFile(second[0].result()->localPath)), jobs[0].clip.sha256);
}

} // namespace
} // namespace velk
