// Start to first paint: the kestova executable with a 5 MB library.json, from the moment it is
// started until its Director window has painted once, against `jq . library.json` on the same file.
// The application runs on the offscreen platform in a private network namespace (it opens its
// camera socket at start), without a system bus (so no DNS-SD browsing leaves the machine).
// VELK_BENCH_LONG=1 repeats more often.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "model/library.hpp"

namespace {

constexpr double kTargetSeconds = 1.0;
constexpr double kTargetRatio = 3.0;

velk::VELKLibrary makeLibrary(std::size_t targetBytes) {
    velk::VELKLibrary library;
    for (int p = 0;; ++p) {
        velk::VELKProject project{.id = "project-" + std::to_string(p), .name = "Project " + std::to_string(p),
                                  .revision = 1};
        for (int t = 0; t < 6; ++t) {
            const std::string takeId = project.id + "-take-" + std::to_string(t);
            velk::VELKTake take{.id = takeId, .projectNameAtCapture = project.name, .projectRevisionAtCapture = 1,
                                .createdAt = "2026-05-01T12:30:00Z", .referenceCameraId = "camera-0",
                                .timelineFPS = "30/1"};
            for (int c = 0; c < 8; ++c) {
                const std::string camera = "camera-" + std::to_string(c);
                const std::string file = takeId + "-" + camera + ".mov";
                take.clips.push_back(velk::VELKClip{
                    .id = takeId + "-clip-" + std::to_string(c), .cameraId = camera, .fileName = file,
                    .localPath = "/home/user/Videos/Velk/" + project.id + "/" + takeId + "/" + file,
                    .remoteURL = "https://phone-" + std::to_string(c) + ".local:8443/velk/v1/files/" + file,
                    .sizeBytes = 1'073'741'824 + c,
                    .sha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",
                    .anchorMeaning = "same-event-reference-media-seconds",
                    .anchors = {{0.5, 0.5041, 0.98, 1.5}, {60.0, 60.0043, 0.97, 1.6}, {119.5, 119.5046, 0.95, 2.1}},
                    .mediaKind = "video", .hasVideo = true, .hasAudio = true,
                    .deviceId = "device-" + std::to_string(c), .deviceName = "Phone " + std::to_string(c),
                    .originCatalogRevision = 42});
            }
            project.takes.push_back(std::move(take));
        }
        library.projects.push_back(std::move(project));
        if (p % 10 == 9 && velk::encodeLibrary(library, true).size() >= targetBytes) return library;
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Seconds from starting the application until it reports its first paint; negative on failure.
double startToFirstPaint(const std::string& command) {
    const double start = velk::bench::nowSeconds();
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char line[256];
    double painted = -1;
    while (std::fgets(line, sizeof line, pipe)) {
        if (std::string(line).rfind("first-paint", 0) == 0) {
            painted = velk::bench::nowSeconds() - start;
            break;
        }
    }
    while (std::fgets(line, sizeof line, pipe)) {
    }
    const int status = ::pclose(pipe);
    return status == 0 ? painted : -1;
}

} // namespace

int main() {
    const bool longRun = std::getenv("VELK_BENCH_LONG") != nullptr;
    const int runs = longRun ? 15 : 5;
    const std::filesystem::path folder = velk::bench::makeTempFolder("velk-ui-bench");
    const std::filesystem::path data = folder / "data" / "Velk";
    std::filesystem::create_directories(data);
    std::filesystem::create_directories(folder / "runtime");
    std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
    const std::string text = velk::encodeLibrary(makeLibrary(5 * 1024 * 1024), true);
    {
        std::FILE* out = std::fopen((data / "library.json").c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
    }
    std::printf("library.json: %.1f MiB\n", double(text.size()) / (1024.0 * 1024.0));

    std::vector<double> jq;
    for (int i = 0; i < runs; ++i) jq.push_back(velk::bench::timeCommand("jq . '" + (data / "library.json").string() + "'"));
    const double baseline = median(jq);
    if (baseline < 0) {
        std::printf("jq is not available: start to first paint skipped\n");
        std::filesystem::remove_all(folder);
        return 0;
    }

    const std::string isolate = ::geteuid() == 0 ? "unshare -n" : "unshare -rn";
    const std::string command = isolate + " env -i PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen HOME='" +
                                folder.string() + "' XDG_DATA_HOME='" + (folder / "data").string() +
                                "' XDG_RUNTIME_DIR='" + (folder / "runtime").string() +
                                "' DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/velk-bench "
                                "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/velk-bench "
                                "VELK_REPORT_FIRST_PAINT=1 '" VELK_KESTOVA "' 2>/dev/null";
    std::vector<double> starts;
    for (int i = 0; i < runs; ++i) starts.push_back(startToFirstPaint(command));
    std::filesystem::remove_all(folder);
    if (std::any_of(starts.begin(), starts.end(), [](double s) { return s < 0; })) {
        std::printf("start to first paint: the application could not run in a private network namespace; skipped\n");
        return 0;
    }
    const double first = median(starts);
    std::printf("jq . library.json:            %8.1f ms (median of %d)\n", baseline * 1000, runs);
    std::printf("start to first paint:         %8.1f ms (median of %d; target <= %.0f ms: %s)\n", first * 1000, runs,
                kTargetSeconds * 1000, first <= kTargetSeconds ? "met" : "MISSED");
    std::printf("ratio first paint / jq:       %8.2fx (target <= %.0fx: %s)\n", first / baseline, kTargetRatio,
                first / baseline <= kTargetRatio ? "met" : "MISSED");
    return 0;
}
