#include "base/json.hpp"

#include <cmath>
#include <functional>
#include <limits>

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(StrictJsonValues, IntegersAreIntegralNumbersInRange) {
    const std::int64_t max = std::numeric_limits<std::int64_t>::max(), min = std::numeric_limits<std::int64_t>::min();
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"5", 5}, {"-7", -7}, {"5.0", 5}, {"5e0", 5}, {"-0.0", 0}, {"1.5", std::nullopt}, {"true", std::nullopt},
        {"\"5\"", std::nullopt}, {"null", std::nullopt}, {"9223372036854775807", max}, {"-9223372036854775808", min},
        {"-9.2233720368547758e18", min}, {"9223372036854775808", std::nullopt}, // 2^63, unsigned in the parser
        {"18446744073709551615", std::nullopt}, {"9.3e18", std::nullopt}, {"1e300", std::nullopt}};
    for (const auto& [text, expected] : cases) {
        auto value = json::tryParse(text);
        ASSERT_TRUE(value) << text;
        EXPECT_EQ(json::integerValue(*value), expected) << text;
    }
}

TEST(StrictJsonValues, NumbersBooleansAndStringsAreKeptApart) {
    struct Case { const char* text; std::optional<double> number; std::optional<bool> boolean; std::optional<std::string> string; };
    const Case cases[] = {
        {"1", 1.0, std::nullopt, std::nullopt},        {"-0.25", -0.25, std::nullopt, std::nullopt},
        {"18446744073709551615", 18446744073709551615.0, std::nullopt, std::nullopt},
        {"true", std::nullopt, true, std::nullopt},    {"\"1\"", std::nullopt, std::nullopt, "1"},
        {"null", std::nullopt, std::nullopt, std::nullopt}, {"[1]", std::nullopt, std::nullopt, std::nullopt}};
    for (const Case& c : cases) {
        const Json value = json::parse(c.text);
        EXPECT_EQ(json::numberValue(value), c.number) << c.text;
        EXPECT_EQ(json::boolValue(value), c.boolean) << c.text;
        EXPECT_EQ(json::stringValue(value), c.string) << c.text;
    }
    for (const char* text : {"", "{", "{} x", "[1,]", "1e400"}) EXPECT_FALSE(json::tryParse(text)) << text;
    EXPECT_THROW(json::parse("{} x"), JsonError);
}

TEST(StrictJsonReaders, RequiredAndOptionalKeysOfEachType) {
    const Json object = json::parse(R"({"s":"x","n":null,"i":3,"b":true,"f":1.5,"a":[],"extra":{"deep":[1]}})");
    // Each reader's result as JSON: "(absent)" for an absent optional, nullptr when it throws.
    using Reader = std::function<Json(const char*)>;
    const auto optional = [](auto value) { return value ? Json(*value) : Json("(absent)"); };
    const std::pair<const char*, Reader> readers[] = {
        {"requireString", [&](const char* key) { return Json(json::requireString(object, key)); }},
        {"optionalString", [&](const char* key) { return optional(json::optionalString(object, key)); }},
        {"requireInt64", [&](const char* key) { return Json(json::requireInt64(object, key)); }},
        {"optionalInt64", [&](const char* key) { return optional(json::optionalInt64(object, key)); }},
        {"requireDouble", [&](const char* key) { return Json(json::requireDouble(object, key)); }},
        {"optionalDouble", [&](const char* key) { return optional(json::optionalDouble(object, key)); }},
        {"requireBool", [&](const char* key) { return Json(json::requireBool(object, key)); }},
        {"optionalBool", [&](const char* key) { return optional(json::optionalBool(object, key)); }},
        {"requireArrayValue", [&](const char* key) { return json::requireArrayValue(object, key); }},
    };
    // Per reader, in the order above: the result for the keys s, n, i, b, f, a and a missing one.
    const char* const keys[] = {"s", "n", "i", "b", "f", "a", "missing"};
    const std::vector<const char*> expected[] = {
        {"\"x\"", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        {"\"x\"", "\"(absent)\"", nullptr, nullptr, nullptr, nullptr, "\"(absent)\""},
        {nullptr, nullptr, "3", nullptr, nullptr, nullptr, nullptr},
        {nullptr, "\"(absent)\"", "3", nullptr, nullptr, nullptr, "\"(absent)\""},
        {nullptr, nullptr, "3", nullptr, "1.5", nullptr, nullptr},
        {nullptr, "\"(absent)\"", "3", nullptr, "1.5", nullptr, "\"(absent)\""},
        {nullptr, nullptr, nullptr, "true", nullptr, nullptr, nullptr},
        {nullptr, "\"(absent)\"", nullptr, "true", nullptr, nullptr, "\"(absent)\""},
        {nullptr, nullptr, nullptr, nullptr, nullptr, "[]", nullptr},
    };
    for (std::size_t r = 0; r < std::size(readers); ++r) {
        for (std::size_t k = 0; k < std::size(keys); ++k) {
            SCOPED_TRACE(std::string(readers[r].first) + " \"" + keys[k] + "\"");
            if (expected[r][k]) EXPECT_EQ(readers[r].second(keys[k]), Json::parse(expected[r][k]));
            else EXPECT_THROW(readers[r].second(keys[k]), JsonError);
        }
    }
}

struct Sample {
    std::string name;
    std::optional<std::int64_t> count;
};

void from_json(const Json& json, Sample& sample) {
    sample.name = json::requireString(json, "name");
    sample.count = json::optionalInt64(json, "count");
}

TEST(StrictJsonReaders, ArraysDecodeEachElementAndIgnoreUnknownKeys) {
    const Json object = json::parse(R"({"items":[{"name":"a","count":2,"unknown":true},{"name":"b","count":null}],
                                        "none":null,"bad":{}})");
    const auto items = json::requireArray<Sample>(object, "items");
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

TEST(StrictJsonWrite, SortedKeysOptionalSlashEscapingAndPrettyLayout) {
    Json optionals = Json::object();
    json::putOptional(optionals, "missing", std::optional<std::int64_t>{});
    json::putOptional(optionals, "present", std::optional<std::string>{"caf\xC3\xA9 \xF0\x9F\x8E\xAC"});
    struct Case { Json doc; json::WriteOptions options; std::string text; };
    const Case cases[] = {
        {{{"b", "x/y"}, {"a", 1}, {"C", true}}, {}, R"({"C":true,"a":1,"b":"x/y"})"},
        {{{"b", "x/y"}, {"a", 1}, {"C", true}}, {.escapeSlash = true}, R"({"C":true,"a":1,"b":"x\/y"})"},
        {{{"a/b", "\"\n"}}, {.escapeSlash = true}, R"({"a\/b":"\"\n"})"},
        {{{"k", 5.0}}, {}, R"({"k":5.0})"},
        {{{"n", nullptr}}, {}, R"({"n":null})"},
        {optionals, {}, "{\"present\":\"caf\xC3\xA9 \xF0\x9F\x8E\xAC\"}"},
        {{{"k", 1}}, {.pretty = true}, "{\n  \"k\": 1\n}"},
        {{{"z", 1}, {"a", Json::array()}}, {.pretty = true}, "{\n  \"a\": [],\n  \"z\": 1\n}"},
    };
    for (const Case& c : cases) EXPECT_EQ(json::write(c.doc, c.options), c.text);
    EXPECT_THROW(json::write(Json{{"k", std::string("\xff")}}), JsonError);
}

TEST(StrictJsonWrite, NonFiniteNumbersFailTheWholeWrite) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        const Json doc = {{"ok", 1}, {"nested", {{"values", {1.0, bad}}}}};
        EXPECT_THROW(json::write(doc), JsonError);
        EXPECT_THROW(json::write(doc, {.pretty = true}), JsonError);
    }
}

} // namespace
} // namespace velk
