#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "guids.h"

// Media types as the platform hands them out, and what the library reads from them.
namespace media_type {

// The format block and the optional object a media type carries; the structure itself stays.
void freeContents(AM_MEDIA_TYPE& type);
// A deep copy of `source` into `target` (format block and object included); false when out of memory.
bool copyContents(const AM_MEDIA_TYPE& source, AM_MEDIA_TYPE& target);

// A media type that the platform allocated, with everything it holds.
struct Deleter {
    void operator()(AM_MEDIA_TYPE* type) const;
};
using Ptr = std::unique_ptr<AM_MEDIA_TYPE, Deleter>;

// The small integer that stands for a subtype in ResolutionInfo, FrameInfo and FormatInfo.
int32_t pixelFormatCode(const GUID& subtype);
// The subtype's FOURCC (its first 32 bits) when it is a FOURCC subtype, else 0.
uint32_t fourccOf(const GUID& subtype);
// Any video subtype, as long as it comes with a VIDEOINFOHEADER: what the sample grabbers take.
AM_MEDIA_TYPE anyVideoInfo();

// A VIDEOINFOHEADER format block that can be read.
bool hasVideoInfo(const AM_MEDIA_TYPE& type);
// A VIDEOINFOHEADER2 format block that can be read (capture cards, interlaced and wide-aspect sources).
bool hasVideoInfo2(const AM_MEDIA_TYPE& type);
// The bitmap header of either video info format, or null.
const BITMAPINFOHEADER* bitmapHeaderOf(const AM_MEDIA_TYPE& type);
// The frame interval field of either video info format, or null.
REFERENCE_TIME* averageTimePerFrameOf(AM_MEDIA_TYPE& type);
const REFERENCE_TIME* averageTimePerFrameOf(const AM_MEDIA_TYPE& type);

// Whether two video types describe the same stream: subtype, format type, picture size and bit
// depth equal, frame intervals within 0.1 % (drivers round them).
bool sameStream(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// How the frames of a connection are laid out in memory.
struct FrameLayout {
    int32_t width = 0;
    int32_t height = 0;  // always positive
    int32_t stride = 0;  // bytes per row of the first plane; 0 for compressed data
    int32_t bitCount = 0;  // biBitCount, as the format block says
    int32_t bottomUp = 0;
    int32_t pixelFormat = 0;
    uint32_t fourcc = 0;
    GUID subtype = GUID_NULL;
    // The colour table of RGB1, RGB4 and RGB8 frames (B, G, R, reserved), as the format block has it.
    uint32_t paletteSize = 0;
    std::array<RGBQUAD, 256> palette{};
};
// The layout of a VIDEOINFOHEADER or VIDEOINFOHEADER2 media type; zeros for any other.
FrameLayout layoutOf(const AM_MEDIA_TYPE& type);

}  // namespace media_type
