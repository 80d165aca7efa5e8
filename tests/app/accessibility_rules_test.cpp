// The accessibility layer's plain rules: where a field's text units begin and end, how a hidden
// text is told, which new rows a list tells, which events a held key keeps; and when the
// workarounds for Qt's bridge are to be checked again.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QTextBoundaryFinder>

#include "app/activity_news.hpp"
#include "app/held_key_news.hpp"
#include "app/list_rows_told.hpp"
#include "app/masked_text.hpp"
#include "app/qt_bridge_workarounds.hpp"
#include "app/text_boundaries.hpp"

namespace velk::Accessibility {
namespace {

// Characters (code points) before a UTF-16 offset, and the UTF-16 offset of a character.
int charactersBefore(const QString& text, int utf16) { return int(QStringView(text).first(utf16).toUcs4().size()); }
int unitsBefore(const QString& text, int characters) {
    int units = 0;
    for (int counted = 0; counted < characters; ++counted) units += text.at(units).isHighSurrogate() ? 2 : 1;
    return units;
}

// Qt's own answers, from QAccessibleTextInterface's helpers over the text as Qt counts it (UTF-16
// units), their offsets turned into characters. An empty unit is none.
class QtsTextHelpers final : public QAccessibleTextInterface {
public:
    explicit QtsTextHelpers(QString text) : m_text(std::move(text)) {}
    // Qt's helper for the word or sentence at an offset spins for ever where its search starts on a
    // boundary that starts or ends an item at the text's end, or on one that does neither at its start.
    bool spinsAt(QAccessible::TextBoundaryType boundary, int offset) const {
        if (boundary != QAccessible::WordBoundary && boundary != QAccessible::SentenceBoundary) return false;
        QTextBoundaryFinder finder(boundary == QAccessible::WordBoundary ? QTextBoundaryFinder::Word : QTextBoundaryFinder::Sentence,
                                   m_text);
        const auto itemBoundary = [&](qsizetype at) {
            finder.setPosition(at);
            return bool(finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem));
        };
        if (m_text.isEmpty()) return false;
        if (offset == -1 || offset == m_text.size()) return itemBoundary(m_text.size());
        return offset == 0 && !itemBoundary(0);
    }
    TextRange unit(QAccessible::TextBoundaryType boundary, int utf16, TextPart part, QString* text) const {
        int start = -1, end = -1;
        *text = part == TextPart::at       ? textAtOffset(utf16, boundary, &start, &end)
                : part == TextPart::before ? textBeforeOffset(utf16, boundary, &start, &end)
                                           : textAfterOffset(utf16, boundary, &start, &end);
        if (text->isEmpty()) return {};
        return {charactersBefore(m_text, start), charactersBefore(m_text, end)};
    }
    QString text(int startOffset, int endOffset) const override { return m_text.mid(startOffset, endOffset - startOffset); }
    int characterCount() const override { return int(m_text.size()); }
    void selection(int, int*, int*) const override {}
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int*, int*) const override { return {}; }

private:
    QString m_text;
};

// Every text unit at, before and after every offset, in characters, against Qt's helpers: the same
// where they answer; where they spin, the unit at the end is the one before it (the last one).
TEST(AccessibilityRules, TextUnitsAreQtsInCharactersAtEveryOffset) {
    const char* const texts[] = {
        "", "abc", "Project 01", "Go. Now.", "\u00e9 \U0001F3AC x", "e\u0301 \U0001F3AC x",
        "\U0001F469\u200D\U0001F469\u200D\U0001F467 family", "\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA",
        "one\r\ntwo", "one\ntwo\n", " lead and trail ", "Hi! How are you? Fine.", "x\U0001F3AC\U0001F3ACy",
    };
    const QAccessible::TextBoundaryType boundaries[] = {QAccessible::CharBoundary,     QAccessible::WordBoundary,
                                                        QAccessible::SentenceBoundary, QAccessible::LineBoundary,
                                                        QAccessible::ParagraphBoundary, QAccessible::NoBoundary};
    int compared = 0;
    for (const char* utf8 : texts) {
        const QString text = QString::fromUtf8(utf8);
        const QtsTextHelpers qt(text);
        const int length = int(text.toUcs4().size());
        for (const auto boundary : boundaries) {
            for (int offset = -1; offset <= length + 1; ++offset) {
                const int utf16 = offset < 0 ? offset : offset > length ? int(text.size()) + 1 : unitsBefore(text, offset);
                for (const TextPart part : {TextPart::at, TextPart::before, TextPart::after}) {
                    TextPart asked = part;
                    if (part == TextPart::at && qt.spinsAt(boundary, utf16)) {
                        if (utf16 == 0) continue; // no answer of Qt's to hold it to
                        asked = TextPart::before;
                    }
                    QString qtText, ours;
                    const TextRange expected = qt.unit(boundary, utf16, asked, &qtText);
                    int start = 0, end = 0;
                    ours = textUnit(text, boundary, offset, part, &start, &end);
                    EXPECT_EQ((TextRange{start, end}), expected)
                        << utf8 << " boundary " << boundary << " offset " << offset << " part " << int(part)
                        << ": ours " << start << ".." << end << ", Qt's " << expected.start << ".." << expected.end;
                    EXPECT_EQ(ours, qtText) << utf8 << " boundary " << boundary << " offset " << offset << " part " << int(part);
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 2000);
}

// Where Qt's helper spins: the word at the start of a text that starts with a blank is the blank.
TEST(AccessibilityRules, TheWordAtTheStartOfABlankIsTheBlank) {
    EXPECT_EQ(textUnit(QStringLiteral(" lead"), QAccessible::WordBoundary, 0, TextPart::at), (TextRange{0, 1}));
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

TEST(AccessibilityRules, FewRowsComingIntoAShownListAreToldOneByOne) {
    struct Case {
        int before, inserted;
        bool shows, oneByOne;
    };
    const Case cases[] = {
        {500, 1, true, true},   // a new edit
        {10, 4, true, true},
        {10, 5, true, false},   // many at once: one change
        {0, 1, true, false},    // a take list refilled for a new project
        {0, 300, true, false},
        {1, 1, false, false},   // a combo box's closed list, refilled one row at a time
        {299, 1, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rowsToldOneByOne(c.before, c.inserted, c.shows), c.oneByOne) << c.before << "+" << c.inserted;
}

TEST(AccessibilityRules, TheActivityLogsNewEntriesAreNewsOldestFirst) {
    const ActivityEntry seen(WallTime{}, "Imported."), exported(WallTime{}, "Exported."), failed(WallTime{}, "Failed.", true);
    struct Case {
        std::vector<ActivityEntry> log; // newest first
        std::optional<uuid::Bytes> lastSeen;
        std::optional<std::string> inAlert;
        std::vector<std::string> news;
    };
    const Case cases[] = {
        {{failed, exported, seen}, seen.id(), {}, {"Exported.", "Failed."}},
        {{exported}, {}, {}, {"Exported."}},                 // the first entry of an empty log
        {{exported, seen}, failed.id(), {}, {}},             // a log replaced
        {{failed, seen}, seen.id(), failed.message, {}},     // the alert tells it
    };
    for (const Case& c : cases) EXPECT_EQ(ActivityNews::since(c.log, c.lastSeen, c.inAlert), c.news) << c.log.front().message;
}

TEST(AccessibilityRules, AHeldKeyKeepsTheRowsFocusSelectionScrollAndTexts) {
    using enum WhileAKeyIsHeld;
    struct Case {
        HeldKeyFacts event;
        WhileAKeyIsHeld expected;
    };
    const Case cases[] = {
        {{.type = QAccessible::Focus, .namesAListRow = true, .keyRepeats = true}, keepTheRowsFocus},
        {{.type = QAccessible::Focus, .namesAListRow = true}, tellNow}, // the press itself
        {{.type = QAccessible::Focus, .keyRepeats = true}, tellNow},    // a widget's focus
        {{.type = QAccessible::SelectionAdd, .namesAListRow = true, .keyRepeats = true}, keepTheSelection},
        {{.type = QAccessible::SelectionRemove, .namesAListRow = true, .keyRepeats = true}, keepTheSelection},
        {{.type = QAccessible::SelectionAdd, .namesAListRow = true}, tellNow},
        {{.type = QAccessible::ValueChanged, .ofAScrollBar = true, .keyRepeats = true}, keepTheLatest},
        {{.type = QAccessible::ValueChanged, .ofAScrollBar = true, .rowWaits = true}, keepTheLatest},
        {{.type = QAccessible::ValueChanged, .ofAScrollBar = true}, tellNow},
        {{.type = QAccessible::ValueChanged, .keyRepeats = true}, tellNow}, // a slider the key moves
        {{.type = QAccessible::NameChanged, .rowWaits = true}, keepTheLatest},
        {{.type = QAccessible::DescriptionChanged, .rowWaits = true}, keepTheLatest},
        {{.type = QAccessible::NameChanged, .keyRepeats = true}, tellNow},
        {{.type = QAccessible::TextInserted, .keyRepeats = true, .rowWaits = true}, tellNow},
    };
    for (const Case& c : cases)
        EXPECT_EQ(whileAKeyIsHeld(c.event), c.expected)
            << "event " << c.event.type << " row " << c.event.namesAListRow << " scroll bar " << c.event.ofAScrollBar
            << " repeats " << c.event.keyRepeats << " row waits " << c.event.rowWaits;
}

// A workaround stays on with every Qt until one is recorded as mending its fault.
TEST(AccessibilityRules, AWorkaroundIsOnUntilAQtIsRecordedAsMendingItsFault) {
    using QtBridgeWorkarounds::Workaround;
    const Workaround checked{"checked", QT_VERSION_CHECK(6, 4, 2)};
    const Workaround mended{"mended", QT_VERSION_CHECK(6, 4, 2), QT_VERSION_CHECK(6, 7, 0)};
    struct Case {
        Workaround workaround;
        int qt;
        bool on;
    };
    const Case cases[] = {
        {checked, QT_VERSION_CHECK(6, 4, 2), true},
        {checked, QT_VERSION_CHECK(6, 5, 0), true}, // past the Qt it was checked with: still on
        {checked, QT_VERSION_CHECK(7, 0, 0), true},
        {mended, QT_VERSION_CHECK(6, 6, 3), true},
        {mended, QT_VERSION_CHECK(6, 7, 0), false},
        {mended, QT_VERSION_CHECK(6, 8, 1), false},
    };
    for (const Case& c : cases) EXPECT_EQ(isOn(c.workaround, c.qt), c.on) << c.workaround.name << " with " << std::hex << c.qt;
}

// Built with a newer Qt than a workaround was checked with, this reminds to check it again: try the
// application without it (its tests name the fault), then record the Qt that mends it, or raise the
// Qt it was checked with. The workaround stays on meanwhile.
TEST(AccessibilityRules, EachBridgeWorkaroundWasCheckedWithTheQtBuiltWith) {
    for (const QtBridgeWorkarounds::Workaround& workaround : QtBridgeWorkarounds::all) {
        EXPECT_LE(QT_VERSION, workaround.checkedWith)
            << workaround.name << " was checked with an older Qt than " << QT_VERSION_STR << ": check it again";
        EXPECT_TRUE(isOn(workaround)) << workaround.name;
    }
}

} // namespace
} // namespace velk::Accessibility
