// What a screen reader is told when an edit comes, counted on the accessibility bus: the same
// number of events for a new edit whether the Edit Decisions list holds 50 rows or 500, so its work
// per edit stays flat as a session grows. Both lists are longer than the view, so neither count
// holds the scroll bars that a list shows once it outgrows its view. A screen reader also finds the
// list's focused row in as few calls with 600 rows as with 10, wherever that row is, through the
// list's Table; and one that reads the list's children instead, as Orca does, reads as many with
// 600 rows as with 100. A tile chosen as Preview tells its new state as text a screen reader reads.

#include <QAccessible>
#include <QElapsedTimer>
#include <QListView>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "director_fakes.hpp"
#include "director_window/camera_wall.hpp"
#include "director_window/director_inspectors.hpp"
#include "director_window_support.hpp"
#include "support/build_paths.hpp"
#include "support/child_process.hpp"
#include "support/qt_test.hpp"

namespace velk {
namespace {

using namespace test;

// tests/support/atspi_event_counter on the session's accessibility bus, ended with the case. Each
// count closes with a name change of a widget of this program's own, which the bridge sends after
// everything before it.
class AtspiEventCounter {
public:
    AtspiEventCounter()
        : m_counter({"/usr/bin/python3", sourcePath("tests/support/atspi_event_counter")}, "", true) {
        m_listening = m_counter.readLine(10'000) == "listening";
        if (!m_listening) return;
        QAccessibleInterface* marker = QAccessible::queryAccessibleInterface(&m_marker);
        m_counter.writeLine("mark " + path(marker));
        // The bridge sends every object event once it has learnt of the counter's registration.
        bool counted = false;
        m_listening = waitUntil([&] { return counted || (counted = count(5'000).has_value()); }, 20'000);
    }

    bool listening() const { return m_listening; }

    static std::string path(QAccessibleInterface* object) {
        return "/org/a11y/atspi/accessible/" + std::to_string(QAccessible::uniqueId(object));
    }

    // The counter's searches for the focused child of a list: "focused PATH calls TABLE CHILDREN".
    std::optional<std::string> findFocusedChild(QAccessibleInterface* list) {
        m_counter.writeLine("find " + path(list));
        std::optional<std::string> line;
        waitUntil([&] { return line || (line = m_counter.readLine(5)); }, 120'000);
        return line;
    }

    // The events since the previous count, as the counter's line "events N KIND=COUNT ...". A busy
    // machine may take long to tell them all.
    std::optional<std::string> count(int boundMs = 60'000) {
        m_marker.setAccessibleName(QString::number(++m_marks));
        std::optional<std::string> line;
        waitUntil([&] { return line || (line = m_counter.readLine(5)); }, boundMs);
        return line;
    }
    // The events from now until the application has nothing more to tell (a count without events):
    // what it does at once and what it leaves for its event loop (a list lays its rows out there).
    // None when it never fell quiet.
    std::optional<std::string> countUntilQuiet() {
        std::string told;
        for (int counts = 0; counts < 10; ++counts) {
            const std::optional<std::string> line = count();
            if (!line) return std::nullopt;
            if (*line == "events 0") return told.empty() ? *line : told;
            told += (told.empty() ? "" : " + ") + *line;
        }
        return std::nullopt;
    }

private:
    ChildProcess m_counter;
    QWidget m_marker;
    int m_marks = 0;
    bool m_listening = false;
};

// "events 12 ChildrenChanged:add=1 ... + events 2 ..." → 14.
int total(const std::string& lines) {
    int sum = 0;
    for (std::size_t at = lines.find("events "); at != std::string::npos; at = lines.find("events ", at + 1))
        sum += std::stoi(lines.substr(at + 7));
    return sum;
}

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
        if (qgetenv("VELK_SCREEN_READER") != "1")
            GTEST_SKIP() << "needs a screen reader's session: ctest runs it as DirectorAtspiEvents."
                         << ::testing::UnitTest::GetInstance()->current_test_info()->name()
                         << ".xcb_plain_screen_reader";
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

// One arrow key after another in the list, each followed by a screen reader's search for the focused
// row, then Tab out of the list and the search once more.
TEST_F(DirectorAtspiEvents, AToolFindsTheFocusedRowInAsFewCallsAtSixHundredRowsAsAtTen) {
    AtspiEventCounter& counter = *onBus;
    std::set<std::string> callsToFind;
    std::set<std::string> afterLeaving;
    std::map<int, std::vector<std::string>> childrenRead; // by the list's rows, each search's reads
    for (const int rows : {10, 100, 600}) {
        WindowRig rig(fourCameras());
        ASSERT_NO_FATAL_FAILURE(showEdits(rig, rows));
        QListView* view = rig.window->inspector()->edits()->list();
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view);
        view->setFocus(Qt::TabFocusReason);
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
            const std::string calls = line->substr(found.size());
            callsToFind.insert(calls.substr(0, calls.find(' ')));
            childrenRead[rows].push_back(calls.substr(calls.find(' ') + 1));
            std::cout << rows << " rows, Down to row " << from + 1 << ": " << *line << " in " << round.elapsed()
                      << " ms" << std::endl;
        }
        QTest::keyClick(view, Qt::Key_Tab);
        ASSERT_TRUE(waitUntil([&] { return !view->hasFocus(); }));
        const std::optional<std::string> line = counter.findFocusedChild(list);
        ASSERT_TRUE(line) << "no answer after Tab out of " << rows << " rows";
        EXPECT_EQ(line->rfind("focused none ", 0), 0u) << *line;
        afterLeaving.insert(line->substr(0, line->rfind(' ')));
        childrenRead[rows].push_back(line->substr(line->rfind(' ') + 1));
        std::cout << rows << " rows, Tab out: " << *line << std::endl;
    }
    EXPECT_EQ(callsToFind.size(), 1u) << "the calls to find the focused row differ with the row or the rows";
    EXPECT_EQ(afterLeaving.size(), 1u) << "the calls after Tab out differ with the rows";
    EXPECT_EQ(childrenRead[600], childrenRead[100]) << "reading the children costs more with more rows";
}

// Return on a tile makes its camera the Preview, which the tile tells as its new description: as
// text that a screen reader reads and speaks, not as the object Qt's bridge puts in its place.
TEST_F(DirectorAtspiEvents, APreviewChoiceIsToldAsTheTilesNewDescriptionInText) {
    AtspiEventCounter& counter = *onBus;
    WindowRig rig(fourCameras());
    ASSERT_NO_FATAL_FAILURE(showActive(*rig.window));
    CameraWallCell* tile = rig.window->wall()->cell(2);
    tile->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitUntil([&] { return tile->hasFocus(); }));
    ASSERT_TRUE(counter.countUntilQuiet()) << "the tile took the focus";
    QTest::keyClick(tile, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return rig.window->workspace().timeline.previewCameraID == "cam-3"; }));
    const std::optional<std::string> line = counter.countUntilQuiet();
    ASSERT_TRUE(line) << "the application never fell quiet";
    const std::string told = "PropertyChange:accessible-description=\"" +
                             tile->accessibleDescription().replace(QLatin1Char(' '), QLatin1Char('_')).toStdString() + "\"=1";
    EXPECT_TRUE(tile->accessibleDescription().startsWith(QStringLiteral("Preview"))) << told;
    EXPECT_NE(line->find(told), std::string::npos) << *line;
}

// The pauses of at least `pauseMs` between the presses a widget receives: where a row that a held
// key passes may be told, the key having stopped for a while on a busy machine.
class KeyPauses final : public QObject {
public:
    KeyPauses(QWidget& widget, int pauseMs) : m_pauseMs(pauseMs) {
        widget.installEventFilter(this);
        m_since.start();
    }
    int pauses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        if (m_presses++ > 0 && m_since.elapsed() >= m_pauseMs) ++pauses;
        m_since.restart();
        return false;
    }

private:
    int m_pauseMs;
    int m_presses = 0;
    QElapsedTimer m_since;
};

// A held key tells the row it stops at, not every row it passes: a screen reader would still be
// reading the rows long after the key is let go.
TEST_F(DirectorAtspiEvents, AHeldArrowKeyTellsOnlyTheRowItStopsAt) {
    AtspiEventCounter& counter = *onBus;
    WindowRig rig(fourCameras());
    ASSERT_NO_FATAL_FAILURE(showEdits(rig, 100));
    QListView* view = rig.window->inspector()->edits()->list();
    view->setFocus(Qt::TabFocusReason);
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


