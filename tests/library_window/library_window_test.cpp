#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QKeyEvent>
#include <QTabWidget>
#include <QTest>

#include "app/application.hpp"
#include "app/window_factories.hpp"
#include "app/window_registry.hpp"
#include "library_window/collect_sheet.hpp"
#include "library_window/dashboard_view.hpp"
#include "library_window/library_list_models.hpp"
#include "library_window/project_name_sheet.hpp"
#include "library_window/take_list_view.hpp"
#include "library_window_fixture.hpp"
#include "store/store_fixture.hpp"
#include "support/control_contrast.hpp"
#include "support/widgets.hpp"
#include "wifi/ui/wifi_onboarding_view.hpp"
#include "wifi/wifi_change_gate.hpp"

namespace velk::testing {
namespace {

using library::CollectSheet;
using library::ProjectNameSheet;

VELKLibrary twoProjects() {
    VELKClip a{.id = "c1", .cameraId = "cam-a", .fileName = "a.mov", .localPath = "/tmp/a.mov"};
    VELKClip b{.id = "c2", .cameraId = "cam-b", .fileName = "b.mov"};
    VELKTake take1{.id = "take-1", .clips = {a, b}};
    VELKTake take2{.id = "take-2"};
    return VELKLibrary{{{"p1", "Interview B-Roll", 1, {take1, take2}}, {"p2", "Wedding", 1, {}}}};
}

QPushButton* button(QWidget* root, const char* name) { return root->findChild<QPushButton*>(QString::fromUtf8(name)); }

TEST_F(LibraryWindowTest, SearchFiltersRowsButNeverTheSelection) {
    store.setLibrary(twoProjects());
    store.setSelectedProjectID("p2");
    QTest::keyClicks(window->searchField(), "  interview ");
    EXPECT_EQ(window->projectList()->model()->rowCount(), 1);
    EXPECT_EQ(store.selectedProjectID(), std::optional<std::string>("p2"));
    EXPECT_EQ(window->projectCount()->text(), "2 projects");
    window->searchField()->clear();
    const auto selected = window->projectList()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.front().data().toString(), "Wedding");
}

TEST_F(LibraryWindowTest, ClickingARowSelectsTheProjectAndItsFirstTake) {
    store.setLibrary(twoProjects());
    QListView* list = window->projectList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
    EXPECT_EQ(store.selectedProjectID(), std::optional<std::string>("p1"));
    EXPECT_EQ(store.selectedTakeID(), std::optional<std::string>("take-1"));
    store.setSelectedProjectID("p2");
    EXPECT_EQ(store.selectedTakeID(), std::nullopt);
}

TEST_F(LibraryWindowTest, NewProjectSheetCreatesOnReturnAndCancelKeepsTheText) {
    window->show();
    QTest::mouseClick(button(window.get(), "newProject"), Qt::LeftButton);
    auto* sheet = qobject_cast<ProjectNameSheet*>(window->sheet());
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_TRUE(sheet->isModal());
    QTest::keyClicks(sheet->nameField(), "Gala");
    QTest::mouseClick(sheet->findChildren<QPushButton*>().front(), Qt::LeftButton); // Cancel
    settle();
    EXPECT_EQ(window->sheet(), nullptr);
    EXPECT_TRUE(commands->calls.empty());

    window->showNewProject();
    sheet = qobject_cast<ProjectNameSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->nameField()->text(), "Gala");
    QTest::keyClick(sheet->nameField(), Qt::Key_Return);
    settle();
    EXPECT_EQ(commands->calls, std::vector<std::string>{"create:Gala"});
    EXPECT_EQ(window->sheet(), nullptr);
    window->showNewProject();
    EXPECT_EQ(qobject_cast<ProjectNameSheet*>(window->sheet())->nameField()->text(), "");
}

TEST_F(LibraryWindowTest, RenameActsOnlyWhileItsProjectIsStillSelected) {
    store.setLibrary(twoProjects());
    store.setSelectedProjectID("p1");
    window->show();
    QTest::mouseClick(window->renameButton(), Qt::LeftButton);
    auto* sheet = qobject_cast<ProjectNameSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->nameField()->text(), "Interview B-Roll");
    store.setSelectedProjectID("p2");
    QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
    settle();
    EXPECT_TRUE(commands->calls.empty());
    EXPECT_EQ(window->sheet(), nullptr);

    store.setSelectedProjectID("p1");
    window->showRenameProject();
    sheet = qobject_cast<ProjectNameSheet*>(window->sheet());
    sheet->nameField()->clear();
    QTest::keyClicks(sheet->nameField(), "Interviews");
    QTest::mouseClick(sheet->confirmButton(), Qt::LeftButton);
    EXPECT_EQ(commands->calls, std::vector<std::string>{"rename:Interviews"});
}

TEST_F(LibraryWindowTest, RenameIsDisabledForUnassignedTakes) {
    store.setLibrary(VELKLibrary{{{"unassigned-0123456789abcdef", "Phone", std::nullopt, {}}}});
    store.setSelectedProjectID("unassigned-0123456789abcdef");
    EXPECT_FALSE(window->renameButton()->isEnabled());
}

TEST_F(LibraryWindowTest, ToolbarFollowsSelectionAndBusyAndPanelsCallTheStore) {
    store.setLibrary(twoProjects());
    EXPECT_FALSE(window->exportAction()->isEnabled());
    EXPECT_FALSE(window->downloadTakeAction()->isEnabled());
    store.setSelectedProjectID("p1");
    EXPECT_TRUE(window->exportAction()->isEnabled());
    store.setIsBusy(true);
    EXPECT_FALSE(window->exportAction()->isEnabled());
    EXPECT_TRUE(window->importAction()->isEnabled());
    store.setIsBusy(false);

    window->exportAction()->trigger(); // cancelled panel
    dialogs->answer = std::filesystem::path("/exports");
    window->exportAction()->trigger();
    window->importAction()->trigger();
    EXPECT_EQ(dialogs->shown, 3);
    EXPECT_EQ(commands->calls, (std::vector<std::string>{"export:/exports", "import:/exports"}));
}

TEST_F(LibraryWindowTest, ErrorAlertShowsTheTextAndOkClearsIt) {
    window->show();
    store.setErrorMessage("Resolve export failed: disk full");
    QMessageBox* alert = window->errorAlert();
    ASSERT_TRUE(alert && alert->isVisible());
    EXPECT_EQ(alert->windowTitle(), "Kestova");
    EXPECT_EQ(alert->text(), "Resolve export failed: disk full");
    QTest::mouseClick(alert->buttons().front(), Qt::LeftButton);
    settle();
    EXPECT_EQ(store.errorMessage(), std::nullopt);
    EXPECT_EQ(window->errorAlert(), nullptr);
}

TEST_F(LibraryWindowTest, ReferenceButtonOfAClipRowSetsTheReferenceCamera) {
    store.setLibrary(twoProjects());
    store.setSelectedProjectID("p1");
    window->dashboard()->setTab(library::LibraryDashboardTab::media);
    settle();
    auto buttons = window->dashboard()->findChildren<QPushButton*>(QStringLiteral("useAsReference"));
    ASSERT_EQ(buttons.size(), 2);
    QTest::mouseClick(buttons[1], Qt::LeftButton);
    EXPECT_EQ(commands->calls, std::vector<std::string>{"reference:cam-b"});
}

TEST_F(LibraryWindowTest, CollectSheetReturnInTheCodeFieldPressesNothing) {
    announce("Phone A", false);
    window->show();
    window->showCollect();
    auto* sheet = qobject_cast<CollectSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    auto cards = sheet->findChildren<QPushButton*>(QStringLiteral("card"));
    ASSERT_EQ(cards.size(), 1);
    QTest::mouseClick(cards.front(), Qt::LeftButton);
    settle();
    ASSERT_TRUE(sheet->pairingPanel()->isVisible());
    EXPECT_EQ(sheet->primaryButton()->text().replace("&&", "&"), "Pair & Load Projects"); // "&&" shows one "&"
    sheet->fingerprintToggle()->setChecked(true);
    QTest::keyClicks(sheet->codeField(), "12a-3");
    QKeyEvent arabicFour(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\u0664"));
    QApplication::sendEvent(sheet->codeField(), &arabicFour);
    QTest::keyClicks(sheet->codeField(), " 567");
    EXPECT_EQ(sheet->codeField()->text(), "123456");
    ASSERT_TRUE(sheet->primaryButton()->isEnabled());
    QTest::keyClick(sheet->codeField(), Qt::Key_Return);
    settle();
    EXPECT_TRUE(commands->calls.empty());
    EXPECT_TRUE(sheet->isVisible());

    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    ASSERT_EQ(commands->calls, std::vector<std::string>{"pair:Phone A:123456"});
    commands->pairDone(false);
    EXPECT_EQ(window->pairingInputs().code, "123456");
    commands->pairDone(true);
    settle();
    EXPECT_EQ(window->pairingInputs().code, "");
    EXPECT_FALSE(window->pairingInputs().fingerprintConfirmed);
    EXPECT_EQ(window->sheet(), nullptr);
    EXPECT_TRUE(window->pairingInputs().deviceID.has_value());
}

// The pairing runs with the keyboard on its button, which is disabled meanwhile, and fails with an
// alert over the sheet: once the alert is answered, the keyboard is on the button again, not on the
// sheet's first control.
TEST_F(LibraryWindowTest, CollectSheetGivesTheKeyboardBackToItsButtonAfterTheAlert) {
    announce("Phone A", false);
    window->show();
    window->showCollect();
    auto* sheet = qobject_cast<CollectSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    QTest::mouseClick(sheet->findChildren<QPushButton*>(QStringLiteral("card")).front(), Qt::LeftButton);
    sheet->fingerprintToggle()->setChecked(true);
    QTest::keyClicks(sheet->codeField(), "123456");
    settle();
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    sheet->primaryButton()->setFocus(Qt::MouseFocusReason);
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    store.setIsBusy(true);
    settle();
    store.setErrorMessage("Secure camera connection failed: Transfer server returned HTTP 403.");
    store.setIsBusy(false);
    QPointer<QMessageBox> alert = window->errorAlert();
    ASSERT_TRUE(alert);
    alert->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(alert));
    alert->accept();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    EXPECT_EQ(QApplication::focusWidget(), sheet->primaryButton())
        << (QApplication::focusWidget() ? QApplication::focusWidget()->property("text").toString().toStdString() : "none");
}

TEST_F(LibraryWindowTest, SecureSettingForbidsLoadingOpenSources) {
    announce("Open Phone", true);
    window->showCollect();
    auto* sheet = qobject_cast<CollectSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    QPushButton* loadAll = button(sheet, "loadAll");
    ASSERT_TRUE(loadAll && loadAll->isEnabled());
    QTest::mouseClick(loadAll, Qt::LeftButton);
    EXPECT_EQ(commands->calls, std::vector<std::string>{"loadAll:1"});
    sheet->requireSecureToggle()->setChecked(true);
    EXPECT_TRUE(settings->value("velk.requireSecureProjectTransfer").toBool());
    settle();
    EXPECT_FALSE(button(sheet, "loadAll")->isEnabled());
}

TEST_F(LibraryWindowTest, PairingContinuationAfterTheWindowClosedTouchesNothing) {
    announce("Phone A", true);
    window->showCollect();
    auto* sheet = qobject_cast<CollectSheet*>(window->sheet());
    QTest::mouseClick(sheet->findChildren<QPushButton*>(QStringLiteral("card")).front(), Qt::LeftButton);
    QTest::mouseClick(sheet->primaryButton(), Qt::LeftButton);
    ASSERT_TRUE(commands->pairDone);
    EXPECT_TRUE(commands->lastAllowOpen);
    window.reset();
    settle();
    commands->pairDone(true);
}

TEST_F(LibraryWindowTest, WiFiGateOpensOnFirstShowAndFollowsTheBusyFlag) {
    EXPECT_TRUE(wifi->gate.empty());
    window->show();
    EXPECT_EQ(wifi->gate, std::vector<bool>{true});
    window->showWiFi();
    store.setIsBusy(true);
    EXPECT_EQ(wifi->gate, (std::vector<bool>{true, false}));
    ASSERT_EQ(wifi->rules.size(), 2u);
    EXPECT_EQ(wifi->rules[1].second,
              "Finish the active project download, export, or source operation before changing Wi-Fi.");
}

TEST(TransferListModel, KeepsRowsOnProgressAndResetsWhenRowsChange) {
    application();
    library::TransferListModel model;
    std::vector<TransferStatus> rows{{"a", "A.mov", TransferPhase::downloading, 10, 100, ""},
                                     {"b", "B.mov", TransferPhase::queued, 0, 0, ""}};
    model.setTransfers(rows);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    rows[0].completedBytes = 50;
    model.setTransfers(rows);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_DOUBLE_EQ(model.index(0).data(library::ProgressRole).toDouble(), 0.5);
    rows.pop_back();
    model.setTransfers(rows);
    EXPECT_EQ(resets.count(), 1);
}

} // namespace
} // namespace velk::testing

namespace velk::testing {
namespace {

TEST_F(LibraryWindowTest, SourceTrashConfirmationActsOnlyForItsProject) {
    VELKClip copied{.id = "c1", .cameraId = "cam-a", .fileName = "a.mov", .localPath = "/v/a.mov", .deviceId = phoneID};
    store.setLibrary(VELKLibrary{{{"p1", "Harbour", 1, {VELKTake{.id = "t1", .clips = {copied}}}}, {"p2", "Other", 1, {}}}});
    store.setTransferClient(phoneID, offlineClient(phoneID, clock));
    store.setSelectedProjectID("p1");
    window->show();
    ASSERT_TRUE(window->moveToTrashAction()->isEnabled());

    auto confirmation = [&] { return qobject_cast<QMessageBox*>(window->sheet()); };
    auto confirm = [&] {
        for (QAbstractButton* choice : confirmation()->buttons()) {
            if (choice->text() == "Verify Copies && Move Sources to Trash") choice->click(); // "&&" shows one "&"
        }
    };
    window->moveToTrashAction()->trigger();
    ASSERT_TRUE(confirmation());
    EXPECT_EQ(confirmation()->text(), "Move the copied project on its source devices to recoverable Trash?");
    EXPECT_EQ(confirmation()->informativeText(),
              "Every video and timing file is rechecked first. Copies on this computer remain untouched. If a source "
              "changed, removal stops. Earlier completed removals remain recoverable on those devices.");
    store.setSelectedProjectID("p2");
    confirm();
    settle();
    EXPECT_EQ(window->sheet(), nullptr);
    EXPECT_TRUE(commands->calls.empty());

    store.setSelectedProjectID("p1");
    window->moveToTrashAction()->trigger();
    confirm();
    EXPECT_EQ(commands->calls, std::vector<std::string>{"trash"});
}

// Every check box and text field of the window and its sheets differs from what it is drawn on by
// at least 3:1, the pairing card's among them.
TEST_F(LibraryWindowTest, EveryControlStandsOutFromWhatItIsDrawnOn) {
    announce("Phone A", false);
    window->show();
    WiFiOnboardingView wifi(true, {}, std::make_shared<WiFiChangeGate>(), window.get());
    const struct {
        const char* where;
        std::function<QWidget*()> open;
        std::size_t controls;
    } rows[] = {
        {"Library window", [&]() -> QWidget* { return window.get(); }, 1},
        {"New Project sheet", [&] { window->showNewProject(); return window->sheet(); }, 1},
        {"Collect sheet with the pairing card", [&] {
             window->showCollect();
             window->sheet()->findChild<QPushButton*>(QStringLiteral("card"))->click();
             return window->sheet();
         }, 3},
        {"Wi-Fi QR sheet, Join from QR", [&]() -> QWidget* {
             wifi.show();
             return &wifi;
         }, 0},
        {"Wi-Fi QR sheet, Show QR", [&]() -> QWidget* {
             wifi.show();
             wifi.findChild<QTabWidget*>()->setCurrentIndex(1);
             return &wifi;
         }, 4},
    };
    for (const auto& row : rows) {
        QWidget* shown = row.open();
        settle();
        test::expectControlsStandOut(*shown, row.where, row.controls);
        test::expectTextStandsOut(*shown, row.where);
        if (shown != window.get()) shown->close();
        settle();
    }
}

// Ctrl+Q as the window system hands it to the window that has the focus: a press at `time`, after
// the key's release at `releasedAt`. An X server repeats a held key as a release and a press with
// one time stamp.
void ctrlQ(QWidget& focus, ulong releasedAt, ulong time) {
    QWindow* window = focus.window()->windowHandle();
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Q, Qt::ControlModifier);
    release.setTimestamp(releasedAt);
    QCoreApplication::sendEvent(window, &release);
    qt_sendShortcutOverrideEvent(window, time, Qt::Key_Q, Qt::ControlModifier);
}

// Ctrl+Q quits from every window and sheet, wherever the focus is in it, a text field too: the
// application ends as from the menu. The repeats of a press that went to another program do not.
TEST(LibraryQuit, CtrlQQuitsFromEveryWindowAndSheetOncePerPress) {
    application();
    struct Row {
        const char* where;
        // Opens it; gives the widget that is to have the focus.
        std::function<QWidget*(Application&, LibraryWindow&)> open;
    };
    const Row rows[] = {
        {"the Library's search field", [](Application&, LibraryWindow& library) { return library.searchField(); }},
        {"the Wi-Fi QR sheet", [](Application&, LibraryWindow& library) { return library.showWiFi(), library.sheet(); }},
        {"the Collect sheet", [](Application&, LibraryWindow& library) { return library.showCollect(), library.sheet(); }},
        {"the error alert",
         [](Application& app, LibraryWindow& library) -> QWidget* {
             app.services().store.setErrorMessage("Manifest import failed: no such file.");
             return library.errorAlert();
         }},
        {"the file panel's name field",
         [](Application&, LibraryWindow& library) {
             library.importManifest();
             return library.findChild<QFileDialog*>("filePanel")->findChild<QLineEdit*>("fileNameEdit");
         }},
        {"the Settings window",
         [](Application& app, LibraryWindow&) {
             app.openSettings();
             return app.windows().window(WindowID::settings);
         }},
    };
    ulong time = 1000;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.where);
        QTemporaryDir folder;
        Application app({folder.filePath("data").toStdString(), folder.filePath("videos").toStdString(), false,
                         std::make_shared<FakeDnsSdBackend>()});
        app.registerWindow(WindowID::library, createLibraryWindow);
        auto* library = static_cast<LibraryWindow*>(app.windows().openWindow(WindowID::library));
        const QPointer<QWidget> focus = row.open(app, *library);
        ASSERT_TRUE(focus && test::activate(*focus->window()));
        focus->setFocus();
        ctrlQ(*focus, time, time);
        EXPECT_FALSE(app.isShutDown()) << "a repeat";
        if (focus) ctrlQ(*focus, time + 100, time + 200);
        EXPECT_TRUE(app.isShutDown());
        time += 1000;
    }
}

} // namespace
} // namespace velk::testing
