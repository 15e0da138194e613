#include "frame_image.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

using Microsoft::WRL::ComPtr;

namespace {

enum PixelFormat { kRgb8 = 2, kRgb555 = 3, kRgb565 = 4, kRgb24 = 5, kRgb32 = 6, kMjpg = 7, kYuy2 = 8 };

BYTE clamp(int v) {
    return static_cast<BYTE>(std::min(255, std::max(0, v)));
}

// Studio-range BT.601, as capture devices deliver it.
void yuvToBgr(int y, int u, int v, BYTE* bgr) {
    const int c = y - 16, d = u - 128, e = v - 128;
    bgr[0] = clamp((298 * c + 516 * d + 128) >> 8);
    bgr[1] = clamp((298 * c - 100 * d - 208 * e + 128) >> 8);
    bgr[2] = clamp((298 * c + 409 * e + 128) >> 8);
}

void need(size_t have, size_t wanted) {
    if (have < wanted)
        throw std::runtime_error("frame of " + std::to_string(have) + " bytes is shorter than its format's " +
                                 std::to_string(wanted));
}

BgrImage decodeJpeg(const std::vector<uint8_t>& frame) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> decoded;
    ComPtr<IWICBitmapSource> bgr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(frame.data()), static_cast<DWORD>(frame.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetFrame(0, &decoded)) ||
        FAILED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, decoded.Get(), &bgr)))
        throw std::runtime_error("MJPG frame does not decode as JPEG");
    BgrImage image;
    bgr->GetSize(&image.width, &image.height);
    image.pixels.resize(size_t(image.width) * image.height * 3);
    if (FAILED(bgr->CopyPixels(nullptr, image.width * 3, static_cast<UINT>(image.pixels.size()), image.pixels.data())))
        throw std::runtime_error("MJPG frame does not decode as JPEG");
    return image;
}

} // namespace

BgrImage frameToImage(const ResolutionInfo& format, const std::vector<uint8_t>& frame) {
    if (format.pixelFormat == kMjpg)
        return decodeJpeg(frame);

    BgrImage image;
    image.width = static_cast<UINT>(std::abs(format.width));
    image.height = static_cast<UINT>(std::abs(format.height));
    const size_t w = image.width, h = image.height;
    image.pixels.resize(w * h * 3);
    BYTE* out = image.pixels.data();
    const uint8_t* in = frame.data();

    if (format.pixelFormat == kYuy2) {
        need(frame.size(), w * h * 2);
        for (size_t row = 0; row < h; ++row)
            for (size_t x = 0; x < w; x += 2) {
                const uint8_t* p = in + row * w * 2 + x * 2;
                BYTE* o = out + (row * w + x) * 3;
                yuvToBgr(p[0], p[1], p[3], o);
                if (x + 1 < w)
                    yuvToBgr(p[2], p[1], p[3], o + 3);
            }
        return image;
    }
    if (format.pixelFormat == 0 && format.bitCount == 12) {  // NV12: Y plane, then interleaved U and V
        need(frame.size(), w * h * 3 / 2);
        const uint8_t* uv = in + w * h;
        for (size_t row = 0; row < h; ++row)
            for (size_t x = 0; x < w; ++x) {
                const uint8_t* c = uv + (row / 2) * w + (x / 2) * 2;
                yuvToBgr(in[row * w + x], c[0], c[1], out + (row * w + x) * 3);
            }
        return image;
    }

    // Uncompressed RGB: DWORD-aligned rows, bottom-up unless the height is negative.
    const int bits = format.bitCount;
    if (format.pixelFormat != kRgb8 && format.pixelFormat != kRgb555 && format.pixelFormat != kRgb565 &&
        format.pixelFormat != kRgb24 && format.pixelFormat != kRgb32)
        throw std::runtime_error(std::string("camcli cannot draw this pixel format"));
    const size_t stride = ((w * bits + 31) / 32) * 4;
    need(frame.size(), stride * h);
    for (size_t row = 0; row < h; ++row) {
        const uint8_t* line = in + (format.height > 0 ? h - 1 - row : row) * stride;
        BYTE* o = out + row * w * 3;
        for (size_t x = 0; x < w; ++x, o += 3) {
            switch (format.pixelFormat) {
            case kRgb8: {
                // fenwyr does not report the palette: take the common 6x6x6 colour cube, grey above it.
                const unsigned i = line[x];
                if (i < 216) {
                    o[0] = static_cast<BYTE>(i % 6 * 51);
                    o[1] = static_cast<BYTE>(i / 6 % 6 * 51);
                    o[2] = static_cast<BYTE>(i / 36 * 51);
                } else {
                    o[0] = o[1] = o[2] = static_cast<BYTE>((i - 216) * 255 / 39);
                }
                break;
            }
            case kRgb555:
            case kRgb565: {
                const unsigned v = line[2 * x] | (line[2 * x + 1] << 8);
                const bool is565 = format.pixelFormat == kRgb565;
                const unsigned r = is565 ? (v >> 11) & 31 : (v >> 10) & 31;
                const unsigned g = is565 ? ((v >> 5) & 63) * 255 / 63 : ((v >> 5) & 31) * 255 / 31;
                o[0] = static_cast<BYTE>((v & 31) * 255 / 31);
                o[1] = static_cast<BYTE>(g);
                o[2] = static_cast<BYTE>(r * 255 / 31);
                break;
            }
            case kRgb24:
                std::memcpy(o, line + 3 * x, 3);
                break;
            case kRgb32:
                std::memcpy(o, line + 4 * x, 3);
                break;
            }
        }
    }
    return image;
}

bool frameSequence(const ResolutionInfo& format, const std::vector<uint8_t>& frame, uint32_t& sequence) {
    size_t at = 0;
    if (format.pixelFormat == kMjpg) {
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
