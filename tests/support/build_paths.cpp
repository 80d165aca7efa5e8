#include "support/build_paths.hpp"

namespace velk::test {

std::string sourcePath(std::string_view relative) { return std::string(VELK_SOURCE_DIR "/").append(relative); }

std::string binaryPath(std::string_view relative) { return std::string(VELK_BINARY_DIR "/").append(relative); }

} // namespace velk::test
