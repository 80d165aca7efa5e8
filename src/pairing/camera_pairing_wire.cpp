#include "pairing/camera_pairing_wire.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/unicode.hpp"
#include "base/uuid.hpp"

namespace velk::CameraPairingWire {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::array<std::int8_t, 256> makeValues() {
    std::array<std::int8_t, 256> values{};
    for (auto& value : values) value = -1;
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}
constexpr std::array<std::int8_t, 256> values = makeValues();

} // namespace

std::string base64(std::span<const std::uint8_t> input) {
    std::string out;
    out.reserve((input.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 3 <= input.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t(input[i]) << 16) | (std::uint32_t(input[i + 1]) << 8) | input[i + 2];
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
        out += alphabet[group & 63];
    }
    const std::size_t rest = input.size() - i;
    if (rest == 1) {
        const std::uint32_t group = std::uint32_t(input[i]) << 16;
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
    } else if (rest == 2) {
        const std::uint32_t group = (std::uint32_t(input[i]) << 16) | (std::uint32_t(input[i + 1]) << 8);
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
    }
    return out;
}

std::optional<Bytes> bytes(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (values[static_cast<unsigned char>(c)] < 0) return std::nullopt;
    }
    if (text.size() % 4 == 1) return std::nullopt;
    Bytes out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        buffer = (buffer << 6) | std::uint32_t(values[static_cast<unsigned char>(c)]);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    // Unused low bits of the last character must be zero: only the canonical text is accepted.
    if (base64(out) != text) return std::nullopt;
    return out;
}

bool bounded(std::string_view candidate, std::int64_t maximum) {
    if (candidate.empty()) return false;
    if (maximum < 0 || candidate.size() > static_cast<std::uint64_t>(maximum)) return false;
    if (!text::isValidUTF8(candidate)) return false;
    const std::vector<char32_t> scalars = text::scalars(candidate);
    return std::none_of(scalars.begin(), scalars.end(),
                        [](char32_t scalar) { return text::isControl(scalar) || text::isFormat(scalar); });
}

bool uuid(std::string_view candidate) {
    if (candidate.size() != 36) return false;
    const std::optional<velk::uuid::Bytes> parsed = velk::uuid::parse(candidate);
    return parsed && velk::uuid::lowercaseText(*parsed) == candidate;
}

Bytes helloTranscript(std::string_view director, std::string_view invite, std::string_view request,
                      std::string_view camera, std::string_view name, std::string_view publicKey) {
    std::string text(helloTag);
    for (std::string_view line : {director, invite, request, camera, name, publicKey}) {
        text += '\n';
        text += line;
    }
    return Bytes(text.begin(), text.end());
}

Bytes acceptTranscript(std::span<const std::uint8_t> hello, std::string_view directorName, std::string_view publicKey) {
    std::string text(acceptTag);
    text.append(reinterpret_cast<const char*>(hello.data()), hello.size());
    text += '\n';
    text += directorName;
    text += '\n';
    text += publicKey;
    return Bytes(text.begin(), text.end());
}

std::string verificationCode(std::span<const std::uint8_t> transcript) {
    const Sha256::Digest digest = Sha256::of(transcript);
    const std::uint32_t value = (std::uint32_t(digest[0]) << 24) | (std::uint32_t(digest[1]) << 16) |
                                (std::uint32_t(digest[2]) << 8) | std::uint32_t(digest[3]);
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(value % 1000000u));
    return text;
}

} // namespace velk::CameraPairingWire
