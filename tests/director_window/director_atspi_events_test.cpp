// What a screen reader is told when an edit comes, counted on the accessibility bus: the same
// number of events for a new edit whether the Edit Decisions list holds 50 rows or 500, so its work
// per edit stays flat as a session grows. Both lists are longer than the view, so neither count
// holds the scroll bars that a list shows once it outgrows its view. The list is told as a table,
// and a screen reader finds its focused row in as few calls with 600 rows as with 10, wherever that
// row is, through its Table, whose cells are its rows in order. A combo box tells each new choice,
// also one made in its popup, and a tile chosen as Preview tells its new state as text a screen
// reader reads.

#include <QAccessible>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "director_fakes.hpp"
#include "app/keyboard_keeper.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window/switcher_view.hpp"
#include "director_window_support.hpp"
#include "support/build_paths.hpp"
#include "support/atspi_events.hpp"
#include "support/qt_test.hpp"

namespace velk {
namespace {

using namespace test;

// A session of `rows` edits with the Edit Decisions list shown.
void showEdits(WindowRig& rig, int rows) {
    rig.store->createProject("Show");
    showActive(*rig.window);
    DirectorWindow& window = *rig.window;
    window.startSession();
    window.perform(DirectorTransition::cut); // Alpha to Program; each cut then swaps it with Bravo
    window.selectPreview("cam-2");
    for (int edit = 1; edit < rows; ++edit) window.perform(DirectorTransition::cut);
    window.setInspectorTab(DirectorInspectorTab::edits);
    ASSERT_EQ(window.inspector()->edits()->list()->model()->rowCount(), rows);
}

// The cases run in a screen reader's session, with the counter listening on its accessibility bus.
class DirectorAtspiEvents : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = test::outsideAScreenReadersSession()) GTEST_SKIP() << *why;
        app();
        onBus.emplace();
        ASSERT_TRUE(onBus->listening()) << "no count from tests/support/atspi_event_counter";
    }
    std::optional<AtspiEventCounter> onBus;
};

TEST_F(DirectorAtspiEvents, ANewEditTellsAsMuchWithFiftyRowsAsWithFiveHundred) {
    AtspiEventCounter& counter = *onBus;
    std::string lines[2];
    int events[2] = {0, 0};
    const int rows[] = {50, 500};
    for (int i = 0; i < 2; ++i) {
        WindowRig rig(fourCameras());
        ASSERT_NO_FATAL_FAILURE(showEdits(rig, rows[i]));
        DirectorWindow& window = *rig.window;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(window.inspector()->edits()->list());
        const QAccessible::Id top = QAccessible::uniqueId(list->child(0));
        // What came before counts for nothing, also what the window left for its event loop.
        ASSERT_TRUE(counter.countUntilQuiet()) << "the rows were made";
        window.perform(DirectorTransition::cut);
        const std::optional<std::string> line = counter.countUntilQuiet();
        ASSERT_TRUE(line) << "no count after the edit on " << rows[i] << " rows";
        lines[i] = *line;
        events[i] = total(*line);
        // The new row is told as the list's new child; the row that was on top keeps its object.
        EXPECT_NE(line->find("ChildrenChanged:add=1"), std::string::npos) << *line;
        EXPECT_EQ(QAccessible::uniqueId(list->child(1)), top) << rows[i] << " rows";
    }
    EXPECT_EQ(events[0], events[1]);
    std::cout << "with 50 rows: " << lines[0] << "\nwith 500 rows: " << lines[1] << std::endl;
}

// A new project refills the Project box, one choice at a time, while its list of choices is closed:
// told as one change, not as a new child per project (a screen reader reads each before it speaks
// again).
TEST_F(DirectorAtspiEvents, ARefilledProjectBoxIsToldAsOneChange) {
    WindowRig rig(fourCameras());
    VELKLibrary library;
    for (int project = 0; project < 300; ++project)
        library.projects.push_back({"p" + std::to_string(project), "Project " + std::to_string(project), 1, {}});
    rig.store->setLibrary(library);
    showActive(*rig.window);
    ASSERT_TRUE(onBus->countUntilQuiet()) << "the window was shown";
    rig.store->createProject("New");
    const std::optional<std::string> told = onBus->countUntilQuiet();
    ASSERT_TRUE(told) << "the application never fell quiet";
    const std::size_t added = told->find("ChildrenChanged:add=");
    EXPECT_LE(added == std::string::npos ? 0 : std::stoi(told->substr(added + 20)), 1) << *told;
    std::cout << "New among 300 projects: " << *told << std::endl;
}

// The counter's answer after "calls ": "N M size S index I place P".
struct Found {
    std::string tableCalls;
    std::string childrenCalls;
    int size = -1;
    int index = -1;
    int place = -1;
};
Found foundIn(const std::string& answer) {
    Found found;
    std::string size, index, place;
    std::istringstream(answer) >> found.tableCalls >> found.childrenCalls >> size >> found.size >> index >>
        found.index >> place >> found.place;
    return found;
}

// One arrow key after another in the list, each followed by a screen reader's search for the focused
// row, then Tab out of the list and the search once more. The focused list tells its true size and
// the row's true position, as a screen reader reads them: its rows, its child count, and the row's
// index in it, which is its place among the children, as a screen reader takes a cell's row from
// its index through the Table.
TEST_F(DirectorAtspiEvents, AToolFindsTheFocusedRowInAsFewCallsAtSixHundredRowsAsAtTen) {
    AtspiEventCounter& counter = *onBus;
    std::set<std::string> callsToFind;
    std::set<std::string> afterLeaving;
    for (const int rows : {10, 100, 101, 600}) {
        WindowRig rig(fourCameras());
        ASSERT_NO_FATAL_FAILURE(showEdits(rig, rows));
        QListView* view = rig.window->inspector()->edits()->list();
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
        Keyboard::choose(*view);
        ASSERT_TRUE(waitUntil([&] { return view->hasFocus(); }));
        for (const int from : {8, rows * 13 / 15 - 1, rows - 2}) {
            view->setCurrentIndex(view->model()->index(from, 0));
            QElapsedTimer round;
            round.start();
            QTest::keyClick(view, Qt::Key_Down);
            // The screen reader's bridge hands the key on when its listener has let it pass.
            ASSERT_TRUE(waitUntil([&] { return view->currentIndex().row() == from + 1; })) << "row " << from;
            const std::optional<std::string> line = counter.findFocusedChild(list);
            ASSERT_TRUE(line) << "no answer at row " << from + 1 << " of " << rows;
            const std::string found =
                "focused " + AtspiEventCounter::path(list->tableInterface()->cellAt(from + 1, 0)) + " calls ";
            ASSERT_EQ(line->substr(0, found.size()), found) << *line;
            const Found read = foundIn(line->substr(found.size()));
            callsToFind.insert(read.tableCalls);
            // Every row is a child of the focused list, in order, and the row's index in it is its row.
            EXPECT_EQ(list->role(), QAccessible::Table);
            EXPECT_EQ(list->tableInterface()->rowCount(), rows);
            EXPECT_EQ(read.size, rows) << *line;
            EXPECT_EQ(read.index, from + 1) << *line;
            EXPECT_EQ(read.place, from + 1) << *line;
            std::cout << rows << " rows, Down to row " << from + 1 << ": " << *line << " in " << round.elapsed()
                      << " ms" << std::endl;
        }
        QTest::keyClick(view, Qt::Key_Tab);
        ASSERT_TRUE(waitUntil([&] { return !view->hasFocus(); }));
        const std::optional<std::string> line = counter.findFocusedChild(list);
        ASSERT_TRUE(line) << "no answer after Tab out of " << rows << " rows";
        ASSERT_EQ(line->rfind("focused none calls ", 0), 0u) << *line;
        const Found read = foundIn(line->substr(19));
        afterLeaving.insert(read.tableCalls);
        std::cout << rows << " rows, Tab out: " << *line << std::endl;
    }
    EXPECT_EQ(callsToFind.size(), 1u) << "the calls to find the focused row differ with the row or the rows";
    EXPECT_EQ(afterLeaving.size(), 1u) << "the calls after Tab out differ with the rows";
}

// A closed combo box changed by a key (an arrow, a typed letter) describes its new choice and the
// choice's place, in text, which Orca speaks as the focused box's new description and reads in its
// "Where am I" on the box, which names nothing more (a name change of a combo box it ignores, and
// Qt's selection change it cannot read); the focus stays on the box. The inspector's page switch
// before it is told as one change of page, which leaves a screen reader no backlog to work through.
TEST_F(DirectorAtspiEvents, AKeyOnAClosedBoxTellsTheNewChoice) {
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    ASSERT_TRUE(onBus->countUntilQuiet()) << "the window was shown";
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    const std::optional<std::string> page = onBus->countUntilQuiet();
    ASSERT_TRUE(page) << "the application never fell quiet";
    // The page switch is told as the page that hides and the one that shows, not each control on them.
    EXPECT_LE(counted(*page, "StateChanged:showing"), 2) << *page;
    std::cout << "the camera page: " << *page << std::endl;
    QComboBox* duration = rig.window->switcher()->fadeDurationPicker();
    QComboBox* policy = rig.window->inspector()->camera()->policyPicker();
    const struct {
        QComboBox* box;
        Qt::Key key;
        const char* chosen;
        const char* told; // the description told, as the counter writes it
    } keys[] = {
        {duration, Qt::Key_Down, "1.5 s", "1.5_s,_3_of_4"},      {duration, Qt::Key_Up, "1.0 s", "1.0_s,_2_of_4"},
        {duration, Qt::Key_2, "2.0 s", "2.0_s,_4_of_4"},         {policy, Qt::Key_Down, "5 GHz Performance", "5_GHz_Performance,_2_of_3"},
        {policy, Qt::Key_Up, "Auto", "Auto,_1_of_3"},            {policy, Qt::Key_2, "2.4 GHz Conservative", "2.4_GHz_Conservative,_3_of_3"},
    };
    for (const auto& [box, key, chosen, told] : keys) {
        if (!box->hasFocus()) {
            Keyboard::choose(*box);
            ASSERT_TRUE(waitUntil([&] { return box->hasFocus(); }));
            ASSERT_TRUE(onBus->told()) << "the box took the focus";
        }
        QTest::keyClick(box, key);
        ASSERT_TRUE(waitUntil([&] { return box->currentText() == chosen; })) << chosen;
        const std::optional<std::string> line = onBus->countUntilQuiet();
        ASSERT_TRUE(line) << "the application never fell quiet";
        EXPECT_NE(line->find("PropertyChange:accessible-description=\"" + std::string(told) + "\"=1"), std::string::npos) << *line;
        EXPECT_EQ(onBus->told(), std::vector<std::string>{}) << chosen;
    }
}

// A choice made in a combo box's popup (Alt+Down, Down, Return) is told by the box taking the focus
// back, which a screen reader speaks with the box's name and new value, and nothing else is: not
// the choice again as an item's focus, which the screen reader's focus already is.
TEST_F(DirectorAtspiEvents, AChoiceInAPopupTellsTheNewChoiceAlone) {
    WindowRig rig(fourCameras());
    showActive(*rig.window);
    rig.window->setInspectorTab(DirectorInspectorTab::camera);
    const std::pair<QComboBox*, std::string> boxes[] = {
        {rig.window->switcher()->fadeDurationPicker(), "1.5 s"},
        {rig.window->inspector()->camera()->policyPicker(), "5 GHz Performance"},
    };
    for (const auto& [box, chosen] : boxes) {
        Keyboard::choose(*box);
        ASSERT_TRUE(waitUntil([&] { return box->hasFocus(); }));
        QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
        ASSERT_TRUE(waitUntil([&] { return box->view()->isVisible(); }));
        const int from = box->view()->currentIndex().row();
        QTest::keyClick(box->view(), Qt::Key_Down);
        ASSERT_TRUE(waitUntil([&] { return box->view()->currentIndex().row() == from + 1; }));
        ASSERT_TRUE(onBus->told()) << "the popup opened";
        QTest::keyClick(box->view(), Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return !box->view()->isVisible() && box->currentText().toStdString() == chosen; }));
        ASSERT_TRUE(waitUntil([&] { return box->window()->isActiveWindow(); }));
        EXPECT_EQ(onBus->told(), std::vector<std::string>{"focused combo box " + box->accessibleName().toStdString()}) << chosen;
    }
}

// Return on a tile makes its camera the Preview, which the tile tells as its new description: as
// text that a screen reader reads and speaks, not as the object Qt's bridge puts in its place. On the
// Program tile of a running session, it says that CUT and FADE are greyed out.
TEST_F(DirectorAtspiEvents, APreviewChoiceIsToldAsTheTilesNewDescriptionInText) {
    AtspiEventCounter& counter = *onBus;
    WindowRig rig(fourCameras());
    ASSERT_NO_FATAL_FAILURE(showActive(*rig.window));
    rig.store->createProject("Show");
    rig.window->startSession();
    for (const bool onProgram : {false, true}) {
        CameraWallCell* tile = rig.window->wall()->cell(2);
        if (onProgram) {
            rig.window->perform(DirectorTransition::cut);
            ASSERT_EQ(rig.window->workspace().timeline.programCameraID, std::optional<std::string>("cam-3"));
        }
        Keyboard::choose(*tile);
        ASSERT_TRUE(waitUntil([&] { return tile->hasFocus(); }));
        ASSERT_TRUE(counter.countUntilQuiet()) << "the tile took the focus";
        QTest::keyClick(tile, Qt::Key_Return);
        ASSERT_TRUE(waitUntil([&] { return rig.window->workspace().timeline.previewCameraID == "cam-3"; }));
        const std::optional<std::string> line = counter.countUntilQuiet();
        ASSERT_TRUE(line) << "the application never fell quiet";
        const std::string told = "PropertyChange:accessible-description=\"" +
                                 tile->accessibleDescription().replace(QLatin1Char(' '), QLatin1Char('_')).toStdString() + "\"=1";
        EXPECT_TRUE(tile->accessibleDescription().startsWith(
            QString::fromUtf8(onProgram ? "Program and Preview, CUT and FADE unavailable" : "Preview")))
            << told;
        EXPECT_NE(line->find(told), std::string::npos) << *line;
    }
}

// What was told after a press of `button` with Return, once the press has `done` its work; the
// milliseconds from the press to the last notification go to `newsMs`.
std::vector<std::string> pressAndHear(AtspiEventCounter& counter, QPushButton& button, const std::function<bool()>& done,
                                      qint64* newsMs = nullptr) {
    Keyboard::choose(button);
    EXPECT_TRUE(waitUntil([&] { return button.hasFocus(); }) && counter.told()) << "the button took the focus";
    counter.notifiedAtMs.clear();
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(&button, Qt::Key_Return);
    // The screen reader's bridge hands the key on when its listener has let it pass.
    EXPECT_TRUE(waitUntil(done)) << button.text().toStdString() << " did nothing";
    const std::vector<std::string> told = counter.told().value_or(std::vector<std::string>{"no answer"});
    if (newsMs && !counter.notifiedAtMs.empty()) *newsMs = counter.notifiedAtMs.back() - clock.msecsSinceReference();
    for (const std::string& each : told) std::cout << button.text().toStdString() << ": " << each << std::endl;
    return told;
}

// `news` was told, and before the keyboard moved.
void expectToldBeforeTheMove(const std::vector<std::string>& told, const std::string& news) {
    const auto said = std::find(told.begin(), told.end(), "notification " + news);
    const auto moved = std::find_if(told.begin(), told.end(), [](const std::string& each) { return each.starts_with("focused"); });
    EXPECT_LT(said, moved) << news;
    EXPECT_NE(moved, told.end()) << "the keyboard stayed";
}

// What REC ALL, Start Director Session and STOP ALL did is told as news, which a screen reader speaks
// wherever the focus is: REC ALL refused on a take already prepared in this session, within a second,
// the keyboard staying; a session or a recording started, before the control the keyboard moves to
// as the pressed one greys out.
TEST_F(DirectorAtspiEvents, WhatTheRecordingControlsDidIsToldBeforeTheKeyboardMoves) {
    WindowRig rig(fourCameras());
    rig.store->createProject("Show");
    ASSERT_NO_FATAL_FAILURE(showActive(*rig.window));
    SessionInspector& session = *rig.window->inspector()->session();
    rig.channel.beginMessage = "Use a new take ID; this take was already prepared in this session.";
    qint64 newsMs = -1;
    std::vector<std::string> told = pressAndHear(*onBus, *session.recAllButton(), [&] { return !rig.channel.begins.empty(); }, &newsMs);
    EXPECT_NE(std::find(told.begin(), told.end(), "notification " + *rig.channel.beginMessage), told.end());
    EXPECT_TRUE(std::none_of(told.begin(), told.end(), [](const std::string& each) { return each.starts_with("focused"); }));
    EXPECT_TRUE(newsMs >= 0 && newsMs < 1000) << newsMs << " ms";
    std::cout << "the refusal told " << newsMs << " ms after the press" << std::endl;
    told = pressAndHear(*onBus, *session.startButton(), [&] { return rig.window->workspace().timeline.isRunning(); });
    expectToldBeforeTheMove(told, "Started Director edit log " + rig.window->workspace().plannedTakeID + ".");
    rig.channel.beginningBlocks = true;
    rig.channel.beginMessage = "Checking camera clocks\u2026";
    told = pressAndHear(*onBus, *session.recAllButton(), [&] { return !session.recAllButton()->isEnabled(); });
    expectToldBeforeTheMove(told, *rig.channel.beginMessage);
    told = pressAndHear(*onBus, *session.stopAllButton(), [&] { return !rig.channel.stops.empty(); });
    EXPECT_EQ(told, std::vector<std::string>{"notification Stop All requested; acceptance and finalization remain separate."});
}

// A held key tells the row it stops at, not every row it passes: a screen reader would still be
// reading the rows long after the key is let go.
TEST_F(DirectorAtspiEvents, AHeldArrowKeyTellsOnlyTheRowItStopsAt) {
    AtspiEventCounter& counter = *onBus;
    WindowRig rig(fourCameras());
    ASSERT_NO_FATAL_FAILURE(showEdits(rig, 100));
    QListView* view = rig.window->inspector()->edits()->list();
    Keyboard::choose(*view);
    view->setCurrentIndex(view->model()->index(0, 0));
    ASSERT_TRUE(waitUntil([&] { return view->hasFocus(); }));
    ASSERT_TRUE(counter.countUntilQuiet()) << "the list took the focus";
    constexpr int repeats = 20;
    // Fewer than the 150 ms after which a held key's row is told, so every pause that may tell one
    // is counted.
    KeyPauses paused(*view, 100);
    QTest::keyPress(view, Qt::Key_Down);
    for (int repeat = 0; repeat < repeats; ++repeat)
        QTest::simulateEvent(view, true, Qt::Key_Down, Qt::NoModifier, QString(), true);
    QTest::keyRelease(view, Qt::Key_Down);
    ASSERT_TRUE(waitUntil([&] { return view->currentIndex().row() == repeats + 1; }));
    // The press's row at once, then the last repeat's once the key has stopped repeating: two rows'
    // focus, each told as the focus leaving one row and reaching the next, and one more row for each
    // pause the screen reader's bridge made in handing the repeats on.
    std::string told;
    int events = 0;
    waitUntil([&] {
        if (const std::optional<std::string> line = counter.count(); line && *line != "events 0") {
            told += *line + " ";
            events += total(*line);
        }
        return events >= 4;
    }, 20'000);
    const std::optional<std::string> rest = counter.countUntilQuiet();
    ASSERT_TRUE(rest) << "the application never fell quiet";
    EXPECT_GE(events + total(*rest), 4) << told << *rest;
    EXPECT_LE(events + total(*rest), 4 + 2 * paused.pauses) << told << *rest;
    EXPECT_EQ(view->currentIndex().row(), repeats + 1);
}

} // namespace
} // namespace velk


