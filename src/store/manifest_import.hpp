#pragma once
// Turning a source manifest into the project and take it describes, checked against the library.
// Nothing here changes the library: the result is what the store upserts.

#include <filesystem>

#include "model/library.hpp"
#include "model/source_manifest.hpp"

namespace velk::ManifestImport {

inline constexpr std::int64_t supportedSchemaVersion = 1;

struct ImportedTake {
    VELKProject project; // reconciled with the manifest; its takes already hold `take` at the end
    VELKTake take;
};

// Reads and decodes the manifest file. Throws std::system_error when it cannot be read and
// JsonError when it is not a manifest.
SourceManifest readManifest(const std::filesystem::path& manifestFile);

// The absolute, standardised location of a clip's file: relative paths are taken from the folder
// that holds the manifest. The file itself is not touched.
std::filesystem::path clipLocation(const std::string& clipPath, const std::filesystem::path& manifestFile);

// One library clip per manifest clip, in manifest order.
VELKClip builtClip(const SourceClip& source, const SourceManifest& manifest, const std::filesystem::path& manifestFile);

// Throws DriftExportError::invalid with the sentence the user sees for the first conflict.
ImportedTake importedTake(const VELKLibrary& library, const SourceManifest& manifest,
                          const std::filesystem::path& manifestFile);

} // namespace velk::ManifestImport
