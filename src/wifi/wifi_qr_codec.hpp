#pragma once
// The Wi-Fi network QR text ("WIFI:T:…;S:…;P:…;H:…;;"): the record of network details, the
// validation that makes one from user input, the writer and the strict reader. Scanning, splitting
// and escaping walk user-perceived characters (extended grapheme clusters); limits count UTF-8 bytes.

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velk {

class WiFiQRError : public std::runtime_error {
public:
    enum class Case { invalid };

    explicit WiFiQRError(const std::string& sentence) : std::runtime_error(sentence) {}
    static WiFiQRError invalid(const std::string& sentence) { return WiFiQRError(sentence); }

    Case errorCase() const noexcept { return Case::invalid; }
    std::string sentence() const { return what(); }
    bool operator==(const WiFiQRError& other) const { return sentence() == other.sentence(); }
};

struct WiFiNetworkDetails {
    enum class Security { wpa, sae, open };

    std::string ssid;     // exactly as supplied, never trimmed
    Security security = Security::wpa;
    std::string password; // empty for an open network
    bool hidden = false;

    bool operator==(const WiFiNetworkDetails&) const = default;

    static constexpr std::array<Security, 3> allSecurities{Security::wpa, Security::sae, Security::open};
    static std::string rawValue(Security security); // "WPA", "SAE", "nopass"; also its id
    static std::string label(Security security);
    // Exactly one of the three raw values, case-sensitively.
    static std::optional<Security> securityFromRawValue(std::string_view raw);
};

namespace WiFiQRCodec {

inline constexpr std::size_t maximumNameBytes = 32;
inline constexpr std::size_t minimumPersonalPasswordBytes = 8;
inline constexpr std::size_t maximumPersonalPasswordBytes = 63;
inline constexpr std::size_t maximumTextBytes = 1024;

// The validated record, holding the arguments unchanged; throws WiFiQRError.
WiFiNetworkDetails make(const std::string& ssid, WiFiNetworkDetails::Security security,
                        const std::string& password, bool hidden);
// Writes a record from make or parse; does not validate.
std::string encode(const WiFiNetworkDetails& details);
// Reads the text strictly; throws WiFiQRError with the sentence of the first failing rule.
WiFiNetworkDetails parse(std::string_view text);

// True when some character holding a reserved character (\ ; : , ") is more than that character,
// as ";" followed by a combining mark is. Such text is written unescaped, and a reader that splits
// by code point rather than by character would cut the field there.
bool hasFusedReservedCharacter(std::string_view text);

} // namespace WiFiQRCodec

} // namespace velk
