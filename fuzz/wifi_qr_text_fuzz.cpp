// Any text either fails to read as a Wi-Fi QR code with WiFiQRError, or reads as details whose
// written form reads back as the same details.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "wifi/wifi_qr_codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velk::WiFiNetworkDetails details;
    try {
        details = velk::WiFiQRCodec::parse(text);
    } catch (const velk::WiFiQRError&) {
        return 0;
    }
    if (velk::WiFiQRCodec::parse(velk::WiFiQRCodec::encode(details)) != details) std::abort();
    return 0;
}
