#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velk::uuid {

using Bytes = std::array<std::uint8_t, 16>;

// Strict text form: exactly 36 characters, 8-4-4-4-12 hexadecimal digits in either case, no
// braces, no other separators.
std::optional<Bytes> parse(std::string_view text);
bool isValid(std::string_view text);
// A new random version-4 UUID.
Bytes random();
std::string lowercaseText(const Bytes& bytes);
std::string uppercaseText(const Bytes& bytes);
std::string newLowercase();
std::string newUppercase();

} // namespace velk::uuid
