#include <gtest/gtest.h>

#include "transfer/transfer_protocol.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

using testing::outcome;
using testing::sampleDigest;
const std::string catalogURL = testing::phoneCatalogURL;

TEST(TransferProtocolError, HttpSentenceCarriesTheStatus) {
    EXPECT_STREQ(TransferProtocolError::http(404).what(), "Transfer server returned HTTP 404.");
    EXPECT_EQ(TransferProtocolError::http(404), TransferProtocolError::http(404));
    EXPECT_FALSE(TransferProtocolError::http(404) == TransferProtocolError::http(500));
    EXPECT_EQ(TransferProtocolError::invalid("Some sentence.").kind(), TransferProtocolError::Kind::invalid);
}

TEST(Digests, NormalisationValidityAndShortForm) {
    // Fullwidth "０" (U+FF10) and "ａ" (U+FF41) are hexadecimal digits too.
    const std::string fullwidth = "\xEF\xBC\x90\xEF\xBD\x81" + sampleDigest.substr(2);
    std::string spaced;
    for (std::size_t i = 0; i < sampleDigest.size(); i += 2) spaced += (i ? " - " : "") + sampleDigest.substr(i, 2);
    struct Case {
        std::string input;
        bool valid;
        std::string normalized;
    };
    const std::vector<Case> cases = {
        {sampleDigest, true, sampleDigest},
        {testing::upper(sampleDigest), true, sampleDigest},
        {testing::separatedDigest(sampleDigest), true, sampleDigest},
        {spaced, true, sampleDigest},
        {"\n" + sampleDigest + "\t", true, sampleDigest},
        {fullwidth, true, fullwidth},
        {sampleDigest.substr(1), false, sampleDigest.substr(1)},
        {sampleDigest + "0", false, sampleDigest + "0"},
        {sampleDigest.substr(1) + "g", false, sampleDigest.substr(1) + "g"},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(TransferProtocol::normalizedSHA256(c.input), c.normalized);
        EXPECT_EQ(TransferProtocol::isValidSHA256(c.input), c.valid);
    }
    EXPECT_EQ(TransferProtocol::shortFingerprint(sampleDigest), "0123 4567 89AB CDEF 0123 4567 89AB CDEF");
    EXPECT_EQ(TransferProtocol::shortFingerprint("AB:" + sampleDigest.substr(2)), "AB23 4567 89AB CDEF 0123 4567 89AB CDEF");
    EXPECT_EQ(TransferProtocol::shortFingerprint(sampleDigest.substr(1)), "Unavailable");
    EXPECT_EQ(TransferProtocol::shortFingerprint(""), "Unavailable");
}

TEST(DeviceIds, CanonicalFormsAndSameness) {
    const std::string uuid = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
    EXPECT_EQ(TransferProtocol::canonicalDeviceID(testing::upper(uuid)), uuid);
    EXPECT_EQ(TransferProtocol::canonicalDeviceID(uuid), uuid);
    EXPECT_EQ(TransferProtocol::canonicalDeviceID("0123456789abcdef"), "0123456789abcdef");
    for (const std::string& bad : std::vector<std::string>{"0123456789ABCDEF", "0123456789abcde", "0123456789abcdef0", "0123456789abcdef ",
                                   " 0123456789abcdef", "", "{" + uuid + "}", uuid + "\n", "6f1c2a345b6d4e7f8a9b0c1d2e3f4a5b"}) {
        EXPECT_EQ(TransferProtocol::canonicalDeviceID(bad), std::nullopt) << bad;
    }
    EXPECT_TRUE(TransferProtocol::sameDeviceID(testing::upper(uuid), uuid));
    EXPECT_TRUE(TransferProtocol::sameDeviceID("0123456789abcdef", "0123456789abcdef"));
    EXPECT_FALSE(TransferProtocol::sameDeviceID("0123456789ABCDEF", "0123456789ABCDEF"));
    EXPECT_FALSE(TransferProtocol::sameDeviceID("", ""));
    EXPECT_FALSE(TransferProtocol::sameDeviceID("0123456789abcdef", "0123456789abcdee"));
}

TEST(PairingCodes, SixNumericCharacters) {
    for (const char* valid : {"123456", "\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4\xD9\xA5\xD9\xA6", // Arabic-Indic digits
                                     "12345\xC2\xBD",                                           // a vulgar fraction
                                     "12345\xE2\x85\xA0",                                       // Roman numeral one
                                     "\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94\xEF\xBC\x95\xEF\xBC\x96"}) { // fullwidth
        EXPECT_TRUE(TransferProtocol::isValidPairingCode(valid)) << valid;
    }
    for (const char* invalid : {"12345", "1234567", "12a456", " 12345", ""}) {
        EXPECT_FALSE(TransferProtocol::isValidPairingCode(invalid)) << invalid;
    }
}

TEST(Origins, DefaultPortsCaseAndEndpoints) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> origins = {
        {"https://Phone.Local/x", "https://phone.local:443"},   {"HTTPS://phone.local:443/x", "https://phone.local:443"},
        {"http://phone.local/x", "http://phone.local:80"},     {"https://phone.local:8443", "https://phone.local:8443"},
        {"ftp://phone.local/x", std::nullopt},                 {"ftp://phone.local:21/x", "ftp://phone.local:21"},
        {"https://phone.local:0/x", std::nullopt},             {"/relative/path", std::nullopt},
    };
    for (const auto& [url, origin] : origins) EXPECT_EQ(TransferProtocol::origin(url), origin) << url;
    EXPECT_TRUE(TransferProtocol::isSameOrigin("https://phone.local/a", "https://phone.local:443/b?c"));
    EXPECT_FALSE(TransferProtocol::isSameOrigin("https://phone.local/a", "https://phone.local:8443/a"));
    EXPECT_TRUE(TransferProtocol::isSameOrigin("nothing", "/still-nothing"));
    EXPECT_FALSE(TransferProtocol::isSameOrigin("nothing", "https://phone.local/"));

    EXPECT_EQ(TransferProtocol::endpoint(catalogURL + "?x=1#f", "/velk/v1/pair"), "https://phone.local:8443/velk/v1/pair");
    EXPECT_EQ(TransferProtocol::endpoint("HTTPS://phone.local:8443/velk/v1/catalog", "velk/v1/session/end"),
              "https://phone.local:8443/velk/v1/session/end");
    for (const char* base : {"http://phone.local/velk/v1/catalog", "not a url"}) {
        EXPECT_EQ(outcome([&] { TransferProtocol::endpoint(base, "/velk/v1/pair"); }), "Authenticated transfer requires HTTPS.");
    }
}

TEST(FileURLs, StayOnTheCatalogOriginAndNameTheirClip) {
    const std::string origin = "Catalog file URL must remain on the authenticated HTTPS origin.";
    const std::string sentence = "Catalog file route does not match its immutable clip ID.";
    EXPECT_EQ(TransferProtocol::resolvedFileURL("/velk/v1/files/a", catalogURL), "https://phone.local:8443/velk/v1/files/a");
    EXPECT_EQ(TransferProtocol::resolvedFileURL("files/a", catalogURL), "https://phone.local:8443/velk/v1/files/a");
    EXPECT_EQ(TransferProtocol::resolvedFileURL("https://PHONE.local:8443/velk/v1/files/a", catalogURL),
              "https://PHONE.local:8443/velk/v1/files/a");
    for (const char* bad : {"https://other.local:8443/velk/v1/files/a", "https://phone.local:8444/velk/v1/files/a",
                            "http://phone.local:8443/velk/v1/files/a", "//other.local/velk/v1/files/a",
                            "https://phone.local/velk/v1/files/a"}) {
        EXPECT_EQ(outcome([&] { TransferProtocol::resolvedFileURL(bad, catalogURL); }), origin) << bad;
    }

    const std::string route = "/velk/v1/files/" + testing::clipUUID;
    EXPECT_EQ(TransferProtocol::resolvedClipURL(route, testing::clipUUID, catalogURL, false), "https://phone.local:8443" + route);
    EXPECT_EQ(TransferProtocol::resolvedClipURL("files/" + testing::clipUUID + "/", testing::clipUUID, catalogURL, false),
              "https://phone.local:8443" + route + "/");
    EXPECT_NO_THROW(TransferProtocol::resolvedClipURL(route + ".timing.json", testing::clipUUID, catalogURL, true));
    // Percent-encoded characters compare decoded.
    EXPECT_NO_THROW(TransferProtocol::resolvedClipURL("/velk/v1/files/%36" + testing::clipUUID.substr(1), testing::clipUUID, catalogURL, false));
    const std::vector<std::tuple<std::string, bool, std::string>> bad = {
        {route + "?", false, sentence},
        {route + "#", false, sentence},
        {route + "?a=1", false, sentence},
        {route + "#top", false, sentence},
        {route + ".timing.json?", true, sentence},
        {route + ".timing.json#", true, sentence},
        {route, true, sentence},
        {route + ".timing.json", false, sentence},
        {"/velk/v1/files/7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b", false, sentence},
        {"/velk/v1/FILES/" + testing::clipUUID, false, sentence},
        {"/velk/v1/files/" + testing::clipUUID.substr(0, 35) + "B", false, sentence},
        // Same-document references keep the catalog's own path, so they never name a clip.
        {"", false, sentence},
        {"#x", false, sentence},
        {"http://phone.local:8443" + route, false, origin},
    };
    for (const auto& [value, sidecar, expected] : bad) {
        EXPECT_EQ(outcome([&] { TransferProtocol::resolvedClipURL(value, testing::clipUUID, catalogURL, sidecar); }), expected) << value;
    }
}

TEST(ContentRanges, ReadPerHttpSemantics) {
    const std::vector<std::pair<std::string, ContentRange>> valid = {
        {"bytes 0-0/1", {0, 0, 1}},
        {"bytes 42-1233/1234", {42, 1233, 1234}},
        {"bytes 21010-47021/47022", {21010, 47021, 47022}},
        {"  BYTES 0-499/1234 \r\n", {0, 499, 1234}},
        {"Bytes +0-+9/+10", {0, 9, 10}},
    };
    for (const auto& [header, range] : valid) EXPECT_EQ(TransferProtocol::parseContentRange(header), range) << header;
    for (const char* header : {"bytes */1234", "bytes 42-1233/*", "bytes 5-4/10", "bytes 0-10/10", "bytes 0-0/0", "bytes -5/10",
                               "bytes 5-/10", "bytes -1-5/10", "bytes 0-1-2/10", "bytes 0-1/10/10", "bytes 0 -1/10",
                               "bytes  0-1/10", "bytes=0-1/10", "items 0-1/10", "bytes 0-1/", "bytes 0-1/99999999999999999999",
                               "bytes 0x1-2/10"}) {
        EXPECT_EQ(TransferProtocol::parseContentRange(header), std::nullopt) << header;
    }
}

TEST(ETags, DigestForm) {
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("W/\"sha256:" + sampleDigest + "\""), sampleDigest);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("\"SHA256:" + testing::upper(sampleDigest) + "\""), sampleDigest);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest(" w/sha256:" + sampleDigest + " "), sampleDigest);
    for (const std::string& bad : {"\"" + sampleDigest + "\"", "\"sha256:" + sampleDigest.substr(1) + "\"", std::string("\"\""), std::string()}) {
        EXPECT_EQ(TransferProtocol::normalizedETagDigest(bad), std::nullopt) << bad;
    }
}

} // namespace
} // namespace velk
