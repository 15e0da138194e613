// The camera's rules for the AOI and its parameters: what it accepts, refuses, clamps and rounds.
#include "open_camera_fixture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

using namespace camera_ops;

namespace {

struct Range {
    double min, max, increment;
};

Range exposureRange(Handle handle, std::uint32_t command) {
    Range range{-1, -1, -1};
    EXPECT_EQ(ops().exposure(handle, command, &range, sizeof range), 0);
    return range;
}

double currentExposure(Handle handle) {
    double value = -1;
    ops().exposure(handle, 7, &value, sizeof value);
    return value;
}

std::int32_t currentPixelClock(Handle handle) {
    std::int32_t value = -1;
    ops().pixelClock(handle, 5, &value, sizeof value);
    return value;
}

std::int32_t setPixelClock(Handle handle, std::int32_t value) {
    return ops().pixelClock(handle, 6, &value, sizeof value);
}

}  // namespace

TEST_F(OpenCamera, AoiStartsAtFullSensorAndRefusesRectsOffTheRules) {
    const Aoi full = currentAoi(handle);
    EXPECT_EQ(full.x, 0);
    EXPECT_EQ(full.y, 0);
    EXPECT_EQ(full.width, 1280);
    EXPECT_EQ(full.height, 1024);

    const std::pair<std::uint32_t, std::pair<int, int>> sizes[] = {
        {8, {32, 4}}, {16, {1280, 1024}}, {18, {8, 2}}};
    for (const auto& [command, expected] : sizes) {
        std::int32_t pair[2] = {-1, -1};
        ASSERT_EQ(ops().aoi(handle, command, pair, sizeof pair), 0) << "command " << command;
        EXPECT_EQ(pair[0], expected.first) << "command " << command;
        EXPECT_EQ(pair[1], expected.second) << "command " << command;
    }

    const Aoi accepted{4, 2, 640, 480};
    ASSERT_EQ(setAoi(handle, accepted), 0);
    Aoi now = currentAoi(handle);
    EXPECT_EQ(now.x, 4);
    EXPECT_EQ(now.y, 2);
    EXPECT_EQ(now.width, 640);
    EXPECT_EQ(now.height, 480);

    struct Refused {
        Aoi aoi;
        const char* reason;
    };
    const Refused refused[] = {
        {{0, 0, 24, 480}, "minimum"},            {{0, 0, 640, 2}, "minimum"},
        {{0, 0, 1288, 480}, "maximum"},          {{0, 0, 640, 1026}, "maximum"},
        {{0, 0, 644, 480}, "size increment"},    {{0, 0, 640, 481}, "size increment"},
        {{2, 0, 640, 480}, "position increment"}, {{0, 1, 640, 480}, "position increment"},
        {{648, 0, 640, 480}, "outside"},         {{-4, 0, 640, 480}, "outside"},
        {{0, 546, 640, 480}, "outside"},
    };
    for (const Refused& case_ : refused) {
        const std::int32_t status = setAoi(handle, case_.aoi);
        const std::string label = std::to_string(case_.aoi.x) + "," + std::to_string(case_.aoi.y) + " " +
                                  std::to_string(case_.aoi.width) + "x" + std::to_string(case_.aoi.height);
        EXPECT_NE(status, 0) << label;
        EXPECT_NE(status, 3) << label;
        const LastError error = lastError(handle);
        EXPECT_EQ(error.code, status) << label;
        EXPECT_NE(error.text.find(case_.reason), std::string::npos) << label << ": " << error.text;
        now = currentAoi(handle);
        EXPECT_TRUE(now.x == 4 && now.y == 2 && now.width == 640 && now.height == 480) << label;
    }

    // Parameters that cannot hold the record are refused before anything is read or written.
    Aoi big{0, 0, 1280, 1024};
    EXPECT_NE(ops().aoi(handle, 1, &big, 8), 0);
    EXPECT_NE(ops().aoi(handle, 1, nullptr, 16), 0);
    EXPECT_NE(ops().aoi(handle, 2, &big, 8), 0);
    EXPECT_EQ(big.width, 1280);
    std::int32_t pair[2] = {0, 0};
    EXPECT_NE(ops().aoi(handle, 8, pair, 4), 0);
    EXPECT_NE(ops().aoi(handle, 99, pair, sizeof pair), 0);
    EXPECT_EQ(currentAoi(handle).width, 640);
}

TEST_F(OpenCamera, FrameRateAndExposureAreClampedQuantisedAndFollowClockAndAoi) {
    // Known values of the camera as configured: a 43 MHz pixel clock, 1500 clocks a line, a frame
    // of the AOI's height plus 40 lines; the full sensor takes 1064 lines.
    const double line = 34.883720930232556e-6;   // seconds: 1500 / 43 MHz
    const double fullMax = 26.94235588972431;     // 43 MHz / (1500 x 1064)
    EXPECT_NEAR(currentFps(handle), fullMax, 1e-9);

    double minPeriod = 0, maxPeriod = 0, step = 0;
    ASSERT_EQ(ops().frameTimeRange(handle, &minPeriod, &maxPeriod, &step), 0);
    EXPECT_NEAR(minPeriod, 0.037116279069767444, 1e-12);
    EXPECT_DOUBLE_EQ(maxPeriod, 2.0);
    EXPECT_NEAR(step, line, 1e-15);

    double actual = 0;
    ASSERT_EQ(ops().setFrameRate(handle, 10, &actual), 0);
    EXPECT_NEAR(actual, 9.998837344494826, 1e-9) << "10 fps is 2866.7 lines: the period is 2867 whole lines";
    EXPECT_DOUBLE_EQ(currentFps(handle), actual);
    const double ten = actual;

    ASSERT_EQ(ops().setFrameRate(handle, 1000, &actual), 0);
    EXPECT_NEAR(actual, fullMax, 1e-9);
    ASSERT_EQ(ops().setFrameRate(handle, 0.1, &actual), 0);
    EXPECT_GE(actual, 0.5);
    EXPECT_LT(actual, 0.5001);
    ASSERT_EQ(ops().setFrameRate(handle, 10, &actual), 0);

    const double refusedRates[] = {std::nan(""), std::numeric_limits<double>::infinity(), 0.0, -5.0};
    for (double rate : refusedRates) {
        actual = -1;
        EXPECT_NE(ops().setFrameRate(handle, rate, &actual), 0) << rate;
        EXPECT_DOUBLE_EQ(actual, ten) << "a refused rate reports the current one";
    }
    EXPECT_DOUBLE_EQ(currentFps(handle), ten);

    // Exposure: the fine increment divides a line; values round to it; the maximum is the period.
    std::uint32_t caps = 0;
    ASSERT_EQ(ops().exposure(handle, 1, &caps, sizeof caps), 0);
    EXPECT_TRUE(caps & 2);
    const Range coarse = exposureRange(handle, 6);
    const Range fine = exposureRange(handle, 11);
    EXPECT_NEAR(coarse.increment, line * 1e3, 1e-12);
    EXPECT_LT(fine.increment, coarse.increment);
    EXPECT_NEAR(fine.max, 1e3 / ten, 1e-9);

    double exposure = 10.5;
    ASSERT_EQ(ops().exposure(handle, 12, &exposure, sizeof exposure), 0);
    EXPECT_NEAR(exposure, 10.5, fine.increment / 2 + 1e-12);
    const double steps = (exposure - fine.min) / fine.increment;
    EXPECT_NEAR(steps, std::round(steps), 1e-6) << "written back on the increment";
    EXPECT_DOUBLE_EQ(currentExposure(handle), exposure);

    const double refusedExposures[] = {fine.max + 1, -1, 0, std::nan("")};
    for (double value : refusedExposures) {
        double wanted = value;
        EXPECT_NE(ops().exposure(handle, 12, &wanted, sizeof wanted), 0) << value;
    }
    EXPECT_DOUBLE_EQ(currentExposure(handle), exposure);

    // A shorter period pulls a long exposure down with it.
    exposure = 80;
    ASSERT_EQ(ops().exposure(handle, 12, &exposure, sizeof exposure), 0);
    ASSERT_EQ(ops().setFrameRate(handle, 25, &actual), 0);
    EXPECT_NEAR(currentExposure(handle), 1e3 / actual, fine.increment);
    EXPECT_LE(currentExposure(handle), exposureRange(handle, 11).max);

    // A smaller AOI raises the ceiling and keeps the rate; a slower clock lowers it below the rate.
    ASSERT_EQ(setAoi(handle, Aoi{0, 0, 640, 480}), 0);
    ASSERT_EQ(ops().frameTimeRange(handle, &minPeriod, &maxPeriod, &step), 0);
    EXPECT_NEAR(minPeriod, 0.01813953488372093, 1e-12);   // 1500 x 520 / 43 MHz
    EXPECT_NEAR(currentFps(handle), actual, 1e-9);
    ASSERT_EQ(setPixelClock(handle, 5), 0);
    EXPECT_NEAR(currentFps(handle), 6.410256410256411, 1e-9);   // 5 MHz / (1500 x 520)
    EXPECT_LE(currentExposure(handle), exposureRange(handle, 11).max);
    EXPECT_NEAR(exposureRange(handle, 6).increment, 0.3, 1e-12);   // ms: one line at 5 MHz

    // Without the fine increment the capability bit is clear and its range is refused.
    simSetOption("fineExposure", 0);
    caps = 0xFFFF;
    ASSERT_EQ(ops().exposure(handle, 1, &caps, sizeof caps), 0);
    EXPECT_FALSE(caps & 2);
    Range range{};
    EXPECT_NE(ops().exposure(handle, 11, &range, sizeof range), 0);
    double tooShort = 0;
    EXPECT_NE(ops().exposure(handle, 7, &tooShort, 4), 0);
}

TEST_F(OpenCamera, PixelClockGammaAndGainKeepToTheirValues) {
    std::uint32_t count = 0;
    ASSERT_EQ(ops().pixelClock(handle, 1, &count, sizeof count), 0);
    ASSERT_EQ(count, 6u);
    std::int32_t list[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    ASSERT_EQ(ops().pixelClock(handle, 2, list, count * 4), 0);
    EXPECT_EQ(std::vector<std::int32_t>(list, list + 8), (std::vector<std::int32_t>{5, 10, 20, 30, 43, 86, -1, -1}));
    EXPECT_EQ(currentPixelClock(handle), 43);

    // A short list buffer gets only what fits.
    std::int32_t two[3] = {-1, -1, -1};
    ASSERT_EQ(ops().pixelClock(handle, 2, two, 8), 0);
    EXPECT_EQ(two[1], 10);
    EXPECT_EQ(two[2], -1);

    ASSERT_EQ(setPixelClock(handle, 30), 0);
    EXPECT_EQ(currentPixelClock(handle), 30);
    const std::int32_t refused = setPixelClock(handle, 44);
    EXPECT_NE(refused, 0);
    EXPECT_NE(lastError(handle).text.find("44"), std::string::npos) << lastError(handle).text;
    EXPECT_EQ(currentPixelClock(handle), 30);

    simSetOption("pixelClockCount", 200);
    ASSERT_EQ(ops().pixelClock(handle, 1, &count, sizeof count), 0);
    ASSERT_EQ(count, 200u);
    std::vector<std::int32_t> many(151, -7);
    ASSERT_EQ(ops().pixelClock(handle, 2, many.data(), 150 * 4), 0);
    EXPECT_EQ(many[150], -7) << "nothing written past the size given";
    EXPECT_EQ(std::set<std::int32_t>(many.begin(), many.begin() + 150).size(), 150u);
    EXPECT_EQ(std::find(many.begin(), many.begin() + 150, -7), many.begin() + 150);

    simSetOption("pixelClockCount", 0);
    count = 99;
    ASSERT_EQ(ops().pixelClock(handle, 1, &count, sizeof count), 0);
    EXPECT_EQ(count, 0u);

    std::int32_t gamma = 120;
    ASSERT_EQ(ops().gamma(handle, 1, &gamma, sizeof gamma), 0);
    for (std::int32_t bad : {0, 1001, -3}) {
        gamma = bad;
        EXPECT_NE(ops().gamma(handle, 1, &gamma, sizeof gamma), 0) << bad;
    }
    gamma = 0;
    ASSERT_EQ(ops().gamma(handle, 2, &gamma, sizeof gamma), 0);
    EXPECT_EQ(gamma, 120);

    EXPECT_EQ(ops().gain(handle, 0x8000, -1, -1, -1), 0) << "default master gain";
    EXPECT_EQ(ops().gain(handle, 50, -1, -1, -1), 0);
    EXPECT_EQ(ops().gain(handle, 0x8000, -1, -1, -1), 50);
    EXPECT_NE(ops().gain(handle, 101, -1, -1, -1), 0);
    EXPECT_NE(ops().gain(handle, 20, 20, 20, 101), 0) << "one bad channel refuses the whole call";
    EXPECT_NE(ops().gain(handle, -2, -1, -1, -1), 0);
    EXPECT_EQ(ops().gain(handle, 0x8000, -1, -1, -1), 50);
    EXPECT_EQ(ops().gain(handle, 100, 0, 100, 0), 0);
    EXPECT_EQ(ops().gain(handle, 0x8000, -1, -1, -1), 100);
}
