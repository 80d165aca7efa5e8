// The store's download of one clip, one clip after another for "Download Take": the checks and
// rows of the store around the collection's own per-clip download (resumable ".part" file hashed
// as it grows, one flush, a move that never replaces a file, a last read of the final file); then
// the clip's timing sidecar.

#include <atomic>

#include <QUrl>

#include "base/files.hpp"
#include "base/uuid.hpp"
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

void AppStore::download(const VELKClip& clip, const VELKProject& project, const VELKTake& take, std::function<void()> done) {
    auto finish = [done] {
        if (done) done();
    };
    std::shared_ptr<AuthenticatedTransferClient> client = clip.deviceId ? transferClient(*clip.deviceId) : nullptr;
    const bool urlParses = clip.remoteURL && !clip.remoteURL->empty() &&
                           QUrl(QString::fromStdString(*clip.remoteURL), QUrl::StrictMode).isValid();
    bool foldersNamed = true;
    for (const std::string* identifier : {&project.id, &take.id, &clip.cameraId, &clip.id}) {
        foldersNamed = foldersNamed && !safeIdentifier(*identifier).empty();
    }
    if (!clip.sizeBytes || *clip.sizeBytes <= 0 || !urlParses || !client || !ClipFiles::isUsableFileName(clip.fileName) ||
        !foldersNamed) {
        reportFailure(clip.cameraId + std::string(noRangeMetadata));
        finish();
        return;
    }
    try {
        TransferProtocol::resolvedClipURL(*clip.remoteURL, clip.id, client->catalogURL(), false);
    } catch (const std::exception& failure) {
        reportFailure("Rejected file URL for " + clip.cameraId + ": " + failure.what());
        finish();
        return;
    }
    const std::int64_t size = *clip.sizeBytes;
    const CollectDownloadJob job{project.id, take.id, clip, client, recordingsDirectory()};
    auto relay = store_async::guiRelay(this);
    // Only a download that fetched sends "Checking SHA-256"; an existing copy goes straight to "Verified".
    auto fetched = std::make_shared<std::atomic<bool>>(false);
    CollectProgressFunction progress = [relay, clip, fetched](const CollectDownloadProgress& report) {
        if (report.phase == TransferPhase::verifying) fetched->store(true);
        relay([clip, report](AppStore& store) {
            store.setTransfer(clip, report.phase, report.completed, report.total, report.message);
        });
    };
    auto work = [job, progress, fetched, lifetime = m_lifetime] {
        CollectDownloadResult result = CollectCoordinator::download(job, progress, storeDownloadOptions(lifetime.get()));
        return std::make_pair(std::move(result), fetched->load());
    };
    auto after = [this, clip, size, finish](store_async::Attempt<std::pair<CollectDownloadResult, bool>> attempt) {
        if (!attempt.ok()) {
            const std::string description = store_async::describe(attempt.error);
            setTransfer(clip, TransferPhase::failed, 0, size, description);
            reportFailure("Download failed for " + clip.fileName + ": " + description);
            if (store_async::endsSession(attempt.error)) dropSessionAfterFailure(*clip.deviceId);
            finish();
            return;
        }
        const auto& [result, downloaded] = *attempt.value;
        updateClip(result.clipID, result.takeID, result.projectID, result.localPath, std::nullopt);
        setTransfer(clip, TransferPhase::ready, size, size, "Verified");
        if (downloaded) {
            saveLater();
            log("Downloaded and verified " + clip.fileName + ".");
        }
        finish();
    };
    store_async::offGuiThread(this, std::move(work), std::move(after));
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
            const fs::path partial = destination.string() + "." + uuid::newLowercase() + ".part";
            try {
                files::UniqueFd out = files::createExclusive(partial);
                ClipFiles::writeAll(out.get(), body.data(), body.size(), partial);
                files::syncFd(out.get());
                out.reset();
                files::moveNoReplace(partial, destination);
            } catch (...) {
                std::error_code ignored;
                fs::remove(partial, ignored);
                throw;
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
