// Streams that stall and devices brought back (setSupervision, recoverDevice, getStreamStats), as
// hosts with and without a message loop on their init thread see them.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "message_pump.h"
#include "test_devices.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Event {
    int32_t event;
    int32_t detail;
    Clock::time_point when;
};

// The device events of device 0; `signal` is set on every STALLED, RETURNED and LOST.
struct Events {
    std::mutex mutex;
    std::vector<Event> events;
    HANDLE signal = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<HRESULT> recoverFromCallback{S_OK};

    ~Events() { CloseHandle(signal); }
    static void receive(int32_t, int32_t event, int32_t detail, void* userData) {
        auto* self = static_cast<Events*>(userData);
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->events.push_back({event, detail, Clock::now()});
        }
        if (event == FENWYR_DEVICE_STALLED)
            self->recoverFromCallback = recoverDevice(0);
        if (event != FENWYR_DEVICE_RECOVERED)
            SetEvent(self->signal);
    }
    // The `nth` (1-based) event of this kind, if it came.
    bool find(int32_t event, Event& found, int nth = 1) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Event& e : events)
            if (e.event == event && --nth == 0) {
                found = e;
                return true;
            }
        return false;
    }
    int count(int32_t event) {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const Event& e : events)
            n += e.event == event;
        return n;
    }
};

bool pumpUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(10000)) {
    return pumpMessagesUntil(done, limit);
}

void pumpFor(milliseconds time) {
    pumpUntil([] { return false; }, time);
}

StreamStats statsOf(int32_t device) {
    StreamStats stats{};
    EXPECT_EQ(getStreamStats(device, &stats), S_OK);
    return stats;
}

bool framesReach(int64_t frames) {
    return pumpUntil([&] { return statsOf(0).frames >= frames; });
}

std::atomic<int> plainFrames{0};
void countPlainFrame(uint8_t*, int32_t) {
    ++plainFrames;
}

constexpr wchar_t kBrightness[] = L"brightness=-64..64/1:0:manual,auto";

}  // namespace

TEST(Supervision, AStallIsToldWithinItsBoundAndEndsWhenFramesResumeByThemselves) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    const struct {
        int32_t device, stallMs, flags;
    } refused[] = {{0, 99, 0}, {0, 600001, 0}, {0, -1, 0}, {0, 300, 2}, {0, 300, -1}, {1, 300, 0}, {-1, 0, 0}};
    for (const auto& r : refused)
        EXPECT_EQ(setSupervision(r.device, r.stallMs, r.flags), E_INVALIDARG) << r.device << " " << r.stallMs << " " << r.flags;
    EXPECT_EQ(getStreamStats(0, nullptr), E_POINTER);
    EXPECT_EQ(recoverDevice(0), E_POINTER) << "never opened";
    Events events;
    setDeviceEventCallback(Events::receive, &events);
    // Long enough that a graph's slow first frame under load is no stall.
    ASSERT_EQ(setSupervision(0, 500, 0), S_OK) << "before the open, kept";
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(framesReach(5));

    VcamDevices::setDword(L"a", L"Frozen", 1);
    Event stalled{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_STALLED, stalled); }));
    EXPECT_GE(stalled.detail, 500);
    EXPECT_LT(stalled.detail, 650) << "seen late";
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_STALLED);
    const StreamStats whileStalled = statsOf(0);
    EXPECT_EQ(whileStalled.stalls, 1);
    EXPECT_GT(whileStalled.lastFrameTime, 0);

    VcamDevices::setDword(L"a", L"Frozen", 0);
    Event recovered{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_RECOVERED, recovered); }));
    EXPECT_EQ(recovered.detail, 0) << "it resumed by itself";
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);
    const StreamStats after = statsOf(0);
    EXPECT_GT(after.frames, whileStalled.frames);
    EXPECT_GT(after.lastFrameTime, whileStalled.lastFrameTime);
    EXPECT_EQ(after.stalls, 1);
    EXPECT_EQ(after.recoveries, 0);
    EXPECT_EQ(events.count(FENWYR_DEVICE_STALLED), 1) << "told once";
    EXPECT_EQ(stopCapture(0), S_OK);
    setDeviceEventCallback(nullptr, nullptr);
    uninit();
}

TEST(Supervision, AGuiHostGetsItsDeviceBackAsItHadIt) {
    // The first stream hangs after 20 frames; the device rebuilt from its moniker streams on.
    VcamDevice device = vcamDevice(L"a", L"Alpha", L"160x120@30 RGB24;320x240@10-30 RGB24");
    device.strings[L"Controls"] = kBrightness;
    device.dwords[L"StallAfter"] = 20;
    VcamDevices devices({device});
    init();
    Events events;
    InfoLog described;
    setDeviceEventCallback(Events::receive, &events);
    ASSERT_EQ(setSupervision(0, 500, FENWYR_RECOVER_AUTO), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(setFormat(0, 1, 20.0), S_OK);
    ASSERT_EQ(setOutputFormat(0, FENWYR_OUTPUT_BGRA32), S_OK);
    ASSERT_EQ(setControl(0, FENWYR_CONTROL_BRIGHTNESS, 20, FENWYR_CONTROL_MANUAL), S_OK);
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &described), S_OK);
    setFrameArrivedCallback(0, countPlainFrame);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));

    Event recovered{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_RECOVERED, recovered); }));
    EXPECT_EQ(recovered.detail, 1) << "attempts";
    const std::size_t describedAtRecovery = described.count();
    const int plainAtRecovery = plainFrames;
    ASSERT_TRUE(pumpUntil([&] { return described.count() >= describedAtRecovery + 5 && plainFrames >= plainAtRecovery + 5; }))
        << "both callbacks get the new graph's frames";
    ControlInfo brightness{};
    ASSERT_EQ(getControl(0, FENWYR_CONTROL_BRIGHTNESS, &brightness), S_OK);
    EXPECT_EQ(brightness.value, 20);
    EXPECT_EQ(brightness.flags, FENWYR_CONTROL_MANUAL);
    FormatInfo formats[2]{};
    ASSERT_EQ(getFormats(0, formats, 2), 2);
    EXPECT_EQ(getOutputFormat(0), FENWYR_OUTPUT_BGRA32);
    const StreamStats stats = statsOf(0);
    EXPECT_EQ(stats.stalls, 1);
    EXPECT_EQ(stats.recoveries, 1);
    EXPECT_EQ(stats.failedAttempts, 0);
    EXPECT_EQ(stopCapture(0), S_OK);
    setDeviceEventCallback(nullptr, nullptr);
    uninit();

    std::lock_guard<std::mutex> lock(described.mutex);
    ASSERT_GT(described.infos.size(), 25u);
    for (std::size_t i = 0; i < described.infos.size(); ++i) {
        const FrameInfo& info = described.infos[i];
        EXPECT_EQ(info.width, 320) << "frame " << i;
        EXPECT_EQ(info.pixelFormat, 6) << "frame " << i;
        EXPECT_EQ(info.sequence, static_cast<int64_t>(i)) << "the sequence goes on across the recovery";
    }
    // The rate asked for: the new graph's frames 50 ms apart, not 33.
    const FrameInfo& last = described.infos.back();
    const FrameInfo& earlier = described.infos[described.infos.size() - 5];
    EXPECT_GT(last.sampleTime - earlier.sampleTime, 4 * 450000);
}

TEST(Supervision, AHostWithoutAMessageLoopRecoversItselfAndAWaitingGrabGetsTheNewGraphsFrame) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"StallAfter", 10), camera(L"b", L"Beta")});
    init();
    Events events;
    setDeviceEventCallback(Events::receive, &events);
    ASSERT_EQ(setSupervision(0, 500, 0), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    // No message loop here: the event callback signals, this thread acts.
    ASSERT_EQ(WaitForSingleObject(events.signal, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(events.recoverFromCallback.load(), VFW_E_WRONG_STATE);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_STALLED);
    std::vector<uint8_t> frame(kSmallFrameBytes);
    FrameInfo info{};
    std::atomic<HRESULT> grabbed{E_FAIL};
    std::thread grabber([&] { grabbed = grabFrame(0, frame.data(), kSmallFrameBytes, &info, 5000); });
    Sleep(100);
    EXPECT_EQ(recoverDevice(1), E_POINTER) << "never opened";
    EXPECT_EQ(recoverDevice(2), E_INVALIDARG);
    EXPECT_EQ(recoverDevice(0), S_OK);
    grabber.join();
    EXPECT_EQ(grabbed.load(), S_OK);
    EXPECT_GE(info.sequence, 10) << "the sequence goes on";
    Event recovered{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_RECOVERED, recovered); }));
    EXPECT_EQ(recovered.detail, 1);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);
    setDeviceEventCallback(nullptr, nullptr);
    uninit();
}

TEST(Supervision, ALostDeviceThatReturnsIsRecoveredAutomatically) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    Events events;
    setDeviceEventCallback(Events::receive, &events);
    ASSERT_EQ(setSupervision(0, 500, FENWYR_RECOVER_AUTO), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(framesReach(3));
    VcamDevices::setDword(L"a", L"Unplugged", 1);
    Event lost{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_LOST, lost); }));
    EXPECT_EQ(recoverDevice(0), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)) << "while it is absent";
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_LOST);
    const int64_t framesBefore = statsOf(0).frames;
    VcamDevices::setDword(L"a", L"Unplugged", 0);
    Event recovered{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_RECOVERED, recovered); }));
    EXPECT_EQ(recovered.detail, 2) << "the host's attempt while absent, then the library's";
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);
    ASSERT_TRUE(framesReach(framesBefore + 3));
    const StreamStats stats = statsOf(0);
    EXPECT_EQ(stats.failedAttempts, 1);
    EXPECT_EQ(stats.recoveries, 1);
    setDeviceEventCallback(nullptr, nullptr);
    uninit();
}

TEST(Supervision, FailedAttemptsAreSpacedAndAStopOrUninitEndsThem) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"StallAfter", 10)});
    init();
    Events events;
    setDeviceEventCallback(Events::receive, &events);
    ASSERT_EQ(setSupervision(0, 500, FENWYR_RECOVER_AUTO), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    // Two attempts fail (each binds twice: the moniker, then the device enumerated again).
    VcamDevices::setDword(L"a", L"FailNextBinds", 4);
    Event stalled{}, recovered{};
    ASSERT_TRUE(pumpUntil([&] { return events.find(FENWYR_DEVICE_RECOVERED, recovered); }));
    ASSERT_TRUE(events.find(FENWYR_DEVICE_STALLED, stalled));
    EXPECT_EQ(recovered.detail, 3);
    EXPECT_EQ(statsOf(0).failedAttempts, 2);
    const auto spacing = std::chrono::duration_cast<milliseconds>(recovered.when - stalled.when).count();
    EXPECT_GE(spacing, 2900) << "at once, after 1 s, after 2 s more";
    EXPECT_LT(spacing, 5000);

    // The device hangs for good and no bind works: attempts go on until the host stops.
    VcamDevices::setDword(L"a", L"Frozen", 1);
    VcamDevices::setDword(L"a", L"FailNextBinds", 1000);
    ASSERT_TRUE(pumpUntil([&] { return statsOf(0).failedAttempts >= 4; }));
    EXPECT_EQ(stopCapture(0), S_OK);
    EXPECT_NE(getDeviceState(0), FENWYR_STATE_RUNNING);
    const int32_t afterStop = statsOf(0).failedAttempts;
    pumpFor(milliseconds(2500));
    EXPECT_EQ(statsOf(0).failedAttempts, afterStop) << "attempts after the stop";

    ASSERT_EQ(openDevice(0), 0) << "no bind works";
    VcamDevices::setDword(L"a", L"FailNextBinds", 0);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    VcamDevices::setDword(L"a", L"FailNextBinds", 1000);
    ASSERT_TRUE(pumpUntil([&] { return statsOf(0).failedAttempts >= 1; }));
    uninit();
    const int32_t afterUninit = statsOf(0).failedAttempts;
    pumpFor(milliseconds(1500));
    EXPECT_EQ(statsOf(0).failedAttempts, afterUninit) << "attempts after uninit";
    VcamDevices::setDword(L"a", L"FailNextBinds", 0);
    VcamDevices::setDword(L"a", L"Frozen", 0);
    setDeviceEventCallback(nullptr, nullptr);
}
