// Verified clip download over loopback TLS from nginx, against curl fetching the same file from the
// same server in the same run; the time from the last byte to "Verified" against
// `openssl dgst -sha256` of the same file; and the peak memory that two concurrent downloads add,
// for 1 GiB and for 4 GiB clips. Prints figures; asserts nothing.
//
//   collect_bench [--quick]     --quick uses 64 MiB and 256 MiB clips instead of 1 GiB and 4 GiB.
//
// nginx listens on 127.0.0.1 only and is stopped before the program ends.

#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/process_start.hpp"
#include "base/json.hpp"
#include "bench_support.hpp"
#include "export/drift_engine.hpp"
#include "transfer/collect_coordinator.hpp"
#include "test_peers.hpp"
#include "transfer/transfer_protocol.hpp"

using namespace velk;
namespace fs = std::filesystem;

namespace {

constexpr int rounds = 2;
const std::string deviceId = "0123456789abcdef";
const std::string sessionId = "9a8b7c6d-1234-4abc-8def-0123456789ab";
const std::string projectId = "11111111-2222-4333-8444-555555555555";

using bench::Clip;

using Nginx = bench::ClipServer;

void writeCatalog(const fs::path& file, const std::vector<Clip>& clips) {
    Json jsonClips = Json::array();
    int camera = 0;
    for (const Clip& clip : clips) {
        jsonClips.push_back(Json{{"clipId", clip.id}, {"cameraId", "cam-" + std::to_string(++camera)}, {"fileName", "clip.mov"},
                                 {"sizeBytes", clip.size}, {"sha256", clip.sha256}, {"finalized", true},
                                 {"mediaKind", "video"}, {"hasVideo", true}, {"hasAudio", true},
                                 {"downloadURL", "/velk/v1/files/" + clip.id}});
    }
    const Json take{{"takeId", "take-1"}, {"projectId", projectId}, {"clips", jsonClips}};
    const Json catalog{{"schemaVersion", 1}, {"deviceId", deviceId}, {"deviceName", "Bench Phone"}, {"catalogRevision", 1},
                       {"projects", Json::array({Json{{"projectId", projectId}, {"name", "Bench"}, {"revision", 1},
                                                      {"takes", Json::array({take})}}})}};
    std::ofstream(file) << catalog.dump();
}

struct Timed {
    double totalSeconds = 0;
    double lastByteToVerifiedSeconds = 0;
    double transferSeconds = 0;    // first event to last byte
    double synchroniseSeconds = 0; // last byte to "Checking SHA-256"
    std::vector<std::string> localPaths;
};

// Runs the jobs of the given clips together and times them; the last byte is the last
// "Downloading" event that completes a clip.
Timed download(const std::vector<CollectDownloadJob>& jobs) {
    std::mutex mutex;
    double lastByte = 0;
    double verified = 0;
    double firstEvent = 0;
    double checking = 0;
    const double start = bench::nowSeconds();
    auto outcomes = CollectCoordinator::run(jobs, CollectCoordinator::maximumConcurrentDownloads,
                                            [&](const CollectDownloadProgress& progress) {
                                                const double now = bench::nowSeconds();
                                                std::lock_guard lock(mutex);
                                                if (progress.message == "Downloading" && progress.completed == progress.total) {
                                                    lastByte = now;
                                                }
                                                if (progress.message == "Verified") verified = now;
                                                if (progress.message == "Checking SHA-256") checking = now;
                                                if (firstEvent == 0) firstEvent = now;
                                            });
    Timed timed;
    timed.totalSeconds = bench::nowSeconds() - start;
    timed.lastByteToVerifiedSeconds = verified - lastByte;
    timed.transferSeconds = lastByte - firstEvent;
    timed.synchroniseSeconds = checking - lastByte;
    for (const auto& outcome : outcomes) {
        if (!outcome.isSuccess()) {
            try {
                std::rethrow_exception(outcome.error());
            } catch (const std::exception& error) {
                throw std::runtime_error(std::string("download failed: ") + error.what());
            }
        }
        timed.localPaths.push_back(outcome.result()->localPath);
    }
    return timed;
}

double mibPerSecond(std::int64_t bytes, double seconds) { return static_cast<double>(bytes) / 1048576.0 / seconds; }

// curl reading the file in the same 8 MiB ranges, one after another on one connection, into one
// file: what the ranges alone cost it.
double curlRanges(const fs::path& folder, const std::string& url, std::int64_t size) {
    const fs::path config = folder / "ranges.curl";
    const fs::path out = folder / "ranges.bin";
    {
        std::ofstream lines(config);
        for (std::int64_t start = 0; start < size; start += TransferProtocol::chunkSize) {
            const std::int64_t end = std::min(start + TransferProtocol::chunkSize, size) - 1;
            if (start > 0) lines << "next\n";
            lines << "insecure\nsilent\nurl = \"" << url << "\"\nrange = " << start << "-" << end << "\noutput = \"" << out.string()
                  << "." << start << "\"\n";
        }
    }
    const double seconds = bench::timeCommand("curl -k -s -K '" + config.string() + "'");
    for (std::int64_t start = 0; start < size; start += TransferProtocol::chunkSize) {
        fs::remove(out.string() + "." + std::to_string(start));
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    velk::startProcess(); // the process set up as the application sets up its own
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::int64_t small = quick ? (std::int64_t{64} << 20) : (std::int64_t{1} << 30);
    const std::int64_t large = quick ? (std::int64_t{256} << 20) : (std::int64_t{4} << 30);
    const fs::path folder = bench::makeTempFolder("velk-collect-bench");
    const fs::path root = folder / "Velk";
    try {
        std::printf("collect_bench: clips of %lld MiB and %lld MiB, %d rounds, best kept\n",
                    static_cast<long long>(small >> 20), static_cast<long long>(large >> 20), rounds);
        fs::create_directories(folder / "www");
        bench::writePatternFile(folder / "www" / "small.bin", static_cast<std::size_t>(small), 1);
        bench::writePatternFile(folder / "www" / "large.bin", static_cast<std::size_t>(large), 2);
        const std::string smallDigest = DriftEngine::sha256(folder / "www" / "small.bin");
        const std::string largeDigest = DriftEngine::sha256(folder / "www" / "large.bin");
        // Two clip ids per file, so that two downloads of the same size can run at once.
        const std::vector<Clip> clips{
            {"00000000-0000-4000-8000-000000000001", folder / "www" / "small.bin", small, smallDigest},
            {"00000000-0000-4000-8000-000000000002", folder / "www" / "small.bin", small, smallDigest},
            {"00000000-0000-4000-8000-000000000003", folder / "www" / "large.bin", large, largeDigest},
            {"00000000-0000-4000-8000-000000000004", folder / "www" / "large.bin", large, largeDigest},
        };
        writeCatalog(folder / "catalog.json", clips);
        Nginx nginx(folder, clips);

        DiscoveredDevice device;
        device.serviceName = "Bench Phone";
        device.catalogURL = nginx.baseURL() + "/velk/v1/catalog";
        device.serviceType = "_velk-transfer._tcp.";
        device.deviceId = deviceId;
        device.sessionId = sessionId;
        device.certificateSHA256 = nginx.fingerprint;
        device.foregroundOnly = true;
        device.transferAccess = "open";
        auto sources = CollectCoordinator::loadOpenSources({device}, 2);
        if (sources.size() != 1 || !sources[0].isSuccess()) throw std::runtime_error("the catalog did not load");
        const DeviceCatalog& catalog = *sources[0].catalog();
        std::vector<CollectDownloadJob> jobs;
        for (const CatalogClip& entry : catalog.projects[0].takes[0].clips) {
            VELKClip clip;
            clip.id = entry.clipId;
            clip.cameraId = entry.cameraId;
            clip.fileName = entry.fileName;
            clip.remoteURL = entry.downloadURL;
            clip.sizeBytes = entry.sizeBytes;
            clip.sha256 = entry.sha256;
            clip.deviceId = catalog.deviceId;
            jobs.push_back(CollectDownloadJob{projectId, "take-1", clip, sources[0].client(), root});
        }
        // Both sides read the served file from the page cache.
        bench::timeCommand("cat '" + (folder / "www" / "small.bin").string() + "'");

        // 1. One verified download against curl from the same server.
        double bestCurl = 1e9, bestOurs = 1e9, bestLastByte = 1e9, bestOpenssl = 1e9, bestCurlRanges = 1e9;
        Timed bestRun;
        for (int round = 0; round < rounds; ++round) {
            const fs::path curlOut = folder / "curl.bin";
            const double curl = bench::timeCommand("curl -k -s -o '" + curlOut.string() + "' " + nginx.baseURL() +
                                                   "/velk/v1/files/" + clips[0].id);
            fs::remove(curlOut);
            if (curl > 0) bestCurl = std::min(bestCurl, curl);
            const double ranges = curlRanges(folder, nginx.baseURL() + "/velk/v1/files/" + clips[0].id, small);
            if (ranges > 0) bestCurlRanges = std::min(bestCurlRanges, ranges);

            fs::remove_all(root);
            const Timed ours = download({jobs[0]});
            if (ours.totalSeconds < bestOurs) bestRun = ours;
            bestOurs = std::min(bestOurs, ours.totalSeconds);
            bestLastByte = std::min(bestLastByte, ours.lastByteToVerifiedSeconds);
            const double openssl = bench::timeCommand("openssl dgst -sha256 '" + ours.localPaths[0] + "'");
            if (openssl > 0) bestOpenssl = std::min(bestOpenssl, openssl);
        }
        std::printf("verified download of %lld MiB: %.2f s (%.0f MiB/s); curl: %.2f s (%.0f MiB/s); ratio %.2fx of curl "
                    "(target >= 0.8x)\n",
                    static_cast<long long>(small >> 20), bestOurs, mibPerSecond(small, bestOurs), bestCurl,
                    mibPerSecond(small, bestCurl), bestCurl / bestOurs);
        std::printf("  of which: ranges on the wire %.2f s (%.2fx of curl's time), flush to storage %.2f s, last byte -> "
                    "\"Verified\" %.2f s\n",
                    bestRun.transferSeconds, bestRun.transferSeconds / bestCurl, bestRun.synchroniseSeconds,
                    bestRun.lastByteToVerifiedSeconds);
        std::printf("  curl with the same %lld ranges on one connection: %.2f s; ours on the wire %.2fx of that\n",
                    static_cast<long long>((small + TransferProtocol::chunkSize - 1) / TransferProtocol::chunkSize),
                    bestCurlRanges, bestRun.transferSeconds / bestCurlRanges);
        std::printf("last byte -> \"Verified\": %.2f s; openssl dgst -sha256 of the same file: %.2f s; ratio %.2fx\n",
                    bestLastByte, bestOpenssl, bestLastByte / bestOpenssl);

        // 2. Peak memory that two concurrent downloads add, for each clip size.
        for (const auto& [label, first, size] : {std::tuple{"small", 0, small}, std::tuple{"large", 2, large}}) {
            fs::remove_all(root);
            const bool reset = bench::resetPeakRss();
            const long before = bench::statusKiB("VmRSS");
            const Timed pair = download({jobs[static_cast<std::size_t>(first)], jobs[static_cast<std::size_t>(first) + 1]});
            const long peak = bench::statusKiB("VmHWM");
            std::printf("two concurrent downloads of %lld MiB (%s): %.2f s; peak RSS growth %.1f MiB%s (target <= 64 MiB)\n",
                        static_cast<long long>(size >> 20), label, pair.totalSeconds, static_cast<double>(peak - before) / 1024.0,
                        reset ? "" : " (peak could not be reset; figure is an upper bound)");
        }
        sources[0].client()->invalidate();

        // 3. The same verified download from the simulated phone (a Python server, far slower than
        // nginx) against curl from it, with the session header the phone asks for.
        {
            testing::SimPhone phone;
            phone.command(Json{{"cmd", "config"}, {"open", true}});
            // The phone makes its file in memory, at most 64 MiB of it.
            const std::int64_t simSize = std::min<std::int64_t>(small / 4, std::int64_t{64} << 20);
            const std::string simClip = "00000000-0000-4000-8000-000000000009";
            const std::string simDigest =
                json::requireString(phone.command(Json{{"cmd", "file"}, {"clipId", simClip}, {"size", simSize}}), "sha256");
            DiscoveredDevice simDevice = device;
            simDevice.catalogURL = phone.baseURL() + "/velk/v1/catalog";
            simDevice.deviceId = phone.deviceId;
            simDevice.sessionId = phone.sessionId;
            simDevice.certificateSHA256 = phone.fingerprint;
            auto simClient = AuthenticatedTransferClient::connectOpen(simDevice);
            VELKClip clip;
            clip.id = simClip;
            clip.cameraId = "cam-sim";
            clip.fileName = "clip.mov";
            clip.remoteURL = "/velk/v1/files/" + simClip;
            clip.sizeBytes = simSize;
            clip.sha256 = simDigest;
            clip.deviceId = phone.deviceId;
            double bestSimCurl = 1e9, bestSimOurs = 1e9;
            for (int round = 0; round < rounds; ++round) {
                const fs::path curlOut = folder / "curl-sim.bin";
                const double curl = bench::timeCommand("curl -k -s -H 'X-VELK-Session-ID: " + phone.sessionId + "' -o '" +
                                                       curlOut.string() + "' " + phone.baseURL() + "/velk/v1/files/" + simClip);
                fs::remove(curlOut);
                if (curl > 0) bestSimCurl = std::min(bestSimCurl, curl);
                fs::remove_all(root);
                bestSimOurs = std::min(bestSimOurs, download({CollectDownloadJob{projectId, "take-1", clip, simClient, root}}).totalSeconds);
            }
            simClient->invalidate();
            std::printf("simulated phone, verified download of %lld MiB: %.2f s; curl: %.2f s; ratio %.2fx of curl "
                        "(target >= 0.8x)\n",
                        static_cast<long long>(simSize >> 20), bestSimOurs, bestSimCurl, bestSimCurl / bestSimOurs);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "collect_bench: %s\n", error.what());
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        return 1;
    }
    std::error_code leftOver;
    fs::remove_all(folder, leftOver);
    return 0;
}
