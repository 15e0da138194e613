#include "parameters.h"

#include <algorithm>
#include <cstdio>

#include "error_line.h"

namespace tarvik {
namespace {

constexpr char kGainErrorPrefix[] = "Error setting gain: ";
// The code in the error line of a value refused before it reached the camera.
constexpr std::int32_t kRefusedWithoutCamera = -1;

} // namespace

void readPixelClocks(const CameraContext& camera, std::int32_t* clocks) {
    std::uint32_t count = 0;
    if (cameraPixelClock(camera.handle, camera_api::kPixelClockCount, &count, sizeof count) != camera_api::kSuccess ||
        count == 0)
        return;
    // Never more than the working list (and a 150-entry host array) can hold.
    count = std::min<std::uint32_t>(count, TARVIK_MAX_PIXEL_CLOCKS);
    std::int32_t list[TARVIK_MAX_PIXEL_CLOCKS] = {};
    cameraPixelClock(camera.handle, camera_api::kPixelClockList, list, count * sizeof list[0]);
    std::copy_n(list, count, clocks);
}

void setPixelClock(const CameraContext& camera, std::int32_t clockMHz) {
    if (cameraPixelClock(camera.handle, camera_api::kPixelClockSet, &clockMHz, sizeof clockMHz) != camera_api::kSuccess)
        printCameraError(camera.handle, "Error setting pixel clock: ");
}

std::int32_t currentPixelClock(const CameraContext& camera) {
    std::int32_t clock = 0;
    if (cameraPixelClock(camera.handle, camera_api::kPixelClockCurrent, &clock, sizeof clock) != camera_api::kSuccess)
        return 0;
    return clock;
}

RangeRecord frameTimeRange(const CameraContext& camera) {
    RangeRecord range{};
    if (cameraFrameTimeRange(camera.handle, &range.minimum, &range.maximum, &range.step) != camera_api::kSuccess)
        return RangeRecord{};
    return range;
}

double setFrameRate(const CameraContext& camera, double fps) {
    double actual = 0.0;
    if (cameraSetFrameRate(camera.handle, fps, &actual) != camera_api::kSuccess) {
        printCameraError(camera.handle, "Error setting fps: ");
        return 0.0;
    }
    return actual;
}

double currentFrameRate(const CameraContext& camera) {
    double actual = 0.0;
    if (cameraSetFrameRate(camera.handle, camera_api::kFrameRateQuery, &actual) != camera_api::kSuccess)
        return 0.0;
    return actual;
}

RangeRecord exposureRange(const CameraContext& camera) {
    std::uint32_t capabilities = 0;
    const bool fine =
        cameraExposure(camera.handle, camera_api::kExposureCapabilities, &capabilities, sizeof capabilities) ==
            camera_api::kSuccess &&
        (capabilities & camera_api::kExposureFineIncrementSupported) != 0;
    RangeRecord range{};
    const auto command = fine ? camera_api::kExposureFineRange : camera_api::kExposureRange;
    if (cameraExposure(camera.handle, command, &range, sizeof range) != camera_api::kSuccess)
        return RangeRecord{};
    return range;
}

double currentExposure(const CameraContext& camera) {
    double exposure = 0.0;
    if (cameraExposure(camera.handle, camera_api::kExposureCurrent, &exposure, sizeof exposure) != camera_api::kSuccess)
        return 0.0;
    return exposure;
}

void setExposure(const CameraContext& camera, double exposureMs) {
    if (cameraExposure(camera.handle, camera_api::kExposureSet, &exposureMs, sizeof exposureMs) != camera_api::kSuccess)
        printCameraError(camera.handle, "Error setting exposure: ");
}

void setGamma(const CameraContext& camera, std::int32_t gamma) {
    if (cameraGamma(camera.handle, camera_api::kGammaSet, &gamma, sizeof gamma) != camera_api::kSuccess)
        printCameraError(camera.handle, "Error setting gamma: ");
}

void setGain(const CameraContext& camera, std::int32_t gain) {
    // The camera API reads these as "query the master gain" and "leave unchanged": passed on,
    // they would set nothing while the host believes a gain was set.
    if (gain == camera_api::kGainQueryMaster || gain == camera_api::kIgnoreParameter) {
        char text[64];
        std::snprintf(text, sizeof text, "%ld is a reserved value, not a gain", static_cast<long>(gain));
        printErrorLine(kGainErrorPrefix, text, kRefusedWithoutCamera);
        return;
    }
    if (cameraHardwareGain(camera.handle, gain, gain, gain, gain) != camera_api::kSuccess)
        printCameraError(camera.handle, kGainErrorPrefix);
}

std::int32_t masterGain(const CameraContext& camera) {
    // This query answers with the gain itself, not a status.
    return cameraHardwareGain(camera.handle, camera_api::kGainQueryMaster, camera_api::kIgnoreParameter,
                              camera_api::kIgnoreParameter, camera_api::kIgnoreParameter);
}

} // namespace tarvik
