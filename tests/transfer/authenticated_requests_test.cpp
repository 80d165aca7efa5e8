#include <thread>

#include <gtest/gtest.h>

#include "base/json.hpp"
#include "base/rfc3339.hpp"
#include "fake_https_session.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk {
namespace {

using testing::FakeHttpsState;
using testing::headerOf;
using testing::reply;

const std::string fingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string fileDigest = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";
const std::string sessionUUID = "9a8b7c6d-1234-4abc-8def-0123456789ab";
const std::string token = "abcdefghijklmnopqrstuvwxyz0123456789";
const std::string clipId = "6f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b";
const std::string fileURL = "https://phone.local:8443/velk/v1/files/" + clipId;
const std::string requestUUID = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
const WallTime now = rfc3339::parse("2026-05-01T12:00:00Z").value();

std::string invalidSentence(const std::function<void()>& operation) {
    try {
        operation();
        return "succeeded";
    } catch (const TransferProtocolError& error) {
        return error.what();
    }
}

class Requests : public ::testing::Test {
protected:
    Requests() : clock(now) {
        environment.clock = &clock;
        environment.makeSession = testing::fakeSessionFactory(state);
        environment.sleeper = [this](std::uint64_t nanoseconds, const CancellationToken*) {
            sleeps.push_back(nanoseconds);
            clock.advanceMs(static_cast<double>(nanoseconds) / 1e6);
        };
        client = makeClient(token, sessionUUID);
    }

    std::shared_ptr<AuthenticatedTransferClient> makeClient(const std::string& bearerToken, const std::string& session,
                                                            const std::string& trash = "trash-v1") {
        DiscoveredDevice device;
        device.serviceName = "Stage Left";
        device.catalogURL = "https://phone.local:8443/velk/v1/catalog";
        device.serviceType = "_velk-transfer._tcp.";
        device.deviceId = "0123456789abcdef";
        device.sessionId = session;
        device.certificateSHA256 = fingerprint;
        device.foregroundOnly = true;
        device.projectTrashVersion = trash;
        const Json grant{{"schemaVersion", 1},
                         {"deviceId", "0123456789abcdef"},
                         {"sessionId", session},
                         {"bearerToken", bearerToken},
                         {"expiresAt", "2026-05-01T12:15:00Z"},
                         {"scopes", Json::array({"catalog.read", "files.read"})},
                         {"certificateSHA256", fingerprint},
                         {"foregroundOnly", true}};
        state->handler = [text = grant.dump()](const HttpsRequest&) { return reply(200, text); };
        auto made = AuthenticatedTransferClient::pair(device, "123456", "collector", "Mac", true, environment);
        std::lock_guard lock(state->mutex);
        state->sent.clear();
        state->handler = nullptr;
        return made;
    }

    void answer(std::function<HttpsResponse(const HttpsRequest&)> handler) { state->handler = std::move(handler); }

    static HttpHeaders rangeHeaders(const std::string& contentRange) {
        return {{"Accept-Ranges", "bytes"},
                {"Content-Range", contentRange},
                {"X-VELK-SHA256", fileDigest},
                {"ETag", "\"sha256:" + fileDigest + "\""}};
    }

    std::shared_ptr<FakeHttpsState> state = std::make_shared<FakeHttpsState>();
    ManualClock clock;
    TransferClientEnvironment environment;
    std::vector<std::uint64_t> sleeps;
    std::shared_ptr<AuthenticatedTransferClient> client;
};

// --- Request builder ---

TEST_F(Requests, EveryRequestCarriesTheSessionAndToken) {
    answer([](const HttpsRequest&) { return reply(200, "{}"); });
    client->fetchCatalog();
    const auto request = state->lastRequest();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.url, "https://phone.local:8443/velk/v1/catalog");
    EXPECT_EQ(headerOf(request, "Authorization"), "Bearer " + token);
    EXPECT_EQ(headerOf(request, "X-VELK-Session-ID"), sessionUUID);
    EXPECT_EQ(headerOf(request, "Accept"), "application/json");
}

TEST_F(Requests, OpenClientsSendNoAuthorization) {
    DiscoveredDevice device;
    device.serviceName = "Open";
    device.catalogURL = "https://phone.local:8443/velk/v1/catalog";
    device.serviceType = "_velk-transfer._tcp.";
    device.deviceId = "0123456789abcdef";
    device.sessionId = sessionUUID;
    device.certificateSHA256 = fingerprint;
    device.foregroundOnly = true;
    device.transferAccess = "open";
    auto open = AuthenticatedTransferClient::connectOpen(device, environment);
    answer([](const HttpsRequest&) { return reply(200, "{}"); });
    open->fetchCatalog();
    EXPECT_EQ(headerOf(state->lastRequest(), "Authorization"), std::nullopt);
    EXPECT_EQ(headerOf(state->lastRequest(), "X-VELK-Session-ID"), sessionUUID);
}

TEST_F(Requests, ExpiredOrOffOriginRequestsAreNotSent) {
    answer([](const HttpsRequest&) { return reply(206, ""); });
    EXPECT_EQ(invalidSentence([&] { client->fetchRange("https://phone.local:9443/velk/v1/files/" + clipId, 0, 0, 1, fileDigest); }),
              "Transfer request attempted to leave the paired HTTPS origin.");
    EXPECT_EQ(invalidSentence([&] { client->fetchRange("http://phone.local:8443/velk/v1/files/" + clipId, 0, 0, 1, fileDigest); }),
              "Transfer request attempted to leave the paired HTTPS origin.");
    clock.setWall(client->expiresAt());
    EXPECT_EQ(invalidSentence([&] { client->fetchCatalog(); }), "Transfer session expired; approve pairing again.");
    EXPECT_EQ(state->sentCount(), 0u);
}

TEST_F(Requests, HeaderValuesThatCouldBreakALineAreNeverSent) {
    for (const std::string& bad : {token + "\r\nX-Injected: 1", token + "\n", token + std::string(1, '\0')}) {
        auto tainted = makeClient(bad, sessionUUID);
        answer([](const HttpsRequest&) { return reply(200, "{}"); });
        EXPECT_EQ(invalidSentence([&] { tainted->fetchCatalog(); }), "Transfer session is invalid.");
        EXPECT_FALSE(tainted->end());
        state->invalidated = false;
    }
    EXPECT_EQ(state->sentCount(), 0u);
}

// --- Catalog ---

TEST_F(Requests, CatalogStatusAndSize) {
    answer([](const HttpsRequest&) { return reply(200, "{\"a\":1}"); });
    EXPECT_EQ(client->fetchCatalog(), (Bytes{'{', '"', 'a', '"', ':', '1', '}'}));
    answer([](const HttpsRequest&) { return reply(404, "missing"); });
    try {
        client->fetchCatalog();
        ADD_FAILURE();
    } catch (const TransferProtocolError& error) {
        EXPECT_STREQ(error.what(), "Transfer server returned HTTP 404.");
    }
    answer([](const HttpsRequest& request) {
        EXPECT_EQ(request.maxBodyBytes, 64u * 1024 * 1024);
        HttpsResponse response = reply(200, "{}");
        response.bodyExceededLimit = true;
        return response;
    });
    EXPECT_EQ(invalidSentence([&] { client->fetchCatalog(); }), "Catalog is too large.");
    // A catalog fetch is never retried.
    answer([](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); });
    const auto before = state->sentCount();
    EXPECT_THROW(client->fetchCatalog(), HttpsTransportError);
    EXPECT_EQ(state->sentCount(), before + 1);
}

// --- Range reads ---

TEST_F(Requests, RangeArgumentsAreCheckedBeforeSending) {
    struct Case {
        std::int64_t start, end, total;
        std::string digest;
        std::string sentence;
    };
    const std::vector<Case> cases = {
        {5, 4, 10, fileDigest, "Requested byte range is invalid."},
        {-1, 4, 10, fileDigest, "Requested byte range is invalid."},
        {0, 10, 10, fileDigest, "Requested byte range is invalid."},
        {0, 8'388'608, 100'000'000, fileDigest, "Requested byte range exceeds the 8 MiB transfer limit."},
        {0, 0, 1, fileDigest.substr(1), "Catalog SHA-256 is invalid."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(invalidSentence([&] { client->fetchRange(fileURL, c.start, c.end, c.total, c.digest); }), c.sentence);
    }
    EXPECT_EQ(state->sentCount(), 0u);
}

TEST_F(Requests, RangeRequestHeaders) {
    answer([](const HttpsRequest&) { return reply(500); });
    EXPECT_THROW(client->fetchRange(fileURL, 0, 8'388'607, 100'000'000, "FE:DC:BA:98:76:54:32:10" + fileDigest.substr(16)),
                 TransferProtocolError);
    const auto request = state->lastRequest();
    EXPECT_EQ(headerOf(request, "Range"), "bytes=0-8388607");
    EXPECT_EQ(headerOf(request, "Accept-Encoding"), "identity");
    EXPECT_EQ(headerOf(request, "Accept"), std::nullopt);
    EXPECT_EQ(request.maxBodyBytes, 8'388'608u);
}

TEST_F(Requests, RangeReplyChecks) {
    const std::string good = "bytes 10-13/100";
    struct Case {
        std::string name;
        std::function<HttpsResponse()> response;
        std::string outcome;
    };
    const std::vector<Case> cases = {
        {"good", [&] { return reply(206, "abcd", rangeHeaders(good)); }, "succeeded"},
        {"whole file with 200", [&] { return reply(200, std::string(100, 'x'), rangeHeaders(good)); },
         "Transfer server returned HTTP 200."},
        {"redirect", [&] { return reply(302, "", {{"Location", "https://elsewhere/"}}); }, "Transfer server returned HTTP 302."},
        {"Accept-Ranges in capitals", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers[0].second = "Bytes";
             return r;
         }, "succeeded"},
        {"Accept-Ranges none", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers[0].second = "none";
             return r;
         }, "File server did not confirm byte-range support."},
        {"no Accept-Ranges", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers.erase(r.headers.begin());
             return r;
         }, "File server did not confirm byte-range support."},
        {"other total", [&] { return reply(206, "abcd", rangeHeaders("bytes 10-13/101")); }, "File server returned the wrong byte range."},
        {"other start", [&] { return reply(206, "abcd", rangeHeaders("bytes 9-13/100")); }, "File server returned the wrong byte range."},
        {"unparsable range", [&] { return reply(206, "abcd", rangeHeaders("bytes */100")); }, "File server returned the wrong byte range."},
        {"short body", [&] { return reply(206, "abc", rangeHeaders(good)); }, "Downloaded chunk length does not match the requested range."},
        {"long body", [&] { return reply(206, "abcde", rangeHeaders(good)); }, "Downloaded chunk length does not match the requested range."},
        {"no declared length", [&] { return reply(206, "abcd", rangeHeaders(good), false); },
         "Downloaded chunk length does not match the requested range."},
        {"declared length differs", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good), false);
             r.headers.emplace_back("Content-Length", "5");
             return r;
         }, "Downloaded chunk length does not match the requested range."},
        {"no ETag", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers.erase(r.headers.begin() + 3);
             return r;
         }, "File identity headers do not match the catalog."},
        {"ETag without the digest prefix", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers[3].second = "\"" + fileDigest + "\"";
             return r;
         }, "File identity headers do not match the catalog."},
        {"other X-VELK-SHA256", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers[2].second = fingerprint;
             return r;
         }, "File identity headers do not match the catalog."},
        {"weak ETag in capitals", [&] {
             auto r = reply(206, "abcd", rangeHeaders(good));
             r.headers[3].second = "W/\"SHA256:FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210\"";
             return r;
         }, "succeeded"},
    };
    for (const auto& c : cases) {
        answer([&](const HttpsRequest&) { return c.response(); });
        EXPECT_EQ(invalidSentence([&] { EXPECT_EQ(client->fetchRange(fileURL, 10, 13, 100, fileDigest), (Bytes{'a', 'b', 'c', 'd'})); }),
                  c.outcome)
            << c.name;
    }
    EXPECT_TRUE(sleeps.empty()); // a wrong reply is never retried
}

TEST_F(Requests, OneByteRange) {
    answer([&](const HttpsRequest&) { return reply(206, "z", rangeHeaders("bytes 0-0/1")); });
    EXPECT_EQ(client->fetchRange(fileURL, 0, 0, 1, fileDigest), Bytes{'z'});
}

TEST_F(Requests, RangeReadsRetryTransportFailures) {
    int attempts = 0;
    answer([&](const HttpsRequest&) -> HttpsResponse {
        if (++attempts <= 2) throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out.");
        return reply(206, "abcd", rangeHeaders("bytes 10-13/100"));
    });
    EXPECT_EQ(client->fetchRange(fileURL, 10, 13, 100, fileDigest).size(), 4u);
    EXPECT_EQ(sleeps, (std::vector<std::uint64_t>{250'000'000, 750'000'000}));

    attempts = 0;
    sleeps.clear();
    answer([&](const HttpsRequest&) -> HttpsResponse {
        ++attempts;
        throw HttpsTransportError(HttpsErrorKind::connectionLost, "lost " + std::to_string(attempts));
    });
    try {
        client->fetchRange(fileURL, 10, 13, 100, fileDigest);
        ADD_FAILURE();
    } catch (const HttpsTransportError& error) {
        EXPECT_STREQ(error.what(), "lost 3");
    }
    EXPECT_EQ(attempts, 3);

    sleeps.clear();
    answer([&](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::cancelled, "pin"); });
    EXPECT_THROW(client->fetchRange(fileURL, 10, 13, 100, fileDigest), HttpsTransportError);
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(Requests, EveryRetryChecksTheExpiryAgain) {
    clock.setWall(client->expiresAt() - std::chrono::milliseconds(100));
    answer([&](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); });
    EXPECT_EQ(invalidSentence([&] { client->fetchRange(fileURL, 10, 13, 100, fileDigest); }),
              "Transfer session expired; approve pairing again.");
    EXPECT_EQ(state->sentCount(), 1u);
}

TEST_F(Requests, CancellationDuringASleepStopsTheRead) {
    CancellationToken cancellation;
    environment.sleeper = [&](std::uint64_t, const CancellationToken* token) {
        cancellation.cancel();
        if (token && token->isCancelled()) throw OperationCancelledError();
    };
    auto cancellable = makeClient(token, sessionUUID);
    answer([&](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); });
    EXPECT_THROW(cancellable->fetchRange(fileURL, 10, 13, 100, fileDigest, &cancellation), OperationCancelledError);
    EXPECT_EQ(state->sentCount(), 1u);
}

TEST_F(Requests, TwoThreadsShareOneClient) {
    answer([&](const HttpsRequest& request) {
        const bool first = headerOf(request, "Range") == "bytes=0-3";
        return reply(206, first ? "abcd" : "efgh", rangeHeaders(first ? "bytes 0-3/8" : "bytes 4-7/8"));
    });
    Bytes a, b;
    std::thread one([&] {
        for (int i = 0; i < 50; ++i) a = client->fetchRange(fileURL, 0, 3, 8, fileDigest);
    });
    std::thread two([&] {
        for (int i = 0; i < 50; ++i) b = client->fetchRange(fileURL, 4, 7, 8, fileDigest);
    });
    one.join();
    two.join();
    EXPECT_EQ(a, (Bytes{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(b, (Bytes{'e', 'f', 'g', 'h'}));
    EXPECT_EQ(state->sentCount(), 100u);
}

// --- Timing sidecars ---

class Sidecars : public Requests {
protected:
    const std::string body = "{\"anchors\":[]}";
    const std::string bodyDigest = Sha256::hexOf(body);
    const std::string sidecarURL = fileURL + ".timing.json";
};

TEST_F(Sidecars, VerifiedRead) {
    answer([&](const HttpsRequest&) { return reply(200, body); });
    const Bytes read = client->fetchTimingSidecar(clipId, "/velk/v1/files/" + clipId + ".timing.json", bodyDigest);
    EXPECT_EQ(std::string(read.begin(), read.end()), body);
    const auto request = state->lastRequest();
    EXPECT_EQ(request.url, sidecarURL);
    EXPECT_EQ(request.maxBodyBytes, 8'388'608u);
    EXPECT_EQ(headerOf(request, "Accept"), std::nullopt);
    EXPECT_EQ(headerOf(request, "Range"), std::nullopt);
}

TEST_F(Sidecars, RouteIsCheckedBeforeSending) {
    const std::string route = "Catalog file route does not match its immutable clip ID.";
    EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar("7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b", sidecarURL, bodyDigest); }), route);
    EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar(clipId, sidecarURL + "?v=2", bodyDigest); }), route);
    EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar(clipId, sidecarURL + "#", bodyDigest); }), route);
    EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar(clipId, fileURL, bodyDigest); }), route);
    EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar(clipId, "https://phone.local:9443/velk/v1/files/" + clipId + ".timing.json", bodyDigest); }),
              "Catalog file URL must remain on the authenticated HTTPS origin.");
    EXPECT_EQ(state->sentCount(), 0u);
}

TEST_F(Sidecars, EveryFailedCheckHasOneSentence) {
    const std::string sentence = "Timing sidecar failed length or SHA-256 verification.";
    const std::vector<std::pair<std::string, std::function<HttpsResponse()>>> cases = {
        {"404", [&] { return reply(404, body); }},
        {"empty", [&] { return reply(200, ""); }},
        {"other digest", [&] { return reply(200, body + " "); }},
        {"no declared length", [&] { return reply(200, body, {}, false); }},
        {"over 8 MiB", [&] { return reply(200, std::string(8'388'609, ' ')); }},
    };
    for (const auto& [name, response] : cases) {
        answer([&](const HttpsRequest&) { return response(); });
        EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar(clipId, sidecarURL, bodyDigest); }), sentence) << name;
    }
    // An invalid catalog digest fails at the comparison, after the read.
    answer([&](const HttpsRequest&) { return reply(200, body); });
    const auto before = state->sentCount();
    EXPECT_EQ(invalidSentence([&] { client->fetchTimingSidecar(clipId, sidecarURL, "abc"); }), sentence);
    EXPECT_EQ(state->sentCount(), before + 1);
}

// --- Session end ---

TEST_F(Requests, EndReportsConfirmationAndClosesTheSession) {
    answer([](const HttpsRequest&) { return reply(204); });
    EXPECT_TRUE(client->end());
    auto request = state->lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://phone.local:8443/velk/v1/session/end");
    EXPECT_TRUE(request.body.empty());
    EXPECT_EQ(headerOf(request, "Authorization"), "Bearer " + token);
    EXPECT_TRUE(state->invalidated);
    EXPECT_THROW(client->fetchCatalog(), HttpsTransportError);
}

TEST_F(Requests, EndFailuresAreFalse) {
    answer([](const HttpsRequest&) { return reply(404); });
    EXPECT_FALSE(makeClient(token, sessionUUID)->end());
    state->invalidated = false;
    answer([](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::connectionLost, "lost"); });
    EXPECT_FALSE(makeClient(token, sessionUUID)->end());
    state->invalidated = false;

    auto expired = makeClient(token, sessionUUID);
    clock.setWall(expired->expiresAt() + std::chrono::seconds(1));
    const auto before = state->sentCount();
    EXPECT_FALSE(expired->end());
    EXPECT_EQ(state->sentCount(), before);
    EXPECT_TRUE(state->invalidated);
}

// --- Project trash ---

class ProjectTrash : public Requests {
protected:
    std::vector<std::map<std::string, std::string>> proof(std::size_t entries) {
        return std::vector<std::map<std::string, std::string>>(entries, {{"clipId", clipId}, {"sha256", fileDigest}});
    }
    void confirm(const Json& body, int status = 200) {
        answer([text = body.dump(), status](const HttpsRequest&) { return reply(status, text); });
    }
    std::string trash(std::string projectID = "unassigned", std::string requestID = requestUUID, std::size_t entries = 1) {
        return invalidSentence([&] { client->trashSourceProject(projectID, requestID, proof(entries)); });
    }
    Json confirmation() { return Json{{"schemaVersion", 1}, {"requestId", requestUUID}, {"movedToTrash", true}}; }
};

TEST_F(ProjectTrash, ConfirmedRemoval) {
    confirm(confirmation());
    EXPECT_EQ(trash("11111111-2222-4333-8444-555555555555"), "succeeded");
    const auto request = state->lastRequest();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://phone.local:8443/velk/v1/projects/delete");
    EXPECT_EQ(headerOf(request, "Content-Type"), "application/json");
    EXPECT_EQ(headerOf(request, "X-VELK-Session-ID"), sessionUUID);
    const Json body = json::parse(request.body);
    EXPECT_EQ(body, (Json{{"schemaVersion", 1},
                          {"requestId", requestUUID},
                          {"projectId", "11111111-2222-4333-8444-555555555555"},
                          {"clips", Json::array({Json{{"clipId", clipId}, {"sha256", fileDigest}}})}}));
}

TEST_F(ProjectTrash, ProofIsCheckedBeforeSending) {
    confirm(confirmation());
    const std::string invalid = "Invalid verified project proof.";
    EXPECT_EQ(trash("unassigned", "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D"), invalid);
    EXPECT_EQ(trash("11111111-2222-4333-8444-55555555555A"), invalid);
    EXPECT_EQ(trash("unassigned-1"), invalid);
    EXPECT_EQ(trash("unassigned", requestUUID, 0), invalid);
    EXPECT_EQ(trash("unassigned", requestUUID, 10'001), invalid);
    client = makeClient(token, sessionUUID, "trash-v2");
    confirm(confirmation());
    EXPECT_EQ(trash(), invalid);
    EXPECT_EQ(state->sentCount(), 0u);
}

TEST_F(ProjectTrash, SizeLimits) {
    confirm(confirmation());
    const std::vector<std::map<std::string, std::string>> many(10'000, {{"clipId", "c"}, {"sha256", "d"}});
    EXPECT_EQ(invalidSentence([&] { client->trashSourceProject("unassigned", requestUUID, many); }), "succeeded");
    // Pad one entry so that the body is exactly 1 MiB, then one byte more.
    auto entries = proof(1);
    entries[0]["note"] = "";
    Json probe{{"schemaVersion", 1}, {"requestId", requestUUID}, {"projectId", "unassigned"}, {"clips", Json::array({entries[0]})}};
    const std::size_t base = json::write(probe).size();
    entries[0]["note"] = std::string(1'048'576 - base, 'x');
    EXPECT_EQ(invalidSentence([&] { client->trashSourceProject("unassigned", requestUUID, entries); }), "succeeded");
    EXPECT_EQ(state->lastRequest().body.size(), 1'048'576u);
    entries[0]["note"] += "x";
    const auto before = state->sentCount();
    EXPECT_EQ(invalidSentence([&] { client->trashSourceProject("unassigned", requestUUID, entries); }), "Project proof is too large.");
    EXPECT_EQ(state->sentCount(), before);
}

TEST_F(ProjectTrash, OnlyAnExactConfirmationCounts) {
    const std::string refused = "Source did not confirm recoverable project removal.";
    struct Case {
        std::string name;
        std::function<void(Json&)> change;
        std::string outcome;
    };
    const std::vector<Case> cases = {
        {"schema 1.0", [](Json& j) { j["schemaVersion"] = 1.0; }, "succeeded"},
        {"schema true", [](Json& j) { j["schemaVersion"] = true; }, refused},
        {"schema 2", [](Json& j) { j["schemaVersion"] = 2; }, refused},
        {"schema missing", [](Json& j) { j.erase("schemaVersion"); }, refused},
        {"moved 1", [](Json& j) { j["movedToTrash"] = 1; }, refused},
        {"moved false", [](Json& j) { j["movedToTrash"] = false; }, refused},
        {"other request", [](Json& j) { j["requestId"] = "1a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"; }, refused},
        {"extra members", [](Json& j) { j["note"] = "ok"; }, "succeeded"},
    };
    for (const auto& c : cases) {
        Json body = confirmation();
        c.change(body);
        confirm(body);
        EXPECT_EQ(trash(), c.outcome) << c.name;
    }
    confirm(Json::array({confirmation()}));
    EXPECT_EQ(trash(), refused);
    confirm(confirmation(), 204);
    EXPECT_EQ(trash(), refused);
    answer([](const HttpsRequest&) { return reply(200, ""); });
    EXPECT_THROW(client->trashSourceProject("unassigned", requestUUID, proof(1)), JsonError);
    answer([](const HttpsRequest&) { return reply(200, std::string(1'048'577, ' ')); });
    EXPECT_THROW(client->trashSourceProject("unassigned", requestUUID, proof(1)), JsonError);
}

TEST_F(ProjectTrash, ExpiredSessionRefusesBeforeSending) {
    clock.setWall(client->expiresAt());
    EXPECT_EQ(trash(), "Transfer session expired; approve pairing again.");
    EXPECT_EQ(state->sentCount(), 0u);
}

} // namespace
} // namespace velk
