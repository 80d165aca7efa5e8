#include "model/discovered_device.hpp"

#include <cctype>
#include <cstdint>

#include "base/unicode.hpp"
#include "model/hashing.hpp"

namespace velk {

namespace {

constexpr std::string_view kSecureServiceType = "_velk-transfer._tcp.";
constexpr std::size_t kFingerprintLength = 64;
constexpr std::size_t kDisplayedDigits = 32;
constexpr std::size_t kDisplayGroup = 4;

constexpr char32_t kFullWidthZero = 0xFF10, kFullWidthNine = 0xFF19;
constexpr char32_t kFullWidthUpperA = 0xFF21, kFullWidthUpperF = 0xFF26;
constexpr char32_t kFullWidthLowerA = 0xFF41, kFullWidthLowerF = 0xFF46;

// A hexadecimal digit after lowercasing: 0-9, a-f, or their full-width forms.
bool isLowerHexDigit(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= kFullWidthZero && c <= kFullWidthNine) ||
           (c >= kFullWidthLowerA && c <= kFullWidthLowerF);
}

char32_t lowerHex(char32_t c) {
    if (c >= U'A' && c <= U'F') return c - U'A' + U'a';
    if (c >= kFullWidthUpperA && c <= kFullWidthUpperF) return c - kFullWidthUpperA + kFullWidthLowerA;
    return c;
}

char32_t upperHex(char32_t c) {
    if (c >= U'a' && c <= U'f') return c - U'a' + U'A';
    if (c >= kFullWidthLowerA && c <= kFullWidthLowerF) return c - kFullWidthLowerA + kFullWidthUpperA;
    return c;
}

// The lowercased fingerprint's scalars when it has exactly 64 hexadecimal digits. Only the
// letters A-F (and their full-width forms) can lowercase into a hexadecimal digit, and every such
// digit is a character of its own, so counting scalars after folding those letters is the test.
std::optional<std::vector<char32_t>> validFingerprint(const std::optional<std::string>& fingerprint) {
    if (!fingerprint) return std::nullopt;
    std::vector<char32_t> scalars = text::scalars(*fingerprint);
    if (scalars.size() != kFingerprintLength) return std::nullopt;
    for (char32_t& c : scalars) {
        c = lowerHex(c);
        if (!isLowerHexDigit(c)) return std::nullopt;
    }
    return scalars;
}

std::string lowercasedASCII(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::optional<std::string> urlScheme(const std::string& url) {
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":"
    auto colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    if (!std::isalpha(static_cast<unsigned char>(url[0]))) return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    return url.substr(0, colon);
}

std::string DiscoveredDevice::id() const {
    return serviceType + "|" + serviceName + "|" + catalogURL + "|" + sessionId.value_or("") + "|" +
           certificateSHA256.value_or("");
}

bool DiscoveredDevice::supportsAuthenticatedTransfer() const {
    if (serviceType != kSecureServiceType) return false;
    auto scheme = urlScheme(catalogURL);
    if (!scheme || lowercasedASCII(*scheme) != "https") return false;
    if (!foregroundOnly) return false;
    if (!sessionId || sessionId->empty()) return false;
    return validFingerprint(certificateSHA256).has_value();
}

bool DiscoveredDevice::supportsOpenTransfer() const {
    return supportsAuthenticatedTransfer() && transferAccess == "open";
}

std::string DiscoveredDevice::fingerprintDisplay() const {
    auto scalars = validFingerprint(certificateSHA256);
    if (!scalars) return "Unavailable";
    std::vector<char32_t> shown;
    for (std::size_t i = 0; i < kDisplayedDigits; ++i) {
        if (i > 0 && i % kDisplayGroup == 0) shown.push_back(U' ');
        shown.push_back(upperHex((*scalars)[i]));
    }
    return text::fromScalars(shown);
}

} // namespace velk

std::size_t std::hash<velk::DiscoveredDevice>::operator()(const velk::DiscoveredDevice& device) const noexcept {
    return velk::hashing::Hasher{}
        .add(device.serviceName)
        .add(device.catalogURL)
        .add(device.serviceType)
        .add(device.deviceId)
        .add(device.sessionId)
        .add(device.certificateSHA256)
        .add(device.pairPath)
        .add(device.foregroundOnly)
        .add(device.transferAccess)
        .add(device.projectTrashVersion)
        .value();
}
