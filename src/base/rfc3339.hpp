#pragma once
// Internet date-time text (RFC 3339): "2026-05-01T12:30:00Z", "2026-05-01T12:30:00.250+02:00".

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace velk::rfc3339 {

using TimePoint = std::chrono::system_clock::time_point;

// Accepts the full form with or without fractional seconds; the zone ("Z" or "±hh:mm") is required.
std::optional<TimePoint> parse(std::string_view text);
// Formats in UTC with "Z"; with fractional seconds the milliseconds are written (".250").
std::string format(TimePoint time, bool fractionalSeconds = false);

} // namespace velk::rfc3339
