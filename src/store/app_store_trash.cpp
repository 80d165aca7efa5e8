// Source trash: once every clip of a project has a verified copy here, the phones that recorded
// it are asked to move the project to their recoverable Trash. Every source is proved first (its
// catalog fetched again and every local copy hashed again); only then are the requests sent, one
// source after another. The library is never changed.

#include <algorithm>

#include "base/uuid.hpp"
#include "export/drift_export_error.hpp"
#include "store/app_store.hpp"
#include "store/store_async.hpp"
#include "store/store_text.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer/verified_project_copy.hpp"

namespace velk {

namespace {

constexpr std::string_view sessionEnded = "Source session ended.";
constexpr std::string_view stoppedPrefix = "Source removal stopped: ";
constexpr std::string_view stoppedSuffix =
    ". Completed removals remain recoverable. A request whose reply was lost may also have completed; inspect "
    "source Trash. Copies on this computer remain.";

using Proof = std::vector<std::map<std::string, std::string>>;

struct TrashRequest {
    std::shared_ptr<AuthenticatedTransferClient> client;
    std::string projectID;
    Proof proof;
};

struct TrashRun {
    VELKProject project;
    std::vector<std::string> deviceIDs;
    std::vector<TrashRequest> requests;
    std::function<void()> done;
};

void stopRun(AppStore* store, const std::shared_ptr<TrashRun>& run, const std::string& description) {
    const std::string text = std::string(stoppedPrefix) + description + std::string(stoppedSuffix);
    store->setErrorMessage(text);
    store->log(text, true);
    store->setIsBusy(false);
    if (run->done) run->done();
}

void sendRequest(AppStore* store, std::shared_ptr<TrashRun> run, std::size_t index) {
    if (index >= run->requests.size()) {
        store->setIsBusy(false);
        if (run->done) run->done();
        return;
    }
    const TrashRequest request = run->requests[index];
    store_async::offGuiThread(
        store, [request] { request.client->trashSourceProject(request.projectID, uuid::newLowercase(), request.proof); },
        [store, run, request, index](store_async::Attempt<std::monostate> attempt) {
            if (!attempt.ok()) return stopRun(store, run, store_async::describe(attempt.error));
            store->log("Moved source project on " + request.client->deviceName() +
                       " to recoverable Trash. Verified copies on this computer remain.");
            sendRequest(store, run, index + 1);
        });
}

void prepareSource(AppStore* store, std::shared_ptr<TrashRun> run, std::size_t index) {
    if (index >= run->deviceIDs.size()) return sendRequest(store, run, 0);
    const std::string deviceID = run->deviceIDs[index];
    std::shared_ptr<AuthenticatedTransferClient> client = store->transferClient(deviceID);
    if (!client) return stopRun(store, run, std::string(sessionEnded));
    auto work = [client, deviceID, project = run->project, root = store->recordingsDirectory(),
                 lifetime = store->lifetimeToken()] {
        const Bytes body = client->fetchCatalog(lifetime.get());
        const DeviceCatalog catalog = decodeCatalog(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
        TransferProtocol::validateAuthenticatedCatalog(catalog, client->catalogURL());
        return VerifiedProjectCopy::proof(project, catalog, deviceID, root, lifetime.get());
    };
    store_async::offGuiThread(store, std::move(work), [store, run, client, index](store_async::Attempt<Proof> attempt) {
        if (!attempt.ok()) return stopRun(store, run, store_async::describe(attempt.error));
        const std::string projectID =
            StoreText::isUnassignedProjectID(run->project.id) ? std::string("unassigned") : run->project.id;
        run->requests.push_back(TrashRequest{client, projectID, std::move(*attempt.value)});
        prepareSource(store, run, index + 1);
    });
}

} // namespace

bool AppStore::canTrashSelectedProjectSources() const {
    const VELKProject* project = findSelectedProject();
    if (!project) return false;
    bool anyClip = false;
    for (const VELKTake& take : project->takes) {
        for (const VELKClip& clip : take.clips) {
            anyClip = true;
            if (!clip.localPath) return false;
            if (clip.timingSidecarURL && !clip.timingSidecarLocalPath) return false;
            if (!clip.deviceId) return false;
            auto client = transferClient(*clip.deviceId);
            if (!client || client->isExpired() || !client->supportsProjectTrash()) return false;
        }
    }
    return anyClip;
}

void AppStore::trashSelectedProjectSources(std::function<void()> done) {
    if (m_isBusy || !canTrashSelectedProjectSources()) {
        if (done) done();
        return;
    }
    std::optional<VELKProject> project = selectedProject();
    if (!project) {
        if (done) done();
        return;
    }
    claimBusy();
    auto run = std::make_shared<TrashRun>();
    run->project = std::move(*project);
    run->done = std::move(done);
    // One request per phone, however its device id is written in the clips.
    std::vector<std::pair<std::string, std::string>> sources; // canonical key, device id as first written
    for (const VELKTake& take : run->project.takes) {
        for (const VELKClip& clip : take.clips) {
            if (!clip.deviceId) continue;
            const std::string key = TransferProtocol::canonicalDeviceID(*clip.deviceId).value_or(*clip.deviceId);
            if (std::none_of(sources.begin(), sources.end(), [&](const auto& source) { return source.first == key; })) {
                sources.emplace_back(key, *clip.deviceId);
            }
        }
    }
    std::stable_sort(sources.begin(), sources.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& source : sources) run->deviceIDs.push_back(source.second);
    prepareSource(this, run, 0);
}

} // namespace velk
