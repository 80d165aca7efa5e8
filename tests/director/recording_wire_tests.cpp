#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "director/recording_wire.hpp"

namespace velk {
namespace {

const std::string director = "6f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";

std::optional<RecordingWire::ReceivedCommand> parse(const std::string& text) { return RecordingWire::command(text); }

TEST(RecordingWireReaders, IntegerAcceptsOnlyWholeNonNegativeNumbersUpTo2To53) {
    struct Case { const char* json; std::optional<std::int64_t> expected; };
    const Case cases[] = {
        {"1", 1}, {"1.0", 1}, {"3.0", 3}, {"0", 0}, {"-0.0", 0}, {"9007199254740991", 9007199254740991},
        {"-1", std::nullopt}, {"1.5", std::nullopt}, {"\"1\"", std::nullopt}, {"true", std::nullopt},
        {"9007199254740992", std::nullopt}, {"18446744073709551615", std::nullopt}, {"null", std::nullopt},
        {"1e300", std::nullopt},
    };
    for (const Case& c : cases) {
        const Json value = Json::parse(c.json);
        EXPECT_EQ(RecordingWire::integer(&value), c.expected) << c.json;
    }
    EXPECT_EQ(RecordingWire::integer(nullptr), std::nullopt);
}

TEST(RecordingWireReaders, NumberAcceptsFiniteNumbersOnly) {
    struct Case { Json value; std::optional<double> expected; };
    const Case cases[] = {
        {Json(-3.5), -3.5}, {Json(12), 12.0}, {Json(true), std::nullopt}, {Json("2"), std::nullopt},
        {Json(nullptr), std::nullopt}, {Json(std::nan("")), std::nullopt},
        {Json(std::numeric_limits<double>::infinity()), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(RecordingWire::number(&c.value), c.expected) << c.value.dump();
    EXPECT_EQ(RecordingWire::number(nullptr), std::nullopt);
}

TEST(RecordingWireReaders, BooleanAcceptsOnlyJsonBooleans) {
    const Json one = 1, zero = 0, yes = true, no = false, text = "true";
    EXPECT_EQ(RecordingWire::boolean(&one), std::nullopt);
    EXPECT_EQ(RecordingWire::boolean(&zero), std::nullopt);
    EXPECT_EQ(RecordingWire::boolean(&text), std::nullopt);
    EXPECT_EQ(RecordingWire::boolean(&yes), true);
    EXPECT_EQ(RecordingWire::boolean(&no), false);
}

TEST(RecordingWireIdentifier, FollowsTheIdentifierRule) {
    struct Case { std::string text; std::size_t limit; bool expected; };
    const std::string twoByte64 = [] { std::string s; for (int i = 0; i < 64; ++i) s += "é"; return s; }();
    const Case cases[] = {
        {"cam-a", 128, true},
        {"inner space", 128, true},
        {"", 128, false},
        {" leading", 128, false},
        {"trailing\n", 128, false},
        {"trailing\u00A0", 128, false},
        {std::string(128, 'x'), 128, true},
        {std::string(129, 'x'), 128, false},
        {twoByte64, 64, false},
        {twoByte64, 128, true},
        {"tab\tinside", 128, false},
        {"zero\u200Bwidth", 128, false},
        {"soft\u00ADhyphen", 128, false},
        {"bidi\u202Emark", 128, false},
        {"kamera-東京", 128, true},
    };
    for (const Case& c : cases) EXPECT_EQ(RecordingWire::identifier(c.text, c.limit), c.expected) << c.text;
    EXPECT_TRUE(RecordingWire::identifier(std::string(128, 'y')));
    EXPECT_FALSE(RecordingWire::identifier(std::string(129, 'y')));
}

TEST(RecordingWirePacket, BuildsTheEnvelope) {
    const auto bytes = RecordingWire::packet(director, Json{{"action", "CANCEL_TAKE"}, {"takeId", "t"}}, 1714566600123);
    ASSERT_TRUE(bytes);
    const std::string text(bytes->begin(), bytes->end());
    EXPECT_EQ(text, "{\"payload\":{\"action\":\"CANCEL_TAKE\",\"takeId\":\"t\"},\"sender\":\"" + director +
                        "\",\"sentMs\":1714566600123,\"type\":\"command\",\"v\":1}");
}

TEST(RecordingWirePacket, RefusesSenderThatIsNotAUUID) {
    const Json payload{{"action", "CLOCK_PING"}};
    EXPECT_FALSE(RecordingWire::packet("", payload, 1));
    EXPECT_FALSE(RecordingWire::packet("not-a-uuid", payload, 1));
    EXPECT_FALSE(RecordingWire::packet("{" + director + "}", payload, 1));
    EXPECT_TRUE(RecordingWire::packet("6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20", payload, 1));
}

TEST(RecordingWirePacket, RefusesNonFiniteNumbers) {
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", "CLOCK_PING"}, {"t1", std::nan("")}}, 1));
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", "START_AT"}, {"startMonoMs", std::numeric_limits<double>::infinity()}}, 1));
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", "X"}, {"nested", Json::array({-std::numeric_limits<double>::infinity()})}}, 1));
}

TEST(RecordingWirePacket, RefusesMoreThan8192Bytes) {
    const std::string overhead = std::string(RecordingWire::packet(director, Json{{"action", ""}}, 1)->size(), 'x');
    const std::size_t room = 8192 - overhead.size();
    EXPECT_TRUE(RecordingWire::packet(director, Json{{"action", std::string(room, 'a')}}, 1));
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", std::string(room + 1, 'a')}}, 1));
}

TEST(RecordingWireCommand, ParsesAValidEnvelope) {
    const auto parsed = parse(R"({"v":1,"type":"command","sender":"cam-a","sentMs":5,"sessionId":"AbC","payload":{"action":"STOP_ACK","x":1}})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sender, "cam-a");
    EXPECT_EQ(parsed->session, std::optional<std::string>("AbC"));
    EXPECT_EQ(parsed->payload, (Json{{"action", "STOP_ACK"}, {"x", 1}}));
}

TEST(RecordingWireCommand, AcceptsVersionWrittenAsFloatAndMissingSession) {
    const auto parsed = parse(R"({"v":1.0,"type":"command","sender":"cam-a","payload":{"action":"A"}})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->session, std::nullopt);
}

TEST(RecordingWireCommand, RejectsEveryBrokenRule) {
    const char* cases[] = {
        R"([1,2])",
        R"(not json)",
        R"({"v":"1","type":"command","sender":"cam-a","payload":{"action":"A"}})",
        R"({"v":true,"type":"command","sender":"cam-a","payload":{"action":"A"}})",
        R"({"type":"command","sender":"cam-a","payload":{"action":"A"}})",
        R"({"v":2,"type":"command","sender":"cam-a","payload":{"action":"A"}})",
        R"({"v":1,"type":"Command","sender":"cam-a","payload":{"action":"A"}})",
        R"({"v":1,"type":"command","sender":" cam-a","payload":{"action":"A"}})",
        R"({"v":1,"type":"command","sender":"","payload":{"action":"A"}})",
        R"({"v":1,"type":"command","sender":7,"payload":{"action":"A"}})",
        R"({"v":1,"type":"command","sender":"cam-a","payload":[]})",
        R"({"v":1,"type":"command","sender":"cam-a","payload":{}})",
        R"({"v":1,"type":"command","sender":"cam-a","payload":{"action":3}})",
        R"({"v":1,"type":"command","sender":"cam-a","sessionId":null,"payload":{"action":"A"}})",
        R"({"v":1,"type":"command","sender":"cam-a","sessionId":12,"payload":{"action":"A"}})",
    };
    for (const char* text : cases) EXPECT_FALSE(parse(text)) << text;
    const std::string longSender(129, 's');
    EXPECT_FALSE(parse(R"({"v":1,"type":"command","sender":")" + longSender + R"(","payload":{"action":"A"}})"));
}

TEST(RecordingWireCommand, RejectsDatagramsOver8192Bytes) {
    const std::string head = R"({"v":1,"type":"command","sender":"cam-a","payload":{"action":"A","pad":")";
    const std::string tail = "\"}}";
    const std::string exact = head + std::string(8192 - head.size() - tail.size(), 'p') + tail;
    ASSERT_EQ(exact.size(), 8192u);
    EXPECT_TRUE(parse(exact));
    const std::string over = head + std::string(8193 - head.size() - tail.size(), 'p') + tail;
    EXPECT_FALSE(parse(over));
}

TEST(RecordingWireCommand, RoundTripsABuiltPacket) {
    const auto bytes = RecordingWire::packet(director, RecordingWire::clockPing("r", 12.5), 99);
    ASSERT_TRUE(bytes);
    const auto parsed = RecordingWire::command(std::span<const std::uint8_t>(*bytes));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sender, director);
    EXPECT_EQ(parsed->payload.at("t1"), 12.5);
}

TEST(RecordingWireBuilders, PayloadsCarryTheirExactFields) {
    EXPECT_EQ(RecordingWire::clockPing("req", 10.25), (Json{{"action", "CLOCK_PING"}, {"requestId", "req"}, {"t1", 10.25}}));
    EXPECT_EQ(RecordingWire::stopTake("take-1", "req"), (Json{{"action", "STOP_TAKE"}, {"takeId", "take-1"}, {"requestId", "req"}}));
    EXPECT_EQ(RecordingWire::cancelTake("take-1"), (Json{{"action", "CANCEL_TAKE"}, {"takeId", "take-1"}}));
    const Json legacy = RecordingWire::legacyStop("cam-b");
    EXPECT_EQ(legacy, (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", "cam-b"}, {"name", ""}}));
    EXPECT_TRUE(legacy.at("masterTimeMs").is_number_integer());
    const Json broadcast = RecordingWire::legacyBroadcast({"cam-c", "cam-a"});
    EXPECT_EQ(broadcast.at("target"), "");
    EXPECT_EQ(broadcast.at("safeStopTargets"), (Json{"cam-a", "cam-c"}));
    EXPECT_EQ(broadcast.at("takeId"), "");
}

} // namespace
} // namespace velk
