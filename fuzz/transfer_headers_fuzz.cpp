// The range reply headers a phone sends with every file chunk: Content-Range and ETag. Any text
// either parses into a range that lies inside its total, or into a 64-digit lower-case digest.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "transfer/transfer_protocol.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velk;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto range = TransferProtocol::parseContentRange(text)) {
        if (range->start < 0 || range->start > range->end || range->end >= range->total) std::abort();
    }
    if (auto digest = TransferProtocol::normalizedETagDigest(text)) {
        if (digest->size() != 64) std::abort();
        for (char c : *digest)
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) std::abort();
    }
    return 0;
}
