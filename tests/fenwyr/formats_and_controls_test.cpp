// Frame-rate ranges and format changes (getFormats, setFormat) and camera controls
// (getControl, setControl), as a host sees them.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <chrono>
#include <cmath>
#include <cwchar>
#include <mutex>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "test_devices.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Frames' descriptions and a brightness figure of each, from a described callback.
struct Frames {
    std::mutex mutex;
    std::vector<FrameInfo> infos;
    std::vector<double> means;

    static void receive(const uint8_t* frame, const FrameInfo* info, void* userData) {
        auto* frames = static_cast<Frames*>(userData);
        // The mean of the picture, leaving out the 16-byte header.
        double sum = 0;
        for (int32_t i = 16; i < info->length; ++i)
            sum += frame[i];
        std::lock_guard<std::mutex> lock(frames->mutex);
        frames->infos.push_back(*info);
        frames->means.push_back(info->length > 16 ? sum / (info->length - 16) : 0.0);
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return infos.size();
    }
    bool waitFor(std::size_t wanted) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (count() < wanted && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
        return count() >= wanted;
    }
    // Frames per second from the arrival times of frames [first, last].
    double rate(std::size_t first, std::size_t last) {
        std::lock_guard<std::mutex> lock(mutex);
        return (last - first) * 1e7 / double(infos[last].arrivalTime - infos[first].arrivalTime);
    }
};

// Opens device 0 with `frames` as its described callback and runs it past its first frames.
void captureInto(Frames& frames) {
    ASSERT_EQ(setFrameCallbackEx(0, Frames::receive, &frames), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frames.waitFor(3));
}

double fpsOfInterval(double interval) {
    return 1e7 / interval;
}

}  // namespace

TEST(FormatsAndRates, RangesReadBackAsTheDeviceDeclaresThem) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@5-60 RGB24;320x240@30 YUY2 VIH2;640x480@7.5-30 MJPG")});
    init();
    FormatInfo formats[4]{};
    EXPECT_EQ(getFormats(0, formats, 4), E_POINTER) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(getFormats(0, nullptr, 0), 3) << "every capability is listed";
    EXPECT_EQ(getFormats(0, nullptr, 1), E_POINTER);
    EXPECT_EQ(getFormats(0, formats, -1), E_INVALIDARG);
    EXPECT_EQ(getFormats(1, formats, 4), E_INVALIDARG);
    ASSERT_EQ(getFormats(0, formats, 1), 3) << "the count, whatever the capacity";
    ASSERT_EQ(getFormats(0, formats, 4), 3);

    EXPECT_EQ(formats[0].index, 0);
    EXPECT_EQ(formats[0].width, 160);
    EXPECT_EQ(formats[0].height, 120);
    EXPECT_EQ(formats[0].bitCount, 24);
    EXPECT_EQ(formats[0].pixelFormat, 5);
    EXPECT_DOUBLE_EQ(formats[0].minFps, 5.0);
    EXPECT_DOUBLE_EQ(formats[0].maxFps, fpsOfInterval(166667));
    EXPECT_DOUBLE_EQ(formats[0].defaultFps, fpsOfInterval(166667));
    EXPECT_EQ(formats[1].index, 1) << "the VIDEOINFOHEADER2 capability";
    EXPECT_EQ(formats[1].width, 320);
    EXPECT_EQ(formats[1].bitCount, 16);
    EXPECT_DOUBLE_EQ(formats[1].defaultFps, fpsOfInterval(333333));
    EXPECT_EQ(formats[2].index, 2);
    EXPECT_EQ(formats[2].fourcc, uint32_t('M') | uint32_t('J') << 8 | uint32_t('P') << 16 | uint32_t('G') << 24);
    EXPECT_DOUBLE_EQ(formats[2].minFps, fpsOfInterval(1333333));
    EXPECT_DOUBLE_EQ(formats[2].maxFps, fpsOfInterval(333333));
    uninit();
}

TEST(FormatsAndRates, TheEndsOfARangeAreAcceptedAndKeptToAndAnythingOutsideIsRefused) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@5-60 RGB24;320x240@30 YUY2 VIH2")});
    init();
    EXPECT_EQ(setFormat(0, 0, 30.0), E_POINTER) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    FormatInfo format{};
    ASSERT_EQ(getFormats(0, &format, 1), 2);
    EXPECT_EQ(setFormat(0, 0, format.maxFps * 1.01), E_INVALIDARG);
    EXPECT_EQ(setFormat(0, 0, format.minFps * 0.99), E_INVALIDARG);
    EXPECT_EQ(setFormat(0, 0, -1.0), E_INVALIDARG);
    EXPECT_EQ(setFormat(0, 0, std::nan("")), E_INVALIDARG);
    EXPECT_EQ(setFormat(0, 2, 0.0), E_INVALIDARG) << "past the last capability";
    EXPECT_EQ(setFormat(1, 0, 0.0), E_INVALIDARG);

    Frames frames;
    ASSERT_EQ(setFrameCallbackEx(0, Frames::receive, &frames), S_OK);
    for (double fps : {format.maxFps, format.minFps}) {
        ASSERT_EQ(setFormat(0, 0, fps), S_OK) << fps;
        ResolutionInfo* current = getResolution(0);
        ASSERT_NE(current, nullptr);
        EXPECT_NEAR(current->framesPerSecond, fps, fps * 0.001);
        CoTaskMemFree(current);

        const std::size_t first = frames.count();
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        // A second and a half of frames, after the first two of the run.
        const std::size_t wanted = std::size_t(std::ceil(fps * 1.5)) + 3;
        ASSERT_TRUE(frames.waitFor(first + wanted));
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        const double measured = frames.rate(first + 2, first + wanted - 1);
        std::printf("asked %.3f fps, measured %.3f\n", fps, measured);
        EXPECT_NEAR(measured, fps, fps * 0.10);
    }
    uninit();
}

TEST(FormatsAndRates, ChooseFormatTakesEveryGivenFieldAsARequirementThenTheLeastBandwidth) {
    // Bytes a frame: YUY2 640x480 614400, RGB24 921600, MJPG (w x h x 3 + 65536) 987136 and
    // 6286336, YUY2 1080p 4147200, the VIDEOINFOHEADER2 one 153600.
    VcamDevices devices({vcamDevice(L"a", L"Alpha",
                                    L"640x480@30 YUY2;1920x1080@5 YUY2;1920x1080@5-30 MJPG;640x480@15-30 MJPG;"
                                    L"320x240@30 YUY2 VIH2;640x480@30 RGB24;640x480@10-60 YUY2")});
    const int32_t mjpg = 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24;
    const int32_t yuy2 = 'Y' | 'U' << 8 | 'Y' << 16 | '2' << 24;
    const int32_t nv12 = 'N' | 'V' << 8 | '1' << 16 | '2' << 24;
    struct Case {
        int32_t width, height;
        double fps;
        int32_t fourcc;
        int32_t chosen;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 4},              // the smallest stream, though described by VIDEOINFOHEADER2
        {1920, 1080, 0, 0, 1},        // YUY2 at its 5 fps needs less than MJPG at its default 30
        {1920, 1080, 30, 0, 2},       // only MJPG reaches 30 at that size
        {1920, 1080, 0, mjpg, 2},
        {640, 480, 30, 0, 0},         // YUY2 0 and 6 need the same at 30: the lower index
        {640, 480, 60, 0, 6},
        {640, 480, 15, 0, 6},         // 0 is fixed at 30
        {640, 480, 15, mjpg, 3},
        {0, 480, 0, yuy2, 0},         // 6's default rate is 60
        {0, 0, 60, 0, 6},
        {1920, 1080, 31, 0, -1},
        {800, 600, 0, 0, -1},
        {0, 0, 0, nv12, -1},
        {-640, 480, 0, 0, -1},
        {640, 480, -30, 0, -1},
        {640, 480, std::nan(""), 0, -1},
    };
    init();
    EXPECT_EQ(chooseFormat(0, 640, 480, 30, 0), -1) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(chooseFormat(1, 640, 480, 30, 0), -1) << "outside the table";
    for (const Case& c : cases) {
        const int32_t chosen = chooseFormat(0, c.width, c.height, c.fps, c.fourcc);
        EXPECT_EQ(chosen, c.chosen) << c.width << "x" << c.height << " at " << c.fps << " fps, fourcc " << c.fourcc;
        if (chosen >= 0)
            EXPECT_EQ(setFormat(0, chosen, c.fps), S_OK) << "setFormat takes what chooseFormat chose";
    }
    uninit();
}

TEST(FormatsAndRates, AFormatChangeWhileRunningGivesEveryLaterFrameTheNewSize) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@30 RGB24;320x240@30 RGB24")});
    init();
    Frames frames;
    ASSERT_NO_FATAL_FAILURE(captureInto(frames));

    ASSERT_EQ(setFormat(0, 1, 0.0), S_OK);
    const std::size_t changedAt = frames.count();
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);
    ASSERT_TRUE(frames.waitFor(changedAt + 5)) << "no frames after the change";
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    ResolutionInfo* current = getResolution(0);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->width, 320);
    CoTaskMemFree(current);
    uninit();

    std::lock_guard<std::mutex> lock(frames.mutex);
    for (std::size_t i = changedAt; i < frames.infos.size(); ++i) {
        EXPECT_EQ(frames.infos[i].width, 320) << "frame " << i;
        EXPECT_EQ(frames.infos[i].length, 320 * 240 * 3) << "frame " << i;
        EXPECT_EQ(frames.infos[i].sequence, i) << "the sequence goes on across the change";
    }
}

TEST(FormatsAndRates, ARateBecomesItsNearestFrameInterval) {
    // Device b's pin takes only its own type of what SetFormat chose, byte for byte.
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@5-60 RGB24"),
                         withSwitch(vcamDevice(L"b", L"Beta", L"160x120@5-60 RGB24"), L"StrictConnect")});
    // 10^7 / fps ends in .67 for both: cut off, the interval would be one unit short.
    const struct {
        int32_t device;
        double fps;
        int64_t interval;
    } cases[] = {{0, 15.0, 666667}, {0, 24.0, 416667}, {1, 15.0, 666667}, {1, 24.0, 416667}};
    init();
    Frames frames;
    for (int32_t device : {0, 1}) {
        ASSERT_EQ(setFrameCallbackEx(device, Frames::receive, &frames), S_OK);
        ASSERT_EQ(openDevice(device), 1);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device == 0 ? "plain pin" : "strict pin");
        ASSERT_EQ(setFormat(c.device, 0, c.fps), S_OK);
        const std::size_t first = frames.count();
        ASSERT_TRUE(SUCCEEDED(startCapture(c.device)));
        ASSERT_TRUE(frames.waitFor(first + 4));
        ASSERT_TRUE(SUCCEEDED(stopCapture(c.device)));
        // Sample times step by the connected interval (a late frame skips whole intervals).
        std::lock_guard<std::mutex> lock(frames.mutex);
        for (std::size_t i = first + 1; i < frames.infos.size(); ++i) {
            const int64_t step = frames.infos[i].sampleTime - frames.infos[i - 1].sampleTime;
            EXPECT_GT(step, 0);
            EXPECT_EQ(step % c.interval, 0) << c.fps << " fps, step " << step;
        }
    }
    uninit();
}

TEST(FormatsAndRates, AFormatTheDeviceCannotStreamIsRefusedAndTheOldOneGoesOn) {
    const HRESULT noBandwidth = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    // Capability 1 cannot be connected, or connects and cannot run; on a plain pin and on one
    // that takes only its own type.
    const struct {
        const wchar_t* fault;
        bool connects;
        bool strict;
    } cases[] = {{L"FailConnect", false, false},
                 {L"FailConnect", false, true},
                 {L"FailPause", true, false},
                 {L"FailPause", true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.connects ? "cannot run" : "cannot connect")
                                        << (c.strict ? ", strict pin" : ""));
        VcamDevice device = vcamDevice(L"a", L"Alpha", L"160x120@30 RGB24;320x240@30 RGB24");
        device.strings[c.fault] = L"1";
        if (c.strict)
            device.dwords[L"StrictConnect"] = 1;
        VcamDevices devices({device});
        init();
        Frames frames;
        ASSERT_EQ(setFrameCallbackEx(0, Frames::receive, &frames), S_OK);
        ASSERT_EQ(openDevice(0), 1);
        for (bool running : {false, true}) {
            if (running) {
                ASSERT_TRUE(SUCCEEDED(startCapture(0)));
            }
            if (!running && c.connects) {
                // Stopped, it connects: only the start can tell, and says so.
                EXPECT_EQ(setFormat(0, 1, 0.0), S_OK);
                EXPECT_EQ(startCapture(0), noBandwidth);
                EXPECT_EQ(getDeviceState(0), FENWYR_STATE_STOPPED);
                ASSERT_EQ(setFormat(0, 0, 0.0), S_OK);
            } else {
                EXPECT_EQ(setFormat(0, 1, 0.0), noBandwidth) << "running " << running;
                EXPECT_EQ(getDeviceState(0), running ? FENWYR_STATE_RUNNING : FENWYR_STATE_STOPPED);
            }
            const std::size_t first = frames.count();
            if (!running) {
                ASSERT_TRUE(SUCCEEDED(startCapture(0)));
            }
            ASSERT_TRUE(frames.waitFor(first + 3)) << "no frames after the refusal, running " << running;
            ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        }
        uninit();
        std::lock_guard<std::mutex> lock(frames.mutex);
        for (const FrameInfo& info : frames.infos)
            EXPECT_EQ(info.width, 160);
    }
}

namespace {

const wchar_t kControls[] =
    L"brightness=-64..64/1:0:manual,auto;contrast=0..100/5:50:manual;exposure=-13..-1/1:-6:auto,manual;"
    L"focus=0..255/5:0:manual,auto";

// Set calls that reached the virtual device (it counts them in this process's environment).
unsigned long controlSetCalls() {
    wchar_t count[32] = L"0";
    GetEnvironmentVariableW(L"VCAM_CONTROL_SET_CALLS", count, 32);
    return std::wcstoul(count, nullptr, 10);
}

ControlInfo controlOf(int32_t control) {
    ControlInfo info{};
    EXPECT_EQ(getControl(0, control, &info), S_OK) << "control " << control;
    return info;
}

}  // namespace

TEST(CameraControls, EveryControlReadsAndSetsWithinItsRangeAndRefusalsChangeNothing) {
    VcamDevice device = camera(L"a", L"Alpha");
    device.strings[L"Controls"] = kControls;
    VcamDevices devices({device, camera(L"b", L"Plain")});
    init();
    ControlInfo info{};
    EXPECT_EQ(getControl(0, FENWYR_CONTROL_BRIGHTNESS, &info), E_POINTER) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(openDevice(1), 1);

    const ControlInfo brightness = controlOf(FENWYR_CONTROL_BRIGHTNESS);
    EXPECT_EQ(brightness.min, -64);
    EXPECT_EQ(brightness.max, 64);
    EXPECT_EQ(brightness.step, 1);
    EXPECT_EQ(brightness.defaultValue, 0);
    EXPECT_EQ(brightness.capsFlags, FENWYR_CONTROL_AUTO | FENWYR_CONTROL_MANUAL);
    EXPECT_EQ(brightness.flags, FENWYR_CONTROL_MANUAL);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_EXPOSURE).flags, FENWYR_CONTROL_AUTO);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_CONTRAST).capsFlags, FENWYR_CONTROL_MANUAL);

    EXPECT_EQ(setControl(0, FENWYR_CONTROL_BRIGHTNESS, 20, FENWYR_CONTROL_MANUAL), S_OK);
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_FOCUS, 125, FENWYR_CONTROL_MANUAL), S_OK);
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_EXPOSURE, -9, FENWYR_CONTROL_MANUAL), S_OK);
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_FOCUS, 0, FENWYR_CONTROL_AUTO), S_OK);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_BRIGHTNESS).value, 20);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_EXPOSURE).value, -9);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_EXPOSURE).flags, FENWYR_CONTROL_MANUAL);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_FOCUS).flags, FENWYR_CONTROL_AUTO);

    // Refused before the device sees them.
    const unsigned long reachedBefore = controlSetCalls();
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_BRIGHTNESS, 65, FENWYR_CONTROL_MANUAL), E_INVALIDARG);
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_FOCUS, 127, FENWYR_CONTROL_MANUAL), E_INVALIDARG) << "off the steps";
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_CONTRAST, 50, FENWYR_CONTROL_AUTO), E_INVALIDARG) << "no auto";
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_BRIGHTNESS, 10, 3), E_INVALIDARG);
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_BRIGHTNESS, 10, 0), E_INVALIDARG);
    EXPECT_EQ(controlSetCalls(), reachedBefore) << "a refused value reached the device";
    EXPECT_EQ(setControl(0, FENWYR_CONTROL_FOCUS, 130, FENWYR_CONTROL_MANUAL), S_OK);
    EXPECT_EQ(controlSetCalls(), reachedBefore + 1);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_BRIGHTNESS).value, 20);
    EXPECT_EQ(controlOf(FENWYR_CONTROL_BRIGHTNESS).flags, FENWYR_CONTROL_MANUAL);

    for (int32_t unknown : {-1, 10, 99, 107})
        EXPECT_EQ(getControl(0, unknown, &info), E_INVALIDARG) << unknown;
    EXPECT_EQ(getControl(0, FENWYR_CONTROL_HUE, &info), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(getControl(0, FENWYR_CONTROL_ZOOM, &info), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(getControl(0, FENWYR_CONTROL_BRIGHTNESS, nullptr), E_POINTER);
    // A device with neither interface.
    EXPECT_EQ(getControl(1, FENWYR_CONTROL_BRIGHTNESS, &info), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(setControl(1, FENWYR_CONTROL_FOCUS, 0, FENWYR_CONTROL_MANUAL), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(getControl(2, FENWYR_CONTROL_BRIGHTNESS, &info), E_INVALIDARG);
    uninit();
}

TEST(CameraControls, BrightnessSetWhileCapturingShowsInTheFrames) {
    VcamDevice device = camera(L"a", L"Alpha");
    device.strings[L"Controls"] = kControls;
    VcamDevices devices({device});
    init();
    Frames frames;
    ASSERT_NO_FATAL_FAILURE(captureInto(frames));
    ASSERT_EQ(setControl(0, FENWYR_CONTROL_BRIGHTNESS, 60, FENWYR_CONTROL_MANUAL), S_OK);
    const std::size_t setAt = frames.count();
    ASSERT_TRUE(frames.waitFor(setAt + 4));
    stopCapture(0);
    uninit();

    std::lock_guard<std::mutex> lock(frames.mutex);
    const double before = frames.means[1];
    const double after = frames.means.back();
    std::printf("mean level before %.1f, after %.1f\n", before, after);
    EXPECT_GT(after, before + 20) << "the brighter picture did not reach the host";
}
