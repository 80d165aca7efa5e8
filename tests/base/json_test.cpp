#include "base/json.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(StrictJsonIntegers, AcceptOnlyIntegralNumbersInRange) {
    struct Case { const char* text; std::optional<std::int64_t> expected; };
    const Case cases[] = {
        {"5", 5},
        {"-7", -7},
        {"5.0", 5},
        {"5e0", 5},
        {"1.5", std::nullopt},
        {"true", std::nullopt},
        {"\"5\"", std::nullopt},
        {"null", std::nullopt},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775808", std::nullopt},   // 2^63, unsigned in the parser
        {"18446744073709551615", std::nullopt},
        {"9.3e18", std::nullopt},
    };
    for (const auto& c : cases) {
        auto value = json::tryParse(c.text);
        ASSERT_TRUE(value) << c.text;
        EXPECT_EQ(json::integerValue(*value), c.expected) << c.text;
    }
}

TEST(StrictJsonReaders, RequiredAndOptionalKeys) {
    Json object = json::parse(R"({"s":"x","n":null,"i":3,"b":true,"f":1.5,"a":[]})");
    EXPECT_EQ(json::requireString(object, "s"), "x");
    EXPECT_THROW(json::requireString(object, "n"), JsonError);
    EXPECT_THROW(json::requireString(object, "missing"), JsonError);
    EXPECT_THROW(json::requireString(object, "i"), JsonError);
    EXPECT_EQ(json::optionalString(object, "n"), std::nullopt);
    EXPECT_EQ(json::optionalString(object, "missing"), std::nullopt);
    EXPECT_THROW(json::optionalString(object, "i"), JsonError);
    EXPECT_EQ(json::requireInt64(object, "i"), 3);
    EXPECT_THROW(json::requireInt64(object, "b"), JsonError);
    EXPECT_THROW(json::requireInt64(object, "f"), JsonError);
    EXPECT_TRUE(json::requireBool(object, "b"));
    EXPECT_THROW(json::requireBool(object, "i"), JsonError);
    EXPECT_DOUBLE_EQ(json::requireDouble(object, "f"), 1.5);
    EXPECT_THROW(json::requireDouble(object, "b"), JsonError);
    EXPECT_TRUE(json::requireArrayValue(object, "a").empty());
    EXPECT_THROW(json::requireArrayValue(object, "s"), JsonError);
}

TEST(StrictJsonParse, RejectsWhatIsNotJson) {
    EXPECT_THROW(json::parse(""), JsonError);
    EXPECT_THROW(json::parse("{"), JsonError);
    EXPECT_THROW(json::parse("{} x"), JsonError);
    EXPECT_FALSE(json::tryParse("[1,]"));
    EXPECT_FALSE(json::tryParse("1e400")); // overflows a double
}

TEST(StrictJsonWrite, NonFiniteNumbersFailTheWholeWrite) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        Json doc = {{"ok", 1}, {"nested", {{"values", {1.0, bad}}}}};
        EXPECT_THROW(json::write(doc), JsonError);
        EXPECT_THROW(json::write(doc, {.pretty = true}), JsonError);
    }
}

TEST(StrictJsonWrite, SortedKeysSlashEscapingAndInvalidText) {
    Json doc = {{"b", "x/y"}, {"a", 1}, {"C", true}};
    EXPECT_EQ(json::write(doc), R"({"C":true,"a":1,"b":"x/y"})");
    EXPECT_EQ(json::write(doc, {.escapeSlash = true}), R"({"C":true,"a":1,"b":"x\/y"})");
    EXPECT_EQ(json::write(Json{{"k", 5.0}}), R"({"k":5.0})");
    EXPECT_THROW(json::write(Json{{"k", std::string("\xff")}}), JsonError);
    std::string pretty = json::write(Json{{"z", 1}, {"a", Json::array()}}, {.pretty = true});
    EXPECT_LT(pretty.find("\"a\""), pretty.find("\"z\""));
    EXPECT_NE(pretty.find('\n'), std::string::npos);
}

} // namespace
} // namespace velk
