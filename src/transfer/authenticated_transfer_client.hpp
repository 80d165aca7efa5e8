#pragma once
// One transfer session with one source, shared by every request and download job of that source.
// It comes from a pairing (code and confirmed fingerprint, bearer token) or from an open
// connection (no token), pins the advertised certificate, and talks only to the catalog's origin
// over one connection. Nothing in it changes after it is made; requests may come from any thread.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"
#include "base/sha256.hpp"
#include "model/discovered_device.hpp"
#include "model/progress.hpp"
#include "transfer/https_session.hpp"
#include "transfer/transfer_read_retry.hpp"

namespace velk {

// What a client needs from outside: the wall clock for expiry, the HTTPS session it talks through
// and the sleeper of its read retries. The defaults are the real ones.
struct TransferClientEnvironment {
    const Clock* clock = &SystemClock::shared();
    HttpsSessionFactory makeSession;
    TransferReadRetry::Sleeper sleeper = TransferReadRetry::realSleep;
    // The IPv4 address DNS-SD resolved for a source's advertised host, when known; the pinned
    // session connects there and keeps the host name in its URLs. Must not block.
    std::function<std::optional<std::string>(const DiscoveredDevice&)> addressOf;
};

class AuthenticatedTransferClient final {
public:
    static constexpr double pairingExpiryAllowanceSeconds = 930;
    static constexpr std::size_t maximumCatalogBytes = 64u * 1024u * 1024u;
    static constexpr std::size_t maximumTimingSidecarBytes = 8'388'608;
    static constexpr std::size_t maximumReplyBytes = 1'048'576;
    static constexpr std::size_t maximumProjectProofBytes = 1'048'576;
    static constexpr std::size_t maximumProjectProofEntries = 10'000;

    // Throws TransferProtocolError, HttpsTransportError (unchanged) or JsonError for a reply that
    // does not decode.
    static std::shared_ptr<AuthenticatedTransferClient> pair(const DiscoveredDevice& device, std::string_view pairingCode,
                                                             std::string_view collectorId, std::string_view collectorName,
                                                             bool fingerprintConfirmed,
                                                             TransferClientEnvironment environment = {},
                                                             const CancellationToken* cancellation = nullptr);
    // Made locally from the advertisement; nothing is sent.
    static std::shared_ptr<AuthenticatedTransferClient> connectOpen(const DiscoveredDevice& device,
                                                                    TransferClientEnvironment environment = {});

    AuthenticatedTransferClient(const AuthenticatedTransferClient&) = delete;
    AuthenticatedTransferClient& operator=(const AuthenticatedTransferClient&) = delete;
    ~AuthenticatedTransferClient();

    const std::string& deviceId() const { return m_deviceId; }
    const std::string& deviceName() const { return m_deviceName; }
    const std::string& sessionId() const { return m_sessionId; }
    WallTime expiresAt() const { return m_expiresAt; }
    const std::string& fingerprint() const { return m_fingerprint; }
    const std::string& catalogURL() const { return m_catalogURL; }
    bool supportsProjectTrash() const { return m_supportsProjectTrash; }

    bool openAccess() const { return m_bearerToken.empty(); }
    bool isExpired() const;
    TransferSessionSummary summary() const;

    // Cancels the request under way and every later one.
    void invalidate();

    // The catalog body, undecoded. Sent once.
    Bytes fetchCatalog(const CancellationToken* cancellation = nullptr);
    // Exactly the bytes start...end (inclusive) of a clip file whose identity headers match the catalog.
    Bytes fetchRange(std::string_view url, std::int64_t start, std::int64_t end, std::int64_t expectedTotal,
                     std::string_view expectedSHA256, const CancellationToken* cancellation = nullptr);
    Bytes fetchTimingSidecar(std::string_view clipID, std::string_view url, std::string_view sha256,
                             const CancellationToken* cancellation = nullptr);
    // Ends the session on the source; true when it confirmed. The client is dead afterwards.
    bool end();
    // Returns only when the source confirmed that the project went to its recoverable Trash.
    void trashSourceProject(std::string_view projectID, std::string_view requestID,
                            const std::vector<std::map<std::string, std::string>>& clips);

private:
    struct Fields {
        std::string deviceId;
        std::string deviceName;
        std::string sessionId;
        WallTime expiresAt;
        std::string fingerprint;
        std::string catalogURL;
        std::string bearerToken;
        bool supportsProjectTrash = false;
    };
    AuthenticatedTransferClient(Fields fields, std::unique_ptr<HttpsSession> session, TransferClientEnvironment environment);

    HttpsRequest authorizedRequest(std::string_view url) const;

    const std::string m_deviceId;
    const std::string m_deviceName;
    const std::string m_sessionId;
    const WallTime m_expiresAt;
    const std::string m_fingerprint;
    const std::string m_catalogURL;
    const std::string m_bearerToken;
    const bool m_supportsProjectTrash;
    const TransferClientEnvironment m_environment;
    const std::unique_ptr<HttpsSession> m_session;
};

} // namespace velk
