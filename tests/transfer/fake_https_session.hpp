#pragma once
// An HttpsSession that answers from a test's handler and remembers every request it was given.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "transfer/authenticated_transfer_client.hpp"
#include "transfer/https_session.hpp"

namespace velk::testing {

struct FakeHttpsState {
    std::mutex mutex;
    std::function<HttpsResponse(const HttpsRequest&)> handler;
    std::vector<HttpsRequest> sent;
    std::vector<std::string> pins;
    bool invalidated = false;

    std::size_t sentCount() {
        std::lock_guard lock(mutex);
        return sent.size();
    }
    HttpsRequest lastRequest() {
        std::lock_guard lock(mutex);
        return sent.back();
    }
};

class FakeHttpsSession final : public HttpsSession {
public:
    explicit FakeHttpsSession(std::shared_ptr<FakeHttpsState> state) : m_state(std::move(state)) {}

    HttpsResponse send(const HttpsRequest& request) override {
        std::function<HttpsResponse(const HttpsRequest&)> handler;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->invalidated) throw HttpsTransportError(HttpsErrorKind::cancelled, "The transfer session has ended.");
            m_state->sent.push_back(request);
            handler = m_state->handler;
        }
        if (!handler) throw HttpsTransportError(HttpsErrorKind::other, "Could not connect to the camera.");
        HttpsResponse response = handler(request);
        if (response.body.size() > request.maxBodyBytes) {
            response.body.resize(request.maxBodyBytes);
            response.bodyExceededLimit = true;
        }
        return response;
    }

    void invalidate() override {
        std::lock_guard lock(m_state->mutex);
        m_state->invalidated = true;
    }

private:
    std::shared_ptr<FakeHttpsState> m_state;
};

inline HttpsSessionFactory fakeSessionFactory(std::shared_ptr<FakeHttpsState> state) {
    return [state](std::string_view pin) {
        {
            std::lock_guard lock(state->mutex);
            state->pins.emplace_back(pin);
        }
        return std::make_unique<FakeHttpsSession>(state);
    };
}

inline HttpsResponse reply(int status, std::string body = {}, HttpHeaders headers = {}, bool declareLength = true) {
    HttpsResponse response;
    response.status = status;
    response.headers = std::move(headers);
    if (declareLength) response.headers.emplace_back("Content-Length", std::to_string(body.size()));
    response.body.assign(body.begin(), body.end());
    return response;
}

inline std::optional<std::string> headerOf(const HttpsRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.headers) {
        if (key == name) return value;
    }
    return std::nullopt;
}

} // namespace velk::testing
