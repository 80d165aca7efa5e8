#include "model/pairing_bodies.hpp"

#include <gtest/gtest.h>

namespace velk {
namespace {

Json responseJson() {
    return Json::parse(R"({
        "schemaVersion": 1, "deviceId": "dev-1", "sessionId": "s-1", "bearerToken": "tok",
        "expiresAt": "2026-05-01T12:00:00Z", "scopes": ["catalog:read", "media:read"],
        "certificateSHA256": "ab", "foregroundOnly": true
    })");
}

PairingResponse decode(const Json& body) { return decodePairingResponse(body.dump()); }

TEST(PairingRequestBody, DefaultSchemaVersionIsWrittenAsOne) {
    PairingRequest request{.requestId = "r", .collectorId = "c", .collectorName = "Mac",
                           .pairingCode = "123456", .certificateSHA256 = "ab"};
    const std::string text = encodePairingRequest(request);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    Json body = Json::parse(text);
    EXPECT_EQ(body.size(), 6u);
    EXPECT_TRUE(body["schemaVersion"].is_number_integer());
    EXPECT_EQ(body["schemaVersion"], 1);
    EXPECT_EQ(body["pairingCode"], "123456");
    EXPECT_EQ(body["collectorName"], "Mac");
}

TEST(PairingRequestBody, EmptyFieldsAreStillWritten) {
    Json body = Json::parse(encodePairingRequest(PairingRequest{}));
    for (const char* key : {"schemaVersion", "requestId", "collectorId", "collectorName", "pairingCode", "certificateSHA256"})
        EXPECT_TRUE(body.contains(key)) << key;
}

TEST(PairingResponseBody, DecodesAllKeys) {
    PairingResponse response = decode(responseJson());
    EXPECT_EQ(response.deviceId, "dev-1");
    EXPECT_EQ(response.bearerToken, "tok");
    EXPECT_EQ(response.scopes, (std::vector<std::string>{"catalog:read", "media:read"}));
    EXPECT_TRUE(response.foregroundOnly);
}

struct ResponseCase {
    const char* key;
    const char* valueJson; // nullptr: key removed
    bool decodes;
};

class PairingResponseKeys : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(PairingResponseKeys, DecodeOnlyTheirType) {
    Json body = responseJson();
    if (GetParam().valueJson)
        body[GetParam().key] = Json::parse(GetParam().valueJson);
    else
        body.erase(GetParam().key);
    if (GetParam().decodes)
        EXPECT_NO_THROW(decode(body));
    else
        EXPECT_THROW(decode(body), JsonError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PairingResponseKeys,
    ::testing::Values(ResponseCase{"foregroundOnly", nullptr, false}, ResponseCase{"foregroundOnly", "\"true\"", false},
                      ResponseCase{"foregroundOnly", "null", false}, ResponseCase{"foregroundOnly", "0", false},
                      ResponseCase{"scopes", "[]", true}, ResponseCase{"scopes", "\"catalog:read\"", false},
                      ResponseCase{"scopes", "[1]", false}, ResponseCase{"scopes", "[null]", false},
                      ResponseCase{"schemaVersion", "2", true}, ResponseCase{"schemaVersion", "1.0", true},
                      ResponseCase{"schemaVersion", "1.5", false}, ResponseCase{"schemaVersion", "true", false},
                      ResponseCase{"expiresAt", "\"soon\"", true}, ResponseCase{"expiresAt", "0", false},
                      ResponseCase{"bearerToken", "\"\"", true}, ResponseCase{"bearerToken", nullptr, false},
                      ResponseCase{"extra", "{\"a\": 1}", true}));

TEST(PairingResponseBody, NonJsonAndNonObjectsFail) {
    for (const char* text : {"", "<html>", "[]", "true"}) EXPECT_THROW(decodePairingResponse(text), JsonError) << text;
}

TEST(PairingResponseBody, ScopeOrderMattersForEquality) {
    PairingResponse a = decode(responseJson());
    PairingResponse b = a;
    EXPECT_EQ(a, b);
    std::swap(b.scopes[0], b.scopes[1]);
    EXPECT_NE(a, b);
}

TEST(PairingResponseBody, RoundTrips) {
    PairingResponse a = decode(responseJson());
    Json written;
    to_json(written, a);
    EXPECT_EQ(decode(written), a);
    PairingRequest request{.schemaVersion = 3, .requestId = "r", .collectorId = "c"};
    PairingRequest back;
    from_json(Json::parse(encodePairingRequest(request)), back);
    EXPECT_EQ(back, request);
}

} // namespace
} // namespace velk
