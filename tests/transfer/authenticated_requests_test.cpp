#include <map>
#include <utility>

#include <gtest/gtest.h>

#include "base/sha256.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

using namespace velk::testing;

const std::string fileDigest = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";
const std::string token = "abcdefghijklmnopqrstuvwxyz0123456789";
const std::string fileURL = "https://phone.local:8443/velk/v1/files/" + clipUUID;
const std::string sidecarURL = fileURL + ".timing.json";
const std::string sidecarBody = "{\"anchors\":[]}";
const std::string expired = "Transfer session expired; approve pairing again.";
using Proof = std::vector<std::map<std::string, std::string>>;

class Requests : public FakePhoneTest {
protected:
    Requests() { client = pairedClient(token); }

    static HttpHeaders rangeHeaders(const std::string& contentRange) {
        return {{"Accept-Ranges", "bytes"},
                {"Content-Range", contentRange},
                {"X-VELK-SHA256", fileDigest},
                {"ETag", "\"sha256:" + fileDigest + "\""}};
    }
    static Proof proof(std::size_t entries = 1) { return Proof(entries, {{"clipId", clipUUID}, {"sha256", fileDigest}}); }
    std::string trash(const std::string& projectID = "unassigned", const std::string& requestID = requestUUID,
                      const Proof& entries = proof()) {
        return outcome([&] { client->trashSourceProject(projectID, requestID, entries); });
    }
    static Json confirmation() { return Json{{"schemaVersion", 1}, {"requestId", requestUUID}, {"movedToTrash", true}}; }

    std::shared_ptr<AuthenticatedTransferClient> client;
};

TEST_F(Requests, EachRequestCarriesItsHeaders) {
    DiscoveredDevice openDevice = pairingDevice();
    openDevice.transferAccess = "open";
    auto open = AuthenticatedTransferClient::connectOpen(openDevice, environment);
    const std::string bearer = "Bearer " + token;
    using Headers = std::map<std::string, std::optional<std::string>>;
    struct Case {
        std::string name;
        std::function<void()> call;
        std::string method;
        std::string url;
        Headers headers;
        std::optional<std::size_t> maxBodyBytes;
    };
    const std::vector<Case> cases = {
        {"catalog", [&] { client->fetchCatalog(); }, "GET", phoneCatalogURL,
         {{"Authorization", bearer}, {"X-VELK-Session-ID", sessionUUID}, {"Accept", "application/json"}}, 64u << 20},
        {"open catalog", [&] { open->fetchCatalog(); }, "GET", phoneCatalogURL,
         {{"Authorization", std::nullopt}, {"X-VELK-Session-ID", sessionUUID}}, 64u << 20},
        {"range", [&] { client->fetchRange(fileURL, 0, 8'388'607, 100'000'000, separatedDigest(fileDigest)); }, "GET", fileURL,
         {{"Range", "bytes=0-8388607"}, {"Accept-Encoding", "identity"}, {"Accept", std::nullopt}, {"Authorization", bearer}},
         8'388'608},
        {"sidecar", [&] { client->fetchTimingSidecar(clipUUID, "/velk/v1/files/" + clipUUID + ".timing.json", fileDigest); },
         "GET", sidecarURL, {{"Accept", std::nullopt}, {"Range", std::nullopt}, {"X-VELK-Session-ID", sessionUUID}}, 8'388'608},
        {"trash", [&] { client->trashSourceProject("unassigned", requestUUID, proof()); }, "POST",
         "https://phone.local:8443/velk/v1/projects/delete",
         {{"Content-Type", "application/json"}, {"X-VELK-Session-ID", sessionUUID}, {"Authorization", bearer}}, std::nullopt},
        {"end", [&] { client->end(); }, "POST", "https://phone.local:8443/velk/v1/session/end",
         {{"Authorization", bearer}, {"X-VELK-Session-ID", sessionUUID}}, std::nullopt},
    };
    answer(500);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        outcome(c.call);
        const HttpsRequest request = state->lastRequest();
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.url, c.url);
        for (const auto& [name, value] : c.headers) EXPECT_EQ(headerOf(request, name), value) << name;
        EXPECT_EQ(c.maxBodyBytes.value_or(request.maxBodyBytes), request.maxBodyBytes);
        EXPECT_EQ(request.body.empty(), request.method == "GET" || c.name == "end");
    }
}

TEST_F(Requests, RefusedBeforeAnythingIsSent) {
    const std::string route = "Catalog file route does not match its immutable clip ID.";
    const std::string badRange = "Requested byte range is invalid.";
    const std::string badProof = "Invalid verified project proof.";
    const std::string offOrigin = "Transfer request attempted to leave the paired HTTPS origin.";
    auto range = [&](std::string url, std::int64_t start, std::int64_t end, std::int64_t total, std::string digest) {
        return [=, this] { client->fetchRange(url, start, end, total, digest); };
    };
    auto sidecar = [&](std::string id, std::string url) {
        return [=, this] { client->fetchTimingSidecar(id, url, fileDigest); };
    };
    auto tainted = [&](std::string bearer) {
        return [=, this] {
            auto other = pairedClient(bearer);
            try {
                other->fetchCatalog();
            } catch (const TransferProtocolError&) {
                EXPECT_FALSE(other->end());
                throw;
            }
        };
    };
    auto trashing = [&](std::string project, std::string request, std::size_t entries, std::string trashVersion) {
        return [=, this] { pairedClient(token, trashVersion)->trashSourceProject(project, request, proof(entries)); };
    };
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {range("https://phone.local:9443/velk/v1/files/" + clipUUID, 0, 0, 1, fileDigest), offOrigin},
        {range("http://phone.local:8443/velk/v1/files/" + clipUUID, 0, 0, 1, fileDigest), offOrigin},
        {range(fileURL, 5, 4, 10, fileDigest), badRange},
        {range(fileURL, -1, 4, 10, fileDigest), badRange},
        {range(fileURL, 0, 10, 10, fileDigest), badRange},
        {range(fileURL, 0, 8'388'608, 100'000'000, fileDigest), "Requested byte range exceeds the 8 MiB transfer limit."},
        {range(fileURL, 0, 0, 1, fileDigest.substr(1)), "Catalog SHA-256 is invalid."},
        {sidecar("7f1c2a34-5b6d-4e7f-8a9b-0c1d2e3f4a5b", sidecarURL), route},
        {sidecar(clipUUID, sidecarURL + "?v=2"), route},
        {sidecar(clipUUID, sidecarURL + "#"), route},
        {sidecar(clipUUID, fileURL), route},
        {sidecar(clipUUID, "https://phone.local:9443/velk/v1/files/" + clipUUID + ".timing.json"),
         "Catalog file URL must remain on the authenticated HTTPS origin."},
        // A header value that could break a request line is never put into one.
        {tainted(token + "\r\nX-Injected: 1"), "Transfer session is invalid."},
        {tainted(token + "\n"), "Transfer session is invalid."},
        {tainted(token + std::string(1, '\0')), "Transfer session is invalid."},
        {trashing("unassigned", upper(requestUUID), 1, "trash-v1"), badProof},
        {trashing("11111111-2222-4333-8444-55555555555A", requestUUID, 1, "trash-v1"), badProof},
        {trashing("unassigned-1", requestUUID, 1, "trash-v1"), badProof},
        {trashing("unassigned", requestUUID, 0, "trash-v1"), badProof},
        {trashing("unassigned", requestUUID, 10'001, "trash-v1"), badProof},
        {trashing("unassigned", requestUUID, 1, "trash-v2"), badProof},
        {[&] {
             clock.setWall(client->expiresAt());
             client->fetchCatalog();
         }, expired},
        {[&] { client->trashSourceProject("unassigned", requestUUID, proof()); }, expired},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        answer(200, confirmation().dump());
        EXPECT_EQ(outcome(cases[i].first), cases[i].second);
        state->invalidated = false;
        EXPECT_EQ(state->sentCount(), 0u);
    }
}

TEST_F(Requests, CatalogStatusSizeAndNoRetry) {
    answer(200, "{\"a\":1}");
    EXPECT_EQ(client->fetchCatalog(), (Bytes{'{', '"', 'a', '"', ':', '1', '}'}));
    answer(404, "missing");
    EXPECT_EQ(outcome([&] { client->fetchCatalog(); }), "Transfer server returned HTTP 404.");
    answer([](const HttpsRequest&) {
        HttpsResponse response = reply(200, "{}");
        response.bodyExceededLimit = true;
        return response;
    });
    EXPECT_EQ(outcome([&] { client->fetchCatalog(); }), "Catalog is too large.");
    answer([](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); });
    const auto before = state->sentCount();
    EXPECT_EQ(outcome([&] { client->fetchCatalog(); }), "transport: The request timed out.");
    EXPECT_EQ(state->sentCount(), before + 1);
}

TEST_F(Requests, RangeReplyChecks) {
    const std::string support = "File server did not confirm byte-range support.";
    const std::string wrongRange = "File server returned the wrong byte range.";
    const std::string length = "Downloaded chunk length does not match the requested range.";
    const std::string identity = "File identity headers do not match the catalog.";
    struct Case {
        std::string name;
        int status;
        std::string body;
        std::vector<std::pair<std::string, std::optional<std::string>>> edits; // none: header removed
        std::string outcome;
        bool declareLength = true;
    };
    const std::vector<Case> cases = {
        {"good", 206, "abcd", {}, "succeeded"},
        {"whole file with 200", 200, std::string(100, 'x'), {}, "Transfer server returned HTTP 200."},
        {"redirect", 302, "", {{"Location", "https://elsewhere/"}}, "Transfer server returned HTTP 302."},
        {"Accept-Ranges in capitals", 206, "abcd", {{"Accept-Ranges", "Bytes"}}, "succeeded"},
        {"Accept-Ranges none", 206, "abcd", {{"Accept-Ranges", "none"}}, support},
        {"no Accept-Ranges", 206, "abcd", {{"Accept-Ranges", std::nullopt}}, support},
        {"other total", 206, "abcd", {{"Content-Range", "bytes 10-13/101"}}, wrongRange},
        {"other start", 206, "abcd", {{"Content-Range", "bytes 9-13/100"}}, wrongRange},
        {"unparsable range", 206, "abcd", {{"Content-Range", "bytes */100"}}, wrongRange},
        {"no Content-Range", 206, "abcd", {{"Content-Range", std::nullopt}}, wrongRange},
        {"short body", 206, "abc", {}, length},
        {"long body", 206, "abcde", {}, length},
        {"no declared length", 206, "abcd", {}, length, false},
        {"declared length differs", 206, "abcd", {{"Content-Length", "5"}}, length, false},
        {"no ETag", 206, "abcd", {{"ETag", std::nullopt}}, identity},
        {"no X-VELK-SHA256", 206, "abcd", {{"X-VELK-SHA256", std::nullopt}}, identity},
        {"ETag without the digest prefix", 206, "abcd", {{"ETag", "\"" + fileDigest + "\""}}, identity},
        {"other X-VELK-SHA256", 206, "abcd", {{"X-VELK-SHA256", fingerprint}}, identity},
        {"weak ETag in capitals", 206, "abcd", {{"ETag", "W/\"SHA256:" + upper(fileDigest) + "\""}}, "succeeded"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HttpsResponse response = reply(c.status, c.body, c.status == 302 ? HttpHeaders{} : rangeHeaders("bytes 10-13/100"),
                                       c.declareLength);
        for (const auto& [name, value] : c.edits) {
            std::erase_if(response.headers, [&](const auto& header) { return header.first == name; });
            if (value) response.headers.emplace_back(name, *value);
        }
        answer([&](const HttpsRequest&) { return response; });
        EXPECT_EQ(outcome([&] { EXPECT_EQ(client->fetchRange(fileURL, 10, 13, 100, fileDigest), (Bytes{'a', 'b', 'c', 'd'})); }),
                  c.outcome);
    }
    EXPECT_TRUE(sleeps.empty()); // a wrong reply is never retried
}

TEST_F(Requests, RangeRetriesStopAtExpiryAndCancellation) {
    int attempts = 0;
    answer([&](const HttpsRequest&) -> HttpsResponse {
        if (++attempts <= 2) throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out.");
        return reply(206, "abcd", rangeHeaders("bytes 10-13/100"));
    });
    EXPECT_EQ(client->fetchRange(fileURL, 10, 13, 100, fileDigest).size(), 4u);
    EXPECT_EQ(sleeps, (std::vector<std::uint64_t>{250'000'000, 750'000'000}));

    // Every retry checks the expiry again.
    answer([](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); });
    clock.setWall(client->expiresAt() - std::chrono::milliseconds(100));
    auto before = state->sentCount();
    EXPECT_EQ(outcome([&] { client->fetchRange(fileURL, 10, 13, 100, fileDigest); }), expired);
    EXPECT_EQ(state->sentCount(), before + 1);

    clock.setWall(pairingNow);
    CancellationToken cancellation;
    environment.sleeper = [&](std::uint64_t, const CancellationToken* given) {
        cancellation.cancel();
        if (given && given->isCancelled()) throw OperationCancelledError();
    };
    auto cancellable = pairedClient(token);
    answer([](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); });
    EXPECT_THROW(cancellable->fetchRange(fileURL, 10, 13, 100, fileDigest, &cancellation), OperationCancelledError);
    EXPECT_EQ(state->sentCount(), 1u);
}

TEST_F(Requests, TimingSidecarIsVerified) {
    const std::string digest = Sha256::hexOf(sidecarBody);
    answer(200, sidecarBody);
    const Bytes read = client->fetchTimingSidecar(clipUUID, sidecarURL, digest);
    EXPECT_EQ(std::string(read.begin(), read.end()), sidecarBody);

    const std::string sentence = "Timing sidecar failed length or SHA-256 verification.";
    const std::vector<std::pair<std::string, HttpsResponse>> cases = {
        {"404", reply(404, sidecarBody)},
        {"empty", reply(200, "")},
        {"other digest", reply(200, sidecarBody + " ")},
        {"no declared length", reply(200, sidecarBody, {}, false)},
        {"over 8 MiB", reply(200, std::string(8'388'609, ' '))},
    };
    for (const auto& [name, response] : cases) {
        SCOPED_TRACE(name);
        answer([&](const HttpsRequest&) { return response; });
        EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipUUID, sidecarURL, digest); }), sentence);
    }
    // An invalid catalog digest fails at the comparison, after the read.
    answer(200, sidecarBody);
    const auto before = state->sentCount();
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipUUID, sidecarURL, "abc"); }), sentence);
    EXPECT_EQ(state->sentCount(), before + 1);
    // A dropped connection is read again.
    bool dropped = false;
    answer([&](const HttpsRequest&) -> HttpsResponse {
        if (!std::exchange(dropped, true)) throw HttpsTransportError(HttpsErrorKind::connectionLost, "lost");
        return reply(200, sidecarBody);
    });
    EXPECT_EQ(outcome([&] { client->fetchTimingSidecar(clipUUID, sidecarURL, digest); }), "succeeded");
}

TEST_F(Requests, EndIsTrueOnlyWhenConfirmedAndAlwaysCloses) {
    struct Case {
        std::string name;
        std::function<HttpsResponse(const HttpsRequest&)> handler;
        bool expired;
        bool confirmed;
    };
    const std::vector<Case> cases = {
        {"204", [](const HttpsRequest&) { return reply(204); }, false, true},
        {"404", [](const HttpsRequest&) { return reply(404); }, false, false},
        {"lost", [](const HttpsRequest&) -> HttpsResponse { throw HttpsTransportError(HttpsErrorKind::connectionLost, "lost"); },
         false, false},
        {"expired", [](const HttpsRequest&) { return reply(204); }, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        state->invalidated = false;
        auto ending = pairedClient(token);
        if (c.expired) clock.setWall(ending->expiresAt() + std::chrono::seconds(1));
        answer(c.handler);
        EXPECT_EQ(ending->end(), c.confirmed);
        EXPECT_EQ(state->sentCount(), c.expired ? 0u : 1u);
        EXPECT_TRUE(state->invalidated);
        EXPECT_EQ(outcome([&] { ending->fetchCatalog(); }).rfind("transport: ", 0), c.expired ? std::string::npos : 0u);
    }
}

TEST_F(Requests, ProjectTrashBodyAndSizeLimits) {
    answer(200, confirmation().dump());
    EXPECT_EQ(trash(projectUUID), "succeeded");
    EXPECT_EQ(json::parse(state->lastRequest().body),
              (Json{{"schemaVersion", 1},
                    {"requestId", requestUUID},
                    {"projectId", projectUUID},
                    {"clips", Json::array({Json{{"clipId", clipUUID}, {"sha256", fileDigest}}})}}));
    EXPECT_EQ(trash("unassigned", requestUUID, Proof(10'000, {{"clipId", "c"}, {"sha256", "d"}})), "succeeded");
    // One entry padded so that the body is exactly 1 MiB, then one byte more.
    Proof entries = proof();
    entries[0]["note"] = "";
    const Json probe{{"schemaVersion", 1}, {"requestId", requestUUID}, {"projectId", "unassigned"}, {"clips", Json::array({entries[0]})}};
    entries[0]["note"] = std::string(1'048'576 - json::write(probe).size(), 'x');
    EXPECT_EQ(trash("unassigned", requestUUID, entries), "succeeded");
    EXPECT_EQ(state->lastRequest().body.size(), 1'048'576u);
    entries[0]["note"] += "x";
    const auto before = state->sentCount();
    EXPECT_EQ(trash("unassigned", requestUUID, entries), "Project proof is too large.");
    EXPECT_EQ(state->sentCount(), before);
}

TEST_F(Requests, OnlyAnExactTrashConfirmationCounts) {
    const std::string refused = "Source did not confirm recoverable project removal.";
    auto changed = [](std::function<void(Json&)> change) {
        Json body = confirmation();
        change(body);
        return body.dump();
    };
    struct Case {
        std::string name;
        std::string body;
        std::string outcome;
        int status = 200;
    };
    const std::vector<Case> cases = {
        {"schema 1.0", changed([](Json& j) { j["schemaVersion"] = 1.0; }), "succeeded"},
        {"extra members", changed([](Json& j) { j["note"] = "ok"; }), "succeeded"},
        {"schema true", changed([](Json& j) { j["schemaVersion"] = true; }), refused},
        {"schema 2", changed([](Json& j) { j["schemaVersion"] = 2; }), refused},
        {"schema missing", changed([](Json& j) { j.erase("schemaVersion"); }), refused},
        {"moved 1", changed([](Json& j) { j["movedToTrash"] = 1; }), refused},
        {"moved false", changed([](Json& j) { j["movedToTrash"] = false; }), refused},
        {"moved null", changed([](Json& j) { j["movedToTrash"] = nullptr; }), refused},
        {"other request", changed([](Json& j) { j["requestId"] = "1a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"; }), refused},
        {"an array", Json::array({confirmation()}).dump(), refused},
        {"204", confirmation().dump(), refused, 204},
        {"empty", "", "undecodable"},
        {"over 1 MiB", std::string(1'048'577, ' '), "undecodable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.status, c.body);
        EXPECT_EQ(trash(), c.outcome);
    }
}

} // namespace
} // namespace velk
