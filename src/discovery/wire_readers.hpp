#pragma once
// Value readers for JSON received on the live camera channel. Each takes a value that may be
// absent (nullptr) and never throws: a value that does not fit gives none, and the caller falls
// back to an earlier value or a default. Protocol decisions use the strict readers; display
// fields use the lenient ones.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.hpp"

namespace velk::wire {

// The member under `key` of an object, or nullptr when `object` is no object or lacks the key.
const Json* member(const Json& object, std::string_view key);
const Json* member(const Json* object, std::string_view key);

// A JSON number (never a boolean) that is finite, integral and within the signed 64-bit range.
std::optional<std::int64_t> exactInteger(const Json* value);
// true or false only; the numbers 0 and 1 give none.
std::optional<bool> strictBoolean(const Json* value);
// Any JSON number or boolean; a fraction is cut toward zero, true is 1, and values beyond the
// signed 64-bit range saturate.
std::optional<std::int64_t> lenientInteger(const Json* value);
// Any finite JSON number or boolean as a double (true 1.0, false 0.0).
std::optional<double> lenientDouble(const Json* value);
// A JSON number (never a boolean) that is finite, integral, not negative and at most 2^53 - 1.
std::optional<std::int64_t> safeInteger(const Json* value);
// A JSON string.
std::optional<std::string> string(const Json* value);

constexpr std::int64_t maximumSafeInteger = 9007199254740991;

} // namespace velk::wire
