#pragma once
// Avahi reports one service once per interface and protocol it was heard on. The browser reports
// a service found when its first instance appears and removed when its last one goes.

#include <map>
#include <string>
#include <tuple>

namespace velk {

class AvahiServiceInstances {
public:
    using Key = std::tuple<std::string, std::string, std::string>; // name, type, domain

    // True when this is the service's first instance.
    bool add(const Key& key) { return ++m_counts[key] == 1; }
    // True when this was the service's last instance; an instance never added is ignored.
    bool remove(const Key& key) {
        auto entry = m_counts.find(key);
        if (entry == m_counts.end()) return false;
        if (--entry->second > 0) return false;
        m_counts.erase(entry);
        return true;
    }
    void clear() { m_counts.clear(); }
    bool contains(const Key& key) const { return m_counts.contains(key); }

private:
    std::map<Key, int> m_counts;
};

} // namespace velk
