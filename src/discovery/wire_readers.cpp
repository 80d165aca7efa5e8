#include "discovery/wire_readers.hpp"

#include <cmath>
#include <limits>

namespace velk::wire {

const Json* member(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

const Json* member(const Json* object, std::string_view key) {
    return object ? member(*object, key) : nullptr;
}

std::optional<std::int64_t> exactInteger(const Json* value) {
    if (!value || !value->is_number()) return std::nullopt;
    return json::integerValue(*value);
}

std::optional<bool> strictBoolean(const Json* value) {
    if (!value || !value->is_boolean()) return std::nullopt;
    return value->get<bool>();
}

std::optional<std::int64_t> lenientInteger(const Json* value) {
    if (!value) return std::nullopt;
    switch (value->type()) {
    case Json::value_t::boolean:
        return value->get<bool>() ? 1 : 0;
    case Json::value_t::number_integer:
        return value->get<std::int64_t>();
    case Json::value_t::number_unsigned: {
        auto u = value->get<std::uint64_t>();
        constexpr auto top = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        return u > top ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(u);
    }
    case Json::value_t::number_float: {
        double d = value->get<double>();
        if (std::isnan(d)) return std::nullopt;
        d = std::trunc(d);
        if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
        if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
        return static_cast<std::int64_t>(d);
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> lenientDouble(const Json* value) {
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>() ? 1.0 : 0.0;
    if (!value->is_number()) return std::nullopt;
    double d = value->get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<std::int64_t> safeInteger(const Json* value) {
    auto integer = exactInteger(value);
    if (!integer || *integer < 0 || *integer > maximumSafeInteger) return std::nullopt;
    return integer;
}

std::optional<std::string> string(const Json* value) {
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

} // namespace velk::wire
