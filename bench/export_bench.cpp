// The Resolve export of a take of 8 clips totalling 1 GiB, against `openssl dgst -sha256` over the
// same files in the same run; and the media probe per file against `ffprobe` per file. Prints
// figures; asserts nothing.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/process_start.hpp"
#include "export/drift_engine.hpp"
#include "bench_support.hpp"

using namespace velk;

namespace {

constexpr int kClips = 8;
constexpr std::size_t kClipBytes = (std::size_t{1} << 30) / kClips;

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Appends a top-level "free" box so that the file is still valid media of exactly `totalBytes`.
void padWithFreeBox(const std::filesystem::path& file, std::size_t totalBytes, unsigned seed) {
    const std::size_t mediaBytes = std::filesystem::file_size(file);
    const std::size_t boxBytes = totalBytes - mediaBytes;
    const auto padding = file.string() + ".pad";
    bench::writePatternFile(padding, boxBytes - 8, seed);
    std::FILE* out = std::fopen(file.c_str(), "ab");
    const unsigned char header[8] = {static_cast<unsigned char>(boxBytes >> 24), static_cast<unsigned char>(boxBytes >> 16),
                                     static_cast<unsigned char>(boxBytes >> 8), static_cast<unsigned char>(boxBytes),
                                     'f', 'r', 'e', 'e'};
    std::fwrite(header, 1, sizeof header, out);
    std::FILE* in = std::fopen(padding.c_str(), "rb");
    std::vector<char> buffer(1 << 20);
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) std::fwrite(buffer.data(), 1, count, out);
    std::fclose(in);
    std::fclose(out);
    std::filesystem::remove(padding);
}

std::vector<TimingAnchor> anchorsFor(double duration, double offset) {
    std::vector<TimingAnchor> anchors;
    for (double share : {0.02, 0.25, 0.5, 0.75, 0.98}) {
        double source = share * duration;
        anchors.push_back({source, source + offset, 0.95, 1.0});
    }
    return anchors;
}

} // namespace

int main() {
    velk::startProcess(); // the process set up as the application sets up its own
    const auto folder = bench::makeTempFolder("velk-export-bench");
    const auto media = folder / "media";
    const auto exports = folder / "exports";
    std::filesystem::create_directories(media);
    std::filesystem::create_directories(exports);

    // One 100-second clip (3000 frames, so its sample tables are those of a real take), copied and
    // padded to 128 MiB per camera.
    const auto seedClip = media / "seed.mp4";
    const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x36:rate=30 -f lavfi -i "
                             "sine=sample_rate=48000 -t 100 -c:v libx264 -preset ultrafast -threads 1 -c:a aac "
                             "-movflags +faststart " + quoted(seedClip);
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the media\n");
        return 1;
    }
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < kClips; ++i) {
        const auto file = media / ("camera-" + std::to_string(i + 1) + ".mp4");
        std::filesystem::copy_file(seedClip, file);
        padWithFreeBox(file, kClipBytes, static_cast<unsigned>(i + 7));
        files.push_back(file);
    }
    std::filesystem::remove(seedClip);

    VELKProject project{.id = "bench", .name = "Benchmark"};
    VELKTake take;
    take.id = "take-1";
    take.referenceCameraId = "camera-1";
    for (int i = 0; i < kClips; ++i) {
        VELKClip clip;
        clip.id = "clip-" + std::to_string(i + 1);
        clip.cameraId = "camera-" + std::to_string(i + 1);
        clip.fileName = files[i].filename();
        clip.localPath = files[i].string();
        clip.sha256 = DriftEngine::sha256(files[i]); // also warms the page cache
        if (i > 0) {
            clip.anchorMeaning = "same-event-reference-media-seconds";
            clip.anchors = anchorsFor(100, 0.25 * i);
        }
        take.clips.push_back(clip);
    }

    std::string allFiles;
    for (const auto& file : files) allFiles += " " + quoted(file);

    constexpr int kRounds = 3;
    double bestExport = 1e9, bestOpenssl = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        ExportEnvironment environment;
        environment.now = std::chrono::system_clock::now() + std::chrono::hours(24 * round);
        double start = bench::nowSeconds();
        const auto exported = DriftEngine::exportTake(project, take, exports, environment);
        bestExport = std::min(bestExport, bench::nowSeconds() - start);
        std::filesystem::remove_all(exported);
        double openssl = bench::timeCommand("openssl dgst -sha256" + allFiles);
        if (openssl > 0) bestOpenssl = std::min(bestOpenssl, openssl);
    }

    double probeSeconds = 1e9, ffprobeSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        double start = bench::nowSeconds();
        for (const auto& file : files) (void)DriftEngine::mediaInfo(file);
        probeSeconds = std::min(probeSeconds, (bench::nowSeconds() - start) / kClips);
        double total = 0;
        for (const auto& file : files) total += bench::timeCommand("ffprobe -v error -show_format -show_streams " + quoted(file));
        ffprobeSeconds = std::min(ffprobeSeconds, total / kClips);
    }
    std::filesystem::remove_all(folder);

    const double probingAllowance = 0.050 * kClips;
    std::printf("export of a take of %d clips totalling 1 GiB (best of %d, page cache warm)\n", kClips, kRounds);
    std::printf("  DriftEngine::exportTake           %.3f s\n", bestExport);
    std::printf("  openssl dgst -sha256 (same files) %.3f s\n", bestOpenssl);
    std::printf("  ratio export / openssl: %.3f  (target <= 1.1 plus 50 ms of probing per clip: export <= %.3f s)\n",
                bestExport / bestOpenssl, 1.1 * bestOpenssl + probingAllowance);
    std::printf("probe per file (headers only)\n");
    std::printf("  DriftEngine::mediaInfo  %.2f ms\n", probeSeconds * 1000);
    std::printf("  ffprobe                 %.2f ms\n", ffprobeSeconds * 1000);
    std::printf("  ratio probe / ffprobe: %.3f\n", probeSeconds / ffprobeSeconds);
    return 0;
}
