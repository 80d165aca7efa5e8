// The keyboard's one rule, one row per way the keyboard moves without the user choosing a control;
// and the keeper that applies it, on a window of a field and Stop All.

#include <string>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include "app/keyboard_keeper.hpp"
#include "app/keyboard_rule.hpp"
#include "support/qt_test.hpp"

namespace velk {
namespace {

using KeyboardRule::Cause;

struct Control {
    std::string name;
    bool canTake = true;
    bool guarded = false;
};

TEST(KeyboardRule, EveryCauseSendsTheKeyboardToTheUsersChoiceOrHomeNeverToAGuardedControl) {
    // A window as the Director has it: a header with Stop All, a field, a wall, a switcher.
    const Control stopAll{"Stop All", true, true}, recAll{"REC ALL", true, true}, stopAllOff{"STOP ALL", true, true};
    const Control take{"Take"}, takeHidden{"Take", false}, start{"Start"}, startOff{"Start", false};
    const Control recAllOff{"REC ALL", false, true}, tile{"tile 1"}, tileGone{"tile 1", false}, fade{"Fade duration"};
    const Control exportOff{"Export", false}, exportOn{"Export"}, list{"Projects"}, primaryOff{"Pair", false}, primary{"Pair"};
    const Control deleted{"row", false}, returnAll{"Return All to Camera", true, true}, ok{"OK"}, nextInChain{"Scan"};
    const Control fieldOff{"Name", false};
    const struct {
        Cause cause;
        const char* what;
        const Control* current;
        std::vector<const Control*> chosen, home, others;
        const char* expected;
    } rows[] = {
        {Cause::controlHidden, "the Take field's page hidden: Qt chose Stop All", &stopAll, {&takeHidden}, {&tile, &fade}, {}, "tile 1"},
        {Cause::controlHidden, "an earlier choice still shown", &stopAll, {&takeHidden, &start}, {&tile}, {}, "Start"},
        {Cause::controlDisabled, "Start greyed out after a click: Qt chose REC ALL", &recAll, {&startOff, &take}, {&tile}, {}, "Take"},
        {Cause::controlDisabled, "REC ALL greyed out after a click: never STOP ALL", &stopAllOff, {&recAllOff, &startOff}, {&tile}, {}, "tile 1"},
        {Cause::controlDisabled, "no camera: the switcher's first enabled control", &stopAll, {&startOff}, {&tileGone, &fade}, {}, "Fade duration"},
        {Cause::controlDeleted, "the focused row deleted: nothing has the keyboard", nullptr, {&deleted}, {&list}, {}, "Projects"},
        {Cause::pageSwitched, "a guarded control chosen before is not given it", &stopAll, {&takeHidden, &returnAll}, {&tile}, {}, "tile 1"},
        {Cause::windowActivated, "first shown: home, not Qt's first Tab stop", &stopAll, {}, {&tile, &fade}, {}, "tile 1"},
        {Cause::windowActivated, "the user's own latest choice stays, guarded too", &stopAll, {&stopAll, &take}, {&tile}, {}, "Stop All"},
        {Cause::dialogClosed, "back to the control that opened the sheet", &list, {&exportOn, &list}, {&exportOn, &list}, {}, "Export"},
        {Cause::dialogClosed, "a dialog without a home keeps its own first control", &ok, {}, {}, {&ok}, "OK"},
        {Cause::dialogClosed, "nothing chosen, no home, Qt left it on a guarded one", &returnAll, {}, {}, {&returnAll, &nextInChain}, "Scan"},
        {Cause::jobEnded, "the export ends: its button again", &list, {&exportOn, &list}, {&list}, {}, "Export"},
        {Cause::jobEnded, "an export runs: its button greyed out", nullptr, {&exportOff}, {&exportOff, &list}, {}, "Projects"},
        {Cause::jobEnded, "the pairing ends: the pairing button again", &take, {&primary, &take}, {}, {}, "Pair"},
        {Cause::jobEnded, "while the pairing runs", &ok, {&primaryOff, &take}, {}, {}, "Take"},
        {Cause::jobEnded, "a guarded choice that greyed out is not given it back", &tile, {&recAll, &take}, {&tile}, {}, "Take"},
        {Cause::jobEnded, "nothing can take it", nullptr, {&deleted}, {&tileGone}, {&deleted}, nullptr},
        {Cause::controlDisabled, "only Stop All is left: none, the window keeps it", &stopAll, {&fieldOff}, {&fieldOff}, {&fieldOff, &stopAll}, nullptr},
    };
    const auto canTake = [](const Control& c) { return c.canTake; };
    const auto guarded = [](const Control& c) { return c.guarded; };
    for (const auto& row : rows) {
        const KeyboardRule::Situation<Control> situation{row.current, row.chosen, row.home, row.others};
        const Control* goes = KeyboardRule::keyboardGoesTo(situation, canTake, guarded);
        EXPECT_EQ(goes ? goes->name.c_str() : "nothing", std::string(row.expected ? row.expected : "nothing"))
            << static_cast<int>(row.cause) << ": " << row.what;
    }
}

// A window of a field and Stop All: a click presses Stop All and leaves the keyboard in the field; the
// field greyed out leaves it on no control, in the window, and Space presses nothing.
TEST(KeyboardKeeper, AWindowOfAFieldAndStopAll) {
    test::ensureApplication<QApplication>();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    auto* stopAll = new QPushButton(QStringLiteral("Stop All"), &window);
    layout->addWidget(field);
    layout->addWidget(stopAll);
    Keyboard::guard(*stopAll);
    Keyboard::keep(window, [field] { return std::vector<QWidget*>{field}; });
    int presses = 0;
    QObject::connect(stopAll, &QPushButton::clicked, [&] { ++presses; });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::mouseClick(stopAll, Qt::LeftButton);
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(QApplication::focusWidget(), field);
    field->setEnabled(false);
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::activeWindow(), &window);
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_EQ(presses, 1);
}

} // namespace
} // namespace velk
