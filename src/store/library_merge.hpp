#pragma once
// Bringing outside descriptions of recordings into the library: a phone's catalog, or one clip of
// an imported manifest. Strict (any contradiction throws DriftExportError::invalid with the
// sentence the user sees) and additive (nothing is ever removed from the library).
//
// These work on a library value, so the rules run without the store around them; the store's
// operations of the same names call them on its published library.

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/catalog.hpp"
#include "model/library.hpp"

namespace velk::LibraryMerge {

// Where every clip id of a library lives, by canonical clip id and canonical project id, so that
// "does this clip id appear in another project" is one lookup instead of a walk over every clip.
// It must follow every change of the library's projects that the caller makes while using it.
class ClipIndex {
public:
    explicit ClipIndex(const VELKLibrary& library);

    void addProject(const VELKProject& project);
    void removeProject(const VELKProject& project);
    // True when a project whose id differs from `projectID` holds a clip with id `clipID`.
    bool inOtherProject(std::string_view clipID, std::string_view projectID) const;

private:
    std::unordered_map<std::string, std::vector<std::string>> m_projectsByClip;
};

// Where a clip being merged comes from. A manifest describes files on disk and knows nothing of the
// source's download details, so a clip from one keeps those the library already holds.
enum class ClipOrigin { catalog, manifest };

// Upsert: every project with the same id is replaced by `project`, which goes to the end; then the
// projects are sorted by name.
void upsertProject(VELKLibrary& library, VELKProject project, ClipIndex* index = nullptr);

// Merges one built clip into `take` (changed in place). `project` is the project that will receive
// the take, with its takes as they stand now; `library` is read for the other projects (through
// `index`, which must describe it).
void mergeClip(const ClipIndex& index, VELKClip clip, VELKTake& take, const VELKProject& project,
               ClipOrigin origin = ClipOrigin::catalog);

// Merges one catalog take into `project` (changed in place; its take list is re-sorted by id).
void mergeCatalogTake(const ClipIndex& index, const CatalogTake& catalogTake, VELKProject& project,
                      const DeviceCatalog& catalog, std::string_view baseURL);

// Merges a whole catalog. Each project reaches `library` whole, in catalog order (then the
// device's unassigned project), and `projectUpserted` is called after each. A throw leaves the
// projects upserted before it in place; callers that need all-or-nothing keep a copy.
void mergeCatalog(VELKLibrary& library, const DeviceCatalog& catalog, std::string_view baseURL,
                  const std::function<void()>& projectUpserted = {});

// The absolute URL of a catalog route relative to `baseURL`; none when it does not form a URL.
std::optional<std::string> resolvedRoute(std::string_view route, std::string_view baseURL);

// "unassigned-" followed by the path-safe form of the device id.
std::string unassignedProjectID(std::string_view deviceID);

} // namespace velk::LibraryMerge
