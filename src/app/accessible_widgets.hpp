#pragma once
// The accessible objects the application gives standard widgets in place of Qt's (app/accessibility
// installs them):
//   - a tab bar and a combo box are named by their accessible name or buddy label, their current
//     tab or choice being their value (Qt's name them by it on Linux); a combo box's choice is its
//     text as well;
//   - a list's rows report focus only while the list has it, keep their objects while rows come and
//     go before them, and are its children as a screen reader counts them (its true size and a
//     row's true position); the list is a table of its rows too, through which a tool finds the
//     current row at once; a list marked to be read as a table (`readAsTableProperty`) is a table
//     of one column, its rows its cells;
//   - a text field answers every text boundary at every offset, and one attribute run covers its
//     text (app/text_boundaries.hpp); a field's and a combo box's offsets count characters;
//   - a stack of pages is a panel named after the page it shows, a scroll area the keyboard reaches
//     is a panel, and a container reports focus only while it has it itself, not while the control
//     it hands the focus to has it (a tab widget and its tab bar, a scroll area's viewport, a
//     dialog's button box); a plain frame is such a container, not the window Qt's role says.

class QAccessibleInterface;
class QAccessibleTableModelChangeEvent;
class QObject;
class QString;

namespace velk::Accessibility {

// The property by which a list view is read as a table (Accessibility::readAsTable sets it).
inline constexpr const char* readAsTableProperty = "velkReadAsTable";

// The application's accessible object for a widget of the class named `key`, or null where Qt's own
// serves.
QAccessibleInterface* standardWidgetAccessible(const QString& key, QObject* object);

// What the event steps (app/accessible_events) ask of a list's accessible object: Qt names a row
// by its place in the model, a screen reader by its place among the list's children.
class AccessibleRows {
public:
    // The child a row of the model is, or -1 when it is not one of the children.
    virtual int childOfRow(int row) const = 0;
    // The object of a row of the model, child or not.
    virtual QAccessibleInterface* rowObject(int row) const = 0;
    // The child a row's object is, or -1.
    virtual int placeOf(const QAccessibleInterface* child) const = 0;
    virtual int rows() const = 0;
    // Moves the rows' objects with the rows a model change inserted or removed before them.
    virtual void modelChanged(const QAccessibleTableModelChangeEvent& change) = 0;

protected:
    ~AccessibleRows() = default;
};

// The rows of a list's accessible object; null for any other object.
AccessibleRows* rowsOf(QAccessibleInterface* list);

// The offset by which assistive tools know a place in a field's text, from the UTF-16 offset by
// which Qt knows it: in characters (app/qt_bridge_workarounds.hpp, textInCharacters).
int toolOffset(const QString& text, int utf16Offset);

} // namespace velk::Accessibility
