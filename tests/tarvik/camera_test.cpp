// Opening, identifying, sizing and closing the camera, as the camera sees it.
#include <gtest/gtest.h>

#include <io.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "camera_sim.h"
#include "heap_failure.h"
#include "stdout_capture.h"
#include "tarvik.h"

using Calls = std::vector<std::string>;

namespace {

class Opened : public ::testing::Test {
protected:
    void SetUp() override {
        camera = findAvailableCamera();
        ASSERT_NE(camera, nullptr);
        sim.clearLog();
    }
    void TearDown() override {
        if (camera)
            closeCamera(camera);
    }
    CameraSim sim;
    CameraContext* camera = nullptr;
};

} // namespace

TEST(Open, PutsTheFirstCameraInMonoBitmapMode) {
    CameraSim sim;
    StdoutCapture out;
    CameraContext* camera = findAvailableCamera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(sim.calls(), (Calls{"237 0 null", "12 1", "17 6"}));
    EXPECT_EQ(out.text(), "");
    closeCamera(camera);
}

TEST(Open, NoCameraGivesNullSilently) {
    CameraSim sim;
    sim.setPresent(false);
    StdoutCapture out;
    EXPECT_EQ(findAvailableCamera(), nullptr);
    EXPECT_EQ(sim.calls(), (Calls{"237 0 null"}));
    EXPECT_EQ(out.text(), "");
}

TEST(Open, CameraCanBeOpenedAgainAfterClose) {
    CameraSim sim;
    for (int i = 0; i < 3; ++i) {
        CameraContext* camera = findAvailableCamera();
        ASSERT_NE(camera, nullptr) << "cycle " << i;
        EXPECT_EQ(closeCamera(camera), 0);
    }
}

TEST(Open, FailedAllocationLeavesNoCameraOpenBehind) {
    if (!TarvikAllocationFailure::available())
        GTEST_SKIP() << "tarvik.dll has its C runtime linked in; its heap cannot be made to fail";
    CameraSim sim;
    {
        TarvikAllocationFailure noMemory;
        EXPECT_EQ(findAvailableCamera(), nullptr);
    }
    CameraContext* camera = findAvailableCamera();
    ASSERT_NE(camera, nullptr) << "the first attempt left the camera open";
    EXPECT_EQ(closeCamera(camera), 0);
}

TEST(Open, FailedAllocationInTheFirstAoiLeavesNoImageMemoryBehind) {
    if (!TarvikAllocationFailure::available())
        GTEST_SKIP() << "tarvik.dll has its C runtime linked in; its heap cannot be made to fail";
    CameraSim sim;
    const AoiRect aoi{0, 0, 640, 480};
    // Whichever allocation fails, the next AOI frees every image memory there is.
    for (int failing = 0; failing < 6; ++failing) {
        CameraContext* camera = findAvailableCamera();
        ASSERT_NE(camera, nullptr);
        {
            TarvikAllocationFailure noMemory(failing);
            setAoi(camera, &aoi);
        }
        setAoi(camera, &aoi);
        EXPECT_EQ(sim.liveMemories(), 2) << "allocation " << failing << " failed";
        EXPECT_EQ(closeCamera(camera), 0);
    }
}

TEST_F(Opened, CloseWithoutAoiStillStopsAndEmptiesTheQueue) {
    EXPECT_EQ(closeCamera(camera), 0);
    camera = nullptr;
    EXPECT_EQ(sim.calls(), (Calls{"3 1", "429", "69", "239"}));
}

TEST_F(Opened, CloseFreesBothImageMemoriesAndReturnsTheCloseStatus) {
    AoiRect aoi{0, 0, 320, 240};
    setAoi(camera, &aoi);
    sim.clearLog();
    sim.forceStatus(239, 42);
    EXPECT_EQ(closeCamera(camera), 42);
    camera = nullptr;
    EXPECT_EQ(sim.calls(), (Calls{"3 1", "429", "69", "38 m1 1", "38 m2 2", "239"}));
    EXPECT_EQ(sim.liveMemories(), 0);
}

TEST_F(Opened, IdComesFromTheInformationRecord) {
    sim.setOption("cameraId", 200);
    EXPECT_EQ(getCameraId(camera), 200);
    sim.forceStatus(241, 1);
    EXPECT_EQ(getCameraId(camera), -1);
}

TEST_F(Opened, NameIsTheTwelveByteSerialOrZeros) {
    char name[16];
    std::memset(name, 'x', sizeof name);
    getCameraName(camera, name);
    const std::string serial(name, 12);
    EXPECT_TRUE(std::regex_match(serial, std::regex("[0-9A-Za-z]+\\0*"))) << serial;
    EXPECT_EQ(name[12], 'x') << "wrote past 12 bytes";

    std::memset(name, 'x', sizeof name);
    sim.forceStatus(241, 1);
    getCameraName(camera, name);
    EXPECT_EQ(std::string(name, 12), std::string(12, '\0'));
    EXPECT_EQ(name[12], 'x');
}

TEST_F(Opened, AoiRebuildsTwoMemoriesInOrder) {
    AoiRect aoi{8, 4, 640, 480};
    setAoi(camera, &aoi);
    EXPECT_EQ(sim.calls(), (Calls{"486 1 16 8 4 640 480", "429", "69", "36 640 480 8", "68 m1 1", "36 640 480 8",
                                  "68 m2 2", "395 0"}));
    EXPECT_EQ(sim.liveMemories(), 2);

    sim.clearLog();
    AoiRect smaller{0, 0, 320, 240};
    setAoi(camera, &smaller);
    EXPECT_EQ(sim.calls(), (Calls{"486 1 16 0 0 320 240", "429", "69", "38 m1 1", "38 m2 2", "36 320 240 8",
                                  "68 m3 3", "36 320 240 8", "68 m4 4", "395 0"}));
    EXPECT_EQ(sim.liveMemories(), 2);
}

TEST_F(Opened, RefusedAoiPrintsOneLineAndKeepsTheMemories) {
    AoiRect good{0, 0, 640, 480};
    setAoi(camera, &good);
    sim.clearLog();

    StdoutCapture out;
    AoiRect outside{1000, 0, 640, 480};
    setAoi(camera, &outside);
    EXPECT_TRUE(std::regex_match(out.text(), std::regex("Error setting aoi: [^\\n]+ - -?[1-9][0-9]*\\n"))) << out.text();
    EXPECT_EQ(sim.calls(), (Calls{"486 1 16 1000 0 640 480", "23"}));
    EXPECT_EQ(sim.liveMemories(), 2);
}

TEST_F(Opened, ErrorLineCarriesTheCamerasTextAndCode) {
    StdoutCapture out;
    sim.forceStatus(486, -7);
    AoiRect aoi{0, 0, 640, 480};
    setAoi(camera, &aoi);
    EXPECT_EQ(out.text(), "Error setting aoi: forced status - -7\n");
    EXPECT_EQ(sim.liveMemories(), 0);
}

TEST_F(Opened, MemoryTheCameraCannotAllocateIsReportedAndNeverFreed) {
    sim.forceStatus(36, 13);
    AoiRect aoi{0, 0, 640, 480};
    std::string printed;
    {
        StdoutCapture out;
        setAoi(camera, &aoi);
        printed = out.text();
    }
    EXPECT_EQ(printed, "Error setting aoi: forced status - 13\n");
    EXPECT_EQ(sim.calls(), (Calls{"486 1 16 0 0 640 480", "429", "69", "36 640 480 8", "23", "395 0"}));
    EXPECT_EQ(sim.liveMemories(), 0);

    sim.clearLog();
    EXPECT_EQ(closeCamera(camera), 0);
    camera = nullptr;
    EXPECT_EQ(sim.calls(), (Calls{"3 1", "429", "69", "239"}));
}

TEST_F(Opened, MemoryTheCameraCannotQueueIsReportedAndFreed) {
    sim.forceStatus(68, 5);
    AoiRect aoi{0, 0, 640, 480};
    std::string printed;
    {
        StdoutCapture out;
        setAoi(camera, &aoi);
        printed = out.text();
    }
    EXPECT_EQ(printed, "Error setting aoi: forced status - 5\n");
    EXPECT_EQ(sim.calls(),
              (Calls{"486 1 16 0 0 640 480", "429", "69", "36 640 480 8", "68 m1 1", "23", "38 m1 1", "395 0"}));
    EXPECT_EQ(sim.liveMemories(), 0);
}

TEST_F(Opened, ErrorLinesResumeOnceStandardOutputCanBeWrittenAgain) {
    // A host without a console: descriptor 1 is not open, so the first line cannot be written.
    std::cout.flush();
    std::fflush(stdout);
    const int console = _dup(1);
    ASSERT_GE(console, 0);
    _close(1);
    sim.forceStatus(486, -7, 2);
    AoiRect aoi{0, 0, 640, 480};
    setAoi(camera, &aoi);
    // The host gets its console back.
    _dup2(console, 1);
    _close(console);

    std::string printed;
    {
        StdoutCapture out;
        setAoi(camera, &aoi);
        printed = out.text();
    }
    EXPECT_EQ(printed, "Error setting aoi: forced status - -7\n");
}

TEST_F(Opened, AoiInfoFillsEachGroupItsQueryAnswered) {
    AoiRect aoi{64, 32, 640, 480};
    setAoi(camera, &aoi);
    sim.clearLog();

    AoiInfoRecord info;
    std::memset(&info, 0x55, sizeof info);
    aoiInfo(camera, &info);
    EXPECT_EQ(sim.calls(), (Calls{"486 2 16", "486 8 8", "486 16 8", "486 18 8"}));
    EXPECT_EQ(info.current.x, 64);
    EXPECT_EQ(info.current.y, 32);
    EXPECT_EQ(info.current.width, 640);
    EXPECT_EQ(info.current.height, 480);
    EXPECT_GT(info.minimum.width, 0);
    EXPECT_GT(info.minimum.height, 0);
    EXPECT_GE(info.maximum.width, 640);
    EXPECT_GE(info.maximum.height, 480);
    EXPECT_GT(info.increment.width, 0);
    EXPECT_GT(info.increment.height, 0);

    // The first query fails: that group keeps what the host put there.
    std::memset(&info, 0x55, sizeof info);
    sim.forceStatus(486, 1);
    aoiInfo(camera, &info);
    EXPECT_EQ(info.current.x, 0x55555555);
    EXPECT_EQ(info.current.height, 0x55555555);
    EXPECT_GT(info.minimum.width, 0);
    EXPECT_NE(info.increment.height, 0x55555555);
}
