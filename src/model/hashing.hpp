#pragma once
// One way to hash record fields, so that equal records hash alike: zero and negative zero hash
// the same, an absent optional differs from every present one, and collections hash element by
// element in their order.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velk::hashing {

class Hasher {
public:
    std::size_t value() const { return m_state; }

    Hasher& add(double number) {
        // -0.0 == 0.0, so both must feed the same bits.
        if (number == 0.0) number = 0.0;
        return mix(std::hash<double>{}(number));
    }
    Hasher& add(bool flag) { return mix(flag ? 0x9e37u : 0x7f4au); }
    Hasher& add(std::int64_t number) { return mix(std::hash<std::int64_t>{}(number)); }
    Hasher& add(int number) { return add(static_cast<std::int64_t>(number)); }
    Hasher& add(const std::string& text) { return mix(std::hash<std::string>{}(text)); }
    Hasher& add(std::chrono::system_clock::time_point time) {
        return add(static_cast<std::int64_t>(time.time_since_epoch().count()));
    }
    template <class T>
    Hasher& add(const std::optional<T>& value) {
        if (!value) return mix(0x51ed27u);
        mix(0x2545f4u);
        return add(*value);
    }
    template <class T>
    Hasher& add(const std::vector<T>& values) {
        mix(values.size());
        for (const T& v : values) add(v);
        return *this;
    }
    template <class T>
    Hasher& add(const std::set<T>& values) {
        mix(values.size());
        for (const T& v : values) add(v);
        return *this;
    }
    template <class K, class V>
    Hasher& add(const std::map<K, V>& values) {
        mix(values.size());
        for (const auto& [k, v] : values) add(k).add(v);
        return *this;
    }
    // Any record with a std::hash specialisation.
    template <class T, class = decltype(std::hash<T>{}(std::declval<const T&>()))>
    Hasher& add(const T& record) {
        return mix(std::hash<T>{}(record));
    }

private:
    Hasher& mix(std::size_t h) {
        m_state ^= h + 0x9e3779b97f4a7c15ull + (m_state << 6) + (m_state >> 2);
        return *this;
    }
    std::size_t m_state = 0xcbf29ce484222325ull;
};

} // namespace velk::hashing
