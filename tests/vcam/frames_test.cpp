// Frames through the platform's graph: size, stamp, picture, pacing, late frames and the frame limit.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include "fenwyr/guids.h"
#include <wincodec.h>
#include <wrl/client.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

struct Rgb {
    int r, g, b;
};

// What the grabber connected with.
AM_MEDIA_TYPE connectedType(PlatformGraph& graph) {
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(graph.grabber()->GetConnectedMediaType(&mt), S_OK);
    return mt;
}

// Runs a one-device graph until `count` frames arrived; returns them with their whole bytes.
std::vector<FrameLog::Frame> captureFrames(const std::wstring& formats, size_t count, AM_MEDIA_TYPE* type = nullptr,
                                           DWORD tag = 0x5A17) {
    VcamDevices devices({{L"cam", L"Camera", formats, tag, {}, {}}});
    PlatformGraph graph;
    HRESULT hr = graph.open(L"Camera");
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr))
        return {};
    if (type)
        *type = connectedType(graph);
    FrameLog log(true);
    logFrames(graph, log);
    EXPECT_TRUE(SUCCEEDED(graph.run()));
    EXPECT_TRUE(log.waitFor(count, 10s));
    EXPECT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    if (frames.size() > count)
        frames.resize(count);
    return frames;
}

// Decodes pixel (x, y) of a picture row-major from the top, whatever the layout.
using PixelReader = std::function<Rgb(int x, int y)>;

Rgb clampRgb(double r, double g, double b) {
    auto clamp = [](double v) { return static_cast<int>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); };
    return {clamp(r), clamp(g), clamp(b)};
}

Rgb fromYuv(int y, int u, int v) {
    double c = 1.164 * (y - 16);
    return clampRgb(c + 1.596 * (v - 128), c - 0.392 * (u - 128) - 0.813 * (v - 128), c + 2.017 * (u - 128));
}

// Share of pixels (outside the stamp's bytes) within `tolerance` of the reference picture.
double matchingShare(const PixelReader& actual, const PixelReader& reference, int width, int height, int tolerance,
                     int skipTopRows = 1) {
    long matching = 0, total = 0;
    for (int y = skipTopRows; y < height - 1; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb a = actual(x, y), b = reference(x, y);
            ++total;
            if (std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance)
                ++matching;
        }
    }
    return total ? static_cast<double>(matching) / total : 0;
}

PixelReader rgb24Reader(const std::vector<BYTE>& bytes, int width, int height, bool bottomUp) {
    const size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    return [&bytes, stride, height, bottomUp](int x, int y) {
        const BYTE* p = bytes.data() + stride * (bottomUp ? height - 1 - y : y) + 3 * x;
        return Rgb{p[2], p[1], p[0]};
    };
}

void checkStampsAndSizes(const std::vector<FrameLog::Frame>& frames, long expectedLength, DWORD tag, int64_t since) {
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].length, expectedLength) << "frame " << i;
        FrameStamp stamp = readStamp(frames[i].bytes.data());
        EXPECT_EQ(stamp.sequence, i);
        EXPECT_EQ(stamp.tag, tag);
        EXPECT_GT(stamp.counter, since);
        EXPECT_LE(stamp.counter, frames[i].arrival);
    }
}

// One device's frames: its frame size and tag, numbered from zero.
void expectOwnFrames(const std::vector<FrameLog::Frame>& frames, long length, uint32_t tag) {
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].length, length) << "frame " << i;
        EXPECT_EQ(readStamp(frames[i].bytes.data()).tag, tag) << "frame " << i;
    }
    expectNumberedFromZero(frames);
}

// Checks one uncompressed format against the RGB24 top-down picture of the same frame.
void checkPicture(const std::wstring& subtype, int tolerance, double share,
                  const std::function<PixelReader(const std::vector<BYTE>&, const AM_MEDIA_TYPE&)>& reader) {
    const int width = 320, height = 240;
    ComApartment com;
    AM_MEDIA_TYPE referenceType{}, type{};
    const int64_t before = performanceCounter();
    auto reference = captureFrames(L"320x-240@30 RGB24", 3, &referenceType);
    auto frames = captureFrames(L"320x240@30 " + subtype, 3, &type, 0x5A17);
    ASSERT_EQ(reference.size(), 3u);
    ASSERT_EQ(frames.size(), 3u);
    const BITMAPINFOHEADER* header = bitmapHeaderOf(type);
    ASSERT_NE(header, nullptr);
    checkStampsAndSizes(frames, static_cast<long>(header->biSizeImage), 0x5A17, before);
    for (size_t i = 1; i < 3; ++i) {
        PixelReader expected = rgb24Reader(reference[i].bytes, width, height, false);
        EXPECT_GE(matchingShare(reader(frames[i].bytes, type), expected, width, height, tolerance), share)
            << "frame " << i;
    }
    freeMediaType(referenceType);
    freeMediaType(type);
}

}  // namespace

TEST(VcamFrames, Rgb24FramesAreNumberedFromZeroWithTagAndCounter) {
    ComApartment com;
    const int64_t before = performanceCounter();
    AM_MEDIA_TYPE type{};
    auto frames = captureFrames(L"320x240@30 RGB24", 10, &type, 0xC0FFEE);
    ASSERT_EQ(frames.size(), 10u);
    const BITMAPINFOHEADER* header = bitmapHeaderOf(type);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biSizeImage, 320u * 240u * 3u);
    checkStampsAndSizes(frames, 320 * 240 * 3, 0xC0FFEE, before);
    freeMediaType(type);
}

TEST(VcamFrames, BottomUpAndTopDownRgb24ShowTheSamePicture) {
    ComApartment com;
    auto topDown = captureFrames(L"320x-240@30 RGB24", 3);
    auto bottomUp = captureFrames(L"320x240@30 RGB24", 3);
    ASSERT_EQ(topDown.size(), 3u);
    ASSERT_EQ(bottomUp.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(matchingShare(rgb24Reader(bottomUp[i].bytes, 320, 240, true),
                                rgb24Reader(topDown[i].bytes, 320, 240, false), 320, 240, 0),
                  1.0);
    }
    // Colour bars from the left: white, yellow, cyan, green, magenta, red, blue, black.
    const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                         {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    PixelReader picture = rgb24Reader(topDown[0].bytes, 320, 240, false);
    int matchingBars = 0;
    for (int bar = 0; bar < 8; ++bar) {
        Rgb p = picture(bar * 40 + 20, 150);
        matchingBars += p.r == bars[bar].r && p.g == bars[bar].g && p.b == bars[bar].b;
    }
    EXPECT_GE(matchingBars, 6);
    // The box moves: consecutive frames differ somewhere.
    EXPECT_LT(matchingShare(rgb24Reader(topDown[2].bytes, 320, 240, false), picture, 320, 240, 0), 1.0);
}

TEST(VcamFrames, Rgb32PixelsMatchThePicture) {
    checkPicture(L"RGB32", 0, 1.0, [](const std::vector<BYTE>& bytes, const AM_MEDIA_TYPE&) -> PixelReader {
        return [&bytes](int x, int y) {
            const BYTE* p = bytes.data() + (static_cast<size_t>(239 - y) * 320 + x) * 4;
            return Rgb{p[2], p[1], p[0]};
        };
    });
}

TEST(VcamFrames, Rgb565PixelsMatchThePicture) {
    checkPicture(L"RGB565", 8, 1.0, [](const std::vector<BYTE>& bytes, const AM_MEDIA_TYPE&) -> PixelReader {
        return [&bytes](int x, int y) {
            const BYTE* p = bytes.data() + (static_cast<size_t>(239 - y) * 320 + x) * 2;
            int v = p[0] | (p[1] << 8);
            return Rgb{((v >> 11) & 31) * 255 / 31, ((v >> 5) & 63) * 255 / 63, (v & 31) * 255 / 31};
        };
    });
}

TEST(VcamFrames, Rgb555PixelsMatchThePicture) {
    checkPicture(L"RGB555", 8, 1.0, [](const std::vector<BYTE>& bytes, const AM_MEDIA_TYPE&) -> PixelReader {
        return [&bytes](int x, int y) {
            const BYTE* p = bytes.data() + (static_cast<size_t>(239 - y) * 320 + x) * 2;
            int v = p[0] | (p[1] << 8);
            EXPECT_EQ(v & 0x8000, 0);
            return Rgb{((v >> 10) & 31) * 255 / 31, ((v >> 5) & 31) * 255 / 31, (v & 31) * 255 / 31};
        };
    });
}

TEST(VcamFrames, Rgb8PixelsIndexThePaletteOfTheFormat) {
    checkPicture(L"RGB8", 26, 1.0, [](const std::vector<BYTE>& bytes, const AM_MEDIA_TYPE& mt) -> PixelReader {
        const BITMAPINFOHEADER* header = bitmapHeaderOf(mt);
        EXPECT_EQ(header->biClrUsed, 256u);
        EXPECT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER) + 256 * sizeof(RGBQUAD));
        const RGBQUAD* palette = reinterpret_cast<const RGBQUAD*>(header + 1);
        return [&bytes, palette](int x, int y) {
            const RGBQUAD& c = palette[bytes[static_cast<size_t>(239 - y) * 320 + x]];
            return Rgb{c.rgbRed, c.rgbGreen, c.rgbBlue};
        };
    });
}

TEST(VcamFrames, Rgb4AndRgb1FramesArePackedPalettePictures) {
    ComApartment com;
    for (const wchar_t* subtype : {L"RGB4", L"RGB1"}) {
        AM_MEDIA_TYPE type{};
        auto frames = captureFrames(std::wstring(L"320x240@30 ") + subtype, 2, &type);
        ASSERT_EQ(frames.size(), 2u);
        const BITMAPINFOHEADER* header = bitmapHeaderOf(type);
        ASSERT_NE(header, nullptr);
        const unsigned colors = header->biBitCount == 4 ? 16 : 2;
        EXPECT_EQ(header->biClrUsed, colors);
        EXPECT_EQ(header->biSizeImage, 320u * 240u * header->biBitCount / 8);
        EXPECT_EQ(static_cast<DWORD>(frames[1].length), header->biSizeImage);
        // The white bar is at the left of every row; bottom-up, the picture's top row is last.
        const BYTE* topRow = frames[1].bytes.data() + (header->biSizeImage / 240) * 239;
        EXPECT_EQ(topRow[0], header->biBitCount == 4 ? 0xFF : 0xFF);
        const BYTE* row = frames[1].bytes.data() + (header->biSizeImage / 240) * 120;
        const int blackBarByte = header->biBitCount == 4 ? 150 : 37;  // x = 300..303 / 296..303
        EXPECT_EQ(row[blackBarByte], 0);
        freeMediaType(type);
    }
}

TEST(VcamFrames, Yuy2PixelsMatchThePicture) {
    checkPicture(L"YUY2", 12, 0.99, [](const std::vector<BYTE>& bytes, const AM_MEDIA_TYPE&) -> PixelReader {
        return [&bytes](int x, int y) {
            const BYTE* pair = bytes.data() + static_cast<size_t>(y) * 640 + (x / 2) * 4;
            return fromYuv(pair[(x % 2) * 2], pair[1], pair[3]);
        };
    });
}

TEST(VcamFrames, Nv12PixelsMatchThePicture) {
    checkPicture(L"NV12", 12, 0.98, [](const std::vector<BYTE>& bytes, const AM_MEDIA_TYPE&) -> PixelReader {
        return [&bytes](int x, int y) {
            const BYTE* chroma = bytes.data() + 320 * 240 + static_cast<size_t>(y / 2) * 320 + (x / 2) * 2;
            return fromYuv(bytes[static_cast<size_t>(y) * 320 + x], chroma[0], chroma[1]);
        };
    });
}

TEST(VcamFrames, MjpgFramesAreJpegImagesOfThePictureWithTheStampInAComment) {
    ComApartment com;
    AM_MEDIA_TYPE type{};
    const int64_t before = performanceCounter();
    auto reference = captureFrames(L"320x-240@30 RGB24", 3);
    auto frames = captureFrames(L"320x240@30 MJPG", 3, &type, 0x77);
    ASSERT_EQ(reference.size(), 3u);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_MJPG);

    ComPtr<IWICImagingFactory> factory;
    ASSERT_EQ(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)), S_OK);
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& bytes = frames[i].bytes;
        ASSERT_GT(bytes.size(), 22u);
        // SOI, then a comment segment of 2 + 16 bytes holding the stamp.
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);
        EXPECT_EQ(bytes[2], 0xFF);
        EXPECT_EQ(bytes[3], 0xFE);
        EXPECT_EQ((bytes[4] << 8) | bytes[5], 18);
        FrameStamp stamp = readStamp(bytes.data() + 6);
        EXPECT_EQ(stamp.sequence, i);
        EXPECT_EQ(stamp.tag, 0x77u);
        EXPECT_GT(stamp.counter, before);
        // The sample holds the JPEG and nothing after its end marker.
        EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
        EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);

        ComPtr<IWICStream> stream;
        ASSERT_EQ(factory->CreateStream(&stream), S_OK);
        ASSERT_EQ(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())), S_OK);
        ComPtr<IWICBitmapDecoder> decoder;
        ASSERT_EQ(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder), S_OK);
        GUID container{};
        decoder->GetContainerFormat(&container);
        EXPECT_EQ(container, GUID_ContainerFormatJpeg);
        ComPtr<IWICBitmapFrameDecode> frame;
        ASSERT_EQ(decoder->GetFrame(0, &frame), S_OK);
        UINT width = 0, height = 0;
        frame->GetSize(&width, &height);
        EXPECT_EQ(width, 320u);
        EXPECT_EQ(height, 240u);
        ComPtr<IWICFormatConverter> converter;
        ASSERT_EQ(factory->CreateFormatConverter(&converter), S_OK);
        ASSERT_EQ(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom),
                  S_OK);
        std::vector<BYTE> pixels(320 * 240 * 3);
        ASSERT_EQ(converter->CopyPixels(nullptr, 320 * 3, static_cast<UINT>(pixels.size()), pixels.data()), S_OK);
        EXPECT_GE(matchingShare(rgb24Reader(pixels, 320, 240, false), rgb24Reader(reference[i].bytes, 320, 240, false),
                                320, 240, 48, 0),
                  0.95);
    }
    freeMediaType(type);
}

TEST(VcamFrames, SequenceStartsAgainAtZeroOnEachRun) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@30 YUY2"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    logFrames(graph, log);
    for (int run = 0; run < 2; ++run) {
        log.clear();
        ASSERT_TRUE(SUCCEEDED(graph.run()));
        ASSERT_TRUE(log.waitFor(4, 10s));
        ASSERT_EQ(graph.stop(), S_OK);
        SCOPED_TRACE(testing::Message() << "run " << run);
        expectNumberedFromZero(log.frames());
    }
}

TEST(VcamFrames, FramesComeAtTheFormatsRateAndCarryStreamTimes) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@20 RGB24"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(1, 5s));
    Sleep(1500);
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    // 20 fps: about 30 frames in 1.5 s after the first.
    EXPECT_GE(frames.size(), 24u);
    EXPECT_LE(frames.size(), 36u);
    // Stream times are whole frame intervals apart (one apart unless the machine stalled).
    size_t oneApart = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        const double intervals = (frames[i].time - frames[i - 1].time) / 0.05;
        EXPECT_GE(intervals, 1 - 1e-4) << "frame " << i;
        EXPECT_NEAR(intervals, std::round(intervals), 1e-4) << "frame " << i;
        oneApart += std::fabs(intervals - 1) < 1e-4;
    }
    EXPECT_GE(oneApart + 3, frames.size() - 1);
}

TEST(VcamFrames, FormatWithoutFrameRateStillStreams) {
    ComApartment com;
    AM_MEDIA_TYPE type{};
    auto frames = captureFrames(L"160x120@0 RGB24", 5, &type);
    EXPECT_EQ(frameIntervalOf(type), 0);
    EXPECT_EQ(frames.size(), 5u);
    freeMediaType(type);
}

TEST(VcamFrames, UnthrottledDeviceDeliversAsFastAsTakenWithoutTimes) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@5 RGB24"), 1, {{L"Unthrottled", 1}}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    // At 5 fps this would take 10 s.
    EXPECT_TRUE(log.waitFor(50, 3s));
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(readStamp(frames[i].bytes.data()).sequence, i);
        EXPECT_EQ(frames[i].time, 0.0);
    }
}

TEST(VcamFrames, FrameLimitStopsDeliveryAndTellsTheGraph) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@30 YUY2"), 1, {{L"FrameLimit", 5}}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(5, 5s));
    Sleep(1000);
    EXPECT_EQ(log.size(), 5u);

    bool aborted = false;
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (graph.events()->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        if (code == EC_ERRORABORT) {
            aborted = true;
            EXPECT_TRUE(FAILED(static_cast<HRESULT>(param1)));
        }
        graph.events()->FreeEventParams(code, param1, param2);
    }
    EXPECT_TRUE(aborted);
    EXPECT_EQ(graph.stop(), S_OK);
}

TEST(VcamFrames, TwoDevicesStreamAtOnceEachWithItsOwnTag) {
    ComApartment com;
    VcamDevices devices({
        {L"a", L"Left", std::wstring(L"160x120@30 YUY2"), 0x1111, {}, {}},
        {L"b", L"Right", std::wstring(L"320x240@15 RGB24"), 0x2222, {}, {}},
    });
    PlatformGraph left, right;
    ASSERT_EQ(left.open(L"Left"), S_OK);
    ASSERT_EQ(right.open(L"Right"), S_OK);
    FrameLog leftLog, rightLog;
    logFrames(left, leftLog);
    logFrames(right, rightLog);
    ASSERT_TRUE(SUCCEEDED(left.run()));
    ASSERT_TRUE(SUCCEEDED(right.run()));
    EXPECT_TRUE(leftLog.waitFor(6, 5s));
    EXPECT_TRUE(rightLog.waitFor(3, 5s));
    ASSERT_EQ(left.stop(), S_OK);
    ASSERT_EQ(right.stop(), S_OK);
    expectOwnFrames(leftLog.frames(), 160 * 120 * 2, 0x1111u);
    expectOwnFrames(rightLog.frames(), 320 * 240 * 3, 0x2222u);
}

TEST(VcamFrames, RunningAgainAfterAPauseGoesOnWithTheSequenceAndTheStreamTime) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@30 YUY2"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(3, 5s));
    ASSERT_TRUE(SUCCEEDED(graph.control()->Pause()));
    const size_t beforePause = log.size();
    Sleep(300);
    EXPECT_EQ(log.size(), beforePause);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(beforePause + 3, 5s));
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(readStamp(frames[i].bytes.data()).sequence, i);
        if (i > 0) {
            EXPECT_GT(frames[i].time, frames[i - 1].time) << "frame " << i;
        }
    }
}

TEST(VcamFrames, AfterASlowConsumerFramesResumeAtTheRateInsteadOfInABurst) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@50 YUY2"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    std::atomic<bool> stall{true};
    graph.setCallback([&](const BYTE* data, long length, double time) {
        log.add(data, length, time);
        if (stall.exchange(false))
            Sleep(1000);  // the consumer holds the first frame for 50 frame intervals
    });
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(1, 5s));
    Sleep(1200);  // the stall, then about 10 frames at 50 fps
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    EXPECT_LE(frames.size(), 20u);
    ASSERT_GE(frames.size(), 3u);
    // The frame after the stall is stamped about a second after the first one.
    EXPECT_GT(frames[1].time - frames[0].time, 0.9);
    expectNumberedFromZero(frames);
    // The frames the stall cost are counted as dropped.
    ComPtr<IAMDroppedFrames> report;
    ASSERT_EQ(graph.captureFilter()->QueryInterface(IID_PPV_ARGS(&report)), S_OK);
    LONG dropped = 0;
    ASSERT_EQ(report->GetNumDropped(&dropped), S_OK);
    EXPECT_GE(dropped, 40);
}
