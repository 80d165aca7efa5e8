// The Library window and every sheet it opens, as a keyboard user and a screen reader meet them:
// the shared audit (Tab reaches every enabled control, names say what a control is, only the
// focused object reports focus), the Tab order of each in reading order, and a keyboard-only road
// from a project to a downloaded and exported take.

#include <QAbstractButton>
#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/settings_window.hpp"
#include "app/window_modal.hpp"
#include "library_window/collect_sheet.hpp"
#include "library_window/dashboard_view.hpp"
#include "library_window/project_name_sheet.hpp"
#include "library_window/take_list_view.hpp"
#include "library_window_fixture.hpp"
#include "store/store_fixture.hpp"
#include "support/accessibility_audit.hpp"
#include "support/control_contrast.hpp"
#include "support/widgets.hpp"
#include "wifi/ui/wifi_onboarding_view.hpp"
#include "wifi/wifi_qr_code_image.hpp"
#include "wifi/wifi_qr_codec.hpp"

namespace velk::testing {
namespace {

using library::CollectSheet;
using library::LibraryDashboardTab;
using test::accessibleName;
using test::accessibleNames;
using test::auditAccessibility;
using test::pressKey;

// Take 1 has one clip still on its phone, take 2 one already here.
VELKLibrary downloadableLibrary() {
    VELKClip onPhone{.id = "c1", .cameraId = "cam-a", .fileName = "a.mov", .deviceId = phoneID};
    VELKClip here{.id = "c2", .cameraId = "cam-b", .fileName = "b.mov", .localPath = "/v/b.mov", .deviceId = phoneID};
    VELKTake take1{.id = "take-1", .clips = {onPhone, here}};
    VELKTake take2{.id = "take-2", .clips = {onPhone}};
    return VELKLibrary{{{"p1", "Interview B-Roll", 1, {take1, take2}}, {"p2", "Wedding", 1, {}}}};
}

// A project whose one clip is on this computer and still on its phone: its sources can go to the trash.
VELKLibrary trashableLibrary() {
    VELKClip copied{.id = "c1", .cameraId = "cam-a", .fileName = "a.mov", .localPath = "/v/a.mov", .deviceId = phoneID};
    return VELKLibrary{{{"p1", "Harbour", 1, {VELKTake{.id = "t1", .clips = {copied}}}}}};
}

class LibraryAccessibilityTest : public LibraryWindowTest {
protected:
    void SetUp() override {
        Theme::apply(application());
        LibraryWindowTest::SetUp();
    }

    // A window with a project whose take can be downloaded, transfers and an activity log.
    void fill() {
        store.setLibrary(downloadableLibrary());
        store.setTransferClient(phoneID, offlineClient(phoneID, clock));
        store.setTransfers({{"t1", "a.mov", TransferPhase::downloading, 10, 100, ""}});
        store.log("Imported take-1.");
    }

    // The Tab order from `first` once round, as the audit walked it.
    static QString orderFrom(const test::AccessibilityAuditResult& result, const QString& first, qsizetype count = -1) {
        QStringList names = accessibleNames(result.tabOrder);
        const qsizetype at = names.indexOf(first);
        if (at >= 0) names = names.mid(at) + names.mid(0, at);
        return names.mid(0, count).join(" | ");
    }

    // Presses Tab (or Shift+Tab) until `wanted` has the focus; false when it never gets it.
    static bool tabTo(QWidget* wanted, bool backwards = false) {
        for (int i = 0; i < 40 && QApplication::focusWidget() != wanted; ++i) {
            backwards ? pressKey(Qt::Key_Backtab, Qt::ShiftModifier) : pressKey(Qt::Key_Tab);
        }
        return QApplication::focusWidget() == wanted;
    }

    QWidget* toolButton(QAction* action) {
        return window->findChild<QToolBar*>(QStringLiteral("libraryToolbar"))->widgetForAction(action);
    }
};

const QStringList sidebarAndTakes{"Search projects", "Projects", "New", "Rename", "Collect", "Wi-Fi QR", "Director",
                                  "Takes",           "Take view"};

TEST_F(LibraryAccessibilityTest, LibraryWindowPassesTheAuditInReadingOrderOnEveryTab) {
    fill();
    store.setSelectedProjectID("p1");
    const QStringList toolbar{"Director", "Import Manifest", "Download Take", "Project actions", "Export for Resolve"};
    const std::vector<std::pair<LibraryDashboardTab, QStringList>> tabs{
        {LibraryDashboardTab::overview,
         {"Project identity: Ready", "Camera recordings: Ready", "Verified downloads: Pending", "Reference camera: Pending",
          "Timing anchors: Pending"}},
        {LibraryDashboardTab::media,
         {"cam-a, a.mov, On device, 0 anchors, not the reference", "Use as reference",
          "cam-b, b.mov, Verified on computer, 0 anchors, not the reference", "Use as reference", "Transfers"}},
        {LibraryDashboardTab::activity, {"Recent activity"}},
    };
    for (const auto& [tab, content] : tabs) {
        window->dashboard()->setTab(tab);
        settle();
        const auto result = auditAccessibility(*window);
        EXPECT_TRUE(result.ok()) << "tab " << static_cast<int>(tab) << "\n" << result.report();
        EXPECT_EQ(orderFrom(result, "Search projects"), (sidebarAndTakes + content + toolbar).join(" | "));
    }
}

// Every Tab stop of the window, of each dashboard tab, of every sheet (Collect, New Project, Rename,
// Wi-Fi on both its tabs, the trash confirmation, the alert) and of Settings (also as it opens, with
// no key pressed yet) shows a focus mark that stands out by 3:1 at its edge, at scale 1 and 1.5.
TEST_F(LibraryAccessibilityTest, EveryTabStopShowsAFocusMarkThatStandsOut) {
    fill();
    store.setSelectedProjectID("p1");
    announce("Phone A", false, "aaaaaaaaaaaaaaaa");
    window->show();
    ASSERT_TRUE(test::activate(*window));
    QTest::keyClick(window.get(), Qt::Key_Tab); // the focus moves by keyboard
    for (const auto tab : {LibraryDashboardTab::overview, LibraryDashboardTab::media, LibraryDashboardTab::activity}) {
        window->dashboard()->setTab(tab);
        settle();
        test::expectFocusMarksStandOut(test::tabStops(*window), "the Library, tab " + std::to_string(static_cast<int>(tab)));
    }
    // Each shown with the keyboard, which then moves by Tab.
    const auto expectMarks = [&](QWidget& dialog, const std::string& where) {
        ASSERT_TRUE(test::activate(dialog)) << where;
        settle();
        QTest::keyClick(&dialog, Qt::Key_Tab);
        test::expectFocusMarksStandOut(test::tabStops(dialog), where);
    };
    for (const auto open : {&LibraryWindow::showCollect, &LibraryWindow::showNewProject, &LibraryWindow::showRenameProject}) {
        (window.get()->*open)();
        ASSERT_TRUE(window->sheet());
        expectMarks(*window->sheet(), window->sheet()->objectName().toStdString());
        window->sheet()->close();
        settle();
    }
    auto* wifi = new WiFiOnboardingView(true, {}, nullptr, window.get());
    wifi->setAttribute(Qt::WA_DeleteOnClose);
    openWindowModal(*wifi);
    for (const int tab : {0, 1}) {
        wifi->findChild<QTabWidget*>()->setCurrentIndex(tab);
        expectMarks(*wifi, "the Wi-Fi sheet, tab " + std::to_string(tab));
    }
    wifi->close();
    settle();
    store.setErrorMessage("Resolve export failed: disk full");
    ASSERT_TRUE(window->errorAlert());
    expectMarks(*window->errorAlert(), "the alert");
    window->errorAlert()->close();
    settle();
    store.setLibrary(trashableLibrary());
    store.setSelectedProjectID("p1");
    window->confirmSourceTrash();
    ASSERT_TRUE(window->sheet());
    expectMarks(*window->sheet(), "the trash confirmation");
    window->sheet()->close();
    settle();
    SettingsWindow settingsWindow(store);
    settingsWindow.show();
    // As it opens, before any key: the keyboard on its first line shows its mark there.
    ASSERT_TRUE(test::activate(settingsWindow));
    settle();
    ASSERT_FALSE(test::tabStops(settingsWindow).empty());
    EXPECT_EQ(QApplication::focusWidget(), test::tabStops(settingsWindow).front());
    test::expectFocusMarksStandOut(test::tabStops(settingsWindow), "Settings as it opens");
    expectMarks(settingsWindow, "Settings");
}

TEST_F(LibraryAccessibilityTest, ListsAndFieldsAreNamedAndOnlyTheFocusedListsRowReportsFocus) {
    fill();
    store.setSelectedProjectID("p1");
    window->show();
    ASSERT_TRUE(test::activate(*window));
    EXPECT_EQ(accessibleName(window->searchField()), "Search projects");
    EXPECT_EQ(accessibleName(window->projectList()), "Projects");
    EXPECT_EQ(accessibleName(window->takeList()->list()), "Takes");
    // A row is named by its title and described by its second line.
    QAccessibleInterface* projects = test::accessibleOf(window->projectList());
    EXPECT_EQ(projects->child(0)->text(QAccessible::Name), "Interview B-Roll");
    EXPECT_EQ(projects->child(0)->text(QAccessible::Description), "2 takes");
    QAccessibleInterface* takes = test::accessibleOf(window->takeList()->list());
    EXPECT_EQ(takes->child(1)->text(QAccessible::Name), "take-2");
    EXPECT_EQ(takes->child(1)->text(QAccessible::Description), "1 cameras  \u2022  30 fps");
    QAccessibleInterface* transfers = test::accessibleOf(window->dashboard()->findChild<QListView*>(QStringLiteral("transfers")));
    EXPECT_EQ(transfers->child(0)->text(QAccessible::Name), "a.mov");
    EXPECT_EQ(transfers->child(0)->text(QAccessible::Description), "Downloading");
    // A failed activity says so in words, not only by its red icon.
    store.log("Download failed for a.mov: Connection refused.", true);
    window->dashboard()->setTab(LibraryDashboardTab::activity);
    QAccessibleInterface* activities = test::accessibleOf(window->dashboard()->findChild<QListView*>(QStringLiteral("activities")));
    ASSERT_EQ(activities->childCount(), 2);
    EXPECT_EQ(activities->child(0)->text(QAccessible::Name), "Download failed for a.mov: Connection refused.");
    EXPECT_EQ(activities->child(0)->text(QAccessible::Description), "Failed");
    EXPECT_EQ(activities->child(1)->text(QAccessible::Description), "");
    window->dashboard()->setTab(LibraryDashboardTab::overview);
    // Both lists and the tab bar have a current item; none reports focus while the search field has it.
    Keyboard::choose(*window->searchField());
    EXPECT_TRUE(test::focusFindings(*window).empty());
    EXPECT_TRUE(projects->child(0)->state().selected);
    EXPECT_FALSE(projects->child(0)->state().focused);
    Keyboard::choose(*window->projectList());
    EXPECT_TRUE(projects->child(0)->state().focused);
    EXPECT_FALSE(takes->child(0)->state().focused);
    EXPECT_TRUE(test::focusFindings(*window).empty());
}

// Starting a Director session adds a take to the selected project and selects it, which rebuilds
// the Library's lists; while the Director window is active, none of their rows is announced, not
// even in the list that was the Library's focus when the Director window was raised.
TEST_F(LibraryAccessibilityTest, StartingADirectorSessionAnnouncesNoRowOfTheLibrary) {
    fill();
    store.setSelectedProjectID("p1");
    ASSERT_TRUE(test::activate(*window));
    Keyboard::choose(*window->projectList());
    QWidget director;
    auto* layout = new QVBoxLayout(&director);
    auto* recAll = new QPushButton(QStringLiteral("REC ALL"), &director);
    layout->addWidget(recAll);
    ASSERT_TRUE(test::activate(director));
    Keyboard::choose(*recAll);

    test::FocusEventRecorder recorder({window.get(), &director});
    Accessibility::install();
    ASSERT_TRUE(store.prepareDirectorTake("take-20261207-101500-ab12", std::nullopt));
    store.log("Started Director edit log take-20261207-101500-ab12.");
    settle();
    EXPECT_EQ(window->takeList()->list()->currentItem()->text(), "take-20261207-101500-ab12");
    EXPECT_EQ(QApplication::focusWidget(), recAll);
    EXPECT_TRUE(recorder.findings.empty()) << recorder.findings.front();
    director.hide();
}

// The search field's clear button, shown once the field holds text, says what it does. (Tab does
// not reach it: Escape or select-all clears the field from the keyboard.)
TEST_F(LibraryAccessibilityTest, TheSearchFieldsClearButtonIsNamed) {
    fill();
    ASSERT_TRUE(test::activate(*window));
    QLineEdit* search = window->searchField();
    Keyboard::choose(*search);
    QTest::keyClicks(search, QStringLiteral("inter"));
    settle();
    QToolButton* clear = nullptr;
    for (QToolButton* button : search->findChildren<QToolButton*>()) {
        if (button->isVisible()) clear = button;
    }
    ASSERT_NE(clear, nullptr);
    EXPECT_EQ(accessibleName(clear), "Clear search");
    clear->click();
    EXPECT_EQ(search->text(), "");
}

// Tab reaches the Projects list also when it has no row to draw the focus on: the list itself shows
// the ring.
TEST_F(LibraryAccessibilityTest, AnEmptyProjectListShowsTheFocus) {
    ASSERT_TRUE(test::activate(*window));
    ASSERT_TRUE(tabTo(window->projectList()));
    ASSERT_EQ(window->projectList()->model()->rowCount(), 0);
    const QImage focused = window->projectList()->grab().toImage();
    EXPECT_TRUE(test::saveScreenshot(*window, "focus-projects-empty.png"));
    ASSERT_TRUE(tabTo(window->searchField(), true));
    const QImage unfocused = window->projectList()->grab().toImage();
    auto ringPixels = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) == Theme::accent().rgb();
        return count;
    };
    EXPECT_GT(ringPixels(focused), 2 * (focused.width() + focused.height()));
    EXPECT_EQ(ringPixels(unfocused), 0);
}

TEST_F(LibraryAccessibilityTest, KeyboardAloneSelectsATakeDownloadsAndExportsIt) {
    fill();
    dialogs->answer = std::filesystem::path("/exports");
    ASSERT_TRUE(test::activate(*window));

    // Tab to the projects, arrows choose "Interview B-Roll".
    ASSERT_TRUE(tabTo(window->projectList()));
    pressKey(Qt::Key_Down);
    pressKey(Qt::Key_Up);
    EXPECT_EQ(store.selectedProjectID(), std::optional<std::string>("p1"));
    EXPECT_EQ(store.selectedTakeID(), std::optional<std::string>("take-1"));
    // Tab on to the takes, Down chooses the second take.
    ASSERT_TRUE(tabTo(window->takeList()->list()));
    pressKey(Qt::Key_Down);
    EXPECT_EQ(store.selectedTakeID(), std::optional<std::string>("take-2"));
    settle();

    // Back to the toolbar: Return on "Download Take", then on "Export for Resolve".
    ASSERT_TRUE(window->downloadTakeAction()->isEnabled());
    ASSERT_TRUE(tabTo(toolButton(window->downloadTakeAction()), true));
    pressKey(Qt::Key_Return);
    ASSERT_TRUE(tabTo(toolButton(window->exportAction())));
    pressKey(Qt::Key_Return);
    EXPECT_EQ(commands->calls, (std::vector<std::string>{"downloadTake", "export:/exports"}));
    EXPECT_EQ(dialogs->shown, 1);

    // Space presses a button too, and the Project menu opens and runs from the keyboard.
    ASSERT_TRUE(tabTo(window->findChild<QWidget*>(QStringLiteral("projectMenuButton")), true));
    QMenu* menu = window->findChild<QMenu*>(QStringLiteral("projectMenu"));
    QTimer::singleShot(0, menu, [menu] {
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    pressKey(Qt::Key_Space);
    settle();
    EXPECT_EQ(commands->calls.back(), "downloadProject");
}

TEST_F(LibraryAccessibilityTest, DashboardTabsChangeWithArrowsAndExposeTheirPages) {
    fill();
    store.setSelectedProjectID("p1");
    ASSERT_TRUE(test::activate(*window));
    auto* tabs = window->dashboard()->findChild<QTabBar*>(QStringLiteral("takeView"));
    ASSERT_TRUE(tabTo(tabs));
    QAccessibleInterface* bar = test::accessibleOf(tabs);
    EXPECT_EQ(bar->text(QAccessible::Name), "Take view");
    EXPECT_EQ(bar->text(QAccessible::Value), "Overview");
    EXPECT_TRUE(bar->child(0)->state().focused);
    pressKey(Qt::Key_Right);
    EXPECT_EQ(window->dashboard()->tab(), LibraryDashboardTab::media);
    EXPECT_TRUE(bar->child(1)->state().focused);
    EXPECT_FALSE(bar->child(0)->state().focused);
    // Tab goes on into the shown page: each clip's row, read as one text, then its button, which says
    // which camera it makes the reference.
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(accessibleName(QApplication::focusWidget()), "cam-a, a.mov, On device, 0 anchors, not the reference");
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(accessibleName(QApplication::focusWidget()), "Use as reference");
    EXPECT_EQ(test::accessibleDescription(QApplication::focusWidget()), "cam-a");
}

// A click on another tab while the keyboard is in the shown page's list: the keyboard goes back to the
// control the user chose before (the tab bar), not to the first control of the page that shows,
// which is not taken for the user's choice either.
TEST_F(LibraryAccessibilityTest, ADashboardTabClickedLeavesTheKeyboardWithTheUsersChoice) {
    fill();
    store.setSelectedProjectID("p1");
    ASSERT_TRUE(test::activate(*window));
    auto* tabs = window->dashboard()->findChild<QTabBar*>(QStringLiteral("takeView"));
    const auto click = [&](LibraryDashboardTab tab) {
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(static_cast<int>(tab)).center());
        settle();
    };
    for (const LibraryDashboardTab tab : {LibraryDashboardTab::activity, LibraryDashboardTab::exportPackage, LibraryDashboardTab::overview}) {
        SCOPED_TRACE(std::string(rawValue(tab)));
        click(LibraryDashboardTab::media);
        ASSERT_TRUE(tabTo(tabs));
        ASSERT_TRUE(tabTo(window->dashboard()->findChild<QWidget*>(QStringLiteral("transfers"))));
        click(tab);
        EXPECT_EQ(window->dashboard()->tab(), tab);
        EXPECT_EQ(QApplication::focusWidget(), tabs) << accessibleName(QApplication::focusWidget()).toStdString();
        // Back on the page of the list: the keyboard is the user's choice again, in the list.
        click(LibraryDashboardTab::media);
        EXPECT_EQ(QApplication::focusWidget(), window->dashboard()->findChild<QWidget*>(QStringLiteral("transfers")));
    }
}

TEST_F(LibraryAccessibilityTest, CollectSheetListsCardsBeforeItsButtonsKeepsFocusOnTheChosenCardAndChecksIt) {
    announce("Phone A", false, "aaaaaaaaaaaaaaaa");
    announce("Phone B", true, "bbbbbbbbbbbbbbbb");
    store.setTransferSessions({{.deviceId = "cccccccccccccccc", .deviceName = "Phone C", .sessionId = "s",
                                .expiresAt = clock.now(), .openAccess = true}});
    window->show();
    window->showCollect();
    auto* sheet = qobject_cast<CollectSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    settle();
    auto result = auditAccessibility(*sheet);
    EXPECT_TRUE(result.ok()) << result.report();
    // The primary button is disabled until a source is chosen.
    EXPECT_EQ(orderFrom(result, "Scan Again"),
              "Scan Again | Require secure transfer pairing | Return to Camera | Return All to Camera | "
              "Load All Open Sources | Phone A | Close");

    // Choose Phone A with Space: the focus stays on its card, which reports itself checked.
    ASSERT_TRUE(test::activate(*sheet));
    auto card = [&](const char* name) -> QPushButton* {
        for (QPushButton* c : sheet->findChildren<QPushButton*>(QStringLiteral("card"))) {
            if (c->accessibleName() == QLatin1String(name) && c->isVisible()) return c;
        }
        return nullptr;
    };
    ASSERT_TRUE(tabTo(card("Phone A")));
    EXPECT_FALSE(test::accessibleState(card("Phone A")).checked);
    EXPECT_TRUE(test::accessibleState(card("Phone A")).checkable);
    // One choice of several: radio buttons in the group of their heading.
    EXPECT_EQ(test::accessibleOf(card("Phone A"))->role(), QAccessible::RadioButton);
    EXPECT_EQ(test::accessibleOf(card("Phone A"))->parent()->text(QAccessible::Name), "CAMERAS IN TRANSFER MODE");
    EXPECT_EQ(test::accessibleOf(card("Phone A"))->parent()->role(), QAccessible::Grouping);
    pressKey(Qt::Key_Space);
    settle();
    ASSERT_TRUE(card("Phone A"));
    EXPECT_EQ(QApplication::focusWidget(), card("Phone A"));
    EXPECT_TRUE(test::accessibleState(card("Phone A")).checked);
    EXPECT_FALSE(test::accessibleState(card("Phone B")).checked);
    // Each card tells its place among the cards.
    EXPECT_EQ(test::accessibleDescription(card("Phone A")), "Secure pairing \u2022 HTTPS, 1 of 2");
    EXPECT_EQ(test::accessibleDescription(card("Phone B")), "Open LAN \u2022 HTTPS \u2022 foreground only, 2 of 2");
    // Choosing it again keeps it chosen and checked.
    pressKey(Qt::Key_Return);
    settle();
    EXPECT_TRUE(test::accessibleState(card("Phone A")).checked);
    // The arrow keys choose among the cards, as among radio buttons, and stop at either end; the
    // cards stay the ones they were, so a screen reader hears the focus move within their group.
    const std::pair<QPushButton*, QPushButton*> cards{card("Phone A"), card("Phone B")};
    for (const auto& [key, chosen] : {std::pair{Qt::Key_Right, "Phone B"}, {Qt::Key_Down, "Phone B"},
                                      {Qt::Key_Up, "Phone A"}, {Qt::Key_Left, "Phone A"}}) {
        pressKey(key);
        settle();
        EXPECT_EQ(QApplication::focusWidget(), card(chosen)) << chosen;
        EXPECT_TRUE(test::accessibleState(card(chosen)).checked) << chosen;
        EXPECT_EQ(std::pair(card("Phone A"), card("Phone B")), cards) << chosen;
    }

    // The pairing panel follows the cards; the code field is named, and Return in it presses nothing.
    result = auditAccessibility(*sheet);
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(orderFrom(result, "Phone A"),
              "Phone A | This 128-bit fingerprint matches the fingerprint shown on the phone | Pairing code | Close | "
              "Scan Again | Require secure transfer pairing | Return to Camera | Return All to Camera | "
              "Load All Open Sources");
    ASSERT_TRUE(test::activate(*sheet));
    ASSERT_TRUE(tabTo(sheet->fingerprintToggle()));
    // The box tells the fingerprint it asks the user to compare, grouped as shown.
    EXPECT_EQ(test::accessibleDescription(sheet->fingerprintToggle()), "AAAA AAAA AAAA AAAA AAAA AAAA AAAA AAAA");
    pressKey(Qt::Key_Space);
    ASSERT_TRUE(tabTo(sheet->codeField()));
    QTest::keyClicks(sheet->codeField(), "123456");
    pressKey(Qt::Key_Return);
    EXPECT_TRUE(commands->calls.empty());
    ASSERT_TRUE(tabTo(sheet->primaryButton()));
    pressKey(Qt::Key_Return);
    EXPECT_EQ(commands->calls, std::vector<std::string>{"pair:Phone A:123456"});
}

TEST_F(LibraryAccessibilityTest, ProjectSheetsConfirmationAndAlertPassTheAudit) {
    fill();
    store.setSelectedProjectID("p1");
    window->show();
    window->showNewProject();
    auto* sheet = window->sheet();
    auto result = auditAccessibility(*sheet);
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(orderFrom(result, "Project name"), "Project name | Cancel | Create");
    // Return on the focused "Cancel" cancels: the focused button is pressed, not the default one.
    ASSERT_TRUE(test::activate(*sheet));
    ASSERT_TRUE(tabTo(sheet->findChild<QLineEdit*>()));
    QTest::keyClicks(QApplication::focusWidget(), "Keynote");
    pressKey(Qt::Key_Tab);
    ASSERT_EQ(accessibleName(QApplication::focusWidget()), "Cancel");
    pressKey(Qt::Key_Return);
    settle();
    EXPECT_EQ(window->sheet(), nullptr);
    EXPECT_TRUE(commands->calls.empty());

    window->showRenameProject();
    result = auditAccessibility(*window->sheet());
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(orderFrom(result, "Project name"), "Project name | Cancel | Rename");
    window->sheet()->close();
    settle();

    store.setLibrary(trashableLibrary());
    store.setSelectedProjectID("p1");
    window->confirmSourceTrash();
    ASSERT_TRUE(window->sheet());
    result = auditAccessibility(*window->sheet());
    EXPECT_TRUE(result.ok()) << result.report();
    // The destructive choice is never where the focus starts.
    EXPECT_EQ(accessibleName(result.tabOrder.front()), "Cancel");
    window->sheet()->close();
    settle();

    store.setErrorMessage("Resolve export failed: disk full");
    ASSERT_TRUE(window->errorAlert());
    result = auditAccessibility(*window->errorAlert());
    EXPECT_TRUE(result.ok()) << result.report();
}

TEST_F(LibraryAccessibilityTest, WiFiSheetPassesTheAuditOnBothTabsAndNamesItsQRImage) {
    window->show();
    auto* sheet = new WiFiOnboardingView(true, {}, nullptr, window.get());
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
    // A decoded network, so that the join card's buttons are there.
    const WiFiNetworkDetails studio = WiFiQRCodec::make("Studio 5G", WiFiNetworkDetails::Security::wpa, "correct horse", false);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    WiFiQRCodeImage::generate(studio).save(&buffer, "PNG");
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("image/png"), png);
    QGuiApplication::clipboard()->setMimeData(mime);
    sheet->findChild<QPushButton*>(QStringLiteral("pasteImageButton"))->click();
    settle();
    auto result = auditAccessibility(*sheet);
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(orderFrom(result, "Done"),
              "Done | Wi-Fi QR | Choose QR Image… | Paste QR Image | Copy Password | Join Network… | Open Wi-Fi Settings");
    // The join confirmation too.
    sheet->findChild<QPushButton*>(QStringLiteral("joinButton"))->click();
    auto* confirmation = sheet->findChild<QMessageBox*>(QStringLiteral("joinConfirmation"));
    ASSERT_TRUE(confirmation && confirmation->isVisible());
    result = auditAccessibility(*confirmation);
    EXPECT_TRUE(result.ok()) << result.report();
    confirmation->reject();
    settle();

    auto* tabs = sheet->findChild<QTabWidget*>();
    tabs->setCurrentIndex(1);
    sheet->findChild<QLineEdit*>(QStringLiteral("shareNetworkName"))->setText("Studio 5G");
    sheet->findChild<QLineEdit*>(QStringLiteral("sharePassword"))->setText("correct horse");
    sheet->findChild<QCheckBox*>(QStringLiteral("shareConfirmed"))->setChecked(true);
    settle();
    result = auditAccessibility(*sheet);
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(orderFrom(result, "Done"), "Done | Wi-Fi QR | Network name | Security | Password | Hidden network | "
                                         "I confirm these are the network's current details | Copy QR Image");
    EXPECT_EQ(accessibleName(sheet->findChild<QComboBox*>(QStringLiteral("shareSecurity"))), "Security");
    EXPECT_EQ(accessibleName(sheet->findChild<QLabel*>(QStringLiteral("shareQRImage"))), "Wi-Fi QR code for Studio 5G");
    sheet->close();
}

// Tab reaches each folder the window names and its safety promise, which a screen reader then reads whole.
TEST_F(LibraryAccessibilityTest, SettingsWindowHasNothingTabCannotReach) {
    SettingsWindow settingsWindow(store);
    const auto result = auditAccessibility(settingsWindow);
    EXPECT_TRUE(result.ok()) << result.report();
    QStringList stops;
    for (int press = 0; press < 6; ++press) {
        pressKey(Qt::Key_Tab);
        if (QWidget* focus = QApplication::focusWidget(); focus && !stops.contains(accessibleName(focus)))
            stops << accessibleName(focus);
    }
    stops.sort();
    ASSERT_EQ(stops.size(), 3) << stops.join(" | ").toStdString();
    EXPECT_TRUE(stops[0].startsWith("Kestova never deletes phone recordings") && stops[1].startsWith("Library: ") &&
                stops[2].startsWith("Verified recordings: "))
        << stops.join(" | ").toStdString();
}

// Review material, not a gate: where the keyboard's focus shows, after Tab as a person presses it.
TEST_F(LibraryAccessibilityTest, FocusScreenshots) {
    fill();
    store.setSelectedProjectID("p1");
    ASSERT_TRUE(test::activate(*window));
    const std::vector<std::pair<QWidget*, QString>> stops{
        {toolButton(window->downloadTakeAction()), "focus-toolbar-download-take.png"},
        {window->findChild<QWidget*>(QStringLiteral("projectMenuButton")), "focus-toolbar-project-menu.png"},
        {window->searchField(), "focus-search.png"},
        {window->projectList(), "focus-projects.png"},
        {window->findChild<QWidget*>(QStringLiteral("collect")), "focus-collect-button.png"},
        {window->takeList()->list(), "focus-takes.png"},
        {window->dashboard()->findChild<QWidget*>(QStringLiteral("takeView")), "focus-dashboard-tabs.png"},
    };
    for (const auto& [stop, file] : stops) {
        ASSERT_TRUE(tabTo(stop)) << file.toStdString();
        EXPECT_TRUE(test::saveScreenshot(*window, file));
    }
    pressKey(Qt::Key_Tab);
    EXPECT_TRUE(test::saveScreenshot(*window, "focus-readiness.png"));
    pressKey(Qt::Key_Backtab, Qt::ShiftModifier);
    pressKey(Qt::Key_Right);
    pressKey(Qt::Key_Tab);
    EXPECT_TRUE(test::saveScreenshot(*window, "focus-use-as-reference.png"));

    announce("Phone A", false, "aaaaaaaaaaaaaaaa");
    announce("Phone B", true, "bbbbbbbbbbbbbbbb");
    window->showCollect();
    auto* sheet = window->sheet();
    ASSERT_TRUE(test::activate(*sheet));
    ASSERT_TRUE(tabTo(sheet->findChildren<QPushButton*>(QStringLiteral("card")).front()));
    EXPECT_TRUE(test::saveScreenshot(*sheet, "focus-collect-card.png"));
    pressKey(Qt::Key_Space);
    settle();
    EXPECT_TRUE(test::saveScreenshot(*sheet, "focus-collect-card-chosen.png"));
    sheet->close();
    settle();

    // The Wi-Fi sheet's tab bar and its share tab's security box, the alert's button, Settings' folder.
    auto* wifi = new WiFiOnboardingView(true, {}, nullptr, window.get());
    wifi->setAttribute(Qt::WA_DeleteOnClose);
    openWindowModal(*wifi);
    ASSERT_TRUE(test::activate(*wifi));
    ASSERT_TRUE(tabTo(wifi->findChild<QTabWidget*>()->tabBar()));
    EXPECT_TRUE(test::saveScreenshot(*wifi, "focus-wifi-tabs.png"));
    pressKey(Qt::Key_Right);
    ASSERT_TRUE(tabTo(wifi->findChild<QWidget*>(QStringLiteral("shareSecurity"))));
    EXPECT_TRUE(test::saveScreenshot(*wifi, "focus-wifi-security.png"));
    wifi->close();
    settle();
    store.setErrorMessage("Resolve export failed: disk full");
    ASSERT_TRUE(test::activate(*window->errorAlert()));
    EXPECT_TRUE(test::saveScreenshot(*window->errorAlert(), "focus-alert.png"));
    window->errorAlert()->close();
    settle();
    store.setLibrary(trashableLibrary());
    store.setSelectedProjectID("p1");
    window->confirmSourceTrash();
    ASSERT_TRUE(window->sheet() && test::activate(*window->sheet()));
    pressKey(Qt::Key_Tab);
    EXPECT_TRUE(test::saveScreenshot(*window->sheet(), "focus-trash-confirmation.png"));
    window->sheet()->close();
    settle();
    SettingsWindow settingsWindow(store);
    settingsWindow.show();
    ASSERT_TRUE(test::activate(settingsWindow));
    pressKey(Qt::Key_Tab);
    EXPECT_TRUE(test::saveScreenshot(settingsWindow, "focus-settings.png"));
}

} // namespace
} // namespace velk::testing
