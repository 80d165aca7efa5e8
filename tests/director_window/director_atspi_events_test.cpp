// What a screen reader is told when an edit comes, counted on the accessibility bus: the same
// number of events for a new edit whether the Edit Decisions list holds 50 rows or 500, so its work
// per edit stays flat as a session grows. Both lists are longer than the view, so neither count
// holds the scroll bars that a list shows once it outgrows its view.

#include <QAccessible>
#include <QListView>
#include <QWidget>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "director_fakes.hpp"
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
        m_counter.writeLine("mark /org/a11y/atspi/accessible/" + std::to_string(QAccessible::uniqueId(marker)));
        // The bridge sends every object event once it has learnt of the counter's registration.
        bool counted = false;
        m_listening = waitUntil([&] { return counted || (counted = count(5'000).has_value()); }, 20'000);
    }

    bool listening() const { return m_listening; }

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

TEST(DirectorAtspiEvents, ANewEditTellsAsMuchWithFiftyRowsAsWithFiveHundred) {
    if (qgetenv("VELK_SCREEN_READER") != "1")
        GTEST_SKIP() << "needs a screen reader's session: ctest runs it as "
                        "DirectorAtspiEvents.ANewEditTellsAsMuchWithFiftyRowsAsWithFiveHundred.xcb_plain_screen_reader";
    app();
    AtspiEventCounter counter;
    ASSERT_TRUE(counter.listening()) << "no count from tests/support/atspi_event_counter";
    std::string lines[2];
    int events[2] = {0, 0};
    const int rows[] = {50, 500};
    for (int i = 0; i < 2; ++i) {
        WindowRig rig(fourCameras());
        rig.store->createProject("Show");
        showActive(*rig.window);
        DirectorWindow& window = *rig.window;
        window.startSession();
        window.perform(DirectorTransition::cut); // Alpha to Program; each cut then swaps it with Bravo
        window.selectPreview("cam-2");
        for (int edit = 1; edit < rows[i]; ++edit) window.perform(DirectorTransition::cut);
        window.setInspectorTab(DirectorInspectorTab::edits);
        ASSERT_EQ(window.inspector()->edits()->list()->model()->rowCount(), rows[i]);
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

} // namespace
} // namespace velk
