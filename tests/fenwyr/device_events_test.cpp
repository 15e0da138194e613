// What happens to a device, as the host learns it: unplugged while capturing, plugged back,
// and the event callback's thread and replacement.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "test_devices.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Event {
    int32_t device;
    int32_t event;
    int32_t detail;
    DWORD thread;
    Clock::time_point when;
};

struct EventLog {
    std::mutex mutex;
    std::vector<Event> events;

    static void receive(int32_t device, int32_t event, int32_t detail, void* userData) {
        auto* log = static_cast<EventLog*>(userData);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->events.push_back({device, event, detail, GetCurrentThreadId(), Clock::now()});
    }
    std::vector<Event> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    // The first event of this kind, waiting up to five seconds for it.
    bool waitFor(int32_t event, Event& found) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline) {
            for (const Event& e : snapshot())
                if (e.event == event) {
                    found = e;
                    return true;
                }
            std::this_thread::sleep_for(milliseconds(2));
        }
        return false;
    }
};

// The threads device 0's frames arrive on.
std::mutex streamingMutex;
std::vector<DWORD> streamingThreads;

void noteStreamingThread(const uint8_t*, const FrameInfo*, void*) {
    std::lock_guard<std::mutex> lock(streamingMutex);
    streamingThreads.push_back(GetCurrentThreadId());
}

}  // namespace

TEST(DeviceEvents, UnplugReachesTheHostOnceAndLeavesTheOtherDeviceRunning) {
    VcamDevices devices({camera(L"a", L"Alpha", 0xA), camera(L"b", L"Beta", 0xB)});
    EventLog log;
    setDeviceEventCallback(EventLog::receive, &log);
    init();
    ASSERT_EQ(setFrameCallbackEx(0, noteStreamingThread, nullptr), S_OK);
    setFrameArrivedCallback(1, frameCallback(1));
    for (int32_t d = 0; d < 2; ++d) {
        ASSERT_EQ(openDevice(d), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(d)));
    }
    ASSERT_TRUE(frameLog(1).waitFor(3));
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);

    const auto unplugged = Clock::now();
    VcamDevices::setDword(L"a", L"Unplugged", 1);
    Event lost{};
    ASSERT_TRUE(log.waitFor(FENWYR_DEVICE_LOST, lost));
    std::printf("unplug to host: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<milliseconds>(lost.when - unplugged).count()));
    EXPECT_EQ(lost.device, 0);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_LOST);
    // The device notices within its 20 ms poll; the host hears at once after that.
    EXPECT_LT(lost.when - unplugged, milliseconds(100));

    // The other device goes on; the lost one's frames have stopped.
    const std::size_t beta = frameLog(1).count();
    EXPECT_TRUE(frameLog(1).waitFor(beta + 3));
    EXPECT_EQ(getDeviceState(1), FENWYR_STATE_RUNNING);

    startCapture(0);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_LOST) << "a start made a lost device running";
    const auto stopping = Clock::now();
    EXPECT_TRUE(SUCCEEDED(stopCapture(0)));
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_LOST) << "stays lost until opened again";
    uninit();
    EXPECT_LT(Clock::now() - stopping, milliseconds(1000)) << "stop and uninit of a lost device";
    setDeviceEventCallback(nullptr, nullptr);

    int lostEvents = 0;
    std::lock_guard<std::mutex> lock(streamingMutex);
    for (const Event& e : log.snapshot()) {
        lostEvents += e.event == FENWYR_DEVICE_LOST;
        EXPECT_NE(e.thread, GetCurrentThreadId()) << "an event inside a call the host made";
        for (DWORD streaming : streamingThreads)
            EXPECT_NE(e.thread, streaming) << "an event on the streaming thread";
    }
    EXPECT_EQ(lostEvents, 1);
    EXPECT_FALSE(streamingThreads.empty());
}

TEST(DeviceEvents, APluggedBackDeviceIsAnnouncedAndCapturesAgainOnceReopened) {
    VcamDevices devices({camera(L"a", L"Alpha", 0xA)});
    EventLog log;
    setDeviceEventCallback(EventLog::receive, &log);
    init();
    setFrameArrivedCallback(0, frameCallback(0));
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frameLog(0).waitFor(2));

    VcamDevices::setDword(L"a", L"Unplugged", 1);
    Event event{};
    ASSERT_TRUE(log.waitFor(FENWYR_DEVICE_LOST, event));
    VcamDevices::setDword(L"a", L"Unplugged", 0);
    ASSERT_TRUE(log.waitFor(FENWYR_DEVICE_RETURNED, event));
    EXPECT_EQ(event.device, 0);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_LOST);

    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_STOPPED);
    const std::size_t before = frameLog(0).count();
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    EXPECT_TRUE(frameLog(0).waitFor(before + 3));
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_RUNNING);
    stopCapture(0);
    uninit();
    setDeviceEventCallback(nullptr, nullptr);
}

namespace {

std::atomic<bool> slowCallbackRunning{false};
std::atomic<int> slowCallbackCalls{0};

void slowCallback(int32_t, int32_t, int32_t, void*) {
    slowCallbackRunning = true;
    ++slowCallbackCalls;
    std::this_thread::sleep_for(milliseconds(300));
    slowCallbackRunning = false;
}

}  // namespace

TEST(DeviceEvents, AReplacedCallbackHasFinishedWhenTheReplacementReturnsAndIsNotCalledAgain) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta")});
    setDeviceEventCallback(slowCallback, nullptr);
    init();
    for (int32_t d = 0; d < 2; ++d) {
        ASSERT_EQ(openDevice(d), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(d)));
    }
    VcamDevices::setDword(L"a", L"Unplugged", 1);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!slowCallbackRunning && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
    ASSERT_TRUE(slowCallbackRunning);

    EventLog log;
    setDeviceEventCallback(EventLog::receive, &log);
    EXPECT_FALSE(slowCallbackRunning) << "the replaced callback was still running";
    VcamDevices::setDword(L"b", L"Unplugged", 1);
    Event event{};
    ASSERT_TRUE(log.waitFor(FENWYR_DEVICE_LOST, event));
    EXPECT_EQ(event.device, 1);
    EXPECT_EQ(slowCallbackCalls.load(), 1);
    uninit();
    setDeviceEventCallback(nullptr, nullptr);
}

namespace {

// Every call takes 400 ms, so what else is reported meanwhile waits in the queue.
void slowLog(int32_t device, int32_t event, int32_t detail, void* userData) {
    EventLog::receive(device, event, detail, userData);
    std::this_thread::sleep_for(milliseconds(400));
}

}  // namespace

TEST(DeviceEvents, EventsQueuedBehindASlowCallbackReachTheHostOnceEach) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta"), camera(L"c", L"Gamma")});
    EventLog log;
    setDeviceEventCallback(slowLog, &log);
    init();
    for (int32_t d = 0; d < 3; ++d) {
        ASSERT_EQ(openDevice(d), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(d)));
    }
    VcamDevices::setDword(L"a", L"Unplugged", 1);
    Event first{};
    ASSERT_TRUE(log.waitFor(FENWYR_DEVICE_LOST, first));
    // Both lost while a's call runs: two events queued at once.
    VcamDevices::setDword(L"b", L"Unplugged", 1);
    VcamDevices::setDword(L"c", L"Unplugged", 1);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while ((getDeviceState(1) != FENWYR_STATE_LOST || getDeviceState(2) != FENWYR_STATE_LOST) &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(2));
    uninit();  // delivers what is queued before it returns
    setDeviceEventCallback(nullptr, nullptr);
    int lost[3] = {};
    for (const Event& e : log.snapshot())
        if (e.event == FENWYR_DEVICE_LOST && e.device >= 0 && e.device < 3)
            ++lost[e.device];
    for (int d = 0; d < 3; ++d)
        EXPECT_EQ(lost[d], 1) << "LOST events of device " << d;
}

TEST(DeviceEvents, AFailedStreamsResultIsReadByAHostThatPolls) {
    VcamDevices devices({withSwitch(camera(L"f", L"Failing", 0xF), L"FrameLimit", 3)});
    init();
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getDeviceError(0), S_OK);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (getDeviceState(0) != FENWYR_STATE_FAILED && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    ASSERT_EQ(getDeviceState(0), FENWYR_STATE_FAILED);
    EXPECT_EQ(getDeviceError(0), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(getDeviceError(7), E_INVALIDARG);
    // Opened again, the device has not failed.
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getDeviceError(0), S_OK);
    uninit();
}
