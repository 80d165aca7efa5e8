#pragma once
// What the media probe measured of one clip file.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/json.hpp"

namespace velk {

struct MediaInfo {
    double duration = 0;     // seconds; finite and above 0 in every probe result
    std::int64_t width = 0;  // display-oriented pixels
    std::int64_t height = 0;
    double fps = 0;          // nominal video frame rate, a 32-bit float widened
    bool hasAudio = false;

    bool operator==(const MediaInfo&) const = default;
};

void to_json(Json& json, const MediaInfo& info);
void from_json(const Json& json, MediaInfo& info);

} // namespace velk

template <>
struct std::hash<velk::MediaInfo> {
    std::size_t operator()(const velk::MediaInfo& info) const noexcept;
};
