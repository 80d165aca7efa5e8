// File digest throughput against `openssl dgst -sha256` on the same 1 GiB file, and the peak
// memory the digest adds. Prints figures measured in this run; asserts nothing.

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/process_start.hpp"
#include "bench_support.hpp"
#include "base/sha256.hpp"
#include "export/drift_engine.hpp"

using namespace velk;

int main() {
    velk::startProcess(); // the process set up as the application sets up its own
    constexpr std::size_t kFileBytes = std::size_t{1} << 30;
    constexpr int kRounds = 3;
    const auto folder = bench::makeTempFolder("velk-sha256-bench");
    const auto file = folder / "one-gib.bin";
    bench::writePatternFile(file, kFileBytes, 1);
    // Warm the page cache so both sides read from memory.
    std::system(("cat '" + file.string() + "' >/dev/null").c_str());

    // OpenSSL loads its providers on first use; that one-time cost is not the digest's buffer.
    (void)Sha256::of(std::string_view{});
    const bool peakReset = bench::resetPeakRss();
    const long rssBeforeKiB = bench::statusKiB("VmRSS");
    const long peakBeforeKiB = bench::statusKiB("VmHWM");

    double bestOurs = 1e9, bestOpenssl = 1e9;
    std::string digest;
    for (int round = 0; round < kRounds; ++round) {
        double start = bench::nowSeconds();
        digest = DriftEngine::sha256(file);
        bestOurs = std::min(bestOurs, bench::nowSeconds() - start);
        double openssl = bench::timeCommand("openssl dgst -sha256 '" + file.string() + "'");
        if (openssl > 0) bestOpenssl = std::min(bestOpenssl, openssl);
    }
    const long peakAfterKiB = bench::statusKiB("VmHWM");
    std::filesystem::remove_all(folder);

    const double gib = static_cast<double>(kFileBytes) / (1 << 30);
    std::printf("sha256 of 1 GiB (best of %d, page cache warm)\n", kRounds);
    std::printf("  DriftEngine::sha256   %.3f s  %.2f GiB/s\n", bestOurs, gib / bestOurs);
    std::printf("  openssl dgst -sha256  %.3f s  %.2f GiB/s\n", bestOpenssl, gib / bestOpenssl);
    std::printf("  throughput ratio (ours / openssl): %.3f  (target >= 0.95)\n", bestOpenssl / bestOurs);
    std::printf("  peak RSS growth: %.2f MiB  (target <= 2 MiB; peak %s reset, RSS before %.1f MiB)\n",
                (peakAfterKiB - std::max(peakBeforeKiB, rssBeforeKiB)) / 1024.0, peakReset ? "was" : "was not",
                rssBeforeKiB / 1024.0);
    std::printf("  digest %s\n", digest.c_str());
    return 0;
}
