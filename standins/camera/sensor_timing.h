// How long the sensor takes for a line and a frame, and what that allows for frame rate and
// exposure. Times depend on the pixel clock and the AOI height; nothing here has state.
#pragma once

#include <cstdint>

namespace camera_sim {

constexpr int kLinePixelClocks = 1500;    // pixel clocks per line, blanking included
constexpr int kFrameBlankingLines = 40;   // lines between frames
constexpr int kFineExposureClocks = 60;   // the fine exposure step, in pixel clocks
constexpr double kMinFps = 0.5;

// A frame period is a whole number of lines.
struct SensorTiming {
    int pixelClockMHz;
    int aoiHeight;

    double lineSeconds() const { return kLinePixelClocks / (pixelClockMHz * 1e6); }
    double lineMilliseconds() const { return lineSeconds() * 1e3; }
    std::int64_t minFrameLines() const { return aoiHeight + kFrameBlankingLines; }
    std::int64_t maxFrameLines() const;   // the longest period that still keeps kMinFps
    double maxFps() const { return fpsOfFrameLines(minFrameLines()); }

    double fpsOfFrameLines(std::int64_t lines) const;
    std::int64_t frameLinesForFps(double fps) const;   // clamped to [min, max] and quantised
    std::int64_t frameNanoseconds(std::int64_t lines) const;
};

struct ExposureRange {
    double min;
    double max;
    double increment;
};

// In milliseconds. The longest exposure is the frame period; the fine increment is finer
// than one line and divides it.
ExposureRange coarseExposureRange(const SensorTiming& timing, std::int64_t frameLines);
ExposureRange fineExposureRange(const SensorTiming& timing, std::int64_t frameLines);

// Rounds a value inside the range to the nearest step from min, never past max.
double roundToIncrement(const ExposureRange& range, double value);

}  // namespace camera_sim
