// The Library window's file panels as Qt draws them: a folder typed into the export panel, and
// several selected items, end in the export of the first one. The typed-path case also runs on a
// virtual X display, typed by the X server's key events at a person's speed.

#include <QAbstractItemView>
#include <QAction>
#include <QCompleter>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QTest>
#include <QToolButton>

#include "library_window_fixture.hpp"
#include "support/control_contrast.hpp"
#include "support/virtual_display.hpp"
#include "support/widgets.hpp"

namespace velk::testing {
namespace {

class LibraryFilePanels : public LibraryWindowTest {
protected:
    std::shared_ptr<LibraryFileDialogs> fileDialogs() override { return makeQtFileDialogs(); }

    void SetUp() override {
        LibraryWindowTest::SetUp();
        VELKTake take{.id = "take-1"};
        store.setLibrary(VELKLibrary{{{"p1", "Interview", 1, {take}}}});
        store.setSelectedProjectID("p1");
        ASSERT_TRUE(QDir().mkpath(folder.filePath("exports")));
        ASSERT_TRUE(QDir().mkpath(folder.filePath("exports-old")));
    }

    // Shows the window and opens the export panel on it; the panel's folder field has the focus.
    QFileDialog* openExportPanel() {
        window->show();
        QApplication::setActiveWindow(window.get());
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->exportAction()->trigger();
        QFileDialog* panel = window->findChild<QFileDialog*>();
        if (!panel) return nullptr;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel));
        EXPECT_EQ(panel->windowTitle(), "Choose Parent Folder for Resolve Export");
        EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
        QApplication::setActiveWindow(panel);
        auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (field) field->setFocus();
        EXPECT_TRUE(field && field->hasFocus());
        return panel;
    }

    // Return in the field, once its completion list (which takes a Return of its own) is closed.
    static void pressReturn(QLineEdit* field) {
        settle(20); // the panel's folder model answers on its own thread
        if (field->completer() && field->completer()->popup()->isVisible()) field->completer()->popup()->hide();
        QTest::keyClick(field, Qt::Key_Return);
        settle();
    }

    // The panel's tool buttons as shown, a folder of its list and what else Qt draws from the icon
    // theme untinted each stand out from what they are drawn on by at least 3:1 at 1, 1.5 and 2.
    void expectSymbolsStandOut() {
        QFileDialog* panel = openExportPanel();
        ASSERT_NE(panel, nullptr);
        panel->setDirectory(folder.path());
        auto* list = panel->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_TRUE(list && QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) >= 2; }, 5000));
        const QColor window = panel->palette().color(QPalette::Window);
        std::vector<std::tuple<QString, QIcon, QIcon::Mode, QColor>> symbols{
            {"a folder", list->model()->index(0, 0, list->rootIndex()).data(Qt::DecorationRole).value<QIcon>(),
             QIcon::Normal, list->palette().color(QPalette::Base)},
            {"the theme's go-up", QIcon::fromTheme(QStringLiteral("go-up")), QIcon::Normal, window}};
        for (QToolButton* button : panel->findChildren<QToolButton*>()) {
            if (button->isVisible())
                symbols.emplace_back(button->objectName(), button->icon(), button->isEnabled() ? QIcon::Normal : QIcon::Disabled, window);
        }
        ASSERT_GE(symbols.size(), 8u);
        for (const double scale : {1.0, 1.5, 2.0}) {
            for (const auto& [what, icon, mode, ground] : symbols)
                EXPECT_GE(test::symbolContrast(icon, QSize(16, 16), scale, ground, mode), 3.0) << what.toStdString() << " at " << scale;
        }
    }

    bool exported(const QString& parent) const {
        return commands->calls == std::vector<std::string>{"export:" + parent.toStdString()};
    }
};

TEST_F(LibraryFilePanels, TypedFolderAndReturnExportIntoThatFolder) {
    QFileDialog* panel = openExportPanel();
    ASSERT_NE(panel, nullptr);
    const QString typed = folder.filePath("exports");
    auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    field->selectAll();
    QTest::keyClicks(field, typed, Qt::NoModifier, 5);
    pressReturn(field);
    EXPECT_TRUE(exported(typed)) << ::testing::PrintToString(commands->calls);
}

TEST_F(LibraryFilePanels, SeveralSelectedFoldersExportIntoTheFirst) {
    QFileDialog* panel = openExportPanel();
    ASSERT_NE(panel, nullptr);
    panel->setDirectory(folder.path());
    auto* list = panel->findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) >= 2; }, 5000));
    list->selectionModel()->clearSelection();
    for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row) {
        list->selectionModel()->select(list->model()->index(row, 0, list->rootIndex()),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    const QStringList selected = panel->selectedFiles();
    ASSERT_GE(selected.size(), 2);
    static_cast<QDialog*>(panel)->accept(); // as Choose does
    settle();
    EXPECT_TRUE(exported(selected.front())) << ::testing::PrintToString(commands->calls);
}

// An earlier match of the typing still selected ahead of the typed folder: the typed one is used.
TEST_F(LibraryFilePanels, TypedFolderWinsOverAnEarlierSelection) {
    QFileDialog* panel = openExportPanel();
    ASSERT_NE(panel, nullptr);
    panel->setDirectory(folder.path());
    auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* list = panel->findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_TRUE(field && list);
    const QString typed = folder.filePath("exports");
    QTest::keyClicks(field, typed);
    settle(20);
    auto* files = qobject_cast<QFileSystemModel*>(list->model());
    ASSERT_NE(files, nullptr);
    list->selectionModel()->clearSelection();
    for (const char* name : {"exports-old", "exports"}) {
        list->selectionModel()->select(files->index(folder.filePath(QString::fromUtf8(name))),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    ASSERT_EQ(panel->selectedFiles(), QStringList({folder.filePath("exports-old"), typed}));
    ASSERT_EQ(field->text(), typed);
    pressReturn(field);
    EXPECT_TRUE(exported(typed)) << ::testing::PrintToString(commands->calls);
}

TEST_F(LibraryFilePanels, ToolButtonsAndFoldersStandOutAtEveryScale) { expectSymbolsStandOut(); }

TEST_F(LibraryFilePanels, TypedManifestIsImported) {
    for (const char* name : {"a.json", "b.json"}) {
        QFile file(folder.filePath(QString::fromUtf8(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    window->show();
    window->importAction()->trigger();
    auto* panel = window->findChild<QFileDialog*>();
    ASSERT_NE(panel, nullptr);
    QApplication::setActiveWindow(panel);
    EXPECT_EQ(panel->windowTitle(), "Import Kestova Source Manifest");
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    panel->setDirectory(folder.path());
    auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(field, nullptr);
    field->setFocus();
    ASSERT_TRUE(field->hasFocus()); // typing into a field without the focus leaves earlier matches selected
    QTest::keyClicks(field, folder.filePath("b.json"));
    pressReturn(field);
    EXPECT_EQ(commands->calls, std::vector<std::string>{"import:" + folder.filePath("b.json").toStdString()});
}

// On the X server, typed by xdotool at 30 ms a key, as fast as a person types, then Return.
class LibraryFilePanelOnDisplay : public LibraryFilePanels {
protected:
    // Types `text` into the export panel's folder field, opened on `directory`, and presses Return.
    void typeIntoExportPanel(const QString& directory, const QString& text) {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        QPointer<QFileDialog> panel = openExportPanel();
        ASSERT_NE(panel, nullptr);
        panel->setDirectory(directory);
        panel->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
        auto* field = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return field && field->hasFocus(); }, 5000));
        test::ChildProcess typing({"sh", "-c",
                                   "xdotool key --delay 30 ctrl+a BackSpace && xdotool type --delay 30 \"$0\" && "
                                   "xdotool key --delay 30 Return",
                                   text.toStdString()},
                                  "");
        EXPECT_TRUE(QTest::qWaitFor([&] { return typing.hasExited() && (!panel || !panel->isVisible()); }, 20'000));
        settle();
    }
};

TEST_F(LibraryFilePanelOnDisplay, FolderTypedAtTypingSpeedExports) {
    if (!test::onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    const QString typed = folder.filePath("exports");
    typeIntoExportPanel(QDir::homePath(), typed);
    EXPECT_TRUE(exported(typed)) << ::testing::PrintToString(commands->calls);
}

// As the desktop's platform theme has it.
TEST_F(LibraryFilePanelOnDisplay, ToolButtonsAndFoldersStandOut) {
    if (!test::onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    expectSymbolsStandOut();
    test::saveScreenshot(*window->findChild<QFileDialog*>(), QStringLiteral("library-file-panel-%1-%2.png")
                                                               .arg(qEnvironmentVariable("XDG_CURRENT_DESKTOP", "none"))
                                                               .arg(window->devicePixelRatio()));
}

// Two folders named in the field leave the panel with two selected items.
TEST_F(LibraryFilePanelOnDisplay, TwoTypedFoldersExportIntoTheFirst) {
    if (!test::onVirtualDisplay()) GTEST_SKIP() << "runs only on its virtual display";
    typeIntoExportPanel(folder.path(), QStringLiteral("\"exports\" \"exports-old\""));
    EXPECT_TRUE(exported(folder.filePath("exports"))) << ::testing::PrintToString(commands->calls);
}

TEST(LibraryFilePanelsOnX, TypedFoldersExport) {
    test::runOnVirtualDisplay("LibraryFilePanelOnDisplay", "1280x720x24");
}

TEST(LibraryFilePanelsOnX, TypedFoldersExportUnderGnome) {
    test::runOnVirtualDisplay("LibraryFilePanelOnDisplay", "1280x720x24",
                              {"XDG_CURRENT_DESKTOP=GNOME"});
}

TEST(LibraryFilePanelsOnX, TypedFoldersExportUnderKde) {
    test::runOnVirtualDisplay("LibraryFilePanelOnDisplay", "1280x720x24",
                              {"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5"});
}

} // namespace
} // namespace velk::testing
