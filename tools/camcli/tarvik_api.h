#pragma once
#include "library.h"
#include "tarvik.h"

// tarvik.dll's exports, bound by name at run time.
struct TarvikApi {
    explicit TarvikApi(const Library& dll);

    decltype(&::findAvailableCamera) findAvailableCamera;
    decltype(&::closeCamera) closeCamera;
    decltype(&::getCameraId) getCameraId;
    decltype(&::getCameraName) getCameraName;
    decltype(&::setAoi) setAoi;
    decltype(&::aoiInfo) aoiInfo;
    decltype(&::startCapture) startCapture;
    decltype(&::stopCurrentCapture) stopCurrentCapture;
    decltype(&::captureFrame) captureFrame;
    decltype(&::captureFrameChecked) captureFrameChecked;
    decltype(&::getPixelClockRange) getPixelClockRange;
    decltype(&::setPixelClock) setPixelClock;
    decltype(&::getCurrentPixelClock) getCurrentPixelClock;
    decltype(&::getFpsRange) getFpsRange;
    decltype(&::setFps) setFps;
    decltype(&::getCurrentFps) getCurrentFps;
    decltype(&::getExposureRange) getExposureRange;
    decltype(&::getCurrentExposure) getCurrentExposure;
    decltype(&::setExposure) setExposure;
    decltype(&::setGamma) setGamma;
    decltype(&::setGain) setGain;
    decltype(&::getGain) getGain;
};

// The first available camera for the length of a command: closed when this ends. Null, after
// saying so on standard output, when no camera could be opened.
class OpenedCamera {
public:
    explicit OpenedCamera(const TarvikApi& api);
    ~OpenedCamera();
    OpenedCamera(const OpenedCamera&) = delete;
    OpenedCamera& operator=(const OpenedCamera&) = delete;

    CameraContext* get() const { return camera_; }

private:
    const TarvikApi& api_;
    CameraContext* camera_;
};
