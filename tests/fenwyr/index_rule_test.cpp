// Indexes that name no device: every per-device export ignores them.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <climits>
#include <thread>

#include "fenwyr.h"
#include "frame_log.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

// Every per-device export with an index that names no device: nothing printed, nothing done.
void expectIgnored(int32_t index) {
    StdoutCapture out;
    EXPECT_EQ(openDevice(index), 0);
    EXPECT_EQ(startCapture(index), E_INVALIDARG);
    EXPECT_EQ(stopCapture(index), E_INVALIDARG);
    EXPECT_EQ(showFilterProperties(index), E_INVALIDARG);
    EXPECT_EQ(showCapturePinProperties(index), E_INVALIDARG);
    setFrameArrivedCallback(index, frameCallback(0));
    setResolution(index, 0);
    ResolutionInfo* formats = getResolutions(index);
    ResolutionInfo* current = getResolution(index);
    ASSERT_NE(formats, nullptr);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(formats[0].index, -1);
    EXPECT_EQ(formats[1023].pixelFormat, -1);
    EXPECT_EQ(current->width, 1);
    CoTaskMemFree(formats);
    CoTaskMemFree(current);
    EXPECT_EQ(out.text(), "") << "index " << index;
}

}  // namespace

TEST(IndexRule, BeforeInitNoIndexNamesADevice) {
    expectIgnored(0);
    expectIgnored(-1);
}

TEST(IndexRule, IndexesOutsideTheTableAreIgnored) {
    VcamDevices devices({camera(L"a", L"Alpha", 1)});
    ComApartment com;
    init();
    expectIgnored(1);
    expectIgnored(-1);
    expectIgnored(INT_MIN);
    expectIgnored(INT_MAX);

    // The device itself never saw the callback meant for index 1.
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stopCapture(0);
    EXPECT_EQ(frameLog(0).count(), 0u);
    uninit();
}
