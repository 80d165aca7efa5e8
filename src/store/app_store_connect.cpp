// Connecting to sources: pairing (or an open connection) with one phone, and loading every phone
// that shares openly; each catalog is checked and merged into the library.

#include <algorithm>
#include <map>

#include "base/host_name.hpp"
#include "export/drift_export_error.hpp"
#include "model/pairing_bodies.hpp"
#include "store/app_store.hpp"
#include "store/store_async.hpp"
#include "store/library_merge.hpp"
#include "store/store_text.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

constexpr std::string_view connectionFailedPrefix = "Secure camera connection failed: ";
constexpr std::string_view noOpenSources = "No trusted private-LAN transfer sources are ready.";
constexpr std::string_view catalogLoaded = "Catalog loaded over pinned HTTPS";
constexpr std::string_view loadingCatalog = "Loading catalog";
constexpr std::string_view unsupportedCatalogVersion = "Unsupported catalog version.";
constexpr std::string_view catalogIdentityDiffers = "Catalog device identity differs from the paired camera.";

struct Connection {
    std::shared_ptr<AuthenticatedTransferClient> client;
    DeviceCatalog catalog;
    // The library as it stood when the connection started, and that library with the catalog
    // merged in (or the merge's error), both made on the worker.
    std::shared_ptr<const VELKLibrary> before;
    std::optional<VELKLibrary> merged;
    std::exception_ptr mergeError;
};

// What loading the open sources hands back to the GUI thread.
struct OpenSourcesLoaded {
    std::vector<CollectOpenSourceOutcome> outcomes;
    std::shared_ptr<const VELKLibrary> before;
    VELKLibrary merged;
    std::vector<std::exception_ptr> mergeErrors; // one per outcome
};

// The source identifier of an advertisement: its device id, or its advertisement identity.
std::string sourceIdentifier(const DiscoveredDevice& device) { return device.deviceId ? *device.deviceId : device.id(); }

} // namespace

std::string AppStore::collectorName() {
    return host_name::computerName().value_or(std::string(defaultCollectorName));
}

TransferClientEnvironment AppStore::environmentFor(const std::vector<DiscoveredDevice>& devices) const {
    TransferClientEnvironment environment = m_transferEnvironment;
    if (!m_addressResolver) return environment;
    // Asked here, on the GUI thread; the workers only read the answers.
    std::map<std::string, std::string> addresses;
    for (const DiscoveredDevice& device : devices) {
        if (auto address = m_addressResolver(device)) addresses[device.id()] = *address;
    }
    environment.addressOf = [addresses](const DiscoveredDevice& device) -> std::optional<std::string> {
        auto found = addresses.find(device.id());
        if (found == addresses.end()) return std::nullopt;
        return found->second;
    };
    return environment;
}

bool AppStore::claimBusy() {
    requireGuiThread();
    if (m_isBusy) return false;
    setIsBusy(true);
    return true;
}

void AppStore::finishBusy(const std::function<void()>& done) {
    setIsBusy(false);
    if (done) done();
}

void AppStore::setCollectSource(const std::string& deviceID, const std::string& name, CollectSourcePhase phase,
                                std::int64_t completed, std::int64_t total, const std::string& message) {
    auto keyOf = [](const std::string& id) { return TransferProtocol::canonicalDeviceID(id).value_or(id); };
    const std::string key = keyOf(deviceID);
    std::vector<CollectSourceStatus> rows = m_collectSources;
    std::erase_if(rows, [&](const CollectSourceStatus& row) { return keyOf(row.deviceID) == key; });
    rows.push_back(CollectSourceStatus{deviceID, name, phase, completed, total, message});
    StoreText::stableSortBy(rows, [](const CollectSourceStatus& row) -> const std::string& { return row.name; });
    setCollectSources(std::move(rows));
}

void AppStore::pairAndConnect(const DiscoveredDevice& device, const std::string& pairingCode, bool fingerprintConfirmed,
                              bool allowOpen, std::function<void(bool)> done) {
    if (!claimBusy()) {
        if (done) done(false);
        return;
    }
    auto fail = [this, done](const std::string& description) {
        reportFailure(std::string(connectionFailedPrefix) + description);
        setIsBusy(false);
        if (done) done(false);
    };

    const bool open = allowOpen && device.supportsOpenTransfer();
    std::shared_ptr<AuthenticatedTransferClient> openClient;
    if (open) {
        try {
            openClient = AuthenticatedTransferClient::connectOpen(device, environmentFor({device}));
        } catch (const std::exception& failure) {
            fail(failure.what());
            return;
        }
    }
    auto work = [openClient, device, pairingCode, fingerprintConfirmed, collectorId = m_collectorID,
                 environment = environmentFor({device}), lifetime = m_lifetime,
                 before = std::make_shared<const VELKLibrary>(m_library)]() -> Connection {
        std::shared_ptr<AuthenticatedTransferClient> client =
            openClient ? openClient
                       : AuthenticatedTransferClient::pair(device, pairingCode, collectorId, collectorName(),
                                                           fingerprintConfirmed, environment, lifetime.get());
        try {
            throwIfCancelled(lifetime.get());
            const Bytes body = client->fetchCatalog(lifetime.get());
            DeviceCatalog catalog = decodeCatalog(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
            // Checked here, beside the fetch: a catalog of up to 64 MiB must not hold the window.
            if (catalog.schemaVersion != 1) throw DriftExportError::invalid(std::string(unsupportedCatalogVersion));
            if (!TransferProtocol::sameDeviceID(catalog.deviceId, client->deviceId())) {
                throw DriftExportError::invalid(std::string(catalogIdentityDiffers));
            }
            catalog.deviceId = client->deviceId();
            TransferProtocol::validateAuthenticatedCatalog(catalog, client->catalogURL());
            Connection connection{client, std::move(catalog), before, std::nullopt, nullptr};
            try {
                VELKLibrary merged = *before;
                LibraryMerge::mergeCatalog(merged, connection.catalog, client->catalogURL());
                connection.merged = std::move(merged);
            } catch (...) {
                connection.mergeError = std::current_exception();
            }
            return connection;
        } catch (...) {
            client->invalidate();
            throw;
        }
    };
    store_async::offGuiThread(this, std::move(work), [this, fail, done](store_async::Attempt<Connection> attempt) {
        if (!attempt.ok()) {
            fail(store_async::describe(attempt.error));
            return;
        }
        Connection& connection = *attempt.value;
        const auto& client = connection.client;
        const DeviceCatalog& catalog = connection.catalog;
        try {
            // The merge made on the worker stands when the library has not changed since; otherwise
            // it is made again here, on the library as it is now.
            if (m_library.projects == connection.before->projects) {
                if (connection.mergeError) std::rethrow_exception(connection.mergeError);
                setLibrary(std::move(*connection.merged));
            } else {
                const VELKLibrary before = m_library;
                try {
                    mergeCatalog(catalog, client->catalogURL());
                } catch (...) {
                    if (m_library.projects != before.projects) setLibrary(before);
                    throw;
                }
            }
        } catch (const std::exception& failure) {
            client->invalidate();
            fail(failure.what());
            return;
        }

        if (auto previous = removeTransferClient(client->deviceId()); previous && previous != client) previous->invalidate();
        setTransferClient(client->deviceId(), client);
        std::vector<TransferSessionSummary> sessions = m_transferSessions;
        std::erase_if(sessions, [&](const TransferSessionSummary& row) {
            return row.deviceId == client->deviceId() || TransferProtocol::sameDeviceID(row.deviceId, client->deviceId());
        });
        sessions.push_back(client->summary());
        setCollectSource(client->deviceId(), client->deviceName(), CollectSourcePhase::ready, 0, 0,
                         std::string(catalogLoaded));
        StoreText::stableSortBy(sessions, [](const TransferSessionSummary& row) -> const std::string& { return row.deviceName; });
        setTransferSessions(std::move(sessions));
        saveLater();
        const bool unassigned = catalog.unassignedTakes && !catalog.unassignedTakes->empty();
        log(std::string(client->openAccess() ? "Connected openly to" : "Paired with") + " " + catalog.deviceName +
            "; merged " + std::to_string(catalog.projects.size()) + " project(s)" +
            (unassigned ? " plus unassigned takes" : "") + ".");
        if (!m_selectedProjectID && !m_library.projects.empty()) setSelectedProjectID(m_library.projects.front().id);
        setIsBusy(false);
        if (done) done(true);
    });
}

void AppStore::connectOpenSources(const std::vector<DiscoveredDevice>& devices, std::function<void()> done) {
    if (m_isBusy) {
        if (done) done();
        return;
    }
    std::vector<DiscoveredDevice> selected;
    std::vector<std::string> keys;
    for (const DiscoveredDevice& device : devices) {
        if (!device.supportsOpenTransfer()) continue;
        std::optional<std::string> canonical =
            device.deviceId ? TransferProtocol::canonicalDeviceID(*device.deviceId) : std::nullopt;
        const std::string key = canonical ? "device:" + *canonical : "advert:" + device.id();
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
        keys.push_back(key);
        selected.push_back(device);
    }
    StoreText::stableSortBy(selected, [](const DiscoveredDevice& device) -> const std::string& { return device.serviceName; });
    if (selected.size() > static_cast<std::size_t>(CollectCoordinator::maximumSources)) {
        selected.resize(CollectCoordinator::maximumSources);
    }
    if (selected.empty()) {
        reportFailure(std::string(noOpenSources));
        if (done) done();
        return;
    }
    claimBusy();
    for (const DiscoveredDevice& device : selected) {
        setCollectSource(sourceIdentifier(device), device.serviceName, CollectSourcePhase::loading, 0, 0,
                         std::string(loadingCatalog));
    }
    auto work = [selected, environment = environmentFor(selected), lifetime = m_lifetime,
                 before = std::make_shared<const VELKLibrary>(m_library)] {
        OpenSourcesLoaded loaded;
        loaded.outcomes = CollectCoordinator::loadOpenSources(selected, CollectCoordinator::maximumConcurrentDownloads,
                                                              environment, lifetime.get());
        // Each catalog is merged here, in order, into the library as it stood; one that fails to
        // merge leaves the library as the ones before it made it.
        loaded.before = before;
        loaded.merged = *before;
        loaded.mergeErrors.resize(loaded.outcomes.size());
        for (std::size_t i = 0; i < loaded.outcomes.size(); ++i) {
            const CollectOpenSourceOutcome& outcome = loaded.outcomes[i];
            if (!outcome.isSuccess()) continue;
            try {
                VELKLibrary merging = loaded.merged;
                LibraryMerge::mergeCatalog(merging, *outcome.catalog(), outcome.client()->catalogURL());
                loaded.merged = std::move(merging);
            } catch (...) {
                loaded.mergeErrors[i] = std::current_exception();
            }
        }
        return loaded;
    };
    store_async::offGuiThread(this, std::move(work), [this, done, selected](store_async::Attempt<OpenSourcesLoaded> attempt) {
        // A run that ended without outcomes failed every source it was loading.
        if (!attempt.ok()) {
            reportFailure(std::string(connectionFailedPrefix) + store_async::describe(attempt.error));
            attempt.value.emplace();
            for (const DiscoveredDevice& device : selected) {
                attempt.value->outcomes.push_back(CollectOpenSourceOutcome::failure(device, attempt.error));
            }
            attempt.value->mergeErrors.resize(selected.size());
        }
        OpenSourcesLoaded& loaded = *attempt.value;
        // The worker's merge stands when the library has not changed since it started.
        const bool mergedOnWorker = loaded.before && m_library.projects == loaded.before->projects;
        if (mergedOnWorker && loaded.merged.projects != m_library.projects) setLibrary(std::move(loaded.merged));
        for (std::size_t i = 0; i < loaded.outcomes.size(); ++i) {
            const CollectOpenSourceOutcome& outcome = loaded.outcomes[i];
            const DiscoveredDevice& device = outcome.device();
            if (!outcome.isSuccess()) {
                setCollectSource(sourceIdentifier(device), device.serviceName, CollectSourcePhase::failed, 0, 0,
                                 store_async::describe(outcome.error()));
                continue;
            }
            const auto& client = outcome.client();
            const DeviceCatalog& catalog = *outcome.catalog();
            try {
                if (mergedOnWorker) {
                    if (loaded.mergeErrors[i]) std::rethrow_exception(loaded.mergeErrors[i]);
                } else {
                    const VELKLibrary before = m_library;
                    try {
                        mergeCatalog(catalog, client->catalogURL());
                    } catch (...) {
                        if (m_library.projects != before.projects) setLibrary(before);
                        throw;
                    }
                }
            } catch (const std::exception& failure) {
                client->invalidate();
                setCollectSource(client->deviceId(), client->deviceName(), CollectSourcePhase::failed, 0, 0, failure.what());
                continue;
            }
            if (auto previous = removeTransferClient(client->deviceId()); previous && previous != client) previous->invalidate();
            setTransferClient(client->deviceId(), client);
            std::vector<TransferSessionSummary> sessions = m_transferSessions;
            std::erase_if(sessions, [&](const TransferSessionSummary& row) {
                return TransferProtocol::sameDeviceID(row.deviceId, client->deviceId());
            });
            sessions.push_back(client->summary());
            setTransferSessions(std::move(sessions));
            setCollectSource(client->deviceId(), catalog.deviceName, CollectSourcePhase::ready, 0, 0,
                             std::to_string(catalog.projects.size()) + " project catalog(s) loaded");
        }
        std::vector<TransferSessionSummary> sessions = m_transferSessions;
        StoreText::stableSortBy(sessions, [](const TransferSessionSummary& row) -> const std::string& { return row.deviceName; });
        setTransferSessions(std::move(sessions));
        saveLater();
        log("Collect loaded " + std::to_string(m_transferSessions.size()) + " trusted private-LAN source session(s).");
        finishBusy(done);
    });
}

} // namespace velk
