#pragma once
// Drift alignment and the Resolve export: the operations that fit clips to the reference camera,
// probe and hash media files, and write the export package.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "export/drift_correction.hpp"
#include "export/drift_export_error.hpp"
#include "export/media_info.hpp"
#include "export/media_probe.hpp"
#include "model/library.hpp"

namespace velk {

// What the export needs of the world besides its inputs. Defaults: libavformat, the system clock
// and atomic file writes.
struct ExportEnvironment {
    MediaProbe* probe = nullptr;
    std::optional<WallTime> now;
    std::function<void(const std::filesystem::path&, std::string_view)> writeFile;
};

namespace DriftEngine {

// Accepts a clip's anchors only when they leave no doubt; throws DriftExportError::invalid with
// the first rule that fails. `duration` is the clip's media duration in seconds.
DriftCorrection fit(const std::vector<TimingAnchor>& anchors, double duration);

// Probes one media file. Throws DriftExportError::invalid for files the timeline cannot carry,
// and MediaFrameworkError unchanged.
MediaInfo mediaInfo(const std::filesystem::path& file);
MediaInfo mediaInfo(const std::filesystem::path& file, MediaProbe& probe);

// SHA-256 of the whole file as 64 lower-case hexadecimal characters, read through one 1 MiB
// buffer. Throws DriftExportError::missing when the file cannot be opened (missing, unreadable, a
// folder) and std::system_error when a read fails.
std::string sha256(const std::filesystem::path& file);

// The timeline frame rate stored as text ("30", "29.97", "30000/1001").
double fpsValue(std::string_view text);
// Rational time text for FCPXML ("5/2s"), denominators at most 1,000,000.
std::string seconds(double value);
// Escapes &, ", < and > for a double-quoted XML attribute.
std::string xmlEscape(std::string_view text);

// Writes the package for one take into a new folder inside `parent` and returns the folder. The
// folder appears under its name only once all three documents are written and flushed; what an
// export killed meanwhile left (a hidden staging folder) goes at the next export into `parent`.
std::filesystem::path exportTake(const VELKProject& project, const VELKTake& take,
                                 const std::filesystem::path& parent);
std::filesystem::path exportTake(const VELKProject& project, const VELKTake& take,
                                 const std::filesystem::path& parent,
                                 const ExportEnvironment& environment);

} // namespace DriftEngine
} // namespace velk
