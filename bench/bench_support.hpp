#pragma once
// Small helpers shared by the benchmark programs: wall time, peak memory, temporary folders,
// timing an outside command, and serving clip files from a server on 127.0.0.1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
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

// Output of a shell command; throws when it cannot run or fails.
inline std::string commandOutput(const std::string& command) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string output;
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, count);
    if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
    return output;
}

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

// Waits up to 10 s for a server to accept on 127.0.0.1:port.
inline bool waitForListener(int port) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// One clip file that a loopback test server serves.
struct Clip {
    std::string id;
    std::filesystem::path source;
    std::int64_t size = 0;
    std::string sha256;
};

} // namespace velk::bench
