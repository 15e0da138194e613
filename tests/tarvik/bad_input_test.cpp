// Null contexts and null host pointers: refused without a crash, a write or a camera call.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "camera_sim.h"
#include "stdout_capture.h"
#include "tarvik.h"

TEST(BadInput, NullContextIsRefusedByEveryExport) {
    CameraSim sim;
    StdoutCapture out;
    char name[12];
    std::memset(name, 'x', sizeof name);
    AoiRect aoi{0, 0, 64, 16};
    AoiInfoRecord info{};
    RangeRecord range{1, 2, 3};
    int32_t clocks[4] = {-5, -5, -5, -5};
    unsigned char frame[64] = {};

    EXPECT_NE(closeCamera(nullptr), 0);
    EXPECT_EQ(getCameraId(nullptr), -1);
    getCameraName(nullptr, name);
    setAoi(nullptr, &aoi);
    aoiInfo(nullptr, &info);
    EXPECT_NE(startCapture(nullptr), 0);
    EXPECT_NE(stopCurrentCapture(nullptr), 0);
    EXPECT_EQ(captureFrame(nullptr, frame), 0);
    EXPECT_EQ(captureFrameChecked(nullptr, frame, sizeof frame), 0);
    getPixelClockRange(nullptr, clocks);
    setPixelClock(nullptr, 30);
    EXPECT_EQ(getCurrentPixelClock(nullptr), 0);
    getFpsRange(nullptr, &range);
    EXPECT_EQ(setFps(nullptr, 10.0), 0.0);
    EXPECT_EQ(getCurrentFps(nullptr), 0.0);
    getExposureRange(nullptr, &range);
    EXPECT_EQ(getCurrentExposure(nullptr), 0.0);
    setExposure(nullptr, 1.0);
    setGamma(nullptr, 100);
    setGain(nullptr, 10);
    EXPECT_EQ(getGain(nullptr), 0);

    EXPECT_EQ(std::string(name, 12), std::string(12, 'x'));
    EXPECT_EQ(clocks[0], -5);
    EXPECT_EQ(range.minimum, 1.0);
    EXPECT_TRUE(sim.calls().empty());
    EXPECT_EQ(out.text(), "");
}

TEST(BadInput, NullHostPointersAreRefused) {
    CameraSim sim;
    CameraContext* camera = findAvailableCamera();
    ASSERT_NE(camera, nullptr);
    AoiRect aoi{0, 0, 64, 16};
    setAoi(camera, &aoi);
    ASSERT_EQ(startCapture(camera), 0);
    sim.clearLog();

    getCameraName(camera, nullptr);
    setAoi(camera, nullptr);
    aoiInfo(camera, nullptr);
    EXPECT_EQ(captureFrame(camera, nullptr), 0);
    getPixelClockRange(camera, nullptr);
    getFpsRange(camera, nullptr);
    getExposureRange(camera, nullptr);
    EXPECT_TRUE(sim.calls().empty());

    // The context is still usable afterwards.
    unsigned char frame[64 * 16];
    EXPECT_EQ(captureFrame(camera, frame), 1);
    EXPECT_EQ(closeCamera(camera), 0);
}
