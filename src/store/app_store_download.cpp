// The store's download of one clip for "Download Take": the checks and rows of the store around
// the collection's own per-clip download, in its two halves (the fetch into a resumable ".part"
// file hashed as it grows; then one flush, a move that never replaces a file, a last read of the
// final file); then the clip's timing sidecar.

#include <system_error>
#include <utility>

#include <QUrl>

#include "export/drift_export_error.hpp"
#include "store/app_store.hpp"
#include "store/store_async.hpp"
#include "store/store_text.hpp"
#include "transfer/clip_files.hpp"
#include "transfer/collect_coordinator.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer/verified_project_copy.hpp"

namespace velk {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view noRangeMetadata = " has no compatible range-download metadata.";
constexpr std::string_view sessionCancelled = "Secure transfer authorization was cancelled after a transport failure.";
constexpr std::string_view timingFailedPrefix = "Timing copy failed: ";
constexpr std::string_view copyOutsideRecordings = "Copy is missing, outside recordings, or has an invalid size.";

// The store words the shared download as its own rows always have, and refuses a local file it
// cannot use without ending the source's session.
ClipDownloadOptions storeDownloadOptions(const CancellationToken* cancellation) {
    ClipDownloadOptions options;
    options.startingMessage = "Resuming";
    options.resumingMessage = "Resuming";
    options.digestDiffers = "Downloaded SHA-256 does not match the phone catalog.";
    options.localRefusalsAreProtocolErrors = false;
    options.timingSidecar = false;
    options.cancellation = cancellation;
    return options;
}

} // namespace

void AppStore::setTransfer(const VELKClip& clip, TransferPhase phase, std::int64_t completed, std::int64_t total,
                           const std::string& message) {
    std::vector<TransferStatus> rows = m_transfers;
    std::erase_if(rows, [&](const TransferStatus& row) { return row.id == clip.id; });
    rows.push_back(TransferStatus{clip.id, clip.fileName, phase, completed, total, message});
    setTransfers(std::move(rows));
}

void AppStore::updateClip(const std::string& clipID, const std::string& takeID, const std::string& projectID,
                          const std::string& localPath, const std::optional<std::string>& timingLocalPath) {
    for (VELKProject& project : m_library.projects) {
        if (project.id != projectID) continue;
        for (VELKTake& take : project.takes) {
            if (take.id != takeID) continue;
            for (VELKClip& clip : take.clips) {
                if (clip.id != clipID) continue;
                clip.localPath = localPath;
                libraryEdited();
                if (timingLocalPath) {
                    clip.timingSidecarLocalPath = *timingLocalPath;
                    libraryEdited();
                }
                return;
            }
            return;
        }
        return;
    }
}

void AppStore::dropSessionAfterFailure(const std::string& deviceID) {
    if (auto client = removeTransferClient(deviceID)) client->invalidate();
    std::vector<TransferSessionSummary> sessions = m_transferSessions;
    std::erase_if(sessions, [&](const TransferSessionSummary& row) {
        return row.deviceId == deviceID || TransferProtocol::sameDeviceID(row.deviceId, deviceID);
    });
    if (sessions.size() != m_transferSessions.size()) setTransferSessions(std::move(sessions));
    log(std::string(sessionCancelled), true);
}

// One clip's fetch on a worker: started at the clip's turn, or early, while the clip before it is
// finished. Lives on the GUI thread.
struct AppStore::ClipFetch {
    CollectDownloadJob job;
    CollectProgressFunction progress;
    // The clip's row before the fetch started, put back when an early fetch is taken back.
    std::optional<TransferStatus> rowBefore;
    // Set once the fetch has ended, in the order the GUI thread learns of it.
    std::optional<store_async::Attempt<std::shared_ptr<FetchedClip>>> ended;
    std::function<void(std::shared_ptr<ClipFetch>)> whenEnded;
};

std::optional<std::string> AppStore::refusalOf(const VELKClip& clip, const VELKProject& project, const VELKTake& take,
                                               const std::shared_ptr<AuthenticatedTransferClient>& client) const {
    const bool urlParses = clip.remoteURL && !clip.remoteURL->empty() &&
                           QUrl(QString::fromStdString(*clip.remoteURL), QUrl::StrictMode).isValid();
    bool foldersNamed = true;
    for (const std::string* identifier : {&project.id, &take.id, &clip.cameraId, &clip.id}) {
        foldersNamed = foldersNamed && !safeIdentifier(*identifier).empty();
    }
    if (!clip.sizeBytes || *clip.sizeBytes <= 0 || !urlParses || !client || !ClipFiles::isUsableFileName(clip.fileName) ||
        !foldersNamed) {
        return clip.cameraId + std::string(noRangeMetadata);
    }
    try {
        TransferProtocol::resolvedClipURL(*clip.remoteURL, clip.id, client->catalogURL(), false);
    } catch (const std::exception& failure) {
        return "Rejected file URL for " + clip.cameraId + ": " + failure.what();
    }
    return std::nullopt;
}

std::shared_ptr<AppStore::ClipFetch> AppStore::startFetch(const VELKClip& clip, const VELKProject& project, const VELKTake& take,
                                                          std::shared_ptr<AuthenticatedTransferClient> client) {
    auto fetch = std::make_shared<ClipFetch>();
    fetch->job = CollectDownloadJob{project.id, take.id, clip, std::move(client), recordingsDirectory()};
    auto relay = store_async::guiRelay(this);
    fetch->progress = [relay, clip](const CollectDownloadProgress& report) {
        relay([clip, report](AppStore& store) {
            store.setTransfer(clip, report.phase, report.completed, report.total, report.message);
        });
    };
    for (const TransferStatus& row : m_transfers) {
        if (row.id == clip.id) fetch->rowBefore = row;
    }
    auto work = [job = fetch->job, progress = fetch->progress, lifetime = m_lifetime] {
        return std::make_shared<FetchedClip>(CollectCoordinator::fetch(job, progress, storeDownloadOptions(lifetime.get())));
    };
    auto after = [fetch](store_async::Attempt<std::shared_ptr<FetchedClip>> attempt) {
        fetch->ended = std::move(attempt);
        if (auto next = std::exchange(fetch->whenEnded, nullptr)) next(fetch);
    };
    store_async::offGuiThread(this, std::move(work), std::move(after));
    return fetch;
}

void AppStore::whenFetched(const std::shared_ptr<ClipFetch>& fetch, std::function<void(std::shared_ptr<ClipFetch>)> next) {
    if (fetch->ended) {
        next(fetch);
    } else {
        fetch->whenEnded = std::move(next);
    }
}

void AppStore::failDownload(const VELKClip& clip, const std::exception_ptr& error) {
    const std::string description = store_async::describe(error);
    setTransfer(clip, TransferPhase::failed, 0, clip.sizeBytes.value_or(0), description);
    reportFailure("Download failed for " + clip.fileName + ": " + description);
    if (store_async::endsSession(error)) dropSessionAfterFailure(*clip.deviceId);
}

void AppStore::finishDownload(const std::shared_ptr<ClipFetch>& fetch, std::function<void()> done) {
    const VELKClip& clip = fetch->job.clip;
    const store_async::Attempt<std::shared_ptr<FetchedClip>>& fetched = *fetch->ended;
    if (!fetched.ok()) {
        failDownload(clip, fetched.error);
        if (done) done();
        return;
    }
    // Only a copy that was fetched is saved and logged; one already in place is only recorded.
    const bool downloaded = !(*fetched.value)->alreadyInPlace;
    auto work = [job = fetch->job, progress = fetch->progress, clip = *fetched.value, lifetime = m_lifetime] {
        return CollectCoordinator::finish(job, std::move(*clip), progress, storeDownloadOptions(lifetime.get()));
    };
    auto after = [this, clip, downloaded, done](store_async::Attempt<CollectDownloadResult> attempt) {
        if (!attempt.ok()) {
            failDownload(clip, attempt.error);
        } else {
            const CollectDownloadResult& result = *attempt.value;
            const std::int64_t size = *clip.sizeBytes;
            updateClip(result.clipID, result.takeID, result.projectID, result.localPath, std::nullopt);
            setTransfer(clip, TransferPhase::ready, size, size, "Verified");
            if (downloaded) {
                saveLater();
                log("Downloaded and verified " + clip.fileName + ".");
            }
        }
        if (done) done();
    };
    store_async::offGuiThread(this, std::move(work), std::move(after));
}

bool AppStore::fetchSucceeded(const ClipFetch& fetch) { return fetch.ended && fetch.ended->ok(); }

bool AppStore::startedWith(const ClipFetch& fetch, const std::shared_ptr<AuthenticatedTransferClient>& client) {
    return fetch.job.client == client;
}

void AppStore::takeBack(const ClipFetch& fetch) {
    std::vector<TransferStatus> rows = m_transfers;
    std::erase_if(rows, [&](const TransferStatus& row) { return row.id == fetch.job.clip.id; });
    if (fetch.rowBefore) rows.push_back(*fetch.rowBefore);
    setTransfers(std::move(rows));
}

void AppStore::downloadTiming(const VELKClip& clip, const VELKProject& project, const VELKTake& take,
                              std::function<void()> done) {
    auto finish = [done] {
        if (done) done();
    };
    if (!clip.timingSidecarURL) return finish();
    const VELKClip* stored = nullptr;
    for (const VELKProject& p : m_library.projects) {
        if (p.id != project.id) continue;
        for (const VELKTake& t : p.takes) {
            if (t.id != take.id) continue;
            for (const VELKClip& c : t.clips) {
                if (c.id == clip.id) {
                    stored = &c;
                    break;
                }
            }
            break;
        }
        break;
    }
    if (!stored || !stored->localPath || !clip.deviceId) return finish();
    std::shared_ptr<AuthenticatedTransferClient> client = transferClient(*clip.deviceId);
    if (!client || !clip.timingSidecarSHA256) return finish();
    const auto resolved = transfer_detail::resolveReference(*clip.timingSidecarURL, client->catalogURL());
    if (!resolved) return finish();

    const fs::path localCopy = *stored->localPath;
    const fs::path destination = localCopy.string() + ".timing.json";
    const fs::path root = recordingsDirectory();
    const std::string digest = *clip.timingSidecarSHA256;
    auto work = [clip, client, url = resolved->absolute, localCopy, destination, root, digest, lifetime = m_lifetime] {
        // A copy that does not lie in the recordings folder gets no sidecar beside it.
        if (!fs::exists(localCopy) || !ClipFiles::isInside(localCopy, root)) {
            throw TransferProtocolError::invalid(std::string(copyOutsideRecordings));
        }
        if (!fs::exists(destination)) {
            const Bytes body = client->fetchTimingSidecar(clip.id, url, digest, lifetime.get());
            try {
                ClipFiles::placeNewFile(destination, body.data(), body.size());
            } catch (const std::system_error& error) {
                auto refusal = ClipFiles::diskRefusal(error, std::ssize(body), destination.parent_path());
                if (!refusal) throw;
                throw DriftExportError::invalid(*refusal);
            }
        }
        VerifiedProjectCopy::verifyFile(destination, digest, root, std::nullopt);
    };
    auto after = [this, clipID = clip.id, takeID = take.id, projectID = project.id, destination,
                  finish](store_async::Attempt<std::monostate> attempt) {
        if (!attempt.ok()) {
            reportFailure(std::string(timingFailedPrefix) + store_async::describe(attempt.error));
            return finish();
        }
        for (VELKProject& p : m_library.projects) {
            if (p.id != projectID) continue;
            for (VELKTake& t : p.takes) {
                if (t.id != takeID) continue;
                for (VELKClip& c : t.clips) {
                    if (c.id != clipID) continue;
                    c.timingSidecarLocalPath = destination.string();
                    libraryEdited();
                    saveLater();
                    return finish();
                }
                return finish();
            }
            return finish();
        }
        finish();
    };
    store_async::offGuiThread(this, std::move(work), std::move(after));
}

} // namespace velk
