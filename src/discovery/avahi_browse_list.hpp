#pragma once
// What one browse of the Avahi backend listed, and how that list settles after a return of the
// daemon. Plain state, told what the daemon's browser object and look-ups said; its reports go to
// the function it is given.

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "discovery/avahi_service_instances.hpp"

namespace velk::avahi {

// What one browse reported found and not removed since. It outlives the daemon's browser objects:
// after a gap the list stays as it is while a fresh object settles, that is, until the object has
// said it reported all it knows (AllForNow) or its time ran out, and each listed service the object
// did not report has had its round of being looked up. A service the object reports is found at
// once, a listed one again, so that it is resolved as the daemon knows it now; once settled, what
// the daemon cannot find is removed, and the rest are reported found again.
class AvahiBrowseList {
public:
    using Key = AvahiServiceInstances::Key;
    using Report = std::function<void(const Key& key, bool isNew)>;
    // What the daemon, asked for a service, answered: found, cannot find it, or nothing usable
    // (no answer in time, or another error).
    enum class LookUp { found, notFound, noAnswer };

    void freshObject() {
        endObject();
        if (!m_listed.empty()) m_phase = Phase::settling;
    }
    // The daemon's browser object went; what is listed stays so.
    void endObject() {
        m_instances.clear();
        m_unconfirmed.clear();
        m_phase = Phase::following;
    }
    // The browse ended: its services are forgotten without reports.
    void clear() {
        endObject();
        m_listed.clear();
    }
    bool isSettling() const { return m_phase == Phase::settling; }

    void itemNew(const Key& key, const Report& report) {
        if (!m_instances.add(key)) return;
        m_unconfirmed.erase(key);
        m_listed.insert(key);
        report(key, true);
        finishWhenAnswered(report);
    }
    void itemRemoved(const Key& key, const Report& report) {
        if (m_instances.remove(key) && m_phase == Phase::following && m_listed.erase(key)) report(key, false);
    }
    // The fresh object said AllForNow, or its time ran out. Returns the listed services it did not
    // report, for the daemon to look up.
    std::vector<Key> settle(const Report& report) {
        if (m_phase != Phase::settling) return {};
        m_phase = Phase::confirming;
        std::vector<Key> unreported;
        for (const Key& key : m_listed) {
            if (!m_instances.contains(key)) m_unconfirmed[unreported.emplace_back(key)] = false;
        }
        finishWhenAnswered(report);
        return unreported;
    }
    // The daemon, asked directly for `key`, answered. True when it is to be asked again later: not
    // yet reported by the browser object, and not known to be gone.
    bool lookedUp(const Key& key, LookUp answer, const Report& report) {
        const auto unconfirmed = m_unconfirmed.find(key);
        if (unconfirmed == m_unconfirmed.end()) return false;
        if (answer == LookUp::notFound) {
            m_unconfirmed.erase(unconfirmed);
            if (m_phase == Phase::following && m_listed.erase(key)) report(key, false);
        } else {
            unconfirmed->second = true;
        }
        finishWhenAnswered(report);
        return answer != LookUp::notFound;
    }
    // The daemon's search time for `key` has passed without its answer: its round is over, and it
    // stays listed until an answer says otherwise.
    void roundOver(const Key& key, const Report& report) {
        const auto unconfirmed = m_unconfirmed.find(key);
        if (unconfirmed == m_unconfirmed.end() || unconfirmed->second) return;
        unconfirmed->second = true;
        finishWhenAnswered(report);
    }

private:
    enum class Phase { following, settling, confirming };

    // Once every look-up had its round, what the daemon does not have is removed, and what it may
    // have is reported found again, to be resolved.
    void finishWhenAnswered(const Report& report) {
        const auto hadItsRound = [](const auto& unconfirmed) { return unconfirmed.second; };
        if (m_phase != Phase::confirming || !std::all_of(m_unconfirmed.begin(), m_unconfirmed.end(), hadItsRound)) {
            return;
        }
        m_phase = Phase::following;
        for (auto key = m_listed.begin(); key != m_listed.end();) {
            if (m_instances.contains(*key) || m_unconfirmed.contains(*key)) {
                ++key;
                continue;
            }
            report(*key, false);
            key = m_listed.erase(key);
        }
        for (const auto& unconfirmed : m_unconfirmed) report(unconfirmed.first, true);
    }

    AvahiServiceInstances m_instances; // what the daemon's current browser object reported
    std::set<Key> m_listed;
    // Listed, not reported by the current object and looked up: whether its look-up had its round.
    std::map<Key, bool> m_unconfirmed;
    Phase m_phase = Phase::following;
};

} // namespace velk::avahi
