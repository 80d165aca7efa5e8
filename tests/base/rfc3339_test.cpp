#include "base/rfc3339.hpp"

#include <gtest/gtest.h>

namespace velk::rfc3339 {
namespace {

using std::chrono::nanoseconds;

// Nanoseconds since 1970 in UTC.
std::optional<std::int64_t> parsedNs(std::string_view text) {
    auto time = parse(text);
    if (!time) return std::nullopt;
    return std::chrono::duration_cast<nanoseconds>(time->time_since_epoch()).count();
}

constexpr std::int64_t kSecond = 1'000'000'000;

TEST(Rfc3339Parse, AcceptsTheFullFormWithAZone) {
    struct Case { const char* text; std::int64_t ns; };
    const Case cases[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2026-05-01T12:30:00Z", 1777638600 * kSecond},
        {"2026-05-01t12:30:00z", 1777638600 * kSecond},
        {"2026-05-01T12:30:00+00:00", 1777638600 * kSecond},
        {"2026-05-01T12:30:00-00:00", 1777638600 * kSecond},
        {"2026-05-01T12:30:00.250+02:00", 1777631400 * kSecond + 250'000'000},
        {"2026-05-01T12:30:00-04:30", 1777654800 * kSecond},
        {"2026-05-01T12:30:00.5Z", 1777638600 * kSecond + 500'000'000},
        {"2026-05-01T12:30:00.000001Z", 1777638600 * kSecond + 1'000},
        {"2026-05-01T12:30:00.123456789Z", 1777638600 * kSecond + 123'456'789},
        {"2026-05-01T12:30:00.1234567899999Z", 1777638600 * kSecond + 123'456'789}, // beyond nanoseconds dropped
        {"2024-02-29T23:59:59Z", 1709251199 * kSecond},
        {"2000-02-29T00:00:00Z", 951782400 * kSecond},
        {"1969-12-31T23:59:59.999Z", -kSecond + 999'000'000},
        {"1970-01-01T00:00:00+23:59", -(23 * 3600 + 59 * 60) * kSecond},
        {"2261-12-31T23:59:59Z", 9214646399 * kSecond},
        {"1700-01-01T00:00:00Z", -8520336000 * kSecond},
    };
    for (const auto& c : cases) EXPECT_EQ(parsedNs(c.text), c.ns) << c.text;
}

TEST(Rfc3339Parse, RejectsMissingPartsAndOutOfRangeFields) {
    const char* cases[] = {
        "", "2026-05-01", "2026-05-01T12:30:00" /* no zone */, "2026-05-01T12:30Z" /* no seconds */,
        "2026-05-01 12:30:00Z", "2026-05-01T12:30:00.Z", "2026-05-01T12:30:00,5Z", "2026-5-01T12:30:00Z",
        "2026-05-1T12:30:00Z", "02026-05-01T12:30:00Z", "2026-13-01T12:30:00Z", "2026-00-01T12:30:00Z",
        "2026-05-00T12:30:00Z", "2026-04-31T12:30:00Z", "2023-02-29T12:30:00Z", "2100-02-29T12:30:00Z",
        "2026-05-01T24:00:00Z", "2026-05-01T12:60:00Z", "2026-05-01T12:30:60Z" /* no leap seconds */,
        "2026-05-01T12:30:00+24:00", "2026-05-01T12:30:00+02:60", "2026-05-01T12:30:00+0200",
        "2026-05-01T12:30:00+02", "2026-05-01T12:30:00Z ", " 2026-05-01T12:30:00Z", "2026-05-01T12:30:00ZZ",
        "2026-05-01T12:30:00UTC", "2026-05-01T12:30:0aZ", "+2026-05-01T12:30:0Z",
        "0001-01-01T00:00:00Z", "2300-01-01T00:00:00Z", "9999-12-31T23:59:59Z", // outside the clock's range
    };
    for (const char* text : cases) EXPECT_FALSE(parse(text)) << text;
}

TEST(Rfc3339Format, WritesUtcWithOptionalMillisecondsThatParseBack) {
    struct Case { std::int64_t ns; const char* plain; const char* fractional; };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00Z", "1970-01-01T00:00:00.000Z"},
        {1777638600 * kSecond + 250'000'000, "2026-05-01T12:30:00Z", "2026-05-01T12:30:00.250Z"},
        {1777638600 * kSecond + 999'999'999, "2026-05-01T12:30:00Z", "2026-05-01T12:30:00.999Z"}, // truncated
        {1709251199 * kSecond + 7'000'000, "2024-02-29T23:59:59Z", "2024-02-29T23:59:59.007Z"},
        {-1, "1969-12-31T23:59:59Z", "1969-12-31T23:59:59.999Z"},
        {-8520336000 * kSecond, "1700-01-01T00:00:00Z", "1700-01-01T00:00:00.000Z"},
    };
    for (const auto& c : cases) {
        TimePoint time{std::chrono::duration_cast<TimePoint::duration>(nanoseconds(c.ns))};
        EXPECT_EQ(format(time), c.plain) << c.ns;
        EXPECT_EQ(format(time, true), c.fractional) << c.ns;
        const auto back = parse(c.fractional);
        ASSERT_TRUE(back) << c.fractional;
        EXPECT_EQ(format(*back, true), c.fractional);
    }
}

} // namespace
} // namespace velk::rfc3339
