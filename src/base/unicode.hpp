#pragma once
// Unicode text rules over ICU. Text is UTF-8 std::string throughout; byte limits are size().

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::text {

bool isValidUTF8(std::string_view text);
// The Unicode scalars of UTF-8 text; an ill-formed sequence decodes as U+FFFD.
std::vector<char32_t> scalars(std::string_view text);
std::string fromScalars(const std::vector<char32_t>& scalars);
// Extended grapheme clusters, each as UTF-8 text.
std::vector<std::string> graphemeClusters(std::string_view text);
std::size_t graphemeCount(std::string_view text);

// Full, locale-independent case mapping (one scalar may map to several).
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);
// Removes leading and trailing scalars with the White_Space property (spaces and line breaks).
std::string trimmedWhitespace(std::string_view text);
bool isWhitespace(char32_t scalar);

bool isControl(char32_t scalar);   // general category Cc
bool isFormat(char32_t scalar);    // general category Cf
bool isAlphabetic(char32_t scalar); // Alphabetic property
// True when the scalar has a Numeric_Type (decimal, digit or numeric), as "٣" or "½" do.
bool hasNumericType(char32_t scalar);
// The decimal digit value 0-9 of a scalar with Numeric_Type decimal (any script), else none.
std::optional<int> decimalDigitValue(char32_t scalar);

// Canonical composition (NFC); canonicallyEqual compares the NFC forms.
std::string nfc(std::string_view text);
bool canonicallyEqual(std::string_view a, std::string_view b);

// Case-insensitive comparison with the current locale's collation: <0, 0 or >0.
int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);
// Whether `text` contains `part` without regard to case: full case folding ("STRASSE" finds
// "Straße"), with the current locale's own rules where folding has them (the dotted and dotless i
// of Turkish and Azerbaijani). Composed and decomposed accents compare alike, accents still count,
// and a match never ends inside a character. An empty `part` is found everywhere.
bool localizedCaseInsensitiveContains(std::string_view text, std::string_view part);

} // namespace velk::text
