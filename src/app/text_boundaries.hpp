#pragma once
// Where the characters, words, sentences, lines and paragraphs of a field's text begin and end,
// as assistive tools ask for them: the text at, before or after an offset. The answers are those
// of Qt's own helpers (QAccessibleTextInterface's text...Offset, over QTextBoundaryFinder), but
// where Qt's spin for ever (the word or sentence at the end of a text, or at its start when it
// starts with a blank) this one answers the unit there, and every offset counts characters
// (Unicode code points), as AT-SPI does, where a QString counts UTF-16 units: an emoji is one
// character and two units. A field's text-attribute run is here too: one run over the whole text.

#include <QAccessible>
#include <QString>

namespace velk::Accessibility {

struct TextRange {
    int start = -1;
    int end = -1;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

enum class TextPart { at, before, after };

// The characters of a text, and its offsets in characters and in UTF-16 units, each way. An offset
// beyond the text counts on from its end, one character a unit; one inside a character (between
// the two units of an emoji) counts as the character's start.
int characterCount(const QString& text);
int characterOffset(const QString& text, int utf16Offset);
int utf16Offset(const QString& text, int characterOffset);
// The text between two character offsets (the end -1: to the end of the text).
QString charactersOf(const QString& text, int start, int end);

// The unit of `text` of kind `boundary` at, before or after the character `offset`, in characters;
// none is {-1, -1}. An offset of -1 stands for the text's end. At the end of the text the unit at
// it, as the unit before it, is the last one, but no character is there; after the last unit, and
// before the first, there is none; nor is there at an offset outside the text.
TextRange textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part);

// The same, answered the way Qt's text interface answers: the unit's text, its offsets in the two
// out-parameters.
QString textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part,
                 int* startOffset, int* endOffset);

// The text-attribute run at `offset` of a text of `length` characters, all in one style: the whole
// text (a screen reader takes the run's end as the end of what it reads).
TextRange attributeRun(int length, int offset);

} // namespace velk::Accessibility
