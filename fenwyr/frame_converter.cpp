#include "frame_converter.h"

#include <algorithm>
#include <cstring>

#include <libyuv.h>

namespace {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24;
}

enum class Source { unknown, yuy2, uyvy, nv12, i420, yv12, y800, mjpg, rgb1, rgb4, rgb8, rgb555, rgb565, rgb24, rgb32 };

Source sourceOf(const media_type::FrameLayout& layout) {
    switch (layout.fourcc) {
    case fourcc('Y', 'U', 'Y', '2'):
    case fourcc('Y', 'U', 'Y', 'V'): return Source::yuy2;
    case fourcc('U', 'Y', 'V', 'Y'):
    case fourcc('H', 'D', 'Y', 'C'): return Source::uyvy;
    case fourcc('N', 'V', '1', '2'): return Source::nv12;
    case fourcc('I', '4', '2', '0'):
    case fourcc('I', 'Y', 'U', 'V'): return Source::i420;
    case fourcc('Y', 'V', '1', '2'): return Source::yv12;
    case fourcc('Y', '8', '0', '0'):
    case fourcc('Y', '8', ' ', ' '):
    case fourcc('G', 'R', 'E', 'Y'): return Source::y800;
    case fourcc('M', 'J', 'P', 'G'): return Source::mjpg;
    default: break;
    }
    static const struct {
        const GUID* subtype;
        Source source;
    } rgb[] = {{&MEDIASUBTYPE_RGB1, Source::rgb1},     {&MEDIASUBTYPE_RGB4, Source::rgb4},
               {&MEDIASUBTYPE_RGB8, Source::rgb8},     {&MEDIASUBTYPE_RGB555, Source::rgb555},
               {&MEDIASUBTYPE_RGB565, Source::rgb565}, {&MEDIASUBTYPE_RGB24, Source::rgb24},
               {&MEDIASUBTYPE_RGB32, Source::rgb32},   {&MEDIASUBTYPE_ARGB32, Source::rgb32}};
    for (const auto& entry : rgb)
        if (IsEqualGUID(layout.subtype, *entry.subtype))
            return entry.source;
    return Source::unknown;
}

int bytesPerPixel(int32_t output) {
    switch (output) {
    case FENWYR_OUTPUT_BGR24:
    case FENWYR_OUTPUT_RGB24: return 3;
    case FENWYR_OUTPUT_BGRA32:
    case FENWYR_OUTPUT_RGBA32: return 4;
    case FENWYR_OUTPUT_GRAY8: return 1;
    default: return 0;
    }
}

// Bits per pixel a source's subtype means, as its biBitCount must say (0: any, for MJPG).
int bitsOf(Source source) {
    switch (source) {
    case Source::yuy2:
    case Source::uyvy:
    case Source::rgb555:
    case Source::rgb565: return 16;
    case Source::nv12:
    case Source::i420:
    case Source::yv12: return 12;
    case Source::y800:
    case Source::rgb8: return 8;
    case Source::rgb1: return 1;
    case Source::rgb4: return 4;
    case Source::rgb24: return 24;
    case Source::rgb32: return 32;
    default: return 0;
    }
}

// Bytes per row of the first plane a source of this width has, as layoutOf computes it.
int64_t strideOf(Source source, int64_t width) {
    switch (source) {
    case Source::nv12:
    case Source::i420:
    case Source::yv12:
    case Source::y800: return width;
    case Source::yuy2:
    case Source::uyvy: return width * 2;
    case Source::mjpg:
    case Source::unknown: return 0;
    default: return (width * bitsOf(source) + 31) / 32 * 4;
    }
}

// Bytes of a picture, or -1 when it, or a row of the BGRA it may be made by way of, would not
// fit in int32_t (the host sees its size as FrameInfo.length).
int64_t pictureLength(int64_t width, int64_t height, int32_t output) {
    const int64_t stride = width * bytesPerPixel(output);
    if (width <= 0 || height <= 0 || stride <= 0 || width * 4 > INT32_MAX || stride * height > INT32_MAX)
        return -1;
    return stride * height;
}

// Bytes of a 4:2:0 frame: the luma plane and two chroma planes of half width and height.
uint64_t planar420Bytes(uint64_t width, uint64_t height) {
    return width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
}

// Bytes the converter reads of a frame: every row up to the last one's pixels (whose padding
// need not be there), and the chroma planes of 4:2:0 sources. Sides are below 2^31: no overflow.
uint64_t neededBytes(Source source, const media_type::FrameLayout& layout) {
    const uint64_t width = static_cast<uint64_t>(layout.width);
    const uint64_t height = static_cast<uint64_t>(layout.height);
    const uint64_t stride = static_cast<uint64_t>(layout.stride);
    switch (source) {
    case Source::nv12:
    case Source::i420:
    case Source::yv12: return planar420Bytes(width, height);
    case Source::yuy2:
    case Source::uyvy: return (height - 1) * stride + (width + 1) / 2 * 4;
    case Source::mjpg:
    case Source::unknown: return 0;
    default: return (height - 1) * stride + (width * static_cast<uint64_t>(bitsOf(source)) + 7) / 8;
    }
}

// RGB32 and RGB555 leave the fourth byte (or top bit) undefined: the picture is opaque.
void makeOpaque(uint8_t* bgra, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i)
        bgra[4 * i + 3] = 0xFF;
}

// RGB1, RGB4 and RGB8: each pixel an index into the frame's colour table.
void expandPalette(const media_type::FrameLayout& layout, int bits, const uint8_t* frame, int first, int rows,
                   uint8_t* bgra) {
    const int width = layout.width;
    const int height = layout.height;
    const unsigned mask = (1u << bits) - 1;
    for (int row = first; row < first + rows; ++row) {
        const uint8_t* line = frame + static_cast<size_t>(layout.bottomUp ? height - 1 - row : row) * layout.stride;
        uint8_t* out = bgra + static_cast<size_t>(row - first) * width * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            const int bit = x * bits;
            const unsigned index = (line[bit / 8] >> (8 - bits - bit % 8)) & mask;
            if (index < layout.paletteSize) {
                const RGBQUAD& colour = layout.palette[index];
                out[0] = colour.rgbBlue;
                out[1] = colour.rgbGreen;
                out[2] = colour.rgbRed;
            } else {
                out[0] = out[1] = out[2] = 0;
            }
            out[3] = 0xFF;
        }
    }
}

// Packed BGRA rows (width x 4 bytes each) as a picture of another output.
bool fromBgra(const uint8_t* bgra, int32_t output, uint8_t* picture, int stride, int width, int rows) {
    const int bgraStride = width * 4;
    switch (output) {
    case FENWYR_OUTPUT_BGR24: return libyuv::ARGBToRGB24(bgra, bgraStride, picture, stride, width, rows) == 0;
    case FENWYR_OUTPUT_RGB24: return libyuv::ARGBToRAW(bgra, bgraStride, picture, stride, width, rows) == 0;
    case FENWYR_OUTPUT_RGBA32: return libyuv::ARGBToABGR(bgra, bgraStride, picture, stride, width, rows) == 0;
    default: return libyuv::ARGBToJ400(bgra, bgraStride, picture, stride, width, rows) == 0;
    }
}

// Where picture rows [first, first + rows) of a frame are in it, for each layout: planes of
// YUV (4:2:0 chroma from row first / 2), packed 4:2:2 rows, and RGB lines, stored bottom row
// first unless top-down, which libyuv reads upside down from the band's lowest line when given
// a negative height.
struct SourceRows {
    SourceRows(const media_type::FrameLayout& layout, const uint8_t* frame, int first, int rows) {
        const size_t width = static_cast<size_t>(layout.width);
        const size_t height = static_cast<size_t>(layout.height);
        chromaStride = (layout.width + 1) / 2;
        y = frame + width * first;
        const uint8_t* chroma = frame + width * height;
        uv = chroma + static_cast<size_t>(chromaStride) * 2 * (first / 2);
        u = chroma + static_cast<size_t>(chromaStride) * (first / 2);
        v = u + static_cast<size_t>(chromaStride) * ((height + 1) / 2);
        if (sourceOf(layout) == Source::yv12)
            std::swap(u, v);
        packed = frame + static_cast<size_t>(first) * layout.stride;
        lines = frame + static_cast<size_t>(layout.bottomUp ? layout.height - first - rows : first) * layout.stride;
        lineRows = layout.bottomUp ? -rows : rows;
    }
    const uint8_t* y;
    const uint8_t* uv;  // NV12
    const uint8_t* u;
    const uint8_t* v;
    int chromaStride;  // of u and v; uv has twice as many bytes
    const uint8_t* packed;
    const uint8_t* lines;
    int lineRows;
};

// Rows of BGRA converted at a time on the way to another output; even, as 4:2:0 chroma rows pair
// up, and as many as a JPEG's band has at most (4 x 8).
constexpr int kBandRows = 32;

// Where a JPEG's bands go.
struct JpegPicture {
    int32_t output;
    uint8_t* picture;
    int stride;
    int width;
    uint8_t* bgra;  // kBandRows rows, for grey JPEGs in 24-bit outputs
};

bool writeJpegBand(void* context, JpegSampling sampling, const JpegBand& band) {
    const auto& to = *static_cast<const JpegPicture*>(context);
    uint8_t* out = to.picture + static_cast<size_t>(band.first) * to.stride;
    const uint8_t* y = band.planes[0];
    const int yStride = band.strides[0];
    const bool alpha = to.output == FENWYR_OUTPUT_BGRA32 || to.output == FENWYR_OUTPUT_RGBA32;
    if (sampling == JpegSampling::grey) {
        // Grey is the same in either byte order.
        if (alpha)
            return libyuv::J400ToARGB(y, yStride, out, to.stride, to.width, band.rows) == 0;
        return libyuv::J400ToARGB(y, yStride, to.bgra, to.width * 4, to.width, band.rows) == 0 &&
               fromBgra(to.bgra, to.output, out, to.stride, to.width, band.rows);
    }
    // The JPEG's own full-range matrix; red first by swapping the chroma planes and the matrix.
    const bool redFirst = to.output == FENWYR_OUTPUT_RGB24 || to.output == FENWYR_OUTPUT_RGBA32;
    const libyuv::YuvConstants* matrix = redFirst ? &libyuv::kYvuJPEGConstants : &libyuv::kYuvJPEGConstants;
    const uint8_t* u = band.planes[redFirst ? 2 : 1];
    const uint8_t* v = band.planes[redFirst ? 1 : 2];
    const int uStride = band.strides[redFirst ? 2 : 1];
    const int vStride = band.strides[redFirst ? 1 : 2];
    const int w = to.width, rows = band.rows;
    switch (sampling) {
    case JpegSampling::yuv420:
        return (alpha ? libyuv::I420ToARGBMatrix(y, yStride, u, uStride, v, vStride, out, to.stride, matrix, w, rows)
                      : libyuv::I420ToRGB24Matrix(y, yStride, u, uStride, v, vStride, out, to.stride, matrix, w, rows)) == 0;
    case JpegSampling::yuv422:
        return (alpha ? libyuv::I422ToARGBMatrix(y, yStride, u, uStride, v, vStride, out, to.stride, matrix, w, rows)
                      : libyuv::I422ToRGB24Matrix(y, yStride, u, uStride, v, vStride, out, to.stride, matrix, w, rows)) == 0;
    default:
        return (alpha ? libyuv::I444ToARGBMatrix(y, yStride, u, uStride, v, vStride, out, to.stride, matrix, w, rows)
                      : libyuv::I444ToRGB24Matrix(y, yStride, u, uStride, v, vStride, out, to.stride, matrix, w, rows)) == 0;
    }
}

}  // namespace

bool FrameConverter::isPicture(int32_t output) {
    return bytesPerPixel(output) > 0;
}

bool FrameConverter::describe(const FrameInfo& native, int32_t output, FrameInfo& picture) {
    const int64_t length = pictureLength(native.width, native.height, output);
    if (length < 0)
        return false;
    picture = native;
    picture.stride = native.width * bytesPerPixel(output);
    picture.length = static_cast<int32_t>(length);
    picture.bottomUp = 0;
    picture.fourcc = 0;
    switch (output) {
    case FENWYR_OUTPUT_BGR24: picture.pixelFormat = 5; break;
    case FENWYR_OUTPUT_BGRA32: picture.pixelFormat = 6; break;
    case FENWYR_OUTPUT_RGB24: picture.pixelFormat = FENWYR_PIXEL_RGB; break;
    case FENWYR_OUTPUT_RGBA32: picture.pixelFormat = FENWYR_PIXEL_RGBA; break;
    default: picture.pixelFormat = FENWYR_PIXEL_GRAY8; break;
    }
    return true;
}

bool FrameConverter::convert(const media_type::FrameLayout& layout, const uint8_t* frame, size_t length,
                             int32_t output, uint8_t* picture) {
    const int width = layout.width;
    const int height = layout.height;
    const Source source = sourceOf(layout);
    if (!isPicture(output) || source == Source::unknown || !frame || pictureLength(width, height, output) < 0)
        return false;
    if (source == Source::mjpg)
        return decodeJpeg(layout, frame, length, output, picture);
    // The stride comes from biBitCount and the reading from the subtype: they must agree.
    if (layout.bitCount != bitsOf(source) || layout.stride != strideOf(source, width) ||
        length < neededBytes(source, layout))
        return false;

    // Each band of rows goes its own way through libyuv, on this thread or a helper; 4:2:0
    // chroma rows pair up, so bands start on even rows.
    const size_t laneBytes = static_cast<size_t>(width) * 4 * kBandRows;
    bgra_.resize(laneBytes * static_cast<size_t>(rows_.lanes()));
    auto band = [&](int first, int rows, int lane) {
        return convertBand(layout, frame, first, rows, output, picture, bgra_.data() + laneBytes * lane);
    };
    // Copying a plane is bound by memory, not by arithmetic: a helper would not make it faster.
    const bool yuv = source == Source::yuy2 || source == Source::uyvy || source == Source::nv12 ||
                     source == Source::i420 || source == Source::yv12 || source == Source::y800;
    const bool copy = (output == FENWYR_OUTPUT_GRAY8 && yuv) || (output == FENWYR_OUTPUT_BGR24 && source == Source::rgb24);
    const size_t pixels = copy ? 0 : static_cast<size_t>(width) * height;
    return rows_.run(height, 2, pixels, band);
}

bool FrameConverter::convertBand(const media_type::FrameLayout& layout, const uint8_t* frame, int first, int rows,
                                 int32_t output, uint8_t* picture, uint8_t* bgra) {
    const int width = layout.width;
    const int stride = width * bytesPerPixel(output);
    uint8_t* out = picture + static_cast<size_t>(first) * stride;
    const Source source = sourceOf(layout);
    const SourceRows in(layout, frame, first, rows);
    const uint8_t* y = in.y;
    const uint8_t* u = in.u;
    const uint8_t* v = in.v;
    const int chromaStride = in.chromaStride;

    // Direct paths: one pass from the device's layout to the picture.
    switch (source) {
    // 24-bit from packed 4:2:2 stays in bands by way of BGRA below: faster here than by way of
    // 4:2:2 planes and libyuv's one pass from them (I422ToRGB24).
    case Source::yuy2:
        if (output == FENWYR_OUTPUT_GRAY8)
            return libyuv::YUY2ToY(in.packed, layout.stride, out, stride, width, rows) == 0;
        break;
    case Source::uyvy:
        if (output == FENWYR_OUTPUT_GRAY8)
            return libyuv::UYVYToY(in.packed, layout.stride, out, stride, width, rows) == 0;
        break;
    case Source::y800:
        if (output == FENWYR_OUTPUT_GRAY8) {
            libyuv::CopyPlane(y, width, out, stride, width, rows);
            return true;
        }
        break;
    case Source::nv12: {
        const int uvStride = chromaStride * 2;
        const uint8_t* uv = in.uv;
        switch (output) {
        case FENWYR_OUTPUT_BGRA32: return libyuv::NV12ToARGB(y, width, uv, uvStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_RGBA32: return libyuv::NV12ToABGR(y, width, uv, uvStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_BGR24: return libyuv::NV12ToRGB24(y, width, uv, uvStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_RGB24: return libyuv::NV12ToRAW(y, width, uv, uvStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_GRAY8: libyuv::CopyPlane(y, width, out, stride, width, rows); return true;
        default: break;
        }
        break;
    }
    case Source::i420:
    case Source::yv12:
        switch (output) {
        case FENWYR_OUTPUT_BGRA32:
            return libyuv::I420ToARGB(y, width, u, chromaStride, v, chromaStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_RGBA32:
            return libyuv::I420ToABGR(y, width, u, chromaStride, v, chromaStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_BGR24:
            return libyuv::I420ToRGB24(y, width, u, chromaStride, v, chromaStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_RGB24:
            return libyuv::I420ToRAW(y, width, u, chromaStride, v, chromaStride, out, stride, width, rows) == 0;
        case FENWYR_OUTPUT_GRAY8: libyuv::CopyPlane(y, width, out, stride, width, rows); return true;
        default: break;
        }
        break;
    case Source::rgb24:
        switch (output) {
        case FENWYR_OUTPUT_BGR24:
            libyuv::CopyPlane(layout.bottomUp ? in.lines + static_cast<size_t>(rows - 1) * layout.stride : in.lines,
                              layout.bottomUp ? -layout.stride : layout.stride, out, stride, width * 3, rows);
            return true;
        case FENWYR_OUTPUT_RGB24: return libyuv::RAWToRGB24(in.lines, layout.stride, out, stride, width, in.lineRows) == 0;
        case FENWYR_OUTPUT_GRAY8: return libyuv::RGB24ToJ400(in.lines, layout.stride, out, stride, width, in.lineRows) == 0;
        default: break;
        }
        break;
    default:
        break;
    }

    // Everything else by way of BGRA: straight into the picture when that is what is wanted,
    // else kBandRows rows at a time, so the BGRA in between stays in the cache.
    if (output == FENWYR_OUTPUT_BGRA32)
        return toBgra(layout, frame, first, rows, out);
    for (int done = 0; done < rows; done += kBandRows) {
        const int part = std::min(kBandRows, rows - done);
        if (!toBgra(layout, frame, first + done, part, bgra) ||
            !fromBgra(bgra, output, out + static_cast<size_t>(done) * stride, stride, width, part))
            return false;
    }
    return true;
}

bool FrameConverter::toBgra(const media_type::FrameLayout& layout, const uint8_t* frame, int first, int rows,
                            uint8_t* bgra) {
    const int width = layout.width;
    const int stride = width * 4;
    const SourceRows in(layout, frame, first, rows);
    const uint8_t* y = in.y;
    const int chromaStride = in.chromaStride;
    const uint8_t* lines = in.lines;
    const int lineRows = in.lineRows;
    switch (sourceOf(layout)) {
    case Source::yuy2: return libyuv::YUY2ToARGB(in.packed, layout.stride, bgra, stride, width, rows) == 0;
    case Source::uyvy: return libyuv::UYVYToARGB(in.packed, layout.stride, bgra, stride, width, rows) == 0;
    case Source::nv12: return libyuv::NV12ToARGB(y, width, in.uv, chromaStride * 2, bgra, stride, width, rows) == 0;
    case Source::i420:
    case Source::yv12:
        return libyuv::I420ToARGB(y, width, in.u, chromaStride, in.v, chromaStride, bgra, stride, width, rows) == 0;
    case Source::y800: return libyuv::J400ToARGB(y, width, bgra, stride, width, rows) == 0;
    case Source::rgb24: return libyuv::RGB24ToARGB(lines, layout.stride, bgra, stride, width, lineRows) == 0;
    case Source::rgb565: return libyuv::RGB565ToARGB(lines, layout.stride, bgra, stride, width, lineRows) == 0;
    case Source::rgb555:
        if (libyuv::ARGB1555ToARGB(lines, layout.stride, bgra, stride, width, lineRows) != 0)
            return false;
        makeOpaque(bgra, static_cast<size_t>(width) * rows);
        return true;
    case Source::rgb32:
        if (libyuv::ARGBCopy(lines, layout.stride, bgra, stride, width, lineRows) != 0)
            return false;
        makeOpaque(bgra, static_cast<size_t>(width) * rows);
        return true;
    case Source::rgb1: expandPalette(layout, 1, frame, first, rows, bgra); return true;
    case Source::rgb4: expandPalette(layout, 4, frame, first, rows, bgra); return true;
    case Source::rgb8: expandPalette(layout, 8, frame, first, rows, bgra); return true;
    default: return false;
    }
}

bool FrameConverter::decodeJpeg(const media_type::FrameLayout& layout, const uint8_t* frame, size_t length,
                                int32_t output, uint8_t* picture) {
    // A frame a busy bus cut short has no end-of-image marker (some devices pad after it with zeros).
    size_t end = length;
    while (end > 0 && frame[end - 1] == 0)
        --end;
    if (end < 4 || frame[0] != 0xFF || frame[1] != 0xD8 || frame[end - 2] != 0xFF || frame[end - 1] != 0xD9)
        return false;
    const int width = layout.width;
    if (output == FENWYR_OUTPUT_GRAY8)
        return jpeg_.decodeLuma(frame, end, width, layout.height, picture, width);
    bgra_.resize(static_cast<size_t>(width) * 4 * kBandRows);
    JpegPicture to{output, picture, width * bytesPerPixel(output), width, bgra_.data()};
    return jpeg_.decode(frame, end, width, layout.height, writeJpegBand, &to);
}
