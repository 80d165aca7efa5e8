
#include <gtest/gtest.h>

#include "transfer/transfer_protocol.hpp"
#include "transfer/transfer_read_retry.hpp"
#include "transfer_test_support.hpp"

namespace velk {
namespace {

HttpsTransportError failure(HttpsErrorKind kind, int attempt) { return HttpsTransportError(kind, "attempt " + std::to_string(attempt)); }

TEST(TransferReadRetry, TransientKinds) {
    EXPECT_TRUE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::timedOut, "")));
    EXPECT_TRUE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::connectionLost, "")));
    EXPECT_FALSE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::cancelled, "")));
    EXPECT_FALSE(TransferReadRetry::isTransient(HttpsTransportError(HttpsErrorKind::other, "")));
    EXPECT_EQ(HttpsErrorKind{}, HttpsErrorKind::other); // a kind nobody set is neither a cancellation nor transient
    EXPECT_FALSE(TransferReadRetry::isTransient(TransferProtocolError::invalid("x")));
    EXPECT_FALSE(TransferReadRetry::isTransient(OperationCancelledError()));
}

TEST(TransferReadRetry, AttemptsAndSleeps) {
    struct Case {
        std::string name;
        std::vector<std::uint64_t> delays;
        int failures; // attempts that fail before one succeeds
        HttpsErrorKind kind;
        std::string outcome;
        int attempts;
        std::vector<std::uint64_t> sleeps;
    };
    const std::vector<std::uint64_t> defaults = TransferReadRetry::defaultDelays;
    const std::vector<Case> cases = {
        {"two time-outs then success", defaults, 2, HttpsErrorKind::timedOut, "succeeded", 3, {250'000'000, 750'000'000}},
        {"the third failure is rethrown unchanged", defaults, 9, HttpsErrorKind::connectionLost, "transport: attempt 3", 3,
         {250'000'000, 750'000'000}},
        {"not transient fails at once", defaults, 9, HttpsErrorKind::other, "transport: attempt 1", 1, {}},
        {"empty delay list runs once", {}, 9, HttpsErrorKind::timedOut, "transport: attempt 1", 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint64_t> sleeps;
        int attempts = 0;
        EXPECT_EQ(testing::outcome([&] {
                      TransferReadRetry::run(
                          c.delays,
                          [&] {
                              if (++attempts <= c.failures) throw failure(c.kind, attempts);
                              return attempts;
                          },
                          nullptr, [&](std::uint64_t nanoseconds, const CancellationToken*) { sleeps.push_back(nanoseconds); });
                  }),
                  c.outcome);
        EXPECT_EQ(attempts, c.attempts);
        EXPECT_EQ(sleeps, c.sleeps);
    }
    int attempts = 0;
    EXPECT_EQ(testing::outcome([&] {
                  TransferReadRetry::run(defaults, [&]() -> int {
                      ++attempts;
                      throw TransferProtocolError::invalid("File server returned the wrong byte range.");
                  });
              }),
              "File server returned the wrong byte range.");
    EXPECT_EQ(attempts, 1);
}

TEST(TransferReadRetry, Cancellation) {
    CancellationToken token;
    token.cancel();
    int attempts = 0;
    EXPECT_THROW(TransferReadRetry::run(TransferReadRetry::defaultDelays, [&] { return ++attempts; }, &token),
                 OperationCancelledError);
    EXPECT_EQ(attempts, 0);

    // A failure after cancellation is rethrown, not retried.
    CancellationToken during;
    std::vector<std::uint64_t> sleeps;
    EXPECT_THROW(TransferReadRetry::run(
                     TransferReadRetry::defaultDelays,
                     [&]() -> int {
                         during.cancel();
                         throw failure(HttpsErrorKind::timedOut, 1);
                     },
                     &during, [&](std::uint64_t nanoseconds, const CancellationToken*) { sleeps.push_back(nanoseconds); }),
                 HttpsTransportError);
    EXPECT_TRUE(sleeps.empty());

    // The real sleeper wakes for a cancelled token at once, however long the delay, and otherwise waits.
    CancellationToken stopped;
    stopped.cancel();
    EXPECT_THROW(TransferReadRetry::realSleep(60'000'000'000, &stopped), OperationCancelledError);
    CancellationToken running;
    EXPECT_NO_THROW(TransferReadRetry::realSleep(1'000, &running));
    EXPECT_NO_THROW(TransferReadRetry::realSleep(1'000, nullptr));
}

} // namespace
} // namespace velk
