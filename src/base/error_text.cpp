#include "base/error_text.hpp"

namespace velk {

std::string describeError(const std::exception_ptr& error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return kUnknownErrorText;
    }
}

} // namespace velk
