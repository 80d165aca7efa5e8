#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <future>

#include <gtest/gtest.h>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/symbols.hpp"
#include "app/theme.hpp"
#include "wifi/ui/wifi_onboarding_presenter.hpp"
#include "wifi/ui/wifi_onboarding_view.hpp"
#include "wifi/wifi_qr_codec.hpp"
#include "wifi/wifi_image_fixtures.hpp"
#include "wifi/wifi_join_coordinator.hpp"
#include "wifi/wifi_qr_code_image.hpp"
#include "support/accessibility_audit.hpp"
#include "support/atspi_events.hpp"
#include "support/widgets.hpp"
#include "wifi/wifi_test_support.hpp"

inline void PrintTo(const QString& value, std::ostream* out) { *out << '"' << value.toStdString() << '"'; }

namespace velk {
namespace {

using test::child;
using test::click;
using test::labelText;
using test::shown;

const QString kReason = QStringLiteral("Stop recording on all online cameras before changing Wi-Fi.");
const std::string kHomeText = "WIFI:T:WPA;S:Home\\;Net;P:password1;H:false;;";

class WiFiOnboardingViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensureApplication<QApplication>();
        Symbols::installIconTheme();
        gate->update(true);
        backend->scanResult = std::vector{test::network("Home;Net", {WifiSecurity::wpa2Personal}, 60, "ap")};
    }

    // A sheet whose file chooser answers with `chosenFile` (none: the user cancels). Unless told
    // otherwise, its settings programs open when `canStartSettings` says so.
    std::unique_ptr<WiFiOnboardingView> makeSheet(bool changeAllowed = true, bool realPrograms = false) {
        WiFiOnboardingPlatform platform;
        platform.joiner = std::make_shared<WiFiJoinCoordinator>(backend);
        platform.chooseImage = [this](QWidget*, std::function<void(const QString&)> chosen) {
            if (chosenFile) chosen(*chosenFile);
        };
        if (!realPrograms) {
            platform.startProgram = [this](const QString&, const QStringList&, std::function<void(bool)> done) {
                done(canStartSettings);
            };
        }
        auto sheet = std::make_unique<WiFiOnboardingView>(changeAllowed, kReason, gate, std::move(platform));
        sheet->show();
        return sheet;
    }

    std::unique_ptr<WiFiOnboardingView> sheetShowingHome(bool changeAllowed = true, bool realPrograms = false) {
        chosenFile = dir.filePath(QStringLiteral("code.png"));
        test::qrencodeImage(kHomeText, 3).save(*chosenFile, "PNG");
        auto sheet = makeSheet(changeAllowed, realPrograms);
        click(*sheet, "chooseImageButton");
        return sheet;
    }

    static void putOnClipboard(const QByteArray& png) {
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("image/png"), png);
        QGuiApplication::clipboard()->setMimeData(mime);
    }

    static bool enabled(QWidget& sheet, const char* name) { return child(sheet, name)->isEnabled(); }

    static void confirmJoin(QWidget& sheet) {
        click(sheet, "joinButton");
        auto* confirmation = child<QMessageBox>(sheet, "joinConfirmation");
        ASSERT_TRUE(confirmation->isVisible());
        EXPECT_EQ(confirmation->windowModality(), Qt::WindowModal);
        click(*confirmation, "confirmJoinButton");
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
    EXPECT_EQ(labelText(*sheet, "joinPlaceholderTitle"), QStringLiteral("No Wi-Fi QR Loaded"));
    EXPECT_TRUE(shown(*sheet, "joinPlaceholderTitle"));
    EXPECT_FALSE(shown(*sheet, "statusLine"));
    click(*sheet, "chooseImageButton"); // cancelled
    EXPECT_FALSE(shown(*sheet, "decodedCard"));
    EXPECT_EQ(child<QComboBox>(*sheet, "shareSecurity")->currentText(), QStringLiteral("WPA/WPA2 Personal"));
}

// The real panel: the image whose path is typed is read.
TEST_F(WiFiOnboardingViewTest, TheImagePanelReadsATypedImage) {
    test::qrencodeImage(kHomeText, 3).save(dir.filePath(QStringLiteral("code.png")), "PNG");
    test::qrencodeImage("WIFI:T:nopass;S:Other;;", 3).save(dir.filePath(QStringLiteral("other.png")), "PNG");
    WiFiOnboardingPlatform platform;
    platform.joiner = std::make_shared<WiFiJoinCoordinator>(backend);
    WiFiOnboardingView sheet(true, kReason, gate, std::move(platform));
    sheet.show();
    click(sheet, "chooseImageButton");
    auto* panel = sheet.findChild<QFileDialog*>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("Choose Wi-Fi QR Image"));
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    panel->setDirectory(dir.path());
    auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    QApplication::setActiveWindow(panel);
    field->setFocus();
    ASSERT_TRUE(field->hasFocus());
    QTest::keyClicks(field, dir.filePath(QStringLiteral("code.png")));
    QTest::qWait(100); // the panel's file model answers on its own thread
    if (field->completer() && field->completer()->popup()->isVisible()) field->completer()->popup()->hide();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(labelText(sheet, "cardNetwork"), QStringLiteral("Home;Net"));
}

TEST_F(WiFiOnboardingViewTest, AnImportShowsTheCardButNeverThePassword) {
    auto sheet = sheetShowingHome();
    EXPECT_EQ(labelText(*sheet, "cardNetwork"), QStringLiteral("Home;Net"));
    EXPECT_EQ(labelText(*sheet, "cardSecurity"), QStringLiteral("WPA/WPA2 Personal"));
    EXPECT_EQ(labelText(*sheet, "cardHidden"), QStringLiteral("No"));
    EXPECT_EQ(labelText(*sheet, "cardPassword"), QStringLiteral("••••••••"));
    EXPECT_EQ(labelText(*sheet, "statusLine"), QStringLiteral("QR decoded locally. Review the network before choosing Join."));
    click(*sheet, "copyPasswordButton");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("password1"));
    EXPECT_EQ(labelText(*sheet, "statusLine"), QStringLiteral("Password copied. Clear the clipboard when you are finished."));

    canStartSettings = false;
    click(*sheet, "openSettingsButton");
    EXPECT_EQ(labelText(*sheet, "statusLine"),
              QStringLiteral("Wi-Fi Settings could not be opened. Open the desktop's Wi-Fi settings manually."));
}

TEST_F(WiFiOnboardingViewTest, PasteReadsTheClipboardAndAFailedPasteClearsTheNetwork) {
    auto sheet = makeSheet();
    putOnClipboard(test::encoded(test::qrencodeImage("WIFI:T:nopass;S:Cafe;;"), "png"));
    click(*sheet, "pasteImageButton");
    EXPECT_EQ(labelText(*sheet, "cardNetwork"), QStringLiteral("Cafe"));
    EXPECT_EQ(labelText(*sheet, "cardPassword"), QStringLiteral("None"));
    EXPECT_FALSE(shown(*sheet, "copyPasswordButton"));

    putOnClipboard(test::pngHeaderOnly(60000, 60000));
    click(*sheet, "pasteImageButton");
    EXPECT_FALSE(shown(*sheet, "decodedCard"));
    EXPECT_EQ(labelText(*sheet, "statusLine"), QStringLiteral("The clipboard image is too large or could not be read."));
}

TEST_F(WiFiOnboardingViewTest, TheWindowsRuleAndTheGateHoldTheJoinBack) {
    auto sheet = sheetShowingHome(false);
    EXPECT_FALSE(enabled(*sheet, "joinButton"));
    EXPECT_FALSE(enabled(*sheet, "openSettingsButton"));
    EXPECT_EQ(labelText(*sheet, "blockedReason"), kReason);
    EXPECT_TRUE(shown(*sheet, "blockedReason"));
    EXPECT_TRUE(enabled(*sheet, "pasteImageButton"));
    EXPECT_TRUE(enabled(*sheet, "copyPasswordButton"));

    sheet->setChangeRule(true, QStringLiteral("Wi-Fi changes are temporarily unavailable."));
    EXPECT_TRUE(enabled(*sheet, "joinButton"));
    EXPECT_FALSE(shown(*sheet, "blockedReason"));

    gate->update(false);
    confirmJoin(*sheet);
    EXPECT_EQ(labelText(*sheet, "statusLine"), QStringLiteral("Wi-Fi changes are temporarily unavailable."));
    EXPECT_EQ(backend->scans, 0);
}

TEST_F(WiFiOnboardingViewTest, AConfirmedJoinRunsAndTheNewestSentenceWins) {
    auto sheet = sheetShowingHome();
    auto release = backend->holdScan();
    confirmJoin(*sheet);
    EXPECT_EQ(child<QMessageBox>(*sheet, "joinConfirmation")->text(), QStringLiteral("Join Home;Net?"));
    EXPECT_FALSE(enabled(*sheet, "joinButton"));
    EXPECT_TRUE(shown(*sheet, "joinProgress"));
    EXPECT_EQ(labelText(*sheet, "statusLine"), QStringLiteral("Asking NetworkManager to find and join Home;Net…"));
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->joiner().isWorking(); }));
    EXPECT_EQ(labelText(*sheet, "statusLine"),
              QStringLiteral("Joined Home;Net. NetworkManager now controls this Wi-Fi connection."));
    EXPECT_TRUE(enabled(*sheet, "joinButton"));
    EXPECT_FALSE(shown(*sheet, "joinProgress"));

    putOnClipboard(QByteArray("not an image"));
    click(*sheet, "pasteImageButton");
    EXPECT_EQ(labelText(*sheet, "statusLine"), QStringLiteral("The clipboard image is too large or could not be read."));
}

TEST_F(WiFiOnboardingViewTest, ClosingDuringAJoinKeepsTheNetworkUnchanged) {
    auto sheet = sheetShowingHome();
    auto release = backend->holdScan();
    confirmJoin(*sheet);
    click(*sheet, "doneButton");
    EXPECT_FALSE(sheet->isVisible());
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->joiner().isWorking(); }));
    EXPECT_EQ(backend->associations, 0);
}

TEST_F(WiFiOnboardingViewTest, MinimisingDuringAJoinLetsItFinish) {
    auto sheet = sheetShowingHome();
    auto release = backend->holdScan();
    confirmJoin(*sheet);
    // Minimising hides the sheet with its window, as the desktop does; the join goes on.
    sheet->showMinimized();
    ASSERT_TRUE(sheet->isMinimized());
    sheet->showNormal();
    release.set_value();
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->joiner().isWorking(); }));
    EXPECT_EQ(backend->associations, 1);
    EXPECT_EQ(labelText(*sheet, "statusLine"),
              QStringLiteral("Joined Home;Net. NetworkManager now controls this Wi-Fi connection."));
}

TEST_F(WiFiOnboardingViewTest, ClosingAsTheJoinEndsKeepsTheCoordinatorUntilItsResultIsIn) {
    chosenFile = dir.filePath(QStringLiteral("code.png"));
    test::qrencodeImage(kHomeText, 3).save(*chosenFile, "PNG");
    for (int round = 0; round < 200; ++round) {
        std::promise<void> associating, complete;
        backend->duringAssociate = [&, done = complete.get_future().share()] {
            associating.set_value();
            done.wait();
        };
        auto sheet = makeSheet();
        click(*sheet, "chooseImageButton");
        confirmJoin(*sheet);
        ASSERT_EQ(associating.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

        bool published = false, gone = false, publishedFirst = false;
        WiFiJoinCoordinator* joiner = &sheet->joiner();
        QObject::connect(joiner, &WiFiJoinCoordinator::isWorkingChanged, [&](bool working) { published = !working; });
        QObject::connect(joiner, &QObject::destroyed, [&] { gone = true, publishedFirst = published; });
        complete.set_value(); // the system has joined, and at this moment
        click(*sheet, "doneButton");
        sheet.reset(); // the sheet closes and goes
        ASSERT_TRUE(test::waitUntil([&] { return gone; })) << round;
        ASSERT_TRUE(publishedFirst) << round;
    }
    backend->duringAssociate = nullptr;
    EXPECT_EQ(backend->associations, 200);
}

TEST_F(WiFiOnboardingViewTest, NamesAndSentencesFromDataAreDrawnAsPlainText) {
    const std::string name = "<u>Stage</u><br>Left"; // 20 bytes: a network name may hold it
    const WiFiNetworkDetails details{name, WiFiNetworkDetails::Security::wpa, "password1", false};
    chosenFile = dir.filePath(QStringLiteral("markup.png"));
    test::qrencodeImage(WiFiQRCodec::encode(details), 3).save(*chosenFile, "PNG");
    backend->scanResult = std::vector{test::network(name, {WifiSecurity::wpa2Personal}, 60, "ap")};
    auto sheet = makeSheet();
    click(*sheet, "chooseImageButton");

    const QString shown = QString::fromStdString(name);
    const auto drawnVerbatim = [&](const char* objectName, const QString& text) {
        auto* label = child<QLabel>(*sheet, objectName);
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << objectName;
        EXPECT_EQ(label->text(), text) << objectName;
    };
    drawnVerbatim("cardNetwork", shown);
    auto* network = child<QLabel>(*sheet, "cardNetwork");
    EXPECT_NEAR(network->sizeHint().width(), network->fontMetrics().horizontalAdvance(shown), 1);

    click(*sheet, "joinButton");
    auto* confirmation = child<QMessageBox>(*sheet, "joinConfirmation");
    EXPECT_EQ(confirmation->textFormat(), Qt::PlainText);
    EXPECT_EQ(confirmation->text(), "Join " + shown + "?");
    click(*confirmation, "confirmJoinButton");
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->joiner().isWorking(); }));
    drawnVerbatim("statusLine", "Joined " + shown + ". NetworkManager now controls this Wi-Fi connection.");
    test::saveScreenshot(*sheet, "wifi_join_markup_name.png");

    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    child<QLineEdit>(*sheet, "shareNetworkName")->setText(shown);
    child<QLineEdit>(*sheet, "sharePassword")->setText(QStringLiteral("password8"));
    child<QCheckBox>(*sheet, "shareConfirmed")->setChecked(true);
    drawnVerbatim("shareQRName", shown);
    for (QLabel* label : sheet->findChildren<QLabel*>()) {
        if (label->text().contains(shown)) EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
}

TEST_F(WiFiOnboardingViewTest, TheTabsAndEmptyStatesShowTheQRSymbols) {
    auto sheet = makeSheet();
    auto* tabs = sheet->findChild<QTabWidget*>();
    if (!Symbols::isThemed("qrcode")) GTEST_SKIP() << "the Breeze icon theme is not installed";
    EXPECT_EQ(tabs->tabIcon(0).name(), QStringLiteral("view-barcode-qr"));
    EXPECT_EQ(tabs->tabIcon(1).name(), QStringLiteral("view-barcode-qr"));
    const auto symbolOf = [&](const char* name) { return child<QLabel>(*sheet, name)->pixmap().toImage(); };
    const QColor dim = Theme::secondary(sheet->palette());
    const auto drawn = [&](std::string_view symbol) {
        return Symbols::icon(symbol, dim).pixmap(QSize(36, 36), qApp->devicePixelRatio()).toImage();
    };
    EXPECT_EQ(symbolOf("joinPlaceholderSymbol"), drawn("qrcode.viewfinder"));
    EXPECT_EQ(symbolOf("sharePlaceholderSymbol"), drawn("qrcode"));
}

// As a screen reader meets the sheet, with the application's accessible objects: the tab container
// is named and leaves the focus to its tab bar, and each page is spoken by its tab's name.
// What the application tells assistive tools, in order, heard behind its own update handler as the
// platform would hear it. Qt tells them only while a screen reader listens: ctest runs the case so
// as well, on a virtual display.
class ToldEvents {
public:
    ToldEvents() {
        heard().clear();
        QAccessible::installUpdateHandler(&ToldEvents::hear);
        Accessibility::install(); // in front of the hearing
    }
    ~ToldEvents() {
        QAccessible::installUpdateHandler(nullptr);
        Accessibility::install();
    }
    void clear() { heard().clear(); }
    // The focus and text events told of `object`, in order: "Focus TextSelectionChanged ...".
    std::string focusAndTextOf(const QObject* object) const {
        const std::pair<QAccessible::Event, const char*> names[] = {
            {QAccessible::Focus, "Focus"}, {QAccessible::TextSelectionChanged, "TextSelectionChanged"},
            {QAccessible::TextCaretMoved, "TextCaretMoved"}, {QAccessible::TextUpdated, "TextUpdated"},
            {QAccessible::TextInserted, "TextInserted"}, {QAccessible::TextRemoved, "TextRemoved"}};
        std::string told;
        for (const auto& [about, type] : heard()) {
            if (about != object) continue;
            for (const auto& [kind, name] : names)
                if (type == kind) told += (told.empty() ? "" : " ") + std::string(name);
        }
        return told;
    }

private:
    static std::vector<std::pair<QPointer<QObject>, QAccessible::Event>>& heard() {
        static std::vector<std::pair<QPointer<QObject>, QAccessible::Event>> events;
        return events;
    }
    static void hear(QAccessibleEvent* event) { heard().emplace_back(event->object(), event->type()); }
};

TEST_F(WiFiOnboardingViewTest, TheTabsAndPagesAreNamedAndOnlyTheFocusReportsFocus) {
    Accessibility::install();
    ToldEvents told;
    auto sheet = makeSheet();
    ASSERT_TRUE(test::activate(*sheet));
    auto* tabs = sheet->findChild<QTabWidget*>();
    EXPECT_EQ(test::accessibleName(tabs).toStdString(), "Wi-Fi QR");
    const struct {
        int tab;
        std::function<QWidget*()> focus;
        std::string spokenAncestors;
        std::vector<std::string> focusReporters;
        bool tabbedInto = false; // Tab from the stop before brings the focus, else it is given
    } cases[] = {
        {0, [&] { return static_cast<QWidget*>(tabs->tabBar()); }, "",
         {"QTabBar \"Wi-Fi QR\" #qt_tabwidget_tabbar", "item \"Join from QR\" of QTabBar \"Wi-Fi QR\" #qt_tabwidget_tabbar"}},
        {0, [&] { return child(*sheet, "chooseImageButton"); }, "panel Join from QR",
         {"QPushButton \"Choose QR Image\u2026\" #chooseImageButton"}},
        // Tab into an empty field: its focus is told before its selection and caret.
        {1, [&] { return child(*sheet, "shareNetworkName"); }, "panel Show QR", {}, true},
        {1, [&] { return child(*sheet, "sharePassword"); }, "panel Show QR", {}, true},
    };
    for (const auto& c : cases) {
        told.clear();
        tabs->setCurrentIndex(c.tab);
        QWidget* focus = c.focus();
        Keyboard::choose(*focus);
        if (c.tabbedInto) { // a screen reader's bridge may deliver the keys later
            QTest::keyClick(focus, Qt::Key_Tab, Qt::ShiftModifier);
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != focus; }, 20'000));
            told.clear();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == focus; }, 20'000));
        }
        QCoreApplication::processEvents();
        ASSERT_EQ(QApplication::focusWidget(), focus) << c.spokenAncestors;
        if (QAccessible::isActive()) EXPECT_EQ(told.focusAndTextOf(focus), "Focus") << focus->objectName().toStdString();
        EXPECT_EQ(test::spokenAncestors(focus).join(QStringLiteral(" / ")).toStdString(), c.spokenAncestors);
        if (!c.focusReporters.empty()) EXPECT_EQ(test::focusReporters(*sheet), c.focusReporters);
        else EXPECT_EQ(test::focusReporters(*sheet).size(), 1u) << c.spokenAncestors;
    }
}

// As a screen reader hears it: the password field is a password field that tells no typed character.
TEST_F(WiFiOnboardingViewTest, ThePasswordTellsNoTypedCharacter) {
    if (const auto why = test::outsideAScreenReadersSession()) GTEST_SKIP() << *why;
    Accessibility::install();
    test::AtspiEventCounter onBus;
    ASSERT_TRUE(onBus.listening());
    auto sheet = makeSheet();
    ASSERT_TRUE(test::activate(*sheet));
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    auto* password = child<QLineEdit>(*sheet, "sharePassword");
    Keyboard::choose(*password);
    ASSERT_TRUE(onBus.told());
    QTest::keyClicks(password, "secret12");
    QTest::keyClick(password, Qt::Key_Backspace);
    // The screen reader's bridge hands the keys on once its listener has let them pass.
    ASSERT_TRUE(test::waitUntil([&] { return password->text() == "secret1"; }, 20'000));
    // Each keystroke is told a gap after the one before.
    std::vector<std::string> told;
    test::waitUntil([&] {
        if (const std::optional<std::vector<std::string>> more = onBus.told()) told.insert(told.end(), more->begin(), more->end());
        return told.size() >= 9;
    }, 30'000);
    EXPECT_EQ(told.size(), 9u);
    std::string heard; // every text told, without its "insert " or "delete "
    for (const std::string& text : told) heard += text.substr(7);
    EXPECT_EQ(heard.find_first_of("secrt12"), std::string::npos) << heard;
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(password);
    EXPECT_EQ(field->role(), QAccessible::EditableText); // with the password state: AT-SPI's password text
    EXPECT_TRUE(field->state().passwordEdit);
}

// Stand-ins for the desktop's settings programs, first on PATH while the test runs.
class SettingsPrograms {
public:
    SettingsPrograms() : m_path(qgetenv("PATH")) {
        qputenv("PATH", m_bin.path().toLocal8Bit() + ":" + m_path);
    }
    ~SettingsPrograms() { qputenv("PATH", m_path); }

    // `body` runs after the program has noted its start in the log.
    void add(const QString& program, const QString& body) {
        QFile script(m_bin.filePath(program));
        script.open(QIODevice::WriteOnly);
        script.write(QStringLiteral("#!/bin/sh\necho \"%1 $*\" >> '%2'\n%3\n")
                         .arg(program, m_bin.filePath(QStringLiteral("log")), body)
                         .toLocal8Bit());
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QStringList started() const {
        QFile log(m_bin.filePath(QStringLiteral("log")));
        if (!log.open(QIODevice::ReadOnly)) return {};
        return QString::fromLocal8Bit(log.readAll()).split('\n', Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_bin;
    QByteArray m_path;
};

TEST_F(WiFiOnboardingViewTest, ASettingsProgramThatEndsWithAnErrorHasNotOpened) {
    const QString failed = QStringLiteral("Wi-Fi Settings could not be opened. Open the desktop's Wi-Fi settings manually.");
    SettingsPrograms programs;
    programs.add(QStringLiteral("gnome-control-center"), QStringLiteral("exit 1")); // outside its desktop
    programs.add(QStringLiteral("nm-connection-editor"), QStringLiteral("exit 2"));
    auto sheet = sheetShowingHome(true, true);
    click(*sheet, "openSettingsButton");
    ASSERT_TRUE(test::waitUntil([&] { return labelText(*sheet, "statusLine") == failed; }));
    EXPECT_EQ(programs.started(), (QStringList{"gnome-control-center wifi", "nm-connection-editor "}));
}

TEST_F(WiFiOnboardingViewTest, TheSharePanelWithdrawsItsQRAfterAnyEdit) {
    auto sheet = makeSheet();
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    auto* name = child<QLineEdit>(*sheet, "shareNetworkName");
    auto* password = child<QLineEdit>(*sheet, "sharePassword");
    auto* confirmed = child<QCheckBox>(*sheet, "shareConfirmed");
    EXPECT_EQ(labelText(*sheet, "sharePlaceholderDetail"),
              QStringLiteral("Enter the actual network name, security, and password, then confirm them."));
    name->setText(QStringLiteral("Studio"));
    password->setText(QStringLiteral("passwd7"));
    confirmed->setChecked(true);
    EXPECT_EQ(labelText(*sheet, "sharePlaceholderDetail"),
              QStringLiteral("Check the network name and password. Personal passwords must be 8–63 printable ASCII "
                             "characters."));
    password->setText(QStringLiteral("password8"));
    EXPECT_FALSE(confirmed->isChecked());
    confirmed->setChecked(true);
    ASSERT_TRUE(shown(*sheet, "shareQRImage"));
    EXPECT_EQ(labelText(*sheet, "shareQRName"), QStringLiteral("Studio"));

    click(*sheet, "copyQRButton");
    EXPECT_EQ(labelText(*sheet, "shareMessage"), QStringLiteral("QR image copied."));
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
    auto sheet = makeSheet(false);
    test::saveScreenshot(*sheet, "wifi_join_empty.png");
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    test::saveScreenshot(*sheet, "wifi_share_empty.png");
    sheet = sheetShowingHome(false);
    test::saveScreenshot(*sheet, "wifi_join_card_blocked.png");
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    child<QLineEdit>(*sheet, "shareNetworkName")->setText(QStringLiteral("Studio Hotspot"));
    child<QLineEdit>(*sheet, "sharePassword")->setText(QStringLiteral("password8"));
    child<QCheckBox>(*sheet, "shareConfirmed")->setChecked(true);
    click(*sheet, "copyQRButton");
    EXPECT_TRUE(test::saveScreenshot(*sheet, "wifi_share_qr.png"));
}

} // namespace
} // namespace velk
