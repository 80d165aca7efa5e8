#pragma once
// What assistive tools are told of the application's accessibility events: every event Qt makes
// passes the steps of one EventPipeline, in this order, and what comes out of the last goes to the
// platform (Qt's AT-SPI bridge) or to the update handler that was installed before.
//   1. tellFieldTextAsShown: a field's text events carry its text as it shows it (a masked field's
//      mask characters, app/masked_text.hpp) at offsets in characters, as the field's accessible
//      object counts them (app/accessible_values.hpp).
//   2. spaceOutAMaskedFieldsKeystrokes: each keystroke of a masked field is told a gap after the one
//      before (a screen reader presents only the later of two waiting, and echoes nothing else of a
//      masked field's keys); its other text events wait with them, in order, but for a caret move
//      with a keystroke still waiting after it.
//   3. followListModel: a list's row objects follow its model's change; a few rows coming into a
//      list that shows are told as its new children, a fill as one change (app/list_rows_told.hpp).
//   4. tellAComboChoiceWithItsBox: in the turn of the event loop in which a combo box's popup
//      closes, the box's focus is held back and told at its end, after the new value, so a choice
//      made in the popup is spoken with the box's name; a focused box's new choice made with its
//      list closed is told, after its value, as the box's new description, its choice and place,
//      which it keeps until the focus moves (app/accessible_values.hpp).
//   5. tellWhatShowsOrHidesAsOne: a widget that shows or hides is told, not each widget inside it
//      that shows or hides with it (a page switch: the page that hides and the one that shows); one
//      that shows is told at the end of the turn (Qt tells what is inside it first), a window, menu,
//      notification, alert or tool tip at once.
//   6. keepWhatAHeldKeyChanges: while a key repeats, a list row's focus, selections, scroll bar
//      values, names and descriptions wait until it stops (150 ms), and are told then, the row as
//      the list's focus where the key stopped; a focus told at once first tells what the held key
//      changed (app/held_key_news.hpp).
//   7. keepAHiddenWidgetsNameUntilItShows: a widget inside a window that does not show, off the
//      focus's way, tells no name or description change; one of a name told before is told as it
//      shows.
//   8. tellEachNameChangeOnce: names and descriptions changed by one piece of work (a row chosen,
//      a page filled) are told once each when it is done, as they are then, and not at all when
//      they are what was last told of them.
//   9. nameListRowsByTheirPlace: an event that names a list row by its place in the model names
//      its place among the list's children instead, or is dropped when the row is not one.
//  10. tellSelectionOnlyOfTheFocusList: a list without the focus (refilled, or a combo box's closed
//      list) tells no selection change; a screen reader reads it when it comes to the list.
//  11. tellTextNewsAfterItsFocus: a field's caret and selection are told only once its focus is, and
//      as the focus leaves it only when the user selected its text.
//  12. tellFocusOnlyWhereItIs: a focus event goes on only from an object that has the focus, in the
//      active window (Qt also tells of a new current row of a list without it).
//  13. tellAListsFocusAsItsCurrentRow: a list (also one read as a table, or a combo box's menu of
//      choices) or tab bar taking the focus tells its current row or tab as the focus.
// Then to the platform, where Qt 6.4's bridge has its workarounds (app/qt_bridge_workarounds.hpp).
//
// One rule brings back what a step keeps to tell later, or adds to an event: it comes back after
// that step, and passes the steps after it, never that step or the ones before it again. The
// pipeline owns all it keeps; its waits run on alarms it is given, so a test feeds it a stream of
// events on a clock of its own.

#include <functional>
#include <memory>

#include <QAccessible>

namespace velk::Accessibility {

class EventPipeline {
public:
    // A wait: rings once, `ms` after it was last set (0: at the end of this turn of the event loop).
    class Alarm {
    public:
        virtual ~Alarm() = default;
        virtual void set(int ms) = 0;
        virtual void clear() = 0;
        virtual bool isSet() const = 0;
    };
    using MakeAlarm = std::function<std::unique_ptr<Alarm>(std::function<void()> ring)>;

    struct Surroundings {
        // Where an event goes that passed every step.
        std::function<void(QAccessibleEvent*)> platform;
        MakeAlarm alarm;
        // Whether the key press being handled repeats a held key.
        std::function<bool()> pressRepeats;
    };

    // How long a held key's news wait after its last repeat.
    static constexpr int heldKeySettleMs = 150;
    // How long after a keystroke of a masked field its next is told at the soonest: more than a
    // screen reader takes to present one also on a busy computer (Orca 43 on eight loaded cores
    // echoed four of six digits told 120 ms apart, and every one at 250 ms).
    static constexpr int maskedKeystrokeGapMs = 250;

    explicit EventPipeline(Surroundings surroundings);
    ~EventPipeline();
    EventPipeline(const EventPipeline&) = delete;
    EventPipeline& operator=(const EventPipeline&) = delete;

    void handle(QAccessibleEvent* event);

private:
    class Steps;
    std::unique_ptr<Steps> m_steps;
};

// An alarm on the event loop's clock.
std::unique_ptr<EventPipeline::Alarm> eventLoopAlarm(std::function<void()> ring);

// The update handler that runs the application's pipeline.
void handleEvent(QAccessibleEvent* event);
// The update handler installed before `handleEvent`, if any, which then gets what the steps pass on
// in place of the platform.
void setHandledAfter(QAccessible::UpdateHandler handleAfter);

} // namespace velk::Accessibility
