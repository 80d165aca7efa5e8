#include "preview/preview_protocol.hpp"

#include <cerrno>
#include <ctime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velk {

namespace {

const char* const kInvalidHost = "Invalid camera address";
const char* const kConnectionFailed = "Preview connection failed";
const char* const kTransportFailed = "Preview response was incomplete";
const char* const kInvalidLength = "Preview frame size was rejected";
const char* const kInvalidJPEG = "Preview frame was not a valid JPEG";

} // namespace

VELKPreviewError::VELKPreviewError(Case kind) : std::runtime_error(message(kind)), m_kind(kind) {}

const char* VELKPreviewError::message(Case kind) {
    switch (kind) {
    case Case::invalidHost: return kInvalidHost;
    case Case::connectionFailed: return kConnectionFailed;
    case Case::transportFailed: return kTransportFailed;
    case Case::invalidLength: return kInvalidLength;
    case Case::invalidJPEG: return kInvalidJPEG;
    }
    return kConnectionFailed;
}

std::string_view rawValue(VELKPreviewProfile profile) {
    return profile == VELKPreviewProfile::wall ? "wall" : "selected";
}

std::optional<VELKPreviewProfile> previewProfileFromRaw(std::string_view raw) {
    if (raw == "wall") return VELKPreviewProfile::wall;
    if (raw == "selected") return VELKPreviewProfile::selected;
    return std::nullopt;
}

void PreviewSocketWatch::add(int fd) {
    std::lock_guard lock(m_mutex);
    m_fds.insert(fd);
    if (m_shutDown) ::shutdown(fd, SHUT_RDWR);
}

void PreviewSocketWatch::remove(int fd) {
    std::lock_guard lock(m_mutex);
    m_fds.erase(fd);
}

void PreviewSocketWatch::shutdownAll() {
    std::lock_guard lock(m_mutex);
    m_shutDown = true;
    for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
}

bool PreviewSocketWatch::isShutDown() const { return m_shutDown.load(); }

namespace VELKPreviewClient {

std::string_view rawValue(Transport transport) {
    return transport == Transport::persistent ? "persistent" : "legacy";
}

std::optional<Transport> transportFromRaw(std::string_view raw) {
    if (raw == "persistent") return Transport::persistent;
    if (raw == "legacy") return Transport::legacy;
    return std::nullopt;
}

std::uint8_t legacyMode(VELKPreviewProfile profile) { return profile == VELKPreviewProfile::wall ? 1 : 2; }

std::uint8_t persistentMode(VELKPreviewProfile profile) { return profile == VELKPreviewProfile::wall ? 4 : 5; }

std::vector<std::uint8_t> requestModes(VELKPreviewProfile profile) {
    return {persistentMode(profile), legacyMode(profile)};
}

double minimumFrameInterval(VELKPreviewProfile profile) {
    return profile == VELKPreviewProfile::wall ? 1.0 / 12.0 : 0.125;
}

bool isJPEG(std::string_view data) {
    if (data.size() < 4) return false;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    return byte(0) == 0xFF && byte(1) == 0xD8 && byte(data.size() - 2) == 0xFF && byte(data.size() - 1) == 0xD9;
}

double uptimeSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void closeSocket(int fd, PreviewSocketWatch* watch) {
    if (fd < 0) return;
    if (watch) watch->remove(fd);
    ::close(fd);
}

int connect(const std::string& host, std::uint16_t port, int timeoutMs, PreviewSocketWatch* watch) {
    // A time-out of zero would mean "wait for ever" to the socket options.
    if (timeoutMs <= 0) VELKPreviewError::raise(VELKPreviewError::Case::connectionFailed);
    if (watch && watch->isShutDown()) VELKPreviewError::raise(VELKPreviewError::Case::connectionFailed);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) VELKPreviewError::raise(VELKPreviewError::Case::connectionFailed);
    if (watch) watch->add(fd);
    const auto failWith = [&](VELKPreviewError::Case kind) {
        closeSocket(fd, watch);
        VELKPreviewError::raise(kind);
    };
    timeval timeout{};
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = static_cast<suseconds_t>(timeoutMs - timeout.tv_sec * 1000) * 1000;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) {
        failWith(VELKPreviewError::Case::connectionFailed);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) failWith(VELKPreviewError::Case::invalidHost);

    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) failWith(VELKPreviewError::Case::connectionFailed);
    // A shutdown that came while the socket was still connecting did not reach it.
    const auto restoreBlocking = [&] {
        if (::fcntl(fd, F_SETFL, flags) != 0 || (watch && watch->isShutDown())) {
            failWith(VELKPreviewError::Case::connectionFailed);
        }
    };
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        restoreBlocking();
        return fd;
    }
    if (errno != EINPROGRESS) failWith(VELKPreviewError::Case::connectionFailed);
    pollfd ready{fd, POLLOUT, 0};
    if (::poll(&ready, 1, timeoutMs) > 0) {
        int pending = 0;
        socklen_t length = sizeof pending;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) == 0 && pending == 0) {
            restoreBlocking();
            return fd;
        }
    }
    failWith(VELKPreviewError::Case::connectionFailed);
    return -1;
}

void sendMode(int fd, std::uint8_t mode) {
    const char byte = static_cast<char>(mode);
    // MSG_NOSIGNAL: a camera that already closed must give an error, not SIGPIPE.
    if (::send(fd, &byte, 1, MSG_NOSIGNAL) != 1) VELKPreviewError::raise(VELKPreviewError::Case::transportFailed);
}

namespace {

void receiveExactly(int fd, char* into, std::size_t count, double deadline) {
    std::size_t received = 0;
    while (received < count) {
        if (!(uptimeSeconds() < deadline)) VELKPreviewError::raise(VELKPreviewError::Case::transportFailed);
        const ssize_t n = ::recv(fd, into + received, count - received, 0);
        if (n <= 0) VELKPreviewError::raise(VELKPreviewError::Case::transportFailed);
        received += static_cast<std::size_t>(n);
    }
}

} // namespace

std::string readExactly(int fd, std::int64_t count, double deadline) {
    if (count <= 0) return {};
    std::string buffer(static_cast<std::size_t>(count), '\0');
    receiveExactly(fd, buffer.data(), buffer.size(), deadline);
    return buffer;
}

std::string readJPEG(int fd) {
    std::string payload;
    readJPEG(fd, payload);
    return payload;
}

void readJPEG(int fd, std::string& payload) {
    const double deadline = uptimeSeconds() + frameDeadlineSeconds;
    unsigned char header[4];
    receiveExactly(fd, reinterpret_cast<char*>(header), sizeof header, deadline);
    std::uint32_t length = 0;
    for (unsigned char byte : header) length = (length << 8) | byte;
    if (length < 1 || length > maximumFrameBytes) VELKPreviewError::raise(VELKPreviewError::Case::invalidLength);
    payload.resize(length);
    receiveExactly(fd, payload.data(), payload.size(), deadline);
}

std::string fetchFrame(const std::string& host, std::uint16_t serverPort, std::uint8_t mode, int timeoutMs,
                       PreviewSocketWatch* watch) {
    const int fd = connect(host, serverPort, timeoutMs, watch);
    try {
        sendMode(fd, mode);
        std::string frame = readJPEG(fd);
        closeSocket(fd, watch);
        return frame;
    } catch (...) {
        closeSocket(fd, watch);
        throw;
    }
}

} // namespace VELKPreviewClient

} // namespace velk
