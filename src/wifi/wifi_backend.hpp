#pragma once
// What the Wi-Fi join needs of the system: the scan permission, the Wi-Fi interface, a scan for one
// network name, and an association. One implementation talks to NetworkManager; tests use a fake.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/cancellation.hpp"

namespace velk {

// Security types a scanned network can offer; the numbers are those the join's tables use.
enum class WifiSecurity : int {
    none = 0,
    wep = 1,
    wpaPersonal = 2,
    wpaPersonalMixed = 3,
    wpa2Personal = 4,
    personal = 5,
    dynamicWEP = 6,
    wpaEnterprise = 7,
    wpaEnterpriseMixed = 8,
    wpa2Enterprise = 9,
    enterprise = 10,
    wpa3Personal = 11,
    wpa3Enterprise = 12,
    wpa3Transition = 13,
    owe = 14,
    oweTransition = 15,
};

struct WifiNetwork {
    std::optional<std::vector<std::uint8_t>> ssid; // none when the network reports no name bytes
    std::vector<WifiSecurity> securities;
    int signal = 0;                                // larger is stronger
    std::string id;                                // the backend's handle (an access point's path)

    bool supportsSecurity(WifiSecurity security) const;
};

// Whether the system lets this application scan for and join Wi-Fi networks. `askOnUse`: allowed
// once the user confirms in the system's own authentication prompt, which appears during the join.
// `noAnswer`: the system (or the bus to it) did not answer in time, so the join cannot go ahead.
enum class WifiPermission { notDetermined, restricted, denied, authorized, askOnUse, other, noAnswer };

// The system's answer about its default Wi-Fi interface. `none` only when it answered that it has
// none; a system that did not answer (silent, missing, or the bus to it) is `noAnswer`, since the
// computer may well have Wi-Fi.
struct WifiInterface {
    enum class Status { found, none, noAnswer };
    Status status = Status::noAnswer;
    std::string name; // when found

    static WifiInterface found(std::string name) { return {Status::found, std::move(name)}; }
    bool operator==(const WifiInterface&) const = default;
};

// Every operation is given the cancellation of the join it serves: once that is cancelled (the
// sheet closed, or the application quitting), the system is asked nothing more and any wait for
// its answer ends at once.
class WifiBackend {
public:
    virtual ~WifiBackend() = default;

    // GUI thread. The answer known so far without blocking (`notDetermined` until the system has
    // been asked), and a question to the system whose answer arrives later through `answer`, also on
    // the GUI thread. Asking shows the user nothing.
    virtual WifiPermission permissionStatus() = 0;
    virtual void requestPermission(std::shared_ptr<const CancellationToken> stop,
                                   std::function<void(WifiPermission)> answer) = 0;

    // Worker thread; each call blocks until the system is done.
    virtual WifiInterface interface(const CancellationToken& stop) = 0;
    // The networks seen under that name, or none when the scan reports an error.
    virtual std::optional<std::vector<WifiNetwork>> scan(const std::string& interface,
                                                         const std::vector<std::uint8_t>& ssid,
                                                         const CancellationToken& stop) = 0;
    // True once the system has joined; no password for an open network.
    virtual bool associate(const std::string& interface, const WifiNetwork& network,
                           const std::optional<std::string>& password, const CancellationToken& stop) = 0;
};

} // namespace velk
