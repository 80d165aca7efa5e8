// What a screen reader is told as the keyboard moves through the Library's long lists, counted on
// the accessibility bus: one Down tells what changed, not every widget the dashboard has; a held
// Down tells the selection once, where it stops.

#include <QAccessible>
#include <QListView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <optional>
#include <string>

#include "app/accessible_events.hpp"
#include "app/keyboard_keeper.hpp"
#include "library_window/collect_sheet.hpp"
#include "library_window/dashboard_view.hpp"
#include "library_window/take_list_view.hpp"
#include "library_window_fixture.hpp"
#include "support/atspi_events.hpp"
#include "support/widgets.hpp"

namespace velk::testing {
namespace {

using test::AtspiEventCounter;
using test::total;
using test::waitUntil;

VELKTake takeWithTwoClips(const std::string& id) {
    VELKClip here{.id = id + "-a", .cameraId = "cam-a", .fileName = "a.mov", .localPath = "/v/a.mov"};
    VELKClip onPhone{.id = id + "-b", .cameraId = "cam-b", .fileName = "b.mov"};
    return VELKTake{.id = id, .timelineFPS = "30", .clips = {here, onPhone}};
}

// A project of 300 takes, or 300 projects of one take each, with the first shown.
VELKLibrary threeHundredTakes() {
    VELKProject project{"p0", "Show", 1, {}};
    for (int take = 0; take < 300; ++take) project.takes.push_back(takeWithTwoClips("take-" + std::to_string(take)));
    return VELKLibrary{{project}};
}
VELKLibrary threeHundredProjects() {
    VELKLibrary library;
    for (int project = 0; project < 300; ++project) {
        const std::string id = "p" + std::to_string(project);
        library.projects.push_back({id, "Project " + std::to_string(project), 1, {takeWithTwoClips(id + "-take")}});
    }
    return library;
}

struct LongList {
    const char* name;
    VELKLibrary (*library)();
    QListView* (*list)(LibraryWindow&);
    int textsARowChanges; // shown names of the row (the take's twice; a project's three times more)
};
const LongList longLists[] = {
    {"takes", threeHundredTakes, [](LibraryWindow& window) -> QListView* { return window.takeList()->list(); }, 2},
    {"projects", threeHundredProjects, [](LibraryWindow& window) { return window.projectList(); }, 5},
};

// The cases run in a screen reader's session, with the counter listening on its accessibility bus.
class LibraryAtspiEvents : public LibraryWindowTest {
protected:
    void SetUp() override {
        if (const auto why = test::outsideAScreenReadersSession()) GTEST_SKIP() << *why;
        LibraryWindowTest::SetUp();
        onBus.emplace();
        ASSERT_TRUE(onBus->listening()) << "no count from tests/support/atspi_event_counter";
    }

    // The list of a window over `library`, shown, with the focus on its first row and everything
    // that told already counted.
    QListView* focusedList(const LongList& long_) {
        store.setLibrary(long_.library());
        store.setSelectedProjectID("p0");
        EXPECT_TRUE(test::activate(*window));
        QListView* view = long_.list(*window);
        Keyboard::choose(*view);
        EXPECT_TRUE(waitUntil([&] { return view->hasFocus() && view->currentIndex().row() == 0; }));
        EXPECT_TRUE(onBus->countUntilQuiet()) << "the window was shown";
        return view;
    }

    std::optional<AtspiEventCounter> onBus;
};

// Qt warns of each event it cannot find the object of ("Cannot create accessible child interface").
int warnings = 0;
void countWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg && message.contains(QLatin1String("accessible"))) ++warnings;
}

// Opening the Library on a project of 300 takes tells the list, not each of its rows as it was
// filled: a screen reader reads those before it speaks the window.
TEST_F(LibraryAtspiEvents, AFilledTakeListIsNotToldRowByRow) {
    store.setLibrary(threeHundredTakes());
    store.setSelectedProjectID("p0");
    ASSERT_TRUE(test::activate(*window));
    const std::optional<std::string> told = onBus->countUntilQuiet();
    ASSERT_TRUE(told);
    const std::size_t added = told->find("ChildrenChanged:add=");
    EXPECT_LT(added == std::string::npos ? 0 : std::stoi(told->substr(added + 20)), 16) << *told;
    std::cout << "opened on 300 takes: " << *told << std::endl;
}

TEST_F(LibraryAtspiEvents, OneDownTellsTheRowsChangeNotTheDashboardsWidgets) {
    // The row's focus and selection, and new rows: told no more for a new project than for a new take.
    int ofTheLists[2] = {0, 0};
    for (const LongList& long_ : longLists) {
        QListView* view = focusedList(long_);
        warnings = 0;
        const QtMessageHandler previous = qInstallMessageHandler(countWarning);
        QTest::keyClick(view, Qt::Key_Down);
        ASSERT_TRUE(waitUntil([&] { return view->currentIndex().row() == 1; })) << long_.name;
        const std::optional<std::string> told = onBus->countUntilQuiet();
        qInstallMessageHandler(previous);
        ASSERT_TRUE(told) << long_.name;
        EXPECT_EQ(warnings, 0) << long_.name;
        // The row's focus and selection, and the few texts of the dashboard that name the take.
        EXPECT_LE(total(*told), 24) << long_.name << ": " << *told;
        // Each text the row changes, once; none set again to what it was (the camera buttons' descriptions).
        EXPECT_LE(test::counted(*told, "PropertyChange:accessible-"), long_.textsARowChanges) << long_.name << ": " << *told;
        ofTheLists[&long_ - longLists] = test::counted(*told, "StateChanged:focused") +
                                         test::counted(*told, "StateChanged:selected") + test::counted(*told, "ChildrenChanged");
        std::cout << long_.name << ", one Down: " << *told << std::endl;
    }
    EXPECT_LE(ofTheLists[1], ofTheLists[0]) << "a new project tells more of its lists than a new take";
}

TEST_F(LibraryAtspiEvents, AHeldDownTellsTheSelectionOnceWhereItStops) {
    for (const LongList& long_ : longLists) {
        QListView* view = focusedList(long_);
        constexpr int repeats = 20;
        test::KeyPauses paused(*view, 100);
        QTest::keyPress(view, Qt::Key_Down);
        for (int repeat = 0; repeat < repeats; ++repeat)
            QTest::simulateEvent(view, true, Qt::Key_Down, Qt::NoModifier, QString(), true);
        QTest::keyRelease(view, Qt::Key_Down);
        ASSERT_TRUE(waitUntil([&] { return view->currentIndex().row() == repeats + 1; })) << long_.name;
        test::runFor(300); // the held key's rows are told once it has stopped repeating
        const std::optional<std::string> told = onBus->countUntilQuiet();
        ASSERT_TRUE(told) << long_.name;
        // The press's row, then where the key stopped: each the old row unselected and the new one
        // selected; once more for each pause the bridge made in handing the repeats on. A list
        // without the focus (the takes of a new project) tells none.
        EXPECT_LE(test::counted(*told, "StateChanged:selected"), 4 + 2 * paused.pauses)
            << long_.name << ": " << *told;
        // The scroll bar where the key stops, and where it paused.
        EXPECT_LE(test::counted(*told, "PropertyChange:accessible-value"), 1 + paused.pauses) << long_.name << ": " << *told;
        std::cout << long_.name << ", held Down: " << *told << std::endl;
    }
}

// The six digits of a pairing code handled at once, as keys a screen reader let pass late are: each
// is told on its own, a gap after the one before, for a screen reader to echo every one (of two text
// insertions waiting, Orca presents the later only).
// Use as reference tells which camera is the reference now, before the keyboard leaves its button,
// which hides (a clip's row, read as one text, tells it too: accessibility_test).
TEST_F(LibraryAtspiEvents, UseAsReferenceTellsTheNewReference) {
    store.setLibrary(VELKLibrary{{{"p0", "Show", 1, {takeWithTwoClips("take-1")}}}});
    store.setSelectedProjectID("p0");
    commands->referenceSet = [this](const std::string& camera) { store.setReferenceCamera(camera); };
    ASSERT_TRUE(test::activate(*window));
    window->dashboard()->setTab(library::LibraryDashboardTab::media);
    auto* useAsReference = window->dashboard()->findChildren<QPushButton*>(QStringLiteral("useAsReference")).back();
    Keyboard::choose(*useAsReference);
    ASSERT_TRUE(waitUntil([&] { return useAsReference->hasFocus(); }) && onBus->told());
    QTest::keyClick(useAsReference, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return store.selectedTake()->referenceCameraId == std::optional<std::string>("cam-b"); }));
    const auto told = onBus->told();
    ASSERT_TRUE(told && !told->empty());
    EXPECT_EQ(told->front(), "notification cam-b is now the reference camera.") << told->size();
}

TEST_F(LibraryAtspiEvents, EachDigitOfAPairingCodeIsToldApartFromTheNext) {
    announce("Phone A", false, "aaaaaaaaaaaaaaaa");
    ASSERT_TRUE(test::activate(*window));
    window->showCollect();
    auto* sheet = qobject_cast<library::CollectSheet*>(window->sheet());
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(test::activate(*sheet));
    QPushButton* card = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (card = sheet->findChild<QPushButton*>(QStringLiteral("card"))) != nullptr; }));
    card->click();
    QLineEdit* code = sheet->codeField();
    ASSERT_TRUE(waitUntil([&] { return code->isVisible(); }));
    Keyboard::choose(*code);
    ASSERT_TRUE(waitUntil([&] { return code->hasFocus(); }));
    ASSERT_TRUE(onBus->forgetInserts()) << "the field took the focus";
    QTest::keyClicks(code, QStringLiteral("123456"));
    ASSERT_TRUE(waitUntil([&] { return code->text() == QStringLiteral("123456"); }, 20'000));
    std::optional<std::pair<int, int>> heard;
    waitUntil([&] { return (heard = onBus->inserts()) && heard->first >= 6; }, 30'000);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->first, 6);
    // Five gaps between six digits; a busy counter may read the first late, never the last early.
    EXPECT_GE(heard->second, 2 * Accessibility::EventPipeline::maskedKeystrokeGapMs) << heard->first << " digits";
}

} // namespace
} // namespace velk::testing
