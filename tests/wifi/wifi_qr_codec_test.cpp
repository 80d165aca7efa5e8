#include <random>

#include <gtest/gtest.h>

#include "wifi/wifi_qr_codec.hpp"
#include "wifi/wifi_test_support.hpp"

namespace velk {
namespace {

using Security = WiFiNetworkDetails::Security;
using test::failureOf;

const std::string kName = "Network name must be 1–32 UTF-8 bytes with no control characters.";
const std::string kOpenPassword = "Open networks must not include a password.";
const std::string kPersonal = "Personal Wi-Fi passwords must be 8–63 printable ASCII characters.";
const std::string kNotSupported = "This is not a supported Wi-Fi QR code.";
const std::string kMalformed = "The Wi-Fi QR code has a malformed field.";
const std::string kDuplicate = "The Wi-Fi QR code has an unsupported or duplicate field.";
const std::string kUnescaped = "Reserved characters in Wi-Fi details must be escaped.";
const std::string kSecurity = "Only WPA/WPA2 Personal, WPA3 Personal, and open Wi-Fi QR codes are supported.";
const std::string kHidden = "The hidden-network field must be true or false.";

TEST(WiFiQRCodecMake, ChecksTheNameThenThePassword) {
    const std::tuple<std::string, Security, std::string, std::string> cases[] = {
        {"   ", Security::open, "", kName},
        {" Cafe ", Security::open, "", ""},
        {std::string(32, 'a'), Security::open, "", ""},
        {std::string(33, 'a'), Security::open, "", kName},
        {"日日日日日日日日日日日", Security::open, "", kName}, // 33 bytes
        {"a\tb", Security::open, "", kName},
        {"a\u200Db", Security::open, "", kName},
        {"", Security::wpa, "short", kName},
        {"Home", Security::open, " ", kOpenPassword},
        {"Home", Security::wpa, "1234567", kPersonal},
        {"Home", Security::wpa, "12345678", ""},
        {"Home", Security::sae, std::string(63, '~'), ""},
        {"Home", Security::wpa, std::string(64, 'x'), kPersonal},
        {"Home", Security::wpa, "passwörd", kPersonal},
    };
    for (const auto& [ssid, security, password, failure] : cases) {
        EXPECT_EQ(failureOf([&] { WiFiQRCodec::make(ssid, security, password, false); }), failure) << ssid;
    }
    EXPECT_EQ(WiFiQRCodec::make(" Cafe ", Security::open, "", true).ssid, " Cafe ");
}

TEST(WiFiQRCodecEncode, WritesEveryFieldAndEscapesReservedCharacters) {
    EXPECT_EQ(WiFiQRCodec::encode({"Cafe", Security::open, "", false}), "WIFI:T:nopass;S:Cafe;P:;H:false;;");
    EXPECT_EQ(WiFiQRCodec::encode({"a;b\\c:d,e\"f", Security::wpa, "p;ss:word", true}),
              "WIFI:T:WPA;S:a\\;b\\\\c\\:d\\,e\\\"f;P:p\\;ss\\:word;H:true;;");
    // A combining mark makes ";" part of another character, which is not escaped.
    EXPECT_EQ(WiFiQRCodec::encode({"x;\u0301", Security::sae, "password", false}),
              "WIFI:T:SAE;S:x;\u0301;P:password;H:false;;");
}

TEST(WiFiQRCodecParse, ReportsTheFirstFailingRule) {
    const std::pair<std::string, std::string> cases[] = {
        {"WIFI:;;", "The Wi-Fi QR code is empty."},
        {"WIFI:;;;", kMalformed},
        {"wifi:T:nopass;S:a;;", kNotSupported},
        {"WIFI:T:nopass;S:a;;\n", kNotSupported},
        {"WIFI:T:nopass;S:a;;x", kNotSupported},
        {"WIFI:T:nopass;S:a;;;", kMalformed},
        {"WIFI:T:nopass;S:a;H:true;H:false;;", kDuplicate},
        {"WIFI:t:nopass;S:a;;", kDuplicate},
        {"WIFI:R:1;T:nopass;S:a;;", kDuplicate},
        {"WIFI:T:nopass;S:a,b;;", kUnescaped},
        {"WIFI:T:nopass;S:a\"b;;", kUnescaped},
        {"WIFI:T:nopass;S:a\\b;;", "The Wi-Fi QR code uses an unsupported escape sequence."},
        {"WIFI:T:nopass;S:a\\;;", "The Wi-Fi QR code ends with an incomplete escape."},
        {"WIFI:T:nopass;Sa;;", kMalformed},
        {"WIFI:T:nopass;S\\:a;;", kMalformed},
        {"WIFI:T:WEP;S:a;P:12345678;;", kSecurity},
        {"WIFI:T:wpa;S:a;P:12345678;;", kSecurity},
        {"WIFI:S:a;P:12345678;;", "The Wi-Fi QR code is missing its security type or network name."},
        {"WIFI:T:nopass;S:a;H:TRUE;;", kHidden},
        {"WIFI:T:WPA;S:a;;", kPersonal},
        {"WIFI:T:nopass;S:;;", kName},
        {"WIFI:T:nopass;S:a;P:x;;", kOpenPassword},
        // Security before the hidden flag, both before the record's rules; earlier fields first.
        {"WIFI:T:WEP;S:;H:maybe;;", kSecurity},
        {"WIFI:T:nopass;S:;H:maybe;;", kHidden},
        {"WIFI:T:nopass;S:a,b;X:1;;", kUnescaped},
        {"WIFI:X:1;S:a,b;;", kDuplicate},
        // ";" followed by a combining mark is one character: no separator, nothing to escape.
        {"WIFI:T:nopass;S:a;\u0301;;", ""},
        {"WIFI:T:nopass;S:\u0301a;;", kMalformed},
    };
    for (const auto& [text, failure] : cases) {
        EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(text); }), failure) << text;
    }
    const std::string head = "WIFI:T:nopass;S:a;P:;H:false;";
    const std::string longest = head + std::string(1024 - head.size() - 2, ';') + ";;";
    EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(longest); }), kMalformed); // 1024 bytes are read
    EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(longest + ";"); }), kNotSupported);
}

TEST(WiFiQRCodecParse, ReadsFieldsInAnyOrderWithDefaults) {
    EXPECT_EQ(WiFiQRCodec::parse("WIFI:S:Cafe;T:nopass;;"), (WiFiNetworkDetails{"Cafe", Security::open, "", false}));
    EXPECT_EQ(WiFiQRCodec::parse("WIFI:H:true;P:pass\\;word;S:a\\,b;T:SAE;;"),
              (WiFiNetworkDetails{"a,b", Security::sae, "pass;word", true}));
}

// Every record that make accepts reads back equal from its written text, except a name that
// begins with a combining mark (the mark joins the colon of "S:").
TEST(WiFiQRCodecRoundTrip, ReadingTheWrittenTextGivesTheSameDetails) {
    const std::vector<std::string> nameAlphabet{"a", " ", ";", ":", ",", "\"", "\\", "é", "日", "🙂", "\u0301"};
    const std::string passwordAlphabet = "aZ09 ;:,\"\\~";
    std::mt19937 random(20261207);
    const auto pick = [&](std::size_t size) { return std::uniform_int_distribution<std::size_t>(0, size - 1)(random); };
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string ssid, password;
        for (std::size_t n = pick(13); n > 0; --n) ssid += nameAlphabet[pick(nameAlphabet.size())];
        const auto security = WiFiNetworkDetails::allSecurities[pick(3)];
        if (security != Security::open) {
            for (std::size_t n = 6 + pick(15); n > 0; --n) password += passwordAlphabet[pick(passwordAlphabet.size())];
        }
        WiFiNetworkDetails details;
        try {
            details = WiFiQRCodec::make(ssid, security, password, pick(2) == 0);
        } catch (const WiFiQRError&) {
            continue;
        }
        const std::string text = WiFiQRCodec::encode(details);
        if (ssid.starts_with("\u0301")) {
            EXPECT_EQ(failureOf([&] { WiFiQRCodec::parse(text); }), kMalformed) << text;
        } else {
            EXPECT_EQ(WiFiQRCodec::parse(text), details) << text;
            ++checked;
        }
    }
    EXPECT_GT(checked, 1000);
}

} // namespace
} // namespace velk
