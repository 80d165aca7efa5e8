#pragma once
// Proof that every clip a source holds for a project has exactly one complete, byte-identical copy
// under the recordings folder, and the one check by which a local copy is trusted again. Both hash
// whole files, so callers run them on a worker thread.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancellation.hpp"
#include "model/catalog.hpp"
#include "model/library.hpp"

namespace velk::VerifiedProjectCopy {

inline constexpr std::size_t maximumProofClips = 10'000;

// Entries sorted by clip id: "clipId", "sha256" and, for a clip with a timing sidecar,
// "timingSidecarSHA256". Throws TransferProtocolError for the first clip that is not proved, and
// the file system's or the digest's own errors unchanged.
std::vector<std::map<std::string, std::string>> proof(const VELKProject& project, const DeviceCatalog& catalog,
                                                      std::string_view deviceID, const std::filesystem::path& root,
                                                      const CancellationToken* cancellation = nullptr);

// Returns only when `file` is a regular file (not a symbolic link) inside `root` once links are
// resolved, has `size` bytes when a size is given, and hashes to `digest`. A file that cannot be
// examined throws the system error (a missing file: "No such file or directory").
// Hashing stops with OperationCancelledError once `cancellation` is cancelled.
void verifyFile(const std::filesystem::path& file, std::string_view digest, const std::filesystem::path& root,
                std::optional<std::int64_t> size, const CancellationToken* cancellation = nullptr);

} // namespace velk::VerifiedProjectCopy
