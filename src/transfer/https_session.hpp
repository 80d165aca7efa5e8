#pragma once
// The HTTPS exchanges of one transfer session: a request goes in, a status, headers and a body no
// larger than the request allows come out. Transport failures keep the distinctions callers
// decide on (cancelled, timed out, connection lost, other). The pinned implementation talks to a
// phone; tests put a fake behind the same interface.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/cancellation.hpp"
#include "base/sha256.hpp"

namespace velk {

// `other` comes first: a kind nobody set reads as a plain failure, never as a cancellation (which
// callers treat as no failure at all) nor as a transient error (which they retry).
enum class HttpsErrorKind { other, cancelled, timedOut, connectionLost };

class HttpsTransportError : public std::runtime_error {
public:
    HttpsTransportError(HttpsErrorKind kind, const std::string& description)
        : std::runtime_error(description), m_kind(kind) {}
    HttpsErrorKind kind() const { return m_kind; }

private:
    HttpsErrorKind m_kind;
};

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpsRequest {
    std::string method = "GET";
    std::string url;
    // Sent exactly as given; nothing else is added (no default Accept, no compression).
    HttpHeaders headers;
    std::string body;
    // The reply body is read only up to this size: a larger declared length stops the read at once,
    // and a body that grows past it stops as soon as it does.
    std::size_t maxBodyBytes = 1'048'576;
    // When set, a final reply that declares another length is not read at all (`bodyNotRead`).
    std::optional<std::int64_t> requiredContentLength;
    const CancellationToken* cancellation = nullptr;
};

struct HttpsResponse {
    int status = 0;
    HttpHeaders headers;
    Bytes body;
    // The reply declared or delivered more than maxBodyBytes; `body` is then incomplete.
    bool bodyExceededLimit = false;
    // The reply declared a length other than the required one; its body was left unread.
    bool bodyNotRead = false;

    // Case-insensitive; repeated headers are joined with ", ".
    std::optional<std::string> header(std::string_view name) const;
    // The declared Content-Length, when present and a plain decimal number.
    std::optional<std::int64_t> declaredContentLength() const;
};

class HttpsSession {
public:
    virtual ~HttpsSession() = default;
    // Sends one request and waits for its reply. Requests from several threads queue; they share
    // one connection. Throws HttpsTransportError.
    virtual HttpsResponse send(const HttpsRequest& request) = 0;
    // Cancels the request under way and every later one; the session cannot be used again.
    virtual void invalidate() = 0;
};

struct PinnedHttpsOptions {
    // Whole request, connection included.
    std::int64_t requestTimeoutMs = 60'000;
    // A request that receives nothing for this long fails as timed out (whole seconds, at least 1).
    std::int64_t idleTimeoutMs = 30'000;
    // The IPv4 address the advertised host name resolved to (DNS-SD): connections go there, while
    // the URL keeps the host name. Without it the system resolver is asked.
    std::optional<std::string> resolvedAddress;
};

// A session that accepts a server only when the SHA-256 of its leaf certificate equals the pin
// (any digest text form), checked inside the TLS handshake before any request byte is sent.
// No certificate-authority trust, no client certificate, no redirects, no cookies, no
// compression, no TLS session shared with another session.
std::unique_ptr<HttpsSession> makePinnedHttpsSession(std::string_view expectedFingerprint,
                                                     PinnedHttpsOptions options = {});

using HttpsSessionFactory = std::function<std::unique_ptr<HttpsSession>(std::string_view expectedFingerprint)>;

} // namespace velk
