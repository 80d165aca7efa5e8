#pragma once
// How the text of a field that hides what is typed is told to assistive tools: as the field shows
// it, one mask character for each character, or nothing where the field shows nothing. A field in
// Normal echo mode tells its text.

#include <QLineEdit>
#include <QString>

namespace velk::Accessibility {

inline QString maskedText(const QString& text, QLineEdit::EchoMode echo, QChar mask) {
    if (echo == QLineEdit::Normal) return text;
    if (echo == QLineEdit::NoEcho) return {};
    return QString(text.size(), mask);
}

} // namespace velk::Accessibility
