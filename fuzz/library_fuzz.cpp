// Any bytes either fail to decode as a library with JsonError, or decode into a library that
// writes and reads back unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/library.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velk::VELKLibrary library;
    try {
        library = velk::decodeLibrary(text);
    } catch (const velk::JsonError&) {
        return 0;
    }
    const std::string written = velk::encodeLibrary(library, true);
    const velk::VELKLibrary back = velk::decodeLibrary(written);
    if (back.projects != library.projects) std::abort();
    if (velk::encodeLibrary(back, false) != velk::encodeLibrary(library, false)) std::abort();
    return 0;
}
