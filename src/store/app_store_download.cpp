// The store's own verified download of one clip (resumable ".part" file, ranges of at most 8 MiB,
// one flush, SHA-256 off the GUI thread, a move that never replaces a file) and of its timing
// sidecar. Both are used one clip after another by "Download Take".

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QUrl>

#include "base/files.hpp"
#include "base/uuid.hpp"
#include "export/drift_engine.hpp"
#include "export/drift_export_error.hpp"
#include "store/app_store.hpp"
#include "store/store_async.hpp"
#include "store/store_text.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer/verified_project_copy.hpp"

namespace velk {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view noRangeMetadata = " has no compatible range-download metadata.";
constexpr std::string_view existingDiffers = "Existing destination hash differs; move it before retrying.";
constexpr std::string_view partialTooLarge = "Partial file is larger than catalog size.";
constexpr std::string_view downloadedDiffers = "Downloaded SHA-256 does not match the phone catalog.";
constexpr std::string_view sessionCancelled = "Secure transfer authorization was cancelled after a transport failure.";
constexpr std::string_view timingFailedPrefix = "Timing copy failed: ";
constexpr std::string_view copyOutsideRecordings = "Copy is missing, outside recordings, or has an invalid size.";
constexpr std::size_t maximumFileNameBytes = 255;

[[noreturn]] void throwErrno() { throw std::system_error(errno, std::generic_category()); }

// A name that stays the last component of its own path.
bool isPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.size() <= maximumFileNameBytes &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool isInside(const fs::path& file, const fs::path& root) {
    std::error_code error;
    const fs::path resolvedFile = fs::canonical(file, error);
    if (error) return false;
    const fs::path resolvedRoot = fs::weakly_canonical(root, error);
    if (error) return false;
    auto fileIt = resolvedFile.begin();
    for (auto rootIt = resolvedRoot.begin(); rootIt != resolvedRoot.end(); ++rootIt, ++fileIt) {
        if (rootIt->empty() && std::next(rootIt) == resolvedRoot.end()) break; // trailing separator
        if (fileIt == resolvedFile.end() || *fileIt != *rootIt) return false;
    }
    return fileIt != resolvedFile.end();
}

void writeAll(int fd, const Bytes& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR) continue;
            throwErrno();
        }
        written += static_cast<std::size_t>(count);
    }
}

enum class ClipEnd { downloaded, alreadyPresent };

struct ClipPaths {
    fs::path destination;
    fs::path partial;
};

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
    const std::string projectLevel = safeIdentifier(project.id);
    const std::string takeLevel = safeIdentifier(take.id);
    const std::string cameraLevel = safeIdentifier(clip.cameraId);
    const std::string clipLevel = safeIdentifier(clip.id);
    if (!clip.sizeBytes || *clip.sizeBytes <= 0 || !urlParses || !client || !isPlainFileName(clip.fileName) ||
        projectLevel.empty() || takeLevel.empty() || cameraLevel.empty() || clipLevel.empty()) {
        reportFailure(clip.cameraId + std::string(noRangeMetadata));
        finish();
        return;
    }
    std::string fileURL;
    try {
        fileURL = TransferProtocol::resolvedClipURL(*clip.remoteURL, clip.id, client->catalogURL(), false);
    } catch (const std::exception& failure) {
        reportFailure("Rejected file URL for " + clip.cameraId + ": " + failure.what());
        finish();
        return;
    }
    const fs::path folder = recordingsDirectory() / projectLevel / takeLevel / cameraLevel / clipLevel;
    const ClipPaths paths{folder / clip.fileName, folder / (clip.fileName + ".part")};
    const std::int64_t size = *clip.sizeBytes;
    const std::string expected = TransferProtocol::normalizedSHA256(clip.sha256);
    auto relay = store_async::guiRelay(this);

    auto work = [clip, client, fileURL, folder, paths, size, expected, relay]() -> ClipEnd {
        auto row = [&](TransferPhase phase, std::int64_t completed, std::string message) {
            relay([clip, phase, completed, size, message](AppStore& store) {
                store.setTransfer(clip, phase, completed, size, message);
            });
        };
        fs::create_directories(folder);
        if (fs::exists(paths.destination)) {
            if (DriftEngine::sha256(paths.destination) != expected) throw DriftExportError::invalid(std::string(existingDiffers));
            return ClipEnd::alreadyPresent;
        }
        files::UniqueFd partial(::open(paths.partial.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (!partial.valid()) throwErrno();
        struct stat attributes {};
        if (::fstat(partial.get(), &attributes) != 0) throwErrno();
        std::int64_t offset = attributes.st_size;
        if (offset > size) throw DriftExportError::invalid(std::string(partialTooLarge));
        if (::lseek(partial.get(), 0, SEEK_END) < 0) throwErrno();
        row(TransferPhase::downloading, offset, "Resuming");
        while (offset < size) {
            const std::int64_t end = std::min(offset + TransferProtocol::chunkSize - 1, size - 1);
            const Bytes bytes = client->fetchRange(fileURL, offset, end, size, clip.sha256);
            writeAll(partial.get(), bytes);
            offset += static_cast<std::int64_t>(bytes.size());
            row(TransferPhase::downloading, offset, "Downloading");
        }
        files::syncFd(partial.get());
        row(TransferPhase::verifying, size, "Checking SHA-256");
        if (DriftEngine::sha256(paths.partial) != expected) {
            if (::ftruncate(partial.get(), 0) != 0) throwErrno();
            files::syncFd(partial.get());
            throw TransferProtocolError::invalid(std::string(downloadedDiffers));
        }
        files::moveNoReplace(paths.partial, paths.destination);
        return ClipEnd::downloaded;
    };
    auto after = [this, clip, projectID = project.id, takeID = take.id, paths, size, finish](store_async::Attempt<ClipEnd> attempt) {
        if (!attempt.ok()) {
            const std::string description = store_async::describe(attempt.error);
            setTransfer(clip, TransferPhase::failed, 0, size, description);
            reportFailure("Download failed for " + clip.fileName + ": " + description);
            if (store_async::endsSession(attempt.error)) dropSessionAfterFailure(*clip.deviceId);
            finish();
            return;
        }
        updateClip(clip.id, takeID, projectID, paths.destination.string(), std::nullopt);
        setTransfer(clip, TransferPhase::ready, size, size, "Verified");
        if (*attempt.value == ClipEnd::downloaded) {
            save();
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
    auto work = [clip, client, url = resolved->absolute, localCopy, destination, root, digest] {
        // A copy that does not lie in the recordings folder gets no sidecar beside it.
        if (!isInside(localCopy, root)) throw TransferProtocolError::invalid(std::string(copyOutsideRecordings));
        if (!fs::exists(destination)) {
            const Bytes body = client->fetchTimingSidecar(clip.id, url, digest);
            const fs::path partial = destination.string() + "." + uuid::newLowercase() + ".part";
            try {
                files::UniqueFd out = files::createExclusive(partial);
                writeAll(out.get(), body);
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
                    save();
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
