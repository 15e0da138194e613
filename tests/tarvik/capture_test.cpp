// Live capture and the copy of each frame into host memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "camera_sim.h"
#include "stdout_capture.h"
#include "tarvik.h"

using Calls = std::vector<std::string>;

namespace {

std::uint32_t frameCounter(const std::vector<unsigned char>& frame) {
    std::uint32_t counter;
    std::memcpy(&counter, frame.data(), sizeof counter);
    return counter;
}

class Capturing : public ::testing::Test {
protected:
    void SetUp() override {
        camera = findAvailableCamera();
        ASSERT_NE(camera, nullptr);
    }
    void TearDown() override {
        if (camera)
            closeCamera(camera);
    }
    void start(AoiRect aoi) {
        setAoi(camera, &aoi);
        ASSERT_EQ(startCapture(camera), 0);
    }
    CameraSim sim;
    CameraContext* camera = nullptr;
};

} // namespace

TEST_F(Capturing, FrameIsCopiedAndItsMemoryUnlocked) {
    start({0, 0, 320, 240});
    sim.clearLog();
    std::vector<unsigned char> frame(320 * 240);
    StdoutCapture out;
    ASSERT_EQ(captureFrame(camera, frame.data()), 1);
    const Calls calls = sim.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], "393 1000");
    EXPECT_TRUE(calls[1] == "85 m1 1" || calls[1] == "85 m2 2") << calls[1];
    EXPECT_EQ(calls[2], "72 -1 " + calls[1].substr(3, 2));
    EXPECT_EQ(out.text(), "");
}

TEST_F(Capturing, CaptureStatusErrorResetsTheStatus) {
    start({0, 0, 320, 240});
    sim.clearLog();
    sim.forceStatus(393, 3);
    std::vector<unsigned char> frame(320 * 240);
    StdoutCapture out;
    EXPECT_EQ(captureFrame(camera, frame.data()), 0);
    EXPECT_EQ(sim.calls(), (Calls{"393 1000", "500 1 null 0"}));
    EXPECT_EQ(out.text(), "");
}

TEST_F(Capturing, OtherFailuresReturnZeroWithoutCopying) {
    start({0, 0, 320, 240});
    sim.clearLog();
    sim.forceStatus(393, 122);
    std::vector<unsigned char> frame(320 * 240, 0xAB);
    StdoutCapture out;
    EXPECT_EQ(captureFrame(camera, frame.data()), 0);
    EXPECT_EQ(sim.calls(), (Calls{"393 1000"}));
    EXPECT_EQ(frame[100], 0xAB);
    EXPECT_EQ(out.text(), "");
}

TEST_F(Capturing, FailedCopyReturnsZeroAndStillGivesTheMemoryBack) {
    start({0, 0, 320, 240});
    sim.clearLog();
    sim.forceStatus(85, 7);
    std::vector<unsigned char> frame(320 * 240, 0xAB);
    EXPECT_EQ(captureFrame(camera, frame.data()), 0);
    const Calls calls = sim.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[1] == "85 m1 1" || calls[1] == "85 m2 2") << calls[1];
    EXPECT_EQ(calls[2], "72 -1 " + calls[1].substr(3, 2));
    EXPECT_EQ(frame, std::vector<unsigned char>(320 * 240, 0xAB));
}

TEST_F(Capturing, CheckedCaptureRefusesADestinationSmallerThanTheFrame) {
    const std::int32_t frameBytes = 640 * 480;
    std::vector<unsigned char> frame(frameBytes + 1, 0xEE);
    sim.clearLog();
    EXPECT_EQ(captureFrameChecked(camera, frame.data(), frameBytes), 0) << "no image memories yet";
    EXPECT_EQ(sim.calls(), Calls{});

    start({0, 0, 640, 480});
    // A smaller AOI the camera refuses (x off its position increment) leaves frames of the old size:
    // a host that sized its buffer from its request is not overrun.
    const AoiRect refused{2, 0, 320, 240};
    setAoi(camera, &refused);
    sim.clearLog();
    EXPECT_EQ(captureFrameChecked(camera, frame.data(), 320 * 240), 0);
    EXPECT_EQ(captureFrameChecked(camera, frame.data(), frameBytes - 1), 0);
    EXPECT_EQ(captureFrameChecked(camera, frame.data(), -1), 0);
    EXPECT_EQ(captureFrameChecked(camera, nullptr, frameBytes), 0);
    EXPECT_EQ(sim.calls(), Calls{}) << "a refused destination takes no frame";
    EXPECT_EQ(frame, std::vector<unsigned char>(frameBytes + 1, 0xEE));

    ASSERT_EQ(captureFrameChecked(camera, frame.data(), frameBytes), 1);
    EXPECT_EQ(frameCounter(frame), 0u);
    EXPECT_EQ(frame[frameBytes], 0xEE);

    // A larger AOI while live: the same destination is now too small.
    const AoiRect larger{0, 0, 1280, 1024};
    setAoi(camera, &larger);
    sim.clearLog();
    EXPECT_EQ(captureFrameChecked(camera, frame.data(), static_cast<std::int32_t>(frame.size())), 0);
    EXPECT_EQ(sim.calls(), Calls{});
}

TEST_F(Capturing, NothingToCaptureBeforeAoiOrWhileStopped) {
    std::vector<unsigned char> frame(1280 * 1024);
    EXPECT_EQ(captureFrame(camera, frame.data()), 0);

    AoiRect aoi{0, 0, 64, 16};
    setAoi(camera, &aoi);
    EXPECT_EQ(captureFrame(camera, frame.data()), 0);  // queue ready, live not started: times out
}

TEST_F(Capturing, LiveRunDeliversEveryFrameOnceAndFollowsAoiChanges) {
    start({0, 0, 640, 480});
    setFps(camera, 60.0);
    std::vector<unsigned char> frame(640 * 480 + 16, 0xEE);

    std::uint32_t previous = 0;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(captureFrame(camera, frame.data()), 1) << "frame " << i;
        const std::uint32_t counter = frameCounter(frame);
        if (i > 0) {
            EXPECT_EQ(counter, previous + 1) << "frame " << i << " lost or repeated";
        }
        previous = counter;
    }
    EXPECT_EQ(frame[640 * 480], 0xEE) << "copied past the frame";
    EXPECT_EQ(sim.framesDropped(), 0);

    // A smaller AOI while live: the next frames have the new size.
    std::fill(frame.begin(), frame.end(), 0xEE);
    AoiRect smaller{128, 64, 320, 240};
    setAoi(camera, &smaller);
    ASSERT_EQ(captureFrame(camera, frame.data()), 1);
    EXPECT_NE(frame[320 * 240 - 1], 0xEE);
    EXPECT_EQ(frame[320 * 240], 0xEE) << "frame larger than the new AOI";

    EXPECT_EQ(stopCurrentCapture(camera), 0);
    EXPECT_EQ(closeCamera(camera), 0);
    camera = nullptr;
    EXPECT_EQ(sim.liveMemories(), 0);
}

TEST_F(Capturing, TwoAoisShowTwoCropsOfOneScene) {
    start({0, 0, 1280, 1024});
    std::vector<unsigned char> full(1280 * 1024);
    ASSERT_EQ(captureFrame(camera, full.data()), 1);

    const AoiRect crop{256, 128, 320, 240};
    setAoi(camera, &crop);
    std::vector<unsigned char> part(320 * 240);
    ASSERT_EQ(captureFrame(camera, part.data()), 1);

    // Row 1 onwards (row 0 starts with the frame counter).
    for (int row = 1; row < crop.height; ++row) {
        const unsigned char* expected = &full[(crop.y + row) * 1280 + crop.x];
        ASSERT_EQ(std::memcmp(&part[row * crop.width], expected, crop.width), 0) << "row " << row;
    }
}
