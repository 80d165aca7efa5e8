#include "base/uuid.hpp"

#include "base/sha256.hpp"

#include <algorithm>

namespace velk::uuid {

namespace {

constexpr std::size_t kTextLength = 36;

bool isHyphenPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string text(const Bytes& bytes, const char* digits) {
    std::string out;
    out.reserve(kTextLength);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

} // namespace

std::optional<Bytes> parse(std::string_view input) {
    if (input.size() != kTextLength) return std::nullopt;
    Bytes bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < input.size(); ++i) {
        if (isHyphenPosition(i)) {
            if (input[i] != '-') return std::nullopt;
            continue;
        }
        int value = hexValue(input[i]);
        if (value < 0) return std::nullopt;
        auto& byte = bytes[nibble / 2];
        byte = static_cast<std::uint8_t>(nibble % 2 == 0 ? value << 4 : byte | value);
        ++nibble;
    }
    return bytes;
}

bool isValid(std::string_view input) { return parse(input).has_value(); }

Bytes random() {
    velk::Bytes source = randomBytes(16);
    Bytes bytes{};
    std::copy_n(source.begin(), bytes.size(), bytes.begin());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return bytes;
}

std::string lowercaseText(const Bytes& bytes) { return text(bytes, "0123456789abcdef"); }
std::string uppercaseText(const Bytes& bytes) { return text(bytes, "0123456789ABCDEF"); }
std::string newLowercase() { return lowercaseText(random()); }
std::string newUppercase() { return uppercaseText(random()); }

} // namespace velk::uuid
