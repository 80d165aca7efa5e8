#pragma once
// What a camera's preview frame may be: the sizes a camera sends, and what decoding a frame may
// cost, counted from its scan headers as each scan starts, before the scan is decoded. Plain rules
// on what a frame declares; the JPEG decode (preview_client.cpp) applies them.

#include <algorithm>
#include <cstdint>

namespace velk::VELKPreviewClient {

// The largest frame a camera sends is Full HD, the size of its live-production stream (its wall and
// selected streams are smaller); one that turns its pixels upright sends it standing, 1080 x 1920.
inline constexpr int largestFrameLongSide = 1920;
inline constexpr int largestFrameShortSide = 1080;

constexpr bool isAcceptedFrameSize(int width, int height) {
    return width > 0 && height > 0 && std::max(width, height) <= largestFrameLongSide &&
           std::min(width, height) <= largestFrameShortSide;
}

// One scan as its header declares it.
struct ScanShape {
    std::int64_t blocks = 0;  // the 8 x 8 blocks it covers, of all its components
    int firstCoefficient = 0; // its band (Ss to Se), in a progressive frame
    int lastCoefficient = 63;
    bool progressive = false; // a sequential scan decodes every coefficient of a block
};

// Each block costs its band's coefficients and this much besides (reading the block, storing it);
// with it a scan of DC coefficients alone, the cheapest per coefficient, is not counted as nearly
// free.
inline constexpr std::int64_t blockWork = 16;

// What decoding a scan costs, in coefficients.
constexpr std::int64_t scanWork(const ScanShape& scan) {
    const int band = scan.progressive ? std::clamp(scan.lastCoefficient - scan.firstCoefficient + 1, 1, 64) : 64;
    return std::max<std::int64_t>(scan.blocks, 0) * (band + blockWork);
}

// A plain frame of the largest size: one sequential scan over three components at full resolution.
inline constexpr std::int64_t plainFrameWork =
    scanWork({3 * ((largestFrameLongSide + 7) / 8) * ((largestFrameShortSide + 7) / 8)});

// What one frame may cost: five plain frames of the largest size. The progressive scans libjpeg
// writes cost 2.8 of them at that size in YCbCr without subsampling, 3.6 in RGB and 4.8 in CMYK.
inline constexpr std::int64_t frameWorkBudget = 5 * plainFrameWork;
// And however small its scans, a frame has at most this many.
inline constexpr int maximumScans = 500;

// A frame's work, counted scan by scan as each starts.
class FrameWork {
public:
    // Counts a scan about to be decoded; false when the frame is then past `maximumScans` scans or
    // its work past `frameWorkBudget`: it is refused before that scan costs anything.
    constexpr bool startScan(const ScanShape& scan) {
        ++m_scans;
        m_work += scanWork(scan);
        return m_scans <= maximumScans && m_work <= frameWorkBudget;
    }
    constexpr std::int64_t work() const { return m_work; }

private:
    int m_scans = 0;
    std::int64_t m_work = 0;
};

} // namespace velk::VELKPreviewClient
