#include <thread>

#include <gtest/gtest.h>

#include "transfer/transfer_protocol.hpp"
#include "transfer/transfer_read_retry.hpp"

namespace velk {
namespace {

HttpsTransportError timedOut() { return HttpsTransportError(HttpsErrorKind::timedOut, "The request timed out."); }

struct Recorder {
    std::vector<std::uint64_t> sleeps;
    TransferReadRetry::Sleeper sleeper() {
        return [this](std::uint64_t nanoseconds, const CancellationToken*) { sleeps.push_back(nanoseconds); };
    }
};

TEST(TransferReadRetry, TransientKinds) {
    EXPECT_TRUE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::timedOut, "")));
    EXPECT_TRUE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::connectionLost, "")));
    EXPECT_FALSE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::cancelled, "")));
    EXPECT_FALSE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::other, "")));
    EXPECT_FALSE(TransferReadRetry::isTransient(TransferProtocolError::invalid("x")));
    EXPECT_FALSE(TransferReadRetry::isTransient(OperationCancelledError()));
}

TEST(TransferReadRetry, TwoTimeOutsThenSuccess) {
    Recorder recorder;
    int attempts = 0;
    const int result = TransferReadRetry::run(
        TransferReadRetry::defaultDelays,
        [&] {
            if (++attempts < 3) throw timedOut();
            return 42;
        },
        nullptr, recorder.sleeper());
    EXPECT_EQ(result, 42);
    EXPECT_EQ(recorder.sleeps, (std::vector<std::uint64_t>{250'000'000, 750'000'000}));
}

TEST(TransferReadRetry, ThirdTransientFailureIsRethrownUnchanged) {
    Recorder recorder;
    int attempts = 0;
    try {
        TransferReadRetry::run(
            TransferReadRetry::defaultDelays,
            [&]() -> int { throw HttpsTransportError(HttpsErrorKind::connectionLost, "attempt " + std::to_string(++attempts)); },
            nullptr, recorder.sleeper());
        ADD_FAILURE();
    } catch (const HttpsTransportError& error) {
        EXPECT_STREQ(error.what(), "attempt 3");
        EXPECT_EQ(error.kind(), HttpsErrorKind::connectionLost);
    }
    EXPECT_EQ(recorder.sleeps.size(), 2u);
}

TEST(TransferReadRetry, NonTransientFailsAtOnce) {
    Recorder recorder;
    int attempts = 0;
    EXPECT_THROW(TransferReadRetry::run(
                     TransferReadRetry::defaultDelays,
                     [&]() -> int {
                         ++attempts;
                         throw TransferProtocolError::invalid("File server returned the wrong byte range.");
                     },
                     nullptr, recorder.sleeper()),
                 TransferProtocolError);
    EXPECT_EQ(attempts, 1);
    EXPECT_TRUE(recorder.sleeps.empty());
}

TEST(TransferReadRetry, EmptyDelayListRunsOnce) {
    Recorder recorder;
    int attempts = 0;
    EXPECT_THROW(TransferReadRetry::run(
                     std::vector<std::uint64_t>{}, [&]() -> int { ++attempts; throw timedOut(); }, nullptr, recorder.sleeper()),
                 HttpsTransportError);
    EXPECT_EQ(attempts, 1);
}

TEST(TransferReadRetry, CancelledBeforeTheFirstAttempt) {
    CancellationToken token;
    token.cancel();
    int attempts = 0;
    EXPECT_THROW(TransferReadRetry::run(TransferReadRetry::defaultDelays, [&] { return ++attempts; }, &token),
                 OperationCancelledError);
    EXPECT_EQ(attempts, 0);
}

TEST(TransferReadRetry, CancelledFailureIsRethrownNotRetried) {
    CancellationToken token;
    Recorder recorder;
    EXPECT_THROW(TransferReadRetry::run(
                     TransferReadRetry::defaultDelays,
                     [&]() -> int {
                         token.cancel();
                         throw timedOut();
                     },
                     &token, recorder.sleeper()),
                 HttpsTransportError);
    EXPECT_TRUE(recorder.sleeps.empty());
}

TEST(TransferReadRetry, CancellationDuringARealSleepEndsTheRetry) {
    CancellationToken token;
    int attempts = 0;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        token.cancel();
    });
    EXPECT_THROW(TransferReadRetry::run(
                     std::vector<std::uint64_t>{60'000'000'000}, [&]() -> int { ++attempts; throw timedOut(); }, &token),
                 OperationCancelledError);
    canceller.join();
    EXPECT_EQ(attempts, 1);
}

TEST(TransferReadRetry, RealTimeTwoTimeOutsThenSuccess) {
    // Sleeps the real default delays (about one second in all).
    int attempts = 0;
    const int result = TransferReadRetry::run(TransferReadRetry::defaultDelays, [&] {
        if (++attempts < 3) throw timedOut();
        return attempts;
    });
    EXPECT_EQ(result, 3);
}

} // namespace
} // namespace velk
