#pragma once
// The media framework as the probe sees it: an opened file answers six questions, each at most
// once per probe. The real one reads container and stream headers with libavformat; tests use a
// fake.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velk {

// A failure of the media framework itself (the file is not readable media, a load failed). Its
// text is the framework's own description; the probe passes it on unchanged.
class MediaFrameworkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct MediaSize {
    double width = 0;
    double height = 0;
};

// The linear part of a track's display transform; translation plays no part in sizes.
struct MediaTransform {
    double a = 1, b = 0, c = 0, d = 1;
};

// An opened media file. Tracks are named by an index that only means something to the asset that
// listed it.
class MediaAsset {
public:
    virtual ~MediaAsset() = default;
    // Seconds; not finite when the container gives no usable duration.
    virtual double durationSeconds() = 0;
    virtual std::vector<std::size_t> videoTracks() = 0;
    virtual std::vector<std::size_t> audioTracks() = 0;
    virtual MediaSize naturalSize(std::size_t track) = 0;
    virtual MediaTransform preferredTransform(std::size_t track) = 0;
    // 0 when the track declares no rate.
    virtual float nominalFrameRate(std::size_t track) = 0;
};

class MediaProbe {
public:
    virtual ~MediaProbe() = default;
    // Throws MediaFrameworkError when the file cannot be opened as media.
    virtual std::unique_ptr<MediaAsset> open(const std::filesystem::path& file) = 0;
};

// Container and stream headers through libavformat; never decodes or reads media samples.
class LibavMediaProbe final : public MediaProbe {
public:
    std::unique_ptr<MediaAsset> open(const std::filesystem::path& file) override;
    static LibavMediaProbe& shared();
};

} // namespace velk
