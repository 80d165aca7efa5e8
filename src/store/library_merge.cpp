#include "store/library_merge.hpp"

#include <algorithm>
#include <optional>

#include "export/drift_export_error.hpp"
#include "store/store_text.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk::LibraryMerge {

namespace {

constexpr std::string_view catalogDeviceIdentityMissing = "Catalog device identity is missing.";
constexpr std::string_view catalogProjectIdentityMissing = "Catalog project identity is missing.";
constexpr std::string_view unassignedTakeCarriesProject = "An unassigned take unexpectedly carries a project ID.";
constexpr std::string_view catalogTakeIDMissing = "Catalog take ID is missing.";
constexpr std::string_view clipIdentityMissing = "Clip identity, camera, or SHA-256 is missing.";
constexpr std::string_view unassignedProjectNamePrefix = "Unassigned \u2014 ";

[[noreturn]] void fail(std::string sentence) { throw DriftExportError::invalid(sentence); }

[[noreturn]] void failTake(const std::string& takeID, std::string_view ending) { fail("Take " + takeID + std::string(ending)); }

bool conflicts(const std::optional<std::string>& ours, const std::optional<std::string>& theirs) {
    return ours && theirs && !StoreText::same(*ours, *theirs);
}

bool conflicts(const std::optional<std::int64_t>& ours, const std::optional<std::int64_t>& theirs) {
    return ours && theirs && *ours != *theirs;
}

// A present identifier of which either side cannot be canonicalised does not agree.
bool devicesAgree(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return !a || !b || TransferProtocol::sameDeviceID(*a, *b);
}

bool clipsAgree(const VELKClip& existing, const VELKClip& incoming) {
    return StoreText::sameIgnoringCase(existing.sha256, incoming.sha256) &&
           StoreText::same(existing.cameraId, incoming.cameraId) &&
           (!existing.sizeBytes || !incoming.sizeBytes || *existing.sizeBytes == *incoming.sizeBytes) &&
           devicesAgree(existing.deviceId, incoming.deviceId);
}

template <class T>
void keepIfAbsent(std::optional<T>& value, const std::optional<T>& existing) {
    if (!value) value = existing;
}

// What a merged clip keeps of the clip it replaces.
void keepKnownDetails(VELKClip& stored, const VELKClip& existing, ClipOrigin origin) {
    if (existing.localPath) stored.localPath = existing.localPath;
    // A sidecar already copied to this Mac stays known while its digest is unchanged.
    if (!stored.timingSidecarLocalPath && existing.timingSidecarLocalPath && stored.timingSidecarSHA256 &&
        existing.timingSidecarSHA256 &&
        StoreText::sameIgnoringCase(*stored.timingSidecarSHA256, *existing.timingSidecarSHA256)) {
        stored.timingSidecarLocalPath = existing.timingSidecarLocalPath;
    }
    if (origin == ClipOrigin::manifest) {
        keepIfAbsent(stored.remoteURL, existing.remoteURL);
        keepIfAbsent(stored.sizeBytes, existing.sizeBytes);
        keepIfAbsent(stored.hasVideo, existing.hasVideo);
        keepIfAbsent(stored.hasAudio, existing.hasAudio);
        keepIfAbsent(stored.originCatalogRevision, existing.originCatalogRevision);
        keepIfAbsent(stored.deviceName, existing.deviceName);
    }
}

VELKProject* findProject(VELKLibrary& library, std::string_view projectID) {
    for (VELKProject& project : library.projects) {
        if (StoreText::same(project.id, projectID)) return &project;
    }
    return nullptr;
}

VELKClip buildClip(const CatalogClip& source, const VELKClip* existing, const DeviceCatalog& catalog,
                   std::string_view baseURL) {
    VELKClip clip;
    clip.id = source.clipId;
    clip.cameraId = source.cameraId;
    clip.fileName = source.fileName;
    if (existing) clip.localPath = existing->localPath;
    clip.remoteURL = resolvedRoute(source.downloadURL, baseURL);
    clip.sizeBytes = source.sizeBytes;
    clip.sha256 = source.sha256;
    clip.anchorMeaning = source.anchorMeaning;
    clip.anchors = source.anchors.value_or(std::vector<TimingAnchor>{});
    clip.mediaKind = source.mediaKind;
    clip.hasVideo = true;
    clip.hasAudio = source.hasAudio;
    clip.timingSidecarURL = source.timingSidecarURL;
    clip.timingSidecarSHA256 = source.timingSidecarSHA256;
    clip.deviceId = catalog.deviceId;
    clip.deviceName = catalog.deviceName;
    clip.originCatalogRevision = catalog.catalogRevision;
    if (existing) clip.timingSidecarLocalPath = existing->timingSidecarLocalPath;
    return clip;
}

} // namespace

ClipIndex::ClipIndex(const VELKLibrary& library) {
    for (const VELKProject& project : library.projects) addProject(project);
}

void ClipIndex::addProject(const VELKProject& project) {
    const std::string projectKey = StoreText::canonicalKey(project.id);
    for (const VELKTake& take : project.takes) {
        for (const VELKClip& clip : take.clips) m_projectsByClip[StoreText::canonicalKey(clip.id)].push_back(projectKey);
    }
}

void ClipIndex::removeProject(const VELKProject& project) {
    const std::string projectKey = StoreText::canonicalKey(project.id);
    for (const VELKTake& take : project.takes) {
        for (const VELKClip& clip : take.clips) {
            auto entry = m_projectsByClip.find(StoreText::canonicalKey(clip.id));
            if (entry == m_projectsByClip.end()) continue;
            auto& owners = entry->second;
            auto owner = std::find(owners.begin(), owners.end(), projectKey);
            if (owner != owners.end()) owners.erase(owner);
            if (owners.empty()) m_projectsByClip.erase(entry);
        }
    }
}

bool ClipIndex::inOtherProject(std::string_view clipID, std::string_view projectID) const {
    auto entry = m_projectsByClip.find(StoreText::canonicalKey(clipID));
    if (entry == m_projectsByClip.end()) return false;
    const std::string projectKey = StoreText::canonicalKey(projectID);
    return std::any_of(entry->second.begin(), entry->second.end(),
                       [&](const std::string& owner) { return owner != projectKey; });
}

std::optional<std::string> resolvedRoute(std::string_view route, std::string_view baseURL) {
    if (route.empty()) return std::nullopt;
    auto resolved = transfer_detail::resolveReference(route, baseURL);
    if (!resolved) return std::nullopt;
    return resolved->absolute;
}

std::string unassignedProjectID(std::string_view deviceID) {
    return std::string(StoreText::unassignedProjectPrefix) + StoreText::safeIdentifier(deviceID);
}

void upsertProject(VELKLibrary& library, VELKProject project, ClipIndex* index) {
    auto& projects = library.projects;
    auto removed = std::stable_partition(projects.begin(), projects.end(), [&](const VELKProject& existing) {
        return !StoreText::same(existing.id, project.id);
    });
    if (index) {
        for (auto it = removed; it != projects.end(); ++it) index->removeProject(*it);
        index->addProject(project);
    }
    projects.erase(removed, projects.end());
    projects.push_back(std::move(project));
    StoreText::stableSortBy(projects, [](const VELKProject& p) -> const std::string& { return p.name; });
}

void mergeClip(const ClipIndex& index, VELKClip clip, VELKTake& take, const VELKProject& project, ClipOrigin origin) {
    if (clip.id.empty() || clip.cameraId.empty() || clip.sha256.empty()) fail(std::string(clipIdentityMissing));

    if (index.inOtherProject(clip.id, project.id)) fail("Immutable clip ID " + clip.id + " appears in multiple projects.");

    const StoreText::SameText isClipID(clip.id);
    const StoreText::SameText isTakeID(take.id);
    for (const VELKTake& other : project.takes) {
        if (isTakeID(other.id)) continue;
        for (const VELKClip& otherClip : other.clips) {
            if (isClipID(otherClip.id)) fail("Immutable clip ID " + clip.id + " appears in multiple takes.");
        }
    }

    auto sameID = [&](const VELKClip& candidate) { return isClipID(candidate.id); };
    auto existing = std::find_if(take.clips.begin(), take.clips.end(), sameID);
    if (existing != take.clips.end()) {
        if (!clipsAgree(*existing, clip)) fail("Immutable clip ID " + clip.id + " has conflicting metadata.");
        keepKnownDetails(clip, *existing, origin);
    } else {
        for (const VELKClip& other : take.clips) {
            if (StoreText::same(other.cameraId, clip.cameraId)) {
                fail("Take " + take.id + " has more than one finalized clip for camera " + clip.cameraId + ".");
            }
        }
    }

    std::erase_if(take.clips, sameID);
    take.clips.push_back(std::move(clip));
}

void mergeCatalogTake(const ClipIndex& index, const CatalogTake& catalogTake, VELKProject& project,
                      const DeviceCatalog& catalog, std::string_view baseURL) {
    const std::string& takeID = catalogTake.takeId;
    if (takeID.empty()) fail(std::string(catalogTakeIDMissing));

    VELKTake take;
    take.id = takeID;
    for (const VELKTake& existing : project.takes) {
        if (StoreText::same(existing.id, takeID)) {
            take = existing;
            break;
        }
    }

    if (conflicts(take.projectNameAtCapture, catalogTake.projectNameAtCapture)) {
        failTake(takeID, " has conflicting captured project names.");
    }
    if (conflicts(take.projectRevisionAtCapture, catalogTake.projectRevisionAtCapture)) {
        failTake(takeID, " has conflicting captured project revisions.");
    }
    if (conflicts(take.createdAt, catalogTake.createdAt)) failTake(takeID, " has conflicting creation times.");
    if (conflicts(take.referenceCameraId, catalogTake.referenceCameraId)) {
        failTake(takeID, " has conflicting reference cameras.");
    }
    // A take still at the record's default rate has never been given one, so it takes any.
    if (catalogTake.timelineFPS && take.timelineFPS != "30" && !StoreText::same(take.timelineFPS, *catalogTake.timelineFPS)) {
        failTake(takeID, " has conflicting timeline frame rates.");
    }

    if (catalogTake.projectNameAtCapture) take.projectNameAtCapture = catalogTake.projectNameAtCapture;
    if (catalogTake.projectRevisionAtCapture) take.projectRevisionAtCapture = catalogTake.projectRevisionAtCapture;
    if (catalogTake.createdAt) take.createdAt = catalogTake.createdAt;
    if (catalogTake.referenceCameraId) take.referenceCameraId = catalogTake.referenceCameraId;
    if (catalogTake.timelineFPS) take.timelineFPS = *catalogTake.timelineFPS;

    for (const CatalogClip& source : catalogTake.clips) {
        if (!source.finalized || !source.hasVideo) fail("Catalog clip " + source.clipId + " is not finalized video media.");
        const VELKClip* existing = nullptr;
        for (const VELKClip& clip : take.clips) {
            if (StoreText::same(clip.id, source.clipId)) {
                existing = &clip;
                break;
            }
        }
        VELKClip built = buildClip(source, existing, catalog, baseURL);
        mergeClip(index, std::move(built), take, project, ClipOrigin::catalog);
    }

    StoreText::stableSortBy(take.clips, [](const VELKClip& c) -> const std::string& { return c.cameraId; });
    std::erase_if(project.takes, [&](const VELKTake& existing) { return StoreText::same(existing.id, take.id); });
    project.takes.push_back(std::move(take));
    StoreText::stableSortBy(project.takes, [](const VELKTake& t) -> const std::string& { return t.id; });
}

void mergeCatalog(VELKLibrary& library, const DeviceCatalog& catalog, std::string_view baseURL,
                  const std::function<void()>& projectUpserted) {
    if (catalog.deviceId.empty() || catalog.deviceName.empty()) fail(std::string(catalogDeviceIdentityMissing));

    ClipIndex index(library);
    auto upsert = [&](VELKProject project) {
        upsertProject(library, std::move(project), &index);
        if (projectUpserted) projectUpserted();
    };

    for (const CatalogProject& catalogProject : catalog.projects) {
        if (catalogProject.projectId.empty() || catalogProject.name.empty()) {
            fail(std::string(catalogProjectIdentityMissing));
        }
        VELKProject project;
        if (const VELKProject* existing = findProject(library, catalogProject.projectId)) {
            project = *existing;
        } else {
            project.id = catalogProject.projectId;
            project.name = catalogProject.name;
            project.revision = catalogProject.revision;
        }

        const std::int64_t current = project.revision.value_or(0);
        if (catalogProject.revision > current) {
            project.name = catalogProject.name;
            project.revision = catalogProject.revision;
        } else if (catalogProject.revision == current && !StoreText::same(project.name, catalogProject.name)) {
            fail("Project ID " + catalogProject.projectId + " has conflicting names at revision " +
                 std::to_string(catalogProject.revision) + ".");
        }

        for (const CatalogTake& catalogTake : catalogProject.takes) {
            if (catalogTake.projectId && !StoreText::same(*catalogTake.projectId, catalogProject.projectId)) {
                fail("Take " + catalogTake.takeId + " carries the wrong project ID.");
            }
            mergeCatalogTake(index, catalogTake, project, catalog, baseURL);
        }
        upsert(std::move(project));
    }

    if (!catalog.unassignedTakes || catalog.unassignedTakes->empty()) return;

    const std::string projectID = unassignedProjectID(catalog.deviceId);
    VELKProject project;
    if (const VELKProject* existing = findProject(library, projectID)) {
        project = *existing;
    } else {
        project.id = projectID;
        project.name = std::string(unassignedProjectNamePrefix) + catalog.deviceName;
        project.revision = 1;
    }
    for (const CatalogTake& catalogTake : *catalog.unassignedTakes) {
        if (catalogTake.projectId) fail(std::string(unassignedTakeCarriesProject));
        mergeCatalogTake(index, catalogTake, project, catalog, baseURL);
    }
    upsert(std::move(project));
}

} // namespace velk::LibraryMerge
