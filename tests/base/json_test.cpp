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

struct Sample {
    std::string name;
    std::optional<std::int64_t> count;
};

void from_json(const Json& json, Sample& sample) {
    sample.name = json::requireString(json, "name");
    sample.count = json::optionalInt64(json, "count");
}

TEST(StrictJsonReaders, OptionalReadersTreatMissingAndNullAlike) {
    Json object = json::parse(R"({"n":null,"i":3,"b":false,"f":2.5,"s":"x","extra":{"deep":[1]}})");
    EXPECT_EQ(json::optionalInt64(object, "n"), std::nullopt);
    EXPECT_EQ(json::optionalInt64(object, "missing"), std::nullopt);
    EXPECT_EQ(json::optionalInt64(object, "i"), 3);
    EXPECT_THROW(json::optionalInt64(object, "f"), JsonError);
    EXPECT_THROW(json::optionalInt64(object, "b"), JsonError);
    EXPECT_EQ(json::optionalDouble(object, "n"), std::nullopt);
    EXPECT_EQ(json::optionalDouble(object, "i"), 3.0);
    EXPECT_THROW(json::optionalDouble(object, "b"), JsonError);
    EXPECT_THROW(json::optionalDouble(object, "s"), JsonError);
    EXPECT_EQ(json::optionalBool(object, "n"), std::nullopt);
    EXPECT_EQ(json::optionalBool(object, "b"), false);
    EXPECT_THROW(json::optionalBool(object, "i"), JsonError);
    EXPECT_THROW(json::requireInt64(object, "n"), JsonError);
    EXPECT_THROW(json::requireDouble(object, "missing"), JsonError);
    EXPECT_THROW(json::requireBool(object, "n"), JsonError);
    EXPECT_THROW(json::requireArrayValue(object, "n"), JsonError);
}

TEST(StrictJsonReaders, ValueConversionsKeepTypesApart) {
    struct Case { const char* text; std::optional<double> number; std::optional<bool> boolean; std::optional<std::string> string; };
    const Case cases[] = {
        {"1", 1.0, std::nullopt, std::nullopt},
        {"-0.25", -0.25, std::nullopt, std::nullopt},
        {"18446744073709551615", 18446744073709551615.0, std::nullopt, std::nullopt},
        {"true", std::nullopt, true, std::nullopt},
        {"\"1\"", std::nullopt, std::nullopt, "1"},
        {"null", std::nullopt, std::nullopt, std::nullopt},
        {"[1]", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        Json value = json::parse(c.text);
        EXPECT_EQ(json::numberValue(value), c.number) << c.text;
        EXPECT_EQ(json::boolValue(value), c.boolean) << c.text;
        EXPECT_EQ(json::stringValue(value), c.string) << c.text;
    }
    EXPECT_EQ(json::integerValue(json::parse("-0.0")), 0);
    EXPECT_EQ(json::integerValue(json::parse("1e300")), std::nullopt);
    EXPECT_EQ(json::integerValue(json::parse("-9.2233720368547758e18")), std::numeric_limits<std::int64_t>::min());
}

TEST(StrictJsonRecords, ArraysDecodeElementsAndIgnoreUnknownKeys) {
    Json object = json::parse(R"({"items":[{"name":"a","count":2,"unknown":true},{"name":"b","count":null}],"none":null,"bad":{}})");
    auto items = json::requireArray<Sample>(object, "items");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].name, "a");
    EXPECT_EQ(items[0].count, 2);
    EXPECT_EQ(items[1].name, "b");
    EXPECT_EQ(items[1].count, std::nullopt);
    EXPECT_EQ(json::optionalArray<Sample>(object, "none"), std::nullopt);
    EXPECT_EQ(json::optionalArray<Sample>(object, "missing"), std::nullopt);
    EXPECT_THROW(json::optionalArray<Sample>(object, "bad"), JsonError);
    EXPECT_THROW(json::requireArray<Sample>(object, "none"), JsonError);
    EXPECT_THROW(json::requireArray<Sample>(json::parse(R"({"items":[{"name":"a"},3]})"), "items"), JsonError);
    EXPECT_THROW(json::requireArray<Sample>(json::parse(R"({"items":[{"count":1}]})"), "items"), JsonError);
    EXPECT_THROW(json::requireObject(json::parse("[]"), "document"), JsonError);
}

TEST(StrictJsonWrite, AbsentOptionalsAreLeftOutAndTextIsKept) {
    Json object = Json::object();
    json::putOptional(object, "missing", std::optional<std::int64_t>{});
    json::putOptional(object, "present", std::optional<std::string>{"caf\xC3\xA9 \xF0\x9F\x8E\xAC"});
    EXPECT_EQ(json::write(object), "{\"present\":\"caf\xC3\xA9 \xF0\x9F\x8E\xAC\"}");
    EXPECT_EQ(json::write(Json{{"a/b", "\"\n"}}, {.escapeSlash = true}), R"({"a\/b":"\"\n"})");
    EXPECT_EQ(json::write(Json{{"n", nullptr}}), R"({"n":null})");
    EXPECT_EQ(json::write(Json{{"k", 1}}, {.pretty = true}), "{\n  \"k\": 1\n}");
}

} // namespace
} // namespace velk
