// Any bytes either fail to decode as a phone catalog with JsonError, or decode into a catalog
// whose written form reads back to the same written form.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/catalog.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velk::DeviceCatalog catalog;
    try {
        catalog = velk::decodeCatalog(text);
    } catch (const velk::JsonError&) {
        return 0;
    }
    const std::string written = velk::encodeCatalog(catalog);
    if (velk::encodeCatalog(velk::decodeCatalog(written)) != written) std::abort();
    return 0;
}
