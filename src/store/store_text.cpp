#include "store/store_text.hpp"

#include <cstring>
#include <limits>

#include "base/unicode.hpp"
#include "transfer/clip_files.hpp"

namespace velk::StoreText {

bool isASCII(std::string_view text) {
    // Eight bytes at a time: identifiers are compared in long runs while merging.
    constexpr std::uint64_t highBits = 0x8080808080808080ull;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & highBits) return false;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    }
    return true;
}

bool same(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    return text::canonicallyEqual(a, b);
}

SameText::SameText(std::string_view text) : m_text(text), m_isASCII(isASCII(text)) {}

bool SameText::operator()(std::string_view other) const {
    if (other == m_text) return true;
    if (m_isASCII && isASCII(other)) return false;
    return text::canonicallyEqual(m_text, other);
}

std::string canonicalKey(std::string_view value) {
    if (isASCII(value)) return std::string(value);
    return text::nfc(value);
}

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (isASCII(a) && isASCII(b)) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (asciiLower(a[i]) != asciiLower(b[i])) return false;
        }
        return true;
    }
    return text::canonicallyEqual(text::lowercased(a), text::lowercased(b));
}

bool localizedLess(std::string_view a, std::string_view b) { return text::localizedCaseInsensitiveCompare(a, b) < 0; }

std::string safeIdentifier(std::string_view value) { return ClipFiles::safeFolderName(value); }

bool isUnassignedProjectID(std::string_view projectID) {
    return projectID.substr(0, unassignedProjectPrefix.size()) == unassignedProjectPrefix;
}

std::optional<std::int64_t> nextRevision(std::optional<std::int64_t> current) {
    const std::int64_t value = current.value_or(0);
    if (value == std::numeric_limits<std::int64_t>::max()) return std::nullopt;
    return value + 1;
}

} // namespace velk::StoreText
