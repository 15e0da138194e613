#pragma once
#include <windows.h>
#include <dshow.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media_type.h"

// The pixel layouts the device can produce, one per media subtype.
enum class PixelLayout { Rgb1, Rgb4, Rgb8, Rgb555, Rgb565, Rgb24, Rgb32, Yuy2, Mjpg, Nv12, Uyvy, I420, Yv12, Y800, Grey, Y8 };

// One capability as configured: "WIDTHxHEIGHT@FPS SUBTYPE [VIH2 [INTERLACED] [16:9]]" or, for a
// range of rates, "WIDTHxHEIGHT@MINFPS-MAXFPS SUBTYPE [VIH2 [INTERLACED] [16:9]]".
struct VideoFormat {
    LONG width = 0;
    LONG height = 0;   // negative: top-down
    double fps = 0;    // the rate offered by default (the highest of a range); 0: no frame interval
    double minFps = 0; // the range SetFormat accepts; both equal fps for a single rate
    double maxFps = 0;
    PixelLayout layout = PixelLayout::Yuy2;
    bool videoInfo2 = false;
    bool interlaced = false;  // VIH2 only: dwInterlaceFlags says both fields are in each frame
    bool wide = false;        // VIH2 only: a 16:9 picture aspect ratio, whatever the pixel size
    std::optional<WORD> declaredBitCount;  // BitCount: what biBitCount says instead of the subtype's
    LONG declaredSide = 0;  // HugeJpegSide (MJPG): the media type and every JPEG say S x S; painted at width x height
};

// One entry, e.g. "640x480@29.97 YUY2", "1280x720@5-60 MJPG" or "320x-240@15 RGB24 VIH2";
// nullopt when malformed.
std::optional<VideoFormat> parseVideoFormat(std::wstring_view text);
// A ';'-separated list; malformed entries are left out, empty entries ignored.
std::vector<VideoFormat> parseVideoFormatList(std::wstring_view text);
// What a device offers when it has no Formats value.
std::vector<VideoFormat> defaultVideoFormats();

const GUID& subtypeOf(PixelLayout layout);
std::optional<PixelLayout> layoutOfSubtype(const GUID& subtype);
const wchar_t* layoutName(PixelLayout layout);
WORD bitCountOf(PixelLayout layout);
bool isRgb(PixelLayout layout);
// NV12, I420 and YV12: a luma plane and chroma planes of half height.
bool isPlanar420(PixelLayout layout);
// Palette entries the format block carries (RGB1/4/8), 0 for the others.
unsigned paletteSizeOf(PixelLayout layout);
// Fills paletteSizeOf(layout) entries: black/white, the 16 VGA colours, or a colour cube with greys.
void fillPalette(PixelLayout layout, RGBQUAD* colors);

// 100 ns units per frame, to the nearest unit; 0 for 0 fps.
REFERENCE_TIME frameInterval(double fps);
// The shortest and longest frame intervals a capability accepts.
REFERENCE_TIME minFrameInterval(const VideoFormat& format);
REFERENCE_TIME maxFrameInterval(const VideoFormat& format);
// Bytes of one uncompressed frame (for MJPG: the largest frame the device sends).
DWORD imageSizeOf(PixelLayout layout, LONG width, LONG height);

// The media type the device offers for a capability.
MediaType makeMediaType(const VideoFormat& format);
// The device's own type of a capability at another frame interval (its bit rate following).
MediaType makeMediaType(const VideoFormat& format, REFERENCE_TIME interval);
// Whether a media type describes this capability, its frame interval within the capability's range.
bool describesCapability(const AM_MEDIA_TYPE& mt, const VideoFormat& format);

// What the streaming side needs to know of a connected media type.
struct FrameGeometry {
    PixelLayout layout = PixelLayout::Yuy2;
    LONG width = 0;
    LONG height = 0;  // as in the header: negative is top-down
    DWORD imageSize = 0;
    REFERENCE_TIME interval = 0;
    LONG declaredSide = 0;  // HugeJpegSide: the side each JPEG's frame header declares
};
std::optional<FrameGeometry> geometryOf(const AM_MEDIA_TYPE& mt);
// How frames of a connection type of `capability` (null: none matched) are made: as the type says,
// or for a capability that declares a size it does not paint, at its own size.
std::optional<FrameGeometry> frameGeometryOf(const AM_MEDIA_TYPE& mt, const VideoFormat* capability);

// "640 x 480, YUY2, 30.00 fps" for people.
std::wstring describeMediaType(const AM_MEDIA_TYPE& mt);
