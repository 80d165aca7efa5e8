#pragma once
// Numbers written into user-visible texts. Always "." as the decimal separator and ASCII digits,
// whatever locale the application runs under (Qt sets the C library's locale from the user's).

#include <cstdint>
#include <string>

namespace velk::numberText {

// As printf's "%.<decimals>f" in the C locale: correctly rounded, "-" for negatives.
std::string fixed(double value, int decimals);
// Zero-padded to at least `width` characters, as printf's "%0<width>lld".
std::string padded(std::int64_t value, int width);

} // namespace velk::numberText
