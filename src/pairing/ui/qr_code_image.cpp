#include "pairing/ui/qr_code_image.hpp"

#include <memory>

#include <qrencode.h>

namespace velk::QRCodeImage {

QImage make(const std::string& payload) {
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(
        QRcode_encodeData(static_cast<int>(payload.size()), reinterpret_cast<const unsigned char*>(payload.data()), 0,
                          QR_ECLEVEL_M),
        QRcode_free);
    if (!code || code->width <= 0) return {};
    const int width = code->width;
    QImage image(width, width, QImage::Format_Grayscale8);
    for (int y = 0; y < width; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) line[x] = (code->data[y * width + x] & 1) ? 0 : 255;
    }
    return image;
}

bool canMake(const std::string& payload) { return !make(payload).isNull(); }

} // namespace velk::QRCodeImage
