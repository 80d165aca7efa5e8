#include <string>

#include <gtest/gtest.h>

#include "discovery/live_camera_packet.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {
namespace {

std::string padTo(std::size_t size) {
    // Pads inside the payload with a filler string so the datagram has exactly `size` bytes.
    std::string head = R"({"v":1,"type":"status","sender":"cam","payload":{"id":"cam","pad":")";
    std::string tail = R"("}})";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

TEST(LiveCameraPacketDecode, AcceptsAMinimalStatus) {
    auto packet = decodePacket(R"({"v":1,"type":"status","sender":"cam-1","payload":{"id":"cam-1"}})");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->type, "status");
    EXPECT_EQ(packet->sender, "cam-1");
    EXPECT_EQ(packet->cameraID(), "cam-1");
    EXPECT_FALSE(packet->hasSessionID);
    EXPECT_FALSE(packet->hasSequence);
    EXPECT_FALSE(packet->hasSentMs);
}

TEST(LiveCameraPacketDecode, SizeLimitIs8192Bytes) {
    EXPECT_TRUE(decodePacket(padTo(8192)));
    EXPECT_FALSE(decodePacket(padTo(8193)));
}

TEST(LiveCameraPacketDecode, EnvelopeRules) {
    struct Case {
        const char* name;
        const char* datagram;
        bool accepted;
    };
    const Case cases[] = {
        {"VersionAsFraction", R"({"v":1.0,"type":"status","sender":"a","payload":{}})", true},
        {"VersionTrue", R"({"v":true,"type":"status","sender":"a","payload":{}})", false},
        {"VersionString", R"({"v":"1","type":"status","sender":"a","payload":{}})", false},
        {"VersionTwo", R"({"v":2,"type":"status","sender":"a","payload":{}})", false},
        {"VersionMissing", R"({"type":"status","sender":"a","payload":{}})", false},
        {"AnnounceCapitals", R"({"v":1,"type":"ANNOUNCE","sender":"a","payload":{}})", true},
        {"StatusMixedCase", R"({"v":1,"type":"StAtUs","sender":"a","payload":{}})", true},
        {"CommandType", R"({"v":1,"type":"command","sender":"a","payload":{}})", false},
        {"PayloadArray", R"({"v":1,"type":"status","sender":"a","payload":[]})", false},
        {"PayloadMissing", R"({"v":1,"type":"status","sender":"a"})", false},
        {"NoIdentity", R"({"v":1,"type":"status","payload":{}})", false},
        {"EmptySender", R"({"v":1,"type":"status","sender":"","payload":{}})", false},
        {"SenderAndIdDiffer", R"({"v":1,"type":"status","sender":"a","payload":{"id":"b"}})", false},
        {"NumericIdWithSender", R"({"v":1,"type":"status","sender":"a","payload":{"id":7}})", true},
        {"NotJSON", "not json", false},
        {"NotAnObject", "[1,2]", false},
        {"Empty", "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(decodePacket(c.datagram).has_value(), c.accepted) << c.name;
}

TEST(LiveCameraPacketDecode, TypeIsStoredLowerCased) {
    auto packet = decodePacket(R"({"v":1,"type":"ANNOUNCE","sender":"a","payload":{}})");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->type, "announce");
}

TEST(LiveCameraPacketDecode, IdentityFromPayloadWhenSenderMissing) {
    auto packet = decodePacket(R"({"v":1,"type":"status","payload":{"id":"from-payload"}})");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->sender, "from-payload");
    EXPECT_EQ(packet->cameraID(), "from-payload");
}

TEST(LiveCameraPacketDecode, NumericPayloadIdLeavesSenderAsIdentity) {
    auto packet = decodePacket(R"({"v":1,"type":"status","sender":"a","payload":{"id":7}})");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->cameraID(), "a");
}

TEST(LiveCameraPacketDecode, IdentityOf128BytesPassesAnd129Fails) {
    auto make = [](std::size_t n) {
        return R"({"v":1,"type":"status","sender":")" + std::string(n, 'c') + R"(","payload":{}})";
    };
    EXPECT_TRUE(decodePacket(make(128)));
    EXPECT_FALSE(decodePacket(make(129)));
    // 64 two-byte characters are 128 bytes.
    std::string twoByte;
    for (int i = 0; i < 64; ++i) twoByte += "\xC3\xA9";
    EXPECT_TRUE(decodePacket(R"({"v":1,"type":"status","sender":")" + twoByte + R"(","payload":{}})"));
    EXPECT_FALSE(decodePacket(R"({"v":1,"type":"status","sender":")" + twoByte + R"(x","payload":{}})"));
}

TEST(LiveCameraPacketDecode, KeepsRawOrderKeysWhateverTheirType) {
    auto packet = decodePacket(R"({"v":1,"type":"status","sender":"a","payload":{},"sessionId":5,"seq":"x","sentMs":null})");
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->hasSessionID);
    ASSERT_TRUE(packet->sessionID);
    EXPECT_TRUE(packet->sessionID->is_number());
    EXPECT_FALSE(packet->sessionText());
    EXPECT_TRUE(packet->hasSequence);
    EXPECT_TRUE(packet->sequence->is_string());
    EXPECT_TRUE(packet->hasSentMs);
    EXPECT_TRUE(packet->sentMs->is_null());
}

TEST(LiveCameraPacketDecode, PairHelloIsNoSnapshot) {
    EXPECT_FALSE(decodePacket(R"({"v":1,"type":"pair-hello","sender":"a","payload":{}})"));
    EXPECT_FALSE(decodePacket(R"({"v":1,"type":"PAIR-HELLO","sender":"a","payload":{}})"));
}

// --- value readers ---

TEST(LiveWireReaders, ExactInteger) {
    Json values = Json::parse(R"([1.0, true, "1", 1.5, -3, 1e300])");
    EXPECT_EQ(wire::exactInteger(&values[0]), 1);
    EXPECT_FALSE(wire::exactInteger(&values[1]));
    EXPECT_FALSE(wire::exactInteger(&values[2]));
    EXPECT_FALSE(wire::exactInteger(&values[3]));
    EXPECT_EQ(wire::exactInteger(&values[4]), -3);
    EXPECT_FALSE(wire::exactInteger(&values[5]));
    EXPECT_FALSE(wire::exactInteger(nullptr));
}

TEST(LiveWireReaders, LenientInteger) {
    Json values = Json::parse(R"([true, false, 2.9, -2.9, "3", null, [], {}, 1e300, -1e300])");
    EXPECT_EQ(wire::lenientInteger(&values[0]), 1);
    EXPECT_EQ(wire::lenientInteger(&values[1]), 0);
    EXPECT_EQ(wire::lenientInteger(&values[2]), 2);
    EXPECT_EQ(wire::lenientInteger(&values[3]), -2);
    for (int i = 4; i < 8; ++i) EXPECT_FALSE(wire::lenientInteger(&values[i])) << i;
    EXPECT_EQ(wire::lenientInteger(&values[8]), INT64_MAX);
    EXPECT_EQ(wire::lenientInteger(&values[9]), INT64_MIN);
}

TEST(LiveWireReaders, BooleansAreOnlyTrueAndFalse) {
    Json values = Json::parse(R"([true, false, 1, 0, "true"])");
    EXPECT_EQ(wire::strictBoolean(&values[0]), true);
    EXPECT_EQ(wire::strictBoolean(&values[1]), false);
    EXPECT_FALSE(wire::strictBoolean(&values[2]));
    EXPECT_FALSE(wire::strictBoolean(&values[3]));
    EXPECT_FALSE(wire::strictBoolean(&values[4]));
}

TEST(LiveWireReaders, LenientDouble) {
    Json values = Json::parse(R"([true, 2.5, -7, "1.0", null])");
    EXPECT_EQ(wire::lenientDouble(&values[0]), 1.0);
    EXPECT_EQ(wire::lenientDouble(&values[1]), 2.5);
    EXPECT_EQ(wire::lenientDouble(&values[2]), -7.0);
    EXPECT_FALSE(wire::lenientDouble(&values[3]));
    EXPECT_FALSE(wire::lenientDouble(&values[4]));
}

} // namespace
} // namespace velk
