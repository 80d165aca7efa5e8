#include "transfer/verified_project_copy.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "base/files.hpp"
#include "transfer/clip_files.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk::VerifiedProjectCopy {

namespace {

constexpr std::string_view sourceIdentityChanged = "Source identity changed.";
constexpr std::string_view projectGone = "Project no longer exists on the source.";
constexpr std::string_view notExactlyOneCopy = "Every current source clip must have exactly one verified local copy.";
constexpr std::string_view clipChanged = "Source clip identity or copy changed.";
constexpr std::string_view timingIncomplete = "Source timing metadata is incomplete.";
constexpr std::string_view sidecarNotCopied = "Timing sidecar is not safely copied.";
constexpr std::string_view copyUnusable = "Copy is missing, outside recordings, or has an invalid size.";
constexpr std::string_view copyChanged = "Local copy changed or failed SHA-256 verification.";
constexpr std::string_view unassignedPrefix = "unassigned-";

using transfer_detail::failInvalid;

bool sameDigest(std::string_view a, std::string_view b) {
    return TransferProtocol::normalizedSHA256(a) == TransferProtocol::normalizedSHA256(b);
}

using LocalCopies = std::map<std::string, const VELKClip*>;

// The first local clip of each clip id.
LocalCopies firstCopies(const std::vector<const VELKClip*>& local) {
    LocalCopies copies;
    for (const VELKClip* clip : local) copies.emplace(clip->id, clip);
    return copies;
}

std::map<std::string, std::string> provedEntry(const CatalogClip& source, const LocalCopies& local,
                                               const std::filesystem::path& root, const CancellationToken* cancellation) {
    auto found = local.find(source.clipId);
    const VELKClip* copy = found == local.end() ? nullptr : found->second;
    if (!source.finalized || !copy || copy->cameraId != source.cameraId || copy->sizeBytes != source.sizeBytes ||
        !sameDigest(copy->sha256, source.sha256) || !copy->localPath) {
        failInvalid(clipChanged);
    }
    verifyFile(*copy->localPath, source.sha256, root, source.sizeBytes, cancellation);

    std::map<std::string, std::string> entry{{"clipId", source.clipId},
                                             {"sha256", TransferProtocol::normalizedSHA256(source.sha256)}};
    if (!source.timingSidecarURL) {
        if (source.timingSidecarSHA256) failInvalid(timingIncomplete);
        return entry;
    }
    if (source.timingSidecarURL->empty() || !source.timingSidecarSHA256) failInvalid(sidecarNotCopied);
    if (!copy->timingSidecarSHA256 || !sameDigest(*copy->timingSidecarSHA256, *source.timingSidecarSHA256) ||
        !copy->timingSidecarLocalPath) {
        failInvalid(sidecarNotCopied);
    }
    verifyFile(*copy->timingSidecarLocalPath, *source.timingSidecarSHA256, root, std::nullopt, cancellation);
    entry["timingSidecarSHA256"] = TransferProtocol::normalizedSHA256(*source.timingSidecarSHA256);
    return entry;
}

// The store names a source's unassigned project with the folder-safe form of its device id, so
// both spellings stand for it.
bool isUnassignedProjectOf(std::string_view projectId, std::string_view deviceID) {
    if (projectId.substr(0, unassignedPrefix.size()) != unassignedPrefix) return false;
    const std::string_view rest = projectId.substr(unassignedPrefix.size());
    return rest == deviceID || rest == ClipFiles::safeFolderName(deviceID);
}

} // namespace

std::vector<std::map<std::string, std::string>> proof(const VELKProject& project, const DeviceCatalog& catalog,
                                                      std::string_view deviceID, const std::filesystem::path& root,
                                                      const CancellationToken* cancellation) {
    if (catalog.schemaVersion != 1 || !TransferProtocol::sameDeviceID(catalog.deviceId, deviceID)) {
        failInvalid(sourceIdentityChanged);
    }

    std::vector<const CatalogClip*> sources;
    if (isUnassignedProjectOf(project.id, deviceID)) {
        if (catalog.unassignedTakes) {
            for (const auto& take : *catalog.unassignedTakes) {
                for (const auto& clip : take.clips) sources.push_back(&clip);
            }
        }
    } else {
        auto found = std::find_if(catalog.projects.begin(), catalog.projects.end(),
                                  [&](const CatalogProject& candidate) { return candidate.projectId == project.id; });
        if (found == catalog.projects.end()) failInvalid(projectGone);
        for (const auto& take : found->takes) {
            for (const auto& clip : take.clips) sources.push_back(&clip);
        }
    }

    std::vector<const VELKClip*> local;
    for (const auto& take : project.takes) {
        for (const auto& clip : take.clips) {
            if (clip.deviceId && TransferProtocol::sameDeviceID(*clip.deviceId, deviceID)) local.push_back(&clip);
        }
    }

    std::set<std::string> sourceIds;
    std::set<std::string> localIds;
    bool repeated = false;
    for (const CatalogClip* clip : sources) repeated |= !sourceIds.insert(clip->clipId).second;
    for (const VELKClip* clip : local) repeated |= !localIds.insert(clip->id).second;
    if (sources.empty() || sources.size() > maximumProofClips || repeated || sourceIds != localIds) {
        failInvalid(notExactlyOneCopy);
    }

    std::stable_sort(sources.begin(), sources.end(),
                     [](const CatalogClip* a, const CatalogClip* b) { return a->clipId < b->clipId; });
    std::vector<std::map<std::string, std::string>> entries;
    entries.reserve(sources.size());
    const LocalCopies copies = firstCopies(local);
    for (const CatalogClip* source : sources) entries.push_back(provedEntry(*source, copies, root, cancellation));
    return entries;
}

void verifyFile(const std::filesystem::path& file, std::string_view digest, const std::filesystem::path& root,
                std::optional<std::int64_t> size, const CancellationToken* cancellation) {
    // One opening answers every question: the item itself (never where a link would lead), its
    // type and size, where it really lies, and the bytes that are hashed.
    files::UniqueFd handle(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!handle.valid()) {
        if (errno == ELOOP) failInvalid(copyUnusable);
        throw std::system_error(errno, std::generic_category(), file.string());
    }
    struct stat item {};
    if (::fstat(handle.get(), &item) != 0) throw std::system_error(errno, std::generic_category(), file.string());
    const bool sizeMatches = !size || static_cast<std::int64_t>(item.st_size) == *size;
    if (!S_ISREG(item.st_mode) || !sizeMatches || !TransferProtocol::isValidSHA256(digest) ||
        !ClipFiles::isInside(ClipFiles::pathOf(handle.get()), root)) {
        failInvalid(copyUnusable);
    }
    // Flushed before hashing so that the digest speaks for what is on stable storage. Linux flushes
    // through a read-only descriptor too, so a copy the user made read-only still verifies.
    files::syncFd(handle.get());
    if (ClipFiles::sha256Of(handle.get(), cancellation) != TransferProtocol::normalizedSHA256(digest)) failInvalid(copyChanged);
}

} // namespace velk::VerifiedProjectCopy
