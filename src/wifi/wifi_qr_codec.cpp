#include "wifi/wifi_qr_codec.hpp"

#include <algorithm>
#include <vector>

#include "base/unicode.hpp"

namespace velk {

namespace {

constexpr const char* kNameMessage = "Network name must be 1–32 UTF-8 bytes with no control characters.";
constexpr const char* kOpenPasswordMessage = "Open networks must not include a password.";
constexpr const char* kPersonalPasswordMessage = "Personal Wi-Fi passwords must be 8–63 printable ASCII characters.";
constexpr const char* kNotSupportedMessage = "This is not a supported Wi-Fi QR code.";
constexpr const char* kEmptyMessage = "The Wi-Fi QR code is empty.";
constexpr const char* kIncompleteEscapeMessage = "The Wi-Fi QR code ends with an incomplete escape.";
constexpr const char* kMalformedFieldMessage = "The Wi-Fi QR code has a malformed field.";
constexpr const char* kUnsupportedFieldMessage = "The Wi-Fi QR code has an unsupported or duplicate field.";
constexpr const char* kUnescapedReservedMessage = "Reserved characters in Wi-Fi details must be escaped.";
constexpr const char* kUnsupportedEscapeMessage = "The Wi-Fi QR code uses an unsupported escape sequence.";
constexpr const char* kMissingFieldMessage = "The Wi-Fi QR code is missing its security type or network name.";
constexpr const char* kUnsupportedSecurityMessage =
    "Only WPA/WPA2 Personal, WPA3 Personal, and open Wi-Fi QR codes are supported.";
constexpr const char* kHiddenFlagMessage = "The hidden-network field must be true or false.";

using Characters = std::vector<std::string>;

bool isReserved(std::string_view character) {
    return character == "\\" || character == ";" || character == ":" || character == "," || character == "\"";
}

[[noreturn]] void fail(const char* sentence) { throw WiFiQRError::invalid(sentence); }

void validateName(const std::string& ssid) {
    if (text::trimmedWhitespace(ssid).empty()) fail(kNameMessage);
    if (ssid.size() > WiFiQRCodec::maximumNameBytes) fail(kNameMessage);
    // Ill-formed UTF-8 cannot be a network name that a phone would show; it is refused with the rest.
    if (!text::isValidUTF8(ssid)) fail(kNameMessage);
    for (char32_t scalar : text::scalars(ssid)) {
        if (text::isControl(scalar) || text::isFormat(scalar)) fail(kNameMessage);
    }
}

void validatePassword(WiFiNetworkDetails::Security security, const std::string& password) {
    if (security == WiFiNetworkDetails::Security::open) {
        if (!password.empty()) fail(kOpenPasswordMessage);
        return;
    }
    if (password.size() < WiFiQRCodec::minimumPersonalPasswordBytes ||
        password.size() > WiFiQRCodec::maximumPersonalPasswordBytes) {
        fail(kPersonalPasswordMessage);
    }
    const bool printable = std::all_of(password.begin(), password.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 32 && byte <= 126;
    });
    if (!printable) fail(kPersonalPasswordMessage);
}

std::string escape(std::string_view value) {
    std::string out;
    for (const auto& character : text::graphemeClusters(value)) {
        if (isReserved(character)) out += '\\';
        out += character;
    }
    return out;
}

std::string joined(Characters::const_iterator begin, Characters::const_iterator end) {
    std::string out;
    for (auto it = begin; it != end; ++it) out += *it;
    return out;
}

std::vector<Characters> splitFields(Characters::const_iterator begin, Characters::const_iterator end) {
    std::vector<Characters> fields;
    Characters current;
    bool escaping = false;
    for (auto it = begin; it != end; ++it) {
        if (escaping) {
            current.push_back("\\");
            current.push_back(*it);
            escaping = false;
        } else if (*it == "\\") {
            escaping = true;
        } else if (*it == ";") {
            fields.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(*it);
        }
    }
    if (escaping) fail(kIncompleteEscapeMessage);
    fields.push_back(std::move(current));
    return fields;
}

std::string unescape(Characters::const_iterator begin, Characters::const_iterator end) {
    std::string value;
    bool escaping = false;
    for (auto it = begin; it != end; ++it) {
        if (!escaping) {
            if (*it == "\\") {
                escaping = true;
            } else if (isReserved(*it)) {
                fail(kUnescapedReservedMessage);
            } else {
                value += *it;
            }
        } else {
            if (!isReserved(*it)) fail(kUnsupportedEscapeMessage);
            value += *it;
            escaping = false;
        }
    }
    return value;
}

} // namespace

std::string WiFiNetworkDetails::rawValue(Security security) {
    switch (security) {
    case Security::wpa: return "WPA";
    case Security::sae: return "SAE";
    case Security::open: return "nopass";
    }
    return {};
}

std::string WiFiNetworkDetails::label(Security security) {
    switch (security) {
    case Security::wpa: return "WPA/WPA2 Personal";
    case Security::sae: return "WPA3 Personal (SAE)";
    case Security::open: return "Open (no password)";
    }
    return {};
}

std::optional<WiFiNetworkDetails::Security> WiFiNetworkDetails::securityFromRawValue(std::string_view raw) {
    for (Security security : allSecurities) {
        if (rawValue(security) == raw) return security;
    }
    return std::nullopt;
}

namespace WiFiQRCodec {

WiFiNetworkDetails make(const std::string& ssid, WiFiNetworkDetails::Security security,
                        const std::string& password, bool hidden) {
    validateName(ssid);
    validatePassword(security, password);
    return WiFiNetworkDetails{ssid, security, password, hidden};
}

std::string encode(const WiFiNetworkDetails& details) {
    return "WIFI:T:" + WiFiNetworkDetails::rawValue(details.security) + ";S:" + escape(details.ssid) +
           ";P:" + escape(details.password) + ";H:" + (details.hidden ? "true" : "false") + ";;";
}

WiFiNetworkDetails parse(std::string_view input) {
    if (input.size() > maximumTextBytes || !text::isValidUTF8(input)) fail(kNotSupportedMessage);
    const Characters characters = text::graphemeClusters(input);
    static constexpr std::array<std::string_view, 5> prefix{"W", "I", "F", "I", ":"};
    const bool hasPrefix = characters.size() >= prefix.size() &&
                           std::equal(prefix.begin(), prefix.end(), characters.begin());
    const bool hasSuffix = characters.size() >= 2 && characters[characters.size() - 1] == ";" &&
                           characters[characters.size() - 2] == ";";
    if (!hasPrefix || !hasSuffix || characters.size() < prefix.size() + 2) fail(kNotSupportedMessage);

    const auto bodyBegin = characters.begin() + prefix.size();
    const auto bodyEnd = characters.end() - 2;
    if (bodyBegin == bodyEnd) fail(kEmptyMessage);

    std::optional<std::string> type, name, password, hiddenFlag;
    for (const Characters& field : splitFields(bodyBegin, bodyEnd)) {
        if (field.empty()) fail(kMalformedFieldMessage);
        auto colon = field.end();
        bool escaping = false;
        for (auto it = field.begin(); it != field.end(); ++it) {
            if (escaping) {
                escaping = false;
            } else if (*it == "\\") {
                escaping = true;
            } else if (*it == ":") {
                colon = it;
                break;
            }
        }
        if (colon == field.end()) fail(kMalformedFieldMessage);
        const std::string key = joined(field.begin(), colon);
        std::optional<std::string>* slot = key == "T"   ? &type
                                           : key == "S" ? &name
                                           : key == "P" ? &password
                                           : key == "H" ? &hiddenFlag
                                                        : nullptr;
        if (slot == nullptr || slot->has_value()) fail(kUnsupportedFieldMessage);
        *slot = unescape(colon + 1, field.end());
    }

    if (!type || !name) fail(kMissingFieldMessage);
    const auto security = WiFiNetworkDetails::securityFromRawValue(*type);
    if (!security) fail(kUnsupportedSecurityMessage);
    if (hiddenFlag && *hiddenFlag != "true" && *hiddenFlag != "false") fail(kHiddenFlagMessage);
    return make(*name, *security, password.value_or(""), hiddenFlag == "true");
}

bool hasFusedReservedCharacter(std::string_view value) {
    for (const auto& character : text::graphemeClusters(value)) {
        if (isReserved(character)) continue;
        if (character.find_first_of("\\;:,\"") != std::string::npos) return true;
    }
    return false;
}

} // namespace WiFiQRCodec

} // namespace velk
