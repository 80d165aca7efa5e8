#include "preview/preview_client.hpp"

#include <limits>
#include <mutex>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

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

bool withinBounds(int width, int height) {
    return width > 0 && height > 0 && width <= maximumImageDimension && height <= maximumImageDimension;
}

// Qt's own default: readers refuse images that would need more than this many MiB. A frame that
// passes the size bound needs at most 64.
constexpr int kAllocationLimitMiB = 256;

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

QImage decodeJPEG(const std::string& data) {
    static std::once_flag limitOnce;
    std::call_once(limitOnce, [] {
        // The limit is process-wide: only switch it back on when something switched it off.
        if (QImageReader::allocationLimit() == 0) QImageReader::setAllocationLimit(kAllocationLimitMiB);
    });
    if (!isJPEG(data)) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    const auto size = declaredSize(data);
    if (!size || !withinBounds(size->first, size->second)) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    QByteArray bytes = QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoDetectImageFormat(false);
    const QSize readerSize = reader.size();
    if (!readerSize.isValid() || !withinBounds(readerSize.width(), readerSize.height())) {
        VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) VELKPreviewError::raise(VELKPreviewError::Case::invalidJPEG);
    return image;
}

std::string fetchJPEG(const std::string& host, std::uint16_t serverPort, std::uint8_t mode, int timeoutMs,
                      PreviewSocketWatch* watch) {
    std::string frame = fetchFrame(host, serverPort, mode, timeoutMs, watch);
    decodeJPEG(frame);
    return frame;
}

QImage fetchImage(const std::string& host, std::uint16_t serverPort, std::uint8_t mode, PreviewSocketWatch* watch) {
    return decodeJPEG(fetchFrame(host, serverPort, mode, defaultTimeoutMs, watch));
}

Transport receive(const std::string& host, std::uint16_t serverPort, VELKPreviewProfile profile, bool preferLegacy,
                  const std::function<bool()>& shouldContinue, const FrameCallback& onFrame,
                  PreviewSocketWatch* watch) {
    if (preferLegacy) {
        onFrame(fetchImage(host, serverPort, legacyMode(profile), watch), Transport::legacy);
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
        for (;;) {
            const std::string frame = readJPEG(socket.fd());
            // Monotonic: a step of the wall clock must not hold back every later frame.
            const double now = uptimeSeconds();
            if (now - lastDelivered >= interval) {
                onFrame(decodeJPEG(frame), Transport::persistent);
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
    onFrame(fetchImage(host, serverPort, legacyMode(profile), watch), Transport::legacy);
    return Transport::legacy;
}

} // namespace velk::VELKPreviewClient
