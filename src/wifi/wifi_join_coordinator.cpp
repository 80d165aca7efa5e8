#include "wifi/wifi_join_coordinator.hpp"

#include <algorithm>
#include <array>

#include <QPointer>

#include "base/executor.hpp"
#include "wifi/network_manager_wifi_backend.hpp"

namespace velk {

namespace {

constexpr const char* kPausedMessage =
    "Wi-Fi changes are paused while recording, camera preparation, or a project operation is active.";
constexpr const char* kBlockedMessage =
    "Wi-Fi was not changed because recording, camera preparation, or a project operation became active.";
constexpr const char* kPermissionDeniedMessage =
    "Automatic joining is unavailable without NetworkManager Wi-Fi scan permission. Open Wi-Fi Settings and use "
    "the decoded details.";
constexpr const char* kPermissionUnknownMessage =
    "Automatic joining is unavailable. Open Wi-Fi Settings and use the decoded details.";
// Added to the start sentence only when NetworkManager answered that it will ask the user.
constexpr const char* kPermissionPromptMessage =
    "NetworkManager will ask for permission because it protects Wi-Fi scanning.";

std::vector<WifiSecurity> acceptedSecurities(WiFiNetworkDetails::Security security) {
    switch (security) {
    case WiFiNetworkDetails::Security::wpa:
        return {WifiSecurity::wpaPersonal, WifiSecurity::wpaPersonalMixed, WifiSecurity::wpa2Personal,
                WifiSecurity::personal, WifiSecurity::wpa3Transition};
    case WiFiNetworkDetails::Security::sae:
        return {WifiSecurity::wpa3Personal, WifiSecurity::wpa3Transition};
    case WiFiNetworkDetails::Security::open:
        return {WifiSecurity::none};
    }
    return {};
}

std::string startSentence(const std::string& ssid) {
    return "Asking NetworkManager to find and join " + ssid + "\u2026";
}

bool mayProceed(const WiFiChangeGate& gate, const WiFiJoinAttempt& attempt) {
    return !attempt.isCancelled() && gate.allowsChange();
}

} // namespace

bool WifiNetwork::supportsSecurity(WifiSecurity security) const {
    return std::find(securities.begin(), securities.end(), security) != securities.end();
}

namespace WiFiJoin {

std::string sentence(WiFiJoinResult result, const std::string& ssid) {
    switch (result) {
    case WiFiJoinResult::joined:
        return "Joined " + ssid + ". NetworkManager now controls this Wi-Fi connection.";
    case WiFiJoinResult::blocked:
        return kBlockedMessage;
    case WiFiJoinResult::unavailable:
        return "No usable Wi-Fi interface is available. Open Wi-Fi Settings for system options.";
    case WiFiJoinResult::networkNotFound:
        return "That network was not found. Hidden networks and disabled Wi-Fi may require Wi-Fi Settings.";
    case WiFiJoinResult::securityMismatch:
        return "The visible network does not match the QR security type. Nothing was changed.";
    case WiFiJoinResult::failed:
        return "NetworkManager could not join automatically. Open Wi-Fi Settings and use the decoded details.";
    }
    return {};
}

WiFiJoinResult joinSynchronously(const WiFiNetworkDetails& details, const WiFiChangeGate& gate,
                                 const WiFiJoinAttempt& attempt, WifiBackend& backend) {
    if (!mayProceed(gate, attempt)) return WiFiJoinResult::blocked;

    const std::shared_ptr<const CancellationToken> stop = attempt.cancellation();
    const WifiInterface found = backend.interface(*stop);
    // A system that did not answer may well have Wi-Fi: that is a failed join, not a missing interface.
    if (found.status == WifiInterface::Status::noAnswer) return WiFiJoinResult::failed;
    if (found.status == WifiInterface::Status::none) return WiFiJoinResult::unavailable;
    const std::string& interface = found.name;

    const std::vector<std::uint8_t> target(details.ssid.begin(), details.ssid.end());
    const auto scanned = backend.scan(interface, target, *stop);
    if (!scanned) return WiFiJoinResult::failed;

    std::vector<const WifiNetwork*> named;
    for (const auto& network : *scanned) {
        if (network.ssid && *network.ssid == target) named.push_back(&network);
    }
    if (named.empty()) return WiFiJoinResult::networkNotFound;

    const auto accepted = acceptedSecurities(details.security);
    const WifiNetwork* choice = nullptr;
    for (const WifiNetwork* network : named) {
        const bool fits = std::any_of(accepted.begin(), accepted.end(),
                                      [&](WifiSecurity security) { return network->supportsSecurity(security); });
        if (fits && (choice == nullptr || network->signal > choice->signal)) choice = network;
    }
    if (choice == nullptr) return WiFiJoinResult::securityMismatch;

    if (!mayProceed(gate, attempt)) return WiFiJoinResult::blocked;

    std::optional<std::string> password;
    if (details.security != WiFiNetworkDetails::Security::open) password = details.password;
    return backend.associate(interface, *choice, password, *stop) ? WiFiJoinResult::joined : WiFiJoinResult::failed;
}

} // namespace WiFiJoin

WiFiJoinCoordinator::WiFiJoinCoordinator(std::shared_ptr<WifiBackend> backend,
                                         std::shared_ptr<const CancellationToken> quitting, QObject* parent)
    : QObject(parent),
      m_backend(backend ? std::move(backend) : std::make_shared<NetworkManagerWifiBackend>()),
      m_quitting(std::move(quitting)) {}

WiFiJoinCoordinator::~WiFiJoinCoordinator() = default;

void WiFiJoinCoordinator::join(const WiFiNetworkDetails& details, std::shared_ptr<WiFiChangeGate> gate) {
    if (m_isWorking) return;
    if (!gate || !gate->allowsChange()) {
        setMessage(kPausedMessage);
        return;
    }
    m_pending = Pending{details, std::move(gate), std::make_shared<WiFiJoinAttempt>(m_quitting)};

    const WifiPermission status = m_backend->permissionStatus();
    if (status != WifiPermission::notDetermined) {
        startWith(status);
        return;
    }
    // The question shows the user nothing of its own and may take as long as NetworkManager's
    // answer does, so the join's progress shows from now on; a sentence about permission appears
    // only when the system will ask.
    setIsWorking(true);
    setMessage(startSentence(m_pending->details.ssid));
    QPointer<WiFiJoinCoordinator> self(this);
    m_backend->requestPermission(m_pending->attempt->cancellation(), [self](WifiPermission answer) {
        if (self) self->permissionAnswered(answer);
    });
}

void WiFiJoinCoordinator::permissionAnswered(WifiPermission status) {
    if (!m_pending || status == WifiPermission::notDetermined) return;
    // Cancelled by the application quitting, the join ends as one the sheet cancelled: silently.
    if (m_pending->attempt->isCancelled()) return cancelPending();
    startWith(status);
}

void WiFiJoinCoordinator::startWith(WifiPermission status) {
    switch (status) {
    case WifiPermission::restricted:
    case WifiPermission::denied:
        return endBeforeStarting(kPermissionDeniedMessage);
    case WifiPermission::noAnswer:
        return endBeforeStarting(WiFiJoin::sentence(WiFiJoinResult::failed, m_pending->details.ssid));
    case WifiPermission::authorized:
    case WifiPermission::askOnUse: {
        Pending pending = std::move(*m_pending);
        beginJoin(pending.details, std::move(pending.gate), std::move(pending.attempt),
                  status == WifiPermission::askOnUse);
        break;
    }
    case WifiPermission::notDetermined:
        break;
    case WifiPermission::other:
        return endBeforeStarting(kPermissionUnknownMessage);
    }
}

// Every end before the worker starts ends the progress the permission question showed.
void WiFiJoinCoordinator::endBeforeStarting(std::string message) {
    m_pending.reset();
    setIsWorking(false);
    setMessage(std::move(message));
}

void WiFiJoinCoordinator::beginJoin(const WiFiNetworkDetails& details, std::shared_ptr<WiFiChangeGate> gate,
                                    std::shared_ptr<WiFiJoinAttempt> attempt, bool systemWillAsk) {
    m_pending.reset();
    if (!mayProceed(*gate, *attempt)) {
        setIsWorking(false);
        setMessage(kBlockedMessage);
        return;
    }
    m_activeAttempt = attempt;
    m_keepAlive = weak_from_this().lock();
    setIsWorking(true);
    std::string started = startSentence(details.ssid);
    if (systemWillAsk) started += std::string(" ") + kPermissionPromptMessage;
    setMessage(std::move(started));

    // The worker holds the backend, a copy of the details, the gate and the attempt, nothing else.
    runThenCallback(
        this,
        [backend = m_backend, details, gate, attempt] {
            try {
                return WiFiJoin::joinSynchronously(details, *gate, *attempt, *backend);
            } catch (...) {
                return WiFiJoinResult::failed;
            }
        },
        [this, attempt, ssid = details.ssid](WiFiJoinResult result) { publish(result, *attempt, ssid); });
}

void WiFiJoinCoordinator::publish(WiFiJoinResult result, const WiFiJoinAttempt& attempt, const std::string& ssid) {
    // Released when this ends: the coordinator may go with it, once nothing of it is used any more.
    const std::shared_ptr<WiFiJoinCoordinator> keepAlive = std::move(m_keepAlive);
    m_activeAttempt.reset();
    setIsWorking(false);
    if (attempt.isCancelled()) return;
    setMessage(WiFiJoin::sentence(result, ssid));
}

void WiFiJoinCoordinator::cancelPending() {
    if (m_pending) m_pending->attempt->cancel();
    if (m_activeAttempt) m_activeAttempt->cancel();
    m_pending.reset();
    // A join still waiting for the permission answer has nothing left to wait for; a running one
    // ends when its worker does.
    if (!m_activeAttempt) setIsWorking(false);
}

void WiFiJoinCoordinator::setIsWorking(bool isWorking) {
    if (m_isWorking == isWorking) return;
    m_isWorking = isWorking;
    Q_EMIT isWorkingChanged(isWorking);
}

void WiFiJoinCoordinator::setMessage(std::string message) {
    m_message = std::move(message);
    Q_EMIT messageChanged(m_message);
}

} // namespace velk
