#include "store/manifest_import.hpp"

#include "base/files.hpp"
#include "export/drift_export_error.hpp"
#include "store/library_merge.hpp"
#include "store/store_text.hpp"

namespace velk::ManifestImport {

namespace {

constexpr std::string_view unsupportedVersion = "Unsupported source manifest version.";

[[noreturn]] void failTake(const std::string& takeID, std::string_view ending) {
    throw DriftExportError::invalid("Take " + takeID + std::string(ending));
}

std::filesystem::path absoluteFile(const std::filesystem::path& file) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(file, error);
    return error ? file : absolute;
}

void reconcileProject(VELKProject& project, const SourceManifest& manifest) {
    const std::string effectiveName = manifest.projectName.value_or(manifest.projectId);
    if (manifest.projectRevision) {
        const std::int64_t revision = *manifest.projectRevision;
        if ((project.revision && *project.revision < revision) || (!project.revision && revision >= 1)) {
            project.name = effectiveName;
            project.revision = revision;
            return;
        }
    }
    if (manifest.projectName && !StoreText::same(*manifest.projectName, project.name)) {
        const bool olderRevision =
            manifest.projectRevision && (!project.revision || *manifest.projectRevision != *project.revision);
        if (olderRevision) return;
        throw DriftExportError::invalid("Project ID " + manifest.projectId + " has conflicting names at the same revision.");
    }
}

} // namespace

SourceManifest readManifest(const std::filesystem::path& manifestFile) {
    return decodeSourceManifest(files::readAll(manifestFile));
}

std::filesystem::path clipLocation(const std::string& clipPath, const std::filesystem::path& manifestFile) {
    const std::filesystem::path given(clipPath);
    std::filesystem::path location = given.is_absolute() ? given : absoluteFile(manifestFile).parent_path() / given;
    location = location.lexically_normal();
    if (!location.has_filename() && location.has_relative_path()) location = location.parent_path();
    return location;
}

VELKClip builtClip(const SourceClip& source, const SourceManifest& manifest, const std::filesystem::path& manifestFile) {
    const std::filesystem::path location = clipLocation(source.path, manifestFile);
    VELKClip clip;
    clip.id = source.clipId.value_or(manifest.takeId + "::" + source.cameraId);
    clip.cameraId = source.cameraId;
    clip.fileName = location.filename().string();
    clip.localPath = location.string();
    clip.sha256 = source.sha256;
    clip.anchorMeaning = source.anchorMeaning;
    clip.anchors = source.anchors.value_or(std::vector<TimingAnchor>{});
    clip.mediaKind = source.mediaKind;
    clip.timingSidecarURL = source.timingSidecarPath;
    clip.timingSidecarSHA256 = source.timingSidecarSHA256;
    clip.deviceId = source.deviceId;
    clip.deviceName = source.deviceName;
    return clip;
}

ImportedTake importedTake(const VELKLibrary& library, const SourceManifest& manifest,
                          const std::filesystem::path& manifestFile) {
    if (manifest.schemaVersion != supportedSchemaVersion) throw DriftExportError::invalid(std::string(unsupportedVersion));

    VELKProject project;
    bool found = false;
    for (const VELKProject& existing : library.projects) {
        if (StoreText::same(existing.id, manifest.projectId)) {
            project = existing;
            found = true;
            break;
        }
    }
    if (!found) {
        project.id = manifest.projectId;
        project.name = manifest.projectName.value_or(manifest.projectId);
        project.revision = manifest.projectRevision;
    }
    reconcileProject(project, manifest);

    std::vector<VELKClip> clips;
    clips.reserve(manifest.clips.size());
    for (const SourceClip& source : manifest.clips) clips.push_back(builtClip(source, manifest, manifestFile));

    VELKTake take;
    take.id = manifest.takeId;
    for (const VELKTake& existing : project.takes) {
        if (StoreText::same(existing.id, manifest.takeId)) {
            take = existing;
            break;
        }
    }

    const std::string& takeID = manifest.takeId;
    if (take.projectNameAtCapture && manifest.projectNameAtCapture &&
        !StoreText::same(*take.projectNameAtCapture, *manifest.projectNameAtCapture)) {
        failTake(takeID, " has conflicting captured project names.");
    }
    if (take.projectRevisionAtCapture && manifest.projectRevisionAtCapture &&
        *take.projectRevisionAtCapture != *manifest.projectRevisionAtCapture) {
        failTake(takeID, " has conflicting captured project revisions.");
    }
    if (take.referenceCameraId && !StoreText::same(*take.referenceCameraId, manifest.referenceCameraId)) {
        failTake(takeID, " has conflicting reference cameras.");
    }
    if (manifest.timelineFPS && take.timelineFPS != "30" && !StoreText::same(take.timelineFPS, *manifest.timelineFPS)) {
        failTake(takeID, " has conflicting timeline frame rates.");
    }

    take.referenceCameraId = manifest.referenceCameraId;
    if (manifest.projectNameAtCapture) take.projectNameAtCapture = manifest.projectNameAtCapture;
    if (manifest.projectRevisionAtCapture) take.projectRevisionAtCapture = manifest.projectRevisionAtCapture;
    if (manifest.timelineFPS) take.timelineFPS = *manifest.timelineFPS;
    take.sourceManifestPath = absoluteFile(manifestFile).string();

    const LibraryMerge::ClipIndex index(library);
    for (VELKClip& clip : clips) {
        LibraryMerge::mergeClip(index, std::move(clip), take, project, LibraryMerge::ClipOrigin::manifest);
    }

    std::erase_if(project.takes, [&](const VELKTake& existing) { return StoreText::same(existing.id, take.id); });
    project.takes.push_back(take);
    return ImportedTake{std::move(project), std::move(take)};
}

} // namespace velk::ManifestImport
