#pragma once
// Small helpers shared by the benchmark programs: wall time, peak memory, temporary folders and
// timing an outside command.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace velk::bench {

inline double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A field of /proc/self/status in KiB (VmHWM: peak resident set, VmRSS: current).
inline long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// Resets the peak resident set to the current one, where the kernel allows it.
inline bool resetPeakRss() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

inline std::filesystem::path makeTempFolder(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// Writes `bytes` of a non-repeating pattern through a small buffer.
inline void writePatternFile(const std::filesystem::path& path, std::size_t bytes, unsigned seed) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path.string());
    std::string block(64 * 1024, '\0');
    std::size_t written = 0;
    std::uint64_t state = 0x9e3779b97f4a7c15ull ^ seed;
    while (written < bytes) {
        for (std::size_t i = 0; i < block.size(); i += 8) {
            state ^= state << 13; state ^= state >> 7; state ^= state << 17;
            for (int j = 0; j < 8; ++j) block[i + j] = static_cast<char>(state >> (8 * j));
        }
        std::size_t count = std::min(block.size(), bytes - written);
        std::fwrite(block.data(), 1, count, file);
        written += count;
    }
    std::fclose(file);
}

// Runs a shell command with its output discarded; returns the wall seconds, or a negative value
// when it failed.
inline double timeCommand(const std::string& commandLine) {
    double start = nowSeconds();
    int status = std::system((commandLine + " >/dev/null 2>&1").c_str());
    double elapsed = nowSeconds() - start;
    return status == 0 ? elapsed : -1;
}

} // namespace velk::bench
