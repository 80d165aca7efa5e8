#include "base/unicode.hpp"

#include <unicode/locid.h>

#include <gtest/gtest.h>

namespace velk::text {
namespace {

TEST(Utf8, IllFormedSequencesAndNonScalarsBecomeReplacementCharacters) {
    struct Case { std::string text; bool valid; std::vector<char32_t> scalars; };
    const Case cases[] = {
        {"", true, {}}, {"a\xC3\xA9", true, {U'a', 0xE9}}, {"\xF0\x9F\x98\x80", true, {0x1F600}},
        {"a\xFF" "b", false, {U'a', 0xFFFD, U'b'}},
        {"\xC0\xAF", false, {0xFFFD, 0xFFFD}},                            // overlong "/"
        {"\xED\xA0\x80", false, {0xFFFD, 0xFFFD, 0xFFFD}},                 // encoded surrogate
        {"x\xE2\x82", false, {U'x', 0xFFFD}},                              // truncated at the end
        {"\xF4\x90\x80\x80", false, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},     // above U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isValidUTF8(c.text), c.valid) << c.text;
        EXPECT_EQ(scalars(c.text), c.scalars) << c.text;
    }
    EXPECT_EQ(fromScalars({U'a', 0xE9, 0x20AC, 0x1F600}), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(fromScalars({0xD800, 0x110000}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(GraphemeClusters, CombiningSequencesAndEmojiStayWhole) {
    struct Case { const char* text; std::vector<std::string> clusters; };
    const Case cases[] = {
        {"", {}}, {"abc", {"a", "b", "c"}}, {"\r\n", {"\r\n"}},
        {"e\xCC\x81x", {"e\xCC\x81", "x"}},                                     // e + combining acute
        {"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", {"\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7"}}, // flag: two regional indicators
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD!", {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", "!"}}, // thumbs up + skin tone
        // woman ZWJ woman ZWJ girl: one family
        {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7",
         {"\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"}},
        {"\xE1\x84\x80\xE1\x85\xA1", {"\xE1\x84\x80\xE1\x85\xA1"}},               // Hangul jamo L + V
    };
    for (const auto& c : cases) {
        EXPECT_EQ(graphemeClusters(c.text), c.clusters) << c.text;
        EXPECT_EQ(graphemeCount(c.text), c.clusters.size()) << c.text;
    }
}

TEST(CaseMapping, FullMappingWithoutLocaleRules) {
    struct Case { const char* text; const char* lower; const char* upper; };
    const Case cases[] = {
        {"Take One", "take one", "TAKE ONE"}, {"I", "i", "I"},   // no Turkish dotless i
        {"stra\xC3\x9F" "e", "stra\xC3\x9F" "e", "STRASSE"},       // ß upper-cases to two letters
        {"\xC4\xB0", "i\xCC\x87", "\xC4\xB0"},                     // İ lower-cases to i + combining dot
        {"\xEF\xAC\x81", "\xEF\xAC\x81", "FI"},                     // ﬁ ligature
        {"\xCE\x9F\xCE\xA3", "\xCE\xBF\xCF\x82", "\xCE\x9F\xCE\xA3"}, // final sigma
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lowercased(c.text), c.lower) << c.text;
        EXPECT_EQ(uppercased(c.text), c.upper) << c.text;
    }
}

TEST(Whitespace, TrimsEveryWhiteSpaceScalarAtBothEnds) {
    struct Case { const char* text; const char* trimmed; };
    const Case cases[] = {
        {"", ""}, {" \t\r\n", ""}, {"  Cam A  ", "Cam A"},
        {"\xC2\xA0" "Cam\xC2\xA0" "B\xE2\x80\xA8", "Cam\xC2\xA0" "B"},      // NBSP, U+2028
        {"\xE3\x80\x80x\xE2\x80\x89", "x"},                                // ideographic space, thin space
        {"\xC2\x85" "x\x0B", "x"},                                         // NEL, vertical tab
        {"\xE2\x80\x8Bx\xE2\x80\x8B", "\xE2\x80\x8Bx\xE2\x80\x8B"},         // zero width space is not White_Space
        {"\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},                                 // nor is the byte order mark
        {" a\xFF ", "a\xEF\xBF\xBD"},                                      // ill-formed bytes become U+FFFD
    };
    for (const auto& c : cases) EXPECT_EQ(trimmedWhitespace(c.text), c.trimmed) << c.text;
    EXPECT_TRUE(isWhitespace(0x3000));
    EXPECT_FALSE(isWhitespace(0x200B));
}

TEST(GeneralCategories, ControlAndFormat) {
    struct Case { char32_t scalar; bool control; bool format; };
    const Case cases[] = {
        {0x0000, true, false},  {0x001F, true, false},  {0x007F, true, false},  {0x0085, true, false},
        {0x200B, false, true},  {0x200D, false, true},  {0xFEFF, false, true},  {0x00AD, false, true},
        {0x202E, false, true},  {U'a', false, false},   {U' ', false, false},   {0x2028, false, false},
        {0xE000, false, false}, {0xD800, false, false}, {0x110000, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.scalar));
        EXPECT_EQ(isControl(c.scalar), c.control);
        EXPECT_EQ(isFormat(c.scalar), c.format);
    }
}

TEST(CharacterProperties, AlphabeticNumericTypeAndDecimalDigits) {
    struct Case { char32_t scalar; bool alphabetic; bool numeric; std::optional<int> digit; };
    const auto none = std::nullopt;
    const Case cases[] = {
        {U'a', true, false, none},    {0x00E9, true, false, none},  {0x0436, true, false, none}, // é, ж
        {0x4E2D, true, false, none},  {0x0301, false, false, none}, {U'_', false, false, none}, // 中, combining acute
        {U'7', false, true, 7},       {0x0663, false, true, 3},     {0x06F5, false, true, 5},   // Arabic-Indic digits
        {0xFF19, false, true, 9},     {0x1D7D8, false, true, 0},                                // full-width, math
        {0x00B2, false, true, none},  {0x00BD, false, true, none},  // superscript two, one half: not decimal
        {0x216B, true, true, none},   {0x4E94, true, true, none},   {0x110000, false, false, none}, // Ⅻ, 五
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<unsigned>(c.scalar));
        EXPECT_EQ(isAlphabetic(c.scalar), c.alphabetic);
        EXPECT_EQ(hasNumericType(c.scalar), c.numeric);
        EXPECT_EQ(decimalDigitValue(c.scalar), c.digit);
    }
}

TEST(Normalization, ComposedAndDecomposedFormsAreCanonicallyEqual) {
    EXPECT_EQ(nfc("e\xCC\x81"), "\xC3\xA9");
    EXPECT_EQ(nfc("\xE2\x84\xAB"), "\xC3\x85"); // Angstrom sign becomes Å
    EXPECT_TRUE(canonicallyEqual("caf\xC3\xA9", "cafe\xCC\x81"));
    EXPECT_TRUE(canonicallyEqual("", ""));
    EXPECT_FALSE(canonicallyEqual("\xEF\xAC\x81", "fi")); // compatibility only
    EXPECT_FALSE(canonicallyEqual("caf\xC3\xA9", "Caf\xC3\xA9"));
}

class Collation : public ::testing::Test {
protected:
    void TearDown() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(m_saved, status);
    }
    icu::Locale m_saved = icu::Locale::getDefault();
};

TEST_F(Collation, IgnoresCaseButNotAccentsOrLetters) {
    for (const char* locale : {"en_US", "de_DE", "en_US_POSIX"}) {
        SCOPED_TRACE(locale);
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        ASSERT_TRUE(U_SUCCESS(status));
        EXPECT_EQ(localizedCaseInsensitiveCompare("Alpha", "alpha"), 0);
        EXPECT_LT(localizedCaseInsensitiveCompare("alpha", "beta"), 0);
        EXPECT_LT(localizedCaseInsensitiveCompare("Alpha", "beta"), 0);
        EXPECT_GT(localizedCaseInsensitiveCompare("Beta", "alpha"), 0);
        EXPECT_NE(localizedCaseInsensitiveCompare("resume", "r\xC3\xA9sum\xC3\xA9"), 0);
        EXPECT_EQ(localizedCaseInsensitiveCompare("r\xC3\xA9sum\xC3\xA9", "RE\xCC\x81SUME\xCC\x81"), 0);
    }
}

TEST_F(Collation, ContainsFoldsCaseFullyAndByTheLocalesRules) {
    struct Case {
        const char* locale;
        const char* text;
        const char* part;
        bool found;
    };
    const Case cases[] = {
        {"en_US", "Stra\xC3\x9F" "e", "STRASSE", true},          // Straße
        {"en_US", "STRASSE", "stra\xC3\x9F" "e", true},
        {"en_US", "\xEF\xAC\x81nal cut", "FINAL", true},          // the ligature ﬁ
        {"en_US", "R\xC3\xA9sum\xC3\xA9", "re\xCC\x81sume\xCC\x81", true}, // composed and decomposed
        {"en_US", "R\xC3\xA9sum\xC3\xA9", "resume", false},     // accents count
        {"en_US", "cafe\xCC\x81", "cafe", false},                // no match ends inside é
        {"en_US", "q\xCC\x83", "q", false},                      // nor inside a letter without a composed form
        {"en_US", "Interview", "", true},
        {"en_US", "", "a", false},
        {"en_US", "Irmak", "irmak", true},
        {"en_US", "\xC4\xB1rmak", "IRMAK", false},                 // ırmak
        {"tr_TR", "\xC4\xB1rmak", "IRMAK", true},
        {"tr_TR", "Irmak", "irmak", false},
        {"tr_TR", "\xC4\xB0ZM\xC4\xB0R", "izmir", true},           // İZMİR
        {"az_AZ", "\xC4\xB0" "ki", "iki", true},                   // İki
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.text + " / " + c.part);
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(c.locale), status);
        EXPECT_EQ(localizedCaseInsensitiveContains(c.text, c.part), c.found);
    }
}

} // namespace
} // namespace velk::text
