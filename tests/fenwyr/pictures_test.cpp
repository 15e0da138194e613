// Pictures: every source format the virtual device sends, converted by the library to every
// output, lands on the colour bars' known colours, top row at the top.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_pair.h"
#include "reference_picture.h"
#include "test_devices.h"

namespace {

using Clock = std::chrono::steady_clock;

// The virtual device's Formats value for a table of sources, in their order.
template <class Sources>
std::wstring formatList(const Sources& sources) {
    std::wstring formats;
    for (const auto& source : sources)
        formats += std::wstring(formats.empty() ? L"" : L";") + source.format;
    return formats;
}

struct Bgr {
    int b, g, r;
};

// The virtual device's bars (left to right, eight equal widths) above a grey ramp (the bottom
// sixth); the ones checked here: cyan (third) and red (sixth).
constexpr Bgr kCyan = {255, 255, 0};
constexpr Bgr kRed = {0, 0, 255};

// How the device writes a colour: as it is, as limited-range YUV, as full-range grey, or as
// black and white (RGB1, by its limited-range luma).
enum class Kind { colour, yuv, mono, blackWhite, jpeg };

int limitedLuma(const Bgr& c) {
    return ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16;
}
int fullLuma(const Bgr& c) {
    return (77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8;
}

struct Source {
    const wchar_t* format;
    int width;
    Kind kind;
    int tolerance;  // per channel: 3; the lossy JPEG's saturated bars 12 (WIC's decoding 7 off, ours 12)
};

const Source kSources[] = {
    {L"160x120@30 RGB24", 160, Kind::colour, 3},        {L"161x120@30 RGB24", 161, Kind::colour, 3},
    {L"160x-120@30 RGB24", 160, Kind::colour, 3},       {L"160x120@30 RGB32", 160, Kind::colour, 3},
    {L"160x120@30 RGB565", 160, Kind::colour, 3},       {L"160x120@30 RGB555", 160, Kind::colour, 3},
    {L"160x120@30 RGB8", 160, Kind::colour, 3},         {L"160x120@30 RGB4", 160, Kind::colour, 3},
    {L"160x120@30 RGB1", 160, Kind::blackWhite, 3},     {L"160x120@30 YUY2", 160, Kind::yuv, 3},
    {L"160x120@30 UYVY", 160, Kind::yuv, 3},            {L"160x120@30 NV12", 160, Kind::yuv, 3},
    {L"160x120@30 I420", 160, Kind::yuv, 3},            {L"160x120@30 YV12", 160, Kind::yuv, 3},
    {L"160x120@30 Y800", 160, Kind::mono, 3},           {L"160x120@30 MJPG", 160, Kind::jpeg, 12},
    {L"160x120@30 YUY2 VIH2", 160, Kind::yuv, 3},       {L"160x120@30 GREY", 160, Kind::mono, 3},
    {L"160x120@30 Y8", 160, Kind::mono, 3},
};

struct Output {
    int32_t output;
    int32_t pixelFormat;
    int bytesPerPixel;
};

const Output kOutputs[] = {
    {FENWYR_OUTPUT_BGR24, 5, 3},   {FENWYR_OUTPUT_BGRA32, 6, 4}, {FENWYR_OUTPUT_RGB24, FENWYR_PIXEL_RGB, 3},
    {FENWYR_OUTPUT_RGBA32, FENWYR_PIXEL_RGBA, 4}, {FENWYR_OUTPUT_GRAY8, FENWYR_PIXEL_GRAY8, 1},
};

// The channels a picture holds for a bar of this colour, in the output's byte order.
std::vector<int> expectedChannels(const Source& source, const Output& output, const Bgr& bar) {
    Bgr c = bar;
    if (source.kind == Kind::mono) {
        const int grey = fullLuma(bar);
        c = {grey, grey, grey};
    } else if (source.kind == Kind::blackWhite) {
        const int level = limitedLuma(bar) >= 128 ? 255 : 0;
        c = {level, level, level};
    }
    switch (output.output) {
    case FENWYR_OUTPUT_BGR24: return {c.b, c.g, c.r};
    case FENWYR_OUTPUT_BGRA32: return {c.b, c.g, c.r, 255};
    case FENWYR_OUTPUT_RGB24: return {c.r, c.g, c.b};
    case FENWYR_OUTPUT_RGBA32: return {c.r, c.g, c.b, 255};
    default:
        // A YUV source's own luma plane; otherwise the full-range luma of the colour.
        return {source.kind == Kind::yuv ? limitedLuma(bar) : fullLuma(c)};
    }
}

int worstDifference(const std::vector<uint8_t>& picture, const FrameInfo& info, int x, int y,
                    const std::vector<int>& expected) {
    const uint8_t* pixel = picture.data() + static_cast<size_t>(y) * info.stride + static_cast<size_t>(x) * expected.size();
    int worst = 0;
    for (size_t k = 0; k < expected.size(); ++k)
        worst = std::max(worst, std::abs(int(pixel[k]) - expected[k]));
    return worst;
}

// The mean of a pixel's colour channels.
int level(const std::vector<uint8_t>& picture, const FrameInfo& info, int x, int y) {
    const int bytes = info.stride / info.width;
    const int channels = bytes == 4 ? 3 : bytes;
    const uint8_t* pixel = picture.data() + static_cast<size_t>(y) * info.stride + static_cast<size_t>(x) * bytes;
    int sum = 0;
    for (int k = 0; k < channels; ++k)
        sum += pixel[k];
    return sum / channels;
}

}  // namespace

TEST(Pictures, EverySourceBecomesEveryOutputWithTheBarsColoursTopRowAtTheTop) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", formatList(kSources))});
    init();
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getOutputFormat(0), FENWYR_OUTPUT_NATIVE);
    EXPECT_EQ(getOutputFormat(1), -1);
    EXPECT_EQ(setOutputFormat(0, 6), E_INVALIDARG);
    EXPECT_EQ(setOutputFormat(0, -1), E_INVALIDARG);
    EXPECT_EQ(setOutputFormat(1, FENWYR_OUTPUT_BGR24), E_INVALIDARG);

    for (int32_t k = 0; k < int32_t(std::size(kSources)); ++k) {
        const Source& source = kSources[k];
        SCOPED_TRACE(std::string(source.format, source.format + wcslen(source.format)));
        ASSERT_EQ(setFormat(0, k, 0.0), S_OK);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        for (const Output& output : kOutputs) {
            SCOPED_TRACE(testing::Message() << "output " << output.output);
            ASSERT_EQ(setOutputFormat(0, output.output), S_OK);
            EXPECT_EQ(getOutputFormat(0), output.output);
            std::vector<uint8_t> picture(size_t(source.width) * 120 * 4);
            FrameInfo info{};
            // A frame kept from before the change may still be in the old output.
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            do {
                ASSERT_EQ(grabFrame(0, picture.data(), int32_t(picture.size()), &info, 5000), S_OK);
            } while (info.pixelFormat != output.pixelFormat && Clock::now() < deadline);
            ASSERT_EQ(info.pixelFormat, output.pixelFormat);
            ASSERT_EQ(info.width, source.width);
            ASSERT_EQ(info.height, 120);
            ASSERT_EQ(info.stride, source.width * output.bytesPerPixel);
            ASSERT_EQ(info.length, info.stride * 120);
            EXPECT_EQ(info.bottomUp, 0);
            EXPECT_EQ(info.fourcc, 0u);

            // Each bar at two heights 60 rows apart: the moving box (30 rows) covers one at most.
            for (const auto& bar : {std::make_pair(2, kCyan), std::make_pair(5, kRed)}) {
                const int x = (2 * bar.first + 1) * source.width / 16;
                const std::vector<int> expected = expectedChannels(source, output, bar.second);
                const int difference =
                    std::min(worstDifference(picture, info, x, 15, expected), worstDifference(picture, info, x, 75, expected));
                EXPECT_LE(difference, source.tolerance) << "bar " << bar.first;
            }
            // The grey ramp is at the bottom, dark on the left, light on the right; the moving
            // box (30 pixels wide) may cover one of these four points, 32 apart. Upside down, the
            // bottom row would be the bars: white and cyan on the left, red and black on the right.
            const int w = source.width;
            const int left = level(picture, info, w / 10, 119) + level(picture, info, 3 * w / 10, 119);
            const int right = level(picture, info, 7 * w / 10, 119) + level(picture, info, 9 * w / 10, 119);
            EXPECT_LT(left, right) << "the bottom row is not the ramp";
        }
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    }
    uninit();
}

namespace {

// What a described callback saw of each frame.
struct Seen {
    std::mutex mutex;
    std::vector<FrameInfo> infos;
    std::atomic<int> inconsistent{0};

    static void receive(const uint8_t* frame, const FrameInfo* info, void* userData) {
        auto* seen = static_cast<Seen*>(userData);
        if (!consistent(frame, *info))
            ++seen->inconsistent;
        std::lock_guard<std::mutex> lock(seen->mutex);
        seen->infos.push_back(*info);
    }
    // A frame whose bytes are what its description says: its size, and an opaque alpha.
    static bool consistent(const uint8_t* frame, const FrameInfo& info) {
        const int bytes = info.pixelFormat == 5 || info.pixelFormat == FENWYR_PIXEL_RGB   ? 3
                          : info.pixelFormat == 6 || info.pixelFormat == FENWYR_PIXEL_RGBA ? 4
                          : info.pixelFormat == FENWYR_PIXEL_GRAY8                          ? 1
                                                                                            : 2;  // YUY2
        if (info.stride != info.width * bytes || info.length != info.stride * info.height)
            return false;
        return bytes != 4 || (frame[3] == 255 && frame[info.length - 1] == 255);
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return infos.size();
    }
};

}  // namespace

TEST(Pictures, ADamagedFrameIsSkippedAndTheNextFrameDelivered) {
    const struct {
        const wchar_t* format;
        const wchar_t* damage;
        DWORD bytesLost;  // at the end (TruncateBytes); 0: half
        int32_t output;
    } cases[] = {
        {L"160x120@30 MJPG", L"TruncateEvery", 0, FENWYR_OUTPUT_BGR24},   // its second half lost
        {L"160x120@30 MJPG", L"CutScanEvery", 0, FENWYR_OUTPUT_BGR24},    // the middle of its scan lost, the end marker kept
        {L"160x120@30 RGB24", L"TruncateEvery", 480, FENWYR_OUTPUT_BGR24},  // one row short
        {L"160x120@30 MJPG", L"TruncateEvery", 2, FENWYR_OUTPUT_BGR24},     // only its end marker lost; the tag puts FF D9 before it
        // Grey is decoded from the luma alone.
        {L"160x120@30 MJPG", L"CutScanEvery", 0, FENWYR_OUTPUT_GRAY8},
        {L"160x120@30 MJPG", L"TruncateEvery", 2, FENWYR_OUTPUT_GRAY8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.format, c.format + wcslen(c.format)) << " "
                                        << std::string(c.damage, c.damage + wcslen(c.damage)) << " " << c.bytesLost
                                        << " output " << c.output);
        VcamDevice device =
            withSwitch(withSwitch(vcamDevice(L"a", L"Alpha", c.format), c.damage, 3), L"TruncateBytes", c.bytesLost);
        device.tag = 0xD9FF;  // FF D9 in every frame's stamp
        VcamDevices devices({device});
        init();
        Seen seen;
        ASSERT_EQ(setOutputFormat(0, c.output), S_OK);
        ASSERT_EQ(setFrameCallbackEx(0, Seen::receive, &seen), S_OK);
        ASSERT_EQ(openDevice(0), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (seen.count() < 8 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        StreamStats stats{};
        ASSERT_EQ(getStreamStats(0, &stats), S_OK);
        uninit();
        std::lock_guard<std::mutex> lock(seen.mutex);
        ASSERT_GE(seen.infos.size(), 8u);
        EXPECT_EQ(stats.missed, stats.frames / 3) << "the gaps, counted";
        // Every third frame (2, 5, 8, ...) came damaged: its number is the gap.
        for (std::size_t i = 0; i < seen.infos.size(); ++i)
            EXPECT_EQ(seen.infos[i].sequence, i + i / 2) << "frame " << i;
        EXPECT_EQ(seen.inconsistent.load(), 0);
    }
}

TEST(Pictures, TheOutputChangesWhileFramesFlowFromAnotherThreadAndEveryFrameMatchesItsDescription) {
    VcamDevices devices({withSwitch(vcamDevice(L"a", L"Alpha", L"160x120@30 YUY2"), L"Unthrottled")});
    init();
    Seen seen;
    ASSERT_EQ(setFrameCallbackEx(0, Seen::receive, &seen), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    std::atomic<bool> done{false};
    std::atomic<int> grabbed{0}, grabbedInconsistent{0};
    std::thread switcher([&] {
        for (int32_t k = 0; !done; k = (k + 1) % 6) {
            setOutputFormat(0, k);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    std::thread poller([&] {
        std::vector<uint8_t> frame(160 * 120 * 4);
        FrameInfo info{};
        while (!done) {
            if (grabFrame(0, frame.data(), int32_t(frame.size()), &info, 100) != S_OK)
                continue;
            ++grabbed;
            if (!Seen::consistent(frame.data(), info))
                ++grabbedInconsistent;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    done = true;
    switcher.join();
    poller.join();
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    uninit();

    std::lock_guard<std::mutex> lock(seen.mutex);
    int perFormat[12] = {};
    for (const FrameInfo& info : seen.infos)
        ++perFormat[info.pixelFormat < 12 ? info.pixelFormat : 0];
    for (int format : {5, 6, 8, int(FENWYR_PIXEL_RGB), int(FENWYR_PIXEL_RGBA), int(FENWYR_PIXEL_GRAY8)})
        EXPECT_GT(perFormat[format], 0) << "no frame in format " << format;
    EXPECT_EQ(seen.inconsistent.load(), 0);
    EXPECT_GT(grabbed.load(), 10);
    EXPECT_EQ(grabbedInconsistent.load(), 0);
}

TEST(Pictures, EveryBgrPictureMatchesTheReferenceDecodingOfTheSameFramePixelForPixel) {
    const struct {
        const wchar_t* format;
        bool jpeg;
    } sources[] = {{L"161x120@30 RGB24", false}, {L"160x-120@30 RGB24", false}, {L"160x120@30 RGB32", false},
                   {L"160x120@30 RGB565", false}, {L"160x120@30 RGB555", false}, {L"160x120@30 YUY2", false},
                   {L"160x120@30 UYVY", false},   {L"160x120@30 NV12", false},   {L"160x120@30 I420", false},
                   {L"160x120@30 YV12", false},   {L"160x120@30 Y800", false},   {L"160x120@30 MJPG", true},
                   // Large enough to be shared out in bands of rows: their seams, odd heights and
                   // bottom-up rows.
                   {L"1280x-721@30 RGB24", false}, {L"1280x721@30 RGB32", false}, {L"1280x720@30 YUY2", false},
                   {L"1280x722@30 NV12", false},  {L"1280x722@30 I420", false},  {L"1280x720@30 YV12", false}};
    VcamDevices devices({vcamDevice(L"a", L"Alpha", formatList(sources))});
    init();
    ASSERT_EQ(openDevice(0), 1);
    FormatInfo infos[32]{};
    ASSERT_EQ(getFormats(0, infos, 32), int32_t(std::size(sources)));
    ResolutionInfo* resolutions = getResolutions(0);
    ASSERT_NE(resolutions, nullptr);
    ASSERT_EQ(setOutputFormat(0, FENWYR_OUTPUT_BGR24), S_OK);
    for (int32_t k = 0; k < int32_t(std::size(sources)); ++k) {
        SCOPED_TRACE(std::string(sources[k].format, sources[k].format + wcslen(sources[k].format)));
        ASSERT_EQ(setFormat(0, k, 0.0), S_OK);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        const bool taken = FramePair::take(0, std::chrono::seconds(10));
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        ASSERT_TRUE(taken);
        const std::vector<uint8_t>& picture = FramePair::picture();
        const std::vector<uint8_t> reference = referenceBgr(referenceFormatOf(infos[k], resolutions[k].height > 0),
                                                            FramePair::native().data(), FramePair::native().size());
        ASSERT_EQ(reference.size(), picture.size());
        int largest = 0;
        double total = 0;
        for (size_t i = 0; i < reference.size(); ++i) {
            const int difference = std::abs(int(reference[i]) - int(picture[i]));
            largest = std::max(largest, difference);
            total += difference;
        }
        // Whole frames, box and stamp included. Two JPEG decoders differ at sharp edges.
        if (sources[k].jpeg)
            EXPECT_LE(total / double(reference.size()), 8.0);  // 5.3 seen at this size, 2.8 at 320x240
        else
            EXPECT_LE(largest, 3);
    }
    CoTaskMemFree(resolutions);
    ASSERT_EQ(setFrameCallbackEx(0, nullptr, nullptr), S_OK);
    uninit();
}

TEST(Pictures, EveryNativeFrameCarriesItsRowPitch) {
    const struct {
        const wchar_t* format;
        int32_t stride;
    } sources[] = {{L"161x120@30 RGB24", 484}, {L"160x120@30 RGB32", 640}, {L"160x120@30 YUY2", 320},
                   {L"160x120@30 NV12", 160},  {L"160x120@30 Y800", 160},  {L"160x120@30 GREY", 160},
                   {L"160x120@30 Y8", 160},    {L"160x120@30 MJPG", 0}};
    VcamDevices devices({vcamDevice(L"a", L"Alpha", formatList(sources))});
    init();
    ASSERT_EQ(openDevice(0), 1);
    std::vector<uint8_t> frame(256 * 1024);
    for (int32_t k = 0; k < int32_t(std::size(sources)); ++k) {
        SCOPED_TRACE(std::string(sources[k].format, sources[k].format + wcslen(sources[k].format)));
        ASSERT_EQ(setFormat(0, k, 0.0), S_OK);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        FrameInfo info{};
        EXPECT_EQ(grabFrame(0, frame.data(), int32_t(frame.size()), &info, 5000), S_OK);
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        EXPECT_EQ(info.stride, sources[k].stride);
    }
    uninit();
}

namespace {

std::atomic<int> nativeFrames{0};
void countNative(uint8_t*, int32_t) {
    ++nativeFrames;
}

// Streams the open device 0 until the plain callback saw `frames` frames (the device's own bytes).
void streamNativeFrames(int frames) {
    nativeFrames = 0;
    setFrameArrivedCallback(0, countNative);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (nativeFrames < frames && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    setFrameArrivedCallback(0, nullptr);
    EXPECT_GE(nativeFrames.load(), frames);
}

}  // namespace

TEST(Pictures, AFormatWhoseBitCountDisagreesWithItsSubtypeIsNotConverted) {
    const struct {
        const wchar_t* format;
        DWORD bitCount;
    } cases[] = {{L"160x120@30 RGB24", 16}, {L"160x120@30 RGB32", 24}, {L"160x120@30 YUY2", 32},
                 {L"160x120@30 YUY2", 24},  {L"160x120@30 RGB8", 1},   {L"160x120@30 RGB24", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.format, c.format + wcslen(c.format)) << " biBitCount "
                                        << c.bitCount);
        VcamDevices devices({withSwitch(vcamDevice(L"a", L"Alpha", c.format), L"BitCount", c.bitCount)});
        init();
        Seen seen;
        ASSERT_EQ(openDevice(0), 1);
        ASSERT_EQ(setOutputFormat(0, FENWYR_OUTPUT_BGR24), S_OK);
        ASSERT_EQ(setFrameCallbackEx(0, Seen::receive, &seen), S_OK);
        streamNativeFrames(5);
        uninit();
        EXPECT_EQ(seen.count(), 0u);
    }
}

TEST(Pictures, APictureTooLargeForItsDescriptionIsNotConvertedAndNeverReachesTheHost) {
    // A JPEG of a few hundred bytes that declares S x S: as BGRA, 4S x S bytes, past 2^31 for
    // 23171, exactly 2^32 for 32768, 2^33 + 18532 for 46341.
    for (DWORD side : {23171u, 32768u, 46341u}) {
        SCOPED_TRACE(testing::Message() << "declared " << side << " x " << side);
        VcamDevices devices({withSwitch(vcamDevice(L"a", L"Alpha", L"16x16@30 MJPG"), L"HugeJpegSide", side)});
        init();
        ASSERT_EQ(openDevice(0), 1);
        ASSERT_EQ(setOutputFormat(0, FENWYR_OUTPUT_BGRA32), S_OK);
        // Straight into a waiting host's buffer...
        std::atomic<bool> done{false};
        std::atomic<int> grabbed{0};
        std::thread host([&] {
            std::vector<uint8_t> buffer(64 * 1024);
            FrameInfo info{};
            while (!done) {
                const HRESULT hr = grabFrame(0, buffer.data(), int32_t(buffer.size()), &info, 20);
                if (hr == S_OK || hr == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER))
                    ++grabbed;
                else if (hr != HRESULT_FROM_WIN32(ERROR_TIMEOUT))
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // not running yet
            }
        });
        streamNativeFrames(5);
        done = true;
        host.join();
        EXPECT_EQ(grabbed.load(), 0);
        // ... or into the device's own, for a described callback.
        Seen seen;
        ASSERT_EQ(setFrameCallbackEx(0, Seen::receive, &seen), S_OK);
        streamNativeFrames(5);
        uninit();
        EXPECT_EQ(seen.count(), 0u);
    }
}

TEST(Pictures, MjpgGreysAreDecodedInTheJpegsOwnFullRange) {
    // The second size's whole blocks overrun its rows and its last band: the ramp shows a row
    // whose start another row's end overwrote.
    const struct {
        int width, height;
    } sizes[] = {{160, 120}, {162, 122}};
    VcamDevices devices(
        {withSwitch(vcamDevice(L"a", L"Alpha", L"160x120@30 MJPG;162x122@30 MJPG"), L"GreyRamp")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    FormatInfo formats[2]{};
    ASSERT_EQ(getFormats(0, formats, 2), 2);
    for (int32_t k = 0; k < 2; ++k) {
        const int width = sizes[k].width, height = sizes[k].height;
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        ASSERT_EQ(setFormat(0, k, 0.0), S_OK);
        const Source jpeg = {L"", width, Kind::jpeg, 2};
        for (const Output& output : kOutputs) {
            SCOPED_TRACE(testing::Message() << "output " << output.output);
            ASSERT_EQ(setOutputFormat(0, output.output), S_OK);
            ASSERT_TRUE(SUCCEEDED(startCapture(0)));
            const bool taken = FramePair::take(0, std::chrono::seconds(10));
            ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
            ASSERT_TRUE(taken);
            // WIC's decoding of the same frame; the ramp reaches both ends of the range.
            const std::vector<uint8_t> reference = referenceBgr(referenceFormatOf(formats[k], false),
                                                                FramePair::native().data(), FramePair::native().size());
            const std::vector<uint8_t>& picture = FramePair::picture();
            ASSERT_EQ(picture.size(), size_t(width) * height * output.bytesPerPixel);
            ASSERT_EQ(reference.size(), size_t(width) * height * 3);
            EXPECT_LE(reference[0], 2);
            EXPECT_GE(reference[size_t(width - 1) * 3], 253);
            int worst = 0;
            for (size_t i = 0; i < size_t(width) * height; ++i) {
                const uint8_t* bgr = &reference[i * 3];
                const std::vector<int> expected = expectedChannels(jpeg, output, {bgr[0], bgr[1], bgr[2]});
                for (size_t c = 0; c < expected.size(); ++c)
                    worst = std::max(worst, std::abs(int(picture[i * expected.size() + c]) - expected[c]));
            }
            EXPECT_LE(worst, jpeg.tolerance);
        }
    }
    ASSERT_EQ(setFrameCallbackEx(0, nullptr, nullptr), S_OK);
    uninit();
}

TEST(Pictures, RgbxFramesBecomeOpaquePicturesWhateverTheirFourthByte) {
    VcamDevices devices({withSwitch(vcamDevice(L"a", L"Alpha", L"160x120@30 RGB32"), L"XByteZero")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    for (int32_t output : {FENWYR_OUTPUT_BGRA32, FENWYR_OUTPUT_RGBA32}) {
        SCOPED_TRACE(testing::Message() << "output " << output);
        ASSERT_EQ(setOutputFormat(0, output), S_OK);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        const bool taken = FramePair::take(0, std::chrono::seconds(10));
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        ASSERT_TRUE(taken);
        EXPECT_EQ(FramePair::native()[100 * 4 + 3], 0);  // the device's own X byte, past the stamp
        const std::vector<uint8_t>& picture = FramePair::picture();
        ASSERT_EQ(picture.size(), size_t(160) * 120 * 4);
        size_t notOpaque = 0;
        for (size_t i = 3; i < picture.size(); i += 4)
            notOpaque += picture[i] != 255;
        EXPECT_EQ(notOpaque, 0u);
    }
    ASSERT_EQ(setFrameCallbackEx(0, nullptr, nullptr), S_OK);
    uninit();
}
