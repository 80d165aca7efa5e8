// The Director window by keyboard alone and as assistive tools read it: Tab order and visible
// focus, Return and Space, the inspector's tab bar, the camera tiles as buttons, names, states and
// descriptions, and the texts that come from phones.

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "director_fakes.hpp"
#include "app/keyboard_keeper.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/studio_view_kit.hpp"
#include "director_window/switcher_view.hpp"
#include "director_window_support.hpp"
#include "support/accessibility_audit.hpp"
#include "support/control_contrast.hpp"
#include "support/verbatim.hpp"

namespace velk {
namespace {

using namespace test;

QAccessibleInterface* accessible(QObject* object) { return QAccessible::queryAccessibleInterface(object); }

QString spokenName(QWidget* widget) {
    QAccessibleInterface* face = accessible(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// Presses a key on whatever has the focus, as a keyboard does.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, key, modifiers);
}

// A key held down: its first press and then the keyboard's repeats, each offered to the window's
// shortcuts first and otherwise delivered to the focused widget, as the platform does.
void hold(QWidget& target, Qt::Key key, Qt::KeyboardModifiers modifiers, const QString& text, int repeats) {
    for (int i = 0; i <= repeats; ++i) {
        const bool repeat = i > 0;
        if (qt_sendShortcutOverrideEvent(&target, 0, key, modifiers, text, repeat)) continue;
        QKeyEvent down(QEvent::KeyPress, key, modifiers, text, repeat);
        QApplication::sendEvent(&target, &down);
    }
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(&target, &up);
}

// Takes the shortcut check of Space, so the press goes on to the focused widget.
struct TakesSpaceChecks final : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        const bool space =
            event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space;
        if (space) event->accept();
        return space;
    }
};

std::size_t loggedCuts(AppStore& store) {
    std::size_t cuts = 0;
    for (const auto& activity : store.activities()) cuts += activity.message.starts_with("Director CUT");
    return cuts;
}

// The names of the controls Tab visits, starting at Stop All, until it comes back round.
QStringList tabOrder(DirectorWindow& window) {
    Keyboard::choose(*window.stopAllButton());
    QStringList names;
    std::vector<QWidget*> seen;
    for (int i = 0; i < 100; ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (!seen.empty() && focus == seen.front()) break;
        seen.push_back(focus);
        names << spokenName(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return names;
}

// A rig with a project, the edit log running and Alpha in Preview.
struct RunningRig {
    WindowRig rig;
    explicit RunningRig(std::vector<LiveCamera> cameras = fourCameras()) : rig(std::move(cameras)) {
        rig.store->createProject("Show");
        showActive(*rig.window);
        rig.window->startSession();
    }
    DirectorWindow& window() { return *rig.window; }
};

// --- The shared audit ---

// The wall's live tiles and locked cells take clicks and menus like any control.
AccessibilityAuditOptions directorAudit() {
    AccessibilityAuditOptions options;
    options.isCustomControl = [](const QWidget& widget) {
        auto* cell = qobject_cast<const CameraWallCell*>(&widget);
        return cell && cell->kind() != DirectorPresenters::WallCellKind::empty;
    };
    return options;
}

TEST(DirectorAccessibilityAudit, EveryInspectorPagePassesTheAudit) {
    app();
    auto cameras = fourCameras();
    WindowRig rig(cameras, true); // with the live-production controls, to audit them as well
    rig.store->createProject("Show");
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    window.startSession();
    window.perform(DirectorTransition::cut);
    window.addMarker();
    rig.settings->setValue("director.liveProductionEnabled", true);
    cameras.erase(cameras.begin() + 3); // Delta leaves: a locked cell
    rig.channel.setCameras(cameras);
    for (auto tab : allDirectorInspectorTabs) {
        window.setInspectorTab(tab);
        Keyboard::choose(*window.stopAllButton());
        const AccessibilityAuditResult result = auditAccessibility(window, directorAudit());
        EXPECT_TRUE(result.ok()) << rawValue(tab) << ":\n" << result.report();
        EXPECT_GE(result.tabOrder.size(), 10u) << rawValue(tab);
    }
    WindowRig empty;
    const AccessibilityAuditResult result = auditAccessibility(*empty.window, directorAudit());
    EXPECT_TRUE(result.ok()) << result.report();
    EXPECT_EQ(accessibleNames(result.tabOrder),
              (QStringList{"Fade duration", "Inspector", "Project", "Take", "New take ID", "STOP ALL", "Stop All", "Scan",
                           "Library", "Scan Again"})); // from the first focus: without a camera, in the switcher
}

// --- Tab order and focus ---

TEST(DirectorKeyboard, TabVisitsEveryEnabledControlInReadingOrder) {
    app();
    RunningRig running;
    DirectorWindow& window = running.window();
    const QStringList common = {"Stop All", "Scan", "Library", "Slot 1: Alpha", "Slot 2: Bravo", "Slot 3: Charlie",
                                "Slot 4: Delta", "CUT", "FADE", "Fade duration", "Marker", "Inspector"};
    EXPECT_EQ(tabOrder(window), (common + QStringList{"Project", "Take", "New take ID", "REC ALL", "STOP ALL"}));
    window.setInspectorTab(DirectorInspectorTab::audio);
    EXPECT_EQ(tabOrder(window), common + QStringList{"Audio meters"});
    window.setInspectorTab(DirectorInspectorTab::camera);
    EXPECT_EQ(tabOrder(window),
              (common + QStringList{"Rotate 90\u00b0", "REC Camera", "STOP Camera", "Preview network and planned controls", "Policy"}));
    window.setInspectorTab(DirectorInspectorTab::edits);
    EXPECT_EQ(tabOrder(window), common); // no edit yet: the empty state, no list
    window.perform(DirectorTransition::cut);
    window.setInspectorTab(DirectorInspectorTab::edits);
    EXPECT_EQ(tabOrder(window).last(), "Edit Decisions");
}

// Without a camera the keyboard starts in the switcher, never on Stop All, and moves to the first
// tile once a camera comes, as long as the user left it there.
TEST(DirectorKeyboard, TheKeyboardStartsInTheSwitcherAndMovesToTheFirstCamera) {
    app();
    WindowRig rig;
    showActive(*rig.window);
    EXPECT_EQ(QApplication::focusWidget(), rig.window->switcher()->fadeDurationPicker());
    rig.channel.setCameras(fourCameras());
    EXPECT_EQ(QApplication::focusWidget(), rig.window->wall()->cell(0));
}

TEST(DirectorKeyboard, EveryTabStopShowsItsFocus) {
    app();
    RunningRig running;
    DirectorWindow& window = running.window();
    window.perform(DirectorTransition::cut); // an edit row for the Edits page
    for (auto tab : allDirectorInspectorTabs) {
        window.setInspectorTab(tab);
        Keyboard::choose(*window.stopAllButton());
        std::vector<QWidget*> stops;
        for (int i = 0; i < 100; ++i) {
            QWidget* focus = QApplication::focusWidget();
            if (!stops.empty() && focus == stops.front()) break;
            stops.push_back(focus);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        // Drawn with the focus and again with the focus on another control: the mark stands out by
        // 3:1 at the control's edge (Stop All's red face, Fade duration's box among them).
        expectFocusMarksStandOut(stops, "the Director on " + std::string(rawValue(tab)));
    }
    window.setInspectorTab(DirectorInspectorTab::edits);
    Keyboard::choose(*window.inspector()->edits()->list());
    saveScreenshot(window, "keyboard-focus-edits");
    window.setInspectorTab(DirectorInspectorTab::audio);
    Keyboard::choose(*window.inspector()->audio()->channelList());
    saveScreenshot(window, "keyboard-focus-audio");
    window.setInspectorTab(DirectorInspectorTab::session);
    Keyboard::choose(*window.wall()->cell(1));
    saveScreenshot(window, "keyboard-focus-tile");
    Keyboard::choose(*window.inspector()->tabBar());
    saveScreenshot(window, "keyboard-focus-tabs");
}

// The road of a keyboard user: Tab to the inspector, the arrows through every page, back to the
// wall with Shift+Tab, and Return on a tile.
TEST(DirectorKeyboard, KeyboardAloneOpensEveryPageAndSelectsACamera) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    Keyboard::choose(*window.stopAllButton());
    for (int i = 0; i < 30 && QApplication::focusWidget() != window.inspector()->tabBar(); ++i) press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), window.inspector()->tabBar()) << "Tab never reached the inspector";
    const DirectorInspectorTab order[] = {DirectorInspectorTab::audio, DirectorInspectorTab::camera,
                                          DirectorInspectorTab::edits};
    QWidget* pages[] = {window.inspector()->audio(), window.inspector()->camera(), window.inspector()->edits()};
    for (int i = 0; i < 3; ++i) {
        press(Qt::Key_Right);
        EXPECT_EQ(window.workspace().inspectorTab, order[i]);
        EXPECT_TRUE(pages[i]->isVisible());
    }
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    EXPECT_EQ(window.workspace().inspectorTab, DirectorInspectorTab::session);
    // Back through the switcher to the fourth tile.
    for (int i = 0; i < 10 && QApplication::focusWidget() != window.wall()->cell(3); ++i) press(Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), window.wall()->cell(3)) << "Shift+Tab never reached the fourth tile";
    press(Qt::Key_Return);
    EXPECT_EQ(window.workspace().timeline.previewCameraID, "cam-4");
    EXPECT_EQ(window.wall()->cell(3)->tileState().tag, TileTag::preview);
}

TEST(DirectorKeyboard, ReturnPressesTheFocusedButtonOnceAndSpaceStaysCut) {
    app();
    RunningRig running;
    DirectorWindow& window = running.window();
    auto& rig = running.rig;

    // "+" ignored Return before; now it makes a new take id.
    const std::string before = window.workspace().plannedTakeID;
    Keyboard::choose(*window.inspector()->session()->newTakeButton());
    press(Qt::Key_Return);
    EXPECT_NE(window.workspace().plannedTakeID, before);

    Keyboard::choose(*window.inspector()->session()->stopAllButton());
    press(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(rig.channel.stops.size(), 1u);

    // Space on a focused button is CUT, not a press of that button.
    press(Qt::Key_Space);
    EXPECT_EQ(rig.channel.stops.size(), 1u);
    EXPECT_EQ(window.workspace().timeline.programCameraID, "cam-1");

    // Return held on CUT: one cut, however long the key repeats.
    window.selectPreview("cam-2");
    Keyboard::choose(*window.switcher()->cutButton());
    hold(*window.switcher()->cutButton(), Qt::Key_Return, Qt::NoModifier, "\r", 5);
    EXPECT_EQ(window.workspace().timeline.programCameraID, "cam-2");
    EXPECT_EQ(window.workspace().timeline.previewCameraID, "cam-1");

    // Something took the shortcut check of Space (as a screen reader's bridge that is to send the
    // press again does): the press reaches the focused FADE or Marker and still only cuts.
    TakesSpaceChecks takesChecks;
    qApp->installEventFilter(&takesChecks);
    for (QPushButton* button : {window.switcher()->fadeButton(), window.switcher()->markerButton()}) {
        const std::size_t events = window.workspace().timeline.events.size();
        Keyboard::choose(*button);
        press(Qt::Key_Space);
        ASSERT_EQ(window.workspace().timeline.events.size(), events + 1) << button->text().toStdString();
        EXPECT_EQ(window.workspace().timeline.events.back().transition, DirectorTransition::cut);
    }
    qApp->removeEventFilter(&takesChecks);
}

// The first cut leaves no Preview, and CUT and FADE are disabled: the focus they had goes to the
// wall, on the first tile not on Program, where Return chooses the next Preview (not on to the Fade
// duration box, whose list the next Return would open).
TEST(DirectorKeyboard, TheFirstCutTakesTheFocusWhereTheNextPreviewIsChosen) {
    app();
    const struct {
        const char* what;
        std::function<QPushButton*(SwitcherView&)> button;
        std::function<void(QPushButton&)> act;
    } cases[] = {
        {"Return on CUT", &SwitcherView::cutButton, [](QPushButton&) { press(Qt::Key_Return); }},
        {"Space on CUT", &SwitcherView::cutButton, [](QPushButton&) { press(Qt::Key_Space); }},
        {"Return on FADE", &SwitcherView::fadeButton, [](QPushButton&) { press(Qt::Key_Return); }},
        {"Space on FADE", &SwitcherView::fadeButton, [](QPushButton&) { press(Qt::Key_Space); }},
        {"a click on the focused CUT", &SwitcherView::cutButton,
         [](QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }},
    };
    for (const auto& c : cases) {
        RunningRig running;
        DirectorWindow& window = running.window();
        QPushButton* button = c.button(*window.switcher());
        Keyboard::choose(*button);
        c.act(*button);
        ASSERT_EQ(window.workspace().timeline.programCameraID, "cam-1") << c.what;
        EXPECT_FALSE(button->isEnabled()) << c.what;
        EXPECT_EQ(spokenName(QApplication::focusWidget()).toStdString(), "Slot 2: Bravo") << c.what;
        press(Qt::Key_Return);
        EXPECT_EQ(window.workspace().timeline.previewCameraID, "cam-2") << c.what;
    }
}

TEST(DirectorKeyboard, HeldSpaceCutsOnceAndHeldCtrlPeriodStopsOnce) {
    app();
    RunningRig running;
    DirectorWindow& window = running.window();
    window.perform(DirectorTransition::cut); // Alpha on Program
    window.selectPreview("cam-2");
    Keyboard::choose(*window.wall()->cell(0));
    hold(*window.wall()->cell(0), Qt::Key_Space, Qt::NoModifier, " ", 5);
    EXPECT_EQ(loggedCuts(*running.rig.store), 2u);
    EXPECT_EQ(window.workspace().timeline.programCameraID, "cam-2");
    EXPECT_EQ(window.workspace().timeline.previewCameraID, "cam-1");

    hold(*window.wall()->cell(0), Qt::Key_Period, Qt::ControlModifier, ".", 5);
    EXPECT_EQ(running.rig.channel.stops.size(), 1u);
}

// --- The inspector's tab bar ---

TEST(DirectorInspectorTabs, ATabBarNamedInspectorForKeysAndAssistiveTools) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    InspectorTabBar* bar = window.inspector()->tabBar();
    QAccessibleInterface* tabs = accessible(bar);
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->role(), QAccessible::PageTabList);
    EXPECT_EQ(tabs->text(QAccessible::Name), "Inspector");
    ASSERT_EQ(tabs->childCount(), 4);
    const char* names[] = {"Session", "Audio", "Camera", "Edits"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tabs->child(i)->role(), QAccessible::PageTab);
        EXPECT_EQ(tabs->child(i)->text(QAccessible::Name), names[i]);
        EXPECT_EQ(tabs->indexOfChild(tabs->child(i)), i);
    }

    // Switching through the page tab, as a screen reader does.
    tabs->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(window.workspace().inspectorTab, DirectorInspectorTab::camera);
    EXPECT_TRUE(window.inspector()->camera()->isVisible());
    EXPECT_TRUE(tabs->child(2)->state().selected);
    EXPECT_FALSE(tabs->child(0)->state().selected);

    // Only the current tab of a focused bar reports the focus.
    Keyboard::choose(*window.stopAllButton());
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(tabs->child(i)->state().focused) << i;
    Keyboard::choose(*bar);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tabs->child(i)->state().focused, i == 2) << i;
    EXPECT_EQ(tabs->focusChild(), tabs->child(2));

    press(Qt::Key_Right);
    EXPECT_EQ(window.workspace().inspectorTab, DirectorInspectorTab::edits);
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    EXPECT_EQ(window.workspace().inspectorTab, DirectorInspectorTab::audio);

    // Ctrl+Tab, Ctrl+Page Down, Ctrl+Shift+Tab and Ctrl+Page Up switch tabs, round, from within a page
    // too; the keyboard, on a control of the page that hides, goes to the tab bar.
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, DirectorInspectorTab> switches[] = {
        {Qt::Key_Tab, Qt::ControlModifier, DirectorInspectorTab::camera},
        {Qt::Key_PageDown, Qt::ControlModifier, DirectorInspectorTab::edits},
        {Qt::Key_Tab, Qt::ControlModifier, DirectorInspectorTab::session},
        {Qt::Key_PageUp, Qt::ControlModifier, DirectorInspectorTab::edits},
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, DirectorInspectorTab::camera},
    };
    for (const auto& [key, modifiers, shown] : switches) {
        press(key, modifiers);
        EXPECT_EQ(window.workspace().inspectorTab, shown) << QKeySequence(key | modifiers).toString().toStdString();
        EXPECT_EQ(QApplication::focusWidget(), bar);
    }
    window.inspector()->camera()->policyPicker()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(window.workspace().inspectorTab, DirectorInspectorTab::edits);
    EXPECT_EQ(QApplication::focusWidget(), bar);

    // A marker still opens Edits, and the bar follows.
    rig.store->createProject("Show");
    window.startSession();
    window.addMarker();
    EXPECT_EQ(bar->currentIndex(), 3);
}

// --- Camera tiles ---

TEST(DirectorWallTiles, ALiveTileIsAButtonNamedAfterItsSlotAndCamera) {
    app();
    auto cameras = fourCameras();
    cameras[2].recording = true;
    cameras[2].recordingSinceMs = toWallMs(kNow) - 5000;
    WindowRig rig(cameras);
    rig.previews->wall["cam-2"] = halves(32, 18);
    showActive(*rig.window);
    CameraWall& wall = *rig.window->wall();

    QAccessibleInterface* tile = accessible(wall.cell(2));
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->role(), QAccessible::Button);
    EXPECT_EQ(tile->text(QAccessible::Name), "Slot 3: Charlie");
    EXPECT_EQ(tile->text(QAccessible::Description), "Camera recording, Connecting\u2026");
    EXPECT_TRUE(tile->state().focusable);
    ASSERT_TRUE(tile->actionInterface());
    EXPECT_TRUE(tile->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    tile->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(rig.window->workspace().timeline.previewCameraID, "cam-3");
    EXPECT_EQ(tile->text(QAccessible::Description), "Preview, Camera recording, Connecting\u2026");
    EXPECT_EQ(accessible(wall.cell(1))->text(QAccessible::Description), ""); // a frame, no routing

    // Return on a focused tile selects it; a held Return selects once and does no harm.
    Keyboard::choose(*wall.cell(1));
    press(Qt::Key_Return);
    EXPECT_EQ(rig.window->workspace().timeline.previewCameraID, "cam-2");

    // An empty slot is text, and Tab passes it by.
    QAccessibleInterface* empty = accessible(wall.cell(5));
    EXPECT_EQ(empty->role(), QAccessible::StaticText);
    EXPECT_EQ(empty->text(QAccessible::Name), "Slot 6: No camera");
    EXPECT_EQ(empty->text(QAccessible::Description), "Waiting");
    EXPECT_FALSE(empty->state().focusable);

    // A camera falls silent: the tile says so.
    rig.clock.advanceMs(10000);
    Q_EMIT rig.channel.livenessTickChanged();
    EXPECT_EQ(accessible(wall.cell(0))->text(QAccessible::Description), "Offline");
}

TEST(DirectorWallTiles, SpaceOnAFocusedTileIsCut) {
    app();
    RunningRig running;
    DirectorWindow& window = running.window();
    Keyboard::choose(*window.wall()->cell(2));
    press(Qt::Key_Space);
    EXPECT_EQ(window.workspace().timeline.programCameraID, "cam-1"); // CUT took Preview, the tile chose nothing
    EXPECT_FALSE(window.workspace().timeline.previewCameraID);
}

TEST(DirectorWallTiles, TheKeyboardOpensALockedCellsMenu) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    auto cameras = fourCameras();
    cameras.erase(cameras.begin() + 1);
    rig.channel.setCameras(cameras);
    CameraWallCell* locked = rig.window->wall()->cell(1);
    QAccessibleInterface* cell = accessible(locked);
    EXPECT_EQ(cell->text(QAccessible::Name), "Slot 2: Bravo");
    EXPECT_EQ(cell->text(QAccessible::Description), "Offline \u2022 slot 2 locked, Returns to this slot");
    EXPECT_TRUE(cell->state().focusable);
    EXPECT_TRUE(cell->actionInterface()->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
    EXPECT_FALSE(cell->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

    Keyboard::choose(*locked);
    press(Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = locked->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().value(0)->text(), "Release Camera Slot");
    EXPECT_EQ(menu->activeAction(), menu->actions().value(0)); // Return chooses it
    menu->close();
    QTest::qWait(10);

    // The Menu key reaches the cell from the platform as a keyboard context-menu event.
    QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, QPoint(), QPoint());
    QApplication::sendEvent(locked, &fromKeyboard);
    const auto menus = locked->findChildren<QMenu*>();
    ASSERT_EQ(menus.size(), 1);
    QTest::keyClick(menus.front(), Qt::Key_Return);
    EXPECT_FALSE(rig.window->workspace().cameraSlots.slots()[1].cameraID); // released
}

// A slot released from its menu by keyboard is empty and takes no focus: the focus goes by the
// keyboard's rule, to the window's home (the first tile with a camera) instead of staying, ring and
// all, on the empty cell.
TEST(DirectorWallTiles, ReleasingTheFocusedSlotByKeyboardMovesTheFocusToTheNextStop) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    auto cameras = fourCameras();
    cameras.erase(cameras.begin() + 1);
    rig.channel.setCameras(cameras);
    CameraWallCell* locked = rig.window->wall()->cell(1);
    ASSERT_EQ(locked->kind(), DirectorPresenters::WallCellKind::lockedOffline);
    Keyboard::choose(*locked);
    press(Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = locked->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QTest::keyClick(menu, Qt::Key_Return);
    rig.window->activateWindow(); // the window has its keys back once the menu is gone
    ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));

    EXPECT_EQ(locked->kind(), DirectorPresenters::WallCellKind::empty);
    EXPECT_FALSE(locked->hasFocus());
    EXPECT_EQ(QApplication::focusWidget(), rig.window->wall()->cell(0));
    saveScreenshot(*rig.window->wall(), "wall_after_keyboard_release");
}

TEST(DirectorWallTiles, ReleaseChosenAfterTheCameraCameBackKeepsItsSlot) {
    app();
    // Eight cameras fill the slots and a ninth waits for one.
    std::vector<LiveCamera> cameras;
    const char* names[] = {"Alpha", "Bravo", "Charlie", "Delta", "Echo", "Foxtrot", "Golf", "Hotel", "Aardvark"};
    for (int i = 0; i < 9; ++i)
        cameras.push_back(readyCamera("cam-" + std::to_string(i + 1), names[i], "10.77.0." + std::to_string(11 + i)));
    WindowRig rig({cameras.begin(), cameras.end() - 1});
    showActive(*rig.window);
    rig.channel.setCameras(cameras);
    auto without = cameras;
    without.erase(without.begin() + 1); // Bravo leaves the list: its slot is locked
    rig.channel.setCameras(without);
    CameraWallCell* cell = rig.window->wall()->cell(1);
    ASSERT_EQ(cell->kind(), DirectorPresenters::WallCellKind::lockedOffline);
    cell->openMenu(cell->mapToGlobal(cell->rect().center()));
    auto* menu = cell->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);

    rig.channel.setCameras(cameras); // Bravo is back while the menu is open
    menu->actions().value(0)->trigger();
    EXPECT_EQ(rig.window->workspace().cameraSlots.slots()[1].cameraID, "cam-2");
    const auto stored =
        DirectorCameraSlotLayout::decoded(rig.settings->value("director.cameraSlots.v1").toString().toStdString());
    EXPECT_EQ(stored.slots()[1].cameraID, "cam-2");
}

// --- Names, states and descriptions ---

TEST(DirectorAccessibleNames, ControlsAreNamedForWhatTheyAreNotTheirValue) {
    app();
    WindowRig rig(fourCameras(), true);
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    SessionInspector& session = *window.inspector()->session();
    EXPECT_EQ(spokenName(session.projectPicker()), "Project");
    EXPECT_EQ(spokenName(session.takeField()), "Take");
    EXPECT_EQ(spokenName(session.newTakeButton()), "New take ID");
    EXPECT_EQ(spokenName(window.switcher()->fadeDurationPicker()), "Fade duration");
    // A picker's choice is told once, as its value, not again as its description.
    QAccessibleInterface* fade = accessible(window.switcher()->fadeDurationPicker());
    EXPECT_EQ((QStringList{fade->text(QAccessible::Name), fade->text(QAccessible::Value), fade->text(QAccessible::Description)})
                  .join(". ").toStdString(),
              "Fade duration. 1.0 s. ");
    EXPECT_EQ(spokenName(window.inspector()->camera()->policyPicker()), "Policy");
    EXPECT_EQ(spokenName(window.inspector()->camera()->liveProductionFPSPicker()), "FPS");
    EXPECT_EQ(spokenName(window.inspector()->camera()->liveProductionToggle()), "Live Production \u00b7 1080p");
    EXPECT_EQ(spokenName(window.inspector()->edits()->list()), "Edit Decisions");
    EXPECT_EQ(spokenName(window.inspector()->audio()->channelList()), "Audio meters");

    // The visible "Take" label names the field for assistive tools as well (labelled-by).
    QAccessibleInterface* take = accessible(session.takeField());
    const auto labels = take->relations(QAccessible::Label);
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_EQ(labels.front().first->text(QAccessible::Name), "Take");

    // Each audio strip's disabled controls, with the channel they belong to.
    window.setInspectorTab(DirectorInspectorTab::audio);
    ASSERT_EQ(window.inspector()->audio()->channels().size(), 4u);
    CompactAudioChannel& bravo = *window.inspector()->audio()->channels()[1];
    for (auto [control, name] : {std::pair<QWidget*, const char*>{bravo.gainSlider(), "Gain"},
                                 {bravo.muteToggle(), "Mute"},
                                 {bravo.soloToggle(), "Solo"}}) {
        EXPECT_EQ(spokenName(control), name);
        EXPECT_EQ(accessible(control)->text(QAccessible::Description), "Bravo");
        EXPECT_TRUE(accessible(control)->state().disabled);
    }
}

// The Policy picker's choice is in the accessible tree although the picker has help text of its own.
TEST(DirectorAccessibleNames, ThePolicyPickerTellsItsChoice) {
    app();
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    QAccessibleInterface* policy = accessible(rig.window->inspector()->camera()->policyPicker());
    EXPECT_EQ(policy->text(QAccessible::Name), "Policy");
    EXPECT_EQ(policy->text(QAccessible::Value), "Auto");
    ASSERT_NE(policy->textInterface(), nullptr);
    EXPECT_EQ(policy->textInterface()->text(0, policy->textInterface()->characterCount()), "Auto");
}

// Each meter bar of the Audio page reads as its camera and level.
TEST(DirectorAccessibleNames, AudioMeterBarsReadTheirLevel) {
    app();
    auto cameras = fourCameras();
    cameras[1].leftDB = -20;
    cameras[1].rightDB = -3;
    WindowRig rig(cameras);
    showActive(*rig.window);
    rig.window->setInspectorTab(DirectorInspectorTab::audio);
    ASSERT_EQ(rig.window->inspector()->audio()->channels().size(), 4u);
    CompactAudioChannel& bravo = *rig.window->inspector()->audio()->channels()[1];
    QAccessibleInterface* left = accessible(bravo.leftMeter());
    QAccessibleInterface* right = accessible(bravo.rightMeter());
    EXPECT_EQ(left->role(), QAccessible::StaticText);
    EXPECT_EQ(left->text(QAccessible::Name), "Bravo, Left \u221220 dB");
    EXPECT_EQ(right->text(QAccessible::Name), "Bravo, Right \u22123 dB");
    // Each level is told once, by its bar: the strip's name and compact level text are for the eye.
    QAccessibleInterface* strip = accessible(&bravo);
    QStringList told;
    for (int i = 0; i < strip->childCount(); ++i)
        if (const QString name = strip->child(i)->text(QAccessible::Name); !name.isEmpty()) told << name;
    EXPECT_EQ(told.join(" | ").toStdString(), "Bravo, Left \u221220 dB | Bravo, Right \u22123 dB | GAIN | Gain | Mute | Solo");

    rig.clock.advanceMs(10000); // the camera falls silent
    Q_EMIT rig.channel.livenessTickChanged();
    EXPECT_EQ(left->text(QAccessible::Name), "Bravo, Left OFFLINE");
}

TEST(DirectorAccessibleNames, MonitorsNameTheirCameraAndItsState) {
    app();
    auto cameras = fourCameras();
    cameras[0].recording = true;
    WindowRig rig(cameras);
    showActive(*rig.window);
    DirectorMonitor& preview = *rig.window->switcher()->previewMonitor();
    DirectorMonitor& program = *rig.window->switcher()->programMonitor();
    EXPECT_EQ(spokenName(&preview), "Preview");
    EXPECT_EQ(accessible(&preview)->text(QAccessible::Description), "Alpha, Camera recording");
    EXPECT_EQ(spokenName(&program), "Program");
    EXPECT_EQ(accessible(&program)->text(QAccessible::Description), "No camera selected");

    rig.window->selectPreview("cam-9"); // a camera no longer listed
    EXPECT_EQ(accessible(&preview)->text(QAccessible::Description), "cam-9, OFFLINE");
    rig.window->selectPreview("cam-2");
    rig.clock.advanceMs(10000);
    Q_EMIT rig.channel.livenessTickChanged();
    EXPECT_EQ(accessible(&preview)->text(QAccessible::Description), "Bravo \u2022 OFFLINE");
}

TEST(DirectorAccessibleNames, EditRowsReadTheirTextAndOnlyTheFocusedListReportsFocus) {
    app();
    RunningRig running;
    DirectorWindow& window = running.window();
    running.rig.clock.advanceMs(5000);
    window.perform(DirectorTransition::cut);
    window.addMarker();
    QListView* list = window.inspector()->edits()->list();
    QAccessibleInterface* rows = accessible(list);
    ASSERT_NE(rows, nullptr);
    QStringList spoken;
    for (int i = 0; i < rows->childCount(); ++i) spoken << rows->child(i)->text(QAccessible::Name);
    EXPECT_EQ(spoken, (QStringList{"00:00:05 MARK Edit marker", "00:00:05 CUT Alpha"}));

    auto focusedRows = [&] {
        int focused = 0;
        for (int i = 0; i < rows->childCount(); ++i) focused += rows->child(i)->state().focused;
        return focused;
    };
    Keyboard::choose(*list);
    EXPECT_EQ(focusedRows(), 1);
    press(Qt::Key_Down);
    EXPECT_TRUE(rows->tableInterface()->cellAt(1, 0)->state().focused);
    Keyboard::choose(*window.stopAllButton());
    EXPECT_EQ(focusedRows(), 0);
}

// Five edits come while the Edit Decisions list is read: at the top the new rows come into view; a
// reader who scrolled down, or moved the current row down, keeps the rows they read and the
// current row where they were.
TEST(DirectorKeyboard, NewEditsKeepTheRowsBeingReadInPlace) {
    app();
    const struct {
        const char* name;
        std::function<void(QListView&)> read;
        bool follows;
    } cases[] = {
        {"at the top", [](QListView&) {}, true},
        {"at the top with the keys", [](QListView& list) { Keyboard::choose(list); press(Qt::Key_Home); }, true},
        {"scrolled down", [](QListView& list) { list.verticalScrollBar()->setValue(list.verticalScrollBar()->maximum() / 2); }, false},
        {"moved down with the keys", [](QListView& list) {
             Keyboard::choose(list);
             for (auto key : {Qt::Key_Home, Qt::Key_PageDown, Qt::Key_PageDown}) press(key);
         }, false},
    };
    for (const auto& c : cases) {
        RunningRig running;
        DirectorWindow& window = running.window();
        for (int i = 0; i < 300; ++i) {
            running.rig.clock.advanceMs(1000);
            window.addMarker();
        }
        QListView& list = *window.inspector()->edits()->list();
        c.read(list);
        auto firstShown = [&] { return list.indexAt(QPoint(2, 2)); };
        auto text = [](const QModelIndex& index) { return index.data().toString().toStdString(); };
        const std::string first = text(firstShown());
        const int firstTop = list.visualRect(firstShown()).top();
        const std::string current = text(list.currentIndex());
        for (int i = 0; i < 5; ++i) {
            running.rig.clock.advanceMs(1000);
            window.addMarker();
        }
        const QModelIndex shown = firstShown();
        if (c.follows) {
            EXPECT_EQ(shown.row(), 0) << c.name << ": " << text(shown);
            if (list.hasFocus()) {
                EXPECT_EQ(list.currentIndex().row(), 0) << c.name;
            }
        } else {
            EXPECT_EQ(text(shown), first) << c.name;
            EXPECT_EQ(list.visualRect(shown).top(), firstTop) << c.name;
            EXPECT_EQ(text(list.currentIndex()), current) << c.name;
        }
        if (list.hasFocus()) {
            EXPECT_TRUE(list.viewport()->rect().contains(list.visualRect(list.currentIndex()))) << c.name;
        }
    }
}

// --- Texts from phones ---

TEST(DirectorPlainText, EveryPhoneTextIsDrawnAsPlainText) {
    app();
    const std::string markup = "<b>Bold</b><img src=x>";
    auto cameras = fourCameras();
    for (auto& camera : cameras) camera.name = camera.name + markup;
    cameras[0].quality = markup;
    cameras[0].previewTransport.codec = markup;
    cameras[0].previewTransport.policy = markup;
    cameras[0].previewTransport.band = markup;
    cameras[0].previewTransport.thermalLevel = markup;
    cameras[0].previewTransport.modes = {4};
    RunningRig running(cameras);
    DirectorWindow& window = running.window();
    running.rig.channel.message = markup;
    running.rig.channel.status.stopResults = {{"cam-1", markup}};
    Q_EMIT running.rig.channel.recordingStatusChanged();
    window.perform(DirectorTransition::cut);
    int checked = 0;
    for (auto tab : allDirectorInspectorTabs) {
        window.setInspectorTab(tab);
        for (QLabel* label : window.findChildren<QLabel*>()) {
            if (!label->text().contains("<b>")) continue;
            ++checked;
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString() << " on " << rawValue(tab);
        }
        for (QWidget* widget : window.findChildren<QWidget*>())
            EXPECT_FALSE(widget->toolTip().contains("<b>")) << widget->objectName().toStdString();
    }
    EXPECT_GT(checked, 10); // the names, the Camera rows, the message, the stop result, the edit row
}

// A camera whose name fills the room: the name is cut, the state after it still shows, and the
// whole text is the tooltip. Each view is drawn with the camera online, then offline.
TEST(DirectorPlainText, ALongNameKeepsTheCamerasStateInSight) {
    app();
    auto cameras = fourCameras();
    cameras[0].name = "Balcony Wide Camera on the North Gallery 12"; // 43 characters
    RunningRig running(cameras);
    DirectorWindow& window = running.window();
    window.resize(1050, 690);
    window.perform(DirectorTransition::cut);
    window.selectPreview("cam-1");
    QListView* list = window.inspector()->edits()->list();
    DirectorMonitor* program = window.switcher()->programMonitor();
    ElidedLabel* heading = window.inspector()->camera()->heading()->titleLabel();
    const struct {
        const char* name;
        DirectorInspectorTab tab;
        std::function<QImage()> drawn;
        std::function<QString()> toolTip;
        const char* whole;
    } views[] = {
        {"edit row", DirectorInspectorTab::edits,
         [&] { return list->viewport()->grab(list->visualRect(list->model()->index(0, 0))).toImage(); },
         [&] { return list->model()->index(0, 0).data(Qt::ToolTipRole).toString(); },
         "00:00:00 CUT Balcony Wide Camera on the North Gallery 12 \u2022 OFFLINE"},
        {"Program monitor", DirectorInspectorTab::edits,
         [&] { return program->grab(QRect(0, 0, program->width(), program->fontMetrics().height() + 4)).toImage(); },
         [&] { return program->toolTip(); }, "Balcony Wide Camera on the North Gallery 12 \u2022 OFFLINE"},
        {"Camera page heading", DirectorInspectorTab::camera, [&] { return heading->grab().toImage(); },
         [&] { return heading->toolTip(); }, "Balcony Wide Camera on the North Gallery 12 \u2022 OFFLINE"},
    };
    std::vector<QImage> online;
    for (const auto& view : views) {
        window.setInspectorTab(view.tab);
        online.push_back(view.drawn());
    }
    running.rig.clock.advanceMs(10000);
    Q_EMIT running.rig.channel.livenessTickChanged();
    for (std::size_t i = 0; i < std::size(views); ++i) {
        window.setInspectorTab(views[i].tab);
        EXPECT_NE(views[i].drawn(), online[i]) << views[i].name << " looks the same offline";
        EXPECT_EQ(toolTipAsShown(views[i].toolTip()), views[i].whole) << views[i].name;
    }
    window.setInspectorTab(DirectorInspectorTab::edits);
    saveScreenshot(window, "long-offline-name");
}

// --- The window's size and live-production controls ---

TEST(DirectorWindowSize, TheContentKeepsItsMinimumUnderAMenuBar) {
    app();
    WindowRig rig(fourCameras());
    rig.window->menuBar()->addMenu("Window");
    showActive(*rig.window);
    rig.window->resize(400, 300); // as small as the window allows
    QTest::qWait(20);
    EXPECT_GE(rig.window->centralWidget()->width(), 1050);
    EXPECT_GE(rig.window->centralWidget()->height(), 690);
    EXPECT_GT(rig.window->height(), 690); // the menu bar comes on top of the content's minimum
}

TEST(DirectorCameraInspector, LongUnbrokenValuesAreCutAndTheColumnKeepsItsWidth) {
    app();
    auto cameras = fourCameras();
    cameras[0].quality = std::string(120, 'Q');
    cameras[0].previewTransport.codec = std::string(150, 'C');
    cameras[0].previewTransport.modes = {4};
    WindowRig rig(cameras);
    showActive(*rig.window);
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    QTest::qWait(20);
    CameraInspector& inspector = *rig.window->inspector()->camera();
    EXPECT_EQ(rig.window->inspector()->width(), 340);
    auto* scroll = inspector.findChild<QScrollArea*>("cameraDesk");
    ASSERT_NE(scroll, nullptr);
    EXPECT_LE(scroll->widget()->width(), scroll->viewport()->width());
    for (int row : {3, 4}) { // "Camera" and "Capture"
        TwoLineLabel* value = inspector.statusRows()[static_cast<std::size_t>(row)]->valueLabel();
        const QStringList lines = value->shownLines();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.back().endsWith(QChar(0x2026))) << lines.back().toStdString();
        EXPECT_LE(value->mapTo(scroll->viewport(), value->rect().topRight()).x(), scroll->viewport()->width());
        EXPECT_EQ(value->text().size(), row == 3 ? 150 : 120); // what assistive tools read stays whole
    }
    saveScreenshot(*rig.window, "inspector-camera-long-values");
}

TEST(DirectorTwoLineText, WrapsAtSpacesAndCutsWhatDoesNotFit) {
    app();
    const QFont font = QApplication::font();
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance("jpeg \u2022 BALANCED") + 4;
    EXPECT_EQ(twoLineText("jpeg", font, width), QStringList{"jpeg"});
    EXPECT_EQ(twoLineText("jpeg \u2022 BALANCED \u2022 12/8 fps", font, width),
              (QStringList{"jpeg \u2022 BALANCED", "\u2022 12/8 fps"}));
    const QStringList cut = twoLineText(QString(80, 'X'), font, width);
    ASSERT_EQ(cut.size(), 1);
    EXPECT_TRUE(cut[0].endsWith(QChar(0x2026)));
    EXPECT_LE(metrics.horizontalAdvance(cut[0]), width);
    const QStringList three = twoLineText("alpha bravo charlie delta echo foxtrot golf hotel india", font, width);
    ASSERT_EQ(three.size(), 2);
    EXPECT_TRUE(three[1].endsWith(QChar(0x2026)));
    EXPECT_TRUE(twoLineText("", font, width).isEmpty());
}

TEST(DirectorLiveProduction, HiddenByTheProfileShownThroughItsSeamAndBoundToTheSettings) {
    app();
    {
        WindowRig hidden(fourCameras());
        showActive(*hidden.window);
        hidden.window->setInspectorTab(DirectorInspectorTab::camera);
        EXPECT_EQ(hidden.window->inspector()->camera()->liveProductionToggle(), nullptr);
        EXPECT_EQ(hidden.window->inspector()->camera()->liveProductionFPSPicker(), nullptr);
        EXPECT_TRUE(hidden.window->findChildren<QCheckBox*>().isEmpty());
    }
    WindowRig rig(fourCameras(), true);
    rig.settings->setValue("director.liveProductionFPS", 30);
    showActive(*rig.window);
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    CameraInspector& inspector = *rig.window->inspector()->camera();
    QCheckBox* toggle = inspector.liveProductionToggle();
    QComboBox* fps = inspector.liveProductionFPSPicker();
    ASSERT_NE(toggle, nullptr);
    ASSERT_NE(fps, nullptr);
    EXPECT_EQ(toggle->text(), "Live Production \u00b7 1080p");
    ASSERT_EQ(fps->count(), 2);
    EXPECT_EQ(fps->itemText(0), "25 fps");
    EXPECT_EQ(fps->itemText(1), "30 fps");
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(fps->isEnabled()); // waits for the toggle
    EXPECT_EQ(fps->currentText(), "30 fps");
    EXPECT_EQ(inspector.statusRows().back()->value(), "Off");
    saveScreenshot(*rig.window, "inspector-camera-live-production");

    toggle->click();
    EXPECT_TRUE(rig.settings->value("director.liveProductionEnabled").toBool());
    EXPECT_TRUE(fps->isEnabled());
    EXPECT_EQ(inspector.statusRows().back()->value(), "Unavailable in this build");
    fps->setCurrentIndex(0);
    Q_EMIT fps->activated(0);
    EXPECT_EQ(rig.settings->value("director.liveProductionFPS").toLongLong(), 25);

    // Space is CUT here, so Return toggles the focused check box.
    Keyboard::choose(*toggle);
    press(Qt::Key_Return);
    EXPECT_FALSE(rig.settings->value("director.liveProductionEnabled").toBool());
    EXPECT_FALSE(fps->isEnabled());
    // A stored rate that is not allowed shows as the default.
    rig.settings->setValue("director.liveProductionFPS", 60);
    rig.window->setInspectorTab(DirectorInspectorTab::session);
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    EXPECT_EQ(fps->currentText(), "25 fps");
}

} // namespace
} // namespace velk
