#include "base/rfc3339.hpp"

#include <cstdio>

namespace velk::rfc3339 {

namespace {

using namespace std::chrono;

// Reads exactly `count` decimal digits at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool at(std::string_view text, std::size_t pos, char expected) { return pos < text.size() && text[pos] == expected; }

} // namespace

std::optional<TimePoint> parse(std::string_view text) {
    // yyyy-MM-ddTHH:mm:ss[.fraction](Z|±hh:mm); every fixed field has exactly its width.
    auto yearValue = digits(text, 0, 4);
    auto monthValue = digits(text, 5, 2);
    auto dayValue = digits(text, 8, 2);
    auto hour = digits(text, 11, 2);
    auto minute = digits(text, 14, 2);
    auto second = digits(text, 17, 2);
    if (!yearValue || !monthValue || !dayValue || !hour || !minute || !second) return std::nullopt;
    if (!at(text, 4, '-') || !at(text, 7, '-') || !(at(text, 10, 'T') || at(text, 10, 't')) || !at(text, 13, ':') || !at(text, 16, ':')) {
        return std::nullopt;
    }
    const year_month_day date{year{*yearValue}, month{static_cast<unsigned>(*monthValue)}, day{static_cast<unsigned>(*dayValue)}};
    // A leap second (":60") cannot be represented by the system clock, so it is refused with the rest.
    if (!date.ok() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;

    std::size_t pos = 19;
    std::int64_t fractionNs = 0;
    if (at(text, pos, '.')) {
        ++pos;
        std::size_t first = pos;
        std::int64_t scale = 100'000'000;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            // Digits past nanoseconds are read and dropped.
            fractionNs += (text[pos] - '0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == first) return std::nullopt;
    }

    std::int64_t offsetSeconds = 0;
    if (at(text, pos, 'Z') || at(text, pos, 'z')) {
        ++pos;
    } else if (at(text, pos, '+') || at(text, pos, '-')) {
        int sign = text[pos] == '-' ? -1 : 1;
        auto offsetHour = digits(text, pos + 1, 2);
        auto offsetMinute = digits(text, pos + 4, 2);
        if (!offsetHour || !offsetMinute || !at(text, pos + 3, ':') || *offsetHour > 23 || *offsetMinute > 59) return std::nullopt;
        offsetSeconds = sign * (*offsetHour * 3600 + *offsetMinute * 60);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != text.size()) return std::nullopt;

    std::int64_t epochSeconds = sys_days(date).time_since_epoch().count() * 86400 + *hour * 3600 + *minute * 60 + *second - offsetSeconds;
    // The system clock counts nanoseconds in 64 bits: years outside roughly 1678-2261 do not fit.
    constexpr std::int64_t limitSeconds = duration_cast<seconds>(TimePoint::duration::max()).count() - 1;
    if (epochSeconds >= limitSeconds || epochSeconds <= -limitSeconds) return std::nullopt;
    return TimePoint(duration_cast<TimePoint::duration>(seconds(epochSeconds)) + duration_cast<TimePoint::duration>(nanoseconds(fractionNs)));
}

std::string format(TimePoint time, bool fractionalSeconds) {
    const auto wholeSeconds = floor<seconds>(time);
    const auto dayStart = floor<days>(wholeSeconds);
    const year_month_day date{dayStart};
    const hh_mm_ss clock{wholeSeconds - dayStart};
    char buffer[40];
    int length = std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                               static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                               static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                               static_cast<int>(clock.seconds().count()));
    std::string out(buffer, static_cast<std::size_t>(length));
    if (fractionalSeconds) {
        const auto ms = duration_cast<milliseconds>(time - wholeSeconds).count();
        std::snprintf(buffer, sizeof buffer, ".%03d", static_cast<int>(ms));
        out += buffer;
    }
    out += 'Z';
    return out;
}

} // namespace velk::rfc3339
