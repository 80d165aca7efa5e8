#pragma once
// Tiny media files made at run time with ffmpeg, once per test process: one second each, small
// frames, H.264 as phones record it (libavformat leaves the frame size of MPEG-4 Visual tracks to
// the decoder, so those would not show what the probe reads from headers).

#include <filesystem>
#include <string>

#include "export_test_support.hpp"

namespace velk::testing {

class MediaFixtures {
public:
    // Made on first use; available() is false (with a reason) when ffmpeg is missing or fails.
    static const MediaFixtures& shared() {
        static const MediaFixtures fixtures;
        return fixtures;
    }

    bool available() const { return m_reason.empty(); }
    const std::string& reason() const { return m_reason; }
    std::filesystem::path operator[](const std::string& name) const { return m_folder / name; }

private:
    MediaFixtures() {
        if (!haveTool("ffmpeg")) {
            m_reason = "ffmpeg is not installed";
            return;
        }
        const std::string in = quoted(m_folder.path()) + "/";
        const std::string make =
            "ffmpeg -nostdin -v error -y"
            " -f lavfi -i testsrc=size=64x36:rate=30"
            " -f lavfi -i testsrc=size=64x36:rate=30000/1001"
            " -f lavfi -i testsrc=size=48x32:rate=25"
            " -f lavfi -i sine=frequency=440:sample_rate=48000"
            " -f lavfi -i sine=frequency=880:sample_rate=48000"
            " -f lavfi -i color=c=red:size=16x16:rate=1"
            " -map 0:v -map 3:a -t 1 -c:v libx264 -preset ultrafast -threads 1 -c:a aac " + in + "landscape.mov"
            " -map 1:v -map 3:a -map 4:a -t 1 -c:v libx264 -preset ultrafast -threads 1 -c:a aac " + in + "two-audio.mp4"
            " -map 1:v -t 1 -c:v libx264 -preset ultrafast -threads 1 " + in + "ntsc.mp4"
            " -map 2:v -map 3:a -t 1 -c:v libx264 -preset ultrafast -threads 1 -c:a aac " + in + "pal.mov"
            " -map 3:a -t 1 -c:a aac " + in + "audio-only.m4a"
            " -map 0:v -map 2:v -t 1 -c:v libx264 -preset ultrafast -threads 1 " + in + "two-video.mp4"
            " -map 2:v -map 5:v -t 1 -c:v:0 libx264 -preset ultrafast -threads 1 -c:v:1 png -frames:v:1 1 -disposition:v:1 attached_pic "
            + in + "cover-art.mp4";
        // A phone held upright records landscape frames with a 90° display matrix.
        const std::string rotate = "ffmpeg -nostdin -v error -y -i " + in + "landscape.mov -c copy"
                                   " -metadata:s:v:0 rotate=90 " + in + "portrait.mov";
        if (run(make).exitCode != 0 || run(rotate).exitCode != 0) m_reason = "ffmpeg could not make the media fixtures";
    }

    TempFolder m_folder;
    std::string m_reason;
};

} // namespace velk::testing
