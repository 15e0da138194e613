// Frames with their description (FrameInfo), the described callback with the host's pointer,
// and grabFrame for hosts that poll instead of taking callbacks on foreign threads.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "test_devices.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr HRESULT kTimeout = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
constexpr HRESULT kTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

constexpr uint32_t fourcc(const char (&text)[5]) {
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}

struct ExpectedLayout {
    const wchar_t* format;
    int32_t width, height, stride, bottomUp, pixelFormat;
    uint32_t fourcc;
    int32_t length;  // 0: compressed, any length
    bool headerAtStart;
};

}  // namespace

TEST(FramesForHosts, EveryFrameIsDescribedAsTheDeviceSentIt) {
    const ExpectedLayout layouts[] = {
        {L"160x120@30 RGB24", 160, 120, 480, 1, 5, 0, 57600, true},
        {L"160x-120@30 RGB32", 160, 120, 640, 0, 6, 0, 76800, true},
        {L"162x120@30 RGB24", 162, 120, 488, 1, 5, 0, 58560, true},
        {L"160x120@30 YUY2", 160, 120, 320, 0, 8, fourcc("YUY2"), 38400, true},
        {L"160x120@30 NV12", 160, 120, 160, 0, 0, fourcc("NV12"), 28800, true},
        {L"160x120@30 MJPG", 160, 120, 0, 0, 7, fourcc("MJPG"), 0, false},
    };
    std::vector<VcamDevice> list;
    for (const auto& layout : layouts)
        list.push_back(vcamDevice(std::wstring(L"d") + wchar_t(L'a' + list.size()), L"Device", layout.format));
    VcamDevices devices(list);
    init();
    for (int32_t d = 0; d < int32_t(std::size(layouts)); ++d) {
        const ExpectedLayout& expected = layouts[d];
        SCOPED_TRACE(testing::Message() << "format " << std::string(expected.format, expected.format + wcslen(expected.format)));
        InfoLog log;
        ASSERT_EQ(setFrameCallbackEx(d, InfoLog::receive, &log), S_OK);
        ASSERT_EQ(openDevice(d), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(d)));
        ASSERT_TRUE(log.waitFor(6));
        ASSERT_TRUE(SUCCEEDED(stopCapture(d)));
        ASSERT_EQ(setFrameCallbackEx(d, nullptr, nullptr), S_OK);

        std::lock_guard<std::mutex> lock(log.mutex);
        for (std::size_t i = 0; i < log.infos.size(); ++i) {
            const FrameInfo& info = log.infos[i];
            EXPECT_EQ(info.width, expected.width);
            EXPECT_EQ(info.height, expected.height);
            EXPECT_EQ(info.stride, expected.stride);
            EXPECT_EQ(info.bottomUp, expected.bottomUp);
            EXPECT_EQ(info.pixelFormat, expected.pixelFormat);
            EXPECT_EQ(info.fourcc, expected.fourcc);
            if (expected.length)
                EXPECT_EQ(info.length, expected.length);
            EXPECT_GT(info.length, 0);
            EXPECT_EQ(info.reserved, 0);
            EXPECT_EQ(info.sequence, i) << "the sequence has a gap";
            if (expected.headerAtStart)
                EXPECT_EQ(log.deviceSequences[i], i) << "a frame was described with another's number";
            if (i > 0) {
                // 30 frames a second: a frame interval of 333333 in stream time, within scheduling noise.
                EXPECT_GT(info.sampleTime, log.infos[i - 1].sampleTime);
                EXPECT_GT(info.arrivalTime, log.infos[i - 1].arrivalTime);
            }
        }
    }
    uninit();
}

namespace {

// The host's state for one installation of a callback: it is retired (as good as freed) as soon
// as setFrameCallbackEx has replaced it.
struct HostState {
    int owner;
    std::atomic<bool> retired{false};
};

std::atomic<int> framesSeen{0};
std::atomic<int> wrongPair{0};
std::atomic<int> afterRetirement{0};

template <int Id>
void checkingCallback(const uint8_t*, const FrameInfo*, void* userData) {
    auto* state = static_cast<HostState*>(userData);
    if (state->owner != Id)
        ++wrongPair;
    if (state->retired)
        ++afterRetirement;
    ++framesSeen;
}

}  // namespace

TEST(FramesForHosts, SwappedCallbackNeverMixesWithOthersDataNorRunsAfterTheSwapReturned) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"Unthrottled")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));

    std::vector<std::unique_ptr<HostState>> states;
    HostState* previous = nullptr;
    // Thousands of swaps, for as long as it takes hundreds of frames to arrive among them.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (int swap = 0; swap < 2000 || (framesSeen < 300 && Clock::now() < deadline); ++swap) {
        states.push_back(std::make_unique<HostState>());
        HostState* state = states.back().get();
        state->owner = swap % 2;
        ASSERT_EQ(setFrameCallbackEx(0, swap % 2 ? checkingCallback<1> : checkingCallback<0>, state), S_OK);
        if (previous)
            previous->retired = true;
        previous = state;
    }
    ASSERT_EQ(setFrameCallbackEx(0, nullptr, nullptr), S_OK);
    previous->retired = true;
    stopCapture(0);
    uninit();

    EXPECT_GT(framesSeen.load(), 100) << "too few frames to show anything";
    EXPECT_EQ(wrongPair.load(), 0);
    EXPECT_EQ(afterRetirement.load(), 0);
}

namespace {

std::atomic<int> slowCalls{0};

// Takes about a frame interval, so the stream is inside the callback nearly all the time.
void slowCallback(const uint8_t*, const FrameInfo*, void*) {
    ++slowCalls;
    Sleep(20);
}

}  // namespace

TEST(FramesForHosts, ASwapWaitsOnlyForTheCallInProgressWhileASlowCallbackRunsNonStop) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"Unthrottled")});
    init();
    ASSERT_EQ(setFrameCallbackEx(0, slowCallback, nullptr), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (slowCalls < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    ASSERT_GE(slowCalls.load(), 3);

    Clock::duration longest{};
    int owners[2] = {};
    for (int swap = 0; swap < 6; ++swap) {
        const auto begin = Clock::now();
        ASSERT_EQ(setFrameCallbackEx(0, slowCallback, &owners[swap % 2]), S_OK);
        longest = std::max(longest, Clock::now() - begin);
        std::this_thread::sleep_for(milliseconds(30));
    }
    stopCapture(0);
    uninit();
    std::printf("longest swap: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<milliseconds>(longest).count()));
    EXPECT_LT(longest, milliseconds(500)) << "the swap waited for more than the call in progress";
}

namespace {

// A copy of every frame the described callback saw, by sequence number.
struct FrameCopies {
    std::mutex mutex;
    std::map<uint64_t, std::vector<uint8_t>> bySequence;
    std::vector<uint64_t> order;

    static void receive(const uint8_t* frame, const FrameInfo* info, void* userData) {
        auto* copies = static_cast<FrameCopies*>(userData);
        std::lock_guard<std::mutex> lock(copies->mutex);
        copies->bySequence[info->sequence].assign(frame, frame + info->length);
        copies->order.push_back(info->sequence);
    }
};

}  // namespace

TEST(FramesForHosts, EachRunNumbersFromZeroAndGrabbedFramesAreWholeWhetherWaitedForOrKept) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@10 RGB24")});
    init();
    FrameCopies copies;
    ASSERT_EQ(setFrameCallbackEx(0, FrameCopies::receive, &copies), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    std::vector<uint8_t> buffer(kSmallFrameBytes);
    FrameInfo info{};
    for (int run = 0; run < 2; ++run) {
        // What the last run left unread is not this run's.
        while (grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 0) == S_OK) {
        }
        {
            std::lock_guard<std::mutex> lock(copies.mutex);
            copies.bySequence.clear();
            copies.order.clear();
        }
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        // Waited for: written straight into the waiting buffer. Kept: copied out of the newest.
        for (bool waited : {true, false}) {
            std::fill(buffer.begin(), buffer.end(), uint8_t(0xA5));
            if (!waited)
                std::this_thread::sleep_for(milliseconds(250));
            ASSERT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, waited ? 5000 : 0), S_OK);
            std::lock_guard<std::mutex> lock(copies.mutex);
            ASSERT_EQ(copies.bySequence.count(info.sequence), 1u);
            EXPECT_EQ(buffer, copies.bySequence[info.sequence]) << "run " << run << ", waited " << waited;
        }
        ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
        std::lock_guard<std::mutex> lock(copies.mutex);
        ASSERT_FALSE(copies.order.empty());
        EXPECT_EQ(copies.order.front(), 0u) << "run " << run << " did not number its frames from 0";
    }
    uninit();
}

TEST(FramesForHosts, GrabFrameRefusesBadArgumentsAndReportsADeviceThatIsNotRunning) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    std::vector<uint8_t> buffer(kSmallFrameBytes);
    FrameInfo info{};
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 0), E_INVALIDARG) << "before init";
    init();
    EXPECT_EQ(grabFrame(1, buffer.data(), kSmallFrameBytes, &info, 0), E_INVALIDARG);
    EXPECT_EQ(grabFrame(-1, buffer.data(), kSmallFrameBytes, &info, 0), E_INVALIDARG);
    EXPECT_EQ(grabFrame(0, buffer.data(), -1, &info, 0), E_INVALIDARG);
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, -1), E_INVALIDARG);
    EXPECT_EQ(grabFrame(0, nullptr, kSmallFrameBytes, &info, 0), E_POINTER);
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, nullptr, 0), E_POINTER);

    // Never opened, then opened but not started: no frame will come, so no wait.
    const auto start = Clock::now();
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 5000), VFW_E_NOT_RUNNING);
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 5000), VFW_E_NOT_RUNNING);
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_EQ(setFrameCallbackEx(1, nullptr, nullptr), E_INVALIDARG);
    uninit();
}

TEST(FramesForHosts, GrabFrameWaitsKeepsAFrameTooLargeForTheBufferAndEndsWhenStopped) {
    // Two frames a second leave time to look at one frame at a time; b's 30 show that a wait
    // with a buffer too small ends at the next frame, not at its time-out.
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@2 RGB24", 0x77),
                         vcamDevice(L"b", L"Beta", L"160x120@30 RGB24")});
    init();
    std::vector<uint8_t> buffer(kSmallFrameBytes);
    FrameInfo info{};
    ASSERT_EQ(openDevice(1), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(1)));
    const auto asked = Clock::now();
    EXPECT_EQ(grabFrame(1, buffer.data(), 100, &info, 3000), kTooSmall);
    const long long answeredMs = std::chrono::duration_cast<milliseconds>(Clock::now() - asked).count();
    std::printf("too-small buffer answered after %lld ms\n", answeredMs);
    EXPECT_LT(answeredMs, 1000) << "the too-small answer waited for the time-out";
    ASSERT_TRUE(SUCCEEDED(stopCapture(1)));

    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_EQ(grabFrame(0, buffer.data(), 100, &info, 3000), kTooSmall);
    EXPECT_EQ(info.length, kSmallFrameBytes) << "the host learns the size it needs";
    const uint64_t kept = info.sequence;
    FrameInfo taken{};
    ASSERT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &taken, 0), S_OK);
    EXPECT_EQ(taken.sequence, kept) << "the frame that did not fit was not kept";
    uint32_t header[2];
    std::memcpy(header, buffer.data(), sizeof header);
    EXPECT_EQ(header[0], taken.sequence);
    EXPECT_EQ(header[1], 0x77u);

    // Read: nothing new yet.
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 0), kTimeout);
    ASSERT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 3000), S_OK) << "waiting for the next frame";
    EXPECT_EQ(info.sequence, taken.sequence + 1);

    // A stop on this thread ends a wait on another at once.
    HRESULT waited = S_OK;
    Clock::duration waitedFor{};
    std::thread poller([&] {
        std::vector<uint8_t> own(kSmallFrameBytes);
        FrameInfo ownInfo{};
        const auto begin = Clock::now();
        waited = grabFrame(0, own.data(), kSmallFrameBytes, &ownInfo, 20000);
        waitedFor = Clock::now() - begin;
    });
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    poller.join();
    // The poller may have taken one last frame before the stop.
    if (waited == S_OK)
        waited = grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 20000);
    EXPECT_EQ(waited, VFW_E_NOT_RUNNING);
    EXPECT_LT(waitedFor, std::chrono::seconds(5));
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 1000), VFW_E_NOT_RUNNING) << "after stop";
    uninit();
}

// Grabs of a device that sends nothing, from `count` threads at once (one of them is the taker
// the streaming thread would fill directly, the others wait for a kept frame): each result and
// when it began and ended; `stopped` is when a stop after `stopAfter` (if not negative) returned.
struct Waits {
    std::vector<HRESULT> results;
    std::vector<Clock::time_point> began, ended;
};
double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

Waits grabsAtOnce(int count, int32_t timeoutMs, milliseconds stopAfter, Clock::time_point* stopped = nullptr) {
    Waits waits{std::vector<HRESULT>(count, S_OK), std::vector<Clock::time_point>(count),
                std::vector<Clock::time_point>(count)};
    std::vector<std::thread> threads;
    for (int k = 0; k < count; ++k)
        threads.emplace_back([&, k] {
            std::vector<uint8_t> buffer(kSmallFrameBytes);
            FrameInfo info{};
            waits.began[k] = Clock::now();
            waits.results[k] = grabFrame(0, buffer.data(), kSmallFrameBytes, &info, timeoutMs);
            waits.ended[k] = Clock::now();
        });
    if (stopAfter.count() >= 0) {
        std::this_thread::sleep_for(stopAfter);
        EXPECT_TRUE(SUCCEEDED(stopCapture(0)));
        *stopped = Clock::now();
    }
    for (std::thread& t : threads)
        t.join();
    return waits;
}

TEST(FramesForHosts, AStopEndsEveryWaitingGrabAtOnceAndATimeOutNeverEndsAWaitEarly) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"Frozen", 1)});
    init();
    ASSERT_EQ(openDevice(0), 1);
    // Early and late in a wait, which may be waited out in different ways.
    for (const int stopAfterMs : {8, 300}) {
        SCOPED_TRACE(stopAfterMs);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        Clock::time_point stopped;
        const Waits waits = grabsAtOnce(3, 20000, milliseconds(stopAfterMs), &stopped);
        for (size_t k = 0; k < waits.results.size(); ++k) {
            EXPECT_EQ(waits.results[k], VFW_E_NOT_RUNNING) << "waiter " << k;
            EXPECT_LT(msBetween(stopped, waits.ended[k]), 1000) << "waiter " << k << " outlived the stop";
        }
    }
    // Time-outs around the ends of those ways.
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    for (const int32_t timeoutMs : {1, 49, 50, 51, 75}) {
        SCOPED_TRACE(timeoutMs);
        const Waits waits = grabsAtOnce(2, timeoutMs, milliseconds(-1));
        for (size_t k = 0; k < waits.results.size(); ++k) {
            EXPECT_EQ(waits.results[k], kTimeout) << "waiter " << k;
            EXPECT_GE(msBetween(waits.began[k], waits.ended[k]), timeoutMs) << "waiter " << k << " ended early";
            EXPECT_LT(msBetween(waits.began[k], waits.ended[k]), timeoutMs + 500) << "waiter " << k;
        }
    }
    stopCapture(0);
    uninit();
}

TEST(FramesForHosts, APollingThreadSurvivesManyStartsAndStops) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@60 RGB24")});
    init();
    ASSERT_EQ(openDevice(0), 1);

    std::atomic<bool> done{false};
    std::atomic<int> frames{0};
    std::atomic<int> unexpected{0};
    std::thread poller([&] {
        std::vector<uint8_t> buffer(kSmallFrameBytes);
        FrameInfo info{};
        while (!done) {
            const HRESULT hr = grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 50);
            if (hr == S_OK)
                ++frames;
            else if (hr == VFW_E_NOT_RUNNING)
                std::this_thread::sleep_for(milliseconds(1));
            else if (hr != kTimeout)
                ++unexpected;
        }
    });
    // Short runs and runs long enough for frames (the first comes a few hundred ms after a start).
    for (int cycle = 0; cycle < 16; ++cycle) {
        ASSERT_TRUE(SUCCEEDED(startCapture(0))) << "cycle " << cycle;
        std::this_thread::sleep_for(milliseconds(cycle % 2 ? 20 : 400));
        ASSERT_TRUE(SUCCEEDED(stopCapture(0))) << "cycle " << cycle;
    }
    done = true;
    poller.join();
    uninit();
    EXPECT_GT(frames.load(), 10);
    EXPECT_EQ(unexpected.load(), 0);
}

TEST(FramesForHosts, TheDevicesDropsShowAsItsCountWhileTheSequenceStaysGapless) {
    // Every 4th frame is dropped by the device itself: its number is missing from the frames.
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"DropEvery", 4)});
    init();
    InfoLog log;
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &log), S_OK);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    // The count is sampled every 250 ms: a second of frames shows it moving.
    ASSERT_TRUE(log.waitFor(24));
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    uninit();

    std::lock_guard<std::mutex> lock(log.mutex);
    int64_t missing = 0;
    for (std::size_t i = 0; i < log.infos.size(); ++i) {
        const FrameInfo& info = log.infos[i];
        EXPECT_EQ(info.sequence, i) << "fenwyr lost a frame it received";
        if (i > 0) {
            missing += log.deviceSequences[i] - log.deviceSequences[i - 1] - 1;
            EXPECT_GE(info.dropped, log.infos[i - 1].dropped);
        }
        // Never more than the device skipped up to this frame, and never an unknown count.
        EXPECT_GE(info.dropped, 0);
        EXPECT_LE(info.dropped, missing + 1);
    }
    EXPECT_GE(missing, 5);
    EXPECT_GE(log.infos.back().dropped, 2) << "the device's count never reached the host";
}
