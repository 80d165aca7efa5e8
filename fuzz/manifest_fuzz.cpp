// Any bytes either fail to decode as a source manifest with JsonError, or decode into a manifest
// whose written form reads back to the same written form.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/source_manifest.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velk::SourceManifest manifest;
    try {
        manifest = velk::decodeSourceManifest(text);
    } catch (const velk::JsonError&) {
        return 0;
    }
    const std::string written = velk::encodeSourceManifest(manifest);
    if (velk::encodeSourceManifest(velk::decodeSourceManifest(written)) != written) std::abort();
    return 0;
}
