#pragma once
// A media framework that answers from a table, for the export's unit tests. Each file name maps to
// one description; a file without one fails to open, like a file that is not media.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "export/media_probe.hpp"

namespace velk::testing {

struct FakeMedia {
    double durationSeconds = 10;
    std::size_t videoTracks = 1;
    std::size_t audioTracks = 1;
    MediaSize naturalSize{1920, 1080};
    MediaTransform transform{};
    float frameRate = 30;
    bool failSizeLoad = false;
};

class FakeMediaProbe final : public MediaProbe {
public:
    std::map<std::string, FakeMedia> media; // by file name
    std::vector<std::string> loads;         // every load, in order, as "<file>:<what>"

    std::unique_ptr<MediaAsset> open(const std::filesystem::path& file) override {
        const std::string name = file.filename().string();
        auto found = media.find(name);
        if (found == media.end()) throw MediaFrameworkError(name + ": Invalid data found when processing input");
        return std::make_unique<Asset>(*this, name, found->second);
    }

private:
    class Asset final : public MediaAsset {
    public:
        Asset(FakeMediaProbe& probe, std::string name, FakeMedia media)
            : m_probe(probe), m_name(std::move(name)), m_media(media) {}
        double durationSeconds() override { note("duration"); return m_media.durationSeconds; }
        std::vector<std::size_t> videoTracks() override {
            note("video");
            std::vector<std::size_t> tracks;
            for (std::size_t i = 0; i < m_media.videoTracks; ++i) tracks.push_back(i);
            return tracks;
        }
        std::vector<std::size_t> audioTracks() override {
            note("audio");
            std::vector<std::size_t> tracks;
            for (std::size_t i = 0; i < m_media.audioTracks; ++i) tracks.push_back(100 + i);
            return tracks;
        }
        MediaSize naturalSize(std::size_t) override {
            note("size");
            if (m_media.failSizeLoad) throw MediaFrameworkError("size load failed");
            return m_media.naturalSize;
        }
        MediaTransform preferredTransform(std::size_t) override { note("transform"); return m_media.transform; }
        float nominalFrameRate(std::size_t) override { note("rate"); return m_media.frameRate; }

    private:
        void note(const char* what) { m_probe.loads.push_back(m_name + ":" + what); }
        FakeMediaProbe& m_probe;
        std::string m_name;
        FakeMedia m_media;
    };
};

} // namespace velk::testing
