#include "frame_image.h"

#include <wincodec.h>

#include <cstring>
#include <utility>

namespace {

constexpr int32_t kMjpg = 7;

}  // namespace

bool pngPixels(const FrameInfo& info, const std::vector<uint8_t>& picture, std::vector<uint8_t>& pixels,
               GUID& format) {
    int bytes = 0;
    switch (info.pixelFormat) {
    case 5:
    case FENWYR_PIXEL_RGB: format = GUID_WICPixelFormat24bppBGR; bytes = 3; break;
    case 6:
    case FENWYR_PIXEL_RGBA: format = GUID_WICPixelFormat32bppBGRA; bytes = 4; break;
    case FENWYR_PIXEL_GRAY8: format = GUID_WICPixelFormat8bppGray; bytes = 1; break;
    default: return false;
    }
    pixels = picture;
    if (info.pixelFormat == FENWYR_PIXEL_RGB || info.pixelFormat == FENWYR_PIXEL_RGBA)
        for (size_t i = 0; i + 2 < pixels.size(); i += static_cast<size_t>(bytes))
            std::swap(pixels[i], pixels[i + 2]);
    return true;
}

bool frameSequence(const FrameInfo& info, const std::vector<uint8_t>& frame, uint32_t& sequence) {
    size_t at = 0;
    if (info.pixelFormat == kMjpg) {
        // SOI, then a comment segment whose first four bytes are the sequence number.
        if (frame.size() < 2 + 4 + 16 || frame[0] != 0xFF || frame[1] != 0xD8 || frame[2] != 0xFF || frame[3] != 0xFE)
            return false;
        at = 6;
    } else if (frame.size() < 4) {
        return false;
    }
    std::memcpy(&sequence, frame.data() + at, sizeof sequence);
    return true;
}
