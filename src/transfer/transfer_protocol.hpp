#pragma once
// Identities and wire rules of the HTTPS transfer service each phone offers: digest text, device
// ids, pairing codes, origins, endpoint and file URLs, clip routes and the range reply headers.
// Pure functions; nothing here keeps state, touches the network or logs. URLs are absolute URL text.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velk {

struct DeviceCatalog;

// The one error of secure transfer: either a full English sentence, or an unexpected HTTP status.
class TransferProtocolError : public std::runtime_error {
public:
    enum class Kind { invalid, http };

    static TransferProtocolError invalid(std::string sentence);
    static TransferProtocolError http(std::int64_t status);

    Kind kind() const { return m_kind; }
    // The sentence of an `invalid` error; empty for `http`.
    const std::string& sentence() const { return m_sentence; }
    // The status of an `http` error; 0 for `invalid`.
    std::int64_t status() const { return m_status; }

    bool operator==(const TransferProtocolError& other) const {
        return m_kind == other.m_kind && m_sentence == other.m_sentence && m_status == other.m_status;
    }

private:
    TransferProtocolError(Kind kind, std::string sentence, std::int64_t status, const std::string& what);
    Kind m_kind;
    std::string m_sentence;
    std::int64_t m_status;
};

struct ContentRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t total = 0;
    bool operator==(const ContentRange&) const = default;
};

namespace TransferProtocol {

inline constexpr int pairingCodeLength = 6;
inline constexpr double maximumSessionLifetime = 900; // seconds
inline constexpr std::int64_t chunkSize = 8'388'608;  // 8 MiB
inline constexpr std::string_view filesRoutePrefix = "/velk/v1/files/";
inline constexpr std::string_view timingSidecarSuffix = ".timing.json";
// The one sentence for a file or sidecar URL that is not exactly its clip's route.
inline constexpr std::string_view routeMismatch = "Catalog file route does not match its immutable clip ID.";

// Lower-cased, with every whitespace scalar, ":" and "-" removed. No length or alphabet check.
std::string normalizedSHA256(std::string_view value);
// 64 hexadecimal digits (ASCII or fullwidth) after normalisation.
bool isValidSHA256(std::string_view value);

// A lower-case UUID text, or 16 lower-case hexadecimal digits; none for anything else, including
// an identifier padded with whitespace.
std::optional<std::string> canonicalDeviceID(std::string_view value);
bool sameDeviceID(std::string_view a, std::string_view b);
// The first 32 digits in eight upper-case groups of four, or "Unavailable".
std::string shortFingerprint(std::string_view value);
// Exactly six characters, each numeric in the Unicode sense. No trimming.
bool isValidPairingCode(std::string_view code);

// "scheme://host:port" with the default port written out; none without scheme, host or a usable port.
std::optional<std::string> origin(std::string_view url);
bool isSameOrigin(std::string_view a, std::string_view b);

// A request URL on the base's origin with the path replaced and no query or fragment.
std::string endpoint(std::string_view base, std::string_view path);
// A catalog file URL resolved against the catalog URL; it must stay on the catalog's HTTPS origin.
std::string resolvedFileURL(std::string_view value, std::string_view catalogURL);
// As resolvedFileURL, and the path must be exactly the clip's file (or timing sidecar) route.
std::string resolvedClipURL(std::string_view value, std::string_view clipId, std::string_view catalogURL,
                            bool timingSidecar);

std::optional<ContentRange> parseContentRange(std::string_view header);
// The lower-case digest of an ETag of the form [W/]"sha256:<digest>", or none.
std::optional<std::string> normalizedETagDigest(std::string_view header);

// Throws the first failing rule as TransferProtocolError::invalid.
void validateAuthenticatedCatalog(const DeviceCatalog& catalog, std::string_view baseURL);

} // namespace TransferProtocol

namespace transfer_detail {

// A URL that a catalog or a request names, resolved and taken apart.
struct ResolvedURL {
    std::string absolute;
    std::string scheme; // lower case
    // Percent-decoded, one trailing slash dropped; none when it does not decode.
    std::optional<std::string> decodedPath;
    bool hasQuery = false; // an empty query counts
    bool hasFragment = false; // an empty fragment counts
};

// ASCII letters lower-cased, every other byte unchanged (header names, schemes, tokens).
std::string asciiLower(std::string_view text);
// Whether a header value or token holds CR, LF or NUL, which would split or cut a request.
bool holdsLineBreakOrNul(std::string_view text);
// Throws the sentence as TransferProtocolError::invalid.
[[noreturn]] void failInvalid(std::string_view sentence);

inline constexpr std::string_view fileURLLeftOrigin = "Catalog file URL must remain on the authenticated HTTPS origin.";
// RFC 3986 resolution of a reference against an absolute base; none when either does not parse.
std::optional<ResolvedURL> resolveReference(std::string_view reference, std::string_view base);
// Whether a resolved URL is exactly the route of a clip's file or timing sidecar.
bool matchesClipRoute(const ResolvedURL& url, std::string_view clipId, bool timingSidecar);

} // namespace transfer_detail

} // namespace velk
