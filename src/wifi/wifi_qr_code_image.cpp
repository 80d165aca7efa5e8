#define ZX_USE_UTF8
#include "wifi/wifi_qr_code_image.hpp"

#include <array>
#include <fstream>
#include <memory>

#include <QBuffer>
#include <QImageReader>
#include <QMimeData>
#include <QPainter>

#include <ZXing/ReadBarcode.h>
#include <libheif/heif.h>
#include <qrencode.h>

#include "base/unicode.hpp"

namespace velk::WiFiQRCodeImage {

namespace {

constexpr const char* kNoCodeMessage = "No supported Wi-Fi QR code was found in the image.";
constexpr const char* kSeveralCodesMessage = "The image contains more than one supported Wi-Fi QR code.";
constexpr const char* kFileLimitMessage =
    "Choose a PNG, JPEG, HEIC, or TIFF image up to 20 MB and 8,192 pixels per side.";
constexpr const char* kUnreadableFileMessage = "The selected file could not be read as an image.";
constexpr const char* kNoClipboardImageMessage = "The clipboard does not contain a supported QR image.";
constexpr const char* kClipboardImageMessage = "The clipboard image is too large or could not be read.";

// The largest decoded image: 40,000,000 pixels of four bytes, in the reader's unit of MiB.
constexpr int kAllocationLimitMiB = static_cast<int>((maximumPixels * 4 + (1 << 20) - 1) >> 20);

enum class Format { png, jpeg, tiff, heic };

std::optional<Format> formatOfContent(const QByteArray& bytes) {
    const auto startsWith = [&](std::string_view magic) {
        return bytes.size() >= static_cast<qsizetype>(magic.size()) &&
               std::equal(magic.begin(), magic.end(), bytes.constData());
    };
    if (startsWith("\x89PNG\r\n\x1a\n")) return Format::png;
    if (startsWith("\xff\xd8\xff")) return Format::jpeg;
    if (startsWith(std::string_view("II*\0", 4)) || startsWith(std::string_view("MM\0*", 4))) return Format::tiff;
    if (bytes.size() >= 12 && bytes.mid(4, 4) == "ftyp") {
        static constexpr std::array<std::string_view, 8> brands{"heic", "heix", "heim", "heis",
                                                                "hevc", "hevx", "mif1", "msf1"};
        const QByteArray brand = bytes.mid(8, 4);
        for (auto known : brands) {
            if (brand == QByteArray(known.data(), static_cast<qsizetype>(known.size()))) return Format::heic;
        }
    }
    return std::nullopt;
}

bool withinPixelLimits(std::int64_t width, std::int64_t height) {
    return width >= 1 && height >= 1 && width <= maximumDimension && height <= maximumDimension &&
           width <= maximumPixels / height;
}

struct HeifDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
    void operator()(heif_image* image) const { heif_image_release(image); }
};
template <class T>
using HeifPointer = std::unique_ptr<T, HeifDeleter>;

// Throws `limitMessage` for a header over the limits, `unreadableMessage` when decoding fails.
QImage decodeHeic(const QByteArray& bytes, const char* limitMessage, const char* unreadableMessage) {
    HeifPointer<heif_context> context(heif_context_alloc());
    if (!context) throw WiFiQRError::invalid(unreadableMessage);
    heif_context_set_maximum_image_size_limit(context.get(), maximumDimension);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.constData(),
                                                   static_cast<size_t>(bytes.size()), nullptr)
            .code != heif_error_Ok) {
        throw WiFiQRError::invalid(limitMessage);
    }
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok) {
        throw WiFiQRError::invalid(limitMessage);
    }
    HeifPointer<heif_image_handle> handle(rawHandle);
    if (!withinPixelLimits(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get())) ||
        !withinPixelLimits(heif_image_handle_get_ispe_width(handle.get()),
                           heif_image_handle_get_ispe_height(handle.get()))) {
        throw WiFiQRError::invalid(limitMessage);
    }
    heif_image* rawImage = nullptr;
    // The default options apply the file's rotation and mirroring.
    if (heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code !=
        heif_error_Ok) {
        throw WiFiQRError::invalid(unreadableMessage);
    }
    HeifPointer<heif_image> image(rawImage);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (plane == nullptr || !withinPixelLimits(width, height)) throw WiFiQRError::invalid(unreadableMessage);
    return QImage(plane, width, height, stride, QImage::Format_RGB888).copy();
}

QImage decodeWithQt(const QByteArray& bytes, Format format, const char* limitMessage, const char* unreadableMessage) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const char* name = format == Format::png ? "png" : format == Format::jpeg ? "jpeg" : "tiff";
    QImageReader reader(&buffer, name);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(kAllocationLimitMiB);
    const QSize size = reader.size(); // from the header only
    if (!size.isValid() || !withinPixelLimits(size.width(), size.height())) throw WiFiQRError::invalid(limitMessage);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) throw WiFiQRError::invalid(unreadableMessage);
    return image;
}

QImage decodeBytes(const QByteArray& bytes, Format format, const char* limitMessage, const char* unreadableMessage) {
    if (format == Format::heic) return decodeHeic(bytes, limitMessage, unreadableMessage);
    return decodeWithQt(bytes, format, limitMessage, unreadableMessage);
}

} // namespace

QImage generate(const WiFiNetworkDetails& details) {
    const std::string text = WiFiQRCodec::encode(details);
    std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return {};
    const int modules = code->width + 2 * quietZoneModules;
    const int side = modules * moduleSizePixels;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            if ((code->data[y * code->width + x] & 1) == 0) continue;
            const int left = (x + quietZoneModules) * moduleSizePixels;
            const int top = (y + quietZoneModules) * moduleSizePixels;
            for (int row = top; row < top + moduleSizePixels; ++row) {
                std::fill_n(image.scanLine(row) + left, moduleSizePixels, 0);
            }
        }
    }
    return image;
}

namespace {

// The image as it is seen on a white page: a conversion to gray alone would turn transparent
// pixels, whose colour is usually black, into black, and hide a code drawn on a transparent ground.
QImage onWhite(const QImage& image) {
    if (!image.hasAlphaChannel()) return image;
    QImage page(image.size(), QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.drawImage(0, 0, image);
    return page;
}

} // namespace

std::vector<std::string> readPayloads(const QImage& image) {
    const QImage gray = onWhite(image).convertToFormat(QImage::Format_Grayscale8);
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    hints.setMaxNumberOfSymbols(255);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(gray.bytesPerLine()));
    std::vector<std::string> payloads;
    for (const auto& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid()) continue;
        // Byte-mode payloads are taken as the UTF-8 they were written in; anything else goes by the
        // reader's character-set rules.
        const auto& bytes = result.bytes();
        std::string raw(bytes.begin(), bytes.end());
        payloads.push_back(text::isValidUTF8(raw) ? std::move(raw) : result.text());
    }
    return payloads;
}

WiFiNetworkDetails decode(const QImage& image) {
    std::vector<WiFiNetworkDetails> found;
    for (const auto& payload : readPayloads(image)) {
        try {
            found.push_back(WiFiQRCodec::parse(payload));
        } catch (const WiFiQRError&) {
            // Other QR codes and malformed Wi-Fi texts are passed over.
        }
    }
    if (found.empty()) throw WiFiQRError::invalid(kNoCodeMessage);
    if (found.size() > 1) throw WiFiQRError::invalid(kSeveralCodesMessage);
    return found.front();
}

QImage readImageFile(const std::filesystem::path& file) {
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(file)); // throws the system's error
    if (size <= 0 || size > maximumFileBytes) throw WiFiQRError::invalid(kFileLimitMessage);

    std::ifstream stream(file, std::ios::binary);
    if (!stream) throw WiFiQRError::invalid(kFileLimitMessage);
    // The file may have grown since its size was read; one byte more than the limit tells.
    QByteArray bytes(static_cast<qsizetype>(std::min<std::int64_t>(size, maximumFileBytes) + 1), Qt::Uninitialized);
    stream.read(bytes.data(), bytes.size());
    bytes.resize(static_cast<qsizetype>(stream.gcount()));
    if (bytes.isEmpty() || bytes.size() > maximumFileBytes) throw WiFiQRError::invalid(kFileLimitMessage);

    const auto format = formatOfContent(bytes);
    if (!format) throw WiFiQRError::invalid(kFileLimitMessage);
    return decodeBytes(bytes, *format, kFileLimitMessage, kUnreadableFileMessage);
}

WiFiNetworkDetails decode(const std::filesystem::path& file) { return decode(readImageFile(file)); }

WiFiNetworkDetails decode(const QMimeData& clipboard) {
    static const std::array<const char*, 3> types{"image/png", "image/jpeg", "image/tiff"};
    for (const char* type : types) {
        if (!clipboard.hasFormat(QString::fromLatin1(type))) continue;
        const QByteArray bytes = clipboard.data(QString::fromLatin1(type));
        const auto format = formatOfContent(bytes);
        if (!format || *format == Format::heic) throw WiFiQRError::invalid(kClipboardImageMessage);
        return decode(decodeBytes(bytes, *format, kClipboardImageMessage, kClipboardImageMessage));
    }
    throw WiFiQRError::invalid(kNoClipboardImageMessage);
}

} // namespace velk::WiFiQRCodeImage
