#pragma once
// Shared helpers of the store tests: a private temporary folder per test, stores rooted in it,
// small library and catalog builders, and transfer clients that never reach a network.

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/clock.hpp"
#include "base/files.hpp"
#include "export/media_probe.hpp"
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
inline const std::string wedding = "11111111-2222-4333-8444-555555555555";
constexpr std::int64_t chunk = 8'388'608;

// A private folder, removed with everything in it.
class TemporaryFolder {
public:
    const std::filesystem::path& path() const { return m_path; }

private:
    QTemporaryDir m_folder;
    std::filesystem::path m_path = m_folder.path().toStdString();
};

class NoNetworkSession final : public HttpsSession {
public:
    HttpsResponse send(const HttpsRequest&) override { throw HttpsTransportError(HttpsErrorKind::other, "offline"); }
    void invalidate() override {}
};

// An open-sharing client of `deviceID` whose session lasts 900 s from `clock`'s now.
inline std::shared_ptr<AuthenticatedTransferClient> offlineClient(const std::string& deviceID, const Clock& clock,
                                                                  bool trash = true) {
    const DiscoveredDevice device{.serviceName = "Phone", .catalogURL = baseURL, .serviceType = "_velk-transfer._tcp.",
                                  .deviceId = deviceID, .sessionId = "5f0c7a7e-51a1-4d5e-9a51-8f1c6b1e2d3f",
                                  .certificateSHA256 = digestA, .foregroundOnly = true, .transferAccess = "open",
                                  .projectTrashVersion = trash ? std::optional<std::string>("trash-v1") : std::nullopt};
    TransferClientEnvironment environment;
    environment.clock = &clock;
    environment.makeSession = [](std::string_view) { return std::make_unique<NoNetworkSession>(); };
    return AuthenticatedTransferClient::connectOpen(device, environment);
}

inline VELKClip clip(const std::string& id, const std::string& camera, const std::string& digest = digestA) {
    return VELKClip{.id = id, .cameraId = camera, .fileName = id + ".mov", .sha256 = digest};
}

inline VELKTake take(const std::string& id, std::vector<VELKClip> clips = {}) {
    return VELKTake{.id = id, .clips = std::move(clips)};
}

inline VELKProject project(const std::string& id, const std::string& name, std::optional<std::int64_t> revision,
                           std::vector<VELKTake> takes = {}) {
    return VELKProject{id, name, revision, std::move(takes)};
}

inline CatalogClip catalogClip(const std::string& id, const std::string& camera, const std::string& digest = digestA) {
    return CatalogClip{id, camera, id + ".mov", 1000, digest, "/velk/v1/files/" + id, true, "video", true, true};
}

inline CatalogTake catalogTake(const std::string& id, std::vector<CatalogClip> clips = {}) {
    return CatalogTake{.takeId = id, .clips = std::move(clips)};
}

inline DeviceCatalog catalog(std::vector<CatalogProject> projects = {}) {
    return DeviceCatalog{.schemaVersion = 1, .deviceId = phoneID, .deviceName = "Stage Left", .catalogRevision = 7,
                         .projects = std::move(projects)};
}

inline const VELKProject& projectByID(const VELKLibrary& library, const std::string& id) {
    for (const VELKProject& p : library.projects)
        if (p.id == id) return p;
    throw std::runtime_error("no project " + id);
}

inline std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    files::writeAtomically(path, contents);
    return path;
}

inline std::string readFile(const std::filesystem::path& path) { return files::readAll(path); }

inline std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

inline bool startsWith(const std::optional<std::string>& text, const std::string& prefix) {
    return text && text->starts_with(prefix);
}

// The store reports `sentence` as its error and as the newest activity entry.
inline void expectError(const AppStore& store, const std::string& sentence) {
    EXPECT_EQ(store.errorMessage(), sentence);
    ASSERT_FALSE(store.activities().empty());
    EXPECT_EQ(store.activities().front().message, sentence);
    EXPECT_TRUE(store.activities().front().isError);
}

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

inline std::unique_ptr<AppStore> storeWith(const StoreRoots& roots, std::vector<VELKProject> projects,
                                           const Clock& clock = SystemClock::shared()) {
    VELKLibrary library;
    library.projects = std::move(projects);
    return storeWith(roots, library, clock);
}

// Every file is ten seconds of 1080p video at 30 frames per second with sound.
class SteadyMedia final : public MediaProbe {
public:
    std::unique_ptr<MediaAsset> open(const std::filesystem::path&) override { return std::make_unique<Asset>(); }

private:
    struct Asset final : MediaAsset {
        double durationSeconds() override { return 10; }
        std::vector<std::size_t> videoTracks() override { return {0}; }
        std::vector<std::size_t> audioTracks() override { return {1}; }
        MediaSize naturalSize(std::size_t) override { return {1920, 1080}; }
        MediaTransform preferredTransform(std::size_t) override { return {}; }
        float nominalFrameRate(std::size_t) override { return 30; }
    };
};

} // namespace velk::testing
