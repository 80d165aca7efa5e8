// Decode + encode of a library.json of 1,000 takes x 8 clips, against the raw JSON parser and
// writer on the same text. Target: at most 100 ms per decode + encode.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/process_start.hpp"
#include "model/library.hpp"

namespace {

constexpr int kProjects = 20;
constexpr int kTakesPerProject = 50;
constexpr int kClipsPerTake = 8;
constexpr int kRepetitions = 7;
constexpr double kTargetMs = 100.0;

velk::VELKLibrary makeLibrary() {
    velk::VELKLibrary library;
    for (int p = 0; p < kProjects; ++p) {
        velk::VELKProject project{.id = "project-" + std::to_string(p), .name = "Project " + std::to_string(p),
                                  .revision = p};
        for (int t = 0; t < kTakesPerProject; ++t) {
            const std::string takeId = project.id + "-take-" + std::to_string(t);
            velk::VELKTake take{.id = takeId,
                                .projectNameAtCapture = project.name,
                                .projectRevisionAtCapture = p,
                                .createdAt = "2026-05-01T12:30:00Z",
                                .referenceCameraId = "camera-0",
                                .timelineFPS = "29.97",
                                .sourceManifestPath = "/home/user/Videos/Velk/" + takeId + "/source-manifest.json"};
            for (int c = 0; c < kClipsPerTake; ++c) {
                const std::string camera = "camera-" + std::to_string(c);
                const std::string file = takeId + "-" + camera + ".mov";
                take.clips.push_back(velk::VELKClip{
                    .id = takeId + "-clip-" + std::to_string(c),
                    .cameraId = camera,
                    .fileName = file,
                    .localPath = "/home/user/Videos/Velk/" + project.id + "/" + takeId + "/" + file,
                    .remoteURL = "https://phone-" + std::to_string(c) + ".local:8443/velk/v1/files/" + file,
                    .sizeBytes = 1'073'741'824 + c,
                    .sha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
                    .anchorMeaning = "same-event-reference-media-seconds",
                    .anchors = {{0.0, 0.0041, 0.98, 1.5}, {60.0, 60.0043, 0.97, 1.6}, {120.25, 120.2546, 0.95, 2.1}},
                    .mediaKind = "video",
                    .hasVideo = true,
                    .hasAudio = true,
                    .timingSidecarURL = "https://phone-" + std::to_string(c) + ".local:8443/velk/v1/files/" + file +
                                        ".timing.json",
                    .timingSidecarSHA256 = "2c26b46b68ffc68ff99b453c1d30413413422d706483bfa0f98a5e886266e7ae",
                    .deviceId = "device-" + std::to_string(c),
                    .deviceName = "Phone " + std::to_string(c),
                    .originCatalogRevision = 42,
                    .timingSidecarLocalPath = "/home/user/Videos/Velk/" + takeId + "/" + file + ".timing.json",
                });
            }
            project.takes.push_back(std::move(take));
        }
        library.projects.push_back(std::move(project));
    }
    return library;
}

template <class Work>
double medianMs(Work work) {
    std::vector<double> times;
    for (int i = 0; i < kRepetitions; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    velk::startProcess(); // the process set up as the application sets up its own
    const std::string text = velk::encodeLibrary(makeLibrary(), true);
    std::size_t sink = 0;

    const double baselineMs = medianMs([&] {
        velk::Json document = velk::Json::parse(text);
        sink += document.dump(2).size();
    });
    const double libraryMs = medianMs([&] {
        velk::VELKLibrary library = velk::decodeLibrary(text);
        sink += velk::encodeLibrary(library, true).size();
    });

    std::printf("library.json: %d takes x %d clips, %.1f MiB pretty text\n", kProjects * kTakesPerProject, kClipsPerTake,
                static_cast<double>(text.size()) / (1024.0 * 1024.0));
    std::printf("baseline (raw JSON parse + pretty dump): %8.2f ms\n", baselineMs);
    std::printf("library decode + encode (pretty, sorted): %8.2f ms  (target <= %.0f ms: %s)\n", libraryMs, kTargetMs,
                libraryMs <= kTargetMs ? "met" : "MISSED");
    std::printf("ratio library / baseline: %.2fx\n", libraryMs / baselineMs);
    return sink == 0 ? 1 : 0;
}
