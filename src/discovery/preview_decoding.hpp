#pragma once
// Decoding of the preview objects a camera carries in its status snapshot.

#include <cstdint>
#include <optional>

#include "base/json.hpp"
#include "model/preview_records.hpp"

namespace velk {

struct PreviewGeometry {
    std::int64_t rotation = 0;
    bool pixelsOriented = false;
    bool operator==(const PreviewGeometry&) const = default;
};

// Each takes the value under its payload key (nullptr when absent) and gives none when the
// object as a whole is unusable; a single bad field inside an accepted object reads as absent.
std::optional<PreviewCapabilities> decodePreviewCapabilities(const Json* value);
std::optional<PreviewTransportStatus> decodePreviewTransport(const Json* value);
std::optional<PreviewGeometry> decodePreviewGeometry(const Json* value);

} // namespace velk
