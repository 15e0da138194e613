#include "frame_painter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const Bgr kBars[8] = {
    {255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},  // white, yellow, cyan, green
    {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0},    // magenta, red, blue, black
};
const Bgr kBoxFill = {0, 140, 255};  // orange
const Bgr kBoxEdge = {32, 32, 32};

// Position along a back-and-forth path of the given length.
int bounce(uint32_t step, int length) {
    if (length <= 0)
        return 0;
    uint32_t period = static_cast<uint32_t>(length) * 2;
    int phase = static_cast<int>(step % period);
    return phase <= length ? phase : static_cast<int>(period) - phase;
}

uint8_t lumaOf(const Bgr& p) { return static_cast<uint8_t>(((66 * p.r + 129 * p.g + 25 * p.b + 128) >> 8) + 16); }
// Full range, as 8-bit mono sensors deliver it.
uint8_t grayOf(const Bgr& p) { return static_cast<uint8_t>((77 * p.r + 150 * p.g + 29 * p.b + 128) >> 8); }
uint8_t blueDifference(int r, int g, int b) { return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128); }
uint8_t redDifference(int r, int g, int b) { return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128); }

uint8_t cubeIndex(const Bgr& p) {
    return static_cast<uint8_t>(((p.r + 25) / 51) * 36 + ((p.g + 25) / 51) * 6 + (p.b + 25) / 51);
}

uint8_t nearestVgaIndex(const Bgr& p) {
    static RGBQUAD palette[16];
    static const bool filled = (fillPalette(PixelLayout::Rgb4, palette), true);
    (void)filled;
    int best = 0;
    long bestDistance = 0x7fffffff;
    for (int i = 0; i < 16; ++i) {
        long dr = p.r - palette[i].rgbRed, dg = p.g - palette[i].rgbGreen, db = p.b - palette[i].rgbBlue;
        long distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

DWORD rgbStrideOf(const FrameGeometry& g) {
    return ((static_cast<DWORD>(g.width) * bitCountOf(g.layout) + 31) / 32) * 4;
}

void writeRgbRow(PixelLayout layout, const Bgr* in, int width, BYTE* out, BYTE xByte) {
    switch (layout) {
    case PixelLayout::Rgb32:
        for (int x = 0; x < width; ++x) {
            out[4 * x] = in[x].b;
            out[4 * x + 1] = in[x].g;
            out[4 * x + 2] = in[x].r;
            out[4 * x + 3] = xByte;
        }
        break;
    case PixelLayout::Rgb24:
        std::memcpy(out, in, static_cast<size_t>(width) * 3);
        break;
    case PixelLayout::Rgb565:
        for (int x = 0; x < width; ++x) {
            uint16_t v = static_cast<uint16_t>(((in[x].r >> 3) << 11) | ((in[x].g >> 2) << 5) | (in[x].b >> 3));
            out[2 * x] = static_cast<BYTE>(v & 0xFF);
            out[2 * x + 1] = static_cast<BYTE>(v >> 8);
        }
        break;
    case PixelLayout::Rgb555:
        for (int x = 0; x < width; ++x) {
            uint16_t v = static_cast<uint16_t>(((in[x].r >> 3) << 10) | ((in[x].g >> 3) << 5) | (in[x].b >> 3));
            out[2 * x] = static_cast<BYTE>(v & 0xFF);
            out[2 * x + 1] = static_cast<BYTE>(v >> 8);
        }
        break;
    case PixelLayout::Rgb8:
        for (int x = 0; x < width; ++x)
            out[x] = cubeIndex(in[x]);
        break;
    case PixelLayout::Rgb4:
        for (int x = 0; x < width; ++x) {
            uint8_t index = nearestVgaIndex(in[x]);
            if (x % 2 == 0)
                out[x / 2] = static_cast<BYTE>(index << 4);
            else
                out[x / 2] |= index;
        }
        break;
    case PixelLayout::Rgb1:
        for (int x = 0; x < width; ++x) {
            if (x % 8 == 0)
                out[x / 8] = 0;
            if (lumaOf(in[x]) >= 128)
                out[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        }
        break;
    default:
        break;
    }
}

void writeYuy2Row(const Bgr* in, int width, BYTE* out) {
    for (int x = 0; x < width; x += 2) {
        const Bgr& a = in[x];
        const Bgr& b = in[std::min(x + 1, width - 1)];
        int r = (a.r + b.r) / 2, g = (a.g + b.g) / 2, bl = (a.b + b.b) / 2;
        out[2 * x] = lumaOf(a);
        out[2 * x + 1] = blueDifference(r, g, bl);
        out[2 * x + 2] = lumaOf(b);
        out[2 * x + 3] = redDifference(r, g, bl);
    }
}

// UYVY: YUY2 with each pair's chroma first.
void writeUyvyRow(const Bgr* in, int width, BYTE* out) {
    writeYuy2Row(in, width, out);
    for (int x = 0; x < width; x += 2) {
        std::swap(out[2 * x], out[2 * x + 1]);
        std::swap(out[2 * x + 2], out[2 * x + 3]);
    }
}

// NV12, I420 and YV12: a luma plane of even stride, then chroma at half width and height,
// interleaved U and V (NV12) or a U plane and a V plane (I420; YV12 has V first).
void writePlanar420Rows(const FrameGeometry& g, const Bgr* rows, int first, int count, BYTE* frame) {
    const int width = g.width;
    const int height = std::abs(g.height);
    const int stride = (width + 1) & ~1;
    BYTE* chroma = frame + static_cast<size_t>(stride) * height;
    const size_t chromaPlane = static_cast<size_t>(stride / 2) * ((height + 1) / 2);
    for (int i = 0; i < count; ++i) {
        BYTE* luma = frame + static_cast<size_t>(stride) * (first + i);
        const Bgr* in = rows + static_cast<size_t>(i) * width;
        for (int x = 0; x < stride; ++x)
            luma[x] = lumaOf(in[std::min(x, width - 1)]);
    }
    for (int i = 0; i < count; i += 2) {
        const Bgr* top = rows + static_cast<size_t>(i) * width;
        const Bgr* below = i + 1 < count ? top + width : top;
        const int chromaRow = (first + i) / 2;
        for (int x = 0; x < stride; x += 2) {
            int x1 = std::min(x + 1, width - 1), x0 = std::min(x, width - 1);
            int r = (top[x0].r + top[x1].r + below[x0].r + below[x1].r) / 4;
            int gr = (top[x0].g + top[x1].g + below[x0].g + below[x1].g) / 4;
            int b = (top[x0].b + top[x1].b + below[x0].b + below[x1].b) / 4;
            const BYTE u = blueDifference(r, gr, b), v = redDifference(r, gr, b);
            if (g.layout == PixelLayout::Nv12) {
                BYTE* out = chroma + static_cast<size_t>(stride) * chromaRow + x;
                out[0] = u;
                out[1] = v;
            } else {
                BYTE* first = chroma + static_cast<size_t>(stride / 2) * chromaRow + x / 2;
                BYTE* second = first + chromaPlane;
                *(g.layout == PixelLayout::I420 ? first : second) = u;
                *(g.layout == PixelLayout::I420 ? second : first) = v;
            }
        }
    }
}

}  // namespace

TestPicture::TestPicture(int width, int rows, const PaintOptions& options)
    : width_(std::max(width, 1)), rows_(std::max(rows, 1)), boxed_(!options.greyRamp),
      background_(static_cast<size_t>(width_) * rows_) {
    const int rampTop = options.greyRamp ? 0 : rows_ - rows_ / 6;
    for (int y = 0; y < rows_; ++y) {
        Bgr* row = &background_[static_cast<size_t>(y) * width_];
        for (int x = 0; x < width_; ++x) {
            if (y < rampTop) {
                row[x] = kBars[static_cast<size_t>(x) * 8 / width_];
            } else {
                uint8_t level = static_cast<uint8_t>(width_ > 1 ? x * 255 / (width_ - 1) : 0);
                row[x] = {level, level, level};
            }
        }
    }
}

TestPicture::Box TestPicture::boxAt(uint32_t frame) const {
    Box box;
    box.size = std::max(1, std::min(width_, rows_) / 4);
    box.left = bounce(frame * 4, width_ - box.size);
    box.top = bounce(frame * 3, rows_ - box.size);
    return box;
}

void TestPicture::boxRows(uint32_t frame, int* top, int* bottom) const {
    Box box = boxAt(frame);
    *top = box.top;
    *bottom = box.top + box.size;
}

void TestPicture::paintRows(uint32_t frame, int first, int count, Bgr* out) const {
    std::memcpy(out, &background_[static_cast<size_t>(first) * width_], static_cast<size_t>(count) * width_ * sizeof(Bgr));
    if (!boxed_)
        return;
    Box box = boxAt(frame);
    const int edge = std::max(1, box.size / 16);
    for (int y = std::max(first, box.top); y < std::min(first + count, box.top + box.size); ++y) {
        Bgr* row = out + static_cast<size_t>(y - first) * width_;
        for (int x = box.left; x < box.left + box.size; ++x) {
            bool border = x - box.left < edge || box.left + box.size - 1 - x < edge || y - box.top < edge ||
                          box.top + box.size - 1 - y < edge;
            row[x] = border ? kBoxEdge : kBoxFill;
        }
    }
}

void writePictureRows(const FrameGeometry& g, const Bgr* rows, int first, int count, BYTE* frame, BYTE xByte) {
    const int width = g.width;
    const int height = std::abs(g.height);
    switch (g.layout) {
    case PixelLayout::Nv12:
    case PixelLayout::I420:
    case PixelLayout::Yv12:
        writePlanar420Rows(g, rows, first, count, frame);
        return;
    case PixelLayout::Yuy2:
    case PixelLayout::Uyvy: {
        const size_t stride = static_cast<size_t>((width + 1) & ~1) * 2;
        for (int i = 0; i < count; ++i) {
            BYTE* out = frame + stride * (first + i);
            if (g.layout == PixelLayout::Yuy2)
                writeYuy2Row(rows + static_cast<size_t>(i) * width, width, out);
            else
                writeUyvyRow(rows + static_cast<size_t>(i) * width, width, out);
        }
        return;
    }
    case PixelLayout::Y800:
    case PixelLayout::Grey:
    case PixelLayout::Y8:
        for (int i = 0; i < count; ++i) {
            const Bgr* in = rows + static_cast<size_t>(i) * width;
            BYTE* out = frame + static_cast<size_t>(width) * (first + i);
            for (int x = 0; x < width; ++x)
                out[x] = grayOf(in[x]);
        }
        return;
    case PixelLayout::Mjpg:
        return;
    default: {
        const size_t stride = rgbStrideOf(g);
        const bool bottomUp = g.height > 0;
        for (int i = 0; i < count; ++i) {
            int y = first + i;
            int line = bottomUp ? height - 1 - y : y;
            writeRgbRow(g.layout, rows + static_cast<size_t>(i) * width, width, frame + stride * line, xByte);
        }
        return;
    }
    }
}
