#include "preview/preview_client.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <jpeglib.h>

#include "preview/frame_bounds.hpp"

namespace velk::VELKPreviewClient {

namespace {

// Width and height from the first start-of-frame segment, read before anything is decoded.
std::optional<std::pair<int, int>> declaredSize(std::string_view data) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(data[i])); };
    std::size_t i = 2;
    while (i + 4 <= data.size()) {
        if (byte(i) != 0xFF) return std::nullopt;
        const unsigned marker = byte(i + 1);
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            i += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
        const std::size_t length = (byte(i + 2) << 8) | byte(i + 3);
        if (length < 2 || i + 2 + length > data.size()) return std::nullopt;
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame) {
            if (length < 7) return std::nullopt;
            const int height = static_cast<int>((byte(i + 5) << 8) | byte(i + 6));
            const int width = static_cast<int>((byte(i + 7) << 8) | byte(i + 8));
            return std::make_pair(width, height);
        }
        i += 2 + length;
    }
    return std::nullopt;
}

// --- the decode, with libjpeg(-turbo) ---
//
// libjpeg reports an error by calling error_exit, which must not return: ours jumps back to the
// setjmp of the step under way. Each step makes only C calls between its setjmp and its end, so
// the jump skips no destructor.

struct DecodeErrors {
    jpeg_error_mgr manager;
    std::jmp_buf step;
};

[[noreturn]] void leaveStep(j_common_ptr info) { std::longjmp(reinterpret_cast<DecodeErrors*>(info->err)->step, 1); }

// Warnings (a corrupt stretch of data, drawn grey) are not printed.
void keepQuiet(j_common_ptr) {}

// Each scan of a progressive frame costs the blocks it covers, however few its bytes: a frame's
// work is counted as each scan starts and one past the budget is refused before that scan is
// decoded. libjpeg calls the monitor once it has read a scan's header and set up the scan, and then
// after each row of blocks it decodes.
struct ScanCounter {
    jpeg_progress_mgr manager{};
    FrameWork work;
    int scan = 0;
};

void countScans(j_common_ptr common) {
    const auto info = reinterpret_cast<j_decompress_ptr>(common);
    auto* counter = reinterpret_cast<ScanCounter*>(info->progress);
    if (info->input_scan_number == counter->scan) return;
    counter->scan = info->input_scan_number;
    const ScanShape scan{static_cast<std::int64_t>(info->MCUs_per_row) * info->MCU_rows_in_scan * info->blocks_in_MCU,
                         info->Ss, info->Se, info->progressive_mode != FALSE};
    if (!counter->work.startScan(scan)) leaveStep(common);
}

// What libjpeg may allocate for one frame (a progressive one keeps all its coefficients): what
// Qt's image readers allow by default. A frame that passes the size bound needs far less.
constexpr long kMemoryLimitBytes = 256L * 1024 * 1024;

// The pixels of QImage::Format_RGB32 (0xffRRGGBB in the machine's byte order), which libjpeg
// writes directly.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32 = JCS_EXT_BGRA;
#else
constexpr J_COLOR_SPACE kRgb32 = JCS_EXT_ARGB;
#endif

class Decompressor {
public:
    Decompressor() {
        std::memset(&m_info, 0, sizeof m_info);
        m_info.err = jpeg_std_error(&m_errors.manager);
        m_errors.manager.error_exit = leaveStep;
        m_errors.manager.output_message = keepQuiet;
        m_created = create(m_info, m_errors);
    }
    ~Decompressor() { jpeg_destroy_decompress(&m_info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // Reads the header and chooses the output: RGB32, or CMYK for four components, which
    // cmykToRgb32 turns into RGB32 in place. False when it does not decode as JPEG.
    bool readHeader(const std::string& data) { return m_created && header(m_info, m_errors, data, m_scans); }
    int width() const { return static_cast<int>(m_info.output_width); }
    int height() const { return static_cast<int>(m_info.output_height); }
    bool isCmyk() const { return m_info.out_color_space == JCS_CMYK; }
    // Decodes into `pixels`, rows `stride` bytes apart, 4 bytes a pixel.
    bool readPixels(unsigned char* pixels, std::size_t stride) { return decode(m_info, m_errors, pixels, stride); }

private:
    static bool create(jpeg_decompress_struct& info, DecodeErrors& errors) {
        if (setjmp(errors.step)) return false;
        jpeg_create_decompress(&info);
        return true;
    }
    static bool header(jpeg_decompress_struct& info, DecodeErrors& errors, const std::string& data,
                       ScanCounter& scans) {
        if (setjmp(errors.step)) return false;
        info.mem->max_memory_to_use = kMemoryLimitBytes;
        scans.manager.progress_monitor = countScans;
        info.progress = &scans.manager;
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = info.num_components == 4 ? JCS_CMYK : kRgb32;
        jpeg_calc_output_dimensions(&info);
        return true;
    }
    static bool decode(jpeg_decompress_struct& info, DecodeErrors& errors, unsigned char* pixels, std::size_t stride) {
        if (setjmp(errors.step)) return false;
        jpeg_start_decompress(&info);
        constexpr JDIMENSION kRowsAtOnce = 16;
        JSAMPROW rows[kRowsAtOnce];
        while (info.output_scanline < info.output_height) {
            const JDIMENSION first = info.output_scanline;
            const JDIMENSION count = std::min(kRowsAtOnce, info.output_height - first);
            for (JDIMENSION k = 0; k < count; ++k) rows[k] = pixels + static_cast<std::size_t>(first + k) * stride;
            if (jpeg_read_scanlines(&info, rows, count) == 0) break;
        }
        jpeg_finish_decompress(&info);
        return true;
    }

    jpeg_decompress_struct m_info;
    DecodeErrors m_errors;
    ScanCounter m_scans;
    bool m_created = false;
};

// Inverted CMYK, as Adobe's programs write it, to RGB32, pixel by pixel in place.
void cmykToRgb32(unsigned char* pixels, std::size_t stride, int width, int height) {
    for (int y = 0; y < height; ++y) {
        unsigned char* pixel = pixels + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < width; ++x, pixel += 4) {
            const unsigned k = pixel[3];
            const QRgb rgb = qRgb(static_cast<int>(k * pixel[0] / 255), static_cast<int>(k * pixel[1] / 255),
                                  static_cast<int>(k * pixel[2] / 255));
            std::memcpy(pixel, &rgb, sizeof rgb);
        }
    }
}

void giveFrameBack(void* frame) { delete static_cast<PooledFrame*>(frame); }

// An image over a pool's buffer, which goes back to the pool when the image's last copy goes.
QImage imageOver(PooledFrame frame, int width, int height, std::size_t stride) {
    auto held = std::make_unique<PooledFrame>(std::move(frame));
    QImage image(held->data(), width, height, static_cast<qsizetype>(stride), QImage::Format_RGB32, giveFrameBack,
                 held.get());
    if (image.isNull()) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    held.release(); // the image's cleanup owns it now
    return image;
}

class SocketGuard {
public:
    SocketGuard(int fd, PreviewSocketWatch* watch) : m_fd(fd), m_watch(watch) {}
    ~SocketGuard() { close(); }
    SocketGuard(const SocketGuard&) = delete;
    SocketGuard& operator=(const SocketGuard&) = delete;
    int fd() const { return m_fd; }
    void close() {
        closeSocket(m_fd, m_watch);
        m_fd = -1;
    }

private:
    int m_fd;
    PreviewSocketWatch* m_watch;
};

} // namespace

QImage decodeJPEG(const std::string& data, FramePool* frames) {
    if (!isJPEG(data)) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    const auto size = declaredSize(data);
    if (!size || !isAcceptedFrameSize(size->first, size->second)) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    Decompressor jpeg;
    if (!jpeg.readHeader(data) || !isAcceptedFrameSize(jpeg.width(), jpeg.height())) {
        VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    }
    const int width = jpeg.width();
    const int height = jpeg.height();
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    PooledFrame frame;
    QImage image;
    unsigned char* pixels = nullptr;
    if (frames) {
        frame = frames->take(stride * static_cast<std::size_t>(height));
        if (!frame) return {};
        pixels = frame.data();
    } else {
        image = QImage(width, height, QImage::Format_RGB32);
        if (image.isNull()) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
        pixels = image.bits();
    }
    // A frame that fails here goes back to its pool.
    if (!jpeg.readPixels(pixels, stride)) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    if (jpeg.isCmyk()) cmykToRgb32(pixels, stride, width, height);
    return frames ? imageOver(std::move(frame), width, height, stride) : image;
}

std::string fetchJPEG(const std::string& host, std::uint16_t serverPort, std::uint8_t mode, int timeoutMs,
                      PreviewSocketWatch* watch) {
    std::string frame = fetchFrame(host, serverPort, mode, timeoutMs, watch);
    decodeJPEG(frame);
    return frame;
}

QImage fetchImage(const std::string& host, std::uint16_t serverPort, std::uint8_t mode, PreviewSocketWatch* watch,
                  FramePool* frames) {
    return decodeJPEG(fetchFrame(host, serverPort, mode, defaultTimeoutMs, watch), frames);
}

Transport receive(const std::string& host, std::uint16_t serverPort, VELKPreviewProfile profile, bool preferLegacy,
                  const std::function<bool()>& shouldContinue, const FrameCallback& onFrame,
                  PreviewSocketWatch* watch, FramePool* frames) {
    // A frame the pool has no buffer for is dropped: the stream's newer frames are still waiting
    // for the GUI thread.
    const auto deliver = [&](QImage image, Transport transport) {
        if (image.isNull()) return false;
        onFrame(std::move(image), transport);
        return true;
    };
    if (preferLegacy) {
        deliver(fetchImage(host, serverPort, legacyMode(profile), watch, frames), Transport::legacy);
        return Transport::legacy;
    }

    std::optional<VELKPreviewError> pending;
    bool delivered = false;
    try {
        SocketGuard socket(connect(host, serverPort, persistentConnectTimeoutMs, watch), watch);
        sendMode(socket.fd(), persistentMode(profile));
        const double interval = minimumFrameInterval(profile);
        double lastDelivered = -std::numeric_limits<double>::infinity();
        if (!shouldContinue()) return Transport::persistent;
        // One payload buffer for the whole stream, grown to its largest frame.
        std::string frame;
        for (;;) {
            readJPEG(socket.fd(), frame);
            // Monotonic: a step of the wall clock must not hold back every later frame.
            const double now = uptimeSeconds();
            if (now - lastDelivered >= interval && deliver(decodeJPEG(frame, frames), Transport::persistent)) {
                lastDelivered = now;
                delivered = true;
            }
            if (!shouldContinue()) return Transport::persistent;
        }
    } catch (const VELKPreviewError& error) {
        if (delivered) throw;
        pending = error;
    }
    // A camera that cannot stream still shows one frame per exchange.
    if (!shouldContinue()) throw *pending;
    deliver(fetchImage(host, serverPort, legacyMode(profile), watch, frames), Transport::legacy);
    return Transport::legacy;
}

} // namespace velk::VELKPreviewClient
