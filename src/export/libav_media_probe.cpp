#include "export/media_probe.hpp"

#include "export/movie_header.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace velk {

namespace {

std::string frameworkText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) return "Unknown media error " + std::to_string(code);
    return text;
}

struct FormatContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using FormatContext = std::unique_ptr<AVFormatContext, FormatContextCloser>;

struct DictionaryFreer {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

bool isPicture(const AVStream* stream) {
    return (stream->disposition & (AV_DISPOSITION_ATTACHED_PIC | AV_DISPOSITION_TIMED_THUMBNAILS)) != 0;
}

class LibavMediaAsset final : public MediaAsset {
public:
    LibavMediaAsset(FormatContext context, std::filesystem::path file)
        : m_context(std::move(context)), m_file(std::move(file)), m_fileName(m_file.filename().string()) {}

    double durationSeconds() override {
        // The movie header holds the exact duration in the movie's own time scale; libavformat's
        // own figure is rounded to microseconds.
        if (std::strstr(m_context->iformat->name, "mov") != nullptr) {
            std::ifstream in(m_file, std::ios::binary);
            if (std::optional<MovieHeader> header = readMovieHeader(in)) {
                if (std::optional<double> seconds = movieSeconds(*header)) return *seconds;
            }
        }
        if (m_context->duration != AV_NOPTS_VALUE) {
            return static_cast<double>(m_context->duration) / AV_TIME_BASE;
        }
        // Some containers only carry durations per stream; the file lasts as long as its longest.
        double longest = std::numeric_limits<double>::quiet_NaN();
        for (unsigned i = 0; i < m_context->nb_streams; ++i) {
            const AVStream* stream = m_context->streams[i];
            if (stream->duration == AV_NOPTS_VALUE || isPicture(stream)) continue;
            double seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
            if (std::isnan(longest) || seconds > longest) longest = seconds;
        }
        return longest;
    }

    std::vector<std::size_t> videoTracks() override {
        std::vector<std::size_t> tracks;
        for (unsigned i = 0; i < m_context->nb_streams; ++i) {
            const AVStream* stream = m_context->streams[i];
            // Cover art is stored as a video stream holding one picture; it is not a track to place.
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !isPicture(stream)) tracks.push_back(i);
        }
        return tracks;
    }

    std::vector<std::size_t> audioTracks() override {
        std::vector<std::size_t> tracks;
        for (unsigned i = 0; i < m_context->nb_streams; ++i) {
            if (m_context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) tracks.push_back(i);
        }
        return tracks;
    }

    MediaSize naturalSize(std::size_t track) override {
        const AVCodecParameters* parameters = stream(track)->codecpar;
        return {static_cast<double>(parameters->width), static_cast<double>(parameters->height)};
    }

    MediaTransform preferredTransform(std::size_t track) override {
        std::size_t size = 0;
        const std::uint8_t* data = av_stream_get_side_data(stream(track), AV_PKT_DATA_DISPLAYMATRIX, &size);
        if (data == nullptr || size < 9 * sizeof(std::int32_t)) return {};
        // The display matrix is stored as the container's 3×3 matrix, row by row, with a, b, c, d
        // in 16.16 fixed point.
        std::int32_t matrix[9];
        std::memcpy(matrix, data, sizeof matrix);
        constexpr double kOne = 65536.0;
        return {matrix[0] / kOne, matrix[1] / kOne, matrix[3] / kOne, matrix[4] / kOne};
    }

    float nominalFrameRate(std::size_t track) override {
        const AVStream* video = stream(track);
        AVRational rate = video->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = video->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) return 0;
        return static_cast<float>(av_q2d(rate));
    }

private:
    const AVStream* stream(std::size_t track) const {
        if (track >= m_context->nb_streams) throw MediaFrameworkError(m_fileName + ": no such track");
        return m_context->streams[track];
    }

    FormatContext m_context;
    std::filesystem::path m_file;
    std::string m_fileName;
};

} // namespace

std::unique_ptr<MediaAsset> LibavMediaProbe::open(const std::filesystem::path& file) {
    // Only local files: the "file:" prefix keeps a name such as "http:x" or "pipe:0" from being
    // taken for a protocol, and the whitelist keeps any demuxer from reaching further.
    AVDictionary* rawOptions = nullptr;
    av_dict_set(&rawOptions, "protocol_whitelist", "file", 0);
    std::unique_ptr<AVDictionary, DictionaryFreer> options(rawOptions);

    const std::string url = "file:" + file.string();
    AVFormatContext* raw = nullptr;
    AVDictionary* optionsInOut = options.release();
    int result = avformat_open_input(&raw, url.c_str(), nullptr, &optionsInOut);
    options.reset(optionsInOut);
    if (result < 0) throw MediaFrameworkError(file.filename().string() + ": " + frameworkText(result));
    return std::make_unique<LibavMediaAsset>(FormatContext(raw), file);
}

LibavMediaProbe& LibavMediaProbe::shared() {
    static LibavMediaProbe probe;
    return probe;
}

} // namespace velk
