// The pinned HTTPS session over libcurl and OpenSSL. The pin replaces certificate-authority trust
// entirely: the handshake's certificate check compares the SHA-256 of the leaf certificate's DER
// with the advertised fingerprint and ends the handshake on any difference, so neither a bearer
// token nor a pairing code ever reaches a server that is not the advertised phone.

#include <algorithm>
#include <chrono>
#include <mutex>

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "transfer/https_session.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {

namespace {

using transfer_detail::asciiLower;

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

using transfer_detail::holdsLineBreakOrNul;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class PinnedHttpsSession;

struct Exchange {
    PinnedHttpsSession* session = nullptr;
    const HttpsRequest* request = nullptr;
    HttpsResponse response;
};

class PinnedHttpsSession final : public HttpsSession {
public:
    PinnedHttpsSession(std::string_view expectedFingerprint, PinnedHttpsOptions options)
        : m_pin(TransferProtocol::normalizedSHA256(expectedFingerprint)), m_options(options) {
        initialiseCurlOnce();
        m_handle = curl_easy_init();
        if (!m_handle) throw std::bad_alloc();
    }

    ~PinnedHttpsSession() override {
        if (m_handle) curl_easy_cleanup(m_handle);
    }

    HttpsResponse send(const HttpsRequest& request) override;

    void invalidate() override {
        m_invalidated.store(true);
        // Drop the idle connection now; a request under way stops at its next progress report.
        std::unique_lock lock(m_sendMutex, std::try_to_lock);
        if (lock.owns_lock() && m_handle) {
            curl_easy_cleanup(m_handle);
            m_handle = nullptr;
        }
    }

    bool shouldAbort(const HttpsRequest& request) const {
        return m_invalidated.load() || (request.cancellation && request.cancellation->isCancelled());
    }

    // --- Called by OpenSSL inside the handshake. ---
    static int verifyLeaf(X509_STORE_CTX* store, void* arg) {
        auto* self = static_cast<PinnedHttpsSession*>(arg);
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        unsigned char* der = nullptr;
        const int length = leaf ? i2d_X509(leaf, &der) : -1;
        bool matches = false;
        if (length > 0) {
            const auto digest = Sha256::of(std::span<const std::uint8_t>(der, static_cast<std::size_t>(length)));
            matches = hexLower(digest) == self->m_pin;
        }
        OPENSSL_free(der);
        if (!matches) {
            self->m_pinRefused = true;
            X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
            return 0;
        }
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }

    static int refuseClientCertificate(SSL*, void* arg) {
        static_cast<PinnedHttpsSession*>(arg)->m_clientCertificateRequested = true;
        return 0;
    }

    static CURLcode configureContext(CURL*, void* sslContext, void* arg) {
        auto* context = static_cast<SSL_CTX*>(sslContext);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(context, &PinnedHttpsSession::verifyLeaf, arg);
        SSL_CTX_set_cert_cb(context, &PinnedHttpsSession::refuseClientCertificate, arg);
        SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
        return CURLE_OK;
    }

private:
    HttpsResponse perform(const HttpsRequest& request);

    const std::string m_pin;
    const PinnedHttpsOptions m_options;
    std::mutex m_sendMutex;
    CURL* m_handle = nullptr;
    std::atomic<bool> m_invalidated{false};
    bool m_pinRefused = false;
    bool m_clientCertificateRequested = false;
};

std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* userData) {
    auto* exchange = static_cast<Exchange*>(userData);
    const std::size_t length = size * count;
    std::string_view line(data, length);
    HttpsResponse& response = exchange->response;
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line: an interim reply's headers do not belong to the final one.
        response.headers.clear();
        response.status = 0;
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos && line.size() >= space + 4) {
            int status = 0;
            for (std::size_t i = space + 1; i < space + 4; ++i) {
                if (line[i] < '0' || line[i] > '9') return length;
                status = status * 10 + (line[i] - '0');
            }
            response.status = status;
        }
        return length;
    }
    if (trimSpaces(line).empty()) {
        if (response.status >= 200) {
            auto declared = response.declaredContentLength();
            const auto& required = exchange->request->requiredContentLength;
            if (required && declared && *declared != *required) {
                response.bodyNotRead = true;
                return 0;
            }
            if (declared && static_cast<std::uint64_t>(*declared) > exchange->request->maxBodyBytes) {
                response.bodyExceededLimit = true;
                return 0;
            }
            // One allocation for the whole body: growing an 8 MiB range step by step copies it
            // several times and touches twice its size in fresh pages.
            if (declared && static_cast<std::uint64_t>(*declared) > response.body.size()) {
                response.body.reserve(static_cast<std::size_t>(*declared));
            }
        }
        return length;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !response.headers.empty()) {
        response.headers.back().second += ' ';
        response.headers.back().second += trimSpaces(line);
        return length;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return length;
    response.headers.emplace_back(std::string(trimSpaces(line.substr(0, colon))), std::string(trimSpaces(line.substr(colon + 1))));
    return length;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* userData) {
    auto* exchange = static_cast<Exchange*>(userData);
    const std::size_t length = size * count;
    Bytes& body = exchange->response.body;
    if (body.size() + length > exchange->request->maxBodyBytes) {
        exchange->response.bodyExceededLimit = true;
        return 0;
    }
    body.insert(body.end(), reinterpret_cast<const std::uint8_t*>(data), reinterpret_cast<const std::uint8_t*>(data) + length);
    return length;
}

int onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* exchange = static_cast<Exchange*>(userData);
    return exchange->session->shouldAbort(*exchange->request) ? 1 : 0;
}

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    void add(const std::string& line) {
        curl_slist* next = curl_slist_append(list, line.c_str());
        if (!next) throw std::bad_alloc();
        list = next;
    }
};

// "host:port:address" for the URL's host and port, as the connection cache takes it.
std::optional<std::string> resolveEntry(const std::string& url, const std::string& address) {
    CURLU* parsed = curl_url();
    if (!parsed) return std::nullopt;
    std::optional<std::string> entry;
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
        entry = std::string(host) + ":" + port + ":" + address;
    }
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parsed);
    return entry;
}

bool hasHeader(const HttpHeaders& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (asciiLower(key) == asciiLower(name)) return true;
    }
    return false;
}

HttpsResponse PinnedHttpsSession::send(const HttpsRequest& request) {
    for (const auto& [name, value] : request.headers) {
        if (holdsLineBreakOrNul(name) || holdsLineBreakOrNul(value) || name.find(':') != std::string::npos) {
            throw HttpsTransportError(HttpsErrorKind::other, "The request carries a header that cannot be sent.");
        }
    }
    std::lock_guard lock(m_sendMutex);
    if (m_invalidated.load() || !m_handle) {
        throw HttpsTransportError(HttpsErrorKind::cancelled, "The transfer session has ended.");
    }
    if (request.cancellation && request.cancellation->isCancelled()) {
        throw HttpsTransportError(HttpsErrorKind::cancelled, "The request was cancelled.");
    }
    return perform(request);
}

HttpsResponse PinnedHttpsSession::perform(const HttpsRequest& request) {
    CURL* curl = m_handle;
    curl_easy_reset(curl);
    m_pinRefused = false;
    m_clientCertificateRequested = false;

    Exchange exchange;
    exchange.session = this;
    exchange.request = &request;

    HeaderList headers;
    for (const auto& [name, value] : request.headers) headers.add(name + ": " + value);
    // The library would otherwise add headers of its own that the phone was never meant to see.
    if (!hasHeader(request.headers, "Accept")) headers.add("Accept:");
    if (!hasHeader(request.headers, "Content-Type")) headers.add("Content-Type:");
    headers.add("Expect:");

    const std::string url = request.url;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    HeaderList resolve;
    if (m_options.resolvedAddress) {
        if (auto entry = resolveEntry(url, *m_options.resolvedAddress)) resolve.add(*entry);
        curl_easy_setopt(curl, CURLOPT_RESOLVE, resolve.list);
    }
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(m_options.requestTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_options.requestTimeoutMs));
    // Below one byte a second for the whole idle time: nothing arrived.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max<std::int64_t>(1, m_options.idleTimeoutMs / 1000)));
    // Trust comes from the pin alone, checked in configureContext's callbacks.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_SESSIONID_CACHE, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &PinnedHttpsSession::configureContext);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, static_cast<void*>(this));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &onHeaderLine);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, static_cast<void*>(&exchange));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(&exchange));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, static_cast<void*>(&exchange));

    if (request.method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else {
        if (request.method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    }

    const CURLcode result = curl_easy_perform(curl);
    const bool stoppedOnPurpose = exchange.response.bodyExceededLimit || exchange.response.bodyNotRead;
    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && stoppedOnPurpose)) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (status > 0) exchange.response.status = static_cast<int>(status);
        return std::move(exchange.response);
    }
    if (result == CURLE_ABORTED_BY_CALLBACK) {
        if (m_invalidated.load()) {
            curl_easy_cleanup(m_handle);
            m_handle = nullptr;
            throw HttpsTransportError(HttpsErrorKind::cancelled, "The transfer session has ended.");
        }
        throw HttpsTransportError(HttpsErrorKind::cancelled, "The request was cancelled.");
    }
    if (m_pinRefused) {
        throw HttpsTransportError(HttpsErrorKind::cancelled,
                                  "The camera's certificate does not match the fingerprint it advertised.");
    }
    if (m_clientCertificateRequested) {
        throw HttpsTransportError(HttpsErrorKind::cancelled, "The camera asked for a client certificate.");
    }
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out.");
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        throw HttpsTransportError(HttpsErrorKind::connectionLost, "The network connection was lost.");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        throw HttpsTransportError(HttpsErrorKind::other, "Could not connect to the camera.");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
        throw HttpsTransportError(HttpsErrorKind::other, "A secure connection to the camera could not be made.");
    default:
        throw HttpsTransportError(HttpsErrorKind::other, std::string("The transfer failed: ") + curl_easy_strerror(result) + ".");
    }
}

} // namespace

std::optional<std::string> HttpsResponse::header(std::string_view name) const {
    std::optional<std::string> joined;
    const std::string wanted = asciiLower(name);
    for (const auto& [key, value] : headers) {
        if (asciiLower(key) != wanted) continue;
        if (joined) {
            *joined += ", ";
            *joined += value;
        } else {
            joined = value;
        }
    }
    return joined;
}

std::optional<std::int64_t> HttpsResponse::declaredContentLength() const {
    auto value = header("Content-Length");
    if (!value || value->empty() || value->size() > 18) return std::nullopt;
    std::int64_t length = 0;
    for (char c : *value) {
        if (c < '0' || c > '9') return std::nullopt;
        length = length * 10 + (c - '0');
    }
    return length;
}

std::unique_ptr<HttpsSession> makePinnedHttpsSession(std::string_view expectedFingerprint, PinnedHttpsOptions options) {
    return std::make_unique<PinnedHttpsSession>(expectedFingerprint, options);
}

} // namespace velk
