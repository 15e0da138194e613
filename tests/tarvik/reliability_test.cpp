// Bad values from the host, open/close churn and a long live run with injected camera faults.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "camera_sim.h"
#include "process_counters.h"
#include "stdout_capture.h"
#include "tarvik.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Seconds a soak test runs: short in the test command, minutes through scripts/soak.sh.
double soakSeconds() {
    const char* text = std::getenv("SOAK_SECONDS");
    return text ? std::atof(text) : 3.0;
}

std::uint32_t counterOf(const std::vector<unsigned char>& frame) {
    std::uint32_t counter;
    std::memcpy(&counter, frame.data(), sizeof counter);
    return counter;
}

struct BadCall {
    std::string what;
    std::function<void(CameraContext*)> call;
    const char* prefix;  // of the one line a refusal prints
};

std::vector<BadCall> badCalls() {
    std::vector<BadCall> calls;
    for (double v : {kNaN, kInf, -kInf, -1.0, 0.0, 1e308, -1e308, 4.9e-324}) {
        calls.push_back({"setFps " + std::to_string(v), [v](CameraContext* c) { setFps(c, v); }, "Error setting fps: "});
        calls.push_back({"setExposure " + std::to_string(v), [v](CameraContext* c) { setExposure(c, v); },
                         "Error setting exposure: "});
    }
    for (int32_t v : {INT_MIN, -1, 0, 1, 7, INT_MAX}) {
        calls.push_back({"setPixelClock " + std::to_string(v), [v](CameraContext* c) { setPixelClock(c, v); },
                         "Error setting pixel clock: "});
        calls.push_back({"setGamma " + std::to_string(v), [v](CameraContext* c) { setGamma(c, v); },
                         "Error setting gamma: "});
        calls.push_back({"setGain " + std::to_string(v), [v](CameraContext* c) { setGain(c, v); },
                         "Error setting gain: "});
    }
    const AoiRect aois[] = {{-4, 0, 640, 480},          {0, -2, 640, 480},        {0, 0, 0, 0},
                            {0, 0, -640, 480},          {0, 0, 640, -480},        {INT_MIN, INT_MIN, 640, 480},
                            {INT_MAX - 8, 0, 640, 480}, {0, INT_MAX - 2, 64, 16}, {0, 0, INT_MAX, INT_MAX},
                            {8, 8, 1280, 1024},         {0, 0, 1288, 1024}};
    for (const AoiRect& a : aois)
        calls.push_back({"setAoi " + std::to_string(a.x) + "," + std::to_string(a.y) + "," + std::to_string(a.width) +
                             "," + std::to_string(a.height),
                         [a](CameraContext* c) { setAoi(c, &a); }, "Error setting aoi: "});
    return calls;
}

} // namespace

TEST(Reliability, EveryBadValueIsRefusedOrClampedAndTheCameraStaysUsable) {
    CameraSim sim;
    CameraContext* camera = findAvailableCamera();
    ASSERT_NE(camera, nullptr);
    const AoiRect aoi{0, 0, 320, 240};
    setAoi(camera, &aoi);
    ASSERT_EQ(startCapture(camera), 0);

    int tried = 0, refused = 0;
    for (const BadCall& bad : badCalls()) {
        StdoutCapture out;
        bad.call(camera);
        ++tried;
        const std::string printed = out.text();
        if (!printed.empty()) {
            ++refused;
            EXPECT_TRUE(std::regex_match(printed, std::regex(std::string(bad.prefix) + "[^\\n]* - -?[0-9]+\\n")))
                << bad.what << " printed: " << printed;
        }
        // Whatever the camera made of it, what it reports stays within its own ranges.
        RangeRecord period{}, exposure{};
        getFpsRange(camera, &period);
        getExposureRange(camera, &exposure);
        const double fps = getCurrentFps(camera);
        EXPECT_TRUE(std::isfinite(fps) && fps >= 1 / period.maximum - 1e-6 && fps <= 1 / period.minimum + 1e-6)
            << bad.what << ": fps " << fps;
        const double ms = getCurrentExposure(camera);
        EXPECT_TRUE(std::isfinite(ms) && ms >= exposure.minimum - 1e-9 && ms <= exposure.maximum + 1e-9)
            << bad.what << ": exposure " << ms;
        EXPECT_EQ(sim.liveMemories(), 2) << bad.what;
    }
    // Every refused AOI kept the last good one, so frames still come at its size. The values
    // tried left the rate anywhere from its minimum (a frame every 2 s) up: set a usable one.
    setFps(camera, 30.0);
    std::vector<unsigned char> frame(320 * 240 + 1, 0xEE);
    int captured = 0;
    for (int attempt = 0; attempt < 3 && !captured; ++attempt)
        captured = captureFrame(camera, frame.data());
    EXPECT_EQ(captured, 1);
    EXPECT_EQ(frame[320 * 240], 0xEE);
    EXPECT_EQ(closeCamera(camera), 0);
    EXPECT_GE(refused, tried / 2);
    std::printf("bad values tried: %d, refused with an error line: %d\n", tried, refused);
}

TEST(Reliability, OpenCaptureCloseChurnReturnsEverythingItTakes) {
    CameraSim sim;
    sim.setOption("unpaced", 1);
    sim.setOption("log", 0);
    std::vector<unsigned char> frame(1280 * 1024);
    auto cycle = [&](int i) {
        CameraContext* camera = findAvailableCamera();
        ASSERT_NE(camera, nullptr) << "cycle " << i;
        const AoiRect aoi{0, 0, i % 2 ? 640 : 320, i % 2 ? 480 : 240};
        setAoi(camera, &aoi);
        ASSERT_EQ(startCapture(camera), 0);
        for (int f = 0; f < 3; ++f)
            ASSERT_EQ(captureFrame(camera, frame.data()), 1) << "cycle " << i;
        ASSERT_EQ(closeCamera(camera), 0);
    };
    for (int i = 0; i < 20; ++i)
        cycle(i);
    const ProcessCounters settled = ProcessCounters::now();
    const int cycles = 400;
    for (int i = 20; i < cycles; ++i)
        cycle(i);
    const ProcessCounters after = ProcessCounters::now();
    // tarvik starts no thread and opens no handle; the heap may keep a little slack.
    EXPECT_LE(after.handles, settled.handles);
    EXPECT_LE(after.threads, settled.threads);
    EXPECT_LE(after.privateBytes, settled.privateBytes + 512 * 1024) << describe(settled) << " -> " << describe(after);
    EXPECT_EQ(sim.liveMemories(), 0);
    std::printf("cycles: %d; after 20: %s; after %d: %s\n", cycles, describe(settled).c_str(), cycles,
                describe(after).c_str());
}

TEST(Reliability, LongLiveRunWithAoiChangesAndCameraFaults) {
    CameraSim sim;
    sim.setOption("log", 0);
    CameraContext* camera = findAvailableCamera();
    ASSERT_NE(camera, nullptr);
    setPixelClock(camera, 86);
    const AoiRect sizes[] = {{0, 0, 640, 480}, {128, 96, 320, 240}, {0, 0, 1280, 64}};
    setAoi(camera, &sizes[0]);
    setFps(camera, 1000.0);  // as fast as the camera goes
    ASSERT_EQ(startCapture(camera), 0);

    std::vector<unsigned char> frame(1280 * 1024 + 1);
    long long frames = 0, statusErrors = 0, timeouts = 0, aoiChanges = 0;
    size_t current = 0;
    std::uint32_t last = 0;
    bool haveLast = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(soakSeconds());
    for (long long i = 0; std::chrono::steady_clock::now() < end; ++i) {
        if (i % 97 == 13) {
            sim.forceStatus(393, 3);  // capture-status error
            ++statusErrors;
        } else if (i % 101 == 17) {
            sim.forceStatus(393, 11);  // timed out
            ++timeouts;
        } else if (i % 50 == 49) {
            current = (current + 1) % 3;
            setAoi(camera, &sizes[current]);
            ++aoiChanges;
        }
        const size_t bytes = size_t(sizes[current].width) * sizes[current].height;
        frame[bytes] = 0xEE;
        if (!captureFrame(camera, frame.data()))
            continue;
        ++frames;
        ASSERT_EQ(frame[bytes], 0xEE) << "frame larger than its AOI";
        const std::uint32_t counter = counterOf(frame);
        if (haveLast) {
            ASSERT_GT(counter, last) << "frame repeated after " << frames << " frames";
        }
        last = counter;
        haveLast = true;
    }
    EXPECT_EQ(stopCurrentCapture(camera), 0);
    EXPECT_EQ(closeCamera(camera), 0);
    EXPECT_EQ(sim.liveMemories(), 0);
    EXPECT_GT(frames, 0);
    std::printf("live run %.0f s: %lld frames checked, %lld capture-status errors, %lld time-outs, %lld AOI changes, "
                "%lld frames dropped by the camera\n",
                soakSeconds(), frames, statusErrors, timeouts, aoiChanges, sim.framesDropped());
}
