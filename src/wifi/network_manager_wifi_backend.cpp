#include "wifi/network_manager_wifi_backend.hpp"

#include <atomic>
#include <chrono>

#include <systemd/sd-bus.h>

#include <QUuid>

#include "base/executor.hpp"
#include "base/system_bus.hpp"

namespace velk {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kManagerInterface = "org.freedesktop.NetworkManager";
constexpr const char* kDeviceInterface = "org.freedesktop.NetworkManager.Device";
constexpr const char* kWirelessInterface = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char* kAccessPointInterface = "org.freedesktop.NetworkManager.AccessPoint";
constexpr const char* kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
constexpr const char* kConnectionInterface = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kScanPermission = "org.freedesktop.NetworkManager.wifi.scan";

constexpr std::uint32_t kDeviceTypeWifi = 2;
constexpr std::uint32_t kApFlagPrivacy = 0x1;
constexpr std::uint32_t kSecKeyMgmtPSK = 0x100;
constexpr std::uint32_t kSecKeyMgmt8021X = 0x200;
constexpr std::uint32_t kSecKeyMgmtSAE = 0x400;
constexpr std::uint32_t kSecKeyMgmtOWE = 0x800;
constexpr std::uint32_t kSecKeyMgmtOWETransition = 0x1000;
constexpr std::uint32_t kSecKeyMgmtSuiteB192 = 0x2000;
constexpr std::uint32_t kActiveStateActivated = 2;
constexpr std::uint32_t kActiveStateDeactivating = 3;
constexpr std::uint32_t kActiveStateDeactivated = 4;

// One entry of an a{sv} settings group: a text, a truth value or bytes.
bool appendSetting(sd_bus_message* message, const char* key, const std::string& text) {
    return sd_bus_message_append(message, "{sv}", key, "s", text.c_str()) >= 0;
}

bool appendSetting(sd_bus_message* message, const char* key, bool value) {
    return sd_bus_message_append(message, "{sv}", key, "b", static_cast<int>(value)) >= 0;
}

bool appendSetting(sd_bus_message* message, const char* key, const std::vector<std::uint8_t>& bytes) {
    return sd_bus_message_open_container(message, 'e', "sv") >= 0 &&
           sd_bus_message_append_basic(message, 's', key) >= 0 && sd_bus_message_open_container(message, 'v', "ay") >= 0 &&
           sd_bus_message_append_array(message, 'y', bytes.data(), bytes.size()) >= 0 &&
           sd_bus_message_close_container(message) >= 0 && sd_bus_message_close_container(message) >= 0;
}

// A group of the connection settings (a{sa{sv}}): its name, then its entries.
template <class Entries>
bool appendSettingsGroup(sd_bus_message* message, const char* group, Entries entries) {
    return sd_bus_message_open_container(message, 'e', "sa{sv}") >= 0 &&
           sd_bus_message_append_basic(message, 's', group) >= 0 &&
           sd_bus_message_open_container(message, 'a', "{sv}") >= 0 && entries() &&
           sd_bus_message_close_container(message) >= 0 && sd_bus_message_close_container(message) >= 0;
}

// One step of a join on a connection of its own, and the one place its calls are made: none once
// the join is cancelled. Every wait, connecting included, ends at its time-out, and at once when the
// join is cancelled.
class NetworkManagerSession {
public:
    NetworkManagerSession(const NetworkManagerWifiBackend::Options& options, const CancellationToken& stop)
        : m_options(options),
          m_stop(stop),
          m_bus(stop.isCancelled() ? nullptr
                                   : system_bus::Connection::open(
                                         system_bus::systemAddress(options.busAddress),
                                         std::chrono::steady_clock::now() + std::chrono::milliseconds(options.connectTimeoutMs),
                                         &stop)) {}

    system_bus::Message message(const std::string& path, const char* interface, const char* method) {
        return m_bus ? m_bus->methodCall(kService, path.c_str(), interface, method) : nullptr;
    }

    // The reply; none for an error, a time-out or a cancellation, which ends the wait at once.
    system_bus::Message call(const system_bus::Message& request) {
        if (!m_bus || !request || m_stop.isCancelled()) return nullptr;
        return m_bus->call(request, deadline(), &m_stop);
    }

    system_bus::Message call(const std::string& path, const char* interface, const char* method) {
        return call(message(path, interface, method));
    }

    // Waits between two looks at something NetworkManager is doing; false, at once, when the join
    // is cancelled.
    bool pause() const { return m_stop.waitFor(static_cast<std::uint64_t>(m_options.pollIntervalMs) * 1'000'000u); }

    std::optional<system_bus::Value> property(const std::string& path, const char* interface, const char* name) {
        system_bus::Message get = message(path, kPropertiesInterface, "Get");
        if (!get || sd_bus_message_append(get.get(), "ss", interface, name) < 0) return std::nullopt;
        const system_bus::Message reply = call(get);
        if (!reply) return std::nullopt;
        return system_bus::readVariant(reply.get());
    }

    std::optional<std::map<std::string, system_bus::Value>> properties(const std::string& path, const char* interface) {
        system_bus::Message getAll = message(path, kPropertiesInterface, "GetAll");
        if (!getAll || sd_bus_message_append(getAll.get(), "s", interface) < 0) return std::nullopt;
        const system_bus::Message reply = call(getAll);
        if (!reply) return std::nullopt;
        return system_bus::readProperties(reply.get());
    }

    std::optional<std::vector<std::string>> paths(const std::string& path, const char* interface, const char* method) {
        const system_bus::Message reply = call(path, interface, method);
        if (!reply) return std::nullopt;
        return system_bus::readTextArray(reply.get(), 'o');
    }

private:
    system_bus::Deadline deadline() const {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.callTimeoutMs);
    }

    const NetworkManagerWifiBackend::Options& m_options;
    const CancellationToken& m_stop;
    std::unique_ptr<system_bus::Connection> m_bus;
};

WifiPermission askScanPermission(const NetworkManagerWifiBackend::Options& options, const CancellationToken& stop) {
    NetworkManagerSession nm(options, stop);
    const system_bus::Message reply = nm.call(kManagerPath, kManagerInterface, "GetPermissions");
    // No answer (an error, the time-out, no bus): whatever the join asked next would go unanswered too.
    if (!reply) return WifiPermission::noAnswer;
    const auto permissions = system_bus::readTextDictionary(reply.get());
    const auto scan = permissions.find(kScanPermission);
    if (scan == permissions.end()) return WifiPermission::authorized;
    if (scan->second == "no") return WifiPermission::denied;
    // "auth": NetworkManager's authentication agent asks the user when the join scans.
    if (scan->second == "auth") return WifiPermission::askOnUse;
    return WifiPermission::authorized;
}

} // namespace

struct NetworkManagerWifiBackend::Shared {
    Options options;
    std::atomic<WifiPermission> permission{WifiPermission::notDetermined};
};

NetworkManagerWifiBackend::NetworkManagerWifiBackend() : NetworkManagerWifiBackend(Options{}) {}

NetworkManagerWifiBackend::NetworkManagerWifiBackend(Options options) : m_shared(std::make_shared<Shared>()) {
    m_shared->options = std::move(options);
}

NetworkManagerWifiBackend::~NetworkManagerWifiBackend() = default;

WifiPermission NetworkManagerWifiBackend::permissionStatus() { return m_shared->permission.load(); }

void NetworkManagerWifiBackend::requestPermission(std::shared_ptr<const CancellationToken> stop,
                                                  std::function<void(WifiPermission)> answer) {
    launchWorker([shared = m_shared, stop = std::move(stop), answer = std::move(answer)] {
        const WifiPermission status = askScanPermission(shared->options, *stop);
        // The agent may keep an authentication for a while: "auth" is asked again at the next join,
        // and so is a NetworkManager that did not answer.
        if (status != WifiPermission::askOnUse && status != WifiPermission::noAnswer) shared->permission.store(status);
        postToGui([answer, status] { answer(status); });
    });
}

WifiInterface NetworkManagerWifiBackend::interface(const CancellationToken& stop) {
    NetworkManagerSession nm(m_shared->options, stop);
    const auto devices = nm.paths(kManagerPath, kManagerInterface, "GetDevices");
    if (!devices) return {};
    // "None" only when every device answered and none is Wi-Fi.
    bool everyDeviceAnswered = true;
    for (const std::string& device : *devices) {
        const auto type = nm.property(device, kDeviceInterface, "DeviceType");
        if (!type) everyDeviceAnswered = false;
        if (type && system_bus::valueAs<std::uint64_t>(*type) == kDeviceTypeWifi) return WifiInterface::found(device);
    }
    return {everyDeviceAnswered ? WifiInterface::Status::none : WifiInterface::Status::noAnswer, {}};
}

std::vector<WifiSecurity> NetworkManagerWifiBackend::securities(std::uint32_t flags, std::uint32_t wpaFlags,
                                                                std::uint32_t rsnFlags) {
    if (wpaFlags == 0 && rsnFlags == 0) {
        if (flags & kApFlagPrivacy) return {WifiSecurity::wep};
        return {WifiSecurity::none};
    }
    std::vector<WifiSecurity> offered;
    if (wpaFlags & kSecKeyMgmtPSK) offered.push_back(WifiSecurity::wpaPersonal);
    if (rsnFlags & kSecKeyMgmtPSK) offered.push_back(WifiSecurity::wpa2Personal);
    if (rsnFlags & kSecKeyMgmtSAE) offered.push_back(WifiSecurity::wpa3Personal);
    if ((rsnFlags & kSecKeyMgmtPSK) && (rsnFlags & kSecKeyMgmtSAE)) offered.push_back(WifiSecurity::wpa3Transition);
    if (wpaFlags & kSecKeyMgmt8021X) offered.push_back(WifiSecurity::wpaEnterprise);
    if (rsnFlags & kSecKeyMgmt8021X) offered.push_back(WifiSecurity::wpa2Enterprise);
    if (rsnFlags & kSecKeyMgmtSuiteB192) offered.push_back(WifiSecurity::wpa3Enterprise);
    if (rsnFlags & kSecKeyMgmtOWE) offered.push_back(WifiSecurity::owe);
    if (rsnFlags & kSecKeyMgmtOWETransition) offered.push_back(WifiSecurity::oweTransition);
    return offered;
}

std::optional<std::vector<WifiNetwork>> NetworkManagerWifiBackend::scan(const std::string& interface,
                                                                       const std::vector<std::uint8_t>& ssid,
                                                                       const CancellationToken& stop) {
    const Shared& shared = *m_shared;
    NetworkManagerSession nm(shared.options, stop);
    const auto lastScan = [&] { return nm.property(interface, kWirelessInterface, "LastScan"); };
    const auto before = lastScan();

    // RequestScan({"ssids": [ssid]}).
    system_bus::Message request = nm.message(interface, kWirelessInterface, "RequestScan");
    sd_bus_message* m = request.get();
    const bool written = m && sd_bus_message_open_container(m, 'a', "{sv}") >= 0 &&
                         sd_bus_message_open_container(m, 'e', "sv") >= 0 &&
                         sd_bus_message_append_basic(m, 's', "ssids") >= 0 &&
                         sd_bus_message_open_container(m, 'v', "aay") >= 0 &&
                         sd_bus_message_open_container(m, 'a', "ay") >= 0 &&
                         sd_bus_message_append_array(m, 'y', ssid.data(), ssid.size()) >= 0 &&
                         sd_bus_message_close_container(m) >= 0 && sd_bus_message_close_container(m) >= 0 &&
                         sd_bus_message_close_container(m) >= 0 && sd_bus_message_close_container(m) >= 0;
    if (!written || !nm.call(request)) return std::nullopt;

    // A daemon without LastScan gives no sign of the scan's end; its current list is all there is.
    if (before) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(shared.options.scanWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto now = lastScan();
            if (now && *now != *before) break;
            if (!nm.pause()) return std::nullopt;
        }
    }

    const auto accessPoints = nm.paths(interface, kWirelessInterface, "GetAllAccessPoints");
    if (!accessPoints) return std::nullopt;
    std::vector<WifiNetwork> networks;
    for (const std::string& accessPoint : *accessPoints) {
        const auto properties = nm.properties(accessPoint, kAccessPointInterface);
        if (!properties) continue; // gone between the list and the read
        const auto property = [&](const char* name) { return system_bus::propertyOf(*properties, name); };
        WifiNetwork network;
        const system_bus::Value name = property("Ssid");
        if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&name)) network.ssid = *bytes;
        network.securities = securities(static_cast<std::uint32_t>(system_bus::valueAs<std::uint64_t>(property("Flags"))),
                                        static_cast<std::uint32_t>(system_bus::valueAs<std::uint64_t>(property("WpaFlags"))),
                                        static_cast<std::uint32_t>(system_bus::valueAs<std::uint64_t>(property("RsnFlags"))));
        network.signal = static_cast<int>(system_bus::valueAs<std::uint64_t>(property("Strength")));
        network.id = accessPoint;
        networks.push_back(std::move(network));
    }
    return networks;
}

bool NetworkManagerWifiBackend::associate(const std::string& interface, const WifiNetwork& network,
                                          const std::optional<std::string>& password, const CancellationToken& stop) {
    const Shared& shared = *m_shared;
    NetworkManagerSession nm(shared.options, stop);
    const std::vector<std::uint8_t> ssid = network.ssid.value_or(std::vector<std::uint8_t>{});
    system_bus::Message request = nm.message(kManagerPath, kManagerInterface, "AddAndActivateConnection2");
    sd_bus_message* m = request.get();
    const bool offersPSK =
        network.supportsSecurity(WifiSecurity::wpaPersonal) || network.supportsSecurity(WifiSecurity::wpa2Personal);
    const bool settingsWritten =
        m && sd_bus_message_open_container(m, 'a', "{sa{sv}}") >= 0 &&
        appendSettingsGroup(m, "connection",
                            [&] {
                                return appendSetting(m, "type", std::string("802-11-wireless")) &&
                                       appendSetting(m, "id", std::string(ssid.begin(), ssid.end())) &&
                                       appendSetting(m, "uuid", QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString()) &&
                                       appendSetting(m, "autoconnect", false);
                            }) &&
        appendSettingsGroup(m, "802-11-wireless",
                            [&] { return appendSetting(m, "ssid", ssid) && appendSetting(m, "mode", std::string("infrastructure")); }) &&
        (!password || appendSettingsGroup(m, "802-11-wireless-security", [&] {
             return appendSetting(m, "key-mgmt", std::string(offersPSK ? "wpa-psk" : "sae")) &&
                    appendSetting(m, "psk", *password);
         })) &&
        sd_bus_message_close_container(m) >= 0;
    // Volatile: kept in memory only and dropped once it deactivates, so the password is never stored.
    const bool written = settingsWritten &&
                         sd_bus_message_append(m, "oo", interface.c_str(), network.id.c_str()) >= 0 &&
                         sd_bus_message_open_container(m, 'a', "{sv}") >= 0 &&
                         appendSetting(m, "persist", std::string("volatile")) && sd_bus_message_close_container(m) >= 0;
    if (!written) return false;
    const system_bus::Message reply = nm.call(request);
    const char* connectionPath = nullptr;
    const char* activePath = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "oo", &connectionPath, &activePath) < 0) return false;
    const std::string connection = connectionPath;
    const std::string active = activePath;

    bool activated = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(shared.options.activationWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto state = nm.property(active, kActiveInterface, "State");
        if (!state) break; // the activation object is gone: it failed
        const std::uint64_t value = system_bus::valueAs<std::uint64_t>(*state);
        if (value == kActiveStateActivated) {
            activated = true;
            break;
        }
        if (value == kActiveStateDeactivating || value == kActiveStateDeactivated) break;
        if (!nm.pause()) break;
    }
    // Not asked of a cancelled join, whose activation runs its course.
    if (!activated) nm.call(connection, kConnectionInterface, "Delete");
    return activated;
}

} // namespace velk
