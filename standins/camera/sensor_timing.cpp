#include "sensor_timing.h"

#include <algorithm>
#include <cmath>

namespace camera_sim {

std::int64_t SensorTiming::maxFrameLines() const {
    const std::int64_t linesPerSecond = static_cast<std::int64_t>(pixelClockMHz) * 1000000 / kLinePixelClocks;
    const std::int64_t lines = static_cast<std::int64_t>(std::floor(linesPerSecond / kMinFps));
    return std::max(lines, minFrameLines());
}

double SensorTiming::fpsOfFrameLines(std::int64_t lines) const {
    return pixelClockMHz * 1e6 / (static_cast<double>(kLinePixelClocks) * static_cast<double>(lines));
}

std::int64_t SensorTiming::frameLinesForFps(double fps) const {
    const double lines = pixelClockMHz * 1e6 / (kLinePixelClocks * fps);
    if (!(lines < static_cast<double>(maxFrameLines())))
        return maxFrameLines();
    return std::clamp(static_cast<std::int64_t>(std::llround(lines)), minFrameLines(), maxFrameLines());
}

std::int64_t SensorTiming::frameNanoseconds(std::int64_t lines) const {
    return lines * kLinePixelClocks * 1000 / pixelClockMHz;
}

ExposureRange coarseExposureRange(const SensorTiming& timing, std::int64_t frameLines) {
    const double line = timing.lineMilliseconds();
    return {line, line * static_cast<double>(frameLines), line};
}

ExposureRange fineExposureRange(const SensorTiming& timing, std::int64_t frameLines) {
    const double line = timing.lineMilliseconds();
    const double step = line * kFineExposureClocks / kLinePixelClocks;
    return {line, line * static_cast<double>(frameLines), step};
}

double roundToIncrement(const ExposureRange& range, double value) {
    const double maxSteps = std::floor((range.max - range.min) / range.increment + 1e-9);
    double steps = std::round((value - range.min) / range.increment);
    steps = std::clamp(steps, 0.0, maxSteps);
    return range.min + steps * range.increment;
}

}  // namespace camera_sim
