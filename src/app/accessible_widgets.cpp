#include "app/accessible_widgets.hpp"

#include <algorithm>
#include <utility>

#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHash>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStackedWidget>
#include <QTabBar>

#include "app/accessible_values.hpp"
#include "app/keyboard_keeper.hpp"
#include "app/masked_text.hpp"
#include "app/qt_bridge_workarounds.hpp"
#include "app/text_boundaries.hpp"

namespace velk::Accessibility {

AccessibleRows* rowsOf(QAccessibleInterface* list) { return dynamic_cast<AccessibleRows*>(list); }

int toolOffset(const QString& text, int utf16) {
    return QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::textInCharacters) ? characterOffset(text, utf16) : utf16;
}

namespace {

// A text as assistive tools count it: its offsets in characters, or in Qt's UTF-16 units where the
// bridge counts characters itself (app/qt_bridge_workarounds.hpp, textInCharacters).
class ToolText {
public:
    explicit ToolText(QString text) : m_text(std::move(text)) {}
    int offsetOf(int utf16) const { return toolOffset(m_text, utf16); }
    int utf16Of(int offset) const { return inCharacters ? utf16Offset(m_text, offset) : offset; }
    int count() const { return offsetOf(int(m_text.size())); }
    // The text between two offsets (the end -1: to the end), none where the start is past the end.
    QString between(int start, int end) const {
        if (end < 0) end = count();
        if (start < 0 || start > end) return {};
        return m_text.mid(utf16Of(start), utf16Of(end) - utf16Of(start));
    }
    QString unit(QAccessible::TextBoundaryType boundary, int offset, TextPart part, int* startOffset, int* endOffset) const {
        if (inCharacters) return textUnit(m_text, boundary, offset, part, startOffset, endOffset);
        const TextRange range = textUnit(m_text, boundary, offset < 0 ? offset : characterOffset(m_text, offset), part);
        *startOffset = range.start < 0 ? -1 : utf16Offset(m_text, range.start);
        *endOffset = range.start < 0 ? -1 : utf16Offset(m_text, range.end);
        return range.start < 0 ? QString() : charactersOf(m_text, range.start, range.end);
    }

private:
    static constexpr bool inCharacters = QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::textInCharacters);
    QString m_text;
};

// A tab's text without its mnemonic marks ("&&" stays one "&").
QString withoutMnemonic(const QString& text) {
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&')) {
                plain += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        plain += text.at(i);
    }
    return plain;
}

QString tabName(const QTabBar* bar, int index) {
    if (index < 0 || index >= bar->count()) return {};
    const QString name = bar->accessibleTabName(index);
    return name.isEmpty() ? withoutMnemonic(bar->tabText(index)) : name;
}

// One tab of a tab bar. Selected while it is the current tab; focused only while, besides, the bar
// has focus.
class TabAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TabAccessible(QTabBar* bar, int index) : m_bar(bar), m_index(index) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QObject* object() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    bool isValid() const override {
        QAccessibleInterface* bar = parent();
        return bar && bar->isValid() && m_index < m_bar->count();
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const bool current = m_index == m_bar->currentIndex();
        state.focusable = true;
        state.selectable = true;
        state.selected = current;
        state.focused = current && m_bar->hasFocus();
        state.disabled = !m_bar->isEnabled() || !m_bar->isTabEnabled(m_index);
        state.invisible = !m_bar->isVisible() || !m_bar->isTabVisible(m_index);
        return state;
    }
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect tab = m_bar->tabRect(m_index);
        return {m_bar->mapToGlobal(tab.topLeft()), tab.size()};
    }
    QString text(QAccessible::Text kind) const override {
        if (!isValid()) return {};
        if (kind == QAccessible::Name) return tabName(m_bar, m_index);
        if (kind == QAccessible::Description) return m_bar->tabToolTip(m_index);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessibleInterface* parent() const override {
        return m_bar ? QAccessible::queryAccessibleInterface(m_bar.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && isValid() && m_bar->isTabEnabled(m_index)) m_bar->setCurrentIndex(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    const QTabBar* bar() const { return m_bar; }
    int index() const { return m_index; }

private:
    QPointer<QTabBar> m_bar;
    int m_index;
};

// A tab bar: a page tab list named by its accessible name or buddy label, its value the current tab.
class TabBarAccessible final : public QAccessibleWidget {
public:
    explicit TabBarAccessible(QWidget* bar) : QAccessibleWidget(bar, QAccessible::PageTabList) {}
    ~TabBarAccessible() override {
        for (QAccessible::Id id : std::as_const(m_tabs)) QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return bar()->count(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= bar()->count()) return nullptr;
        if (const auto found = m_tabs.constFind(index); found != m_tabs.constEnd()) {
            return QAccessible::accessibleInterface(*found);
        }
        auto* tab = new TabAccessible(bar(), index);
        m_tabs.insert(index, QAccessible::registerAccessibleInterface(tab));
        return tab;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* tab = dynamic_cast<const TabAccessible*>(child);
        return tab && tab->bar() == bar() && tab->index() < bar()->count() ? tab->index() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return child(bar()->tabAt(bar()->mapFromGlobal(QPoint(x, y))));
    }
    QAccessibleInterface* focusChild() const override {
        return bar()->hasFocus() ? child(bar()->currentIndex()) : nullptr;
    }
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return tabName(bar(), bar()->currentIndex());
        return QAccessibleWidget::text(kind);
    }

private:
    QTabBar* bar() const { return static_cast<QTabBar*>(widget()); }
    mutable QHash<int, QAccessible::Id> m_tabs;
};

// A combo box: named by its accessible name or buddy label, its value the current choice. The
// current choice is its text as well (read-only, without a caret): AT-SPI carries no value that is
// not a number, and a screen reader reads a combo box's text as its value. Its description is its
// own only, never the choice again, which a screen reader would speak twice.
class ComboBoxAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ComboBoxAccessible(QWidget* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface && !combo()->isEditable()) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(int startOffset, int endOffset) const override {
        const ToolText value(combo()->currentText());
        startOffset = std::clamp(startOffset, 0, value.count());
        return value.between(startOffset, endOffset < 0 ? -1 : std::clamp(endOffset, startOffset, value.count()));
    }
    int characterCount() const override { return ToolText(combo()->currentText()).count(); }
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        const TextRange run = attributeRun(characterCount(), offset);
        *startOffset = run.start;
        *endOffset = run.end;
        return {};
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override {
        return ToolText(combo()->currentText()).unit(boundary, offset, TextPart::before, startOffset, endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override {
        return ToolText(combo()->currentText()).unit(boundary, offset, TextPart::at, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override {
        return ToolText(combo()->currentText()).unit(boundary, offset, TextPart::after, startOffset, endOffset);
    }

    int childCount() const override { return combo()->isEditable() ? 2 : 1; }
    QAccessibleInterface* child(int index) const override {
        if (index == 0) return combo()->view() ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
        if (index == 1 && combo()->isEditable()) return QAccessible::queryAccessibleInterface(combo()->lineEdit());
        return nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        if (child->object() == combo()->view()) return 0;
        if (combo()->isEditable() && child->object() == combo()->lineEdit()) return 1;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        if (combo()->isEditable() && combo()->lineEdit()->rect().contains(combo()->lineEdit()->mapFromGlobal(QPoint(x, y))))
            return child(1);
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override { return combo()->isEditable() ? child(1) : nullptr; }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = combo()->view() && combo()->view()->isVisible();
        state.editable = combo()->isEditable();
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        const QString value = combo()->isEditable() ? combo()->lineEdit()->text() : combo()->currentText();
        if (kind == QAccessible::Value) return value;
        if (const QString described = describedChoice(*combo()); kind == QAccessible::Description && !described.isEmpty())
            return described;
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override { return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction()) {
            if (!combo()->view()->isVisible()) combo()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

// A text field, as Qt's own but for what Qt 6.4's fails assistive tools with
// (app/qt_bridge_workarounds.hpp): its text answers every boundary at every offset (Qt's spins for
// ever for a word or a sentence at the end), its attribute run covers the text (Qt's is empty, and
// a screen reader then reads the text one character short), and its offsets count characters. A
// field that hides what is typed tells no text, as Qt's, and counts the mask characters it shows.
class LineEditAccessible final : public QAccessibleWidget,
                                 public QAccessibleTextInterface,
                                 public QAccessibleEditableTextInterface {
public:
    explicit LineEditAccessible(QWidget* field) : QAccessibleWidget(field, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface) return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = field()->isReadOnly();
        state.editable = !field()->isReadOnly();
        state.passwordEdit = masked();
        state.selectableText = true;
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        QString text;
        if (kind == QAccessible::Value) text = maskedText(field()->text(), field()->echoMode(), maskCharacter(*field()));
        if (text.isEmpty()) text = QAccessibleWidget::text(kind);
        if (text.isEmpty() && kind == QAccessible::Description) text = field()->placeholderText();
        return text;
    }
    void setText(QAccessible::Text kind, const QString& text) override {
        if (kind != QAccessible::Value) return QAccessibleWidget::setText(kind, text);
        if (!field()->isReadOnly()) field()->setText(text);
    }

    QString text(int startOffset, int endOffset) const override {
        if (masked()) return {};
        return counted().between(startOffset, endOffset);
    }
    int characterCount() const override { return counted().count(); }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override {
        return unit(offset, boundary, TextPart::before, startOffset, endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override {
        return unit(offset, boundary, TextPart::at, startOffset, endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset, int* endOffset) const override {
        return unit(offset, boundary, TextPart::after, startOffset, endOffset);
    }
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        const TextRange run = attributeRun(characterCount(), offset);
        *startOffset = run.start;
        *endOffset = run.end;
        return {};
    }
    void selection(int index, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
        if (index != 0 || !field()->hasSelectedText()) return;
        const ToolText text = counted();
        *startOffset = text.offsetOf(field()->selectionStart());
        *endOffset = text.offsetOf(field()->selectionEnd());
    }
    int selectionCount() const override { return field()->hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int index) override {
        if (index == 0) field()->deselect();
    }
    void setSelection(int index, int startOffset, int endOffset) override {
        if (index != 0) return;
        const ToolText text = counted();
        field()->setSelection(text.utf16Of(startOffset), text.utf16Of(endOffset) - text.utf16Of(startOffset));
    }
    int cursorPosition() const override { return counted().offsetOf(field()->cursorPosition()); }
    void setCursorPosition(int position) override { field()->setCursorPosition(counted().utf16Of(position)); }
    // Where the field draws the character: as far from the caret as the text between them is wide.
    QRect characterRect(int offset) const override {
        const QString shown = field()->displayText();
        const int at = counted().utf16Of(offset);
        if (offset < 0 || at >= shown.size()) return {};
        const int units = shown.at(at).isHighSurrogate() && at + 1 < shown.size() ? 2 : 1;
        const QFontMetrics metrics(field()->font());
        const QRect caret = field()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int x = caret.x() + metrics.horizontalAdvance(shown.left(at)) -
                      metrics.horizontalAdvance(shown.left(field()->cursorPosition()));
        const QRect place(x, caret.y(), metrics.horizontalAdvance(shown.mid(at, units)), metrics.height());
        return {field()->mapToGlobal(place.topLeft()), place.size()};
    }
    int offsetAtPoint(const QPoint& point) const override {
        return counted().offsetOf(field()->cursorPositionAt(field()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int startIndex, int endIndex) override {
        const ToolText text = counted();
        field()->setCursorPosition(text.utf16Of(endIndex));
        field()->setCursorPosition(text.utf16Of(startIndex));
    }

    void deleteText(int startOffset, int endOffset) override { replaceText(startOffset, endOffset, {}); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString& text) override {
        const ToolText counted = this->counted();
        const int from = counted.utf16Of(startOffset);
        if (field()->isReadOnly() || from < 0 || from > field()->text().size()) return;
        field()->setText(field()->text().replace(from, counted.utf16Of(endOffset) - from, text));
    }

private:
    QLineEdit* field() const { return static_cast<QLineEdit*>(widget()); }
    bool masked() const { return field()->echoMode() != QLineEdit::Normal; }
    // The text whose characters assistive tools count: a masked field's own, whose characters it
    // masks one by one, and whose text it never gives out (none where it shows nothing).
    ToolText counted() const { return ToolText(field()->echoMode() == QLineEdit::NoEcho ? QString() : field()->text()); }
    QString unit(int offset, QAccessible::TextBoundaryType boundary, TextPart part, int* startOffset, int* endOffset) const {
        if (masked()) {
            *startOffset = *endOffset = -1;
            return {};
        }
        if (offset == -2) offset = cursorPosition(); // AT-SPI's offset of the caret
        return counted().unit(boundary, offset, part, startOffset, endOffset);
    }
};

bool isReadAsTable(const QListView* view) { return view && view->property(readAsTableProperty).toBool(); }

// The roles of a list view and of its rows: a table of cells when it is read as a table; a combo
// box's list of choices a menu of menu items, as Orca knows a combo box's choices from other
// toolkits, so that its "Where am I" on a choice of the open popup names the box (for a list item it
// names none: it takes a list item's label only from a "labelled by" relation, and then speaks that
// label in place of the choice); otherwise a list of list items.
struct ListRoles {
    QAccessible::Role list;
    QAccessible::Role row;
};
ListRoles rolesOf(const QListView& view) {
    if (isReadAsTable(&view)) return {QAccessible::Table, QAccessible::Cell};
    if (QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::comboChoiceDescribed) && comboBoxOf(view))
        return {QAccessible::PopupMenu, QAccessible::MenuItem};
    return {QAccessible::List, QAccessible::ListItem};
}

// Whether a row of a list view is chosen: in a list that selects nothing, its current row (as the
// current tab of a tab bar), so that a tool finds the row the keyboard is on among the selected rows;
// in a closed combo box's list, the box's choice (the list follows the box only as it opens).
const QComboBox* closedComboBoxOf(const QListView& view) { return view.isVisible() ? nullptr : comboBoxOf(view); }
bool chosenRow(const QListView& view, const QModelIndex& index) {
    if (const QComboBox* combo = closedComboBoxOf(view))
        return index.isValid() && index.parent() == combo->rootModelIndex() && index.row() == combo->currentIndex();
    if (view.selectionMode() == QAbstractItemView::NoSelection) return index.isValid() && view.currentIndex() == index;
    return view.selectionModel() && view.selectionModel()->isSelected(index);
}

// One row of a list view, also the one cell of its row of the list's table.
class ListItemAccessible final : public QAccessibleInterface,
                                 public QAccessibleActionInterface,
                                 public QAccessibleTableCellInterface {
public:
    ListItemAccessible(QListView* view, const QModelIndex& index) : m_view(view), m_index(index) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::TableCellInterface) return static_cast<QAccessibleTableCellInterface*>(this);
        return nullptr;
    }
    QObject* object() const override { return nullptr; }
    QAccessible::Role role() const override { return m_view ? rolesOf(*m_view).row : QAccessible::ListItem; }
    bool isValid() const override {
        QAccessibleInterface* list = parent();
        return list && list->isValid() && m_index.isValid() && m_view->model() == m_index.model();
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const Qt::ItemFlags flags = m_index.flags();
        const QModelIndex index = m_index;
        state.disabled = !flags.testFlag(Qt::ItemIsEnabled);
        state.focusable = !state.disabled && m_view->focusPolicy() != Qt::NoFocus;
        state.selectable = flags.testFlag(Qt::ItemIsSelectable) && m_view->selectionMode() != QAbstractItemView::NoSelection;
        state.selected = chosenRow(*m_view, index);
        state.focused = m_view->hasFocus() && m_view->currentIndex() == index;
        state.multiSelectable = m_view->selectionMode() == QAbstractItemView::MultiSelection;
        state.extSelectable = m_view->selectionMode() == QAbstractItemView::ExtendedSelection;
        if (flags.testFlag(Qt::ItemIsUserCheckable)) {
            state.checkable = true;
            state.checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        }
        state.invisible = !m_view->isVisible() || !m_view->viewport()->rect().intersects(m_view->visualRect(index));
        return state;
    }
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect row = m_view->visualRect(m_index);
        return {m_view->viewport()->mapToGlobal(row.topLeft()), row.size()};
    }
    QString text(QAccessible::Text kind) const override {
        if (!isValid()) return {};
        if (kind == QAccessible::Name) {
            const QString name = m_index.data(Qt::AccessibleTextRole).toString();
            return name.isEmpty() ? m_index.data(Qt::DisplayRole).toString() : name;
        }
        if (kind == QAccessible::Description) return m_index.data(Qt::AccessibleDescriptionRole).toString();
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessibleInterface* parent() const override {
        return m_view ? QAccessible::queryAccessibleInterface(m_view.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    // Pressing a row does what a click does: it becomes the current row, selected as the view selects.
    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    void doAction(const QString& name) override {
        if (!isValid() || !m_index.flags().testFlag(Qt::ItemIsEnabled)) return;
        if (name == setFocusAction()) Keyboard::choose(*m_view);
        if (name == pressAction() || name == setFocusAction()) m_view->setCurrentIndex(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    bool isSelected() const override { return isValid() && chosenRow(*m_view, m_index); }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return isValid() ? m_index.row() : -1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    const QListView* view() const { return m_view; }
    QModelIndex index() const { return m_index; }

private:
    QPointer<QListView> m_view;
    QPersistentModelIndex m_index;
};

// Orca tells a row's position from its index in its parent in a list of more children than this,
// and from its place among the children, read one by one, in a shorter one.
constexpr int rowsCountedForPosition = 100;

// A list view, the current row focused only while the list has focus. While it is shown its
// children are its current row, first, then the other rows in view, as virtualized lists hold only
// the rows they show; while it has the focus, every row, each with its row as its index in its
// parent, so a screen reader tells the list's true size and a row's true position: in order in a
// list of up to rowsCountedForPosition rows, where Orca takes a row's position from its place among
// the children, and the current one first in a longer list, where it takes the index. A screen
// reader that looks for the focused row by reading the children one by one, as Orca does each time
// it presents a row, so reads at most that many children while the list has the focus, one in a
// longer list, and as many in a list of 600 rows as in one of 20 once it has lost it. A hidden
// list's children are all its rows, in order. It is also a table of one column holding every row,
// whose selected rows are its chosen rows: the interface through which assistive tools find a
// list's current row at once (Qt's AT-SPI bridge offers it as the list's Table), rather than by
// reading the state of row after row. A list read as a table (readAsTable) is a table and its rows
// cells, in order also in a long list: a screen reader takes a cell's row from its index.
class ListAccessible final : public QAccessibleWidget, public QAccessibleTableInterface, public AccessibleRows {
public:
    explicit ListAccessible(QWidget* view) : QAccessibleWidget(view, QAccessible::List) {}
    QAccessible::Role role() const override { return rolesOf(*view()).list; }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override { return column == 0 ? rowObject(row) : nullptr; }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (int row : selectedRows())
            if (QAccessibleInterface* cell = rowObject(row)) cells.append(cell);
        return cells;
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return int(selectedRows().size()); }
    int columnCount() const override { return view()->model() ? 1 : 0; }
    int rowCount() const override { return modelRows(); }
    int rows() const override { return modelRows(); }
    QList<int> selectedColumns() const override { return {}; }
    // A closed combo box's choice; the current row of a list that selects nothing; else the selection's rows, read from its
    // ranges rather than row by row.
    QList<int> selectedRows() const override {
        if (const QComboBox* combo = closedComboBoxOf(*view()))
            return combo->currentIndex() >= 0 ? QList<int>{combo->currentIndex()} : QList<int>{};
        if (view()->selectionMode() == QAbstractItemView::NoSelection) {
            const QModelIndex current = view()->currentIndex();
            return current.isValid() && rowIndex(current.row()) == current ? QList<int>{current.row()} : QList<int>{};
        }
        QList<int> rows;
        if (!view()->selectionModel()) return rows;
        for (const QItemSelectionRange& range : view()->selectionModel()->selection()) {
            if (range.parent() != view()->rootIndex() || range.left() > view()->modelColumn() ||
                range.right() < view()->modelColumn())
                continue;
            for (int row = range.top(); row <= range.bottom(); ++row) rows.append(row);
        }
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return chosenRow(*view(), rowIndex(row)); }
    // What a tool selects is left to the keyboard and the mouse.
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    // Qt hands a model change here before it tells it; followListModel applies it, once.
    void modelChange(QAccessibleTableModelChangeEvent*) override {}
    ~ListAccessible() override {
        for (QAccessible::Id id : std::as_const(m_rows)) QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return children().count(); }
    // Beyond its children, a row of the model: Qt's own events name a row so, and Qt asks for its
    // object before it hands an event on (and warns when there is none).
    QAccessibleInterface* child(int at) const override {
        const int row = rowOfChild(at);
        return rowObject(row >= 0 ? row : at);
    }
    // The child a row of the model is, or -1 when it is not one.
    int childOfRow(int row) const override {
        const Children shown = children();
        if (shown.current < 0) return row >= shown.first && row <= shown.last ? row - shown.first : -1;
        if (row == shown.current) return 0;
        if (row < shown.first || row > shown.last) return -1;
        return row - shown.first + (shown.currentInView() && row > shown.current ? 0 : 1);
    }
    QAccessibleInterface* rowObject(int row) const override {
        const QModelIndex index = rowIndex(row);
        if (!index.isValid()) return nullptr;
        if (const auto found = m_rows.constFind(row); found != m_rows.constEnd()) {
            auto* item = static_cast<ListItemAccessible*>(QAccessible::accessibleInterface(*found));
            if (item && item->index() == index) return item;
            // The rows moved or the model changed: the row holds another item now.
            QAccessible::deleteAccessibleInterface(*found);
        }
        auto* item = new ListItemAccessible(view(), index);
        m_rows.insert(row, QAccessible::registerAccessibleInterface(item));
        return item;
    }
    // A row's place: among the children, or, while the list has the focus and every row is one of
    // them, its row, which a screen reader takes as its position in a long list (in a short one the
    // children are in order, so it is the row's place among them too).
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int row = rowOf(child);
        return row >= 0 && view()->hasFocus() ? row : placeOf(child);
    }
    // The child a row's object is, or -1.
    int placeOf(const QAccessibleInterface* child) const override { return rowOf(child) >= 0 ? childOfRow(rowOf(child)) : -1; }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? rowObject(index.row()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = view()->currentIndex();
        return view()->hasFocus() && current.isValid() ? rowObject(current.row()) : nullptr;
    }
    // Rows inserted or removed before a row move its object with it, so a row keeps its object (and
    // the path assistive tools know it by) for as long as it stays; a new model starts afresh.
    void modelChanged(const QAccessibleTableModelChangeEvent& event) override {
        const int first = event.firstRow();
        const int count = event.lastRow() - first + 1;
        QHash<int, QAccessible::Id> moved;
        switch (event.modelChangeType()) {
        case QAccessibleTableModelChangeEvent::RowsInserted:
            for (auto row = m_rows.cbegin(); row != m_rows.cend(); ++row)
                moved.insert(row.key() >= first ? row.key() + count : row.key(), row.value());
            break;
        case QAccessibleTableModelChangeEvent::RowsRemoved:
            for (auto row = m_rows.cbegin(); row != m_rows.cend(); ++row) {
                if (row.key() < first) moved.insert(row.key(), row.value());
                else if (row.key() >= first + count) moved.insert(row.key() - count, row.value());
                else QAccessible::deleteAccessibleInterface(row.value());
            }
            break;
        case QAccessibleTableModelChangeEvent::DataChanged: return;
        default:
            for (QAccessible::Id id : std::as_const(m_rows)) QAccessible::deleteAccessibleInterface(id);
            break;
        }
        m_rows = moved;
    }

    QAccessibleInterface* parent() const override {
        // A combo box's list sits in a private popup frame: its parent is the combo box.
        if (QComboBox* combo = comboBoxOf(*view())) return QAccessible::queryAccessibleInterface(combo);
        return QAccessibleWidget::parent();
    }

private:
    // The current row (-1 for none, or to keep the rows in order), then the rows first to last but
    // the current one.
    struct Children {
        int current = -1;
        int first = 0;
        int last = -1;
        bool currentInView() const { return current >= first && current <= last; }
        int count() const { return last - first + 1 + (current >= 0 && !currentInView() ? 1 : 0); }
    };
    // The rows in view, from where the view lays them out: rows follow one another along the
    // list's flow, so the first that ends after the viewport's start and the last that begins before
    // its end bound them (found by halving), whatever the spacing between them.
    Children children() const {
        const int rows = modelRows();
        if (rows == 0) return {};
        const QWidget* viewport = view()->viewport();
        const int current = view()->currentIndex().row();
        if (!view()->isVisible() || viewport->width() <= 0 || viewport->height() <= 0) return {-1, 0, rows - 1};
        // A table's cells are in order: a screen reader finds a cell's row from its index.
        if (view()->hasFocus()) return {rows <= rowsCountedForPosition || isReadAsTable(view()) ? -1 : current, 0, rows - 1};
        const bool down = (view()->flow() == QListView::TopToBottom) != view()->isWrapping();
        const int extent = down ? viewport->height() : viewport->width();
        const auto firstRowThat = [&](auto holds) {
            int low = 0, high = rows;
            while (low < high) {
                const int middle = low + (high - low) / 2;
                const QRect place = view()->visualRect(rowIndex(middle));
                holds(down ? place.top() : place.left(), down ? place.bottom() : place.right()) ? high = middle
                                                                                               : low = middle + 1;
            }
            return low;
        };
        const int first = firstRowThat([](int, int end) { return end >= 0; });
        const int last = firstRowThat([&](int start, int) { return start >= extent; }) - 1;
        if (first > last) return {current, 0, -1};
        return {current, first, last};
    }
    int rowOfChild(int at) const {
        const Children shown = children();
        if (at < 0 || at >= shown.count()) return -1;
        if (shown.current < 0) return shown.first + at;
        if (at == 0) return shown.current;
        const int row = shown.first + at - 1;
        return shown.currentInView() && row >= shown.current ? row + 1 : row;
    }
    int modelRows() const {
        const QAbstractItemModel* model = view()->model();
        return model ? model->rowCount(view()->rootIndex()) : 0;
    }
    int rowOf(const QAccessibleInterface* child) const {
        const auto* item = dynamic_cast<const ListItemAccessible*>(child);
        if (!item || item->view() != view() || rowIndex(item->index().row()) != item->index()) return -1;
        return item->index().row();
    }
    QListView* view() const { return static_cast<QListView*>(widget()); }
    QModelIndex rowIndex(int row) const {
        const QAbstractItemModel* model = view()->model();
        if (!model || row < 0) return {};
        return model->index(row, view()->modelColumn(), view()->rootIndex());
    }
    mutable QHash<int, QAccessible::Id> m_rows;
};

// A container that reports focus only while it has the focus itself. Qt's own report it also while
// the widget it hands its focus to has it (a tab widget while its tab bar has it, a scroll area's
// viewport while the scroll area has it, a dialog's button box while one of its buttons has it), and
// a screen reader speaks such a container together with the control.
class ContainerAccessible : public QAccessibleWidget {
public:
    ContainerAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.focused = widget() == QApplication::focusWidget();
        return state;
    }
};

constexpr const char* pageNameFollowedProperty = "velkPageNameFollowed";

// A stack of pages, of which one shows: a panel named by its own accessible name or else by the
// name of the page it shows (so a screen reader speaks each page by its own name, never a nameless
// "layered pane"), told anew when another page shows.
class StackAccessible final : public ContainerAccessible {
public:
    explicit StackAccessible(QWidget* stack) : ContainerAccessible(stack, QAccessible::Grouping) {
        if (stack->property(pageNameFollowedProperty).toBool()) return;
        stack->setProperty(pageNameFollowedProperty, true);
        QObject::connect(static_cast<QStackedWidget*>(stack), &QStackedWidget::currentChanged, stack, [stack] {
            if (!stack->accessibleName().isEmpty()) return;
            QAccessibleEvent renamed(stack, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&renamed);
        });
    }
    QString text(QAccessible::Text kind) const override {
        const QString own = ContainerAccessible::text(kind);
        if (kind != QAccessible::Name || !own.isEmpty()) return own;
        const QWidget* page = static_cast<QStackedWidget*>(widget())->currentWidget();
        return page ? page->accessibleName() : QString();
    }
};

} // namespace

QAccessibleInterface* standardWidgetAccessible(const QString& key, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (key == QLatin1String("QTabBar")) return new TabBarAccessible(widget);
    if (key == QLatin1String("QComboBox")) return new ComboBoxAccessible(widget);
    if ((QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::lineEditText) ||
         QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::textInCharacters)) &&
        key == QLatin1String("QLineEdit"))
        return new LineEditAccessible(widget);
    if (key == QLatin1String("QListView")) return new ListAccessible(widget);
    if (key == QLatin1String("QStackedWidget")) return new StackAccessible(widget);
    if (key == QLatin1String("QDialogButtonBox")) return new ContainerAccessible(widget, QAccessible::Grouping);
    // A scroll area that the keyboard reaches, to scroll, is a panel named for what it holds.
    if (key == QLatin1String("QScrollArea") && widget->focusPolicy() != Qt::NoFocus)
        return new ContainerAccessible(widget, QAccessible::Grouping);
    // Every other plain widget: a tab widget, a viewport, a page.
    if (key == QLatin1String("QWidget")) return new ContainerAccessible(widget, QAccessible::Client);
    // A frame drawn around controls (a panel, a card) is a plain container too. Qt's own is a
    // "frame", the role of a window: a screen reader takes the window of a control inside it to be
    // that frame, and speaks the real window again as it is activated (as a combo box's popup
    // closes).
    if (QtBridgeWorkarounds::isOn(QtBridgeWorkarounds::frameRole) && key == QLatin1String("QFrame"))
        return new ContainerAccessible(widget, QAccessible::Client);
    return nullptr;
}

} // namespace velk::Accessibility
