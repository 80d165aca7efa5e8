#include "transfer/transfer_read_retry.hpp"

namespace velk::TransferReadRetry {

void realSleep(std::uint64_t nanoseconds, const CancellationToken* cancellation) {
    if (cancellation) {
        if (!cancellation->waitFor(nanoseconds)) throw OperationCancelledError();
        return;
    }
    CancellationToken never;
    never.waitFor(nanoseconds);
}

bool isTransient(const std::exception& error) {
    const auto* transport = dynamic_cast<const HttpsTransportError*>(&error);
    return transport && (transport->kind() == HttpsErrorKind::connectionLost || transport->kind() == HttpsErrorKind::timedOut);
}

namespace detail {
bool isTransient(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return TransferReadRetry::isTransient(caught);
    } catch (...) {
        return false;
    }
}
} // namespace detail

} // namespace velk::TransferReadRetry
