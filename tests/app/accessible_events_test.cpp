// The accessibility event pipeline fed streams of events as Qt makes them (a held key, a popup
// closing, a page refilled, a name set twice, a field typed into), on a clock of the test's own,
// and what it tells the platform, in order.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStringListModel>
#include <QVBoxLayout>

#include "app/accessible_application.hpp"
#include "app/accessible_events.hpp"
#include "app/accessible_values.hpp"
#include "support/qt_test.hpp"
#include "support/widgets.hpp"

namespace velk::Accessibility {
namespace {

// Alarms that ring only as the test moves the time on.
class ManualClock {
public:
    EventPipeline::MakeAlarm alarms() {
        return [this](std::function<void()> ring) { return std::make_unique<Alarm>(*this, std::move(ring)); };
    }
    // Rings every alarm due until `ms` from now, the earliest first, also those set meanwhile.
    void advance(int ms) {
        const int until = m_now + ms;
        for (Alarm* next = due(until); next; next = due(until)) {
            m_now = next->at;
            next->isSet_ = false;
            next->ring();
        }
        m_now = until;
    }

private:
    struct Alarm final : EventPipeline::Alarm {
        Alarm(ManualClock& clock, std::function<void()> ring) : clock(clock), ring(std::move(ring)) { clock.m_alarms.push_back(this); }
        ~Alarm() override { std::erase(clock.m_alarms, this); }
        void set(int ms) override {
            at = clock.m_now + ms;
            isSet_ = true;
        }
        void clear() override { isSet_ = false; }
        bool isSet() const override { return isSet_; }
        ManualClock& clock;
        std::function<void()> ring;
        int at = 0;
        bool isSet_ = false;
    };
    Alarm* due(int until) {
        Alarm* first = nullptr;
        for (Alarm* alarm : m_alarms)
            if (alarm->isSet_ && alarm->at <= until && (!first || alarm->at < first->at)) first = alarm;
        return first;
    }
    int m_now = 0;
    std::vector<Alarm*> m_alarms;
};

std::string describe(QAccessibleEvent* event) {
    static const std::map<QAccessible::Event, std::string> names{
        {QAccessible::Focus, "focus"},           {QAccessible::SelectionAdd, "selected"},
        {QAccessible::SelectionRemove, "unselected"}, {QAccessible::ValueChanged, "value"},
        {QAccessible::NameChanged, "name"},      {QAccessible::ObjectCreated, "new"},
        {QAccessible::ObjectHide, "hidden"},     {QAccessible::TableModelChanged, "model"},
        {QAccessible::ObjectShow, "shown"},
        {QAccessible::TextInserted, "inserted"}, {QAccessible::DescriptionChanged, "description"},
        {QAccessible::TextCaretMoved, "caret moved"}, {QAccessible::TextSelectionChanged, "selection"},
    };
    const auto name = names.find(event->type());
    std::string told = name == names.end() ? std::to_string(event->type()) : name->second;
    if (event->type() == QAccessible::TextInserted) {
        const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        return told + " " + inserted->textInserted().toStdString() + " at " + std::to_string(inserted->changePosition()) +
               ", caret " + std::to_string(inserted->cursorPosition());
    }
    QAccessibleInterface* object = event->accessibleInterface();
    if (!object || event->type() == QAccessible::TextCaretMoved || event->type() == QAccessible::TextSelectionChanged) return told;
    told += " " + object->text(QAccessible::Name).toStdString();
    if (event->type() == QAccessible::DescriptionChanged) told += ": " + object->text(QAccessible::Description).toStdString();
    if (event->child() >= 0 && object->parent()) told += " (" + std::to_string(object->parent()->indexOfChild(object)) + ")";
    return told;
}

// The application exists before the fixture's widgets do.
struct WithApplication {
    WithApplication() { accessibleApplication(); }
};

class AccessibleEventPipeline : public ::testing::Test, private WithApplication {
protected:
    AccessibleEventPipeline() {
        auto* layout = new QVBoxLayout(&window);
        rows.setStringList(numbered("Take", 40));
        list = new QListView(&window);
        list->setAccessibleName(QStringLiteral("Takes"));
        list->setModel(&rows);
        title = new QLabel(QStringLiteral("Take 0"), &window);
        combo = new QComboBox(&window);
        combo->setAccessibleName(QStringLiteral("Policy"));
        combo->addItems({QStringLiteral("Auto"), QStringLiteral("Conservative"), QStringLiteral("Performance")});
        field = new QLineEdit(&window);
        for (QWidget* widget : std::initializer_list<QWidget*>{list, title, combo, field}) layout->addWidget(widget);
        window.resize(300, 500);
        test::activate(window);
    }

    static QStringList numbered(const QString& prefix, int count) {
        QStringList texts;
        for (int i = 0; i < count; ++i) texts << prefix + QStringLiteral(" %1").arg(i);
        return texts;
    }
    // Feeds the event to the pipeline and returns what it told at once.
    std::vector<std::string> feed(QAccessibleEvent& event) {
        pipeline.handle(&event);
        return std::exchange(told, {});
    }
    std::vector<std::string> feed(QAccessibleEvent&& event) { return feed(event); }
    std::vector<std::string> after(int ms) {
        clock.advance(ms);
        return std::exchange(told, {});
    }
    std::vector<std::string> feedRow(QAccessible::Event type, int row) {
        QAccessibleEvent event(list, type);
        event.setChild(row);
        return feed(event);
    }
    // Moves the list's current and selected row one down, as a Down does, with the events Qt makes.
    void down() {
        const int from = list->currentIndex().row();
        list->setCurrentIndex(rows.index(from + 1));
        title->setText(QStringLiteral("Take %1").arg(from + 1));
        feedRow(QAccessible::SelectionRemove, from);
        feedRow(QAccessible::SelectionAdd, from + 1);
        feedRow(QAccessible::Focus, from + 1);
        feed(QAccessibleValueChangeEvent(list->verticalScrollBar(), from + 1));
        feed(QAccessibleEvent(title, QAccessible::NameChanged));
    }

    QWidget window;
    QStringListModel rows;
    QListView* list;
    QLabel* title;
    QComboBox* combo;
    QLineEdit* field;
    ManualClock clock;
    bool repeats = false;
    std::vector<std::string> told;
    EventPipeline pipeline{{.platform = [this](QAccessibleEvent* event) { told.push_back(describe(event)); },
                            .alarm = clock.alarms(),
                            .pressRepeats = [this] { return repeats; }}};
};

// A held Down: the press's row at once; then, once the key has stopped repeating, the rows it left
// and reached, the scroll bar and the list's row where it stopped, and the take's title once, at the
// end of that turn (a name waits for its turn's end also when a held key kept it).
TEST_F(AccessibleEventPipeline, AHeldKeyTellsWhereItStopsAndEachNameOnce) {
    list->setFocus();
    list->setCurrentIndex(rows.index(0));
    after(0);
    down(); // the press
    EXPECT_EQ(after(0), (std::vector<std::string>{"name Take 1"}));
    repeats = true;
    for (int repeat = 0; repeat < 19; ++repeat) {
        down();
        EXPECT_TRUE(after(30).empty()) << "repeat " << repeat;
    }
    EXPECT_TRUE(after(EventPipeline::heldKeySettleMs - 31).empty());
    EXPECT_EQ(after(1), (std::vector<std::string>{"unselected Take 1 (1)", "selected Take 20 (20)", "value ", "focus Take 20 (20)",
                                                  "name Take 20"}));
}

// A choice made in a popup: its list hides and the box takes the focus back before the box tells its
// new value; the box's focus is told at the end of that turn, after the value, and no item's. A Down
// on the closed box makes it describe its new choice and place, until the focus leaves it.
TEST_F(AccessibleEventPipeline, APopupClosingTellsTheBoxAfterItsNewValue) {
    combo->setFocus();
    after(0);
    feed(QAccessibleEvent(combo->view(), QAccessible::Focus));
    combo->setCurrentIndex(2);
    EXPECT_EQ(feed(QAccessibleEvent(combo->view(), QAccessible::ObjectHide)), (std::vector<std::string>{"hidden "}));
    EXPECT_TRUE(feed(QAccessibleEvent(combo, QAccessible::Focus)).empty());
    EXPECT_EQ(feed(QAccessibleValueChangeEvent(combo, QStringLiteral("Performance"))), (std::vector<std::string>{"value Policy"}));
    EXPECT_EQ(after(0), (std::vector<std::string>{"focus Policy"}));
    combo->setCurrentIndex(1);
    EXPECT_EQ(feed(QAccessibleValueChangeEvent(combo, QStringLiteral("Conservative"))), (std::vector<std::string>{"value Policy"}));
    EXPECT_EQ(after(0), (std::vector<std::string>{"description Policy: Conservative, 2 of 3"}));
    // A typed letter that finds the choice the box has: its closed list tells it as its focus.
    QAccessibleEvent found(combo->view(), QAccessible::Focus);
    found.setChild(1);
    feed(found);
    EXPECT_TRUE(after(0).empty());
    EXPECT_EQ(describedChoice(*combo), QStringLiteral("Conservative, 2 of 3"));
    field->setFocus();
    EXPECT_EQ(feed(QAccessibleEvent(field, QAccessible::Focus)), (std::vector<std::string>{"focus "}));
    EXPECT_EQ(after(0), (std::vector<std::string>{"description Policy: "}));
}

// A list refilled while another control has the focus: one change, no new row each, no selection;
// the page's labels, set more than once, each told once at the end of the turn, and not the one
// set back to what was told last.
TEST_F(AccessibleEventPipeline, ARefilledPageTellsEachLabelOnceAndNoRow) {
    field->setFocus();
    auto* heading = new QLabel(QStringLiteral("Show"), &window);
    feed(QAccessibleEvent(heading, QAccessible::NameChanged));
    after(0);
    rows.setStringList(numbered("Shot", 300));
    feed(QAccessibleTableModelChangeEvent(list, QAccessibleTableModelChangeEvent::ModelReset));
    QAccessibleTableModelChangeEvent filled(list, QAccessibleTableModelChangeEvent::RowsInserted);
    filled.setFirstRow(0);
    filled.setLastRow(299);
    std::vector<std::string> atOnce = feed(filled);
    for (const char* text : {"Shot 0", "Other", "Shot 0"}) {
        title->setText(QString::fromUtf8(text));
        feed(QAccessibleEvent(title, QAccessible::NameChanged));
    }
    heading->setText(QStringLiteral("Other show"));
    feed(QAccessibleEvent(heading, QAccessible::NameChanged));
    heading->setText(QStringLiteral("Show"));
    feed(QAccessibleEvent(heading, QAccessible::NameChanged));
    for (const std::string& line : feedRow(QAccessible::SelectionAdd, 0)) atOnce.push_back(line);
    EXPECT_EQ(atOnce, (std::vector<std::string>{"model Takes"}));
    EXPECT_EQ(after(0), (std::vector<std::string>{"name Shot 0"}));
    // A row coming into the shown list that held rows is told as its new child.
    rows.insertRows(0, 1);
    rows.setData(rows.index(0), QStringLiteral("Shot new"));
    QAccessibleTableModelChangeEvent added(list, QAccessibleTableModelChangeEvent::RowsInserted);
    added.setFirstRow(0);
    added.setLastRow(0);
    EXPECT_EQ(feed(added), (std::vector<std::string>{"new Shot new", "model Takes"}));
}

// A page switch is told as the page that hides and the one that shows, not each widget on them (Qt
// tells those first); a label renamed while its page is hidden is told as the page shows, only when
// its name was told before and is not what was told last.
TEST_F(AccessibleEventPipeline, APageSwitchIsToldAsOneChange) {
    auto* stack = new QStackedWidget(&window);
    QWidget* pages[2];
    QLabel* labels[2];
    for (int at = 0; at < 2; ++at) {
        pages[at] = new QWidget(stack);
        pages[at]->setAccessibleName(at == 0 ? QStringLiteral("Session") : QStringLiteral("Camera"));
        labels[at] = new QLabel(QStringLiteral("Wall: Live"), pages[at]);
        stack->addWidget(pages[at]);
    }
    window.layout()->addWidget(stack);
    stack->setCurrentIndex(1);
    stack->show();
    feed(QAccessibleEvent(labels[1], QAccessible::NameChanged));
    EXPECT_EQ(after(0), (std::vector<std::string>{"name Wall: Live"}));
    const auto switchTo = [&](int shown) {
        stack->setCurrentIndex(shown);
        std::vector<std::string> atOnce = feed(QAccessibleEvent(labels[1 - shown], QAccessible::ObjectHide));
        for (const std::string& line : feed(QAccessibleEvent(pages[1 - shown], QAccessible::ObjectHide))) atOnce.push_back(line);
        for (QObject* widget : std::initializer_list<QObject*>{labels[shown], pages[shown]})
            for (const std::string& line : feed(QAccessibleEvent(widget, QAccessible::ObjectShow))) atOnce.push_back(line);
        return atOnce;
    };
    EXPECT_EQ(switchTo(0), (std::vector<std::string>{"hidden Camera"}));
    EXPECT_EQ(after(0), (std::vector<std::string>{"shown Session"}));
    labels[1]->setText(QStringLiteral("Wall: Lost"));
    feed(QAccessibleEvent(labels[1], QAccessible::NameChanged));
    EXPECT_TRUE(after(0).empty());
    EXPECT_EQ(switchTo(1), (std::vector<std::string>{"hidden Session"}));
    EXPECT_EQ(after(0), (std::vector<std::string>{"shown Camera", "name Wall: Lost"}));
}

// A name set twice in one turn is told once, as it is at the turn's end; set again to the same, it
// is not told.
TEST_F(AccessibleEventPipeline, ANameSetTwiceIsToldOnce) {
    for (const char* text : {"Take 7", "Take 8"}) {
        title->setText(QString::fromUtf8(text));
        EXPECT_TRUE(feed(QAccessibleEvent(title, QAccessible::NameChanged)).empty());
    }
    EXPECT_EQ(after(0), (std::vector<std::string>{"name Take 8"}));
    feed(QAccessibleEvent(title, QAccessible::NameChanged));
    EXPECT_TRUE(after(0).empty());
}

// What is typed into a field is told at its place in characters, an emoji being one; into a masked
// field, as the mask it shows.
TEST_F(AccessibleEventPipeline, TypedTextIsToldInCharactersAndMasked) {
    field->setText(QString::fromUtf8("\u00e9 \U0001F3AC x"));
    QAccessibleTextInsertEvent typed(field, 5, QStringLiteral("x"));
    typed.setCursorPosition(6);
    EXPECT_EQ(feed(typed), (std::vector<std::string>{"inserted x at 4, caret 5"}));
    field->setEchoMode(QLineEdit::Password);
    field->setText(QStringLiteral("12"));
    QAccessibleTextInsertEvent digit(field, 1, QStringLiteral("2"));
    digit.setCursorPosition(2);
    EXPECT_EQ(feed(digit), (std::vector<std::string>{"inserted " + QString(maskCharacter(*field)).toStdString() + " at 1, caret 2"}));
}

// Six digits of a code handled at once (keys a screen reader let pass late): each told a gap after
// the one before; the caret's move, which tells where the caret is as it is sent, only after the last.
TEST_F(AccessibleEventPipeline, AMaskedFieldsKeystrokesAreToldAGapApart) {
    field->setEchoMode(QLineEdit::Password);
    const std::string mask = QString(maskCharacter(*field)).toStdString();
    std::vector<std::string> atOnce;
    for (int digit = 0; digit < 6; ++digit) {
        QAccessibleTextInsertEvent typed(field, digit, QStringLiteral("7"));
        typed.setCursorPosition(digit + 1);
        for (const std::string& line : feed(typed)) atOnce.push_back(line);
        for (const std::string& line : feed(QAccessibleTextCursorEvent(field, digit + 1))) atOnce.push_back(line);
    }
    EXPECT_EQ(atOnce, (std::vector<std::string>{"inserted " + mask + " at 0, caret 1", "caret moved"}));
    for (int digit = 1; digit < 6; ++digit) {
        EXPECT_TRUE(after(EventPipeline::maskedKeystrokeGapMs - 1).empty()) << digit;
        std::vector<std::string> told{"inserted " + mask + " at " + std::to_string(digit) + ", caret " + std::to_string(digit + 1)};
        if (digit == 5) told.push_back("caret moved");
        EXPECT_EQ(after(1), told) << digit;
    }
    EXPECT_TRUE(after(EventPipeline::maskedKeystrokeGapMs).empty());
}

// A field that selected its text as it took the focus tells no selection as the focus leaves it; one
// whose text the user selected does.
TEST_F(AccessibleEventPipeline, LeavingAFieldTellsASelectionOnlyTheUserMade) {
    for (const bool userSelects : {false, true}) {
        field->setFocus();
        field->setText(QStringLiteral("take-1"));
        field->selectAll();
        EXPECT_TRUE(feed(QAccessibleTextSelectionEvent(field, 0, 6)).empty()) << "before its focus";
        feed(QAccessibleEvent(field, QAccessible::Focus));
        if (userSelects) {
            field->setSelection(0, 4);
            EXPECT_EQ(feed(QAccessibleTextSelectionEvent(field, 0, 4)), (std::vector<std::string>{"selection"}));
        }
        combo->setFocus();
        field->deselect();
        std::vector<std::string> leaving = feed(QAccessibleTextSelectionEvent(field, 0, 0));
        for (const std::string& line : feed(QAccessibleTextCursorEvent(field, 6))) leaving.push_back(line);
        const std::vector<std::string> told = userSelects ? std::vector<std::string>{"selection", "caret moved"} : std::vector<std::string>{};
        EXPECT_EQ(leaving, told);
        feed(QAccessibleEvent(combo, QAccessible::Focus));
    }
}

// While a menu is open the keyboard is in it: the window under it, activated again as the menu
// opens, tells no focus of its own control, which a screen reader would speak in place of the menu's
// item; once the menu has closed, it does.
TEST_F(AccessibleEventPipeline, AnOpenMenuKeepsTheFocusOfTheWindowUnderIt) {
    field->setFocus();
    QMenu menu(&window);
    menu.addAction(QStringLiteral("Settings…"));
    menu.popup(window.mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::activePopupWidget() == &menu; }));
    EXPECT_TRUE(feed(QAccessibleEvent(field, QAccessible::Focus)).empty());
    menu.close();
    ASSERT_TRUE(test::waitUntil([&] { return !QApplication::activePopupWidget() && field->hasFocus(); }));
    EXPECT_EQ(feed(QAccessibleEvent(field, QAccessible::Focus)), (std::vector<std::string>{"focus "}));
}

} // namespace
} // namespace velk::Accessibility
