// Pixel clock, frame rate, exposure, gamma and gain of an opened camera.
#pragma once

#include <cstdint>

#include "camera.h"

namespace tarvik {

void readPixelClocks(const CameraContext& camera, std::int32_t* clocks);
void setPixelClock(const CameraContext& camera, std::int32_t clockMHz);
std::int32_t currentPixelClock(const CameraContext& camera);

RangeRecord frameTimeRange(const CameraContext& camera);
double setFrameRate(const CameraContext& camera, double fps);
double currentFrameRate(const CameraContext& camera);

RangeRecord exposureRange(const CameraContext& camera);
double currentExposure(const CameraContext& camera);
void setExposure(const CameraContext& camera, double exposureMs);

void setGamma(const CameraContext& camera, std::int32_t gamma);
void setGain(const CameraContext& camera, std::int32_t gain);
std::int32_t masterGain(const CameraContext& camera);

} // namespace tarvik
