#include "transfer/collect_coordinator.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <semaphore>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/files.hpp"
#include "base/worker_pool.hpp"
#include "export/drift_export_error.hpp"
#include "transfer/bounded_async_queue.hpp"
#include "transfer/clip_files.hpp"
#include "transfer/disk_reservations.hpp"
#include "transfer/transfer_protocol.hpp"
#include "transfer/verified_project_copy.hpp"

namespace velk {

CollectDownloadOutcome CollectDownloadOutcome::success(CollectDownloadResult result) {
    CollectDownloadOutcome outcome;
    outcome.m_case = Case::success;
    outcome.m_result = std::move(result);
    return outcome;
}

CollectDownloadOutcome CollectDownloadOutcome::failure(CollectDownloadJob job, std::exception_ptr error) {
    CollectDownloadOutcome outcome;
    outcome.m_case = Case::failure;
    outcome.m_job = std::move(job);
    outcome.m_error = std::move(error);
    return outcome;
}

CollectOpenSourceOutcome CollectOpenSourceOutcome::success(DiscoveredDevice device,
                                                           std::shared_ptr<AuthenticatedTransferClient> client,
                                                           DeviceCatalog catalog) {
    CollectOpenSourceOutcome outcome;
    outcome.m_case = Case::success;
    outcome.m_device = std::move(device);
    outcome.m_client = std::move(client);
    outcome.m_catalog = std::move(catalog);
    return outcome;
}

CollectOpenSourceOutcome CollectOpenSourceOutcome::failure(DiscoveredDevice device, std::exception_ptr error) {
    CollectOpenSourceOutcome outcome;
    outcome.m_case = Case::failure;
    outcome.m_device = std::move(device);
    outcome.m_error = std::move(error);
    return outcome;
}

namespace CollectCoordinator {

namespace {

constexpr std::string_view catalogIdentityDiffers = "Catalog device identity differs from the advertised source.";
constexpr std::string_view unsupportedCatalogVersion = "Unsupported catalog version.";
constexpr std::string_view noCompatibleMetadata = "Clip has no compatible source or range metadata.";
constexpr std::string_view existingDestinationDiffers = "Existing destination hash differs; move it before retrying.";
constexpr std::string_view partialNotCreated = "Could not create resumable partial file.";
constexpr std::string_view partialTooLarge = "Partial file is larger than catalog size.";
constexpr std::string_view sidecarURLInvalid = "Timing sidecar URL is invalid.";

constexpr std::string_view downloadingMessage = "Downloading";
constexpr std::string_view checkingMessage = "Checking SHA-256";
constexpr std::string_view verifiedMessage = "Verified";

using transfer_detail::failInvalid;

// A local file the download may not use or replace, or a disk that cannot hold the clip.
[[noreturn]] void refuseLocal(const ClipDownloadOptions& options, std::string_view sentence) {
    if (options.localRefusalsAreProtocolErrors) failInvalid(sentence);
    throw DriftExportError::invalid(std::string(sentence));
}

[[noreturn]] void throwSystemError(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int limitFor(int maximumConcurrent) { return maximumConcurrent >= 2 ? maximumConcurrentDownloads : 1; }

std::filesystem::path withExtension(const std::filesystem::path& path, std::string_view extension) {
    std::filesystem::path result = path;
    result += ".";
    result += std::string(extension);
    return result;
}

bool itemExists(const std::filesystem::path& path) {
    struct stat item {};
    return ::lstat(path.c_str(), &item) == 0;
}

// Lets the kernel start writing an appended chunk out while the next one downloads, so that the
// one synchronise after the last chunk has little left to wait for. Only a hint: it makes no
// promise about stable storage, and a failure here changes nothing.
void startWriteback(int fd, std::int64_t offset, std::int64_t count) {
    ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
}

struct ClipPaths {
    std::filesystem::path folder;
    std::filesystem::path finalFile;
    std::filesystem::path partialFile;
    std::filesystem::path sidecar;
};

// Refuses, before anything touches the disk, every clip whose metadata cannot name exactly one
// folder and file under the recordings root.
std::string checkedRangeURL(const CollectDownloadJob& job) {
    const VELKClip& clip = job.clip;
    const AuthenticatedTransferClient& client = *job.client;
    if (!clip.sizeBytes || *clip.sizeBytes <= 0 || !clip.remoteURL) failInvalid(noCompatibleMetadata);
    if (!transfer_detail::resolveReference(*clip.remoteURL, client.catalogURL())) failInvalid(noCompatibleMetadata);
    if (!clip.deviceId || !TransferProtocol::sameDeviceID(*clip.deviceId, client.deviceId())) failInvalid(noCompatibleMetadata);
    if (!ClipFiles::isUsableFileName(clip.fileName)) failInvalid(noCompatibleMetadata);
    for (const std::string* identifier : {&job.projectID, &job.takeID, &clip.cameraId, &clip.id}) {
        if (safe(*identifier).empty()) failInvalid(noCompatibleMetadata);
    }
    return TransferProtocol::resolvedClipURL(*clip.remoteURL, clip.id, client.catalogURL(), false);
}

ClipPaths pathsOf(const CollectDownloadJob& job) {
    ClipPaths paths;
    paths.folder = job.recordingsRoot / safe(job.projectID) / safe(job.takeID) / safe(job.clip.cameraId) / safe(job.clip.id);
    paths.finalFile = paths.folder / job.clip.fileName;
    paths.partialFile = withExtension(paths.finalFile, "part");
    paths.sidecar = withExtension(paths.finalFile, "timing.json");
    return paths;
}

// What the clip still needs on the recordings disk: its size less what its partial file holds.
std::int64_t stillToWrite(const ClipPaths& paths, std::int64_t sizeBytes) {
    struct stat partial {};
    const bool held = ::lstat(paths.partialFile.c_str(), &partial) == 0 && S_ISREG(partial.st_mode);
    return sizeBytes - (held ? static_cast<std::int64_t>(partial.st_size) : 0);
}

// Fails at once, before anything is written, when the rest of the clip cannot fit on the disk
// beside what the other downloads to it still have to write; otherwise holds the room for it.
DiskReservations::Reservation reserveRoom(const ClipPaths& paths, std::int64_t sizeBytes, const ClipDownloadOptions& options) {
    const std::int64_t needed = stillToWrite(paths, sizeBytes);
    DiskReservations::Answer room = DiskReservations::downloads().reserve(paths.folder, needed);
    if (!room.fits) refuseLocal(options, ClipFiles::notEnoughSpace(needed, *room.available));
    return std::move(room.reservation);
}

// Runs a step that makes the clip's folders or partial file or writes to it. A disk that refuses
// (full, out of files, or the quota) is said as plainly as the check before, and the partial file
// keeps what it holds for the next attempt.
template <class Step>
auto sayingWhenDiskRefuses(const ClipPaths& paths, std::int64_t sizeBytes, const ClipDownloadOptions& options, Step step)
    -> decltype(step()) {
    try {
        return step();
    } catch (const std::system_error& error) {
        auto refusal = ClipFiles::diskRefusal(error, stillToWrite(paths, sizeBytes), paths.folder);
        if (!refusal) throw;
        refuseLocal(options, *refusal);
    }
}

class DownloadProgress {
public:
    DownloadProgress(const VELKClip& clip, const CollectProgressFunction& progress) : m_clip(clip), m_progress(progress) {}

    void send(TransferPhase phase, std::int64_t completed, std::string_view message) const {
        if (!m_progress) return;
        m_progress(CollectDownloadProgress{m_clip.id, m_clip.fileName, m_clip.deviceId.value_or(""), phase, completed,
                                           *m_clip.sizeBytes, std::string(message)});
    }

private:
    const VELKClip& m_clip;
    const CollectProgressFunction& m_progress;
};

// Appends each range to the partial file and feeds it to the digest, on two workers at once, while
// the caller already fetches the next range. At most one range is under way; both its tasks end
// before the appender does, so neither outlives the file or the digest it uses.
//
// Every 64 MiB the file written so far is also flushed to storage on a worker, while the next
// ranges arrive: on storage that only makes data lasting when told to, the one synchronise before
// the check would otherwise wait for the whole clip. Such a flush is only a head start; its failure
// fails the download as the last one's would, and the synchronise before the check still comes.
class OverlappedAppender {
public:
    // `appended(offset)` runs on a worker after each range is written, with the file's new length.
    OverlappedAppender(int fd, const std::filesystem::path& file, Sha256& digest, std::int64_t start,
                       std::function<void(std::int64_t)> appended)
        : m_fd(fd), m_file(file), m_digest(digest), m_flushedUpTo(start), m_appended(std::move(appended)) {}
    ~OverlappedAppender() { wait(); }
    OverlappedAppender(const OverlappedAppender&) = delete;
    OverlappedAppender& operator=(const OverlappedAppender&) = delete;

    // Waits for the previous range (rethrowing its error), then starts this one.
    void append(Bytes chunk, std::int64_t offset) {
        finishRange();
        flushInBackground(offset);
        auto bytes = std::make_shared<const Bytes>(std::move(chunk));
        const auto length = static_cast<std::int64_t>(bytes->size());
        m_written = workers::submit([this, bytes, offset, length] {
            ClipFiles::writeAll(m_fd, bytes->data(), bytes->size(), m_file);
            startWriteback(m_fd, offset, length);
            m_appended(offset + length);
        });
        m_hashed = workers::submit([this, bytes] { m_digest.update(bytes->data(), bytes->size()); });
    }
    // Waits for the last range; the first error of a write or a digest is rethrown. A flush still
    // under way is handed back rather than waited for.
    std::future<void> finish() {
        finishRange();
        return std::move(m_flushed);
    }

private:
    static constexpr std::int64_t flushEveryBytes = std::int64_t{64} << 20;

    void finishRange() {
        if (m_written.valid()) m_written.wait();
        if (m_hashed.valid()) m_hashed.wait();
        if (m_written.valid()) m_written.get();
        if (m_hashed.valid()) m_hashed.get();
    }
    // Starts a flush of the first `length` bytes once 64 MiB more are written since the last one
    // began, and none is under way.
    void flushInBackground(std::int64_t length) {
        if (m_flushed.valid()) {
            if (m_flushed.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
            m_flushed.get();
        }
        if (length - m_flushedUpTo < flushEveryBytes) return;
        // On a descriptor of its own: the flush may outlast the fetch, and the file's descriptor.
        auto own = std::make_shared<files::UniqueFd>(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
        if (!own->valid()) return;
        m_flushedUpTo = length;
        m_flushed = workers::submit([own] { files::syncFd(own->get()); });
    }
    void wait() {
        if (m_written.valid()) m_written.wait();
        if (m_hashed.valid()) m_hashed.wait();
        if (m_flushed.valid()) m_flushed.wait();
    }

    const int m_fd;
    const std::filesystem::path& m_file;
    Sha256& m_digest;
    std::int64_t m_flushedUpTo;
    const std::function<void(std::int64_t)> m_appended;
    std::future<void> m_written;
    std::future<void> m_hashed;
    std::future<void> m_flushed;
};

// Reads the rest of the clip into its partial file. The resume point is the partial file's size on
// disk; the bytes it already holds are hashed once, the new ones as they are appended.
FetchedClip fetchIntoPartial(const CollectDownloadJob& job, const std::string& rangeURL, const ClipPaths& paths,
                             DiskReservations::Reservation& room, const DownloadProgress& progress,
                             const ClipDownloadOptions& options) {
    const VELKClip& clip = job.clip;
    const std::int64_t sizeBytes = *clip.sizeBytes;
    const CancellationToken* cancellation = options.cancellation;

    // A partial file the disk will not take is this computer's refusal, not the phone's fault.
    if (!itemExists(paths.partialFile)) {
        files::UniqueFd created(::open(paths.partialFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (!created.valid()) {
            const std::system_error refused(errno, std::generic_category(), paths.partialFile.string());
            if (auto sentence = ClipFiles::diskRefusal(refused, sizeBytes, paths.folder)) refuseLocal(options, *sentence);
            refuseLocal(options, partialNotCreated);
        }
    }
    FetchedClip fetched;
    fetched.partial.reset(::open(paths.partialFile.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    const int partial = fetched.partial.get();
    if (partial < 0) throwSystemError(paths.partialFile.string());
    struct stat attributes {};
    if (::fstat(partial, &attributes) != 0) throwSystemError(paths.partialFile.string());
    const std::int64_t partialSize = attributes.st_size;
    if (partialSize > sizeBytes) refuseLocal(options, partialTooLarge);
    if (::lseek(partial, 0, SEEK_END) < 0) throwSystemError(paths.partialFile.string());

    progress.send(TransferPhase::downloading, partialSize, partialSize > 0 ? options.resumingMessage : options.startingMessage);

    ClipFiles::hashRange(partial, 0, partialSize, fetched.digest, cancellation);
    OverlappedAppender appender(partial, paths.partialFile, fetched.digest, partialSize, [&](std::int64_t length) {
        room.written(length - partialSize);
        progress.send(TransferPhase::downloading, length, downloadingMessage);
    });
    std::int64_t offset = partialSize;
    while (offset < sizeBytes) {
        throwIfCancelled(cancellation);
        const std::int64_t end = std::min(offset + TransferProtocol::chunkSize - 1, sizeBytes - 1);
        Bytes chunk = job.client->fetchRange(rangeURL, offset, end, sizeBytes, clip.sha256, cancellation);
        const auto length = static_cast<std::int64_t>(chunk.size());
        appender.append(std::move(chunk), offset);
        offset += length;
    }
    fetched.flushing = appender.finish();
    return fetched;
}

// Moves a complete partial file into place only when its digest matches the catalog.
void moveIntoPlace(const CollectDownloadJob& job, const ClipPaths& paths, FetchedClip& fetched,
                   const DownloadProgress& progress, const ClipDownloadOptions& options) {
    const VELKClip& clip = job.clip;
    if (fetched.flushing.valid()) fetched.flushing.get();
    files::syncFd(fetched.partial.get());
    progress.send(TransferPhase::verifying, *clip.sizeBytes, checkingMessage);
    if (hexLower(fetched.digest.finish()) != TransferProtocol::normalizedSHA256(clip.sha256)) {
        // Emptied, not removed: the next attempt starts from the first byte.
        if (::ftruncate(fetched.partial.get(), 0) != 0) throwSystemError(paths.partialFile.string());
        files::syncFd(fetched.partial.get());
        fetched.partial.reset();
        failInvalid(options.digestDiffers);
    }
    files::moveNoReplace(paths.partialFile, paths.finalFile);
    fetched.partial.reset();
}

std::optional<std::string> placeTimingSidecar(const CollectDownloadJob& job, const ClipPaths& paths,
                                              const ClipDownloadOptions& options) {
    const CancellationToken* cancellation = options.cancellation;
    const VELKClip& clip = job.clip;
    if (!clip.timingSidecarURL || !clip.timingSidecarSHA256) return std::nullopt;
    const std::string& digest = *clip.timingSidecarSHA256;

    // A sidecar already in place is checked, never fetched again.
    if (itemExists(paths.sidecar)) {
        VerifiedProjectCopy::verifyFile(paths.sidecar, digest, job.recordingsRoot, std::nullopt);
        return paths.sidecar.string();
    }
    auto sidecarURL = transfer_detail::resolveReference(*clip.timingSidecarURL, job.client->catalogURL());
    if (!sidecarURL) failInvalid(sidecarURLInvalid);
    const Bytes body = job.client->fetchTimingSidecar(clip.id, sidecarURL->absolute, digest, cancellation);

    try {
        ClipFiles::placeNewFile(paths.sidecar, body.data(), body.size());
    } catch (const std::system_error& error) {
        auto refusal = ClipFiles::diskRefusal(error, static_cast<std::int64_t>(body.size()), paths.folder);
        if (!refusal) throw;
        refuseLocal(options, *refusal);
    }
    VerifiedProjectCopy::verifyFile(paths.sidecar, digest, job.recordingsRoot, std::nullopt);
    return paths.sidecar.string();
}

} // namespace

FetchedClip fetch(const CollectDownloadJob& job, const CollectProgressFunction& progressFunction,
                  const ClipDownloadOptions& options) {
    if (!job.client) failInvalid(noCompatibleMetadata);
    const std::string rangeURL = checkedRangeURL(job);
    const ClipPaths paths = pathsOf(job);
    // Held until every byte of the clip is written, or the fetch fails.
    DiskReservations::Reservation room;
    if (!itemExists(paths.finalFile)) room = reserveRoom(paths, *job.clip.sizeBytes, options);
    // Made for this clip, and removed again while empty should it fail.
    ClipFiles::NewFolders folders =
        sayingWhenDiskRefuses(paths, *job.clip.sizeBytes, options, [&] { return ClipFiles::NewFolders::make(paths.folder); });

    // The final file is looked at first and is never replaced: a good one is accepted as it is,
    // through the same check as every copy (a plain file of the catalog's size and digest).
    if (itemExists(paths.finalFile)) {
        try {
            VerifiedProjectCopy::verifyFile(paths.finalFile, job.clip.sha256, job.recordingsRoot, job.clip.sizeBytes,
                                            options.cancellation);
        } catch (const TransferProtocolError&) {
            refuseLocal(options, existingDestinationDiffers);
        }
        FetchedClip inPlace;
        inPlace.alreadyInPlace = true;
        return inPlace;
    }
    FetchedClip fetched = sayingWhenDiskRefuses(paths, *job.clip.sizeBytes, options, [&] {
        return fetchIntoPartial(job, rangeURL, paths, room, DownloadProgress(job.clip, progressFunction), options);
    });
    folders.keep();
    return fetched;
}

CollectDownloadResult finish(const CollectDownloadJob& job, FetchedClip fetched, const CollectProgressFunction& progressFunction,
                             const ClipDownloadOptions& options) {
    const VELKClip& clip = job.clip;
    const DownloadProgress progress(clip, progressFunction);
    const ClipPaths paths = pathsOf(job);
    throwIfCancelled(options.cancellation);
    if (!fetched.alreadyInPlace) {
        sayingWhenDiskRefuses(paths, *clip.sizeBytes, options, [&] { moveIntoPlace(job, paths, fetched, progress, options); });
    }

    std::optional<std::string> timingLocalPath;
    if (options.timingSidecar) timingLocalPath = placeTimingSidecar(job, paths, options);
    // The digest was taken while the bytes went in; this reads what is now on disk.
    if (!fetched.alreadyInPlace) {
        VerifiedProjectCopy::verifyFile(paths.finalFile, clip.sha256, job.recordingsRoot, clip.sizeBytes, options.cancellation);
    }
    progress.send(TransferPhase::ready, *clip.sizeBytes, verifiedMessage);
    return CollectDownloadResult{job.projectID, job.takeID, clip.id, clip.deviceId.value_or(""), paths.finalFile.string(),
                                 std::move(timingLocalPath)};
}

CollectDownloadResult download(const CollectDownloadJob& job, const CollectProgressFunction& progress,
                               const ClipDownloadOptions& options) {
    return finish(job, fetch(job, progress, options), progress, options);
}

namespace {

CollectOpenSourceOutcome loadOpenSource(const DiscoveredDevice& device, const TransferClientEnvironment& environment,
                                        const CancellationToken* cancellation) {
    std::shared_ptr<AuthenticatedTransferClient> client;
    try {
        client = AuthenticatedTransferClient::connectOpen(device, environment);
    } catch (...) {
        return CollectOpenSourceOutcome::failure(device, std::current_exception());
    }
    try {
        throwIfCancelled(cancellation);
        const Bytes body = client->fetchCatalog(cancellation);
        DeviceCatalog catalog = decodeCatalog(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
        // A document of another format is never merged, whatever it happens to share with this one.
        if (catalog.schemaVersion != 1) failInvalid(unsupportedCatalogVersion);
        TransferProtocol::validateAuthenticatedCatalog(catalog, client->catalogURL());
        if (!TransferProtocol::sameDeviceID(catalog.deviceId, client->deviceId())) failInvalid(catalogIdentityDiffers);
        return CollectOpenSourceOutcome::success(device, std::move(client), std::move(catalog));
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        client->invalidate();
        return CollectOpenSourceOutcome::failure(device, std::move(error));
    }
}

} // namespace

std::vector<CollectOpenSourceOutcome> loadOpenSources(const std::vector<DiscoveredDevice>& devices, int maximumConcurrent,
                                                      const TransferClientEnvironment& environment,
                                                      const CancellationToken* cancellation) {
    std::vector<DiscoveredDevice> open;
    for (const auto& device : devices) {
        if (open.size() == static_cast<std::size_t>(maximumSources)) break;
        if (device.supportsOpenTransfer()) open.push_back(device);
    }
    return BoundedAsyncQueue::map(open, limitFor(maximumConcurrent),
                                  [&](const DiscoveredDevice& device) { return loadOpenSource(device, environment, cancellation); });
}

std::vector<CollectDownloadOutcome> run(const std::vector<CollectDownloadJob>& jobs, int maximumConcurrent,
                                        const CollectProgressFunction& progress, const CancellationToken* cancellation) {
    ClipDownloadOptions options;
    options.cancellation = cancellation;
    const int limit = limitFor(maximumConcurrent);
    // A lane fetches a clip, hands its finish to a worker and goes on with the next clip, so that
    // one clip's last read overlaps the next one's fetch. At most `limit` finishes are under way; a
    // lane with one more to hand on waits for a place, so reading never falls far behind.
    // Concurrent fetches prefer different sources: one source's requests share its one connection,
    // so two fetches from it take turns where two from two phones run side by side.
    std::counting_semaphore<maximumConcurrentDownloads> finishing(limit);
    const auto sourceOf = [](const CollectDownloadJob& job) { return job.client.get(); };
    auto finishes = BoundedAsyncQueue::mapSpread(jobs, limit, sourceOf, [&](const CollectDownloadJob& job) {
        std::shared_ptr<FetchedClip> fetched;
        try {
            throwIfCancelled(cancellation);
            fetched = std::make_shared<FetchedClip>(fetch(job, progress, options));
        } catch (...) {
            std::promise<CollectDownloadOutcome> failed;
            failed.set_value(CollectDownloadOutcome::failure(job, std::current_exception()));
            return failed.get_future();
        }
        finishing.acquire();
        return workers::submit([&, job, fetched] {
            CollectDownloadOutcome outcome;
            try {
                outcome = CollectDownloadOutcome::success(finish(job, std::move(*fetched), progress, options));
            } catch (...) {
                outcome = CollectDownloadOutcome::failure(job, std::current_exception());
            }
            finishing.release();
            return outcome;
        });
    });
    // Every finish ends before the run returns: they use its progress function and options.
    std::vector<CollectDownloadOutcome> outcomes;
    outcomes.reserve(jobs.size());
    for (std::size_t i = 0; i < finishes.size(); ++i) {
        try {
            outcomes.push_back(finishes[i].get());
        } catch (const std::future_error&) {
            // Only a pool that has already shut down drops a finish unrun.
            outcomes.push_back(CollectDownloadOutcome::failure(jobs[i], std::make_exception_ptr(OperationCancelledError())));
        }
    }
    return outcomes;
}

std::string safe(std::string_view identifier) { return ClipFiles::safeFolderName(identifier); }

} // namespace CollectCoordinator

} // namespace velk
