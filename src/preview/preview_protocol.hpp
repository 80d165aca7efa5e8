#pragma once
// The camera's preview service on TCP port 45455, without images: one request byte, then frames of
// a 4-byte big-endian length and that many bytes of JPEG. Blocking socket steps with bounded waits;
// the decoding half lives in preview_client.hpp.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

class VELKPreviewError : public std::runtime_error {
public:
    enum class Case { invalidHost, connectionFailed, transportFailed, invalidLength, invalidJPEG };

    explicit VELKPreviewError(Case kind);
    Case kind() const { return m_kind; }
    static const char* message(Case kind);
    [[noreturn]] static void raise(Case kind) { throw VELKPreviewError(kind); }

    bool operator==(const VELKPreviewError& other) const { return m_kind == other.m_kind; }

private:
    Case m_kind;
};

// Which preview stream a request is for: the small wall stream, or the larger stream of the
// cameras on the Preview and Program monitors.
enum class VELKPreviewProfile { wall, selected };

std::string_view rawValue(VELKPreviewProfile profile);
std::optional<VELKPreviewProfile> previewProfileFromRaw(std::string_view raw);

// Live sockets of one worker, so that stopping the store can wake a worker blocked in recv.
// Shutting down is remembered: a socket registered afterwards is shut down at once.
class PreviewSocketWatch {
public:
    void add(int fd);
    // Call before closing the descriptor, so that no shutdown can reach a reused number.
    void remove(int fd);
    void shutdownAll();
    bool isShutDown() const;

private:
    mutable std::mutex m_mutex;
    std::set<int> m_fds;
    // Read without the lock by the exchange that checks it before each blocking step.
    std::atomic<bool> m_shutDown = false;
};

namespace VELKPreviewClient {

enum class Transport { persistent, legacy };

std::string_view rawValue(Transport transport);
std::optional<Transport> transportFromRaw(std::string_view raw);

constexpr std::uint16_t port = 45455;
constexpr std::int64_t maximumFrameBytes = 2'097'152;
// Seconds a stream keeps using legacy fetches after its last legacy exchange that delivered.
constexpr double legacyProbeInterval = 30.0;
constexpr int defaultTimeoutMs = 1500;
constexpr int persistentConnectTimeoutMs = 2500;
// One frame, header and payload, must arrive within this many seconds of the wait for it.
constexpr double frameDeadlineSeconds = 3.0;

std::uint8_t legacyMode(VELKPreviewProfile profile);
std::uint8_t persistentMode(VELKPreviewProfile profile);
// Persistent first.
std::vector<std::uint8_t> requestModes(VELKPreviewProfile profile);
// Seconds between two frames handed to the caller of a persistent stream.
double minimumFrameInterval(VELKPreviewProfile profile);

bool isJPEG(std::string_view data);

// The blocking socket steps. Each throws VELKPreviewError; `watch` (optional) learns the socket.
int connect(const std::string& host, std::uint16_t port, int timeoutMs, PreviewSocketWatch* watch = nullptr);
void closeSocket(int fd, PreviewSocketWatch* watch);
void sendMode(int fd, std::uint8_t mode);
// `deadline` is in seconds of monotonic time.
std::string readExactly(int fd, std::int64_t count, double deadline);
// The payload of one frame, its length checked; no JPEG check.
std::string readJPEG(int fd);
// The same into `payload`, whose buffer a stream keeps from frame to frame.
void readJPEG(int fd, std::string& payload);
// Seconds of monotonic time.
double uptimeSeconds();

// One-shot, without looking at the picture: connect, send the byte, read one frame, close. The
// checked one-shot fetches are fetchJPEG and fetchImage (preview_client.hpp).
std::string fetchFrame(const std::string& host, std::uint16_t serverPort, std::uint8_t mode, int timeoutMs,
                       PreviewSocketWatch* watch);

} // namespace VELKPreviewClient

} // namespace velk
