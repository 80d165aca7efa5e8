// Bringing one take described by a source manifest into the library, with clips that point at the
// media beside the manifest.

#include "store/app_store.hpp"
#include "store/library_merge.hpp"
#include "store/manifest_import.hpp"
#include "store/store_text.hpp"

namespace velk {

namespace {

constexpr std::string_view importFailedPrefix = "Manifest import failed: ";

} // namespace

void AppStore::importManifest(const std::filesystem::path& manifestFile) {
    ManifestImport::ImportedTake imported;
    std::size_t clipCount = 0;
    try {
        const SourceManifest manifest = ManifestImport::readManifest(manifestFile);
        clipCount = manifest.clips.size();
        imported = ManifestImport::importedTake(m_library, manifest, manifestFile);
    } catch (const std::exception& failure) {
        reportFailure(std::string(importFailedPrefix) + failure.what());
        return;
    }
    const std::string projectID = imported.project.id;
    const std::string takeID = imported.take.id;
    merge(std::move(imported.project));
    setSelectedProjectID(projectID);
    setSelectedTakeID(takeID);
    saveLater();
    log("Imported take " + takeID + " with " + std::to_string(clipCount) + " camera clip(s).");
}

void AppStore::merge(VELKProject project) {
    LibraryMerge::upsertProject(m_library, std::move(project));
    libraryEdited();
}

} // namespace velk
