#include "media_type.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <dvdmedia.h>

namespace media_type {
namespace {

// FOURCC subtypes are {XXXXXXXX-0000-0010-8000-00AA00389B71}.
constexpr GUID kFourccBase = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24;
}

// Packed YUV: one plane, whole rows of width x bits / 8 bytes.
bool isPackedYuv(uint32_t code) {
    return code == fourcc('Y', 'U', 'Y', '2') || code == fourcc('Y', 'U', 'Y', 'V') ||
           code == fourcc('Y', 'V', 'Y', 'U') || code == fourcc('U', 'Y', 'V', 'Y') ||
           code == fourcc('H', 'D', 'Y', 'C') || code == fourcc('Y', '4', '1', 'P');
}

// Planar YUV and 8-bit mono: the first plane is the luma, one byte per pixel.
bool isPlanarYuv(uint32_t code) {
    return code == fourcc('N', 'V', '1', '2') || code == fourcc('Y', 'V', '1', '2') ||
           code == fourcc('I', '4', '2', '0') || code == fourcc('I', 'Y', 'U', 'V') ||
           code == fourcc('N', 'V', '2', '1') || code == fourcc('Y', '8', '0', '0') ||
           code == fourcc('Y', '8', ' ', ' ') || code == fourcc('G', 'R', 'E', 'Y');
}

bool isRgb(const GUID& subtype) {
    static const GUID* const rgb[] = {&MEDIASUBTYPE_RGB1,   &MEDIASUBTYPE_RGB4,  &MEDIASUBTYPE_RGB8,
                                      &MEDIASUBTYPE_RGB555, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB24,
                                      &MEDIASUBTYPE_RGB32,  &MEDIASUBTYPE_ARGB32};
    for (const GUID* entry : rgb)
        if (IsEqualGUID(subtype, *entry))
            return true;
    return false;
}

}  // namespace

AM_MEDIA_TYPE anyVideoInfo() {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = GUID_NULL;
    type.formattype = FORMAT_VideoInfo;
    return type;
}

void freeContents(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0) {
        CoTaskMemFree(type.pbFormat);
        type.cbFormat = 0;
        type.pbFormat = nullptr;
    }
    if (type.pUnk) {
        type.pUnk->Release();
        type.pUnk = nullptr;
    }
}

bool copyContents(const AM_MEDIA_TYPE& source, AM_MEDIA_TYPE& target) {
    target = source;
    target.pbFormat = nullptr;
    target.cbFormat = 0;
    if (source.cbFormat && source.pbFormat) {
        target.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (!target.pbFormat) {
            target.pUnk = nullptr;
            return false;
        }
        CopyMemory(target.pbFormat, source.pbFormat, source.cbFormat);
        target.cbFormat = source.cbFormat;
    }
    if (target.pUnk)
        target.pUnk->AddRef();
    return true;
}

void Deleter::operator()(AM_MEDIA_TYPE* type) const {
    freeContents(*type);
    CoTaskMemFree(type);
}

// Subtypes in the order they are compared; RGB555 and RGB565 keep their historical codes.
int32_t pixelFormatCode(const GUID& subtype) {
    static const struct {
        const GUID* subtype;
        int32_t code;
    } codes[] = {
        {&MEDIASUBTYPE_RGB1, 1},  {&MEDIASUBTYPE_RGB8, 2}, {&MEDIASUBTYPE_RGB555, 3}, {&MEDIASUBTYPE_RGB565, 4},
        {&MEDIASUBTYPE_RGB24, 5}, {&MEDIASUBTYPE_RGB32, 6}, {&MEDIASUBTYPE_MJPG, 7},  {&MEDIASUBTYPE_YUY2, 8},
    };
    for (const auto& entry : codes) {
        if (IsEqualGUID(subtype, *entry.subtype))
            return entry.code;
    }
    return 0;
}

uint32_t fourccOf(const GUID& subtype) {
    GUID base = subtype;
    base.Data1 = 0;
    return IsEqualGUID(base, kFourccBase) ? subtype.Data1 : 0;
}

const BITMAPINFOHEADER* bitmapHeaderOf(const AM_MEDIA_TYPE& type) {
    if (hasVideoInfo(type))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    if (hasVideoInfo2(type))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    return nullptr;
}

REFERENCE_TIME* averageTimePerFrameOf(AM_MEDIA_TYPE& type) {
    if (hasVideoInfo(type))
        return &reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
    if (hasVideoInfo2(type))
        return &reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
    return nullptr;
}

const REFERENCE_TIME* averageTimePerFrameOf(const AM_MEDIA_TYPE& type) {
    return averageTimePerFrameOf(const_cast<AM_MEDIA_TYPE&>(type));
}

bool hasVideoInfo2(const AM_MEDIA_TYPE& type) {
    return IsEqualGUID(type.formattype, FORMAT_VideoInfo2) && type.cbFormat >= sizeof(VIDEOINFOHEADER2) &&
           type.pbFormat != nullptr;
}

bool hasVideoInfo(const AM_MEDIA_TYPE& type) {
    return IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER) &&
           type.pbFormat != nullptr;
}

bool sameStream(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    const BITMAPINFOHEADER* first = bitmapHeaderOf(a);
    const BITMAPINFOHEADER* second = bitmapHeaderOf(b);
    if (!first || !second || !IsEqualGUID(a.subtype, b.subtype) || !IsEqualGUID(a.formattype, b.formattype) ||
        first->biWidth != second->biWidth || first->biHeight != second->biHeight ||
        first->biBitCount != second->biBitCount)
        return false;
    const double interval = static_cast<double>(*averageTimePerFrameOf(a));
    const double other = static_cast<double>(*averageTimePerFrameOf(b));
    return std::fabs(interval - other) <= 0.001 * std::fmax(interval, other);
}

FrameLayout layoutOf(const AM_MEDIA_TYPE& type) {
    FrameLayout layout;
    const BITMAPINFOHEADER* header = bitmapHeaderOf(type);
    if (!header)
        return layout;
    layout.width = header->biWidth;
    // A height of -2^31 has no positive int32: such a layout has no rows to convert.
    const int64_t height = std::llabs(static_cast<int64_t>(header->biHeight));
    layout.height = height <= INT32_MAX ? static_cast<int32_t>(height) : 0;
    layout.subtype = type.subtype;
    if (header->biBitCount <= 8 && header->biBitCount > 0 && header->biSize >= sizeof(BITMAPINFOHEADER)) {
        // The colour table follows the bitmap header inside the format block, if the block holds it.
        const uint32_t entries = header->biClrUsed ? header->biClrUsed : 1u << header->biBitCount;
        const auto* table = reinterpret_cast<const BYTE*>(header) + header->biSize;
        const size_t available = type.pbFormat + type.cbFormat > table
                                     ? static_cast<size_t>(type.pbFormat + type.cbFormat - table) / sizeof(RGBQUAD)
                                     : 0;
        layout.paletteSize = static_cast<uint32_t>(std::min<size_t>({entries, available, layout.palette.size()}));
        std::memcpy(layout.palette.data(), table, layout.paletteSize * sizeof(RGBQUAD));
    }
    layout.pixelFormat = pixelFormatCode(type.subtype);
    layout.fourcc = fourccOf(type.subtype);
    layout.bitCount = header->biBitCount;
    const int64_t bits = static_cast<int64_t>(header->biWidth) * header->biBitCount;
    int64_t stride = 0;
    if (isRgb(type.subtype)) {
        // DIB rows are padded to 4 bytes; a positive height stores the bottom row first.
        stride = (bits + 31) / 32 * 4;
        layout.bottomUp = header->biHeight > 0 ? 1 : 0;
    } else if (isPackedYuv(layout.fourcc)) {
        stride = bits / 8;
    } else if (isPlanarYuv(layout.fourcc)) {
        stride = header->biWidth;
    }
    // A row that FrameInfo.stride cannot hold is described as 0, and never converted.
    layout.stride = stride > 0 && stride <= INT32_MAX ? static_cast<int32_t>(stride) : 0;
    return layout;
}

}  // namespace media_type
