#pragma once
// Asking a camera to switch to Transfer Mode: the request datagram, the camera's replies and the
// state the Library window shows.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/json.hpp"

namespace velk {

struct TransferModeRequestState {
    std::string requestID;
    std::string cameraID;
    std::string cameraName;
    std::string message;
    bool isFailure = false;
    bool operator==(const TransferModeRequestState&) const = default;
};

struct PendingTransferRequest {
    std::string cameraID;
    std::string cameraName;
    std::string host;
    std::string collectorID;
    bool operator==(const PendingTransferRequest&) const = default;
};

struct TransferModeResponse {
    std::string sender;
    Json payload;
};

namespace TransferModeText {
std::string requestSent(const std::string& cameraName);
std::string notReady();
std::string discoveryUnavailable();
std::string couldNotReach(const std::string& cameraName);
std::string approveOnCamera(const std::string& cameraName);
std::string approved();
std::string declined();
std::string expired(const std::string& cameraName);
} // namespace TransferModeText

constexpr double transferModeRequestLifetimeMs = 30000;

// Runs of white space and line breaks become single spaces; at most 32 characters are kept.
std::string cleanedCollectorName(std::string_view name);

std::optional<std::string> transferModeRequestData(const std::string& sender, const std::string& target,
                                                   const std::string& requestID, const std::string& collectorName,
                                                   std::int64_t sentMs);

std::optional<TransferModeResponse> decodeTransferModeResponse(std::string_view datagram);
// The same rules on a datagram already parsed as JSON.
std::optional<TransferModeResponse> decodeTransferModeResponse(const Json& root, std::size_t datagramBytes);

// The requests sent and not yet answered, expired or failed. Lives on the channel's queue.
class PendingTransferRequests {
public:
    void remember(const std::string& requestID, PendingTransferRequest request);
    // Removes and returns the record, if it was still pending.
    std::optional<PendingTransferRequest> take(const std::string& requestID);
    bool contains(const std::string& requestID) const { return m_pending.count(requestID) > 0; }
    std::size_t size() const { return m_pending.size(); }

    // The state a matching reply publishes; none when the reply is ignored.
    std::optional<TransferModeRequestState> handleResponse(const std::string& sender, const std::string& host,
                                                           const Json& payload);

private:
    std::map<std::string, PendingTransferRequest> m_pending;
};

} // namespace velk
