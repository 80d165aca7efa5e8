#include "app/accessible_values.hpp"

#include "app/accessible_widgets.hpp"
#include "app/masked_text.hpp"
#include "app/qt_bridge_workarounds.hpp"

#include <algorithm>

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QStyle>

namespace velk::Accessibility {
namespace {

// The text as the field shows it: one mask character for each character, none at all where the
// field shows nothing.
QString asShown(const QLineEdit& field, const QString& text) {
    return maskedText(text, field.echoMode(), maskCharacter(field));
}

} // namespace

QComboBox* comboBoxOf(const QAbstractItemView& view) {
    const QWidget* frame = view.parentWidget();
    auto* combo = frame ? qobject_cast<QComboBox*>(frame->parentWidget()) : nullptr;
    return combo && combo->view() == &view ? combo : nullptr;
}

QChar maskCharacter(const QLineEdit& field) {
    return QChar(field.style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, &field));
}

std::unique_ptr<QAccessibleEvent> fieldTextEvent(const QAccessibleEvent& event) {
    const auto* field = qobject_cast<const QLineEdit*>(event.object());
    if (!field) return nullptr;
    const bool masked = field->echoMode() != QLineEdit::Normal;
    const QString text = field->text();
    const bool countsAsQtDoes = std::none_of(text.cbegin(), text.cend(), [](QChar unit) { return unit.isHighSurrogate(); });
    const auto* cursorEvent = dynamic_cast<const QAccessibleTextCursorEvent*>(&event);
    if (!cursorEvent || (!masked && countsAsQtDoes)) return nullptr;
    // A masked field shows one mask character for each character of its text, and counts those.
    const auto at = [&](int utf16) { return toolOffset(text, utf16); };
    const auto shown = [&](const QString& text) { return masked ? asShown(*field, text) : text; };
    std::unique_ptr<QAccessibleTextCursorEvent> told;
    switch (event.type()) {
    case QAccessible::TextInserted: {
        const auto& inserted = static_cast<const QAccessibleTextInsertEvent&>(event);
        told = std::make_unique<QAccessibleTextInsertEvent>(event.object(), at(inserted.changePosition()), shown(inserted.textInserted()));
        break;
    }
    case QAccessible::TextRemoved: {
        const auto& removed = static_cast<const QAccessibleTextRemoveEvent&>(event);
        told = std::make_unique<QAccessibleTextRemoveEvent>(event.object(), at(removed.changePosition()), shown(removed.textRemoved()));
        break;
    }
    case QAccessible::TextUpdated: {
        const auto& updated = static_cast<const QAccessibleTextUpdateEvent&>(event);
        told = std::make_unique<QAccessibleTextUpdateEvent>(event.object(), at(updated.changePosition()),
                                                            shown(updated.textRemoved()), shown(updated.textInserted()));
        break;
    }
    case QAccessible::TextSelectionChanged: {
        if (masked) return nullptr;
        const auto* selection = dynamic_cast<const QAccessibleTextSelectionEvent*>(&event);
        if (!selection) return nullptr;
        told = std::make_unique<QAccessibleTextSelectionEvent>(event.object(), at(selection->selectionStart()),
                                                               at(selection->selectionEnd()));
        break;
    }
    case QAccessible::TextCaretMoved:
        if (masked) return nullptr;
        told = std::make_unique<QAccessibleTextCursorEvent>(event.object(), 0);
        break;
    default: return nullptr;
    }
    told->setCursorPosition(at(cursorEvent->cursorPosition()));
    return told;
}

QString describedChoice(const QComboBox& combo) {
    const QVariant described = combo.property(describedChoiceProperty);
    if (!described.isValid() || described.toInt() != combo.currentIndex() || combo.currentIndex() < 0) return {};
    return QStringLiteral("%1, %2 of %3").arg(combo.currentText()).arg(combo.currentIndex() + 1).arg(combo.count());
}

} // namespace velk::Accessibility
