#include "transfer/authenticated_transfer_client.hpp"

#include <algorithm>

#include "base/json.hpp"
#include "base/rfc3339.hpp"
#include "base/unicode.hpp"
#include "base/uuid.hpp"
#include "model/pairing_bodies.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

constexpr std::string_view notAdvertisingAuthenticated = "This camera is not advertising authenticated transfer.";
constexpr std::string_view confirmFingerprint = "Confirm that the fingerprint shown on both devices matches.";
constexpr std::string_view enterCode = "Enter the six-digit code shown on the camera.";
constexpr std::string_view pairingNoHTTP = "Pairing returned no HTTP response.";
constexpr std::string_view pairingIncomplete = "Pairing response is incomplete or grants the wrong scope.";
constexpr std::string_view identityChanged = "Camera identity changed during pairing.";
constexpr std::string_view sessionChanged = "Transfer session changed during pairing.";
constexpr std::string_view fingerprintChanged = "Certificate fingerprint changed during pairing.";
constexpr std::string_view expiryInvalid = "Transfer session expiry is invalid.";
constexpr std::string_view notAdvertisingOpen = "This source is not advertising open project sharing.";

constexpr std::string_view sessionExpired = "Transfer session expired; approve pairing again.";
constexpr std::string_view leftOrigin = "Transfer request attempted to leave the paired HTTPS origin.";
constexpr std::string_view sessionInvalid = "Transfer session is invalid.";
constexpr std::string_view catalogNoHTTP = "Catalog returned no HTTP response.";
constexpr std::string_view catalogTooLarge = "Catalog is too large.";
constexpr std::string_view rangeInvalid = "Requested byte range is invalid.";
constexpr std::string_view rangeTooLarge = "Requested byte range exceeds the 8 MiB transfer limit.";
constexpr std::string_view catalogDigestInvalid = "Catalog SHA-256 is invalid.";
constexpr std::string_view fileNoHTTP = "File server returned no HTTP response.";
constexpr std::string_view noRangeSupport = "File server did not confirm byte-range support.";
constexpr std::string_view wrongRange = "File server returned the wrong byte range.";
constexpr std::string_view chunkLengthMismatch = "Downloaded chunk length does not match the requested range.";
constexpr std::string_view identityHeadersMismatch = "File identity headers do not match the catalog.";
using TransferProtocol::routeMismatch;
constexpr std::string_view sidecarFailed = "Timing sidecar failed length or SHA-256 verification.";
constexpr std::string_view invalidProof = "Invalid verified project proof.";
constexpr std::string_view proofTooLarge = "Project proof is too large.";
constexpr std::string_view removalNotConfirmed = "Source did not confirm recoverable project removal.";

constexpr std::size_t collectorNameCharacters = 64;
constexpr std::size_t minimumBearerTokenBytes = 32;
constexpr std::size_t sessionEndReplyBytes = 65'536;
constexpr std::string_view projectTrashVersion = "trash-v1";
constexpr std::string_view sessionEndPath = "/velk/v1/session/end";
constexpr std::string_view projectDeletePath = "/velk/v1/projects/delete";

using transfer_detail::failInvalid;

using transfer_detail::asciiLower;

using transfer_detail::holdsLineBreakOrNul;

// A UUID text exactly as its own lower-case form.
bool isCanonicalUUID(std::string_view text) {
    auto parsed = uuid::parse(text);
    return parsed && uuid::lowercaseText(*parsed) == text;
}

std::string bodyText(const Bytes& body) { return std::string(body.begin(), body.end()); }

HttpsSessionFactory sessionFactory(const TransferClientEnvironment& environment, const DiscoveredDevice& device) {
    if (environment.makeSession) return environment.makeSession;
    PinnedHttpsOptions options;
    if (environment.addressOf) options.resolvedAddress = environment.addressOf(device);
    return [options](std::string_view fingerprint) { return makePinnedHttpsSession(fingerprint, options); };
}

std::string collectorDisplayName(std::string_view collectorName) {
    auto characters = text::graphemeClusters(text::trimmedWhitespace(collectorName));
    if (characters.size() > collectorNameCharacters) characters.resize(collectorNameCharacters);
    std::string name;
    for (const auto& character : characters) name += character;
    if (name.empty()) return std::string(defaultCollectorName);
    return name;
}

void checkPairingResponse(const PairingResponse& response, const DiscoveredDevice& device, const std::string& expectedFingerprint) {
    const bool hasScopes = std::find(response.scopes.begin(), response.scopes.end(), "catalog.read") != response.scopes.end() &&
                           std::find(response.scopes.begin(), response.scopes.end(), "files.read") != response.scopes.end();
    if (response.schemaVersion != 1 || response.deviceId.empty() || response.sessionId.empty() ||
        response.bearerToken.size() < minimumBearerTokenBytes || !response.foregroundOnly || !hasScopes) {
        failInvalid(pairingIncomplete);
    }
    if (device.deviceId && !device.deviceId->empty() && !TransferProtocol::sameDeviceID(*device.deviceId, response.deviceId)) {
        failInvalid(identityChanged);
    }
    if (device.sessionId && *device.sessionId != response.sessionId) failInvalid(sessionChanged);
    if (TransferProtocol::normalizedSHA256(response.certificateSHA256) != expectedFingerprint) failInvalid(fingerprintChanged);
}

WallTime checkedExpiry(const std::string& expiresAt, WallTime now) {
    auto expiry = rfc3339::parse(expiresAt);
    const auto allowance = std::chrono::duration_cast<WallTime::duration>(
        std::chrono::duration<double>(AuthenticatedTransferClient::pairingExpiryAllowanceSeconds));
    if (!expiry || *expiry <= now || *expiry > now + allowance) failInvalid(expiryInvalid);
    return *expiry;
}

} // namespace

AuthenticatedTransferClient::AuthenticatedTransferClient(Fields fields, std::unique_ptr<HttpsSession> session,
                                                         TransferClientEnvironment environment)
    : m_deviceId(std::move(fields.deviceId)),
      m_deviceName(std::move(fields.deviceName)),
      m_sessionId(std::move(fields.sessionId)),
      m_expiresAt(fields.expiresAt),
      m_fingerprint(std::move(fields.fingerprint)),
      m_catalogURL(std::move(fields.catalogURL)),
      m_bearerToken(std::move(fields.bearerToken)),
      m_supportsProjectTrash(fields.supportsProjectTrash),
      m_environment(std::move(environment)),
      m_session(std::move(session)) {}

AuthenticatedTransferClient::~AuthenticatedTransferClient() = default;

std::shared_ptr<AuthenticatedTransferClient> AuthenticatedTransferClient::pair(
    const DiscoveredDevice& device, std::string_view pairingCode, std::string_view collectorId, std::string_view collectorName,
    bool fingerprintConfirmed, TransferClientEnvironment environment, const CancellationToken* cancellation) {
    if (!device.supportsAuthenticatedTransfer()) failInvalid(notAdvertisingAuthenticated);
    if (!fingerprintConfirmed) failInvalid(confirmFingerprint);
    const std::string code = text::trimmedWhitespace(pairingCode);
    if (!TransferProtocol::isValidPairingCode(code)) failInvalid(enterCode);
    const std::string expectedFingerprint = TransferProtocol::normalizedSHA256(device.certificateSHA256.value_or(""));
    const std::string pairingURL = TransferProtocol::endpoint(device.catalogURL, device.pairPath);
    std::unique_ptr<HttpsSession> session = sessionFactory(environment, device)(expectedFingerprint);

    PairingRequest body;
    body.schemaVersion = 1;
    body.requestId = uuid::newLowercase();
    body.collectorId = std::string(collectorId);
    body.collectorName = collectorDisplayName(collectorName);
    body.pairingCode = code;
    body.certificateSHA256 = expectedFingerprint;

    HttpsRequest request;
    request.method = "POST";
    request.url = pairingURL;
    request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
    request.body = encodePairingRequest(body);
    request.maxBodyBytes = maximumReplyBytes;
    request.cancellation = cancellation;
    const HttpsResponse reply = session->send(request);

    if (reply.status <= 0) failInvalid(pairingNoHTTP);
    if (reply.status != 200) throw TransferProtocolError::http(reply.status);
    if (reply.bodyExceededLimit) throw JsonError("The pairing reply is larger than a pairing reply can be.");
    const PairingResponse response = decodePairingResponse(bodyText(reply.body));
    checkPairingResponse(response, device, expectedFingerprint);
    const WallTime expiresAt = checkedExpiry(response.expiresAt, environment.clock->now());

    Fields fields;
    fields.deviceId = response.deviceId;
    fields.deviceName = device.serviceName;
    fields.sessionId = response.sessionId;
    fields.expiresAt = expiresAt;
    fields.fingerprint = TransferProtocol::normalizedSHA256(response.certificateSHA256);
    fields.catalogURL = device.catalogURL;
    fields.bearerToken = response.bearerToken;
    fields.supportsProjectTrash = device.projectTrashVersion == projectTrashVersion;
    return std::shared_ptr<AuthenticatedTransferClient>(
        new AuthenticatedTransferClient(std::move(fields), std::move(session), std::move(environment)));
}

std::shared_ptr<AuthenticatedTransferClient> AuthenticatedTransferClient::connectOpen(const DiscoveredDevice& device,
                                                                                      TransferClientEnvironment environment) {
    if (!device.supportsOpenTransfer() || !device.deviceId || !TransferProtocol::canonicalDeviceID(*device.deviceId) ||
        !device.sessionId || !uuid::isValid(*device.sessionId)) {
        failInvalid(notAdvertisingOpen);
    }
    const std::string fingerprint = TransferProtocol::normalizedSHA256(device.certificateSHA256.value_or(""));
    std::unique_ptr<HttpsSession> session = sessionFactory(environment, device)(fingerprint);

    Fields fields;
    fields.deviceId = *device.deviceId;
    fields.deviceName = device.serviceName;
    fields.sessionId = *device.sessionId;
    fields.expiresAt = environment.clock->now() + std::chrono::duration_cast<WallTime::duration>(
                                                      std::chrono::duration<double>(TransferProtocol::maximumSessionLifetime));
    fields.fingerprint = fingerprint;
    fields.catalogURL = device.catalogURL;
    fields.supportsProjectTrash = device.projectTrashVersion == projectTrashVersion;
    return std::shared_ptr<AuthenticatedTransferClient>(
        new AuthenticatedTransferClient(std::move(fields), std::move(session), std::move(environment)));
}

bool AuthenticatedTransferClient::isExpired() const { return !(m_environment.clock->now() < m_expiresAt); }

TransferSessionSummary AuthenticatedTransferClient::summary() const {
    return TransferSessionSummary{m_deviceId, m_deviceName, m_sessionId, m_expiresAt, m_fingerprint, openAccess(),
                                  m_supportsProjectTrash};
}

void AuthenticatedTransferClient::invalidate() { m_session->invalidate(); }

HttpsRequest AuthenticatedTransferClient::authorizedRequest(std::string_view url) const {
    if (!(m_environment.clock->now() < m_expiresAt)) failInvalid(sessionExpired);
    auto scheme = urlScheme(std::string(url));
    if (!scheme || asciiLower(*scheme) != "https") failInvalid(leftOrigin);
    if (TransferProtocol::origin(url) != TransferProtocol::origin(m_catalogURL)) failInvalid(leftOrigin);
    // Identities the phone chose travel in headers; one that could end a header line is never sent.
    if (holdsLineBreakOrNul(m_bearerToken) || holdsLineBreakOrNul(m_sessionId)) failInvalid(sessionInvalid);

    HttpsRequest request;
    request.url = std::string(url);
    if (!m_bearerToken.empty()) request.headers.emplace_back("Authorization", "Bearer " + m_bearerToken);
    request.headers.emplace_back("X-VELK-Session-ID", m_sessionId);
    return request;
}

Bytes AuthenticatedTransferClient::fetchCatalog(const CancellationToken* cancellation) {
    HttpsRequest request = authorizedRequest(m_catalogURL);
    request.headers.emplace_back("Accept", "application/json");
    request.maxBodyBytes = maximumCatalogBytes;
    request.cancellation = cancellation;
    HttpsResponse reply = m_session->send(request);
    if (reply.status <= 0) failInvalid(catalogNoHTTP);
    if (reply.status != 200) throw TransferProtocolError::http(reply.status);
    if (reply.bodyExceededLimit) failInvalid(catalogTooLarge);
    return std::move(reply.body);
}

Bytes AuthenticatedTransferClient::fetchRange(std::string_view url, std::int64_t start, std::int64_t end,
                                              std::int64_t expectedTotal, std::string_view expectedSHA256,
                                              const CancellationToken* cancellation) {
    if (start < 0 || start > end || end >= expectedTotal) failInvalid(rangeInvalid);
    const std::int64_t length = end - start + 1;
    if (length > TransferProtocol::chunkSize) failInvalid(rangeTooLarge);
    const std::string expectedDigest = TransferProtocol::normalizedSHA256(expectedSHA256);
    if (!TransferProtocol::isValidSHA256(expectedDigest)) failInvalid(catalogDigestInvalid);

    HttpsResponse reply = TransferReadRetry::run(
        TransferReadRetry::defaultDelays,
        [&] {
            HttpsRequest request = authorizedRequest(url);
            request.headers.emplace_back("Range", "bytes=" + std::to_string(start) + "-" + std::to_string(end));
            request.headers.emplace_back("Accept-Encoding", "identity");
            request.maxBodyBytes = static_cast<std::size_t>(length);
            request.requiredContentLength = length;
            request.cancellation = cancellation;
            return m_session->send(request);
        },
        cancellation, m_environment.sleeper);

    if (reply.status <= 0) failInvalid(fileNoHTTP);
    if (reply.status != 206) throw TransferProtocolError::http(reply.status);
    auto acceptRanges = reply.header("Accept-Ranges");
    if (!acceptRanges || asciiLower(*acceptRanges) != "bytes") failInvalid(noRangeSupport);
    auto contentRange = reply.header("Content-Range");
    auto range = contentRange ? TransferProtocol::parseContentRange(*contentRange) : std::nullopt;
    if (!range || *range != ContentRange{start, end, expectedTotal}) failInvalid(wrongRange);
    if (reply.bodyExceededLimit || reply.bodyNotRead || static_cast<std::int64_t>(reply.body.size()) != length ||
        reply.declaredContentLength() != length) {
        failInvalid(chunkLengthMismatch);
    }
    auto fileDigest = reply.header("X-VELK-SHA256");
    if (!fileDigest || TransferProtocol::normalizedSHA256(*fileDigest) != expectedDigest) failInvalid(identityHeadersMismatch);
    auto etag = reply.header("ETag");
    auto etagDigest = etag ? TransferProtocol::normalizedETagDigest(*etag) : std::nullopt;
    if (!etagDigest || *etagDigest != expectedDigest) failInvalid(identityHeadersMismatch);
    return std::move(reply.body);
}

Bytes AuthenticatedTransferClient::fetchTimingSidecar(std::string_view clipID, std::string_view url, std::string_view sha256,
                                                      const CancellationToken* cancellation) {
    const std::string resolvedURL = TransferProtocol::resolvedFileURL(url, m_catalogURL);
    // The route is read from the URL as given: the resolved text no longer shows an empty query
    // or fragment.
    auto given = transfer_detail::resolveReference(url, m_catalogURL);
    if (!given || !transfer_detail::matchesClipRoute(*given, clipID, true)) failInvalid(routeMismatch);

    HttpsResponse reply = TransferReadRetry::run(
        TransferReadRetry::defaultDelays,
        [&] {
            HttpsRequest request = authorizedRequest(resolvedURL);
            request.maxBodyBytes = maximumTimingSidecarBytes;
            request.cancellation = cancellation;
            return m_session->send(request);
        },
        cancellation, m_environment.sleeper);

    const bool verified = reply.status == 200 && !reply.bodyExceededLimit && !reply.body.empty() &&
                          reply.body.size() <= maximumTimingSidecarBytes &&
                          reply.declaredContentLength() == static_cast<std::int64_t>(reply.body.size()) &&
                          hexLower(Sha256::of(std::span<const std::uint8_t>(reply.body))) ==
                              TransferProtocol::normalizedSHA256(sha256);
    if (!verified) failInvalid(sidecarFailed);
    return std::move(reply.body);
}

bool AuthenticatedTransferClient::end() {
    bool confirmed = false;
    try {
        HttpsRequest request = authorizedRequest(TransferProtocol::endpoint(m_catalogURL, sessionEndPath));
        request.method = "POST";
        request.maxBodyBytes = sessionEndReplyBytes;
        const HttpsResponse reply = m_session->send(request);
        confirmed = reply.status == 200 || reply.status == 204;
    } catch (const std::exception&) {
        confirmed = false;
    }
    m_session->invalidate();
    return confirmed;
}

void AuthenticatedTransferClient::trashSourceProject(std::string_view projectID, std::string_view requestID,
                                                     const std::vector<std::map<std::string, std::string>>& clips) {
    if (!m_supportsProjectTrash) failInvalid(invalidProof);
    if (!isCanonicalUUID(requestID)) failInvalid(invalidProof);
    if (projectID != "unassigned" && !isCanonicalUUID(projectID)) failInvalid(invalidProof);
    if (clips.empty() || clips.size() > maximumProjectProofEntries) failInvalid(invalidProof);
    const std::string url = TransferProtocol::endpoint(m_catalogURL, projectDeletePath);
    HttpsRequest request = authorizedRequest(url);
    request.method = "POST";
    request.headers.emplace_back("Content-Type", "application/json");

    Json entries = Json::array();
    for (const auto& clip : clips) {
        Json entry = Json::object();
        for (const auto& [key, value] : clip) entry[key] = value;
        entries.push_back(std::move(entry));
    }
    Json body = Json::object();
    body["schemaVersion"] = 1;
    body["requestId"] = std::string(requestID);
    body["projectId"] = std::string(projectID);
    body["clips"] = std::move(entries);
    request.body = json::write(body);
    if (request.body.size() > maximumProjectProofBytes) failInvalid(proofTooLarge);
    request.maxBodyBytes = maximumReplyBytes;

    const HttpsResponse reply = m_session->send(request);
    if (reply.status != 200) failInvalid(removalNotConfirmed);
    if (reply.bodyExceededLimit) throw JsonError("The project removal reply is larger than a reply can be.");
    const Json parsed = json::parse(bodyText(reply.body));
    if (!parsed.is_object()) failInvalid(removalNotConfirmed);
    auto schemaVersion = parsed.find("schemaVersion");
    if (schemaVersion == parsed.end() || json::numberValue(*schemaVersion) != 1.0) failInvalid(removalNotConfirmed);
    auto repliedRequestId = parsed.find("requestId");
    if (repliedRequestId == parsed.end() || json::stringValue(*repliedRequestId) != std::string(requestID)) {
        failInvalid(removalNotConfirmed);
    }
    auto moved = parsed.find("movedToTrash");
    if (moved == parsed.end() || json::boolValue(*moved) != true) failInvalid(removalNotConfirmed);
}

} // namespace velk
