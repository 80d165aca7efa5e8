#include "app/text_boundaries.hpp"

#include <algorithm>
#include <vector>

#include <QTextBoundaryFinder>

namespace velk::Accessibility {
namespace {

// The offsets where units of the kind begin or end, from 0 to the length, each once, in order.
std::vector<int> boundariesOf(const QString& text, QAccessible::TextBoundaryType boundary) {
    std::vector<int> at{0};
    const int length = int(text.size());
    if (boundary == QAccessible::LineBoundary || boundary == QAccessible::ParagraphBoundary) {
        // A field's lines are its paragraphs: each ends after its line feed.
        for (int i = 0; i < length; ++i)
            if (text.at(i) == QLatin1Char('\n') && i + 1 < length) at.push_back(i + 1);
    } else if (boundary != QAccessible::NoBoundary) {
        const auto type = boundary == QAccessible::WordBoundary       ? QTextBoundaryFinder::Word
                          : boundary == QAccessible::SentenceBoundary ? QTextBoundaryFinder::Sentence
                                                                      : QTextBoundaryFinder::Grapheme;
        QTextBoundaryFinder finder(type, text);
        // Never past the end: toNextBoundary answers -1 there.
        for (int position = finder.toNextBoundary(); position > 0 && position < length; position = finder.toNextBoundary()) {
            if (type == QTextBoundaryFinder::Grapheme ||
                finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem))
                at.push_back(position);
        }
    }
    if (length > 0) at.push_back(length);
    return at;
}

} // namespace

TextRange textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part) {
    const int length = int(text.size());
    if (length == 0 || offset < 0 || offset > length) return {};
    if (offset == length && boundary == QAccessible::CharBoundary && part == TextPart::at) return {length, length};
    const std::vector<int> at = boundariesOf(text, boundary);
    // The unit holding the offset, or the last one at the end: between at[unit] and at[unit + 1].
    const int probe = std::min(offset, length - 1);
    const int unit = int(std::upper_bound(at.begin(), at.end(), probe) - at.begin()) - 1;
    const int wanted = part == TextPart::at ? unit : part == TextPart::before ? unit - 1 : unit + 1;
    if (offset == length && part == TextPart::after) return {};
    if (wanted < 0 || wanted + 1 >= int(at.size())) return {};
    return {at[std::size_t(wanted)], at[std::size_t(wanted) + 1]};
}

QString textUnit(const QString& text, QAccessible::TextBoundaryType boundary, int offset, TextPart part,
                 int* startOffset, int* endOffset) {
    const TextRange range = textUnit(text, boundary, offset, part);
    *startOffset = range.start;
    *endOffset = range.end;
    return range.start < 0 ? QString() : text.mid(range.start, range.end - range.start);
}

TextRange attributeRun(int length, int offset) {
    if (offset < 0 || offset > length) return {};
    return {0, length};
}

} // namespace velk::Accessibility
