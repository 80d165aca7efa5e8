#include "store/store_async.hpp"

#include "base/error_text.hpp"
#include "transfer/https_session.hpp"
#include "transfer/transfer_protocol.hpp"

namespace velk::store_async {

std::string describe(const std::exception_ptr& error) { return describeError(error); }

bool endsSession(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const HttpsTransportError&) {
        return true;
    } catch (const TransferProtocolError&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace velk::store_async
