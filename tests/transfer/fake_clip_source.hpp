#pragma once
// A phone's file routes behind the fake HTTPS session: clip bytes served by range with their
// identity headers, timing sidecars, and the catalog. Tests switch faults on per clip.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/sha256.hpp"
#include "fake_https_session.hpp"
#include "transfer/authenticated_transfer_client.hpp"

namespace velk::testing {

inline const std::string sourceDeviceId = "0123456789abcdef";
inline const std::string sourceCatalogURL = "https://phone.local:8443/velk/v1/catalog";
inline const std::string sourceFingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

inline std::string patternBytes(std::size_t size, unsigned seed = 1) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

inline std::string digestOf(const std::string& bytes) { return Sha256::hexOf(bytes); }

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FakeClipSource {
public:
    struct Served {
        std::string bytes;
        std::string advertisedDigest;
    };

    FakeClipSource() {
        state->handler = [this](const HttpsRequest& request) { return answer(request); };
    }

    std::shared_ptr<FakeHttpsState> state = std::make_shared<FakeHttpsState>();
    std::string catalogBody;
    // Fails the range request with this start offset, as a dropped connection that retries cannot mend.
    std::optional<std::int64_t> failRangeAt;

    void addClip(const std::string& clipId, const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        m_clips[clipId] = Served{bytes, digestOf(bytes)};
    }
    // Serves `bytes` while claiming the digest of other bytes.
    void addLyingClip(const std::string& clipId, const std::string& bytes, const std::string& claimedDigest) {
        std::lock_guard lock(m_mutex);
        m_clips[clipId] = Served{bytes, claimedDigest};
    }
    void addSidecar(const std::string& clipId, const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        m_sidecars[clipId] = bytes;
    }

    std::shared_ptr<AuthenticatedTransferClient> openClient(const std::string& deviceId = sourceDeviceId) {
        TransferClientEnvironment environment;
        environment.makeSession = fakeSessionFactory(state);
        environment.sleeper = [](std::uint64_t, const CancellationToken*) {};
        return AuthenticatedTransferClient::connectOpen(device(deviceId), environment);
    }

    static DiscoveredDevice device(const std::string& deviceId = sourceDeviceId, const std::string& name = "Stage Left") {
        DiscoveredDevice device;
        device.serviceName = name;
        device.catalogURL = sourceCatalogURL;
        device.serviceType = "_velk-transfer._tcp.";
        device.deviceId = deviceId;
        device.sessionId = "9a8b7c6d-1234-4abc-8def-0123456789ab";
        device.certificateSHA256 = sourceFingerprint;
        device.foregroundOnly = true;
        device.transferAccess = "open";
        return device;
    }

    // "start-end" of every range request, in order.
    std::vector<std::string> ranges() {
        std::vector<std::string> result;
        std::lock_guard lock(state->mutex);
        for (const auto& request : state->sent) {
            if (auto range = headerOf(request, "Range")) result.push_back(range->substr(6));
        }
        return result;
    }
    std::size_t requestsTo(const std::string& suffix) {
        std::size_t count = 0;
        std::lock_guard lock(state->mutex);
        for (const auto& request : state->sent) {
            if (request.url.size() >= suffix.size() && request.url.compare(request.url.size() - suffix.size(), suffix.size(), suffix) == 0) {
                ++count;
            }
        }
        return count;
    }

private:
    HttpsResponse answer(const HttpsRequest& request) {
        const std::string prefix = "https://phone.local:8443/velk/v1/files/";
        if (request.url == sourceCatalogURL) return reply(200, catalogBody);
        if (request.url.rfind(prefix, 0) != 0) return reply(404);
        std::string name = request.url.substr(prefix.size());
        std::lock_guard lock(m_mutex);
        const std::string sidecarSuffix = ".timing.json";
        if (name.size() > sidecarSuffix.size() && name.ends_with(sidecarSuffix)) {
            auto sidecar = m_sidecars.find(name.substr(0, name.size() - sidecarSuffix.size()));
            if (sidecar == m_sidecars.end()) return reply(404);
            return reply(200, sidecar->second);
        }
        auto clip = m_clips.find(name);
        auto range = headerOf(request, "Range");
        if (clip == m_clips.end() || !range) return reply(404);
        const std::string bounds = range->substr(6);
        const std::int64_t start = std::stoll(bounds.substr(0, bounds.find('-')));
        const std::int64_t end = std::stoll(bounds.substr(bounds.find('-') + 1));
        if (failRangeAt && *failRangeAt == start) {
            throw HttpsTransportError(HttpsErrorKind::other, "The network connection was lost.");
        }
        const std::string& bytes = clip->second.bytes;
        const std::string body = bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start + 1));
        const std::string& digest = clip->second.advertisedDigest;
        return reply(206, body,
                     {{"Accept-Ranges", "bytes"},
                      {"Content-Range", "bytes " + bounds + "/" + std::to_string(bytes.size())},
                      {"X-VELK-SHA256", digest},
                      {"ETag", "\"sha256:" + digest + "\""}});
    }

    std::mutex m_mutex;
    std::map<std::string, Served> m_clips;
    std::map<std::string, std::string> m_sidecars;
};

} // namespace velk::testing
