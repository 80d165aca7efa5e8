#pragma once
// The movie header of a QuickTime-family file (.mov, .mp4, .m4v): the movie's own duration in its
// own time scale. libavformat reports durations rescaled to microseconds, which loses the exact
// value phones write (3604/600 s becomes 6.006667 s), so the probe reads this header itself.

#include <cstdint>
#include <istream>
#include <optional>

namespace velk {

struct MovieHeader {
    std::uint64_t duration = 0; // in time scale units; all ones when indefinite
    std::uint32_t timeScale = 0; // units per second
};

// The 'mvhd' box of the top-level 'moov' box, or nothing when the stream holds none that can be
// read. Walks box headers only and seeks over everything else (media data may be gigabytes).
std::optional<MovieHeader> readMovieHeader(std::istream& in);

// duration / timeScale, or nothing when the header gives no usable duration (time scale 0, a
// duration of 0 as in fragmented files, or an indefinite one).
std::optional<double> movieSeconds(const MovieHeader& header);

} // namespace velk
