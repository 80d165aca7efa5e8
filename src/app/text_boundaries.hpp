#pragma once
// Where the characters, words, sentences, lines and paragraphs of a field's text begin and end,
// as assistive tools ask for them (the text at, before or after an offset), at every offset from 0
// to the text's length. Qt 6.4's own answer spins for ever for a word or a sentence at the offset
// just past the last character (app/qt_bridge_workarounds.hpp); this one walks the text's
// boundaries once. A field's text-attribute run is here too: one run over the whole text.

#include <QAccessible>
#include <QString>

namespace velk::Accessibility {

struct TextRange {
    int start = -1;
    int end = -1;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

enum class TextPart { at, before, after };

// The unit of `text` of kind `boundary` at, before or after `offset`. At the end of the text the
// unit at it is the last one (no character is at it); before the first unit and after the last one
// there is none ({-1, -1}). An offset outside 0..length has none either.
TextRange textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part);

// The same, answered the way Qt's text interface answers: the unit's text, its offsets in the two
// out-parameters.
QString textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part,
                 int* startOffset, int* endOffset);

// The text-attribute run at `offset` of a text of `length` characters, all in one style: the whole
// text (a screen reader takes the run's end as the end of what it reads).
TextRange attributeRun(int length, int offset);

} // namespace velk::Accessibility
