#include "app/text_boundaries.hpp"

#include <algorithm>
#include <vector>

#include <QTextBoundaryFinder>

namespace velk::Accessibility {
namespace {

constexpr TextRange none{};

bool startsAPair(const QString& text, int unit) {
    return text.at(unit).isHighSurrogate() && unit + 1 < text.size() && text.at(unit + 1).isLowSurrogate();
}

// Where units of the kind begin or end, in characters, as Qt's helpers find them: the text's start,
// then each boundary that starts or ends an item; the text's end among them only when it does.
std::vector<int> stopsOf(const QString& text, QAccessible::TextBoundaryType boundary) {
    const auto type = boundary == QAccessible::WordBoundary       ? QTextBoundaryFinder::Word
                      : boundary == QAccessible::SentenceBoundary ? QTextBoundaryFinder::Sentence
                                                                  : QTextBoundaryFinder::Grapheme;
    std::vector<int> stops{0};
    QTextBoundaryFinder finder(type, text);
    int unit = 0, character = 0;
    for (qsizetype position = finder.toNextBoundary(); position > 0; position = finder.toNextBoundary()) {
        if (!(finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem))) continue;
        for (; unit < position; ++character) unit += startsAPair(text, unit) ? 2 : 1;
        stops.push_back(character);
    }
    return stops;
}

// A line (or paragraph: a field makes no difference) at, before or after the offset, as Qt's helper
// answers: a line ends after its line feed, a carriage return being part of the line.
TextRange lineUnit(const QList<uint>& characters, int offset, TextPart part) {
    const int length = int(characters.size());
    const auto lineFeedFrom = [&](int from) {
        for (int i = std::max(from, 0); i < length; ++i)
            if (characters.at(i) == '\n') return i;
        return -1;
    };
    const auto lineFeedBackFrom = [&](int from) {
        for (int i = std::min(from, length - 1); i >= 0; --i)
            if (characters.at(i) == '\n') return i;
        return -1;
    };
    if (part == TextPart::after) {
        offset = lineFeedFrom(std::min(offset, length - 1));
        if (offset < 0) return none;
        ++offset;
    } else if (part == TextPart::before) {
        offset = lineFeedBackFrom(std::max(offset - 1, 0));
        if (offset < 0) return none;
    }
    const int start = offset > 0 ? lineFeedBackFrom(offset - 1) + 1 : 0;
    int end = lineFeedFrom(std::min(offset, length - 1)) + 1;
    if (end <= 0 || end > length) end = length;
    return start < end ? TextRange{start, end} : none;
}

} // namespace

int characterCount(const QString& text) { return characterOffset(text, int(text.size())); }

int characterOffset(const QString& text, int utf16Offset) {
    if (utf16Offset <= 0) return utf16Offset;
    const int within = std::min(utf16Offset, int(text.size()));
    int characters = 0;
    for (int unit = 0; unit < within; ++characters) {
        if (startsAPair(text, unit) && unit + 1 == within) break; // inside an emoji: its start
        unit += startsAPair(text, unit) ? 2 : 1;
    }
    return characters + (utf16Offset - within);
}

int utf16Offset(const QString& text, int characterOffset) {
    if (characterOffset <= 0) return characterOffset;
    int unit = 0, counted = 0;
    for (; unit < text.size() && counted < characterOffset; ++counted) unit += startsAPair(text, unit) ? 2 : 1;
    return unit + (characterOffset - counted);
}

QString charactersOf(const QString& text, int start, int end) {
    const int from = utf16Offset(text, std::max(start, 0));
    const int to = end < 0 ? int(text.size()) : utf16Offset(text, end);
    return from < to ? text.mid(from, to - from) : QString();
}

TextRange textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part) {
    const int length = characterCount(text);
    if (offset == -1) offset = length;
    const bool inside = part == TextPart::at       ? offset >= 0 && offset <= length
                        : part == TextPart::before ? offset > 0 && offset <= length
                                                   : offset >= 0 && offset < length;
    if (length == 0 || !inside) return none;
    if (boundary == QAccessible::NoBoundary) return part == TextPart::at ? TextRange{0, length} : none;
    if (boundary == QAccessible::LineBoundary || boundary == QAccessible::ParagraphBoundary)
        return lineUnit(text.toUcs4(), offset, part);
    if (part == TextPart::at && offset == length && boundary == QAccessible::CharBoundary) return none;

    const std::vector<int> stops = stopsOf(text, boundary);
    const auto lastAtOrBefore = [&](int at) { return *(std::upper_bound(stops.begin(), stops.end(), at) - 1); };
    const auto firstAfter = [&](int at) {
        const auto next = std::upper_bound(stops.begin(), stops.end(), at);
        return next == stops.end() ? length : *next;
    };
    switch (part) {
    case TextPart::at: {
        // At the end, the last unit: Qt's helper spins there when the end starts or ends an item.
        const int start = offset == length ? lastAtOrBefore(length - 1) : lastAtOrBefore(offset);
        return {start, offset == length ? length : firstAfter(start)};
    }
    case TextPart::before: {
        const int end = lastAtOrBefore(offset);
        if (end == 0) return none;
        return {lastAtOrBefore(end - 1), end};
    }
    case TextPart::after: {
        const int start = firstAfter(offset);
        if (start == length) return none;
        return {start, firstAfter(start)};
    }
    }
    return none;
}

QString textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part,
                 int* startOffset, int* endOffset) {
    const TextRange range = textUnit(text, boundary, offset, part);
    *startOffset = range.start;
    *endOffset = range.end;
    return range.start < 0 ? QString() : charactersOf(text, range.start, range.end);
}

TextRange attributeRun(int length, int offset) {
    if (offset == -1) offset = length;
    if (offset < 0 || offset > length) return {};
    return {0, length};
}

} // namespace velk::Accessibility
