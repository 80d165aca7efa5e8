#pragma once
// Shared by the Wi-Fi tests: a Wi-Fi backend whose system answers the test decides.

#include <atomic>
#include <functional>
#include <future>
#include <mutex>

#include "support/qt_test.hpp"
#include "wifi/wifi_backend.hpp"
#include "wifi/wifi_join_coordinator.hpp"

namespace velk::test {

// The network of the tests' QR codes: a name with a character that the QR text escapes.
inline const WiFiNetworkDetails kHome{"Home;Net", WiFiNetworkDetails::Security::wpa, "password1", false};

inline WifiNetwork network(const std::string& ssid, std::vector<WifiSecurity> securities, int signal,
                           const std::string& id) {
    return WifiNetwork{std::vector<std::uint8_t>(ssid.begin(), ssid.end()), std::move(securities), signal, id};
}

inline std::shared_ptr<WiFiChangeGate> openGate() {
    auto gate = std::make_shared<WiFiChangeGate>();
    gate->update(true);
    return gate;
}

class FakeWifiBackend final : public WifiBackend {
public:
    // Set by the test before a join.
    WifiPermission status = WifiPermission::authorized;
    WifiInterface wifiInterface = WifiInterface::found("wlan0");
    std::optional<std::vector<WifiNetwork>> scanResult = std::vector<WifiNetwork>{};
    bool associateSucceeds = true;
    std::function<void()> duringScan;      // runs on the worker inside the scan
    std::function<void()> duringAssociate; // runs on the worker inside the association

    // Blocks the scan until the returned promise is kept.
    std::promise<void> holdScan() {
        std::promise<void> release;
        duringScan = [released = release.get_future().share()] { released.wait(); };
        return release;
    }

    // Recorded.
    std::function<void(WifiPermission)> permissionAnswer;
    std::atomic<int> permissionRequests{0};
    std::atomic<int> scans{0};
    std::atomic<int> associations{0};

    std::string associatedID() const {
        std::lock_guard guard(m_lock);
        return m_associatedID;
    }
    std::optional<std::string> associatedPassword() const {
        std::lock_guard guard(m_lock);
        return m_associatedPassword;
    }

    WifiPermission permissionStatus() override { return status; }
    void requestPermission(std::shared_ptr<const CancellationToken>, std::function<void(WifiPermission)> answer) override {
        ++permissionRequests;
        permissionAnswer = std::move(answer);
    }
    WifiInterface interface(const CancellationToken&) override { return wifiInterface; }
    std::optional<std::vector<WifiNetwork>> scan(const std::string&, const std::vector<std::uint8_t>&,
                                                 const CancellationToken&) override {
        ++scans;
        if (duringScan) duringScan();
        return scanResult;
    }
    bool associate(const std::string&, const WifiNetwork& chosen, const std::optional<std::string>& password,
                   const CancellationToken&) override {
        ++associations;
        {
            std::lock_guard guard(m_lock);
            m_associatedID = chosen.id;
            m_associatedPassword = password;
        }
        if (duringAssociate) duringAssociate();
        return associateSucceeds;
    }

private:
    mutable std::mutex m_lock;
    std::string m_associatedID;
    std::optional<std::string> m_associatedPassword;
};

// One join on this thread through an open gate.
inline WiFiJoinResult joinOnce(WifiBackend& backend, const WiFiNetworkDetails& details) {
    WiFiChangeGate gate;
    gate.update(true);
    WiFiJoinAttempt attempt;
    return WiFiJoin::joinSynchronously(details, gate, attempt, backend);
}

} // namespace velk::test
