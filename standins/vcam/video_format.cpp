#include "video_format.h"
#include "guids.h"

#include <dvdmedia.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

namespace {

// Largest side we accept: keeps every size computation well inside 32 bits.
constexpr LONG kMaxSide = 16384;

struct LayoutInfo {
    PixelLayout layout;
    const wchar_t* name;
    const GUID* subtype;
    WORD bitCount;
};

const LayoutInfo kLayouts[] = {
    {PixelLayout::Rgb1, L"RGB1", &MEDIASUBTYPE_RGB1, 1},
    {PixelLayout::Rgb4, L"RGB4", &MEDIASUBTYPE_RGB4, 4},
    {PixelLayout::Rgb8, L"RGB8", &MEDIASUBTYPE_RGB8, 8},
    {PixelLayout::Rgb555, L"RGB555", &MEDIASUBTYPE_RGB555, 16},
    {PixelLayout::Rgb565, L"RGB565", &MEDIASUBTYPE_RGB565, 16},
    {PixelLayout::Rgb24, L"RGB24", &MEDIASUBTYPE_RGB24, 24},
    {PixelLayout::Rgb32, L"RGB32", &MEDIASUBTYPE_RGB32, 32},
    {PixelLayout::Yuy2, L"YUY2", &MEDIASUBTYPE_YUY2, 16},
    {PixelLayout::Mjpg, L"MJPG", &MEDIASUBTYPE_MJPG, 24},
    {PixelLayout::Nv12, L"NV12", &MEDIASUBTYPE_NV12, 12},
    {PixelLayout::Uyvy, L"UYVY", &kSubtypeUyvy, 16},
    {PixelLayout::I420, L"I420", &kSubtypeI420, 12},
    {PixelLayout::Yv12, L"YV12", &kSubtypeYv12, 12},
    {PixelLayout::Y800, L"Y800", &kSubtypeY800, 8},
    {PixelLayout::Grey, L"GREY", &kSubtypeGrey, 8},
    {PixelLayout::Y8, L"Y8", &kSubtypeY8, 8},
};

const LayoutInfo& infoOf(PixelLayout layout) {
    for (const auto& info : kLayouts)
        if (info.layout == layout)
            return info;
    return kLayouts[0];
}

bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    return true;
}

std::vector<std::wstring_view> splitWords(std::wstring_view text) {
    std::vector<std::wstring_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::iswspace(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !std::iswspace(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::optional<long> parseInteger(std::wstring_view text) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    std::wstring buffer(text);
    wchar_t* end = nullptr;
    long value = std::wcstol(buffer.c_str(), &end, 10);
    if (end != buffer.c_str() + buffer.size())
        return std::nullopt;
    return value;
}

std::optional<double> parseRate(std::wstring_view text) {
    if (text.empty() || text.size() > 32 || !(std::iswdigit(text[0]) || text[0] == L'.'))
        return std::nullopt;
    std::wstring buffer(text);
    wchar_t* end = nullptr;
    double value = std::wcstod(buffer.c_str(), &end);
    if (end != buffer.c_str() + buffer.size() || !std::isfinite(value) || value < 0 || value > 1e6)
        return std::nullopt;
    return value;
}

DWORD rgbStride(WORD bitCount, LONG width) {
    return ((static_cast<DWORD>(width) * bitCount + 31) / 32) * 4;
}

// The format block's header, wherever the format type puts it.
const BITMAPINFOHEADER* headerOf(const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval) {
    if (!mt.pbFormat)
        return nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        *interval = vih->AvgTimePerFrame;
        return &vih->bmiHeader;
    }
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
        *interval = vih->AvgTimePerFrame;
        return &vih->bmiHeader;
    }
    return nullptr;
}

}  // namespace

std::optional<VideoFormat> parseVideoFormat(std::wstring_view text) {
    auto words = splitWords(text);
    if (words.size() < 2 || words.size() > 5)
        return std::nullopt;

    VideoFormat format;
    std::wstring_view size = words[0];
    size_t x = size.find_first_of(L"xX");
    size_t at = size.find(L'@');
    if (x == std::wstring_view::npos || at == std::wstring_view::npos || at < x)
        return std::nullopt;
    auto width = parseInteger(size.substr(0, x));
    auto height = parseInteger(size.substr(x + 1, at - x - 1));
    if (!width || !height || *width <= 0 || *width > kMaxSide || *height == 0 || std::labs(*height) > kMaxSide)
        return std::nullopt;
    format.width = *width;
    format.height = *height;
    std::wstring_view rates = size.substr(at + 1);
    size_t dash = rates.find(L'-');
    if (dash == std::wstring_view::npos) {
        auto fps = parseRate(rates);
        if (!fps)
            return std::nullopt;
        format.fps = format.minFps = format.maxFps = *fps;
    } else {
        // A range needs real rates at both ends: a 0 fps end has no frame interval.
        auto low = parseRate(rates.substr(0, dash));
        auto high = parseRate(rates.substr(dash + 1));
        if (!low || !high || *low <= 0 || *high < *low)
            return std::nullopt;
        format.minFps = *low;
        format.fps = format.maxFps = *high;
    }

    bool known = false;
    for (const auto& info : kLayouts) {
        if (equalsIgnoringCase(words[1], info.name)) {
            format.layout = info.layout;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;

    // VIH2, then what only a VIDEOINFOHEADER2 can say: INTERLACED, 16:9.
    for (size_t k = 2; k < words.size(); ++k) {
        if (k == 2 && equalsIgnoringCase(words[k], L"VIH2"))
            format.videoInfo2 = true;
        else if (k > 2 && equalsIgnoringCase(words[k], L"INTERLACED") && !format.interlaced)
            format.interlaced = true;
        else if (k > 2 && words[k] == L"16:9" && !format.wide)
            format.wide = true;
        else
            return std::nullopt;
    }
    return format;
}

std::vector<VideoFormat> parseVideoFormatList(std::wstring_view text) {
    std::vector<VideoFormat> formats;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring_view::npos)
            end = text.size();
        if (auto format = parseVideoFormat(text.substr(start, end - start)))
            formats.push_back(*format);
        start = end + 1;
    }
    return formats;
}

std::vector<VideoFormat> defaultVideoFormats() {
    return parseVideoFormatList(L"640x480@30 YUY2;320x240@30 RGB24;640x480@30 MJPG");
}

const GUID& subtypeOf(PixelLayout layout) { return *infoOf(layout).subtype; }

std::optional<PixelLayout> layoutOfSubtype(const GUID& subtype) {
    for (const auto& info : kLayouts)
        if (*info.subtype == subtype)
            return info.layout;
    return std::nullopt;
}

const wchar_t* layoutName(PixelLayout layout) { return infoOf(layout).name; }

WORD bitCountOf(PixelLayout layout) { return infoOf(layout).bitCount; }

bool isRgb(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::Yuy2:
    case PixelLayout::Uyvy:
    case PixelLayout::Mjpg:
    case PixelLayout::Y800:
    case PixelLayout::Grey:
    case PixelLayout::Y8: return false;
    default: return !isPlanar420(layout);
    }
}

bool isPlanar420(PixelLayout layout) {
    return layout == PixelLayout::Nv12 || layout == PixelLayout::I420 || layout == PixelLayout::Yv12;
}

unsigned paletteSizeOf(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::Rgb1: return 2;
    case PixelLayout::Rgb4: return 16;
    case PixelLayout::Rgb8: return 256;
    default: return 0;
    }
}

REFERENCE_TIME frameInterval(double fps) {
    if (fps <= 0)
        return 0;
    return static_cast<REFERENCE_TIME>(std::llround(10000000.0 / fps));
}

REFERENCE_TIME minFrameInterval(const VideoFormat& format) { return frameInterval(format.maxFps); }

REFERENCE_TIME maxFrameInterval(const VideoFormat& format) { return frameInterval(format.minFps); }

DWORD imageSizeOf(PixelLayout layout, LONG width, LONG height) {
    DWORD rows = static_cast<DWORD>(std::labs(height));
    DWORD evenWidth = static_cast<DWORD>(width + 1) & ~1u;
    switch (layout) {
    case PixelLayout::Yuy2:
    case PixelLayout::Uyvy:
        return evenWidth * 2 * rows;
    case PixelLayout::Nv12:
    case PixelLayout::I420:
    case PixelLayout::Yv12:
        return evenWidth * rows + evenWidth * ((rows + 1) / 2);
    case PixelLayout::Y800:
    case PixelLayout::Grey:
    case PixelLayout::Y8:
        return static_cast<DWORD>(width) * rows;
    case PixelLayout::Mjpg:
        // A generous bound: our pictures compress far below raw RGB.
        return static_cast<DWORD>(width) * rows * 3 + 65536;
    default:
        return rgbStride(bitCountOf(layout), width) * rows;
    }
}

MediaType makeMediaType(const VideoFormat& format) {
    return makeMediaType(format, frameInterval(format.fps));
}

MediaType makeMediaType(const VideoFormat& format, REFERENCE_TIME interval) {
    MediaType type;
    AM_MEDIA_TYPE& mt = type.get();
    const DWORD imageSize = imageSizeOf(format.layout, format.width, format.height);
    const unsigned colors = paletteSizeOf(format.layout);
    const bool masks = format.layout == PixelLayout::Rgb565;
    const LONG width = format.declaredSide ? format.declaredSide : format.width;
    const LONG height = format.declaredSide ? format.declaredSide : format.height;
    const ULONG extra = colors * sizeof(RGBQUAD) + (masks ? 3 * sizeof(DWORD) : 0);

    mt.majortype = MEDIATYPE_Video;
    mt.subtype = subtypeOf(format.layout);
    mt.bFixedSizeSamples = format.layout != PixelLayout::Mjpg;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = imageSize;

    BITMAPINFOHEADER* header = nullptr;
    if (format.videoInfo2) {
        mt.formattype = FORMAT_VideoInfo2;
        auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(type.allocateFormat(sizeof(VIDEOINFOHEADER2) + extra));
        vih->AvgTimePerFrame = interval;
        vih->dwPictAspectRatioX = format.wide ? 16 : static_cast<DWORD>(width);
        vih->dwPictAspectRatioY = format.wide ? 9 : static_cast<DWORD>(std::labs(height));
        // Both fields in each frame, shown by bob or weave as the renderer likes.
        if (format.interlaced)
            vih->dwInterlaceFlags = AMINTERLACE_IsInterlaced | AMINTERLACE_DisplayModeBobOrWeave;
        header = &vih->bmiHeader;
        vih->dwBitRate = interval ? static_cast<DWORD>(std::fmin(imageSize * 8.0 * 1e7 / interval, 4e9)) : 0;
    } else {
        mt.formattype = FORMAT_VideoInfo;
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type.allocateFormat(sizeof(VIDEOINFOHEADER) + extra));
        vih->AvgTimePerFrame = interval;
        header = &vih->bmiHeader;
        vih->dwBitRate = interval ? static_cast<DWORD>(std::fmin(imageSize * 8.0 * 1e7 / interval, 4e9)) : 0;
    }

    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = format.declaredBitCount ? *format.declaredBitCount : bitCountOf(format.layout);
    header->biSizeImage = imageSize;
    switch (format.layout) {
    case PixelLayout::Yuy2: header->biCompression = MAKEFOURCC('Y', 'U', 'Y', '2'); break;
    case PixelLayout::Mjpg: header->biCompression = MAKEFOURCC('M', 'J', 'P', 'G'); break;
    case PixelLayout::Nv12: header->biCompression = MAKEFOURCC('N', 'V', '1', '2'); break;
    case PixelLayout::Uyvy: header->biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y'); break;
    case PixelLayout::I420: header->biCompression = MAKEFOURCC('I', '4', '2', '0'); break;
    case PixelLayout::Yv12: header->biCompression = MAKEFOURCC('Y', 'V', '1', '2'); break;
    case PixelLayout::Y800:
    case PixelLayout::Grey:
    case PixelLayout::Y8: header->biCompression = subtypeOf(format.layout).Data1; break;
    case PixelLayout::Rgb565: header->biCompression = BI_BITFIELDS; break;
    default: header->biCompression = BI_RGB; break;
    }

    // Colour table or bit masks follow the header, as in VIDEOINFO.
    BYTE* after = reinterpret_cast<BYTE*>(header) + sizeof(BITMAPINFOHEADER);
    if (colors) {
        header->biClrUsed = colors;
        fillPalette(format.layout, reinterpret_cast<RGBQUAD*>(after));
    }
    if (masks) {
        const DWORD bitMasks[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(after, bitMasks, sizeof(bitMasks));
    }
    return type;
}

bool describesCapability(const AM_MEDIA_TYPE& mt, const VideoFormat& format) {
    if (mt.majortype != MEDIATYPE_Video || mt.subtype != subtypeOf(format.layout))
        return false;
    if (mt.formattype != (format.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo))
        return false;
    if (format.declaredSide) {
        REFERENCE_TIME interval = 0;
        const BITMAPINFOHEADER* header = headerOf(mt, &interval);
        return header && header->biWidth == format.declaredSide && header->biHeight == format.declaredSide &&
               interval >= minFrameInterval(format) && interval <= maxFrameInterval(format);
    }
    auto geometry = geometryOf(mt);
    return geometry && geometry->width == format.width && geometry->height == format.height &&
           geometry->interval >= minFrameInterval(format) && geometry->interval <= maxFrameInterval(format);
}

std::optional<FrameGeometry> geometryOf(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Video)
        return std::nullopt;
    auto layout = layoutOfSubtype(mt.subtype);
    REFERENCE_TIME interval = 0;
    const BITMAPINFOHEADER* header = headerOf(mt, &interval);
    if (!layout || !header)
        return std::nullopt;
    if (header->biWidth <= 0 || header->biWidth > kMaxSide || header->biHeight == 0 ||
        std::labs(header->biHeight) > kMaxSide)
        return std::nullopt;
    FrameGeometry geometry;
    geometry.layout = *layout;
    geometry.width = header->biWidth;
    geometry.height = header->biHeight;
    geometry.interval = interval;
    const DWORD needed = imageSizeOf(*layout, header->biWidth, header->biHeight);
    geometry.imageSize = header->biSizeImage ? header->biSizeImage : needed;
    if (*layout != PixelLayout::Mjpg && geometry.imageSize < needed)
        return std::nullopt;
    if (*layout == PixelLayout::Mjpg)
        geometry.imageSize = std::max(geometry.imageSize, needed);
    return geometry;
}

std::optional<FrameGeometry> frameGeometryOf(const AM_MEDIA_TYPE& mt, const VideoFormat* capability) {
    if (!capability || !capability->declaredSide)
        return geometryOf(mt);
    VideoFormat painted = *capability;
    painted.declaredSide = 0;
    auto geometry = geometryOf(makeMediaType(painted).get());
    if (geometry) {
        headerOf(mt, &geometry->interval);
        geometry->declaredSide = capability->declaredSide;
    }
    return geometry;
}

std::wstring describeMediaType(const AM_MEDIA_TYPE& mt) {
    auto geometry = geometryOf(mt);
    if (!geometry)
        return L"(unknown format)";
    wchar_t text[160];
    double fps = geometry->interval > 0 ? 1e7 / static_cast<double>(geometry->interval) : 0.0;
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L"%ld x %ld, %ls, %.2f fps%ls",
                  static_cast<long>(geometry->width), static_cast<long>(geometry->height),
                  layoutName(geometry->layout), fps,
                  mt.formattype == FORMAT_VideoInfo2 ? L", VIDEOINFOHEADER2" : L"");
    return text;
}

namespace {
// 16 VGA colours, in the palette order of the classic 4-bit DIB.
const RGBQUAD kVgaColors[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},     {0, 128, 0, 0},     {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0},   {128, 128, 0, 0},   {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},     {0, 255, 0, 0},     {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0},   {255, 255, 0, 0},   {255, 255, 255, 0},
};

}  // namespace

void fillPalette(PixelLayout layout, RGBQUAD* colors) {
    switch (layout) {
    case PixelLayout::Rgb1:
        colors[0] = {0, 0, 0, 0};
        colors[1] = {255, 255, 255, 0};
        break;
    case PixelLayout::Rgb4:
        std::memcpy(colors, kVgaColors, sizeof(kVgaColors));
        break;
    case PixelLayout::Rgb8:
        // A 6x6x6 colour cube, then a grey ramp.
        for (int i = 0; i < 256; ++i) {
            BYTE r, g, b;
            if (i < 216) {
                r = static_cast<BYTE>((i / 36) * 51);
                g = static_cast<BYTE>(((i / 6) % 6) * 51);
                b = static_cast<BYTE>((i % 6) * 51);
            } else {
                r = g = b = static_cast<BYTE>((i - 216) * 255 / 39);
            }
            colors[i] = {b, g, r, 0};
        }
        break;
    default:
        break;
    }
}


