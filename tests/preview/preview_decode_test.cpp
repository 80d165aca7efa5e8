// The client's JPEG decode: pixels as Qt's own JPEG reader gives them, frames in their stream's
// pool, and the bounds on what a camera's frame may cost.

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

#include <QBuffer>
#include <QImageReader>

#include <gtest/gtest.h>

#include "preview/frame_bounds.hpp"
#include "preview/preview_client.hpp"

namespace velk {
namespace {

namespace Client = VELKPreviewClient;

struct Encoding {
    const char* what;
    int components;            // 1 grey, 3 colour, 4 CMYK
    bool progressive = false;
    bool subsampled = true;    // colour: chroma halved both ways (4:2:0), else 4:4:4
    bool flat = false;         // one grey all over: each scan a few bytes, whatever the size
};

// A JPEG of a smooth pattern with sharp edges, made by libjpeg itself.
std::string encode(const Encoding& encoding, int width = 96, int height = 54) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &bytes, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = encoding.components;
    info.in_color_space = encoding.components == 1 ? JCS_GRAYSCALE : encoding.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 80, TRUE);
    if (encoding.components == 3 && !encoding.subsampled) info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
    if (encoding.progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(width * encoding.components));
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < encoding.components; ++c) {
                const int value = encoding.flat ? 100 : (x * 5 + y * 3 * (c + 1) + (x / 16 + y / 16) % 2 * 90) % 256;
                row[static_cast<std::size_t>(x * encoding.components + c)] = static_cast<unsigned char>(value);
            }
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string data(reinterpret_cast<const char*>(bytes), size);
    std::free(bytes);
    return data;
}

// The frame with its last scan `extra` times more (libjpeg takes each again, with a warning).
std::string withLastScanRepeated(const std::string& data, int extra) {
    const std::size_t lastScan = data.rfind("\xFF\xDA");
    const std::size_t end = data.size() - 2; // the end-of-image marker
    const std::string scan = data.substr(lastScan, end - lastScan);
    std::string frame = data.substr(0, end);
    for (int k = 0; k < extra; ++k) frame += scan;
    return frame + "\xFF\xD9";
}

// The least processor time of three decodes of `data`, in seconds, and whether it decoded.
std::pair<double, bool> decodeCost(const std::string& data) {
    std::pair<double, bool> cost{1e9, false};
    for (int round = 0; round < 3; ++round) {
        timespec start{}, end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
        try {
            cost.second = !Client::decodeJPEG(data).isNull();
        } catch (const VELKPreviewError&) {
        }
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        cost.first = std::min(cost.first, static_cast<double>(end.tv_sec - start.tv_sec) +
                                              static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9);
    }
    return cost;
}

QImage decodedByQt(const std::string& data) {
    QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

TEST(PreviewDecode, PixelsAreQtsOwnReaders) {
    const Encoding encodings[] = {
        {"colour, chroma halved", 3},
        {"colour, full chroma", 3, false, false},
        {"grey", 1},
        {"inverted CMYK", 4},
        {"progressive colour", 3, true},
    };
    for (const Encoding& encoding : encodings) {
        SCOPED_TRACE(encoding.what);
        const std::string data = encode(encoding);
        const QImage expected = decodedByQt(data);
        ASSERT_FALSE(expected.isNull());
        FramePool pool;
        for (FramePool* frames : {static_cast<FramePool*>(nullptr), &pool}) {
            const QImage image = Client::decodeJPEG(data, frames);
            EXPECT_EQ(image.format(), QImage::Format_RGB32);
            EXPECT_EQ(image, expected) << (frames ? "into the pool" : "from the heap");
        }
    }
}

// The image's last copy hands its buffer back, whatever thread lets it go and whether or not the
// pool is still there; the next frame of the stream is decoded into that same buffer.
TEST(PreviewDecode, FramesLiveInTheirStreamsPool) {
    const std::string data = encode({"colour", 3});
    auto pool = std::make_unique<FramePool>(2);
    QImage shown = Client::decodeJPEG(data, pool.get());
    QImage waiting = Client::decodeJPEG(data, pool.get());
    EXPECT_TRUE(Client::decodeJPEG(data, pool.get()).isNull()) << "a third frame while two are held";
    QImage copy = shown;
    shown = QImage();
    EXPECT_EQ(pool->counts().kept, 0u) << "a copy still holds the buffer";
    std::thread([image = std::move(waiting)]() mutable { image = QImage(); }).join();
    EXPECT_EQ(pool->counts(), (FramePool::Counts{1, 1, 2, 96 * 54 * 4}));
    QImage next = Client::decodeJPEG(data, pool.get());
    EXPECT_EQ(pool->counts().made, 2u);
    EXPECT_EQ(next, copy);
    // The stream ends while both frames are still shown; they go afterwards, on another thread.
    pool.reset();
    std::thread([a = std::move(copy), b = std::move(next)]() mutable {
        a = QImage();
        b = QImage();
    }).join();
}

// A progressive frame with hundreds of scans (here its last scan again and again, which libjpeg
// takes with a warning) would hold the worker for seconds: refused past 500 scans.
TEST(PreviewDecode, FramesOfTooManyScansAreRefused) {
    const std::string data = encode({"progressive", 3, true});
    EXPECT_FALSE(Client::decodeJPEG(withLastScanRepeated(data, 100)).isNull());
    try {
        Client::decodeJPEG(withLastScanRepeated(data, 600));
        ADD_FAILURE() << "decoded";
    } catch (const VELKPreviewError& error) {
        EXPECT_EQ(error.kind(), VELKPreviewError::Case::invalidJPEG);
    }
}

// The sizes a camera sends, and a frame's scans counted as they start until its work passes five
// plain frames of the largest size (one sequential scan of three full-resolution components).
TEST(PreviewDecode, SizesAndWorkAFrameMayHave) {
    const struct {
        int width, height;
        bool accepted;
    } sizes[] = {{1920, 1080, true},  {1080, 1920, true},  {1921, 1080, false}, {1080, 1921, false},
                 {1920, 1081, false}, {1081, 1081, false}, {0, 720, false}};
    for (const auto& size : sizes) {
        EXPECT_EQ(Client::isAcceptedFrameSize(size.width, size.height), size.accepted) << size.width << " x " << size.height;
    }
    const std::int64_t largest = 3 * 240 * 135;
    const struct {
        const char* what;
        Client::ScanShape scan;
        int refusedAt;
    } frames[] = {
        {"the sixth plain frame", {largest}, 6},
        {"a sequential scan decodes whole blocks whatever its band", {largest, 0, 0}, 6},
        {"a DC scan costs its blocks beyond its coefficient (17/80 of a plain frame)", {largest, 0, 0, true}, 24},
        {"the 501st scan, however small", {1, 0, 0, true}, 501},
    };
    for (const auto& frame : frames) {
        Client::FrameWork work;
        int scans = 1;
        while (work.startScan(frame.scan) && scans < 1000) ++scans;
        EXPECT_EQ(scans, frame.refusedAt) << frame.what;
    }
}

// A flat progressive frame of the largest size whose last scan comes again and again: a few bytes a
// scan to send, the whole frame's blocks to decode each time. Refused once it has cost a few plain
// frames, before the rest is spent; libjpeg's progressive scans in CMYK, its costliest, still decode.
TEST(PreviewDecode, FramesAreRefusedBeforeTheyCostMoreThanAFewPlainFrames) {
    const int width = Client::largestFrameLongSide, height = Client::largestFrameShortSide;
    EXPECT_FALSE(Client::decodeJPEG(encode({"progressive CMYK", 4, true}, width, height)).isNull());
    const std::string plain = encode({"flat progressive", 3, true, true, true}, width, height);
    const auto [plainSeconds, plainDecoded] = decodeCost(plain);
    ASSERT_TRUE(plainDecoded);
    for (const int extra : {100, 499}) {
        const auto [seconds, decoded] = decodeCost(withLastScanRepeated(plain, extra));
        EXPECT_FALSE(decoded) << extra << " more scans";
        // Processor time, which a loaded machine does not stretch as it does the wall clock.
        EXPECT_LT(seconds, 6 * plainSeconds) << extra << " more scans: " << seconds << " s, plain " << plainSeconds << " s";
    }
}

} // namespace
} // namespace velk
