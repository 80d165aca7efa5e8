#pragma once
// Wi-Fi QR images: drawing the QR of validated details, and finding the one Wi-Fi QR code in an
// image file or on the clipboard. Files and clipboard images are bounded in bytes, pixels per side
// and total pixels from their headers, before any pixel data is decoded.

#include <cstdint>
#include <filesystem>

#include <QByteArray>
#include <QImage>

#include "wifi/wifi_qr_codec.hpp"

class QMimeData;

namespace velk::WiFiQRCodeImage {

inline constexpr std::int64_t maximumFileBytes = 20971520;
inline constexpr int maximumDimension = 8192;
inline constexpr std::int64_t maximumPixels = 40000000;
inline constexpr int moduleSizePixels = 9;
inline constexpr int quietZoneModules = 4;

// Byte mode, error correction M, 9 × 9 pixels per module, a white quiet zone of 4 modules.
// A null image when the text does not fit a QR code.
QImage generate(const WiFiNetworkDetails& details);

// An image file of PNG, JPEG, HEIC or TIFF content. Throws WiFiQRError, or the file system's own
// error when the file's size cannot be read.
WiFiNetworkDetails decode(const std::filesystem::path& file);

// The file's first image, decoded once with its orientation applied, after the size checks.
// Throws as decode(file) does.
QImage readImageFile(const std::filesystem::path& file);

// The clipboard's image, taken from its encoded PNG, JPEG or TIFF bytes. Throws WiFiQRError.
WiFiNetworkDetails decode(const QMimeData& clipboard);

// The details of exactly one QR code in the image that reads as a supported Wi-Fi QR text.
WiFiNetworkDetails decode(const QImage& image);

// Every QR payload found in the image, in reading order (for tests and the benchmark).
std::vector<std::string> readPayloads(const QImage& image);

} // namespace velk::WiFiQRCodeImage
