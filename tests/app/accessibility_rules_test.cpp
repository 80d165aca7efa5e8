// The accessibility layer's plain rules: where a field's text units begin and end, how a hidden
// text is told.

#include <gtest/gtest.h>

#include "app/masked_text.hpp"
#include "app/text_boundaries.hpp"

namespace velk::Accessibility {
namespace {

TEST(AccessibilityRules, TextUnitsAtEveryOffsetUpToTheEnd) {
    constexpr auto at = TextPart::at, before = TextPart::before, after = TextPart::after;
    struct Case {
        const char* text;
        QAccessible::TextBoundaryType boundary;
        int offset;
        TextPart part;
        TextRange expected;
    };
    const Case cases[] = {
        {"Proj", QAccessible::WordBoundary, 4, at, {0, 4}}, // the end: the last word
        {"Proj", QAccessible::SentenceBoundary, 4, at, {0, 4}},
        {"Proj", QAccessible::CharBoundary, 4, at, {4, 4}}, // no character at the end
        {"Proj", QAccessible::CharBoundary, 3, at, {3, 4}},
        {"Proj", QAccessible::LineBoundary, 4, at, {0, 4}},
        {"Proj", QAccessible::ParagraphBoundary, 2, at, {0, 4}},
        {"Proj", QAccessible::NoBoundary, 1, at, {0, 4}},
        {"Project 01", QAccessible::WordBoundary, 10, at, {8, 10}},
        {"Project 01", QAccessible::WordBoundary, 3, at, {0, 7}},
        {"Project 01", QAccessible::WordBoundary, 7, at, {7, 8}}, // the blank between
        {"Project 01", QAccessible::WordBoundary, 10, before, {7, 8}},
        {"Project 01", QAccessible::WordBoundary, 0, before, {-1, -1}},
        {"Project 01", QAccessible::WordBoundary, 0, after, {7, 8}},
        {"Project 01", QAccessible::WordBoundary, 10, after, {-1, -1}},
        {"Go. Now", QAccessible::SentenceBoundary, 7, at, {4, 7}},
        {"one\ntwo", QAccessible::LineBoundary, 7, at, {4, 7}},
        {"one\ntwo", QAccessible::LineBoundary, 1, after, {4, 7}},
        {"", QAccessible::WordBoundary, 0, at, {-1, -1}},
        {"Proj", QAccessible::WordBoundary, 5, at, {-1, -1}},
        {"Proj", QAccessible::WordBoundary, -1, at, {-1, -1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textUnit(QString::fromUtf8(c.text), c.boundary, c.offset, c.part), c.expected)
            << c.text << " boundary " << c.boundary << " offset " << c.offset << " part " << int(c.part);
}

TEST(AccessibilityRules, AnAttributeRunCoversTheText) {
    EXPECT_EQ(attributeRun(10, 0), (TextRange{0, 10}));
    EXPECT_EQ(attributeRun(10, 9), (TextRange{0, 10}));
    EXPECT_EQ(attributeRun(10, 10), (TextRange{0, 10}));
    EXPECT_EQ(attributeRun(10, 11), (TextRange{-1, -1}));
}

TEST(AccessibilityRules, AHiddenTextIsToldAsTheFieldShowsIt) {
    const QChar mask(0x25CF);
    EXPECT_EQ(maskedText("Chi", QLineEdit::Normal, mask), "Chi");
    EXPECT_EQ(maskedText("Chi", QLineEdit::Password, mask), QString(3, mask));
    EXPECT_EQ(maskedText("Chi", QLineEdit::PasswordEchoOnEdit, mask), QString(3, mask));
    EXPECT_EQ(maskedText("Chi", QLineEdit::NoEcho, mask), "");
}

} // namespace
} // namespace velk::Accessibility
