// Still images: a device's still pin beside its stream (getStillFormats, setStillFormat, takeStill,
// setStillCallback), and a device without one left as it was.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "rot_entries.h"
#include "test_devices.h"

namespace {

constexpr HRESULT kUnsupported = HRESULT(0x80070490);
constexpr HRESULT kTimeout = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
constexpr HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr DWORD kTag = 0x5711;
// Larger than the stream (160 x 120), as a webcam's stills are.
const wchar_t kStillFormats[] = L"640x480@0 RGB24;320x240@0 YUY2;1280x960@0 MJPG";
constexpr int32_t kLargest = 1280 * 960 * 4;

VcamDevice stillCamera(const std::wstring& key) {
    VcamDevice device = camera(key, L"Still Camera", kTag);
    device.strings[L"StillFormats"] = kStillFormats;
    return device;
}

// One device registered, the library initialised; uninit and the registry undone at the end.
struct Opened {
    explicit Opened(const VcamDevice& device) : devices({device}) {
        init();
        opened = openDevice(0);
    }
    ~Opened() { uninit(); }
    VcamDevices devices;
    int32_t opened = 0;
};

struct StillLog : InfoLog {
    std::atomic<int> holdMs{0};  // how long each call keeps the still pin's thread
    static void hold(const uint8_t* frame, const FrameInfo* info, void* log) {
        receive(frame, info, log);
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<StillLog*>(log)->holdMs.load()));
    }
};

std::vector<std::wstring> graphFilters() {
    const auto graphs = filterGraphsOfThisProcess();
    auto names = graphs.size() == 1 ? filtersInGraph(graphs[0]) : std::vector<std::wstring>{};
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Stills, TheListIsTheStillPinsCapabilities) {
    Opened camera(stillCamera(L"s"));
    ASSERT_EQ(camera.opened, 1);
    FormatInfo formats[4]{};
    ASSERT_EQ(getStillFormats(0, formats, 4), 3);
    const struct { int32_t width, height, pixelFormat; uint32_t fourcc; } expected[] = {
        {640, 480, 5, 0}, {320, 240, 8, 0x32595559}, {1280, 960, 7, 0x47504A4D}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(formats[i].index, i);
        EXPECT_EQ(formats[i].width, expected[i].width);
        EXPECT_EQ(formats[i].height, expected[i].height);
        EXPECT_EQ(formats[i].pixelFormat, expected[i].pixelFormat);
        EXPECT_EQ(formats[i].fourcc, expected[i].fourcc);
    }
    EXPECT_EQ(getFormats(0, nullptr, 0), 1) << "the stream's own list is its own";
    EXPECT_EQ(getStillFormats(0, nullptr, 0), 3);
    EXPECT_EQ(getStillFormats(0, nullptr, 1), E_POINTER);
    EXPECT_EQ(setStillFormat(0, 3), E_INVALIDARG);
    EXPECT_EQ(getStillFormats(1, formats, 4), E_INVALIDARG);
}

TEST(Stills, TheChosenSizeArrivesWithTakeStillAsPictureOrAsTheDevicesBytes) {
    const struct {
        int32_t capability, output, width, height, pixelFormat, length;
        uint32_t fourcc;
    } rows[] = {
        {1, FENWYR_OUTPUT_NATIVE, 320, 240, 8, 320 * 240 * 2, 0x32595559},
        {0, FENWYR_OUTPUT_NATIVE, 640, 480, 5, 640 * 480 * 3, 0},
        {0, FENWYR_OUTPUT_RGBA32, 640, 480, FENWYR_PIXEL_RGBA, 640 * 480 * 4, 0},
        {2, FENWYR_OUTPUT_BGR24, 1280, 960, 5, 1280 * 960 * 3, 0},
    };
    Opened camera(stillCamera(L"s"));
    ASSERT_EQ(camera.opened, 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    std::vector<uint8_t> buffer(kLargest);
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "capability " << row.capability << ", output " << row.output);
        ASSERT_EQ(setOutputFormat(0, row.output), S_OK);
        ASSERT_EQ(setStillFormat(0, row.capability), S_OK) << "while running";
        FrameInfo info{};
        ASSERT_EQ(takeStill(0, buffer.data(), kLargest, &info, 5000), S_OK);
        EXPECT_EQ(info.width, row.width);
        EXPECT_EQ(info.height, row.height);
        EXPECT_EQ(info.pixelFormat, row.pixelFormat);
        EXPECT_EQ(info.fourcc, row.fourcc);
        EXPECT_EQ(info.length, row.length);
        EXPECT_EQ(info.dropped, -1);
        uint32_t tag = 0;
        std::memcpy(&tag, buffer.data() + 4, 4);
        if (row.output == FENWYR_OUTPUT_NATIVE)
            EXPECT_EQ(tag, kTag) << "the device's own stamp";
    }
    ResolutionInfo* stream = getResolution(0);
    EXPECT_EQ(stream->width, 160) << "the stream keeps its size";
    CoTaskMemFree(stream);
}

TEST(Stills, EveryStillReachesTheCallbackTheButtonsToo) {
    StillLog stills;
    InfoLog frames;
    VcamDevices devices({stillCamera(L"s")});
    init();
    ASSERT_EQ(setStillCallback(0, InfoLog::receive, &stills), S_OK) << "before the open";
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &frames), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frames.waitFor(2));
    VcamDevices::setDword(L"s", L"StillButton", 1);
    ASSERT_TRUE(stills.waitFor(1)) << "the button's still";
    std::vector<uint8_t> buffer(kLargest);
    FrameInfo info{};
    ASSERT_EQ(takeStill(0, buffer.data(), kLargest, &info, 5000), S_OK);
    ASSERT_TRUE(stills.waitFor(2));
    stopCapture(0);
    setStillCallback(0, nullptr, nullptr);
    setFrameCallbackEx(0, nullptr, nullptr);
    uninit();
    EXPECT_EQ(stills.infos[0].width, 640);
    EXPECT_EQ(stills.infos[0].sequence, 0u);
    EXPECT_EQ(stills.infos[1].sequence, 1u);
    EXPECT_EQ(info.sequence, 1u);
    for (const FrameInfo& frame : frames.infos)
        EXPECT_EQ(frame.width, 160) << "no still among the stream's frames";
}

TEST(Stills, TheStreamFlowsOnWhileStillsAreTakenAndHeld) {
    StillLog stills;
    stills.holdMs = 600;
    InfoLog frames;
    Opened camera(stillCamera(L"s"));
    ASSERT_EQ(camera.opened, 1);
    ASSERT_EQ(setStillCallback(0, StillLog::hold, &stills), S_OK);
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &frames), S_OK);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frames.waitFor(2));
    std::vector<uint8_t> buffer(kLargest);
    for (int i = 0; i < 3; ++i) {
        const size_t before = frames.count();
        FrameInfo info{};
        ASSERT_EQ(takeStill(0, buffer.data(), kLargest, &info, 5000), S_OK);
        // 600 ms of a 30 fps stream while the still's callback held its thread.
        EXPECT_GE(frames.count() - before, 6u) << "still " << i;
    }
    stopCapture(0);
    setStillCallback(0, nullptr, nullptr);
    setFrameCallbackEx(0, nullptr, nullptr);
    StreamStats stats{};
    ASSERT_EQ(getStreamStats(0, &stats), S_OK);
    EXPECT_EQ(stats.missed, 0);
    for (size_t i = 1; i < frames.infos.size(); ++i)
        EXPECT_EQ(frames.infos[i].sequence, frames.infos[i - 1].sequence + 1);
}

TEST(Stills, TimeOutsSmallBuffersAndStatesAnswerAsGrabFrameDoes) {
    StillLog stills;
    Opened camera(stillCamera(L"s"));
    ASSERT_EQ(camera.opened, 1);
    std::vector<uint8_t> buffer(kLargest);
    FrameInfo info{};
    EXPECT_EQ(takeStill(0, buffer.data(), kLargest, &info, 100), VFW_E_NOT_RUNNING) << "stopped";
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    EXPECT_EQ(takeStill(0, buffer.data(), 1000, &info, 5000), kTooSmall);
    EXPECT_EQ(info.length, 640 * 480 * 3) << "the size needed";
    const uint64_t kept = info.sequence;
    EXPECT_EQ(takeStill(0, buffer.data(), kLargest, &info, 5000), S_OK);
    EXPECT_EQ(info.sequence, kept) << "the kept still, not a new one";
    // The still comes only once its callback lets the still pin's thread go.
    stills.holdMs = 1500;
    ASSERT_EQ(setStillCallback(0, StillLog::hold, &stills), S_OK);
    EXPECT_EQ(takeStill(0, buffer.data(), kLargest, &info, 200), kTimeout);
    EXPECT_EQ(takeStill(0, nullptr, kLargest, &info, 0), E_POINTER);
    EXPECT_EQ(takeStill(0, buffer.data(), -1, &info, 0), E_INVALIDARG);
    stopCapture(0);
    setStillCallback(0, nullptr, nullptr);
}

// A host that triggers on the init thread and waits on one of its own, or polls for the button.
TEST(Stills, GrabStillWaitsOnAnyThreadWithoutTriggering) {
    Opened camera(stillCamera(L"s"));
    ASSERT_EQ(camera.opened, 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    std::vector<uint8_t> buffer(kLargest);
    FrameInfo info{};
    EXPECT_EQ(grabStill(0, buffer.data(), kLargest, &info, 300), kTimeout) << "nothing triggered";
    const auto grabElsewhere = [&](int32_t capacity, FrameInfo& got) {
        HRESULT hr = E_FAIL;
        std::thread taker([&] { hr = grabStill(0, buffer.data(), capacity, &got, 5000); });
        taker.join();
        return hr;
    };
    const HRESULT triggered = takeStill(0, buffer.data(), kLargest, &info, 0);
    ASSERT_TRUE(triggered == kTimeout || triggered == S_OK) << std::hex << triggered;
    if (triggered == kTimeout)
        ASSERT_EQ(grabElsewhere(kLargest, info), S_OK) << "the still takeStill asked for";
    EXPECT_EQ(info.width, 640);
    VcamDevices::setDword(L"s", L"StillButton", 1);
    FrameInfo button{};
    ASSERT_EQ(grabElsewhere(kLargest, button), S_OK) << "the button's still";
    EXPECT_EQ(button.sequence, info.sequence + 1);

    // A still left by a too small buffer and taken by grabStill: the next takeStill triggers.
    ASSERT_EQ(takeStill(0, buffer.data(), 1000, &info, 5000), kTooSmall);
    ASSERT_EQ(grabElsewhere(kLargest, info), S_OK);
    FrameInfo next{};
    EXPECT_EQ(takeStill(0, buffer.data(), kLargest, &next, 5000), S_OK);
    EXPECT_EQ(next.sequence, info.sequence + 1);
    stopCapture(0);
}

TEST(Stills, TheStillFormatSurvivesRecovery) {
    Opened camera(stillCamera(L"s"));
    ASSERT_EQ(camera.opened, 1);
    ASSERT_EQ(setStillFormat(0, 1), S_OK);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_EQ(recoverDevice(0), S_OK);
    std::vector<uint8_t> buffer(kLargest);
    FrameInfo info{};
    ASSERT_EQ(takeStill(0, buffer.data(), kLargest, &info, 5000), S_OK);
    EXPECT_EQ(info.width, 320);
    EXPECT_EQ(graphFilters().size(), 6u) << "one still branch in the new graph";
}

TEST(Stills, ADeviceWithoutAStillPinKeepsItsGraph) {
    VcamDevices devices({camera(L"a", L"Plain Camera"), stillCamera(L"b")});
    init();
    ASSERT_EQ(openDevice(1), 1);
    const std::vector<std::wstring> withStills = graphFilters();
    uninit();
    init();
    ASSERT_EQ(openDevice(0), 1);
    const std::vector<std::wstring> without = graphFilters();
    std::vector<std::wstring> added;
    std::set_difference(withStills.begin(), withStills.end(), without.begin(), without.end(),
                        std::back_inserter(added));
    EXPECT_EQ(added, (std::vector<std::wstring>{L"Still Null Renderer", L"Still Sample Grabber"}));
    EXPECT_EQ(without.size() + 2, withStills.size());
    std::vector<uint8_t> buffer(16);
    FrameInfo info{};
    FormatInfo formats[1];
    InfoLog log;
    EXPECT_EQ(getStillFormats(0, formats, 1), kUnsupported);
    EXPECT_EQ(setStillFormat(0, 0), kUnsupported);
    EXPECT_EQ(takeStill(0, buffer.data(), 16, &info, 0), kUnsupported);
    EXPECT_EQ(grabStill(0, buffer.data(), 16, &info, 0), kUnsupported);
    EXPECT_EQ(setStillCallback(0, InfoLog::receive, &log), kUnsupported);
    EXPECT_EQ(setStillCallback(0, nullptr, nullptr), S_OK) << "one set before the open can be taken back";
    EXPECT_EQ(graphFilters(), without);
    uninit();
}

namespace {

struct Completions {
    std::atomic<int> count{0};
    static void onEvent(int32_t, int32_t event, int32_t, void* self) {
        static_cast<Completions*>(self)->count += event == FENWYR_STREAM_COMPLETE;
    }
};

}  // namespace

// The still branch's renderer never sees the stream end; the host hears of the end all the same.
TEST(Stills, TheStreamsEndIsReportedBesideAStillBranch) {
    Completions completions;
    Opened camera(withSwitch(stillCamera(L"s"), L"EndOfStreamAfter", 5));
    ASSERT_EQ(camera.opened, 1);
    setDeviceEventCallback(Completions::onEvent, &completions);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (completions.count == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<uint8_t> buffer(kLargest);
    FrameInfo info{};
    EXPECT_EQ(takeStill(0, buffer.data(), kLargest, &info, 5000), S_OK) << "stills still come";
    stopCapture(0);
    setDeviceEventCallback(nullptr, nullptr);
    EXPECT_EQ(completions.count, 1);
}
