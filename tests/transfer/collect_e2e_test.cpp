// Collection end to end: open sources loaded and clips downloaded from simulated phones over real
// TLS on loopback, with the phones' own request logs as the witness of what was fetched.

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#include "base/sha256.hpp"
#include "model/catalog.hpp"
#include "test_peers.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer/verified_project_copy.hpp"

namespace velk {
namespace {

namespace fs = std::filesystem;
using testing::SimPhone;

constexpr std::int64_t chunk = 8'388'608;
const std::string projectId = "11111111-2222-4333-8444-555555555555";

std::string failureText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string clipIdOf(int phone, int n) {
    char text[37];
    std::snprintf(text, sizeof text, "%08d-0000-4000-8000-%012d", phone, n);
    return text;
}

struct PhoneClip {
    std::string clipId;
    std::string cameraId;
    std::int64_t size = 0;
    std::string sha256;
    std::optional<std::string> sidecarSHA256;
};

// One simulated phone sharing its recordings openly, with a catalog made from its clips.
class OpenPhone {
public:
    OpenPhone() { phone.command(Json{{"cmd", "config"}, {"open", true}}); }

    PhoneClip addClip(const std::string& clipId, const std::string& cameraId, std::int64_t size, bool withSidecar,
                      int seed) {
        PhoneClip clip{clipId, cameraId, size, {}, {}};
        clip.sha256 = json::requireString(
            phone.command(Json{{"cmd", "file"}, {"clipId", clipId}, {"size", size}, {"seed", seed}}), "sha256");
        if (withSidecar) {
            const std::string timing = "{\"anchors\":[{\"clip\":\"" + clipId + "\"}]}";
            clip.sidecarSHA256 = json::requireString(
                phone.command(Json{{"cmd", "sidecar"}, {"clipId", clipId}, {"text", timing}}), "sha256");
        }
        clips.push_back(clip);
        return clip;
    }

    // The clips as one take, in a project or among the unassigned takes.
    void publish(bool unassigned = false, std::int64_t schemaVersion = 1,
                 const std::function<void(Json&)>& change = nullptr) {
        Json jsonClips = Json::array();
        for (const auto& clip : clips) {
            Json entry{{"clipId", clip.clipId},   {"cameraId", clip.cameraId},  {"fileName", "clip.mov"},
                       {"sizeBytes", clip.size},  {"sha256", clip.sha256},      {"finalized", true},
                       {"mediaKind", "video"},    {"hasVideo", true},           {"hasAudio", true},
                       {"downloadURL", "/velk/v1/files/" + clip.clipId}};
            if (clip.sidecarSHA256) {
                entry["timingSidecarURL"] = "/velk/v1/files/" + clip.clipId + ".timing.json";
                entry["timingSidecarSHA256"] = *clip.sidecarSHA256;
            }
            jsonClips.push_back(entry);
        }
        Json take{{"takeId", "take-1"}, {"clips", jsonClips}};
        Json body{{"schemaVersion", schemaVersion}, {"deviceId", deviceId()}, {"deviceName", "Sim Phone"},
                  {"catalogRevision", 1}, {"projects", Json::array()}};
        if (unassigned) {
            body["unassignedTakes"] = Json::array({take});
        } else {
            take["projectId"] = projectId;
            body["projects"] = Json::array({Json{{"projectId", projectId}, {"name", "Wedding"}, {"revision", 1},
                                                 {"takes", Json::array({take})}}});
        }
        if (change) change(body);
        phone.command(Json{{"cmd", "catalog"}, {"body", body}});
    }

    void setDeviceId(const std::string& id) {
        phone.command(Json{{"cmd", "config"}, {"deviceId", id}});
        m_deviceId = id;
    }
    std::string deviceId() const { return m_deviceId.empty() ? phone.deviceId : m_deviceId; }

    DiscoveredDevice device() const {
        DiscoveredDevice device;
        device.serviceName = "Sim Phone " + std::to_string(phone.port);
        device.catalogURL = phone.baseURL() + "/velk/v1/catalog";
        device.serviceType = "_velk-transfer._tcp.";
        device.deviceId = deviceId();
        device.sessionId = phone.sessionId;
        device.certificateSHA256 = phone.fingerprint;
        device.foregroundOnly = true;
        device.transferAccess = "open";
        return device;
    }

    // Ranges asked for since the log was last cleared, as (start, end).
    std::vector<std::pair<std::int64_t, std::int64_t>> rangeRequests() {
        std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
        for (const auto& entry : phone.log()) {
            const Json& headers = entry.at("headers");
            if (!headers.contains("range")) continue;
            const std::string range = json::requireString(headers, "range").substr(6);
            const auto dash = range.find('-');
            ranges.emplace_back(std::stoll(range.substr(0, dash)), std::stoll(range.substr(dash + 1)));
        }
        return ranges;
    }
    std::size_t requestsEndingWith(const std::string& suffix) {
        std::size_t count = 0;
        for (const auto& entry : phone.log()) {
            if (json::requireString(entry, "path").ends_with(suffix)) ++count;
        }
        return count;
    }

    SimPhone phone;
    std::vector<PhoneClip> clips;

private:
    std::string m_deviceId;
};

class CollectEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "collect-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base = pattern;
        root = base / "Velk";
        environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
    }
    void TearDown() override { fs::remove_all(base); }

    std::vector<CollectOpenSourceOutcome> load(const std::vector<OpenPhone*>& phones) {
        std::vector<DiscoveredDevice> devices;
        for (OpenPhone* phone : phones) devices.push_back(phone->device());
        return CollectCoordinator::loadOpenSources(devices, 2, environment);
    }

    // One job per clip of the loaded catalog, as the store makes them from the merged library.
    std::vector<CollectDownloadJob> jobsOf(const CollectOpenSourceOutcome& source) {
        std::vector<CollectDownloadJob> jobs;
        const DeviceCatalog& catalog = *source.catalog();
        auto add = [&](const std::string& project, const CatalogTake& take) {
            for (const CatalogClip& entry : take.clips) {
                VELKClip clip;
                clip.id = entry.clipId;
                clip.cameraId = entry.cameraId;
                clip.fileName = entry.fileName;
                clip.remoteURL = entry.downloadURL;
                clip.sizeBytes = entry.sizeBytes;
                clip.sha256 = entry.sha256;
                clip.timingSidecarURL = entry.timingSidecarURL;
                clip.timingSidecarSHA256 = entry.timingSidecarSHA256;
                clip.deviceId = catalog.deviceId;
                jobs.push_back(CollectDownloadJob{project, take.takeId, clip, source.client(), root});
            }
        };
        for (const auto& project : catalog.projects) {
            for (const auto& take : project.takes) add(project.projectId, take);
        }
        if (catalog.unassignedTakes) {
            for (const auto& take : *catalog.unassignedTakes) add("unassigned-" + CollectCoordinator::safe(catalog.deviceId), take);
        }
        return jobs;
    }

    std::vector<CollectDownloadOutcome> run(const std::vector<CollectDownloadJob>& jobs,
                                            const CollectProgressFunction& extra = nullptr) {
        return CollectCoordinator::run(jobs, CollectCoordinator::maximumConcurrentDownloads,
                                       [&](const CollectDownloadProgress& progress) {
                                           {
                                               std::lock_guard lock(eventsMutex);
                                               events.push_back(progress);
                                           }
                                           if (extra) extra(progress);
                                       });
    }

    fs::path finalPathOf(const CollectDownloadJob& job) {
        return root / CollectCoordinator::safe(job.projectID) / CollectCoordinator::safe(job.takeID) /
               CollectCoordinator::safe(job.clip.cameraId) / CollectCoordinator::safe(job.clip.id) / job.clip.fileName;
    }

    fs::path base;
    fs::path root;
    TransferClientEnvironment environment;
    std::mutex eventsMutex;
    std::vector<CollectDownloadProgress> events;
};

TEST_F(CollectEndToEnd, ThreePhonesAtOnceOneMisbehaving) {
    OpenPhone phones[3];
    for (int p = 0; p < 3; ++p) {
        phones[p].addClip(clipIdOf(p + 1, 1), "Cam A", 1'500'000 + p, true, 10 * p + 1);
        phones[p].addClip(clipIdOf(p + 1, 2), "Cam B", 600'000 + p, false, 10 * p + 2);
        phones[p].publish();
    }
    auto sources = load({&phones[0], &phones[1], &phones[2]});
    ASSERT_EQ(sources.size(), 3u);
    std::vector<CollectDownloadJob> jobs;
    for (const auto& source : sources) {
        ASSERT_TRUE(source.isSuccess()) << failureText(source.error());
        for (auto& job : jobsOf(source)) jobs.push_back(job);
    }
    ASSERT_EQ(jobs.size(), 6u);

    // The middle phone drops every file connection half way through the body.
    phones[1].phone.fault("files", "dropMidBody");
    auto outcomes = run(jobs);
    ASSERT_EQ(outcomes.size(), 6u);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const bool misbehaving = i == 2 || i == 3;
        ASSERT_EQ(outcomes[i].isSuccess(), !misbehaving) << i << ": " << (outcomes[i].error() ? failureText(outcomes[i].error()) : "");
        if (misbehaving) {
            EXPECT_EQ(outcomes[i].job()->clip.id, jobs[i].clip.id);
            EXPECT_FALSE(fs::exists(finalPathOf(jobs[i])));
            continue;
        }
        const CollectDownloadResult& result = *outcomes[i].result();
        EXPECT_EQ(result.clipID, jobs[i].clip.id);
        EXPECT_EQ(result.localPath, finalPathOf(jobs[i]).string());
        EXPECT_EQ(Sha256::hexOf(readFile(result.localPath)), jobs[i].clip.sha256);
        EXPECT_EQ(result.timingLocalPath.has_value(), jobs[i].clip.timingSidecarSHA256.has_value());
        if (result.timingLocalPath) {
            EXPECT_EQ(Sha256::hexOf(readFile(*result.timingLocalPath)), *jobs[i].clip.timingSidecarSHA256);
        }
    }
    {
        std::lock_guard lock(eventsMutex);
        std::size_t verified = 0;
        for (const auto& event : events) verified += event.message == "Verified";
        EXPECT_EQ(verified, 4u);
    }

    // Run again once the phone behaves: the copies in place are accepted as they are, and their
    // sidecars are not fetched a second time; only the failed clips are read.
    for (auto& phone : phones) phone.phone.clear();
    auto again = run(jobs);
    for (std::size_t i = 0; i < again.size(); ++i) {
        EXPECT_TRUE(again[i].isSuccess()) << i << ": " << (again[i].error() ? failureText(again[i].error()) : "");
    }
    EXPECT_TRUE(phones[0].phone.log().empty());
    EXPECT_TRUE(phones[2].phone.log().empty());
    EXPECT_EQ(phones[1].rangeRequests().size(), 2u);
    EXPECT_EQ(phones[1].requestsEndingWith(".timing.json"), 1u);
}

TEST_F(CollectEndToEnd, DroppedConnectionResumesFromThePartial) {
    OpenPhone phone;
    const std::int64_t size = chunk + 1'048'576 + 123;
    phone.addClip(clipIdOf(1, 1), "Cam A", size, false, 7);
    phone.publish();
    auto sources = load({&phone});
    ASSERT_TRUE(sources.at(0).isSuccess()) << failureText(sources.at(0).error());
    const auto jobs = jobsOf(sources[0]);

    // Once the first range is on disk, the phone starts refusing every connection.
    std::atomic<bool> cut = false;
    auto first = run(jobs, [&](const CollectDownloadProgress& progress) {
        if (progress.message == "Downloading" && !cut.exchange(true)) phone.phone.fault("files", "failConnection");
    });
    ASSERT_FALSE(first.at(0).isSuccess());
    const fs::path partial = finalPathOf(jobs[0]).string() + ".part";
    const std::int64_t kept = static_cast<std::int64_t>(fs::file_size(partial));
    EXPECT_EQ(kept, chunk);

    phone.phone.clear();
    auto second = run(jobs);
    ASSERT_TRUE(second.at(0).isSuccess()) << failureText(second[0].error());
    const auto ranges = phone.rangeRequests();
    ASSERT_FALSE(ranges.empty());
    EXPECT_EQ(ranges.front().first, kept);
    std::int64_t requested = 0;
    for (const auto& [start, end] : ranges) requested += end - start + 1;
    EXPECT_EQ(requested, size - kept);
    EXPECT_EQ(Sha256::hexOf(readFile(second[0].result()->localPath)), jobs[0].clip.sha256);
}

TEST_F(CollectEndToEnd, CorruptPartialIsEmptiedAndNothingIsMoved) {
    OpenPhone phone;
    phone.addClip(clipIdOf(1, 1), "Cam A", 2'000'000, false, 8);
    phone.publish();
    auto sources = load({&phone});
    ASSERT_TRUE(sources.at(0).isSuccess());
    const auto jobs = jobsOf(sources[0]);
    const fs::path partial = finalPathOf(jobs[0]).string() + ".part";
    writeFile(partial, std::string(700'000, 'x')); // bytes the phone never sent

    auto first = run(jobs);
    ASSERT_FALSE(first.at(0).isSuccess());
    EXPECT_EQ(failureText(first[0].error()), "Downloaded SHA-256 does not match the source catalog.");
    EXPECT_EQ(fs::file_size(partial), 0u);
    EXPECT_FALSE(fs::exists(finalPathOf(jobs[0])));

    phone.phone.clear();
    auto second = run(jobs);
    ASSERT_TRUE(second.at(0).isSuccess()) << failureText(second[0].error());
    EXPECT_EQ(phone.rangeRequests().front().first, 0);
}

TEST_F(CollectEndToEnd, ExistingFinalFileIsNeverOverwritten) {
    OpenPhone phone;
    phone.addClip(clipIdOf(1, 1), "Cam A", 300'000, true, 9);
    phone.publish();
    auto sources = load({&phone});
    ASSERT_TRUE(sources.at(0).isSuccess());
    const auto jobs = jobsOf(sources[0]);
    writeFile(finalPathOf(jobs[0]), "the user's own file");
    phone.phone.clear();

    auto outcomes = run(jobs);
    ASSERT_FALSE(outcomes.at(0).isSuccess());
    EXPECT_EQ(failureText(outcomes[0].error()), "Existing destination hash differs; move it before retrying.");
    EXPECT_EQ(readFile(finalPathOf(jobs[0])), "the user's own file");
    EXPECT_TRUE(phone.phone.log().empty());
}

TEST_F(CollectEndToEnd, DigestWithSeparatorsDownloadsOnceAndVerifies) {
    OpenPhone phone;
    const PhoneClip clip = phone.addClip(clipIdOf(1, 1), "Cam A", 400'000, false, 11);
    std::string separated;
    for (std::size_t i = 0; i < clip.sha256.size(); i += 2) {
        if (i) separated += ':';
        separated += clip.sha256.substr(i, 2);
    }
    for (char& c : separated) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    phone.clips[0].sha256 = separated;
    phone.publish();
    auto sources = load({&phone});
    ASSERT_TRUE(sources.at(0).isSuccess()) << failureText(sources[0].error());
    const auto jobs = jobsOf(sources[0]);
    ASSERT_EQ(jobs[0].clip.sha256, separated);

    auto first = run(jobs);
    ASSERT_TRUE(first.at(0).isSuccess()) << failureText(first[0].error());
    auto second = run(jobs);
    ASSERT_TRUE(second.at(0).isSuccess()) << failureText(second[0].error());
    EXPECT_EQ(phone.rangeRequests().size(), 1u);
}

TEST_F(CollectEndToEnd, UnassignedTakesOfAnUpperCaseDeviceCanBeProved) {
    OpenPhone phone;
    phone.setDeviceId("6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B");
    phone.addClip(clipIdOf(1, 1), "Cam A", 200'000, true, 12);
    phone.addClip(clipIdOf(1, 2), "Cam B", 100'000, false, 13);
    phone.publish(true);
    auto sources = load({&phone});
    ASSERT_TRUE(sources.at(0).isSuccess()) << failureText(sources[0].error());
    const auto jobs = jobsOf(sources[0]);
    auto outcomes = run(jobs);

    VELKProject project;
    project.id = "unassigned-6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
    VELKTake take;
    take.id = "take-1";
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        ASSERT_TRUE(outcomes[i].isSuccess()) << failureText(outcomes[i].error());
        VELKClip clip = jobs[i].clip;
        clip.localPath = outcomes[i].result()->localPath;
        clip.timingSidecarLocalPath = outcomes[i].result()->timingLocalPath;
        take.clips.push_back(clip);
    }
    project.takes.push_back(take);
    const auto proof = VerifiedProjectCopy::proof(project, *sources[0].catalog(), sources[0].client()->deviceId(), root);
    ASSERT_EQ(proof.size(), 2u);
    EXPECT_EQ(proof[0].at("clipId"), clipIdOf(1, 1));
    EXPECT_EQ(proof[0].count("timingSidecarSHA256"), 1u);
    EXPECT_EQ(proof[1].count("timingSidecarSHA256"), 0u);
}

TEST_F(CollectEndToEnd, UnusableFileNameNeverReachesTheDiskOrThePhone) {
    OpenPhone phone;
    phone.addClip(clipIdOf(1, 1), "Cam A", 1000, false, 14);
    phone.publish();
    auto sources = load({&phone});
    ASSERT_TRUE(sources.at(0).isSuccess());
    auto jobs = jobsOf(sources[0]);
    jobs[0].clip.fileName = "..";
    phone.phone.clear();
    auto outcomes = run(jobs);
    ASSERT_FALSE(outcomes.at(0).isSuccess());
    EXPECT_EQ(failureText(outcomes[0].error()), "Clip has no compatible source or range metadata.");
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(phone.phone.log().empty());
}

TEST_F(CollectEndToEnd, CatalogOfAnotherFormatIsRefused) {
    OpenPhone phone;
    phone.addClip(clipIdOf(1, 1), "Cam A", 1000, false, 15);
    phone.publish(false, 2);
    auto sources = load({&phone});
    ASSERT_EQ(sources.size(), 1u);
    ASSERT_FALSE(sources[0].isSuccess());
    EXPECT_EQ(failureText(sources[0].error()), "Unsupported catalog version.");
}

} // namespace
} // namespace velk
