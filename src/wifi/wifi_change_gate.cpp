#include "wifi/wifi_change_gate.hpp"

namespace velk {

void WiFiChangeGate::update(bool allowed) {
    std::lock_guard guard(m_lock);
    m_allowed = allowed;
}

bool WiFiChangeGate::allowsChange() const {
    std::lock_guard guard(m_lock);
    return m_allowed;
}

} // namespace velk
