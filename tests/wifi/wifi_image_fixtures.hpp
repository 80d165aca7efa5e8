#pragma once
// Image fixtures made at test time: QR codes drawn by the qrencode program (a writer other than
// ours), wrapped in the containers the reader accepts, and PNG files that only claim a size.

#include <filesystem>
#include <string>

#include <QByteArray>
#include <QImage>

namespace velk::test {

// A QR image of `text` drawn by qrencode; modules of `moduleSize` pixels.
QImage qrencodeImage(const std::string& text, int moduleSize = 8);
// The PNG file qrencode writes for `text`, its background in the colour RRGGBBAA
// ("00000000": transparent black, as image editors and web exports often leave it).
QByteArray qrencodePng(const std::string& text, const std::string& background);
// `images` side by side on white, 40 pixels apart.
QImage sideBySide(const std::vector<QImage>& images);
// Encoded bytes of the image in a format Qt writes ("png", "jpeg", "tiff").
QByteArray encoded(const QImage& image, const char* format, int quality = 95);
// A JPEG whose pixels are stored transposed, with the EXIF orientation (5) that puts them right.
QByteArray transposedJpegWithOrientation(const QImage& image);
// A PNG that declares width × height in its header but holds no image data.
QByteArray pngHeaderOnly(std::uint32_t width, std::uint32_t height);

void writeFile(const std::filesystem::path& path, const QByteArray& bytes);
// Runs a program and returns its standard output; empty when it could not run or failed.
std::string runProgram(const std::string& program, const std::vector<std::string>& arguments);

} // namespace velk::test
