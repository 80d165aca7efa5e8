#include <random>

#include <gtest/gtest.h>

#include "wifi/wifi_qr_codec.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;

const std::string kName = "Network name must be 1–32 UTF-8 bytes with no control characters.";
const std::string kOpenPassword = "Open networks must not include a password.";
const std::string kPersonal = "Personal Wi-Fi passwords must be 8–63 printable ASCII characters.";
const std::string kNotSupported = "This is not a supported Wi-Fi QR code.";
const std::string kEmpty = "The Wi-Fi QR code is empty.";
const std::string kIncomplete = "The Wi-Fi QR code ends with an incomplete escape.";
const std::string kMalformed = "The Wi-Fi QR code has a malformed field.";
const std::string kDuplicate = "The Wi-Fi QR code has an unsupported or duplicate field.";
const std::string kUnescaped = "Reserved characters in Wi-Fi details must be escaped.";
const std::string kBadEscape = "The Wi-Fi QR code uses an unsupported escape sequence.";
const std::string kMissing = "The Wi-Fi QR code is missing its security type or network name.";
const std::string kSecurity = "Only WPA/WPA2 Personal, WPA3 Personal, and open Wi-Fi QR codes are supported.";
const std::string kHidden = "The hidden-network field must be true or false.";

std::string failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const WiFiQRError& error) {
        return error.what();
    }
    return "";
}

struct MakeCase {
    std::string ssid;
    Security security;
    std::string password;
    std::string failure; // empty: accepted
};

TEST(WiFiQRCodecMake, ValidatesNameThenPassword) {
    const MakeCase cases[] = {
        {"   ", Security::open, "", kName},
        {" Cafe ", Security::open, "", ""},
        {std::string(32, 'a'), Security::open, "", ""},
        {std::string(33, 'a'), Security::open, "", kName},
        {"日日日日日日日日日日日", Security::open, "", kName}, // 11 × 3 bytes
        {"a\tb", Security::open, "", kName},
        {"a\u200Db", Security::open, "", kName},
        {"\xff", Security::open, "", kName},
        {"", Security::wpa, "short", kName},
        {"Home", Security::open, " ", kOpenPassword},
        {"Home", Security::wpa, "1234567", kPersonal},
        {"Home", Security::wpa, "12345678", ""},
        {"Home", Security::sae, std::string(63, '~'), ""},
        {"Home", Security::wpa, std::string(64, 'x'), kPersonal},
        {"Home", Security::wpa, "passwörd", kPersonal},
        {"Home", Security::sae, "pass\x7fword", kPersonal},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { WiFiQRCodec::make(c.ssid, c.security, c.password, false); }), c.failure)
            << c.ssid << " / " << c.password;
    }
    EXPECT_EQ(WiFiQRCodec::make(" Cafe ", Security::open, "", true).ssid, " Cafe ");
}

TEST(WiFiQRCodecEncode, WritesEveryFieldAndEscapesReservedCharacters) {
    EXPECT_EQ(WiFiQRCodec::encode({"Cafe", Security::open, "", false}), "WIFI:T:nopass;S:Cafe;P:;H:false;;");
    EXPECT_EQ(WiFiQRCodec::encode({"a;b\\c:d,e\"f", Security::wpa, "p;ss:word", true}),
              "WIFI:T:WPA;S:a\\;b\\\\c\\:d\\,e\\\"f;P:p\\;ss\\:word;H:true;;");
    EXPECT_EQ(WiFiQRCodec::encode({"x;\u0301", Security::sae, "password", false}),
              "WIFI:T:SAE;S:x;\u0301;P:password;H:false;;"); // the mark makes ";" another character
}

struct ParseCase {
    std::string text;
    std::string failure;
};

TEST(WiFiQRCodecParse, ReportsTheFirstFailingRule) {
    const ParseCase cases[] = {
        {"WIFI:;;", kEmpty},
        {"WIFI:;;;", kMalformed},
        {"wifi:T:nopass;S:a;;", kNotSupported},
        {"WIFI:T:nopass;S:a;;\n", kNotSupported},
        {" WIFI:T:nopass;S:a;;", kNotSupported},
        {"WIFI:T:nopass;S:a;;x", kNotSupported},
        {"WIFI:T:nopass;S:a;;;", kMalformed},
        {"WIFI:T:nopass;S:a;H:true;H:false;;", kDuplicate},
        {"WIFI:t:nopass;S:a;;", kDuplicate},
        {"WIFI:R:1;T:nopass;S:a;;", kDuplicate},
        {"WIFI:T:nopass;S:a,b;;", kUnescaped},
        {"WIFI:T:nopass;S:a\"b;;", kUnescaped},
        {"WIFI:T:nopass;S:a:b;;", kUnescaped},
        {"WIFI:T:nopass;S:a\\b;;", kBadEscape},
        {"WIFI:T:nopass;S:a\\;;", kIncomplete},
        {"WIFI:T:nopass;Sa;;", kMalformed},
        {"WIFI:T:nopass;S\\:a;;", kMalformed},
        {"WIFI:T:WEP;S:a;P:12345678;;", kSecurity},
        {"WIFI:T:wpa;S:a;P:12345678;;", kSecurity},
        {"WIFI:S:a;P:12345678;;", kMissing},
        {"WIFI:T:WEP;P:x;;", kMissing},
        {"WIFI:T:nopass;S:a;H:TRUE;;", kHidden},
        {"WIFI:T:WPA;S:a;;", kPersonal},
        {"WIFI:T:nopass;S:;;", kName},
        {"WIFI:T:nopass;S:a;P:x;;", kOpenPassword},
        // Order of reports: security before hidden flag, both before the record's own rules, and an
        // earlier field before a later one.
        {"WIFI:T:WEP;S:;H:maybe;;", kSecurity},
        {"WIFI:T:nopass;S:;H:maybe;;", kHidden},
        {"WIFI:T:nopass;S:a,b;X:1;;", kUnescaped},
        {"WIFI:X:1;S:a,b;;", kDuplicate},
        // A combining mark after ";" forms one character: it neither ends the field nor needs escaping.
        {"WIFI:T:nopass;S:a;\u0301;;", ""},
        {"WIFI:T:nopass;S:\u0301a;;", kMalformed},
        {"WIFI:T:nopass;S:a\\,b;;", ""},
        {"WIFI:S:Cafe;T:nopass;;", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(c.text); }), c.failure) << c.text;
    }
}

TEST(WiFiQRCodecParse, LimitsTheTextTo1024Bytes) {
    const std::string head = "WIFI:T:nopass;S:a;P:;H:false;";
    std::string fits = head + std::string(1024 - head.size() - 2, ';') + ";;";
    ASSERT_EQ(fits.size(), 1024u);
    EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(fits); }), kMalformed); // read, then refused for its fields
    EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(fits + ";"); }), kNotSupported);
}

TEST(WiFiQRCodecParse, ReadsFieldsInAnyOrderWithDefaults) {
    EXPECT_EQ(WiFiQRCodec::parse("WIFI:S:Cafe;T:nopass;;"), (WiFiNetworkDetails{"Cafe", Security::open, "", false}));
    EXPECT_EQ(WiFiQRCodec::parse("WIFI:H:true;P:pass\\;word;S:a\\,b;T:SAE;;"),
              (WiFiNetworkDetails{"a,b", Security::sae, "pass;word", true}));
}

// Random details over characters that stress escaping and clusters: every record make accepts
// reads back equal, except a name that begins with a combining mark (it fuses with "S:").
TEST(WiFiQRCodecRoundTrip, ReadingTheWrittenTextGivesTheSameDetails) {
    const std::vector<std::string> nameAlphabet{"a", "Z", " ", ";", ":", ",", "\"", "\\", "é", "日", "🙂", "\u0301", "e\u0301"};
    const std::string passwordAlphabet = "aZ09 ;:,\"\\~!";
    std::mt19937 random(20261207);
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string ssid, password;
        for (int n = std::uniform_int_distribution(0, 12)(random); n > 0; --n) {
            ssid += nameAlphabet[std::uniform_int_distribution<std::size_t>(0, nameAlphabet.size() - 1)(random)];
        }
        const auto security = WiFiNetworkDetails::allSecurities[std::uniform_int_distribution(0, 2)(random)];
        if (security != Security::open) {
            for (int n = std::uniform_int_distribution(6, 20)(random); n > 0; --n) {
                password += passwordAlphabet[std::uniform_int_distribution<std::size_t>(0, passwordAlphabet.size() - 1)(random)];
            }
        }
        WiFiNetworkDetails details;
        try {
            details = WiFiQRCodec::make(ssid, security, password, random() % 2 == 0);
        } catch (const WiFiQRError&) {
            continue;
        }
        const std::string text = WiFiQRCodec::encode(details);
        if (ssid.rfind("\u0301", 0) == 0) {
            EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(text); }), kMalformed) << text;
            continue;
        }
        EXPECT_EQ(WiFiQRCodec::parse(text), details) << text;
        ++checked;
    }
    EXPECT_GT(checked, 1000);
}

TEST(WiFiQRCodecFusedReserved, FindsReservedCharactersJoinedToAMark) {
    EXPECT_FALSE(WiFiQRCodec::hasFusedReservedCharacter("a;b:c,d\"e\\"));
    EXPECT_TRUE(WiFiQRCodec::hasFusedReservedCharacter("a;\u0301"));
    EXPECT_TRUE(WiFiQRCodec::hasFusedReservedCharacter(",\u20DD"));
    EXPECT_FALSE(WiFiQRCodec::hasFusedReservedCharacter("e\u0301"));
}

TEST(WiFiNetworkDetailsSecurity, RawValuesAreExactAndCaseSensitive) {
    EXPECT_EQ(WiFiNetworkDetails::securityFromRawValue("nopass"), Security::open);
    EXPECT_EQ(WiFiNetworkDetails::securityFromRawValue("SAE"), Security::sae);
    EXPECT_EQ(WiFiNetworkDetails::securityFromRawValue("Wpa"), std::nullopt);
    EXPECT_EQ(WiFiNetworkDetails::label(Security::sae), "WPA3 Personal (SAE)");
}

} // namespace
} // namespace velk
