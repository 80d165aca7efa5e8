#include <gtest/gtest.h>

#include "transfer/transfer_protocol.hpp"

namespace velk {
namespace {

const std::string digest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string catalogURL = "https://phone.local:8443/velk/v1/catalog";
const std::string clipId = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";

template <class F>
std::string invalidSentence(F&& operation) {
    try {
        operation();
    } catch (const TransferProtocolError& error) {
        EXPECT_EQ(error.kind(), TransferProtocolError::Kind::invalid);
        EXPECT_STREQ(error.what(), error.sentence().c_str());
        return error.sentence();
    }
    return "no error";
}

TEST(TransferProtocolError, HttpSentenceCarriesTheStatus) {
    EXPECT_STREQ(TransferProtocolError::http(404).what(), "Transfer server returned HTTP 404.");
    EXPECT_EQ(TransferProtocolError::http(404), TransferProtocolError::http(404));
    EXPECT_FALSE(TransferProtocolError::http(404) == TransferProtocolError::http(500));
    EXPECT_STREQ(TransferProtocolError::invalid("Some sentence.").what(), "Some sentence.");
}

struct DigestCase {
    std::string input;
    bool valid;
    std::string normalized;
};

TEST(Digests, NormalisationAndValidity) {
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    std::string colons;
    for (std::size_t i = 0; i < upper.size(); i += 2) {
        if (i > 0) colons += ':';
        colons.append(upper, i, 2);
    }
    std::string spaced;
    for (std::size_t i = 0; i < digest.size(); i += 2) {
        if (i > 0) spaced += " - ";
        spaced.append(digest, i, 2);
    }
    // Fullwidth "０" (U+FF10) and "ａ" (U+FF41) are hexadecimal digits too.
    const std::string fullwidth = "\xEF\xBC\x90\xEF\xBD\x81" + digest.substr(2);
    const std::vector<DigestCase> cases = {
        {digest, true, digest},
        {upper, true, digest},
        {colons, true, digest},
        {spaced, true, digest},
        {"\n" + digest + "\t", true, digest},
        {fullwidth, true, fullwidth},
        {digest.substr(1), false, digest.substr(1)},
        {digest + "0", false, digest + "0"},
        {digest.substr(1) + "g", false, digest.substr(1) + "g"},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TransferProtocol::normalizedSHA256(c.input), c.normalized) << c.input;
        EXPECT_EQ(TransferProtocol::isValidSHA256(c.input), c.valid) << c.input;
    }
}

TEST(Digests, ShortFingerprint) {
    EXPECT_EQ(TransferProtocol::shortFingerprint(digest), "0123 4567 89AB CDEF 0123 4567 89AB CDEF");
    EXPECT_EQ(TransferProtocol::shortFingerprint("AB:" + digest.substr(2)), "AB23 4567 89AB CDEF 0123 4567 89AB CDEF");
    EXPECT_EQ(TransferProtocol::shortFingerprint(digest.substr(1)), "Unavailable");
    EXPECT_EQ(TransferProtocol::shortFingerprint(""), "Unavailable");
}

TEST(DeviceIds, CanonicalForms) {
    struct Case {
        std::string input;
        std::optional<std::string> canonical;
    };
    const std::vector<Case> cases = {
        {"6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B", "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"},
        {"6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b", "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"},
        {"0123456789abcdef", "0123456789abcdef"},
        {"0123456789ABCDEF", std::nullopt},
        {"0123456789abcde", std::nullopt},
        {"0123456789abcdef0", std::nullopt},
        {"0123456789abcdef ", std::nullopt},
        {"6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b\n", std::nullopt},
        {" 0123456789abcdef", std::nullopt},
        {"", std::nullopt},
        {"{6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b}", std::nullopt},
        {"6f1c2a345b6d4e7f8a9b0c1d2e3f4a5b", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferProtocol::canonicalDeviceID(c.input), c.canonical) << c.input;
}

TEST(DeviceIds, SameDevice) {
    EXPECT_TRUE(TransferProtocol::sameDeviceID("6F1C2A34-5B6D-4E7F-8A9B-0C1D2E3F4A5B", "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"));
    EXPECT_TRUE(TransferProtocol::sameDeviceID("0123456789abcdef", "0123456789abcdef"));
    EXPECT_FALSE(TransferProtocol::sameDeviceID("0123456789ABCDEF", "0123456789ABCDEF"));
    EXPECT_FALSE(TransferProtocol::sameDeviceID("", ""));
    EXPECT_FALSE(TransferProtocol::sameDeviceID("0123456789abcdef", "0123456789abcdee"));
}

TEST(PairingCodes, SixNumericCharacters) {
    struct Case {
        std::string code;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"123456", true},
        {"12345", false},
        {"1234567", false},
        {"12a456", false},
        {" 12345", false},
        {"\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4\xD9\xA5\xD9\xA6", true}, // Arabic-Indic digits
        {"12345\xC2\xBD", true},                                   // a vulgar fraction is numeric
        {"12345\xE2\x85\xA0", true},                               // Roman numeral one
        {"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94\xEF\xBC\x95\xEF\xBC\x96", true}, // fullwidth
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferProtocol::isValidPairingCode(c.code), c.valid) << c.code;
}

TEST(Origins, DefaultPortsAndCase) {
    EXPECT_EQ(TransferProtocol::origin("https://Phone.Local/x"), "https://phone.local:443");
    EXPECT_EQ(TransferProtocol::origin("HTTPS://phone.local:443/x"), "https://phone.local:443");
    EXPECT_EQ(TransferProtocol::origin("http://phone.local/x"), "http://phone.local:80");
    EXPECT_EQ(TransferProtocol::origin("https://phone.local:8443"), "https://phone.local:8443");
    EXPECT_EQ(TransferProtocol::origin("ftp://phone.local/x"), std::nullopt);
    EXPECT_EQ(TransferProtocol::origin("ftp://phone.local:21/x"), "ftp://phone.local:21");
    EXPECT_EQ(TransferProtocol::origin("https://phone.local:0/x"), std::nullopt);
    EXPECT_EQ(TransferProtocol::origin("/relative/path"), std::nullopt);
    EXPECT_TRUE(TransferProtocol::isSameOrigin("https://phone.local/a", "https://phone.local:443/b?c"));
    EXPECT_FALSE(TransferProtocol::isSameOrigin("https://phone.local/a", "https://phone.local:8443/a"));
    EXPECT_TRUE(TransferProtocol::isSameOrigin("nothing", "/still-nothing"));
    EXPECT_FALSE(TransferProtocol::isSameOrigin("nothing", "https://phone.local/"));
}

TEST(Endpoints, KeepOriginReplacePath) {
    EXPECT_EQ(TransferProtocol::endpoint("https://phone.local:8443/velk/v1/catalog?x=1#f", "/velk/v1/pair"),
              "https://phone.local:8443/velk/v1/pair");
    EXPECT_EQ(TransferProtocol::endpoint("HTTPS://phone.local:8443/velk/v1/catalog", "velk/v1/session/end"),
              "https://phone.local:8443/velk/v1/session/end");
    EXPECT_EQ(invalidSentence([] { TransferProtocol::endpoint("http://phone.local/velk/v1/catalog", "/velk/v1/pair"); }),
              "Authenticated transfer requires HTTPS.");
    EXPECT_EQ(invalidSentence([] { TransferProtocol::endpoint("not a url", "/velk/v1/pair"); }),
              "Authenticated transfer requires HTTPS.");
}

TEST(FileURLs, StayOnTheCatalogOrigin) {
    EXPECT_EQ(TransferProtocol::resolvedFileURL("/velk/v1/files/a", catalogURL), "https://phone.local:8443/velk/v1/files/a");
    EXPECT_EQ(TransferProtocol::resolvedFileURL("files/a", catalogURL), "https://phone.local:8443/velk/v1/files/a");
    EXPECT_EQ(TransferProtocol::resolvedFileURL("https://PHONE.local:8443/velk/v1/files/a", catalogURL),
              "https://PHONE.local:8443/velk/v1/files/a");
    const std::string sentence = "Catalog file URL must remain on the authenticated HTTPS origin.";
    for (const char* bad : {"https://other.local:8443/velk/v1/files/a", "https://phone.local:8444/velk/v1/files/a",
                                  "http://phone.local:8443/velk/v1/files/a", "//other.local/velk/v1/files/a",
                                  "https://phone.local/velk/v1/files/a"}) {
        EXPECT_EQ(invalidSentence([&] { TransferProtocol::resolvedFileURL(bad, catalogURL); }), sentence) << bad;
    }
}

TEST(ClipRoutes, PathMustBeTheClipsRoute) {
    const std::string route = "/velk/v1/files/" + clipId;
    EXPECT_EQ(TransferProtocol::resolvedClipURL(route, clipId, catalogURL, false), "https://phone.local:8443" + route);
    EXPECT_EQ(TransferProtocol::resolvedClipURL("files/" + clipId + "/", clipId, catalogURL, false),
              "https://phone.local:8443" + route + "/");
    EXPECT_NO_THROW(TransferProtocol::resolvedClipURL(route + ".timing.json", clipId, catalogURL, true));
    // Percent-encoded characters compare decoded.
    EXPECT_NO_THROW(TransferProtocol::resolvedClipURL("/velk/v1/files/%36" + clipId.substr(1), clipId, catalogURL, false));

    const std::string sentence = "Catalog file route does not match its immutable clip ID.";
    const std::vector<std::pair<std::string, bool>> bad = {
        {route + "?", false},
        {route + "#", false},
        {route + "?a=1", false},
        {route + "#top", false},
        {route + ".timing.json?", true},
        {route + ".timing.json#", true},
        {route, true},
        {route + ".timing.json", false},
        {"/velk/v1/files/" + std::string("7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b"), false},
        {"/velk/v1/FILES/" + clipId, false},
        {"/velk/v1/files/" + clipId.substr(0, 35) + "B", false},
    };
    for (const auto& [value, sidecar] : bad) {
        EXPECT_EQ(invalidSentence([&] { TransferProtocol::resolvedClipURL(value, clipId, catalogURL, sidecar); }), sentence)
            << value;
    }
    // Same-document references keep the catalog's own path, so they never name a clip.
    EXPECT_EQ(invalidSentence([&] { TransferProtocol::resolvedClipURL("", clipId, catalogURL, false); }), sentence);
    EXPECT_EQ(invalidSentence([&] { TransferProtocol::resolvedClipURL("#x", clipId, catalogURL, false); }), sentence);
    EXPECT_EQ(invalidSentence([&] { TransferProtocol::resolvedClipURL("http://phone.local:8443" + route, clipId, catalogURL, false); }),
              "Catalog file URL must remain on the authenticated HTTPS origin.");
}

TEST(ContentRanges, ReadPerHttpSemantics) {
    struct Case {
        std::string header;
        std::optional<ContentRange> range;
    };
    const std::vector<Case> cases = {
        {"bytes 0-0/1", ContentRange{0, 0, 1}},
        {"bytes 42-1233/1234", ContentRange{42, 1233, 1234}},
        {"bytes 21010-47021/47022", ContentRange{21010, 47021, 47022}},
        {"  BYTES 0-499/1234 \r\n", ContentRange{0, 499, 1234}},
        {"Bytes +0-+9/+10", ContentRange{0, 9, 10}},
        {"bytes */1234", std::nullopt},
        {"bytes 42-1233/*", std::nullopt},
        {"bytes 5-4/10", std::nullopt},
        {"bytes 0-10/10", std::nullopt},
        {"bytes 0-0/0", std::nullopt},
        {"bytes -5/10", std::nullopt},
        {"bytes 5-/10", std::nullopt},
        {"bytes -1-5/10", std::nullopt},
        {"bytes 0-1-2/10", std::nullopt},
        {"bytes 0-1/10/10", std::nullopt},
        {"bytes 0 -1/10", std::nullopt},
        {"bytes  0-1/10", std::nullopt},
        {"bytes=0-1/10", std::nullopt},
        {"items 0-1/10", std::nullopt},
        {"bytes 0-1/", std::nullopt},
        {"bytes 0-1/99999999999999999999", std::nullopt},
        {"bytes 0x1-2/10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferProtocol::parseContentRange(c.header), c.range) << c.header;
}

TEST(ETags, DigestForm) {
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("W/\"sha256:" + digest + "\""), digest);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("\"SHA256:0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF\""),
              digest);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest(" w/sha256:" + digest + " "), digest);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("\"" + digest + "\""), std::nullopt);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("\"sha256:" + digest.substr(1) + "\""), std::nullopt);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest("\"\""), std::nullopt);
    EXPECT_EQ(TransferProtocol::normalizedETagDigest(""), std::nullopt);
}

} // namespace
} // namespace velk
