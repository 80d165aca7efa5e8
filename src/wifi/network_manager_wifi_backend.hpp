#pragma once
// The Wi-Fi join over NetworkManager's D-Bus API. The bus is reached only when a join asks for it,
// so making the backend (and the sheet that owns it) touches no system service; each step of a
// join (the permission, the interface, the scan, the association) makes a connection of its own
// through sd-bus, and every wait, connecting included, has its time-out. A NetworkManager or a bus
// that does not answer is told apart from one that answers "no Wi-Fi device". The password
// travels only inside the connection's secrets, to a volatile profile that NetworkManager never
// writes to disk; a profile whose activation fails is removed again. Once a join is cancelled, its
// steps make no call any more and every wait (a call's reply, the scan's end, the activation) ends
// at once: an activation already asked for runs its course in NetworkManager, which drops the
// volatile profile itself once it goes down.

#include <memory>
#include <optional>

#include <string>

#include "wifi/wifi_backend.hpp"

namespace velk {

class NetworkManagerWifiBackend final : public WifiBackend {
public:
    struct Options {
        // None: the system bus. Tests give the address of a private bus.
        std::optional<std::string> busAddress;
        int connectTimeoutMs = 5000;  // for the bus to let a connection in
        int callTimeoutMs = 25000;
        int scanWaitMs = 15000;       // for LastScan to change after the scan request
        int activationWaitMs = 60000; // for the new connection to become activated
        int pollIntervalMs = 100;
    };

    NetworkManagerWifiBackend();
    explicit NetworkManagerWifiBackend(Options options);
    ~NetworkManagerWifiBackend() override;

    WifiPermission permissionStatus() override;
    void requestPermission(std::shared_ptr<const CancellationToken> stop,
                           std::function<void(WifiPermission)> answer) override;
    WifiInterface interface(const CancellationToken& stop) override;
    std::optional<std::vector<WifiNetwork>> scan(const std::string& interface, const std::vector<std::uint8_t>& ssid,
                                                 const CancellationToken& stop) override;
    bool associate(const std::string& interface, const WifiNetwork& network,
                   const std::optional<std::string>& password, const CancellationToken& stop) override;

    // The security types an access point offers, from its Flags, WpaFlags and RsnFlags.
    static std::vector<WifiSecurity> securities(std::uint32_t flags, std::uint32_t wpaFlags, std::uint32_t rsnFlags);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace velk
