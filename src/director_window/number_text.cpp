#include "director_window/number_text.hpp"

#include <charconv>
#include <cmath>

namespace velk::numberText {

std::string fixed(double value, int decimals) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return {};
    return std::string(buffer, result.ptr);
}

std::string padded(std::int64_t value, int width) {
    const bool negative = value < 0;
    // The magnitude of the most negative value does not fit a signed integer.
    const unsigned long long magnitude = negative ? static_cast<unsigned long long>(-(value + 1)) + 1ULL
                                                  : static_cast<unsigned long long>(value);
    std::string digits = std::to_string(magnitude);
    const int digitsWidth = width - (negative ? 1 : 0); // as printf, the width counts the sign
    if (static_cast<int>(digits.size()) < digitsWidth)
        digits.insert(0, static_cast<std::size_t>(digitsWidth) - digits.size(), '0');
    return negative ? "-" + digits : digits;
}

} // namespace velk::numberText
