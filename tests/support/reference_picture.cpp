#include "reference_picture.h"

#include <cstring>
#include <stdexcept>

#include "wic_image.h"

namespace {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

uint8_t clamp(double v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

void yuvToBgr(int y, int u, int v, uint8_t* bgr) {
    const double luma = 1.164 * (y - 16);
    bgr[0] = clamp(luma + 2.018 * (u - 128));
    bgr[1] = clamp(luma - 0.391 * (u - 128) - 0.813 * (v - 128));
    bgr[2] = clamp(luma + 1.596 * (v - 128));
}

}  // namespace

std::vector<uint8_t> referenceBgr(const ReferenceFormat& format, const uint8_t* frame, size_t length) {
    const int w = format.width, h = format.height;
    std::vector<uint8_t> bgr(size_t(w) * h * 3);
    // Packed YUV rows are width x 2 bytes; DIB rows are padded to four bytes.
    const size_t stride = format.fourcc ? size_t(w) * 2 : (size_t(w) * format.bitCount + 31) / 32 * 4;
    if (format.fourcc == fourcc('M', 'J', 'P', 'G')) {
        const DecodedImage image = decodeImageBytes(frame, length);
        if (int(image.width) != w || int(image.height) != h)
            throw std::runtime_error("the JPEG is not the frame's size");
        return image.bgr;
    }
    const bool packed = format.fourcc == fourcc('Y', 'U', 'Y', '2') || format.fourcc == fourcc('U', 'Y', 'V', 'Y');
    const size_t needed = !format.fourcc ? stride * h
                          : packed      ? stride * h
                          : format.fourcc == fourcc('Y', '8', '0', '0') ? size_t(w) * h
                                                                        : size_t(w) * h * 3 / 2;
    if (length < needed)
        throw std::runtime_error("the frame is shorter than its format");
    const uint8_t* luma = frame;
    const uint8_t* chroma = frame + size_t(w) * h;
    const size_t chromaPlane = size_t((w + 1) / 2) * ((h + 1) / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* out = &bgr[(size_t(y) * w + x) * 3];
            const uint8_t* pair = frame + size_t(y) * stride + size_t(x / 2) * 4;
            const int half = (y / 2) * ((w + 1) / 2) + x / 2;
            switch (format.fourcc) {
            case fourcc('Y', 'U', 'Y', '2'): yuvToBgr(pair[(x % 2) * 2], pair[1], pair[3], out); continue;
            case fourcc('U', 'Y', 'V', 'Y'): yuvToBgr(pair[1 + (x % 2) * 2], pair[0], pair[2], out); continue;
            case fourcc('N', 'V', '1', '2'):
                yuvToBgr(luma[size_t(y) * w + x], chroma[size_t(y / 2) * w + (x / 2) * 2],
                         chroma[size_t(y / 2) * w + (x / 2) * 2 + 1], out);
                continue;
            case fourcc('I', '4', '2', '0'):
                yuvToBgr(luma[size_t(y) * w + x], chroma[half], chroma[chromaPlane + half], out);
                continue;
            case fourcc('Y', 'V', '1', '2'):
                yuvToBgr(luma[size_t(y) * w + x], chroma[chromaPlane + half], chroma[half], out);
                continue;
            case fourcc('Y', '8', '0', '0'): out[0] = out[1] = out[2] = luma[size_t(y) * w + x]; continue;
            default: break;
            }
            // DIB rows: the bottom row first unless top-down.
            const uint8_t* row = frame + size_t(format.bottomUp ? h - 1 - y : y) * stride;
            switch (format.pixelFormat) {
            case 5: std::memcpy(out, row + x * 3, 3); break;
            case 6: std::memcpy(out, row + x * 4, 3); break;
            case 3:
            case 4: {
                const unsigned v = row[x * 2] | row[x * 2 + 1] << 8;
                const bool is565 = format.pixelFormat == 4;
                out[0] = uint8_t((v & 31) * 255 / 31);
                out[1] = uint8_t(is565 ? ((v >> 5) & 63) * 255 / 63 : ((v >> 5) & 31) * 255 / 31);
                out[2] = uint8_t(((is565 ? v >> 11 : v >> 10) & 31) * 255 / 31);
                break;
            }
            default: return {};
            }
        }
    return bgr;
}
