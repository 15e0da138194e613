// Pixel clock, frame rate, exposure, gamma and gain: what reaches the camera and what comes back.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "camera_sim.h"
#include "stdout_capture.h"
#include "tarvik.h"

using Calls = std::vector<std::string>;

namespace {

class Parameters : public ::testing::Test {
protected:
    void SetUp() override {
        camera = findAvailableCamera();
        ASSERT_NE(camera, nullptr);
        sim.clearLog();
    }
    void TearDown() override { closeCamera(camera); }
    CameraSim sim;
    CameraContext* camera = nullptr;
};

const std::regex kAnyError(const std::string& prefix) {
    return std::regex(prefix + "[^\\n]+ - -?[1-9][0-9]*\\n");
}

} // namespace

TEST_F(Parameters, PixelClockListFillsOnlyTheReportedEntries) {
    std::vector<int32_t> clocks(TARVIK_MAX_PIXEL_CLOCKS, -5);
    getPixelClockRange(camera, clocks.data());
    EXPECT_EQ(sim.calls(), (Calls{"514 1 4", "514 2 24"}));
    EXPECT_GT(clocks[0], 0);
    EXPECT_GT(clocks[5], 0);
    EXPECT_EQ(clocks[6], -5);

    // The current clock is one of the list, and setting another one sticks.
    const int32_t current = getCurrentPixelClock(camera);
    EXPECT_NE(std::find(clocks.begin(), clocks.begin() + 6, current), clocks.begin() + 6);
    StdoutCapture out;
    setPixelClock(camera, clocks[0]);
    EXPECT_EQ(getCurrentPixelClock(camera), clocks[0]);
    EXPECT_EQ(out.text(), "");
}

TEST_F(Parameters, NoPixelClocksLeavesTheHostArrayAlone) {
    sim.setOption("pixelClockCount", 0);
    std::vector<int32_t> clocks(4, -5);
    getPixelClockRange(camera, clocks.data());
    EXPECT_EQ(sim.calls(), (Calls{"514 1 4"}));
    EXPECT_EQ(clocks, std::vector<int32_t>(4, -5));

    sim.forceStatus(514, 1);
    getPixelClockRange(camera, clocks.data());
    EXPECT_EQ(clocks, std::vector<int32_t>(4, -5));
}

TEST_F(Parameters, MoreThan150PixelClocksAreCutTo150) {
    sim.setOption("pixelClockCount", 200);
    std::vector<int32_t> clocks(200, -5);
    getPixelClockRange(camera, clocks.data());
    EXPECT_EQ(sim.calls(), (Calls{"514 1 4", "514 2 600"}));
    EXPECT_NE(clocks[149], -5);
    EXPECT_EQ(clocks[150], -5);
}

TEST_F(Parameters, RefusedPixelClockPrintsItsLine) {
    StdoutCapture out;
    setPixelClock(camera, 7777);
    EXPECT_TRUE(std::regex_match(out.text(), kAnyError("Error setting pixel clock: "))) << out.text();
    EXPECT_EQ(sim.calls(), (Calls{"514 6 4 7777", "23"}));
}

TEST_F(Parameters, FrameRateIsSetAndReadThroughTheRateCall) {
    const double actual = setFps(camera, 10.0);
    EXPECT_NEAR(actual, 10.0, 0.1);
    EXPECT_DOUBLE_EQ(getCurrentFps(camera), actual);
    EXPECT_EQ(sim.calls(), (Calls{"231 10", "231 32768"}));

    RangeRecord range{-1, -1, -1};
    getFpsRange(camera, &range);
    EXPECT_GT(range.minimum, 0.0);
    EXPECT_GT(range.maximum, range.minimum);
    EXPECT_GT(range.step, 0.0);
    EXPECT_LE(range.minimum, 1.0 / actual);
    EXPECT_GE(range.maximum, 1.0 / actual);
}

TEST_F(Parameters, RefusedFrameRatePrintsItsLineBeforeReturning) {
    StdoutCapture out;
    EXPECT_EQ(setFps(camera, -3.0), 0.0);
    EXPECT_TRUE(std::regex_match(out.text(), kAnyError("Error setting fps: "))) << out.text();
}

TEST_F(Parameters, FailedReadsGiveZeros) {
    sim.forceStatus(231, 1);
    EXPECT_EQ(getCurrentFps(camera), 0.0);
    sim.forceStatus(514, 1);
    EXPECT_EQ(getCurrentPixelClock(camera), 0);
    sim.forceStatus(496, 1);
    EXPECT_EQ(getCurrentExposure(camera), 0.0);

    RangeRecord range{-1, -1, -1};
    sim.forceStatus(271, 1);
    getFpsRange(camera, &range);
    EXPECT_EQ(range.minimum, 0.0);
    EXPECT_EQ(range.maximum, 0.0);
    EXPECT_EQ(range.step, 0.0);
}

TEST_F(Parameters, ExposureRangeUsesTheFineQueryWhenTheCameraHasIt) {
    RangeRecord range{};
    sim.setOption("fineExposure", 1);
    getExposureRange(camera, &range);
    EXPECT_EQ(sim.calls(), (Calls{"496 1 4", "496 11 24"}));
    EXPECT_GT(range.maximum, range.minimum);
    EXPECT_GT(range.step, 0.0);

    sim.clearLog();
    sim.setOption("fineExposure", 0);
    getExposureRange(camera, &range);
    EXPECT_EQ(sim.calls(), (Calls{"496 1 4", "496 6 24"}));

    // Capability word unreadable: the plain range, and zeros when that fails too.
    sim.clearLog();
    sim.setOption("fineExposure", 1);
    sim.forceStatus(496, 1);
    getExposureRange(camera, &range);
    EXPECT_EQ(sim.calls(), (Calls{"496 1 4", "496 6 24"}));
    sim.forceStatus(496, 1, 2);
    getExposureRange(camera, &range);
    EXPECT_EQ(range.minimum, 0.0);
    EXPECT_EQ(range.maximum, 0.0);
}

TEST_F(Parameters, ExposureIsSetInTheCamerasUnits) {
    RangeRecord range{};
    getExposureRange(camera, &range);
    const double wanted = range.minimum + (range.maximum - range.minimum) / 2;
    sim.clearLog();
    StdoutCapture out;
    setExposure(camera, wanted);
    EXPECT_EQ(out.text(), "");
    EXPECT_NEAR(getCurrentExposure(camera), wanted, range.step);
    const Calls calls = sim.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("496 12 8 ", 0), 0u);
    EXPECT_EQ(calls[1], "496 7 8");

    setExposure(camera, range.maximum * 10);
    EXPECT_TRUE(std::regex_match(out.text(), kAnyError("Error setting exposure: "))) << out.text();
}

TEST_F(Parameters, GammaGoesThroughTheGammaCommand) {
    StdoutCapture out;
    setGamma(camera, 120);
    EXPECT_EQ(sim.calls(), (Calls{"530 1 4 120"}));
    EXPECT_EQ(out.text(), "");
    setGamma(camera, -1);
    EXPECT_TRUE(std::regex_match(out.text(), kAnyError("Error setting gamma: "))) << out.text();
}

TEST_F(Parameters, GainIsSentToEveryChannelAndReadAsMaster) {
    StdoutCapture out;
    setGain(camera, 37);
    EXPECT_EQ(getGain(camera), 37);
    EXPECT_EQ(sim.calls(), (Calls{"215 37 37 37 37", "215 32768 -1 -1 -1"}));
    EXPECT_EQ(out.text(), "");

    sim.forceStatus(215, 9);
    setGain(camera, 50);
    EXPECT_EQ(out.text(), "Error setting gain: forced status - 9\n");
}

TEST_F(Parameters, ReservedGainValuesAreRefusedWithoutReachingTheCamera) {
    setGain(camera, 37);
    sim.clearLog();
    std::string printed;
    {
        StdoutCapture out;
        setGain(camera, 0x8000);  // the camera API's master-gain query
        setGain(camera, -1);      // its "leave unchanged"
        printed = out.text();
    }
    EXPECT_EQ(sim.calls(), Calls{});
    EXPECT_EQ(printed, "Error setting gain: 32768 is a reserved value, not a gain - -1\n"
                       "Error setting gain: -1 is a reserved value, not a gain - -1\n");
    EXPECT_EQ(getGain(camera), 37);
}
