// The grabber's callback object: fixed reference counting, no interfaces, frames passed on.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "failing_allocation.h"
#include "frame_log.h"
#include "sample_handler.h"
#include "stdout_capture.h"

namespace {

struct SampleHandlerTest : ::testing::Test {
    std::atomic<FrameArrivedCallback> callback{nullptr};
    SampleHandler handler{callback};
};

}  // namespace

TEST_F(SampleHandlerTest, AnswersNoInterfaceNotEvenIUnknown) {
    void* untouched = &handler;
    EXPECT_EQ(handler.QueryInterface(IID_IUnknown, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, &handler) << "the out pointer was written";
    EXPECT_EQ(handler.QueryInterface(fenwyr::kIidSampleGrabberCB, &untouched), E_NOINTERFACE);
    EXPECT_EQ(untouched, &handler);
}

TEST_F(SampleHandlerTest, ReferenceCountIsAConstantPair) {
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(handler.AddRef(), 1u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(handler.Release(), 0u);
    // Still alive and working after more releases than references.
    BYTE frame[16] = {};
    EXPECT_EQ(handler.BufferCB(0.0, frame, sizeof frame), S_OK);
}

TEST_F(SampleHandlerTest, BufferGoesToTheCurrentCallbackWithItsLength) {
    BYTE frame[16] = {3, 0, 0, 0, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(handler.BufferCB(1.0, frame, sizeof frame), S_OK);
    EXPECT_EQ(frameLog(0).count(), 0u);

    callback = frameCallback(0);
    EXPECT_EQ(handler.BufferCB(2.0, frame, sizeof frame), S_OK);
    callback = frameCallback(1);
    EXPECT_EQ(handler.BufferCB(3.0, frame, 12), S_OK);

    ASSERT_EQ(frameLog(0).count(), 1u);
    EXPECT_EQ(frameLog(0).frames()[0].sequence, 3u);
    EXPECT_EQ(frameLog(0).frames()[0].tag, 0x11223344u);
    EXPECT_EQ(frameLog(0).frames()[0].length, 16);
    ASSERT_EQ(frameLog(1).count(), 1u);
    EXPECT_EQ(frameLog(1).frames()[0].length, 12);
}

TEST_F(SampleHandlerTest, SampleCallbackPrintsTheSampleTime) {
    StdoutCapture out;
    EXPECT_EQ(handler.SampleCB(1.25, nullptr), S_OK);
    EXPECT_EQ(handler.SampleCB(12.3456789, nullptr), S_OK);
    EXPECT_EQ(out.text(), "MediaSample: 1.25\nMediaSample: 12.3457\n");
}

TEST_F(SampleHandlerTest, AFrameWithoutMemoryForItsCopyIsLostAndNothingElse) {
    constexpr LONG kFrameBytes = 1 << 20;
    std::vector<BYTE> frame(kFrameBytes, 0x3C), grabbed(kFrameBytes);
    FrameInfo info{};
    handler.mailbox().setRunning(true);
    // A first grab makes the handler keep a copy of every frame for the polling host.
    ASSERT_EQ(handler.mailbox().take(grabbed.data(), kFrameBytes, info, 0), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    {
        FailingAllocation failing(kFrameBytes);
        EXPECT_EQ(handler.BufferCB(0.0, frame.data(), kFrameBytes), S_OK);
    }
    // The stop that waits for running deliveries must not wait for the failed one.
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        handler.closeDelivery();
        closed = true;
    });
    for (int i = 0; i < 200 && !closed; ++i)
        Sleep(10);
    if (!closed) {
        closer.detach();
        FAIL() << "the failed delivery is still counted as running";
    }
    closer.join();

    handler.openDelivery();
    EXPECT_EQ(handler.BufferCB(0.0, frame.data(), kFrameBytes), S_OK);
    ASSERT_EQ(handler.mailbox().take(grabbed.data(), kFrameBytes, info, 0), S_OK);
    EXPECT_EQ(info.sequence, 1u) << "the lost frame leaves a gap";
    EXPECT_EQ(grabbed, frame);
}
