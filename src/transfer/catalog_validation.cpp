// Whether a catalog received from a source may be trusted at all: canonical device identity,
// bounded names, unique identifiers, well-formed digests, single-component file names, and file
// URLs that stay on the catalog's own HTTPS origin and name exactly their clip's route.

#include <set>

#include "base/uuid.hpp"
#include "model/catalog.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

constexpr std::string_view deviceMetadataInvalid = "Authenticated catalog device metadata is invalid.";
constexpr std::string_view projectMetadataInvalid = "Authenticated catalog project metadata is invalid.";
constexpr std::string_view repeatsTakeID = "Authenticated catalog repeats a take ID.";
constexpr std::string_view repeatsUnassignedTakeID = "Authenticated catalog repeats an unassigned take ID.";
constexpr std::string_view takeIdentityInvalid = "Authenticated catalog take identity is invalid.";
constexpr std::string_view clipMetadataInvalid = "Authenticated catalog clip metadata is invalid.";
using transfer_detail::fileURLLeftOrigin;
using TransferProtocol::routeMismatch;
constexpr std::string_view sidecarIdentityIncomplete = "Timing sidecar identity is incomplete.";
constexpr std::string_view sidecarDigestWithoutURL = "Timing sidecar digest has no matching URL.";

using transfer_detail::failInvalid;

bool byteLengthWithin(const std::string& value, std::size_t minimum, std::size_t maximum) {
    return value.size() >= minimum && value.size() <= maximum;
}

// A file name is one path component: what a file path made of it would give as its last component.
bool isSinglePathComponent(const std::string& name) {
    if (!byteLengthWithin(name, 1, 255)) return false;
    if (name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

transfer_detail::ResolvedURL resolveOnOrigin(const std::string& value, std::string_view baseURL) {
    // The same rule as TransferProtocol::resolvedFileURL, keeping the parts the route check reads.
    auto resolved = transfer_detail::resolveReference(value, baseURL);
    if (!resolved || resolved->scheme != "https" || !TransferProtocol::isSameOrigin(resolved->absolute, baseURL)) {
        failInvalid(fileURLLeftOrigin);
    }
    return *resolved;
}

class CatalogValidator {
public:
    explicit CatalogValidator(std::string_view baseURL) : m_baseURL(baseURL) {}

    void validate(const DeviceCatalog& catalog) {
        if (!TransferProtocol::canonicalDeviceID(catalog.deviceId) || !byteLengthWithin(catalog.deviceName, 1, 128) ||
            catalog.catalogRevision < 0) {
            failInvalid(deviceMetadataInvalid);
        }
        std::set<std::string> projectIds;
        for (const CatalogProject& project : catalog.projects) {
            if (!uuid::isValid(project.projectId) || !projectIds.insert(project.projectId).second ||
                !byteLengthWithin(project.name, 1, 256) || project.revision < 1) {
                failInvalid(projectMetadataInvalid);
            }
            std::set<std::string> takeIds;
            for (const CatalogTake& take : project.takes) {
                if (!takeIds.insert(take.takeId).second) failInvalid(repeatsTakeID);
                validateTake(take, project.projectId);
            }
        }
        if (catalog.unassignedTakes) {
            std::set<std::string> takeIds;
            for (const CatalogTake& take : *catalog.unassignedTakes) {
                if (!takeIds.insert(take.takeId).second) failInvalid(repeatsUnassignedTakeID);
                validateTake(take, std::nullopt);
            }
        }
    }

private:
    void validateTake(const CatalogTake& take, const std::optional<std::string>& expectedProjectID) {
        if (!byteLengthWithin(take.takeId, 1, 96)) failInvalid(takeIdentityInvalid);
        if (take.projectId != expectedProjectID) failInvalid(takeIdentityInvalid);
        std::set<std::string> cameraIds;
        for (const CatalogClip& clip : take.clips) {
            validateClipMetadata(clip, cameraIds);
            validateClipRoutes(clip);
        }
    }

    void validateClipMetadata(const CatalogClip& clip, std::set<std::string>& cameraIds) {
        const bool valid = uuid::isValid(clip.clipId) && clip.finalized && clip.hasVideo && clip.sizeBytes >= 1 &&
                           TransferProtocol::isValidSHA256(clip.sha256) && byteLengthWithin(clip.cameraId, 1, 128) &&
                           cameraIds.insert(clip.cameraId).second && m_clipIds.insert(clip.clipId).second &&
                           isSinglePathComponent(clip.fileName);
        if (!valid) failInvalid(clipMetadataInvalid);
    }

    void validateClipRoutes(const CatalogClip& clip) {
        const auto download = resolveOnOrigin(clip.downloadURL, m_baseURL);
        if (!transfer_detail::matchesClipRoute(download, clip.clipId, false)) failInvalid(routeMismatch);

        if (clip.timingSidecarURL) {
            if (!clip.timingSidecarSHA256 || !TransferProtocol::isValidSHA256(*clip.timingSidecarSHA256)) {
                failInvalid(sidecarIdentityIncomplete);
            }
            const auto sidecar = resolveOnOrigin(*clip.timingSidecarURL, m_baseURL);
            if (!transfer_detail::matchesClipRoute(sidecar, clip.clipId, true)) failInvalid(routeMismatch);
        } else if (clip.timingSidecarSHA256) {
            failInvalid(sidecarDigestWithoutURL);
        }
    }

    std::string_view m_baseURL;
    std::set<std::string> m_clipIds;
};

} // namespace

void TransferProtocol::validateAuthenticatedCatalog(const DeviceCatalog& catalog, std::string_view baseURL) {
    CatalogValidator(baseURL).validate(catalog);
}

} // namespace velk
