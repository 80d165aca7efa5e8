#include "export/movie_header.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace velk {

namespace {

// A hostile file may be made of millions of empty boxes; real ones have a handful per level.
constexpr int kMaxBoxesPerLevel = 4096;

bool readBytes(std::istream& in, char* data, std::size_t size) {
    in.read(data, static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

std::uint64_t bigEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

struct Box {
    std::array<char, 4> type{};
    std::uint64_t payloadStart = 0;
    std::uint64_t end = 0; // one past the box's last byte
};

// The box whose header starts at `at`, within a parent that ends at `limit`.
std::optional<Box> readBox(std::istream& in, std::uint64_t at, std::uint64_t limit) {
    if (limit - at < 8) return std::nullopt;
    in.clear();
    if (!in.seekg(static_cast<std::streamoff>(at))) return std::nullopt;
    unsigned char header[16];
    if (!readBytes(in, reinterpret_cast<char*>(header), 8)) return std::nullopt;
    Box box;
    std::copy(header + 4, header + 8, box.type.begin());
    std::uint64_t size = bigEndian(header, 4);
    std::uint64_t headerSize = 8;
    if (size == 1) {
        if (limit - at < 16 || !readBytes(in, reinterpret_cast<char*>(header + 8), 8)) return std::nullopt;
        size = bigEndian(header + 8, 8);
        headerSize = 16;
    } else if (size == 0) {
        size = limit - at; // runs to the end of its parent
    }
    if (size < headerSize || size > limit - at) return std::nullopt;
    box.payloadStart = at + headerSize;
    box.end = at + size;
    return box;
}

// The first child of type `type` among the boxes in [begin, end).
std::optional<Box> findBox(std::istream& in, std::uint64_t begin, std::uint64_t end, const char (&type)[5]) {
    std::uint64_t at = begin;
    for (int count = 0; count < kMaxBoxesPerLevel && at < end; ++count) {
        std::optional<Box> box = readBox(in, at, end);
        if (!box) return std::nullopt;
        if (std::equal(box->type.begin(), box->type.end(), type)) return box;
        at = box->end;
    }
    return std::nullopt;
}

} // namespace

std::optional<MovieHeader> readMovieHeader(std::istream& in) {
    in.clear();
    if (!in.seekg(0, std::ios::end)) return std::nullopt;
    const std::streamoff length = in.tellg();
    if (length <= 0) return std::nullopt;
    const auto fileEnd = static_cast<std::uint64_t>(length);

    const std::optional<Box> movie = findBox(in, 0, fileEnd, "moov");
    if (!movie) return std::nullopt;
    const std::optional<Box> header = findBox(in, movie->payloadStart, movie->end, "mvhd");
    if (!header) return std::nullopt;

    // Version 0: version/flags, creation, modification (32 bits), time scale, duration (32 bits).
    // Version 1: the two dates and the duration are 64 bits wide.
    unsigned char fields[32];
    const std::uint64_t available = header->end - header->payloadStart;
    in.clear();
    if (available < 1 || !in.seekg(static_cast<std::streamoff>(header->payloadStart)) ||
        !readBytes(in, reinterpret_cast<char*>(fields), 1)) {
        return std::nullopt;
    }
    const bool wide = fields[0] == 1;
    if (fields[0] > 1) return std::nullopt;
    const std::size_t needed = wide ? 32 : 20;
    if (available < needed || !readBytes(in, reinterpret_cast<char*>(fields + 1), needed - 1)) return std::nullopt;
    if (wide) {
        return MovieHeader{bigEndian(fields + 24, 8), static_cast<std::uint32_t>(bigEndian(fields + 20, 4))};
    }
    std::uint64_t duration = bigEndian(fields + 16, 4);
    if (duration == std::numeric_limits<std::uint32_t>::max()) duration = std::numeric_limits<std::uint64_t>::max();
    return MovieHeader{duration, static_cast<std::uint32_t>(bigEndian(fields + 12, 4))};
}

std::optional<double> movieSeconds(const MovieHeader& header) {
    const bool indefinite = header.duration == std::numeric_limits<std::uint64_t>::max();
    if (header.timeScale == 0 || header.duration == 0 || indefinite) return std::nullopt;
    return static_cast<double>(header.duration) / header.timeScale;
}

} // namespace velk
