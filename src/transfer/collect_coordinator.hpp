#pragma once
// Bounded collection from several phones: loading the catalogs of open sources, and downloading a
// list of clips into the recordings folder, each resumable from its partial file and verified by
// SHA-256 before it is moved into place. Every operation here blocks; the store calls them from a
// worker thread. One outcome comes back per input, in input order, and nothing is thrown.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.hpp"
#include "base/sha256.hpp"
#include "model/catalog.hpp"
#include "model/discovered_device.hpp"
#include "model/library.hpp"
#include "model/progress.hpp"
#include "transfer/authenticated_transfer_client.hpp"

namespace velk {

struct CollectDownloadJob {
    std::string projectID;
    std::string takeID;
    VELKClip clip;
    // The open session with the clip's source, shared by every job of that source.
    std::shared_ptr<AuthenticatedTransferClient> client;
    std::filesystem::path recordingsRoot;
};

struct CollectDownloadResult {
    std::string projectID;
    std::string takeID;
    std::string clipID;
    std::string deviceID;
    std::string localPath;
    std::optional<std::string> timingLocalPath;

    bool operator==(const CollectDownloadResult&) const = default;
};

struct CollectDownloadProgress {
    std::string clipID;
    std::string clipName;
    std::string deviceID;
    TransferPhase phase = TransferPhase::downloading;
    std::int64_t completed = 0;
    std::int64_t total = 0;
    std::string message;

    bool operator==(const CollectDownloadProgress&) const = default;
};

// Called from up to two downloads at once, on their own threads; it must not block.
using CollectProgressFunction = std::function<void(const CollectDownloadProgress&)>;

class CollectDownloadOutcome {
public:
    enum class Case { success, failure };

    static CollectDownloadOutcome success(CollectDownloadResult result);
    static CollectDownloadOutcome failure(CollectDownloadJob job, std::exception_ptr error);

    Case kind() const { return m_case; }
    bool isSuccess() const { return m_case == Case::success; }
    // Present on success.
    const std::optional<CollectDownloadResult>& result() const { return m_result; }
    // Present on failure, with the error that ended the download.
    const std::optional<CollectDownloadJob>& job() const { return m_job; }
    const std::exception_ptr& error() const { return m_error; }

private:
    Case m_case = Case::failure;
    std::optional<CollectDownloadResult> m_result;
    std::optional<CollectDownloadJob> m_job;
    std::exception_ptr m_error;
};

class CollectOpenSourceOutcome {
public:
    enum class Case { success, failure };

    static CollectOpenSourceOutcome success(DiscoveredDevice device, std::shared_ptr<AuthenticatedTransferClient> client,
                                            DeviceCatalog catalog);
    static CollectOpenSourceOutcome failure(DiscoveredDevice device, std::exception_ptr error);

    Case kind() const { return m_case; }
    bool isSuccess() const { return m_case == Case::success; }
    const DiscoveredDevice& device() const { return m_device; }
    // Present on success; the caller owns the open client from then on.
    const std::shared_ptr<AuthenticatedTransferClient>& client() const { return m_client; }
    const std::optional<DeviceCatalog>& catalog() const { return m_catalog; }
    // Present on failure.
    const std::exception_ptr& error() const { return m_error; }

private:
    Case m_case = Case::failure;
    DiscoveredDevice m_device;
    std::shared_ptr<AuthenticatedTransferClient> m_client;
    std::optional<DeviceCatalog> m_catalog;
    std::exception_ptr m_error;
};

// How one caller's download words its events and refusals, and what it takes in. The defaults
// are the collection run's.
struct ClipDownloadOptions {
    std::string_view startingMessage = "Starting";          // the partial file is empty
    std::string_view resumingMessage = "Resuming partial";  // the partial file holds bytes
    std::string_view digestDiffers = "Downloaded SHA-256 does not match the source catalog.";
    // A local file the download may not use (an existing destination that differs, a partial
    // longer than the clip), a partial file it cannot create, or a recordings disk without room for
    // the clip's bytes, folders or files is refused with a TransferProtocolError; otherwise with a
    // DriftExportError, which leaves the source's session alone.
    bool localRefusalsAreProtocolErrors = true;
    // Fetches and verifies the clip's timing sidecar as part of the download.
    bool timingSidecar = true;
    // Checked between steps and inside every request, read and hash.
    const CancellationToken* cancellation = nullptr;
};

// What `fetch` leaves for `finish`: the partial file, still open, with the digest of every byte it
// holds and a flush perhaps still under way; or nothing more to read when the final file was
// already in place and verified.
struct FetchedClip {
    bool alreadyInPlace = false;
    files::UniqueFd partial;
    Sha256 digest;
    // A flush of the file still under way when the last range was written, on a descriptor of its
    // own, so that the next clip's fetch need not wait for it. `finish` waits for it, and throws its
    // failure, before the check.
    std::future<void> flushing;
};

namespace CollectCoordinator {

inline constexpr int maximumSources = 8;
inline constexpr int maximumConcurrentDownloads = 2;

// Connects openly to the first eight sources that advertise open transfer and loads, decodes and
// validates each catalog, at most two at once. Sources that do not advertise open transfer, and
// those past the eighth, get no outcome.
std::vector<CollectOpenSourceOutcome> loadOpenSources(const std::vector<DiscoveredDevice>& devices, int maximumConcurrent,
                                                      const TransferClientEnvironment& environment = {},
                                                      const CancellationToken* cancellation = nullptr);

// Downloads every job, at most two at once (one at a time below 2); one outcome per job, in job
// order. Two at once come from two different sources where the jobs left allow it; otherwise jobs
// start in their order.
std::vector<CollectDownloadOutcome> run(const std::vector<CollectDownloadJob>& jobs, int maximumConcurrent,
                                        const CollectProgressFunction& progress,
                                        const CancellationToken* cancellation = nullptr);

// Downloads one clip into place and proves the copy: a resumable ".part" file filled in ranges of
// at most 8 MiB and hashed as it grows, one synchronise, a move that never replaces a file, the
// timing sidecar when asked, and a last read of the final file. An existing final file is accepted
// only when it verifies. Blocks; throws the first error. The same as `finish` after `fetch`.
CollectDownloadResult download(const CollectDownloadJob& job, const CollectProgressFunction& progress,
                               const ClipDownloadOptions& options = {});

// The part of a download that talks to the phone: the checks, the clip folder, an existing final
// file verified, or every missing range appended to the partial file. Blocks; throws the first
// error, after which the partial file keeps what was appended, and the folders it made for the
// clip are gone again while empty.
FetchedClip fetch(const CollectDownloadJob& job, const CollectProgressFunction& progress,
                  const ClipDownloadOptions& options = {});
// The rest, which reads and writes only this computer's disk (and fetches the timing sidecar when
// asked): the synchronise, the digest compared with the catalog (a partial that differs is
// emptied), the move into place, the sidecar, and the last read of the final file. A caller may
// run it beside the next clip's fetch. Blocks; throws the first error.
CollectDownloadResult finish(const CollectDownloadJob& job, FetchedClip fetched, const CollectProgressFunction& progress,
                             const ClipDownloadOptions& options = {});

// The folder name made from an identifier: lower-cased; letters and numbers of every script, "-"
// and "_" kept; every other character one "-"; hyphens at both ends removed.
std::string safe(std::string_view identifier);

} // namespace CollectCoordinator

} // namespace velk
