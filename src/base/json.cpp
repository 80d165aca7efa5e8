#include "base/json.hpp"

#include <cmath>
#include <limits>

namespace velk::json {

namespace {

std::string quoted(std::string_view key) { return "\"" + std::string(key) + "\""; }

[[noreturn]] void typeMismatch(std::string_view key, const char* expected) {
    throw JsonError("Expected " + std::string(expected) + " for key " + quoted(key) + ".");
}

const Json* present(const Json& object, std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const Json& required(const Json& object, std::string_view key) {
    auto it = object.find(key);
    if (it == object.end()) throw JsonError("No value for key " + quoted(key) + ".");
    if (it->is_null()) throw JsonError("Null value for key " + quoted(key) + ".");
    return *it;
}

void checkWritable(const Json& value) {
    switch (value.type()) {
    case Json::value_t::number_float:
        if (!std::isfinite(value.get<double>())) throw JsonError("A number is not finite and cannot be written as JSON.");
        break;
    case Json::value_t::object:
    case Json::value_t::array:
        for (const Json& child : value) checkWritable(child);
        break;
    default:
        break;
    }
}

} // namespace

Json parse(std::string_view text) {
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception&) {
        throw JsonError("The data is not valid JSON.");
    }
}

std::optional<Json> tryParse(std::string_view text) {
    Json value = Json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> integerValue(const Json& value) {
    switch (value.type()) {
    case Json::value_t::number_integer:
        return value.get<std::int64_t>();
    case Json::value_t::number_unsigned: {
        auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    case Json::value_t::number_float: {
        double d = value.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d) return std::nullopt;
        // 2^63 is exactly representable and is the first value out of range.
        if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> numberValue(const Json& value) {
    if (!value.is_number()) return std::nullopt;
    double d = value.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<bool> boolValue(const Json& value) {
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

std::optional<std::string> stringValue(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}

const Json& requireObject(const Json& value, std::string_view what) {
    if (!value.is_object()) throw JsonError("Expected an object for " + quoted(what) + ".");
    return value;
}

std::string requireString(const Json& object, std::string_view key) {
    const Json& v = required(object, key);
    if (!v.is_string()) typeMismatch(key, "a string");
    return v.get<std::string>();
}

std::optional<std::string> optionalString(const Json& object, std::string_view key) {
    const Json* v = present(object, key);
    if (!v) return std::nullopt;
    if (!v->is_string()) typeMismatch(key, "a string");
    return v->get<std::string>();
}

std::int64_t requireInt64(const Json& object, std::string_view key) {
    auto value = integerValue(required(object, key));
    if (!value) typeMismatch(key, "a 64-bit integer");
    return *value;
}

std::optional<std::int64_t> optionalInt64(const Json& object, std::string_view key) {
    const Json* v = present(object, key);
    if (!v) return std::nullopt;
    auto value = integerValue(*v);
    if (!value) typeMismatch(key, "a 64-bit integer");
    return value;
}

double requireDouble(const Json& object, std::string_view key) {
    auto value = numberValue(required(object, key));
    if (!value) typeMismatch(key, "a number");
    return *value;
}

std::optional<double> optionalDouble(const Json& object, std::string_view key) {
    const Json* v = present(object, key);
    if (!v) return std::nullopt;
    auto value = numberValue(*v);
    if (!value) typeMismatch(key, "a number");
    return value;
}

bool requireBool(const Json& object, std::string_view key) {
    const Json& v = required(object, key);
    if (!v.is_boolean()) typeMismatch(key, "a boolean");
    return v.get<bool>();
}

std::optional<bool> optionalBool(const Json& object, std::string_view key) {
    const Json* v = present(object, key);
    if (!v) return std::nullopt;
    if (!v->is_boolean()) typeMismatch(key, "a boolean");
    return v->get<bool>();
}

const Json& requireArrayValue(const Json& object, std::string_view key) {
    const Json& v = required(object, key);
    if (!v.is_array()) typeMismatch(key, "an array");
    return v;
}

std::string write(const Json& value, WriteOptions options) {
    checkWritable(value);
    std::string text;
    try {
        text = value.dump(options.pretty ? 2 : -1, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception&) {
        throw JsonError("A string is not valid UTF-8 and cannot be written as JSON.");
    }
    if (!options.escapeSlash) return text;
    // Outside strings JSON text has no "/", so every one of them belongs to a string value or key.
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '/') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace velk::json
