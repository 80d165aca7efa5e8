#include "transfer/transfer_protocol.hpp"

#include <charconv>
#include <limits>
#include <memory>

#include <curl/curl.h>

#include "base/unicode.hpp"
#include "base/uuid.hpp"

namespace velk {

namespace {

constexpr std::string_view requiresHTTPS = "Authenticated transfer requires HTTPS.";
constexpr std::string_view endpointChangedOrigin = "Transfer endpoint changed origin.";
using TransferProtocol::routeMismatch;

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct CurlText {
    char* text = nullptr;
    ~CurlText() { curl_free(text); }
};

UrlHandle newUrl() {
    UrlHandle url(curl_url());
    if (!url) throw std::bad_alloc();
    return url;
}

std::optional<std::string> getPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    CurlText value;
    if (curl_url_get(url, part, &value.text, flags) != CURLUE_OK || value.text == nullptr) return std::nullopt;
    return std::string(value.text);
}

UrlHandle parseAbsolute(std::string_view text) {
    UrlHandle url = newUrl();
    std::string owned(text);
    if (curl_url_set(url.get(), CURLUPART_URL, owned.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) return nullptr;
    return url;
}


bool isHexScalar(char32_t c) {
    return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= 0xFF10 && c <= 0xFF19) ||
           (c >= 0xFF41 && c <= 0xFF46);
}

bool hasCharacterBeforeFragment(std::string_view reference, char wanted) {
    for (char c : reference) {
        if (c == '#') return false;
        if (c == wanted) return true;
    }
    return false;
}

std::optional<std::int64_t> parseSignedDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // Accumulate as a negative number so that the most negative value fits.
    std::int64_t value = 0;
    for (char c : text) {
        int digit = c - '0';
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    return -value;
}

std::vector<std::string_view> splitKeepingEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            fields.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return fields;
}

} // namespace

TransferProtocolError::TransferProtocolError(Kind kind, std::string sentence, std::int64_t status, const std::string& what)
    : std::runtime_error(what), m_kind(kind), m_sentence(std::move(sentence)), m_status(status) {}

TransferProtocolError TransferProtocolError::invalid(std::string sentence) {
    std::string what = sentence;
    return TransferProtocolError(Kind::invalid, std::move(sentence), 0, what);
}

TransferProtocolError TransferProtocolError::http(std::int64_t status) {
    return TransferProtocolError(Kind::http, {}, status, "Transfer server returned HTTP " + std::to_string(status) + ".");
}

namespace transfer_detail {

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void failInvalid(std::string_view sentence) { throw TransferProtocolError::invalid(std::string(sentence)); }

std::optional<ResolvedURL> resolveReference(std::string_view reference, std::string_view base) {
    UrlHandle url = parseAbsolute(base);
    if (!url) return std::nullopt;
    const bool baseHasQuery = getPart(url.get(), CURLUPART_QUERY).has_value() || hasCharacterBeforeFragment(base, '?');

    ResolvedURL result;
    std::string owned(reference);
    const std::size_t hash = owned.find('#');
    const std::string beforeFragment = owned.substr(0, hash);
    result.hasFragment = hash != std::string::npos;

    if (beforeFragment.empty() || beforeFragment.front() == '?') {
        // Same-document references keep the base's path (and, without a query of their own, its
        // query); done by hand because the URL library resolves these against the base's folder.
        if (!beforeFragment.empty()) {
            std::string query = beforeFragment.substr(1);
            if (curl_url_set(url.get(), CURLUPART_QUERY, query.empty() ? nullptr : query.c_str(), 0) != CURLUE_OK) {
                return std::nullopt;
            }
            result.hasQuery = true;
        } else {
            result.hasQuery = baseHasQuery;
        }
        std::string fragment = result.hasFragment ? owned.substr(hash + 1) : std::string();
        if (curl_url_set(url.get(), CURLUPART_FRAGMENT, fragment.empty() ? nullptr : fragment.c_str(), 0) != CURLUE_OK) {
            return std::nullopt;
        }
    } else {
        result.hasQuery = hasCharacterBeforeFragment(owned, '?');
        if (curl_url_set(url.get(), CURLUPART_URL, owned.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
            return std::nullopt;
        }
    }
    if (getPart(url.get(), CURLUPART_QUERY)) result.hasQuery = true;
    if (getPart(url.get(), CURLUPART_FRAGMENT)) result.hasFragment = true;

    auto absolute = getPart(url.get(), CURLUPART_URL);
    auto scheme = getPart(url.get(), CURLUPART_SCHEME);
    if (!absolute || !scheme) return std::nullopt;
    result.absolute = *absolute;
    result.scheme = asciiLower(*scheme);
    if (auto path = getPart(url.get(), CURLUPART_PATH, CURLU_URLDECODE)) {
        if (path->size() > 1 && path->back() == '/') path->pop_back();
        result.decodedPath = std::move(*path);
    }
    return result;
}

bool matchesClipRoute(const ResolvedURL& url, std::string_view clipId, bool timingSidecar) {
    std::string expected(TransferProtocol::filesRoutePrefix);
    expected += clipId;
    if (timingSidecar) expected += TransferProtocol::timingSidecarSuffix;
    return url.decodedPath && *url.decodedPath == expected && !url.hasQuery && !url.hasFragment;
}

} // namespace transfer_detail

using transfer_detail::asciiLower;
using transfer_detail::fileURLLeftOrigin;

namespace TransferProtocol {

std::string normalizedSHA256(std::string_view value) {
    std::vector<char32_t> kept;
    for (char32_t c : text::scalars(text::lowercased(value))) {
        if (c == U':' || c == U'-' || text::isWhitespace(c)) continue;
        kept.push_back(c);
    }
    return text::fromScalars(kept);
}

bool isValidSHA256(std::string_view value) {
    const auto scalars = text::scalars(normalizedSHA256(value));
    if (scalars.size() != 64) return false;
    for (char32_t c : scalars) {
        if (!isHexScalar(c)) return false;
    }
    return true;
}

std::optional<std::string> canonicalDeviceID(std::string_view value) {
    if (text::trimmedWhitespace(value) != value) return std::nullopt;
    if (value.empty()) return std::nullopt;
    if (auto parsed = uuid::parse(value)) return uuid::lowercaseText(*parsed);
    if (value.size() != 16) return std::nullopt;
    for (char c : value) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    return std::string(value);
}

bool sameDeviceID(std::string_view a, std::string_view b) {
    auto first = canonicalDeviceID(a);
    auto second = canonicalDeviceID(b);
    return first && second && *first == *second;
}

std::string shortFingerprint(std::string_view value) {
    const std::string normalized = normalizedSHA256(value);
    if (!isValidSHA256(normalized)) return "Unavailable";
    const auto scalars = text::scalars(normalized);
    std::string out;
    for (std::size_t group = 0; group < 8; ++group) {
        if (group > 0) out += ' ';
        std::vector<char32_t> four(scalars.begin() + group * 4, scalars.begin() + group * 4 + 4);
        out += text::uppercased(text::fromScalars(four));
    }
    return out;
}

bool isValidPairingCode(std::string_view code) {
    const auto characters = text::graphemeClusters(code);
    if (characters.size() != static_cast<std::size_t>(pairingCodeLength)) return false;
    for (const std::string& character : characters) {
        const auto scalars = text::scalars(character);
        if (scalars.empty() || !text::hasNumericType(scalars.front())) return false;
    }
    return true;
}

std::optional<std::string> origin(std::string_view url) {
    UrlHandle parsed = parseAbsolute(url);
    if (!parsed) return std::nullopt;
    auto scheme = getPart(parsed.get(), CURLUPART_SCHEME);
    if (!scheme) return std::nullopt;
    auto host = getPart(parsed.get(), CURLUPART_HOST);
    if (!host || host->empty()) return std::nullopt;
    const std::string lowerScheme = asciiLower(*scheme);
    std::int64_t port = 0;
    if (auto explicitPort = getPart(parsed.get(), CURLUPART_PORT)) {
        auto value = parseSignedDecimal(*explicitPort);
        if (!value || *value < 1) return std::nullopt;
        port = *value;
    } else if (lowerScheme == "https") {
        port = 443;
    } else if (lowerScheme == "http") {
        port = 80;
    } else {
        return std::nullopt;
    }
    return lowerScheme + "://" + asciiLower(*host) + ":" + std::to_string(port);
}

bool isSameOrigin(std::string_view a, std::string_view b) { return origin(a) == origin(b); }

std::string endpoint(std::string_view base, std::string_view path) {
    UrlHandle url = parseAbsolute(base);
    if (!url) throw TransferProtocolError::invalid(std::string(requiresHTTPS));
    auto scheme = getPart(url.get(), CURLUPART_SCHEME);
    if (!scheme || asciiLower(*scheme) != "https") throw TransferProtocolError::invalid(std::string(requiresHTTPS));

    std::string newPath(path);
    if (newPath.empty() || newPath.front() != '/') newPath.insert(newPath.begin(), '/');
    if (curl_url_set(url.get(), CURLUPART_PATH, newPath.c_str(), CURLU_URLENCODE) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_QUERY, nullptr, 0) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK) {
        throw TransferProtocolError::invalid(std::string(endpointChangedOrigin));
    }
    auto result = getPart(url.get(), CURLUPART_URL);
    if (!result || !isSameOrigin(base, *result)) throw TransferProtocolError::invalid(std::string(endpointChangedOrigin));
    return *result;
}

std::string resolvedFileURL(std::string_view value, std::string_view catalogURL) {
    auto resolved = transfer_detail::resolveReference(value, catalogURL);
    if (!resolved || resolved->scheme != "https" || !isSameOrigin(resolved->absolute, catalogURL)) {
        throw TransferProtocolError::invalid(std::string(fileURLLeftOrigin));
    }
    return resolved->absolute;
}

std::string resolvedClipURL(std::string_view value, std::string_view clipId, std::string_view catalogURL,
                            bool timingSidecar) {
    auto resolved = transfer_detail::resolveReference(value, catalogURL);
    if (!resolved || resolved->scheme != "https" || !isSameOrigin(resolved->absolute, catalogURL)) {
        throw TransferProtocolError::invalid(std::string(fileURLLeftOrigin));
    }
    if (!transfer_detail::matchesClipRoute(*resolved, clipId, timingSidecar)) {
        throw TransferProtocolError::invalid(std::string(routeMismatch));
    }
    return resolved->absolute;
}

std::optional<ContentRange> parseContentRange(std::string_view header) {
    const std::string trimmed = text::trimmedWhitespace(header);
    if (asciiLower(std::string_view(trimmed).substr(0, 6)) != "bytes ") return std::nullopt;
    const auto fields = splitKeepingEmpty(std::string_view(trimmed).substr(6), '/');
    if (fields.size() != 2) return std::nullopt;
    auto total = parseSignedDecimal(fields[1]);
    if (!total || *total < 1) return std::nullopt;
    const auto bounds = splitKeepingEmpty(fields[0], '-');
    if (bounds.size() != 2) return std::nullopt;
    auto start = parseSignedDecimal(bounds[0]);
    auto end = parseSignedDecimal(bounds[1]);
    if (!start || !end) return std::nullopt;
    if (*start < 0 || *start > *end || *end >= *total) return std::nullopt;
    return ContentRange{*start, *end, *total};
}

std::optional<std::string> normalizedETagDigest(std::string_view header) {
    std::string value = text::trimmedWhitespace(header);
    if (asciiLower(std::string_view(value).substr(0, 2)) == "w/") value.erase(0, 2);
    const std::size_t first = value.find_first_not_of('"');
    if (first == std::string::npos) return std::nullopt;
    value = value.substr(first, value.find_last_not_of('"') - first + 1);
    if (asciiLower(std::string_view(value).substr(0, 7)) != "sha256:") return std::nullopt;
    const std::string_view digest = std::string_view(value).substr(7);
    if (!isValidSHA256(digest)) return std::nullopt;
    return normalizedSHA256(digest);
}

} // namespace TransferProtocol

} // namespace velk
