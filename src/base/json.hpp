#pragma once
// Strict JSON reading and writing. Every document from a file or the network is read through
// these functions: a value has exactly the JSON type its reader asks for, and a write that meets a
// value JSON cannot carry fails instead of writing something else.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace velk {

// Objects keep their keys sorted (std::map), so every written document has sorted keys.
using Json = nlohmann::json;

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace json {

// Parses one JSON text (UTF-8). Throws JsonError when the text is not JSON.
Json parse(std::string_view text);
// As parse, without throwing.
std::optional<Json> tryParse(std::string_view text);

// --- Value conversions (no key involved). Each returns none for any other JSON type. ---
// An integer: a JSON integer in the signed 64-bit range, or a float that is finite, integral and
// in range (5.0 counts, 5.5 does not). Booleans are never numbers.
std::optional<std::int64_t> integerValue(const Json& value);
// Any finite JSON number (integer or float); booleans are never numbers.
std::optional<double> numberValue(const Json& value);
std::optional<bool> boolValue(const Json& value);
std::optional<std::string> stringValue(const Json& value);

// --- Object readers used by record decoding. ---
// Required: the key is present and not null and has the type; otherwise JsonError naming the key.
// Optional: missing or null gives none; present with another type is JsonError.
const Json& requireObject(const Json& value, std::string_view what);
std::string requireString(const Json& object, std::string_view key);
std::optional<std::string> optionalString(const Json& object, std::string_view key);
std::int64_t requireInt64(const Json& object, std::string_view key);
std::optional<std::int64_t> optionalInt64(const Json& object, std::string_view key);
double requireDouble(const Json& object, std::string_view key);
std::optional<double> optionalDouble(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
std::optional<bool> optionalBool(const Json& object, std::string_view key);
// The array under a key; each element decoded with `from_json(const Json&, T&)` found by ADL.
const Json& requireArrayValue(const Json& object, std::string_view key);

template <class T>
std::vector<T> decodeArray(const Json& array, std::string_view key) {
    std::vector<T> out;
    out.reserve(array.size());
    for (const Json& element : array) {
        T item{};
        from_json(requireObject(element, key), item);
        out.push_back(std::move(item));
    }
    return out;
}

template <class T>
std::vector<T> requireArray(const Json& object, std::string_view key) {
    return decodeArray<T>(requireArrayValue(object, key), key);
}

template <class T>
std::optional<std::vector<T>> optionalArray(const Json& object, std::string_view key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    if (!it->is_array()) throw JsonError("Expected an array for key \"" + std::string(key) + "\".");
    return decodeArray<T>(*it, key);
}

// --- Writers used by record encoding: absent optionals are left out, never written as null. ---
template <class T>
void putOptional(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

// --- Writing. ---
struct WriteOptions {
    bool pretty = false;      // indented, one key per line
    bool escapeSlash = false; // "/" written as "\/"
};
// Serialises a value with sorted keys. Throws JsonError when any number is not finite or a string
// is not valid UTF-8; nothing partial is returned.
std::string write(const Json& value, WriteOptions options = {});

} // namespace json
} // namespace velk
