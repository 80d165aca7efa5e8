#include "discovery/transfer_mode_request.hpp"

#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "discovery/live_camera_packet.hpp"
#include "discovery/wire_readers.hpp"

namespace velk {

namespace TransferModeText {
std::string requestSent(const std::string& cameraName) {
    return "Request sent \xE2\x80\x94 approve on " + cameraName + " within 30 seconds.";
}
std::string notReady() { return "This camera is not ready for a transfer request."; }
std::string discoveryUnavailable() { return "Kestova network discovery is not available."; }
std::string couldNotReach(const std::string& cameraName) {
    return "The transfer request could not reach " + cameraName + ".";
}
std::string approveOnCamera(const std::string& cameraName) {
    return "Approve the request on " + cameraName + " within 30 seconds.";
}
std::string approved() { return "Approved \xE2\x80\x94 waiting for secure Transfer Mode."; }
std::string declined() { return "Transfer Mode was declined."; }
std::string expired(const std::string& cameraName) {
    return "Request expired \xE2\x80\x94 ask " + cameraName + " again.";
}
} // namespace TransferModeText

namespace {

constexpr std::size_t maximumCollectorNameCharacters = 32;
constexpr std::size_t maximumRequestIDBytes = 64;
constexpr const char* pendingAction = "TRANSFER_MODE_PENDING";
constexpr const char* acknowledgementAction = "TRANSFER_MODE_ACK";

std::string firstCharacters(std::string_view textValue, std::size_t count) {
    std::string out;
    std::size_t taken = 0;
    for (const std::string& cluster : text::graphemeClusters(textValue)) {
        if (taken++ == count) break;
        out += cluster;
    }
    return out;
}

} // namespace

std::string cleanedCollectorName(std::string_view name) {
    std::vector<char32_t> joined;
    bool pendingSpace = false;
    for (char32_t scalar : text::scalars(name)) {
        if (text::isWhitespace(scalar)) {
            pendingSpace = !joined.empty();
            continue;
        }
        if (pendingSpace) joined.push_back(U' ');
        pendingSpace = false;
        joined.push_back(scalar);
    }
    return firstCharacters(text::fromScalars(joined), maximumCollectorNameCharacters);
}

std::optional<std::string> transferModeRequestData(const std::string& sender, const std::string& target,
                                                   const std::string& requestID, const std::string& collectorName,
                                                   std::int64_t sentMs) {
    if (!uuid::isValid(sender)) return std::nullopt;
    if (target.empty() || target.size() > maximumIdentityBytes) return std::nullopt;
    if (requestID.empty() || requestID.size() > maximumRequestIDBytes) return std::nullopt;
    std::size_t characters = text::graphemeCount(collectorName);
    if (characters < 1 || characters > maximumCollectorNameCharacters) return std::nullopt;

    Json packet = {
        {"v", 1},
        {"type", "command"},
        {"sender", sender},
        {"sentMs", sentMs},
        {"payload",
         {{"action", "REQUEST_TRANSFER_MODE"},
          {"target", target},
          {"requestId", requestID},
          {"collectorName", collectorName}}},
    };
    try {
        return json::write(packet);
    } catch (const JsonError&) {
        return std::nullopt;
    }
}

std::optional<TransferModeResponse> decodeTransferModeResponse(std::string_view datagram) {
    auto root = parseDatagram(datagram);
    if (!root) return std::nullopt;
    return decodeTransferModeResponse(*root, datagram.size());
}

std::optional<TransferModeResponse> decodeTransferModeResponse(const Json& rootValue, std::size_t datagramBytes) {
    const Json* root = &rootValue;
    if (envelopeType(rootValue, datagramBytes) != "command") return std::nullopt;
    auto sender = wire::string(wire::member(*root, "sender"));
    if (!sender || sender->empty() || sender->size() > maximumIdentityBytes) return std::nullopt;
    const Json* payload = wire::member(*root, "payload");
    if (!payload || !payload->is_object()) return std::nullopt;
    auto action = wire::string(wire::member(*payload, "action"));
    if (!action || (*action != pendingAction && *action != acknowledgementAction)) return std::nullopt;
    auto requestID = wire::string(wire::member(*payload, "requestId"));
    if (!requestID || requestID->empty() || requestID->size() > maximumRequestIDBytes) return std::nullopt;
    return TransferModeResponse{*sender, *payload};
}

void PendingTransferRequests::remember(const std::string& requestID, PendingTransferRequest request) {
    m_pending[requestID] = std::move(request);
}

std::optional<PendingTransferRequest> PendingTransferRequests::take(const std::string& requestID) {
    auto it = m_pending.find(requestID);
    if (it == m_pending.end()) return std::nullopt;
    PendingTransferRequest request = std::move(it->second);
    m_pending.erase(it);
    return request;
}

std::optional<TransferModeRequestState> PendingTransferRequests::handleResponse(const std::string& sender,
                                                                                const std::string& host,
                                                                                const Json& payload) {
    auto requestID = wire::string(wire::member(payload, "requestId"));
    if (!requestID) return std::nullopt;
    auto it = m_pending.find(*requestID);
    if (it == m_pending.end()) return std::nullopt;
    const PendingTransferRequest& request = it->second;
    if (sender != request.cameraID || host != request.host) return std::nullopt;
    if (auto target = wire::string(wire::member(payload, "target")); target && *target != request.collectorID)
        return std::nullopt;

    TransferModeRequestState state{*requestID, request.cameraID, request.cameraName, {}, false};
    auto action = wire::string(wire::member(payload, "action")).value_or(std::string());
    if (action == pendingAction) {
        state.message = TransferModeText::approveOnCamera(request.cameraName);
        return state;
    }
    if (action != acknowledgementAction) return std::nullopt;
    m_pending.erase(it);
    if (wire::strictBoolean(wire::member(payload, "accepted")).value_or(false)) {
        state.message = TransferModeText::approved();
        return state;
    }
    state.isFailure = true;
    auto error = wire::string(wire::member(payload, "error"));
    state.message = (error && !error->empty()) ? *error : TransferModeText::declined();
    return state;
}

} // namespace velk
