#include <future>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "wifi/ui/wifi_onboarding_view.hpp"
#include "wifi/wifi_image_fixtures.hpp"
#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_qr_code_image.hpp"
#include "wifi/wifi_test_support.hpp"

inline void PrintTo(const QString& value, std::ostream* out) { *out << '"' << value.toStdString() << '"'; }

namespace velk {
namespace {

const QString kReason = QStringLiteral("Stop recording on all online cameras before changing Wi-Fi.");
const std::string kHomeText = "WIFI:T:WPA;S:Home\\;Net;P:password1;H:false;;";

class WiFiOnboardingViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensureApplication<QApplication>();
        gate->update(true);
        backend->scanResult = std::vector{test::network("Home;Net", {WifiSecurity::wpa2Personal}, 60, "ap")};
    }

    // A sheet whose file chooser answers with `chosenFile` (none: the user cancels).
    std::unique_ptr<WiFiOnboardingView> makeSheet(bool changeAllowed = true) {
        WiFiOnboardingPlatform platform;
        platform.joiner = std::make_unique<WiFiJoinCoordinator>(backend);
        platform.chooseImage = [this](QWidget*, std::function<void(const QString&)> chosen) {
            if (chosenFile) chosen(*chosenFile);
        };
        platform.startProgram = [this](const QString&, const QStringList&) { return canStartSettings; };
        auto sheet = std::make_unique<WiFiOnboardingView>(changeAllowed, kReason, gate, std::move(platform));
        sheet->show();
        return sheet;
    }

    std::unique_ptr<WiFiOnboardingView> sheetShowingHome(bool changeAllowed = true) {
        chosenFile = dir.filePath(QStringLiteral("code.png"));
        test::qrencodeImage(kHomeText).save(*chosenFile, "PNG");
        auto sheet = makeSheet(changeAllowed);
        click(*sheet, "chooseImageButton");
        return sheet;
    }

    static void putOnClipboard(const QByteArray& png) {
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("image/png"), png);
        QGuiApplication::clipboard()->setMimeData(mime);
    }

    template <class T = QWidget>
    static T* child(QWidget& sheet, const char* name) {
        auto* widget = sheet.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static void click(QWidget& sheet, const char* name) { child<QPushButton>(sheet, name)->click(); }
    static QString text(QWidget& sheet, const char* name) { return child<QLabel>(sheet, name)->text(); }
    static bool shown(QWidget& sheet, const char* name) { return child(sheet, name)->isVisible(); }
    static bool enabled(QWidget& sheet, const char* name) { return child(sheet, name)->isEnabled(); }

    static void confirmJoin(QWidget& sheet) {
        click(sheet, "joinButton");
        auto* confirmation = child<QMessageBox>(sheet, "joinConfirmation");
        ASSERT_TRUE(confirmation->isVisible());
        EXPECT_EQ(confirmation->windowModality(), Qt::WindowModal);
        click(*confirmation, "confirmJoinButton");
    }

    std::promise<void> holdTheScan() {
        std::promise<void> release;
        backend->duringScan = [released = release.get_future().share()] { released.wait(); };
        return release;
    }

    std::shared_ptr<test::FakeWifiBackend> backend = std::make_shared<test::FakeWifiBackend>();
    std::shared_ptr<WiFiChangeGate> gate = std::make_shared<WiFiChangeGate>();
    std::optional<QString> chosenFile;
    bool canStartSettings = true;
    QTemporaryDir dir;
};

TEST_F(WiFiOnboardingViewTest, ANewSheetStartsEmptyOnTheJoinTab) {
    auto sheet = makeSheet();
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->findChild<QTabWidget*>()->currentIndex(), 0);
    EXPECT_EQ(text(*sheet, "joinPlaceholderTitle"), QStringLiteral("No Wi-Fi QR Loaded"));
    EXPECT_TRUE(shown(*sheet, "joinPlaceholderTitle"));
    EXPECT_FALSE(shown(*sheet, "statusLine"));
    click(*sheet, "chooseImageButton"); // cancelled
    EXPECT_FALSE(shown(*sheet, "decodedCard"));
    EXPECT_EQ(child<QComboBox>(*sheet, "shareSecurity")->currentText(), QStringLiteral("WPA/WPA2 Personal"));
}

TEST_F(WiFiOnboardingViewTest, AnImportShowsTheCardButNeverThePassword) {
    auto sheet = sheetShowingHome();
    EXPECT_EQ(text(*sheet, "cardNetwork"), QStringLiteral("Home;Net"));
    EXPECT_EQ(text(*sheet, "cardSecurity"), QStringLiteral("WPA/WPA2 Personal"));
    EXPECT_EQ(text(*sheet, "cardHidden"), QStringLiteral("No"));
    EXPECT_EQ(text(*sheet, "cardPassword"), QStringLiteral("••••••••"));
    EXPECT_EQ(text(*sheet, "statusLine"), QStringLiteral("QR decoded locally. Review the network before choosing Join."));
    click(*sheet, "copyPasswordButton");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("password1"));
    EXPECT_EQ(text(*sheet, "statusLine"), QStringLiteral("Password copied. Clear the clipboard when you are finished."));

    canStartSettings = false;
    click(*sheet, "openSettingsButton");
    EXPECT_EQ(text(*sheet, "statusLine"),
              QStringLiteral("Wi-Fi Settings could not be opened. Open the desktop's Wi-Fi settings manually."));
}

TEST_F(WiFiOnboardingViewTest, PasteReadsTheClipboardAndAFailedPasteClearsTheNetwork) {
    auto sheet = makeSheet();
    putOnClipboard(test::encoded(test::qrencodeImage("WIFI:T:nopass;S:Cafe;;"), "png"));
    click(*sheet, "pasteImageButton");
    EXPECT_EQ(text(*sheet, "cardNetwork"), QStringLiteral("Cafe"));
    EXPECT_EQ(text(*sheet, "cardPassword"), QStringLiteral("None"));
    EXPECT_FALSE(shown(*sheet, "copyPasswordButton"));

    putOnClipboard(test::pngHeaderOnly(60000, 60000));
    click(*sheet, "pasteImageButton");
    EXPECT_FALSE(shown(*sheet, "decodedCard"));
    EXPECT_EQ(text(*sheet, "statusLine"), QStringLiteral("The clipboard image is too large or could not be read."));
}

TEST_F(WiFiOnboardingViewTest, TheWindowsRuleAndTheGateHoldTheJoinBack) {
    auto sheet = sheetShowingHome(false);
    EXPECT_FALSE(enabled(*sheet, "joinButton"));
    EXPECT_FALSE(enabled(*sheet, "openSettingsButton"));
    EXPECT_EQ(text(*sheet, "blockedReason"), kReason);
    EXPECT_TRUE(shown(*sheet, "blockedReason"));
    EXPECT_TRUE(enabled(*sheet, "pasteImageButton"));
    EXPECT_TRUE(enabled(*sheet, "copyPasswordButton"));

    sheet->setChangeRule(true, QStringLiteral("Wi-Fi changes are temporarily unavailable."));
    EXPECT_TRUE(enabled(*sheet, "joinButton"));
    EXPECT_FALSE(shown(*sheet, "blockedReason"));

    gate->update(false);
    confirmJoin(*sheet);
    EXPECT_EQ(text(*sheet, "statusLine"), QStringLiteral("Wi-Fi changes are temporarily unavailable."));
    EXPECT_EQ(backend->scans, 0);
}

TEST_F(WiFiOnboardingViewTest, AConfirmedJoinRunsAndTheNewestSentenceWins) {
    auto sheet = sheetShowingHome();
    auto release = holdTheScan();
    confirmJoin(*sheet);
    EXPECT_EQ(child<QMessageBox>(*sheet, "joinConfirmation")->text(), QStringLiteral("Join Home;Net?"));
    EXPECT_FALSE(enabled(*sheet, "joinButton"));
    EXPECT_TRUE(shown(*sheet, "joinProgress"));
    EXPECT_EQ(text(*sheet, "statusLine"), QStringLiteral("Asking NetworkManager to find and join Home;Net…"));
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->joiner().isWorking(); }));
    EXPECT_EQ(text(*sheet, "statusLine"),
              QStringLiteral("Joined Home;Net. NetworkManager now controls this Wi-Fi connection."));
    EXPECT_TRUE(enabled(*sheet, "joinButton"));
    EXPECT_FALSE(shown(*sheet, "joinProgress"));

    putOnClipboard(QByteArray("not an image"));
    click(*sheet, "pasteImageButton");
    EXPECT_EQ(text(*sheet, "statusLine"), QStringLiteral("The clipboard image is too large or could not be read."));
}

TEST_F(WiFiOnboardingViewTest, ClosingDuringAJoinKeepsTheNetworkUnchanged) {
    auto sheet = sheetShowingHome();
    auto release = holdTheScan();
    confirmJoin(*sheet);
    click(*sheet, "doneButton");
    EXPECT_FALSE(sheet->isVisible());
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->joiner().isWorking(); }));
    EXPECT_EQ(backend->associations, 0);
}

TEST_F(WiFiOnboardingViewTest, TheSharePanelWithdrawsItsQRAfterAnyEdit) {
    auto sheet = makeSheet();
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    auto* name = child<QLineEdit>(*sheet, "shareNetworkName");
    auto* password = child<QLineEdit>(*sheet, "sharePassword");
    auto* confirmed = child<QCheckBox>(*sheet, "shareConfirmed");
    EXPECT_EQ(text(*sheet, "sharePlaceholderDetail"),
              QStringLiteral("Enter the actual network name, security, and password, then confirm them."));
    name->setText(QStringLiteral("Studio"));
    password->setText(QStringLiteral("passwd7"));
    confirmed->setChecked(true);
    EXPECT_EQ(text(*sheet, "sharePlaceholderDetail"),
              QStringLiteral("Check the network name and password. Personal passwords must be 8–63 printable ASCII "
                             "characters."));
    password->setText(QStringLiteral("password8"));
    EXPECT_FALSE(confirmed->isChecked());
    confirmed->setChecked(true);
    ASSERT_TRUE(shown(*sheet, "shareQRImage"));
    EXPECT_EQ(text(*sheet, "shareQRName"), QStringLiteral("Studio"));

    click(*sheet, "copyQRButton");
    EXPECT_EQ(text(*sheet, "shareMessage"), QStringLiteral("QR image copied."));
    EXPECT_EQ(WiFiQRCodeImage::decode(*QGuiApplication::clipboard()->mimeData()),
              (WiFiNetworkDetails{"Studio", WiFiNetworkDetails::Security::wpa, "password8", false}));

    child<QCheckBox>(*sheet, "shareHidden")->setChecked(true);
    EXPECT_FALSE(confirmed->isChecked());
    EXPECT_FALSE(shown(*sheet, "shareQRImage"));
    EXPECT_FALSE(shown(*sheet, "shareMessage"));

    auto* security = child<QComboBox>(*sheet, "shareSecurity");
    security->setCurrentIndex(2); // open
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_FALSE(password->isVisible());
    security->setCurrentIndex(0);
    EXPECT_TRUE(password->isVisible());
}

// Review material, not a check: the sheet in its main states.
TEST_F(WiFiOnboardingViewTest, SavesScreenshotsForReview) {
    const QString folder = QStringLiteral(VELK_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    auto sheet = makeSheet(false);
    sheet->grab().save(folder + "/wifi_join_empty.png");
    sheet = sheetShowingHome(false);
    QCoreApplication::processEvents();
    sheet->grab().save(folder + "/wifi_join_card_blocked.png");
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    child<QLineEdit>(*sheet, "shareNetworkName")->setText(QStringLiteral("Studio Hotspot"));
    child<QLineEdit>(*sheet, "sharePassword")->setText(QStringLiteral("password8"));
    child<QCheckBox>(*sheet, "shareConfirmed")->setChecked(true);
    click(*sheet, "copyQRButton");
    QCoreApplication::processEvents();
    EXPECT_TRUE(sheet->grab().save(folder + "/wifi_share_qr.png"));
}

} // namespace
} // namespace velk
