#pragma once
// The Director's side of the preview service, with decoding: JPEG frames become QImages on the
// calling (worker) thread, bounded in size before anything is decoded. Every operation blocks for
// at most its time-outs and must not run on the GUI thread. Given a stream's FramePool, decoded
// frames live in its buffers (the application's streams); without one, on the heap.

#include <functional>
#include <string>

#include <QImage>

#include "preview/frame_pool.hpp"
#include "preview/preview_protocol.hpp"

namespace velk::VELKPreviewClient {

// Decodes a frame as JPEG into a QImage of Format_RGB32, refusing it (invalidJPEG) when it fails
// the marker test, declares a size a camera does not send, would cost more to decode than
// frame_bounds.hpp allows (refused before that work is spent), or does not decode.
// With `frames`, the pixels are one of the pool's buffers, which goes back to the pool when the
// image's last copy is destroyed, on whatever thread; the image is null when the pool has no
// buffer to give.
QImage decodeJPEG(const std::string& data, FramePool* frames = nullptr);

// One-shot: connect, send the byte, read one frame, close; the frame's bytes once they have
// decoded as decodeJPEG decodes them (invalidJPEG otherwise).
std::string fetchJPEG(const std::string& host, std::uint16_t serverPort, std::uint8_t mode,
                      int timeoutMs = defaultTimeoutMs, PreviewSocketWatch* watch = nullptr);

// fetchJPEG with a 1500 ms time-out, returning the decoded image (as decodeJPEG with `frames`).
QImage fetchImage(const std::string& host, std::uint16_t serverPort, std::uint8_t mode,
                  PreviewSocketWatch* watch = nullptr, FramePool* frames = nullptr);

using FrameCallback = std::function<void(QImage, Transport)>;

// The stream operation: the persistent stream (paced on this side, on the monotonic clock), or
// one legacy fetch when `preferLegacy` is set or the stream fails before its first frame. Frames
// are decoded into `frames` when given; one the pool has no buffer for is not handed over.
Transport receive(const std::string& host, std::uint16_t serverPort, VELKPreviewProfile profile, bool preferLegacy,
                  const std::function<bool()>& shouldContinue, const FrameCallback& onFrame,
                  PreviewSocketWatch* watch = nullptr, FramePool* frames = nullptr);

} // namespace velk::VELKPreviewClient
