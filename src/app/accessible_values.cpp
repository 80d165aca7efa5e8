#include "app/accessible_values.hpp"

#include "app/masked_text.hpp"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QStyle>
#include <QTimer>

namespace velk::Accessibility {
namespace {

// The text as the field shows it: one mask character for each character, none at all where the
// field shows nothing.
QString asShown(const QLineEdit& field, const QString& text) {
    return maskedText(text, field.echoMode(), maskCharacter(field));
}

// The combo box whose popup closed in this turn of the event loop, if any.
QPointer<QComboBox> popupJustClosed;
// The combo box whose popup's list was told as the focus last, if any.
QPointer<QComboBox> popupFocused;

} // namespace

QComboBox* comboBoxOf(const QAbstractItemView& view) {
    const QWidget* frame = view.parentWidget();
    auto* combo = frame ? qobject_cast<QComboBox*>(frame->parentWidget()) : nullptr;
    return combo && combo->view() == &view ? combo : nullptr;
}

QChar maskCharacter(const QLineEdit& field) {
    return QChar(field.style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, &field));
}

std::unique_ptr<QAccessibleEvent> maskedTextEvent(const QAccessibleEvent& event) {
    const auto* field = qobject_cast<const QLineEdit*>(event.object());
    if (!field || field->echoMode() == QLineEdit::Normal) return nullptr;
    std::unique_ptr<QAccessibleTextCursorEvent> masked;
    switch (event.type()) {
    case QAccessible::TextInserted: {
        const auto& inserted = static_cast<const QAccessibleTextInsertEvent&>(event);
        masked = std::make_unique<QAccessibleTextInsertEvent>(event.object(), inserted.changePosition(),
                                                              asShown(*field, inserted.textInserted()));
        break;
    }
    case QAccessible::TextRemoved: {
        const auto& removed = static_cast<const QAccessibleTextRemoveEvent&>(event);
        masked = std::make_unique<QAccessibleTextRemoveEvent>(event.object(), removed.changePosition(),
                                                              asShown(*field, removed.textRemoved()));
        break;
    }
    case QAccessible::TextUpdated: {
        const auto& updated = static_cast<const QAccessibleTextUpdateEvent&>(event);
        masked = std::make_unique<QAccessibleTextUpdateEvent>(event.object(), updated.changePosition(),
                                                              asShown(*field, updated.textRemoved()),
                                                              asShown(*field, updated.textInserted()));
        break;
    }
    default: return nullptr;
    }
    masked->setCursorPosition(static_cast<const QAccessibleTextCursorEvent&>(event).cursorPosition());
    return masked;
}

bool isFocusedChoice(const QAbstractItemView& view, const QModelIndex& index) {
    const QComboBox* combo = comboBoxOf(view);
    if (!combo || !combo->hasFocus() || combo->isEditable() || view.isVisible() || !index.isValid()) return false;
    if (combo == popupJustClosed) return false;
    return index == combo->model()->index(combo->currentIndex(), combo->modelColumn(), combo->rootModelIndex());
}

std::unique_ptr<QAccessibleEvent> choiceFocusEvent(const QAccessibleEvent& event) {
    if (event.type() != QAccessible::ValueChanged) return nullptr;
    const auto* combo = qobject_cast<const QComboBox*>(event.object());
    if (!combo || !combo->view() || !combo->isActiveWindow() || combo->currentIndex() < 0) return nullptr;
    const QModelIndex choice = combo->model()->index(combo->currentIndex(), combo->modelColumn(), combo->rootModelIndex());
    if (!isFocusedChoice(*combo->view(), choice)) return nullptr;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(combo->view());
    QAccessibleInterface* item = list && list->tableInterface() ? list->tableInterface()->cellAt(choice.row(), 0) : nullptr;
    if (!item) return nullptr;
    return std::make_unique<QAccessibleEvent>(item, QAccessible::Focus);
}

bool heldUntilThePopupHasClosed(const QAccessibleEvent& event) {
    if (event.type() != QAccessible::Focus && event.type() != QAccessible::ObjectHide) return false;
    if (popupJustClosed && event.type() == QAccessible::Focus && event.object() == popupJustClosed) return true;
    const auto* view = qobject_cast<const QAbstractItemView*>(event.object());
    if (QComboBox* combo = view ? comboBoxOf(*view) : nullptr; combo && event.type() == QAccessible::Focus) {
        popupFocused = combo;
        return false;
    }
    // The popup closes as its list hides or as the box takes the focus back from it, in either order.
    QComboBox* combo = view ? comboBoxOf(*view) : nullptr;
    if (!combo && event.type() == QAccessible::Focus && popupFocused && event.object() == popupFocused) combo = popupFocused;
    if (!combo || combo == popupJustClosed) return false;
    popupFocused = nullptr;
    popupJustClosed = combo;
    QTimer::singleShot(0, combo, [combo] {
        popupJustClosed = nullptr;
        if (!combo->hasFocus() || !combo->isActiveWindow()) return;
        QAccessibleEvent focus(combo, QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    });
    return event.type() == QAccessible::Focus;
}

} // namespace velk::Accessibility
