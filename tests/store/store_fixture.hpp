#pragma once
// Shared helpers of the store tests: a private temporary folder per test, stores rooted in it,
// small library and catalog builders, and transfer clients that never reach a network.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "base/clock.hpp"
#include "base/files.hpp"
#include "model/catalog.hpp"
#include "model/discovered_device.hpp"
#include "model/library.hpp"
#include "store/app_store.hpp"
#include "transfer/authenticated_transfer_client.hpp"

namespace velk::testing {

inline const std::string digestA = std::string(64, 'a');
inline const std::string digestB = std::string(64, 'b');
inline const std::string digestC = std::string(64, 'c');
inline const std::string phoneID = "0123456789abcdef";
inline const std::string baseURL = "https://phone.local:8443/velk/v1/catalog";

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-store-XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        if (!made) throw std::runtime_error("mkdtemp failed");
        m_path = made;
    }
    ~TemporaryFolder() {
        std::error_code error;
        // Give back write permission that a test took away, so everything can be removed.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error)) ::chmod(it->path().c_str(), 0755);
        }
        ::chmod(m_path.c_str(), 0755);
        std::filesystem::remove_all(m_path, error);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

class NoNetworkSession final : public HttpsSession {
public:
    HttpsResponse send(const HttpsRequest&) override { throw HttpsTransportError(HttpsErrorKind::other, "offline"); }
    void invalidate() override {}
};

// An open-sharing client of `deviceID` whose session lasts 900 s from `clock`'s now.
inline std::shared_ptr<AuthenticatedTransferClient> offlineClient(const std::string& deviceID, const Clock& clock) {
    DiscoveredDevice device;
    device.serviceName = "Phone";
    device.catalogURL = baseURL;
    device.serviceType = "_velk-transfer._tcp.";
    device.deviceId = deviceID;
    device.sessionId = "5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f";
    device.certificateSHA256 = digestA;
    device.foregroundOnly = true;
    device.transferAccess = "open";
    TransferClientEnvironment environment;
    environment.clock = &clock;
    environment.makeSession = [](std::string_view) { return std::make_unique<NoNetworkSession>(); };
    return AuthenticatedTransferClient::connectOpen(device, environment);
}

inline VELKClip clip(const std::string& id, const std::string& camera, const std::string& digest = digestA) {
    VELKClip made;
    made.id = id;
    made.cameraId = camera;
    made.fileName = id + ".mov";
    made.sha256 = digest;
    return made;
}

inline VELKTake take(const std::string& id, std::vector<VELKClip> clips = {}) {
    VELKTake made;
    made.id = id;
    made.clips = std::move(clips);
    return made;
}

inline VELKProject project(const std::string& id, const std::string& name, std::optional<std::int64_t> revision,
                           std::vector<VELKTake> takes = {}) {
    return VELKProject{id, name, revision, std::move(takes)};
}

inline CatalogClip catalogClip(const std::string& id, const std::string& camera, const std::string& digest = digestA) {
    CatalogClip made;
    made.clipId = id;
    made.cameraId = camera;
    made.fileName = id + ".mov";
    made.sizeBytes = 1000;
    made.sha256 = digest;
    made.downloadURL = "/velk/v1/files/" + id;
    made.finalized = true;
    made.mediaKind = "video";
    made.hasVideo = true;
    made.hasAudio = true;
    return made;
}

inline CatalogTake catalogTake(const std::string& id, std::vector<CatalogClip> clips = {}) {
    CatalogTake made;
    made.takeId = id;
    made.clips = std::move(clips);
    return made;
}

inline DeviceCatalog catalog(std::vector<CatalogProject> projects = {}) {
    DeviceCatalog made;
    made.schemaVersion = 1;
    made.deviceId = phoneID;
    made.deviceName = "Stage Left";
    made.catalogRevision = 7;
    made.projects = std::move(projects);
    return made;
}

inline std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    files::writeAtomically(path, contents);
    return path;
}

inline std::string readFile(const std::filesystem::path& path) { return files::readAll(path); }

// A store rooted in a temporary folder ("support" and "recordings" inside it).
struct StoreRoots {
    TemporaryFolder folder;
    std::filesystem::path support() const { return folder.path() / "support"; }
    std::filesystem::path recordings() const { return folder.path() / "recordings"; }
    std::unique_ptr<AppStore> open(const Clock& clock = SystemClock::shared()) const {
        return std::make_unique<AppStore>(support(), recordings(), clock);
    }
};

// A store holding `library`, written as its "library.json" before the store opens.
inline std::unique_ptr<AppStore> storeWith(const StoreRoots& roots, const VELKLibrary& library,
                                           const Clock& clock = SystemClock::shared()) {
    writeFile(roots.support() / "library.json", encodeLibrary(library));
    return roots.open(clock);
}

} // namespace velk::testing
