// The export boundary: argument checks and the exception barrier, nothing else.
#include "tarvik.h"

#include <cstring>

#include "camera.h"
#include "parameters.h"

namespace {

// Runs work, keeping every exception inside the library.
template <typename Result, typename Work>
Result guarded(Result onFailure, Work&& work) noexcept {
    try {
        return work();
    } catch (...) {
        return onFailure;
    }
}

template <typename Work>
void guarded(Work&& work) noexcept {
    try {
        work();
    } catch (...) {
    }
}

constexpr std::int32_t kRefused = -1;

} // namespace

extern "C" {

TARVIK_API CameraContext* findAvailableCamera(void) {
    return guarded<CameraContext*>(nullptr, [] { return tarvik::openFirstCamera(); });
}

TARVIK_API std::int32_t closeCamera(CameraContext* ctx) {
    if (!ctx)
        return kRefused;
    return guarded(kRefused, [&] { return tarvik::closeCamera(ctx); });
}

TARVIK_API std::int32_t getCameraId(CameraContext* ctx) {
    if (!ctx)
        return -1;
    return guarded(-1, [&] { return tarvik::cameraId(*ctx); });
}

TARVIK_API void getCameraName(CameraContext* ctx, char* name) {
    if (!ctx || !name)
        return;
    guarded([&] { tarvik::cameraSerial(*ctx, name); });
}

TARVIK_API void setAoi(CameraContext* ctx, const AoiRect* aoi) {
    if (!ctx || !aoi)
        return;
    guarded([&] { tarvik::setAoi(*ctx, *aoi); });
}

TARVIK_API void aoiInfo(CameraContext* ctx, AoiInfoRecord* info) {
    if (!ctx || !info)
        return;
    guarded([&] { tarvik::readAoiInfo(*ctx, *info); });
}

TARVIK_API std::int32_t startCapture(CameraContext* ctx) {
    if (!ctx)
        return kRefused;
    return guarded(kRefused, [&] { return tarvik::startLive(*ctx); });
}

TARVIK_API std::int32_t stopCurrentCapture(CameraContext* ctx) {
    if (!ctx)
        return kRefused;
    return guarded(kRefused, [&] { return tarvik::stopLive(*ctx); });
}

TARVIK_API std::int32_t captureFrame(CameraContext* ctx, void* destination) {
    if (!ctx || !destination)
        return 0;
    return guarded(0, [&] { return tarvik::captureFrame(*ctx, destination); });
}

TARVIK_API std::int32_t captureFrameChecked(CameraContext* ctx, void* destination, std::int32_t capacity) {
    if (!ctx || !destination || capacity < 0)
        return 0;
    return guarded(0, [&] { return tarvik::captureFrameChecked(*ctx, destination, capacity); });
}

TARVIK_API void getPixelClockRange(CameraContext* ctx, std::int32_t* clocks) {
    if (!ctx || !clocks)
        return;
    guarded([&] { tarvik::readPixelClocks(*ctx, clocks); });
}

TARVIK_API void setPixelClock(CameraContext* ctx, std::int32_t clockMHz) {
    if (!ctx)
        return;
    guarded([&] { tarvik::setPixelClock(*ctx, clockMHz); });
}

TARVIK_API std::int32_t getCurrentPixelClock(CameraContext* ctx) {
    if (!ctx)
        return 0;
    return guarded(0, [&] { return tarvik::currentPixelClock(*ctx); });
}

TARVIK_API void getFpsRange(CameraContext* ctx, RangeRecord* range) {
    if (!ctx || !range)
        return;
    guarded([&] { *range = tarvik::frameTimeRange(*ctx); });
}

TARVIK_API double setFps(CameraContext* ctx, double fps) {
    if (!ctx)
        return 0.0;
    return guarded(0.0, [&] { return tarvik::setFrameRate(*ctx, fps); });
}

TARVIK_API double getCurrentFps(CameraContext* ctx) {
    if (!ctx)
        return 0.0;
    return guarded(0.0, [&] { return tarvik::currentFrameRate(*ctx); });
}

TARVIK_API void getExposureRange(CameraContext* ctx, RangeRecord* range) {
    if (!ctx || !range)
        return;
    guarded([&] { *range = tarvik::exposureRange(*ctx); });
}

TARVIK_API double getCurrentExposure(CameraContext* ctx) {
    if (!ctx)
        return 0.0;
    return guarded(0.0, [&] { return tarvik::currentExposure(*ctx); });
}

TARVIK_API void setExposure(CameraContext* ctx, double exposureMs) {
    if (!ctx)
        return;
    guarded([&] { tarvik::setExposure(*ctx, exposureMs); });
}

TARVIK_API void setGamma(CameraContext* ctx, std::int32_t gamma) {
    if (!ctx)
        return;
    guarded([&] { tarvik::setGamma(*ctx, gamma); });
}

TARVIK_API void setGain(CameraContext* ctx, std::int32_t gain) {
    if (!ctx)
        return;
    guarded([&] { tarvik::setGain(*ctx, gain); });
}

TARVIK_API std::int32_t getGain(CameraContext* ctx) {
    if (!ctx)
        return 0;
    return guarded(0, [&] { return tarvik::masterGain(*ctx); });
}

} // extern "C"
