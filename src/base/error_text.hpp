#pragma once
// The text a user sees for a failure that reached a caller as an exception.

#include <exception>
#include <string>

namespace velk {

// Said for an exception that carries no sentence of its own.
inline constexpr const char* kUnknownErrorText = "Unknown error.";

// The error's own sentence (`what()`), or kUnknownErrorText for an exception that is not a
// std::exception. Null gives an empty text.
std::string describeError(const std::exception_ptr& error);

} // namespace velk
