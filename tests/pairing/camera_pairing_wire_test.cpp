#include <gtest/gtest.h>

#include "base/sha256.hpp"
#include "pairing/camera_pairing_wire.hpp"
#include "pairing_test_support.hpp"

namespace velk {
namespace {

using namespace CameraPairingWire;
using pairing_test::sequence;

TEST(CameraPairingWire, Base64urlEncodesWithoutPadding) {
    EXPECT_EQ(base64(Bytes{0xFB, 0xFF}), "-_8");
    EXPECT_EQ(base64(Bytes{0xFB, 0xFF, 0xBF}), "-_-_");
    EXPECT_EQ(base64(Bytes{}), "");
    EXPECT_EQ(base64(sequence(0, 65)).size(), 87u);
    EXPECT_EQ(base64(sequence(0, 32)).size(), 43u);
    EXPECT_EQ(bytes(base64(sequence(0, 65))), sequence(0, 65));
}

TEST(CameraPairingWire, Base64urlDecodesOnlyCanonicalText) {
    EXPECT_EQ(bytes("-_8"), (Bytes{0xFB, 0xFF}));
    for (const char* refused : {"", "-_9", "-_8=", "+/8", "A", "-_ 8", "-_8\n", "ABCDE", "-_8\xC3\xA9"})
        EXPECT_FALSE(bytes(refused)) << refused;
}

TEST(CameraPairingWire, BoundedCountsBytesAndRefusesControlAndFormat) {
    const std::string twoByte = "\xC3\xA9";
    std::string thirtyThree;
    for (int i = 0; i < 33; ++i) thirtyThree += twoByte;
    const struct { std::string text; bool expected; } cases[] = {
        {std::string(64, 'a'), true},  {std::string(65, 'a'), false}, {thirtyThree, false},
        {"", false},                   {"a\tb", false},               {"a\nb", false},
        {"a\xE2\x80\x8B" "b", false},  {"\xC2\xAD", false},           {"   ", true},
        {"\xFF", false},               {" Camera ", true},
    };
    for (const auto& c : cases) EXPECT_EQ(bounded(c.text, 64), c.expected) << c.text;
}

TEST(CameraPairingWire, UuidAcceptsOnlyLowerCaseCanonicalText) {
    EXPECT_TRUE(uuid("6f9619ff-8b86-4011-b42d-00c04fc964ff"));
    for (const char* refused : {"6F9619FF-8B86-4011-B42D-00C04FC964FF", "6f9619ff-8b86-4011-b42d-00C04fc964ff",
                                "{6f9619ff-8b86-4011-b42d-00c04fc964ff}", "6f9619ff8b864011b42d00c04fc964ff",
                                "6f9619ff-8b86-4011-b42d-00c04fc964fg", "6f9619ff-8b86-4011-b42d_00c04fc964ff"})
        EXPECT_FALSE(uuid(refused)) << refused;
}

// Computed independently of this code (Python's hashlib, hmac and cryptography).
TEST(CameraPairingWire, KnownAnswer) {
    const std::string cameraKey = base64(pairing_test::cameraKey().publicKey());
    const Bytes hello = helloTranscript("6f9619ff-8b86-4011-b42d-00c04fc964ff", "0f8fad5b-d9cb-469f-a165-70867728950e",
                                        "7c9e6679-7425-40de-944b-e07fc1f90ae7", "cam-A", "Camera A", cameraKey);
    EXPECT_EQ(hello.size(), 231u);
    EXPECT_EQ(hexLower(Sha256::of(hello)), "4d953a96f4e556d4754d49eb7176f19eae7ba2b74d63a392261c368891a375f0");
    EXPECT_EQ(verificationCode(hello), "625494");
    EXPECT_EQ(base64(pairing_crypto::hmacSHA256(pairing_test::secret(), hello)),
              "p0JxljO7p2jWkaenJicA3n9WwSLDjsJkmm8XXUm-rKM");
    const Bytes accept = acceptTranscript(hello, "Studio Mac", base64(pairing_test::directorKey().publicKey()));
    EXPECT_EQ(accept.size(), 349u);
    EXPECT_EQ(hexLower(Sha256::of(accept)), "da2b475f19dcc374a8295a77db04c54245bfe20d67f33876ba049ca96e5a8043");
}

TEST(CameraPairingWire, TranscriptsAreByteExact) {
    const Bytes base = helloTranscript("d", "i", "r", "c", "Cam", "K");
    EXPECT_EQ(std::string(base.begin(), base.end()), "VELK-PAIR-1/hello\nd\ni\nr\nc\nCam\nK");
    EXPECT_NE(helloTranscript("d", "i", "r", "c", "Cam ", "K"), base);
    EXPECT_NE(helloTranscript("D", "i", "r", "c", "Cam", "K"), base);
    const Bytes accept = acceptTranscript(base, "N", "P");
    EXPECT_EQ(std::string(accept.begin(), accept.end()), "VELK-PAIR-1/accept\nVELK-PAIR-1/hello\nd\ni\nr\nc\nCam\nK\nN\nP");
}

TEST(CameraPairingWire, CodeKeepsSixDigits) {
    EXPECT_EQ(verificationCode(Bytes{'a', 'b', 'c'}), "432319");
    // Find a transcript whose code needs leading zeros.
    for (int i = 0;; ++i) {
        const std::string text = std::to_string(i);
        const std::string code = verificationCode(Bytes(text.begin(), text.end()));
        ASSERT_EQ(code.size(), 6u);
        if (code[0] == '0') break;
    }
}

} // namespace
} // namespace velk
