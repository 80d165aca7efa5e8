#include <QClipboard>
#include <QMimeData>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "wifi/wifi_image_fixtures.hpp"
#include "wifi/wifi_qr_code_image.hpp"
#include "wifi/wifi_test_support.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;
using test::thrownWhat;

const std::string kHomeText = "WIFI:T:WPA;S:Home\\;Net;P:password1;H:false;;";
using test::kHome;
const std::string kFileLimit = "Choose a PNG, JPEG, HEIC, or TIFF image up to 20 MB and 8,192 pixels per side.";
const std::string kClipboardLimit = "The clipboard image is too large or could not be read.";
const std::string kUnreadable = "The selected file could not be read as an image.";
const std::string kNoCode = "No supported Wi-Fi QR code was found in the image.";
const std::string kSeveral = "The image contains more than one supported Wi-Fi QR code.";

class WiFiQRCodeImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensureApplication();
        ASSERT_TRUE(dir.isValid());
    }

    std::filesystem::path write(const std::string& name, const QByteArray& bytes) {
        const std::filesystem::path path = dir.filePath(QString::fromStdString(name)).toStdString();
        test::writeFile(path, bytes);
        return path;
    }

    QTemporaryDir dir;
};

TEST_F(WiFiQRCodeImageTest, ReadsEveryAcceptedContainer) {
    const QImage code = test::qrencodeImage(kHomeText);
    ASSERT_FALSE(code.isNull()) << "qrencode is missing";
    const auto png = write("code.png", test::encoded(code, "png"));
    EXPECT_EQ(WiFiQRCodeImage::decode(png), kHome);
    EXPECT_EQ(WiFiQRCodeImage::decode(write("code.tif", test::encoded(code, "tiff"))), kHome);
    // The content decides, not the name.
    EXPECT_EQ(WiFiQRCodeImage::decode(write("code.jpg", test::encoded(code, "png"))), kHome);

    // heif-enc garbles one-bit PNGs, so it is given the code in RGB.
    const auto rgb = write("rgb.png", test::encoded(code.convertToFormat(QImage::Format_RGB32), "png"));
    const auto heic = dir.filePath(QStringLiteral("code.heic")).toStdString();
    test::runProgram("heif-enc", {"-q", "90", "-o", heic, rgb.string()});
    ASSERT_TRUE(std::filesystem::exists(heic)) << "heif-enc is missing";
    EXPECT_EQ(WiFiQRCodeImage::decode(std::filesystem::path(heic)), kHome);

    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(write("code.gif", test::encoded(code, "gif"))); }), kFileLimit);
}

TEST_F(WiFiQRCodeImageTest, ReadsACodeOnATransparentBackground) {
    const QByteArray png = test::qrencodePng(kHomeText, "00000000");
    ASSERT_FALSE(png.isEmpty()) << "qrencode is missing";
    const QImage written = QImage::fromData(png, "PNG");
    ASSERT_TRUE(written.hasAlphaChannel());
    ASSERT_EQ(qAlpha(written.pixel(0, 0)), 0); // the quiet zone is see-through

    EXPECT_EQ(WiFiQRCodeImage::decode(write("transparent.png", png)), kHome);
    QMimeData clipboard;
    clipboard.setData(QStringLiteral("image/png"), png);
    EXPECT_EQ(WiFiQRCodeImage::decode(clipboard), kHome);
}

TEST_F(WiFiQRCodeImageTest, AppliesTheJpegOrientationBeforeReading) {
    QImage landscape(240, 120, QImage::Format_RGB32);
    landscape.fill(Qt::white);
    landscape.setPixelColor(230, 10, Qt::black); // a mark near the top right corner
    for (int y = 0; y < 20; ++y) {
        for (int x = 220; x < 240; ++x) landscape.setPixelColor(x, y, Qt::black);
    }
    const QImage read = WiFiQRCodeImage::readImageFile(write("turned.jpg", test::transposedJpegWithOrientation(landscape)));
    ASSERT_EQ(read.size(), QSize(240, 120));
    EXPECT_LT(qGray(read.pixel(230, 10)), 64);
    EXPECT_GT(qGray(read.pixel(10, 110)), 192);

    const QImage code = test::qrencodeImage(kHomeText);
    EXPECT_EQ(WiFiQRCodeImage::decode(write("portrait.jpg", test::transposedJpegWithOrientation(code))), kHome);
}

TEST_F(WiFiQRCodeImageTest, AcceptsExactlyOneSupportedWiFiCode) {
    const QImage wifi = test::qrencodeImage(kHomeText);
    const QImage text = test::qrencodeImage("https://example.invalid/hello");
    const QImage malformed = test::qrencodeImage("WIFI:T:WEP;S:Old;P:12345;;");
    EXPECT_EQ(WiFiQRCodeImage::decode(test::sideBySide({text, wifi})), kHome);
    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(test::sideBySide({wifi, wifi})); }), kSeveral);
    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(text); }), kNoCode);
    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(malformed); }), kNoCode);
}

TEST_F(WiFiQRCodeImageTest, ChecksTheFileSizeBeforeReadingIt) {
    const QByteArray png = test::encoded(test::qrencodeImage(kHomeText), "png");
    QByteArray padded = png; // bytes after the PNG's end are ignored by its reader
    padded.append(QByteArray(WiFiQRCodeImage::maximumFileBytes - png.size(), '\0'));
    EXPECT_EQ(WiFiQRCodeImage::decode(write("limit.png", padded)), kHome);
    padded.append('\0');
    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(write("over.png", padded)); }), kFileLimit);
    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(write("empty.png", {})); }), kFileLimit);
    EXPECT_THROW(WiFiQRCodeImage::decode(dir.filePath(QStringLiteral("absent.png")).toStdString()),
                 std::filesystem::filesystem_error);
}

TEST_F(WiFiQRCodeImageTest, ChecksTheHeaderSizeBeforeDecoding) {
    // Headers alone: within the limits the decoder runs and finds no pixels; over them it never runs.
    struct Case {
        std::uint32_t width, height;
        std::string failure;
    };
    const Case cases[] = {
        {8192, 4882, kUnreadable}, {8192, 4883, kFileLimit}, {8193, 1, kFileLimit}, {30000, 30000, kFileLimit}};
    for (const auto& c : cases) {
        const auto file = write("header.png", test::pngHeaderOnly(c.width, c.height));
        EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(file); }), c.failure) << c.width << "x" << c.height;
    }
}

TEST_F(WiFiQRCodeImageTest, BoundsTheClipboardImageLikeAFile) {
    for (const auto& [width, height] : {std::pair{60000u, 60000u}, {8193u, 1u}}) {
        QMimeData huge;
        huge.setData(QStringLiteral("image/png"), test::pngHeaderOnly(width, height));
        EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(huge); }), kClipboardLimit) << width << "x" << height;
    }

    QMimeData textOnly;
    textOnly.setText(QString::fromStdString(kHomeText));
    EXPECT_EQ(thrownWhat([&] { WiFiQRCodeImage::decode(textOnly); }),
              "The clipboard does not contain a supported QR image.");

    auto* jpeg = new QMimeData;
    jpeg->setData(QStringLiteral("image/jpeg"), test::encoded(test::qrencodeImage(kHomeText), "jpeg"));
    QGuiApplication::clipboard()->setMimeData(jpeg);
    EXPECT_EQ(WiFiQRCodeImage::decode(*QGuiApplication::clipboard()->mimeData()), kHome);
}

TEST_F(WiFiQRCodeImageTest, DrawsACodeThatAnotherReaderReadsBack) {
    const std::vector<WiFiNetworkDetails> cases{
        kHome,
        {"Café \"日本\" \\:,", Security::sae, "p;a:s,s\"w\\rd", true},
        {"Open", Security::open, "", false},
    };
    for (const auto& details : cases) {
        const QImage image = WiFiQRCodeImage::generate(details);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width() % 9, 0);
        EXPECT_EQ(image.pixelColor(35, 35), QColor(Qt::white)); // quiet zone of 4 modules of 9 pixels
        EXPECT_EQ(image.pixelColor(36, 36), QColor(Qt::black)); // corner of the finder pattern
        EXPECT_EQ(WiFiQRCodeImage::decode(image), details);

        const auto file = write("ours.png", test::encoded(image, "png"));
        const std::string read = test::runProgram("zbarimg", {"-q", "--raw", "-Sdisable", "-Sqrcode.enable", "-Sbinary", file.string()});
        EXPECT_EQ(read.substr(0, read.find_last_not_of('\n') + 1), WiFiQRCodec::encode(details));
    }
}

} // namespace
} // namespace velk
