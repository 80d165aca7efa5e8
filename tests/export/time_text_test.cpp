#include "export/drift_engine.hpp"

#include <cmath>
#include <limits>
#include <numbers>

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(TimelineRate, ReadsWholeDecimalAndFractionalTexts) {
    struct Case { const char* text; double expected; };
    const Case cases[] = {
        {"30", 30},
        {"29.97", 29.97},
        {"30000/1001", 30000.0 / 1001},
        {"30//1", 30},
        {"/30/1/", 30},
        {"24000/1001", 24000.0 / 1001},
        {"0/1", 0},
        {"-30/1", -30},
        {"2.5e1", 25},
        {"+25", 25},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(DriftEngine::fpsValue(c.text), c.expected) << c.text;
}

TEST(TimelineRate, RejectsUnreadableTexts) {
    const char* const texts[] = {"30/0", "abc", "0", "-25", "", "30 ", " 30", "29,97", "30/1/2", "/", "30/x", "nan"};
    for (const char* text : texts) {
        try {
            DriftEngine::fpsValue(text);
            ADD_FAILURE() << '"' << text << "\" was accepted";
        } catch (const DriftExportError& error) {
            EXPECT_EQ(error.errorCase(), DriftExportError::Case::invalid);
            EXPECT_STREQ(error.what(), "Invalid timeline frame rate.");
        }
    }
}

TEST(RationalTimeText, WorkedExamples) {
    struct Case { double value; const char* text; };
    const Case cases[] = {
        {2.5, "5/2s"},
        {1.0 / 30, "1/30s"},
        {1001.0 / 30000, "1001/30000s"},
        {1001.0 / 24000, "1001/24000s"},
        {0.04, "1/25s"},
        {2.0, "2/1s"},
        {0.0, "0/1s"},
        {-0.0, "0/1s"},
        {-1.5, "-3/2s"},
        {0.0000001, "0/1s"},
        {123.456789, "123456789/1000000s"},
        {std::numbers::pi, "1146408/364913s"},
        {std::numeric_limits<double>::infinity(), "0s"},
        {-std::numeric_limits<double>::infinity(), "0s"},
        {std::numeric_limits<double>::quiet_NaN(), "0s"},
    };
    for (const Case& c : cases) EXPECT_EQ(DriftEngine::seconds(c.value), c.text) << c.value;
}

TEST(RationalTimeText, MediaTimesWithLargeNumeratorsDoNotOverflow) {
    // A duration in a file with timescale 16384; one further convergent has a denominator far
    // above the bound and a numerator beyond 64 bits.
    EXPECT_EQ(DriftEngine::seconds(576.0234985351562), "9437569/16384s");
    EXPECT_EQ(DriftEngine::seconds(-576.0234985351562), "-9437569/16384s");
    EXPECT_EQ(DriftEngine::seconds(3600.5), "7201/2s");
    EXPECT_EQ(DriftEngine::seconds(86400.0 * 365 + 1.0 / 3), "94608001/3s");
    EXPECT_EQ(DriftEngine::seconds(1e300), "0s");
}

TEST(RationalTimeText, DenominatorNeverExceedsOneMillion) {
    for (double value : {0.1234567891, 7.0 / 1000003, 1e-6, 999.999999999, 1.0 / 2000001}) {
        const std::string text = DriftEngine::seconds(value);
        const auto slash = text.find('/');
        ASSERT_NE(slash, std::string::npos) << text;
        const long long denominator = std::stoll(text.substr(slash + 1));
        EXPECT_GE(denominator, 1) << text;
        EXPECT_LE(denominator, 1'000'000) << text;
    }
}

TEST(AttributeEscaping, EscapesTheFourCharactersOnly) {
    EXPECT_EQ(DriftEngine::xmlEscape("a&b<\"c\">'d'"), "a&amp;b&lt;&quot;c&quot;&gt;'d'");
    EXPECT_EQ(DriftEngine::xmlEscape("&amp;"), "&amp;amp;");
    EXPECT_EQ(DriftEngine::xmlEscape("Cam\tÉté\n"), "Cam\tÉté\n");
    EXPECT_EQ(DriftEngine::xmlEscape(""), "");
}

} // namespace
} // namespace velk
