// Frames at the host's callback: every frame once, in order, to the right device's callback,
// to whichever callback is installed at the time.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

using std::chrono::milliseconds;

// Sequence numbers run first, first + 1, ... without a gap or a repeat.
void expectConsecutive(const std::vector<Frame>& frames, uint32_t first) {
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i].sequence, first + i) << "frame " << i;
}

// Initialises fenwyr, then opens device 0 with its frames going to log 0 and captures until
// `frames` arrived.
void captureIntoLog0(std::size_t frames) {
    init();
    setFrameArrivedCallback(0, frameCallback(0));
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frameLog(0).waitFor(frames));
}

}  // namespace

TEST(FrameDelivery, FramesArriveInOrderWithoutLossOrRepeat) {
    VcamDevices devices({camera(L"a", L"Alpha", 0x5A5A0001)});
    ASSERT_NO_FATAL_FAILURE(captureIntoLog0(15));
    stopCapture(0);

    const auto frames = frameLog(0).frames();
    expectConsecutive(frames, 0);
    for (const Frame& frame : frames) {
        EXPECT_EQ(frame.tag, 0x5A5A0001u);
        EXPECT_EQ(frame.length, kSmallFrameBytes);
    }
    uninit();
}

TEST(FrameDelivery, StopEndsDeliveryAndEachStartBeginsANewSequence) {
    VcamDevices devices({camera(L"a", L"Alpha", 1)});
    init();
    setFrameArrivedCallback(0, frameCallback(0));
    ASSERT_EQ(openDevice(0), 1);
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(frameLog(0).count(), 0u) << "frames before start";
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frameLog(0).waitFor(3));
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    const std::size_t firstRun = frameLog(0).count();
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(frameLog(0).count(), firstRun) << "frames after stop";

    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frameLog(0).waitFor(firstRun + 3));
    stopCapture(0);
    const auto frames = frameLog(0).frames();
    expectConsecutive(std::vector<Frame>(frames.begin(), frames.begin() + firstRun), 0);
    expectConsecutive(std::vector<Frame>(frames.begin() + firstRun, frames.end()), 0);
    uninit();
}

// The device skipped at enumeration shifts the later device to index 1.
TEST(FrameDelivery, TwoDevicesEachReachOnlyTheirOwnCallback) {
    VcamDevices devices({camera(L"a", L"Alpha", 0xA), withSwitch(camera(L"b", L"Broken", 0xB), L"FailLoadAfter", 0),
                         camera(L"c", L"Gamma", 0xC)});
    init();
    setFrameArrivedCallback(0, frameCallback(0));
    setFrameArrivedCallback(1, frameCallback(1));
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(openDevice(1), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(SUCCEEDED(startCapture(1)));
    ASSERT_TRUE(frameLog(0).waitFor(10));
    ASSERT_TRUE(frameLog(1).waitFor(10));
    stopCapture(0);
    stopCapture(1);

    for (int slot = 0; slot < 2; ++slot) {
        const auto frames = frameLog(slot).frames();
        const uint32_t tag = slot == 0 ? 0xA : 0xC;
        EXPECT_TRUE(std::all_of(frames.begin(), frames.end(), [&](const Frame& f) { return f.tag == tag; }))
            << "callback " << slot << " received another device's frame";
        expectConsecutive(frames, 0);
    }
    uninit();
}

TEST(FrameDelivery, ReplacedCallbackTakesOverFromTheNextFrame) {
    VcamDevices devices({camera(L"a", L"Alpha", 1)});
    ASSERT_NO_FATAL_FAILURE(captureIntoLog0(3));

    setFrameArrivedCallback(0, frameCallback(1));
    ASSERT_TRUE(frameLog(1).waitFor(1));
    // Frames go one at a time: once the new callback has one, the old one is done.
    const std::size_t oldCount = frameLog(0).count();
    ASSERT_TRUE(frameLog(1).waitFor(5));
    stopCapture(0);
    EXPECT_EQ(frameLog(0).count(), oldCount) << "the old callback still receives frames";

    const auto before = frameLog(0).frames();
    const auto after = frameLog(1).frames();
    expectConsecutive(before, 0);
    expectConsecutive(after, before.back().sequence + 1);
    uninit();
}

TEST(FrameDelivery, WithoutACallbackFramesAreDropped) {
    VcamDevices devices({camera(L"a", L"Alpha", 1)});
    ASSERT_NO_FATAL_FAILURE(captureIntoLog0(2));

    StdoutCapture out;
    setFrameArrivedCallback(0, nullptr);
    const std::size_t kept = frameLog(0).count();
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_EQ(frameLog(0).count(), kept) << "frames reached a removed callback";

    // The device went on capturing meanwhile: the sequence shows the frames that were dropped.
    setFrameArrivedCallback(0, frameCallback(1));
    ASSERT_TRUE(frameLog(1).waitFor(1));
    stopCapture(0);
    EXPECT_GT(frameLog(1).frames()[0].sequence, frameLog(0).frames().back().sequence + 1);
    EXPECT_EQ(out.text(), "");
    uninit();
}

