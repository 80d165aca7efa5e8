#pragma once
// How the text of a field that hides what is typed is told to assistive tools: one mask character
// for each character (an emoji is one, though Qt holds it as two units), or nothing where the field
// shows nothing. A field in Normal echo mode tells its text.

#include <algorithm>

#include <QLineEdit>
#include <QString>

namespace velk::Accessibility {

inline QString maskedText(const QString& text, QLineEdit::EchoMode echo, QChar mask) {
    if (echo == QLineEdit::Normal) return text;
    if (echo == QLineEdit::NoEcho) return {};
    return QString(std::count_if(text.cbegin(), text.cend(), [](QChar unit) { return !unit.isLowSurrogate(); }), mask);
}

} // namespace velk::Accessibility
