// End to end in the project's network lab: a simulated phone (tests/sim) reads the invitation's
// QR code, sends its hello to the desk's control channel, gets the signed accept and checks it; a
// repeated hello gets the same bytes and a hello sent from another phone gets nothing. The
// CameraPairingLabDesk case runs only as a child run of this program in the lab's desk.

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "discovery/live_camera_discovery.hpp"
#include "pairing/camera_pairing_store.hpp"
#include "pairing/ui/camera_pairing_sheet.hpp"
#include "pairing/ui/qr_code_image.hpp"
#include "pairing_test_support.hpp"
#include "support/lab.hpp"

namespace velk {
namespace {

using test::LabPhone;
using test::waitUntil;

TEST(CameraPairingLab, SimulatedPhonePairsThroughTheChannel) {
    if (auto skip = test::runInLabDesk("VELK_PAIRING_ROLE", "CameraPairingLabDesk.*", 2, 120'000)) GTEST_SKIP() << *skip;
}

TEST(CameraPairingLabDesk, PhonePairsReplaysAndStrangersGetNothing) {
    if (!test::isLabDesk("VELK_PAIRING_ROLE")) GTEST_SKIP() << "runs only inside the lab's desk";
    test::ensureApplication<QApplication>();
    QTemporaryDir dir;
    LiveCameraDiscovery::Options options;
    options.watchSleep = false;
    LiveCameraDiscovery channel(options, true, {});
    ASSERT_TRUE(waitUntil([&] { return channel.isListening(); }, 10'000));
    CameraPairingStore store(std::filesystem::path(dir.filePath("data").toStdString()));
    store.attach(channel);
    store.begin("6f9619ff-8b86-4011-b42d-00c04fc964ff", channel.pairingHost());
    ASSERT_TRUE(store.invitation()) << store.message();
    EXPECT_EQ(store.invitation()->host, "10.77.0.1");

    // The QR code as the sheet shows it, with a quiet zone, is what the phone reads.
    const QImage modules = QRCodeImage::make(encodeInvitation(*store.invitation()));
    QImage framed(modules.width() * 4 + 32, modules.height() * 4 + 32, QImage::Format_Grayscale8);
    framed.fill(255);
    for (int y = 0; y < modules.height() * 4; ++y)
        for (int x = 0; x < modules.width() * 4; ++x)
            framed.setPixel(x + 16, y + 16, modules.pixel(x / 4, y / 4));
    const QString qr = dir.filePath("invitation.png");
    ASSERT_TRUE(framed.save(qr));

    LabPhone phone(1, {"--rate", "2", "--id", "cam-A", "--name", "Camera A", "--pair-invitation", qr, "--pair-replay", "3"},
                   dir.filePath("phone1.log"));
    ASSERT_TRUE(waitUntil([&] { return store.candidate().has_value(); }, 15'000));
    ASSERT_EQ(phone.events("pair-code").size(), 1u);
    EXPECT_EQ(store.candidate()->verificationCode(), phone.events("pair-code")[0]["code"]);
    EXPECT_EQ(store.candidate()->host, "10.77.0.11");

    CameraPairingSheet sheet(store, channel, false);
    sheet.open();
    sheet.findChild<QPushButton*>("approve")->click();
    ASSERT_EQ(store.trusted().size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return phone.events("pair-accept").size() >= 4; }, 10'000));
    const std::vector<Json> accepts = phone.events("pair-accept");
    EXPECT_EQ(accepts.size(), 4u);
    EXPECT_EQ(accepts[0]["fieldsOk"], true);
    EXPECT_EQ(accepts[0]["signatureOk"], true);
    EXPECT_EQ(accepts[0]["codeOk"], true);
    for (const Json& accept : accepts) EXPECT_EQ(accept["sha256"], accepts[0]["sha256"]);

    // The same hello bytes sent from another phone's address get no reply.
    const std::string hex = phone.events("pair-hello")[0]["hello"].get<std::string>();
    QFile recorded(dir.filePath("hello.bin"));
    ASSERT_TRUE(recorded.open(QIODevice::WriteOnly));
    recorded.write(QByteArray::fromHex(QByteArray::fromStdString(hex)));
    recorded.close();
    LabPhone stranger(2, {"--rate", "2", "--id", "cam-B", "--pair-invitation", qr, "--pair-hello-file",
                          recorded.fileName(), "--pair-delay", "0.2"},
                      dir.filePath("phone2.log"));
    ASSERT_TRUE(waitUntil([&] { return !stranger.events("pair-hello").empty(); }, 10'000));
    test::runFor(1500);
    EXPECT_TRUE(stranger.events("pair-accept").empty());
    EXPECT_EQ(phone.events("pair-accept").size(), 4u);
}

} // namespace
} // namespace velk
