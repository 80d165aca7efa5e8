// Merging a source's catalog into the library, project by project.

#include "store/app_store.hpp"
#include "store/library_merge.hpp"

namespace velk {

void AppStore::mergeCatalog(const DeviceCatalog& catalog, const std::string& baseURL) {
    LibraryMerge::mergeCatalog(m_library, catalog, baseURL, [this] { libraryEdited(); });
}

} // namespace velk
