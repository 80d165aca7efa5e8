#pragma once
// Whether this computer may change its Wi-Fi network right now. The Library window owns one gate
// and keeps it up to date; the onboarding sheet and every join attempt read it, the join also from
// its worker thread, so the flag sits behind a lock held for one load or store only.

#include <mutex>

namespace velk {

class WiFiChangeGate final {
public:
    WiFiChangeGate() = default; // closed: no change is allowed until the owner says so
    WiFiChangeGate(const WiFiChangeGate&) = delete;
    WiFiChangeGate& operator=(const WiFiChangeGate&) = delete;

    void update(bool allowed);
    bool allowsChange() const;

private:
    mutable std::mutex m_lock;
    bool m_allowed = false;
};

} // namespace velk
