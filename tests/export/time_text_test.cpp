#include <cmath>
#include <limits>
#include <numbers>

#include "export_support.hpp"

namespace velk {
namespace {

TEST(TimelineRate, ReadsWholeDecimalAndFractionalTexts) {
    const std::pair<const char*, double> accepted[] = {
        {"30", 30}, {"29.97", 29.97}, {"30000/1001", 30000.0 / 1001}, {"24000/1001", 24000.0 / 1001}, {"30//1", 30},
        {"/30/1/", 30}, {"0/1", 0}, {"-30/1", -30}, {"2.5e1", 25}, {"+25", 25}};
    for (auto [text, rate] : accepted) EXPECT_DOUBLE_EQ(DriftEngine::fpsValue(text), rate) << text;

    for (const char* text : {"30/0", "abc", "0", "-25", "", "30 ", " 30", "29,97", "30/1/2", "/", "30/x", "nan"})
        EXPECT_EQ(testing::exportErrorOf([&] { DriftEngine::fpsValue(text); }), "Invalid timeline frame rate.") << text;
}

TEST(RationalTimeText, WorkedExamplesAndLargeMediaTimes) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> cases[] = {
        {2.5, "5/2s"}, {1.0 / 30, "1/30s"}, {1001.0 / 30000, "1001/30000s"}, {1001.0 / 24000, "1001/24000s"},
        {0.04, "1/25s"}, {2.0, "2/1s"}, {0.0, "0/1s"}, {-0.0, "0/1s"}, {-1.5, "-3/2s"}, {0.0000001, "0/1s"},
        {123.456789, "123456789/1000000s"}, {std::numbers::pi, "1146408/364913s"},
        {inf, "0s"}, {-inf, "0s"}, {std::numeric_limits<double>::quiet_NaN(), "0s"}, {1e300, "0s"},
        // A duration in a file with timescale 16384: the next convergent's numerator is beyond 64 bits.
        {576.0234985351562, "9437569/16384s"}, {-576.0234985351562, "-9437569/16384s"},
        {3600.5, "7201/2s"}, {86400.0 * 365 + 1.0 / 3, "94608001/3s"}};
    for (auto [value, text] : cases) EXPECT_EQ(DriftEngine::seconds(value), text) << value;

    for (double value : {0.1234567891, 7.0 / 1000003, 1e-6, 999.999999999, 1.0 / 2000001}) {
        const std::string text = DriftEngine::seconds(value);
        const auto slash = text.find('/');
        ASSERT_NE(slash, std::string::npos) << text;
        const long long denominator = std::stoll(text.substr(slash + 1));
        EXPECT_TRUE(denominator >= 1 && denominator <= 1'000'000) << text;
    }
}

TEST(AttributeEscaping, EscapesTheFourCharactersOnly) {
    const std::pair<const char*, const char*> cases[] = {
        {"a&b<\"c\">'d'", "a&amp;b&lt;&quot;c&quot;&gt;'d'"}, {"&amp;", "&amp;amp;"}, {"Cam\tÉté\n", "Cam\tÉté\n"}, {"", ""}};
    for (auto [text, escaped] : cases) EXPECT_EQ(DriftEngine::xmlEscape(text), escaped) << text;
}

} // namespace
} // namespace velk
