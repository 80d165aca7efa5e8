#include "base/unicode.hpp"

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace velk::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMaxScalar = 0x10FFFF;

bool isScalar(char32_t c) { return c <= kMaxScalar && !(c >= 0xD800 && c <= 0xDFFF); }

// Decodes the scalar at `offset` and moves past it. An ill-formed sequence gives a negative value
// and is skipped by its maximal subpart, as ICU's own conversions do.
UChar32 decodeAt(std::string_view text, std::size_t& offset) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data()) + offset;
    // A scalar takes at most four bytes; looking no further keeps the offsets small for ICU.
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(4, text.size() - offset));
    std::int32_t i = 0;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    offset += static_cast<std::size_t>(i);
    return c;
}

char32_t nextScalar(std::string_view text, std::size_t& offset) {
    UChar32 c = decodeAt(text, offset);
    return c < 0 ? kReplacement : static_cast<char32_t>(c);
}

void appendUTF8(std::string& out, char32_t c) {
    if (!isScalar(c)) c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

icu::UnicodeString toICU(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) throw std::length_error("The text is too long for Unicode processing.");
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

UChar32 icuChar(char32_t scalar) { return static_cast<UChar32>(scalar); }

// Break iterators and collators are costly to open; each thread keeps its own (they are not
// thread-safe to share).
icu::BreakIterator* graphemeIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) made.reset();
        return made;
    }();
    return iterator.get();
}

icu::Collator* caseInsensitiveCollator() {
    thread_local std::string localeName;
    thread_local std::unique_ptr<icu::Collator> collator;
    const icu::Locale& current = icu::Locale::getDefault();
    if (collator && localeName == current.getName()) return collator.get();
    // The POSIX collation sorts every capital before every small letter, which would make the
    // comparison case-sensitive; an unset locale ("C") compares with the root collation instead.
    icu::Locale locale = std::string_view(current.getVariant()) == "POSIX" ? icu::Locale::getRoot() : current;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !made) return nullptr;
    made->setStrength(icu::Collator::SECONDARY);
    collator = std::move(made);
    localeName = current.getName();
    return collator.get();
}

// The caseless form of a text: composed, folded, composed again. Composing first keeps "İ" one
// letter, which Turkish folds to "i" (decomposed, its "I" would fold to the dotless "ı").
icu::UnicodeString caselessForm(std::string_view text, std::uint32_t foldOptions) {
    icu::UnicodeString unicode = toICU(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* compose = icu::Normalizer2::getNFCInstance(status);
    if (U_SUCCESS(status)) unicode = compose->normalize(unicode, status);
    unicode.foldCase(foldOptions);
    if (U_SUCCESS(status)) unicode = compose->normalize(unicode, status);
    return unicode;
}

// Only Turkish and Azerbaijani fold I and İ differently from every other language.
std::uint32_t caseFoldingOptions(const icu::Locale& locale) {
    const std::string_view language = locale.getLanguage();
    return language == "tr" || language == "az" ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT;
}

} // namespace

bool isValidUTF8(std::string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        if (decodeAt(text, offset) < 0) return false;
    }
    return true;
}

std::vector<char32_t> scalars(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) out.push_back(nextScalar(text, offset));
    return out;
}

std::string fromScalars(const std::vector<char32_t>& values) {
    std::string out;
    out.reserve(values.size());
    for (char32_t c : values) appendUTF8(out, c);
    return out;
}

std::vector<std::string> graphemeClusters(std::string_view text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    icu::UnicodeString unicode = toICU(text);
    icu::BreakIterator* iterator = graphemeIterator();
    if (!iterator) {
        // Without break data each scalar stands alone; ICU ships its data, so this is a last resort.
        for (char32_t c : scalars(text)) out.push_back(fromScalars({c}));
        return out;
    }
    iterator->setText(unicode);
    std::int32_t start = iterator->first();
    for (std::int32_t end = iterator->next(); end != icu::BreakIterator::DONE; start = end, end = iterator->next()) {
        out.push_back(toUTF8(icu::UnicodeString(unicode, start, end - start)));
    }
    // The iterator keeps a reference to the text; leave it on one that outlives this call.
    static const icu::UnicodeString kNoText;
    iterator->setText(kNoText);
    return out;
}

std::size_t graphemeCount(std::string_view text) { return graphemeClusters(text).size(); }

std::string lowercased(std::string_view text) {
    icu::UnicodeString unicode = toICU(text);
    unicode.toLower(icu::Locale::getRoot());
    return toUTF8(unicode);
}

std::string uppercased(std::string_view text) {
    icu::UnicodeString unicode = toICU(text);
    unicode.toUpper(icu::Locale::getRoot());
    return toUTF8(unicode);
}

bool isWhitespace(char32_t scalar) { return isScalar(scalar) && u_isUWhiteSpace(icuChar(scalar)); }

std::string trimmedWhitespace(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    bool valid = true;
    for (std::size_t offset = 0; offset < text.size();) {
        std::size_t start = offset;
        UChar32 c = decodeAt(text, offset);
        if (c < 0) valid = false;
        if (c >= 0 && u_isUWhiteSpace(c)) continue;
        if (begin == text.size()) begin = start;
        end = offset;
    }
    if (begin >= end) return {};
    std::string_view kept = text.substr(begin, end - begin);
    return valid ? std::string(kept) : fromScalars(scalars(kept));
}

bool isControl(char32_t scalar) { return isScalar(scalar) && u_charType(icuChar(scalar)) == U_CONTROL_CHAR; }

bool isFormat(char32_t scalar) { return isScalar(scalar) && u_charType(icuChar(scalar)) == U_FORMAT_CHAR; }

bool isAlphabetic(char32_t scalar) { return isScalar(scalar) && u_hasBinaryProperty(icuChar(scalar), UCHAR_ALPHABETIC); }

bool hasNumericType(char32_t scalar) {
    return isScalar(scalar) && u_getIntPropertyValue(icuChar(scalar), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::optional<int> decimalDigitValue(char32_t scalar) {
    if (!isScalar(scalar) || u_getIntPropertyValue(icuChar(scalar), UCHAR_NUMERIC_TYPE) != U_NT_DECIMAL) return std::nullopt;
    int value = u_charDigitValue(icuChar(scalar));
    if (value < 0 || value > 9) return std::nullopt;
    return value;
}

std::string nfc(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString unicode = toICU(text);
    if (U_FAILURE(status)) return toUTF8(unicode);
    icu::UnicodeString normalized = normalizer->normalize(unicode, status);
    if (U_FAILURE(status)) return toUTF8(unicode);
    return toUTF8(normalized);
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b && isValidUTF8(a)) return true;
    return nfc(a) == nfc(b);
}

int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b) {
    icu::UnicodeString left = toICU(a);
    icu::UnicodeString right = toICU(b);
    icu::Collator* collator = caseInsensitiveCollator();
    if (!collator) {
        left.foldCase();
        right.foldCase();
        return left.compareCodePointOrder(right);
    }
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = collator->compare(left, right, status);
    if (U_FAILURE(status)) return left.caseCompare(right, U_FOLD_CASE_DEFAULT);
    return result == UCOL_LESS ? -1 : result == UCOL_EQUAL ? 0 : 1;
}

bool localizedCaseInsensitiveContains(std::string_view text, std::string_view part) {
    const std::uint32_t options = caseFoldingOptions(icu::Locale::getDefault());
    const icu::UnicodeString needle = caselessForm(part, options);
    if (needle.isEmpty()) return true;
    const icu::UnicodeString haystack = caselessForm(text, options);
    for (std::int32_t at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + 1)) {
        // "e" is not found in an "é" that has no composed form of its own.
        const std::int32_t end = at + needle.length();
        if (end < haystack.length() && u_hasBinaryProperty(haystack.char32At(end), UCHAR_GRAPHEME_EXTEND)) continue;
        return true;
    }
    return false;
}

} // namespace velk::text
