#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "director/director_recording_coordinator.hpp"
#include "director/recording_wire.hpp"

namespace velk {
namespace {

const std::string director = "6f1c2b9e-8a4d-4c1e-9f2a-3b5d7e9a1c20";
const double inf = std::numeric_limits<double>::infinity();

TEST(RecordingWire, ValueReadersAreStrict) {
    struct Case { const char* json; std::optional<std::int64_t> integer; std::optional<double> number; std::optional<bool> boolean; };
    const Case cases[] = {
        {"1", 1, 1, std::nullopt},           {"1.0", 1, 1, std::nullopt},
        {"0", 0, 0, std::nullopt},           {"-0.0", 0, -0.0, std::nullopt},
        {"9007199254740991", 9007199254740991, 9007199254740991.0, std::nullopt},
        {"9007199254740992", std::nullopt, 9007199254740992.0, std::nullopt},
        {"18446744073709551615", std::nullopt, 18446744073709551615.0, std::nullopt},
        {"-1", std::nullopt, -1, std::nullopt}, {"1.5", std::nullopt, 1.5, std::nullopt},
        {"1e300", std::nullopt, 1e300, std::nullopt}, {"\"1\"", std::nullopt, std::nullopt, std::nullopt},
        {"null", std::nullopt, std::nullopt, std::nullopt}, {"true", std::nullopt, std::nullopt, true},
        {"false", std::nullopt, std::nullopt, false},  {"\"true\"", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const Json value = Json::parse(c.json);
        EXPECT_EQ(RecordingWire::integer(&value), c.integer) << c.json;
        EXPECT_EQ(RecordingWire::number(&value), c.number) << c.json;
        EXPECT_EQ(RecordingWire::boolean(&value), c.boolean) << c.json;
    }
    for (const Json& value : {Json(std::nan("")), Json(inf)}) EXPECT_EQ(RecordingWire::number(&value), std::nullopt);
    EXPECT_EQ(RecordingWire::integer(nullptr), std::nullopt);
    EXPECT_EQ(RecordingWire::number(nullptr), std::nullopt);
}

TEST(RecordingWire, IdentifierRule) {
    std::string twoByte64;
    for (int i = 0; i < 64; ++i) twoByte64 += "é";
    struct Case { std::string text; std::size_t limit; bool expected; };
    const Case cases[] = {
        {"cam-a", 128, true},           {"inner space", 128, true},   {"", 128, false},
        {" leading", 128, false},       {"trailing\n", 128, false},   {"trailing\u00A0", 128, false},
        {std::string(128, 'x'), 128, true}, {std::string(129, 'x'), 128, false},
        {twoByte64, 64, false},         {twoByte64, 128, true},       {"tab\tinside", 128, false},
        {"zero\u200Bwidth", 128, false}, {"soft\u00ADhyphen", 128, false}, {"bidi\u202Emark", 128, false},
        {"kamera-東京", 128, true},
    };
    for (const Case& c : cases) EXPECT_EQ(RecordingWire::identifier(c.text, c.limit), c.expected) << c.text;
    EXPECT_TRUE(RecordingWire::identifier(std::string(128, 'y'))); // 128 unless told
    EXPECT_FALSE(RecordingWire::identifier(std::string(129, 'y')));
}

TEST(RecordingWire, PacketEnvelopeAndItsRefusals) {
    const auto bytes = RecordingWire::packet(director, Json{{"action", "CANCEL_TAKE"}, {"takeId", "t"}}, 1714566600123);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()),
              "{\"payload\":{\"action\":\"CANCEL_TAKE\",\"takeId\":\"t\"},\"sender\":\"" + director +
                  "\",\"sentMs\":1714566600123,\"type\":\"command\",\"v\":1}");
    const Json ping{{"action", "CLOCK_PING"}};
    EXPECT_TRUE(RecordingWire::packet("6F1C2B9E-8A4D-4C1E-9F2A-3B5D7E9A1C20", ping, 1));
    for (const std::string& sender : {std::string(), std::string("not-a-uuid"), "{" + director + "}"}) {
        EXPECT_FALSE(RecordingWire::packet(sender, ping, 1)) << sender;
    }
    // A payload holding a non-finite number never becomes a packet.
    EXPECT_FALSE(RecordingWire::packet(director, RecordingWire::clockPing("r", std::nan("")), 1));
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", "START_AT"}, {"startMonoMs", inf}}, 1));
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", "X"}, {"nested", Json::array({-inf})}}, 1));

    const std::size_t room = 8192 - RecordingWire::packet(director, Json{{"action", ""}}, 1)->size();
    EXPECT_TRUE(RecordingWire::packet(director, Json{{"action", std::string(room, 'a')}}, 1));
    EXPECT_FALSE(RecordingWire::packet(director, Json{{"action", std::string(room + 1, 'a')}}, 1));

    const auto parsed = RecordingWire::command(std::span<const std::uint8_t>(*RecordingWire::packet(
        director, RecordingWire::clockPing("r", 12.5), 99)));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sender, director);
    EXPECT_EQ(parsed->payload.at("t1"), 12.5);
}

TEST(RecordingWire, CommandParsing) {
    auto parsed = RecordingWire::command(
        R"({"v":1,"type":"command","sender":"cam-a","sentMs":5,"sessionId":"AbC","payload":{"action":"STOP_ACK","x":1}})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sender, "cam-a");
    EXPECT_EQ(parsed->session, std::optional<std::string>("AbC"));
    EXPECT_EQ(parsed->payload, (Json{{"action", "STOP_ACK"}, {"x", 1}}));
    parsed = RecordingWire::command(R"({"v":1.0,"type":"command","sender":"cam-a","payload":{"action":"A"}})");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->session, std::nullopt);

    const std::string longSender = R"({"v":1,"type":"command","sender":")" + std::string(129, 's') + R"(","payload":{"action":"A"}})";
    const std::string broken[] = { // one broken rule each
        R"([1,2])", R"(not json)", longSender,
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
    for (const std::string& text : broken) EXPECT_FALSE(RecordingWire::command(text)) << text;

    const std::string head = R"({"v":1,"type":"command","sender":"cam-a","payload":{"action":"A","pad":")";
    const std::string tail = "\"}}";
    EXPECT_TRUE(RecordingWire::command(head + std::string(8192 - head.size() - tail.size(), 'p') + tail));
    EXPECT_FALSE(RecordingWire::command(head + std::string(8193 - head.size() - tail.size(), 'p') + tail));
}

TEST(RecordingWire, PayloadsCarryTheirExactFields) {
    EXPECT_EQ(RecordingWire::clockPing("req", 10.25), (Json{{"action", "CLOCK_PING"}, {"requestId", "req"}, {"t1", 10.25}}));
    EXPECT_EQ(RecordingWire::stopTake("take-1", "req"), (Json{{"action", "STOP_TAKE"}, {"takeId", "take-1"}, {"requestId", "req"}}));
    EXPECT_EQ(RecordingWire::cancelTake("take-1"), (Json{{"action", "CANCEL_TAKE"}, {"takeId", "take-1"}}));
    const Json legacy = DirectorRecordingCoordinator::legacyStop("cam-b");
    EXPECT_EQ(legacy, (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", "cam-b"}, {"name", ""}}));
    EXPECT_TRUE(legacy.at("masterTimeMs").is_number_integer());
    EXPECT_EQ(RecordingWire::legacyBroadcast({"cam-c", "cam-a"}),
              (Json{{"action", "STOP_TAKE"}, {"takeId", ""}, {"masterTimeMs", 0}, {"target", ""}, {"name", ""},
                    {"safeStopTargets", Json::array({"cam-a", "cam-c"})}}));
}

} // namespace
} // namespace velk
