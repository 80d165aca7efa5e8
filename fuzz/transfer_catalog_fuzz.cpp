// A phone's catalog as the transfer client checks it: decoding, then every rule of the
// authenticated catalog with each file URL resolved against the catalog URL. Bytes that are not a
// catalog are tried as one URL reference instead. Refusals are exceptions of the two error types;
// nothing may crash, and an accepted clip URL stays on the catalog's origin.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/catalog.hpp"
#include "transfer/transfer_protocol.hpp"

namespace {
constexpr std::string_view kCatalogURL = "https://phone.local:8443/velk/v1/catalog";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velk;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const DeviceCatalog catalog = decodeCatalog(text);
        TransferProtocol::validateAuthenticatedCatalog(catalog, kCatalogURL);
    } catch (const JsonError&) {
    } catch (const TransferProtocolError&) {
    }

    (void)transfer_detail::resolveReference(text, kCatalogURL);
    try {
        const std::string url = TransferProtocol::resolvedClipURL(text, "clip-1", kCatalogURL, size % 2 == 1);
        if (!TransferProtocol::isSameOrigin(url, kCatalogURL)) std::abort();
    } catch (const TransferProtocolError&) {
    }
    return 0;
}
