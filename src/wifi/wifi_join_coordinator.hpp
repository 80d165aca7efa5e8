#pragma once
// Joins this computer to the network of a decoded Wi-Fi QR code after the user confirmed it: the
// scan permission, the change gate (asked before the join and twice while it runs), the join itself
// on a worker, cancellation when the sheet closes or the application quits (after which the system
// is asked nothing more and no result is told), and the working flag and status sentence the
// sheet shows. Both change only on the GUI thread; the flag is set as soon as a join goes ahead,
// while the permission is still being asked. A NetworkManager that does not answer ends the join as
// `failed`.

#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "base/cancellation.hpp"
#include "wifi/wifi_backend.hpp"
#include "wifi/wifi_change_gate.hpp"
#include "wifi/wifi_qr_codec.hpp"

namespace velk {

// One confirmed join, shared by the coordinator and the worker; cancelled only goes false → true:
// when the sheet closes, or when the application quits.
class WiFiJoinAttempt final {
public:
    explicit WiFiJoinAttempt(std::shared_ptr<const CancellationToken> quitting = nullptr)
        : m_cancellation(std::make_shared<CancellationToken>(std::move(quitting))) {}

    void cancel() { m_cancellation->cancel(); }
    bool isCancelled() const { return m_cancellation->isCancelled(); }
    // What every step of the join stops at.
    std::shared_ptr<const CancellationToken> cancellation() const { return m_cancellation; }

private:
    const std::shared_ptr<CancellationToken> m_cancellation;
};

enum class WiFiJoinResult { joined, blocked, unavailable, networkNotFound, securityMismatch, failed };

namespace WiFiJoin {

std::string sentence(WiFiJoinResult result, const std::string& ssid);
// The join as the worker runs it; touches nothing but its arguments.
WiFiJoinResult joinSynchronously(const WiFiNetworkDetails& details, const WiFiChangeGate& gate,
                                 const WiFiJoinAttempt& attempt, WifiBackend& backend);

} // namespace WiFiJoin

// Owned through a shared_ptr (the sheet's): a running join holds its coordinator until the join's
// result is published, even when the sheet has gone by then. A coordinator owned otherwise drops
// the result of a join that ends after it.
class WiFiJoinCoordinator final : public QObject, public std::enable_shared_from_this<WiFiJoinCoordinator> {
    Q_OBJECT
    Q_PROPERTY(bool isWorking READ isWorking NOTIFY isWorkingChanged)
    Q_PROPERTY(std::string message READ message NOTIFY messageChanged)

public:
    // Null backend: NetworkManager on the system bus. Every join is cancelled once `quitting` is.
    explicit WiFiJoinCoordinator(std::shared_ptr<WifiBackend> backend = nullptr,
                                 std::shared_ptr<const CancellationToken> quitting = nullptr, QObject* parent = nullptr);
    ~WiFiJoinCoordinator() override;

    bool isWorking() const { return m_isWorking; }
    const std::string& message() const { return m_message; }

    void join(const WiFiNetworkDetails& details, std::shared_ptr<WiFiChangeGate> gate);
    void cancelPending();

Q_SIGNALS:
    void isWorkingChanged(bool isWorking);
    void messageChanged(const std::string& message);

private:
    struct Pending {
        WiFiNetworkDetails details;
        std::shared_ptr<WiFiChangeGate> gate;
        std::shared_ptr<WiFiJoinAttempt> attempt;
    };

    void permissionAnswered(WifiPermission status);
    void startWith(WifiPermission status);
    void endBeforeStarting(std::string message);
    void beginJoin(const WiFiNetworkDetails& details, std::shared_ptr<WiFiChangeGate> gate,
                   std::shared_ptr<WiFiJoinAttempt> attempt, bool systemWillAsk);
    void publish(WiFiJoinResult result, const WiFiJoinAttempt& attempt, const std::string& ssid);
    void setIsWorking(bool isWorking);
    void setMessage(std::string message);

    std::shared_ptr<WifiBackend> m_backend;
    std::shared_ptr<const CancellationToken> m_quitting;
    bool m_isWorking = false;
    std::string m_message;
    std::optional<Pending> m_pending;
    std::shared_ptr<WiFiJoinAttempt> m_activeAttempt;
    // Set while a join runs, for a coordinator owned through a shared_ptr.
    std::shared_ptr<WiFiJoinCoordinator> m_keepAlive;
};

} // namespace velk
