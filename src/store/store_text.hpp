#pragma once
// The store's rules for comparing, ordering and deriving text. Identifiers and names are equal when
// they are canonically equivalent (precomposed and decomposed forms of one text are the same text);
// letter case matters unless a rule says otherwise. Sorting follows the user's locale, ignoring case.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::StoreText {

bool isASCII(std::string_view text);

// Canonical equivalence, with a fast answer for plain ASCII text.
bool same(std::string_view a, std::string_view b);
// `same` against one text, many times over.
class SameText {
public:
    explicit SameText(std::string_view text);
    bool operator()(std::string_view other) const;

private:
    std::string_view m_text;
    bool m_isASCII;
};
// A form of the text in which canonically equivalent texts are byte-equal (NFC).
std::string canonicalKey(std::string_view text);
// Equal ignoring letter case, not by locale (digests).
bool sameIgnoringCase(std::string_view a, std::string_view b);

// Strictly lower by the locale's case-insensitive collation.
bool localizedLess(std::string_view a, std::string_view b);

// Stable ascending sort by a text key; equal keys keep their order.
template <class T, class Key>
void stableSortBy(std::vector<T>& items, Key key) {
    std::stable_sort(items.begin(), items.end(),
                     [&](const T& a, const T& b) { return localizedLess(key(a), key(b)); });
}

// One folder level (or identifier part) made from any text: lower case, each character a letter,
// a number, "-" or "_", anything else one "-", with no "-" at either end. May be empty.
std::string safeIdentifier(std::string_view value);

// The prefix of projects that hold a source's takes recorded without a project.
inline constexpr std::string_view unassignedProjectPrefix = "unassigned-";
bool isUnassignedProjectID(std::string_view projectID);

// The next revision after `current` (absent counts as 0); none when it would overflow.
std::optional<std::int64_t> nextRevision(std::optional<std::int64_t> current);

} // namespace velk::StoreText
