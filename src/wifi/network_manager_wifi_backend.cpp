#include "wifi/network_manager_wifi_backend.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QUuid>

#include "base/executor.hpp"

using NMConnectionSettings = QMap<QString, QVariantMap>;

namespace velk {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kDeviceInterface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kWirelessInterface = QStringLiteral("org.freedesktop.NetworkManager.Device.Wireless");
const QString kAccessPointInterface = QStringLiteral("org.freedesktop.NetworkManager.AccessPoint");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kConnectionInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kScanPermission = QStringLiteral("org.freedesktop.NetworkManager.wifi.scan");

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
// A reply is looked for after 1 ms, then after twice as long each time, up to this.
constexpr int kLongestReplyStepMs = 50;

void registerTypes() {
    static std::once_flag once;
    std::call_once(once, [] { qDBusRegisterMetaType<NMConnectionSettings>(); });
}

} // namespace

struct NetworkManagerWifiBackend::Shared {
    Options options;
    QString connectionName = QStringLiteral("velk-network-manager-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::atomic<WifiPermission> permission{WifiPermission::notDetermined};
    std::mutex connectLock;
    bool connected = false;

    ~Shared() {
        if (connected && options.busAddress) QDBusConnection::disconnectFromBus(connectionName);
    }

    QDBusConnection bus() {
        if (!options.busAddress) return QDBusConnection::systemBus();
        std::lock_guard guard(connectLock);
        connected = true;
        return QDBusConnection::connectToBus(*options.busAddress, connectionName);
    }

    bool cancelled() const { return options.cancellation && options.cancellation->isCancelled(); }

    // Waits `ms`; false, at once, when cancelled before or during the wait.
    bool wait(int ms) const {
        if (!options.cancellation) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return true;
        }
        return options.cancellation->waitFor(static_cast<std::uint64_t>(ms) * 1'000'000u);
    }

    bool pause() const { return wait(options.pollIntervalMs); }

    static QDBusMessage methodCall(const QString& path, const QString& interface, const QString& method,
                                   const QList<QVariant>& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(arguments);
        return message;
    }

    // The reply's arguments; none for an error, a time-out or a cancellation, which ends the wait at
    // once. The bus's own thread receives the reply; this thread only looks for it.
    std::optional<QList<QVariant>> call(const QString& path, const QString& interface, const QString& method,
                                        const QList<QVariant>& arguments = {}) {
        if (cancelled()) return std::nullopt;
        QDBusPendingCall pending = bus().asyncCall(methodCall(path, interface, method, arguments), options.callTimeoutMs);
        for (int stepMs = 1; !pending.isFinished(); stepMs = std::min(2 * stepMs, kLongestReplyStepMs)) {
            if (!wait(stepMs)) return std::nullopt;
        }
        const QDBusMessage reply = pending.reply();
        if (reply.type() != QDBusMessage::ReplyMessage) return std::nullopt;
        return reply.arguments();
    }

    // Sends without waiting for the reply.
    void send(const QString& path, const QString& interface, const QString& method) {
        bus().send(methodCall(path, interface, method, {}));
    }

    std::optional<QVariant> property(const QString& path, const QString& interface, const QString& name) {
        const auto reply = call(path, kPropertiesInterface, QStringLiteral("Get"), {interface, name});
        if (!reply || reply->isEmpty()) return std::nullopt;
        return qdbus_cast<QDBusVariant>(reply->at(0)).variant();
    }

    std::optional<QVariantMap> properties(const QString& path, const QString& interface) {
        const auto reply = call(path, kPropertiesInterface, QStringLiteral("GetAll"), {interface});
        if (!reply || reply->isEmpty()) return std::nullopt;
        return qdbus_cast<QVariantMap>(reply->at(0));
    }

    std::optional<QList<QDBusObjectPath>> paths(const QString& path, const QString& interface, const QString& method) {
        const auto reply = call(path, interface, method);
        if (!reply || reply->isEmpty()) return std::nullopt;
        return qdbus_cast<QList<QDBusObjectPath>>(reply->at(0));
    }

    WifiPermission askPermission() {
        const auto reply = call(kManagerPath, kManagerInterface, QStringLiteral("GetPermissions"));
        // Without an answer there is nothing that forbids scanning; the join itself reports what fails.
        if (!reply || reply->isEmpty()) return WifiPermission::authorized;
        const QString scan = qdbus_cast<QMap<QString, QString>>(reply->at(0)).value(kScanPermission);
        if (scan == QStringLiteral("no")) return WifiPermission::denied;
        // "auth": NetworkManager's authentication agent asks the user when the join scans.
        if (scan == QStringLiteral("auth")) return WifiPermission::askOnUse;
        return WifiPermission::authorized;
    }
};

NetworkManagerWifiBackend::NetworkManagerWifiBackend() : NetworkManagerWifiBackend(Options{}) {}

NetworkManagerWifiBackend::NetworkManagerWifiBackend(Options options) : m_shared(std::make_shared<Shared>()) {
    m_shared->options = std::move(options);
    registerTypes();
}

NetworkManagerWifiBackend::~NetworkManagerWifiBackend() = default;

WifiPermission NetworkManagerWifiBackend::permissionStatus() { return m_shared->permission.load(); }

void NetworkManagerWifiBackend::requestPermission(std::function<void(WifiPermission)> answer) {
    launchWorker([shared = m_shared, answer = std::move(answer)] {
        const WifiPermission status = shared->askPermission();
        // The agent may keep an authentication for a while: "auth" is asked again at the next join.
        if (status != WifiPermission::askOnUse) shared->permission.store(status);
        postToGui([answer, status] { answer(status); });
    });
}

std::optional<std::string> NetworkManagerWifiBackend::interface() {
    const auto devices = m_shared->paths(kManagerPath, kManagerInterface, QStringLiteral("GetDevices"));
    if (!devices) return std::nullopt;
    for (const auto& device : *devices) {
        const auto type = m_shared->property(device.path(), kDeviceInterface, QStringLiteral("DeviceType"));
        if (type && type->toUInt() == kDeviceTypeWifi) return device.path().toStdString();
    }
    return std::nullopt;
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
                                                                       const std::vector<std::uint8_t>& ssid) {
    Shared& nm = *m_shared;
    const QString device = QString::fromStdString(interface);
    const auto lastScan = [&] { return nm.property(device, kWirelessInterface, QStringLiteral("LastScan")); };
    const auto before = lastScan();

    QDBusArgument ssids;
    ssids.beginArray(QMetaType::fromType<QByteArray>());
    ssids << QByteArray(reinterpret_cast<const char*>(ssid.data()), static_cast<qsizetype>(ssid.size()));
    ssids.endArray();
    const QVariantMap options{{QStringLiteral("ssids"), QVariant::fromValue(ssids)}};
    if (!nm.call(device, kWirelessInterface, QStringLiteral("RequestScan"), {options})) return std::nullopt;

    // A daemon without LastScan gives no sign of the scan's end; its current list is all there is.
    if (before) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nm.options.scanWaitMs);
        while (std::chrono::steady_clock::now() < deadline) {
            const auto now = lastScan();
            if (now && now->toLongLong() != before->toLongLong()) break;
            if (!nm.pause()) return std::nullopt;
        }
    }

    const auto accessPoints = nm.paths(device, kWirelessInterface, QStringLiteral("GetAllAccessPoints"));
    if (!accessPoints) return std::nullopt;
    std::vector<WifiNetwork> networks;
    for (const auto& accessPoint : *accessPoints) {
        const auto properties = nm.properties(accessPoint.path(), kAccessPointInterface);
        if (!properties) continue; // gone between the list and the read
        WifiNetwork network;
        const QVariant name = properties->value(QStringLiteral("Ssid"));
        if (name.isValid()) {
            const QByteArray bytes = name.metaType() == QMetaType::fromType<QDBusArgument>()
                                         ? qdbus_cast<QByteArray>(name)
                                         : name.toByteArray();
            network.ssid = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
        }
        network.securities = securities(properties->value(QStringLiteral("Flags")).toUInt(),
                                        properties->value(QStringLiteral("WpaFlags")).toUInt(),
                                        properties->value(QStringLiteral("RsnFlags")).toUInt());
        network.signal = static_cast<int>(properties->value(QStringLiteral("Strength")).toUInt());
        network.id = accessPoint.path().toStdString();
        networks.push_back(std::move(network));
    }
    return networks;
}

bool NetworkManagerWifiBackend::associate(const std::string& interface, const WifiNetwork& network,
                                          const std::optional<std::string>& password) {
    Shared& nm = *m_shared;
    const QByteArray ssid = network.ssid ? QByteArray(reinterpret_cast<const char*>(network.ssid->data()),
                                                      static_cast<qsizetype>(network.ssid->size()))
                                         : QByteArray();
    NMConnectionSettings settings;
    settings[QStringLiteral("connection")] = QVariantMap{
        {QStringLiteral("type"), QStringLiteral("802-11-wireless")},
        {QStringLiteral("id"), QString::fromUtf8(ssid)},
        {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("autoconnect"), false},
    };
    settings[QStringLiteral("802-11-wireless")] = QVariantMap{
        {QStringLiteral("ssid"), ssid},
        {QStringLiteral("mode"), QStringLiteral("infrastructure")},
    };
    if (password) {
        const bool offersPSK = network.supportsSecurity(WifiSecurity::wpaPersonal) ||
                               network.supportsSecurity(WifiSecurity::wpa2Personal);
        settings[QStringLiteral("802-11-wireless-security")] = QVariantMap{
            {QStringLiteral("key-mgmt"), offersPSK ? QStringLiteral("wpa-psk") : QStringLiteral("sae")},
            {QStringLiteral("psk"), QString::fromStdString(*password)},
        };
    }
    // Volatile: kept in memory only and dropped once it deactivates, so the password is never stored.
    const QVariantMap options{{QStringLiteral("persist"), QStringLiteral("volatile")}};
    const auto reply = nm.call(kManagerPath, kManagerInterface, QStringLiteral("AddAndActivateConnection2"),
                               {QVariant::fromValue(settings),
                                QVariant::fromValue(QDBusObjectPath(QString::fromStdString(interface))),
                                QVariant::fromValue(QDBusObjectPath(QString::fromStdString(network.id))), options});
    if (!reply || reply->size() < 2) return false;
    const QString connection = qdbus_cast<QDBusObjectPath>(reply->at(0)).path();
    const QString active = qdbus_cast<QDBusObjectPath>(reply->at(1)).path();

    bool activated = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nm.options.activationWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto state = nm.property(active, kActiveInterface, QStringLiteral("State"));
        if (!state) break; // the activation object is gone: it failed
        const std::uint32_t value = state->toUInt();
        if (value == kActiveStateActivated) {
            activated = true;
            break;
        }
        if (value == kActiveStateDeactivating || value == kActiveStateDeactivated) break;
        if (!nm.pause()) break;
    }
    if (!activated) {
        // Quitting does not wait for the removal, but still asks for it.
        if (nm.cancelled()) {
            nm.send(connection, kConnectionInterface, QStringLiteral("Delete"));
        } else {
            nm.call(connection, kConnectionInterface, QStringLiteral("Delete"));
        }
    }
    return activated;
}

} // namespace velk
