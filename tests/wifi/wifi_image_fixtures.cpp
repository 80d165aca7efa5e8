#include "wifi/wifi_image_fixtures.hpp"

#include <array>
#include <fstream>

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include "support/child_process.hpp"

namespace velk::test {

namespace {

std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(QByteArray& out, std::uint32_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) out.append(static_cast<char>((value >> shift) & 0xFF));
}

void appendChunk(QByteArray& out, const char* type, const QByteArray& data) {
    appendBigEndian(out, static_cast<std::uint32_t>(data.size()), 4);
    const QByteArray body = QByteArray(type, 4) + data;
    out.append(body);
    appendBigEndian(out, crc32(body), 4);
}

} // namespace

std::string runProgram(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProgramRun run = runToEnd(argv);
    return run.status == std::optional<int>(0) ? run.output : std::string();
}

QImage qrencodeImage(const std::string& text, int moduleSize) {
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("code.png")).toStdString();
    runProgram("qrencode", {"-o", path, "-s", std::to_string(moduleSize), "-m", "4", "-l", "M", "-8", text});
    return QImage(QString::fromStdString(path));
}

QByteArray qrencodePng(const std::string& text, const std::string& background) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("code.png"));
    runProgram("qrencode", {"-o", path.toStdString(), "-s", "8", "-m", "4", "-l", "M", "-8",
                            "--background=" + background, text});
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage sideBySide(const std::vector<QImage>& images) {
    int width = 40, height = 0;
    for (const auto& image : images) {
        width += image.width() + 40;
        height = std::max(height, image.height());
    }
    QImage canvas(width, height + 80, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    int x = 40;
    for (const auto& image : images) {
        painter.drawImage(x, 40, image);
        x += image.width() + 40;
    }
    return canvas;
}

QByteArray encoded(const QImage& image, const char* format, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

QByteArray transposedJpegWithOrientation(const QImage& image) {
    const QImage transposed = image.convertToFormat(QImage::Format_RGB32).transformed(QTransform(0, 1, 1, 0, 0, 0));
    const QByteArray jpeg = encoded(transposed, "jpeg");
    // APP1 "Exif": a big-endian TIFF header and one IFD entry, Orientation (0x0112) = 5 (transpose).
    QByteArray exif("Exif\0\0", 6);
    exif.append(QByteArray("MM\0*\0\0\0\x08", 8));
    appendBigEndian(exif, 1, 2);
    appendBigEndian(exif, 0x0112, 2);
    appendBigEndian(exif, 3, 2);
    appendBigEndian(exif, 1, 4);
    appendBigEndian(exif, 5, 2);
    appendBigEndian(exif, 0, 2);
    appendBigEndian(exif, 0, 4);
    QByteArray segment("\xff\xe1", 2);
    appendBigEndian(segment, static_cast<std::uint32_t>(exif.size() + 2), 2);
    segment.append(exif);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBigEndian(header, width, 4);
    appendBigEndian(header, height, 4);
    header.append(QByteArray("\x08\x00\x00\x00\x00", 5)); // 8-bit greyscale
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", {});
    appendChunk(png, "IEND", {});
    return png;
}

void writeFile(const std::filesystem::path& path, const QByteArray& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
}

} // namespace velk::test
