// A preview frame is a phone's JPEG, decoded on a stream's worker into the stream's frame pool: any
// bytes may be refused, but the decoder must not crash, loop or write outside the frame, and an
// image it returns is of a size a camera sends, whether it was decoded into a pool or the heap.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <QImage>

#include "preview/frame_bounds.hpp"
#include "preview/frame_pool.hpp"
#include "preview/preview_client.hpp"
#include "preview/preview_protocol.hpp"

namespace {

void decodeOnce(const std::string& bytes, velk::FramePool* pool) {
    try {
        const QImage image = velk::VELKPreviewClient::decodeJPEG(bytes, pool);
        if (!image.isNull() && !velk::VELKPreviewClient::isAcceptedFrameSize(image.width(), image.height())) std::abort();
    } catch (const velk::VELKPreviewError&) {
        // Refused: what the stream does with any bytes that are not a frame it can show.
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    static velk::FramePool pool;
    decodeOnce(bytes, &pool);
    decodeOnce(bytes, nullptr);
    return 0;
}
