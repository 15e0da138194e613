#include "tarvik_api.h"

#include <cstdio>

TarvikApi::TarvikApi(const Library& dll) {
    dll.bind("findAvailableCamera", findAvailableCamera);
    dll.bind("closeCamera", closeCamera);
    dll.bind("getCameraId", getCameraId);
    dll.bind("getCameraName", getCameraName);
    dll.bind("setAoi", setAoi);
    dll.bind("aoiInfo", aoiInfo);
    dll.bind("startCapture", startCapture);
    dll.bind("stopCurrentCapture", stopCurrentCapture);
    dll.bind("captureFrame", captureFrame);
    dll.bind("captureFrameChecked", captureFrameChecked);
    dll.bind("getPixelClockRange", getPixelClockRange);
    dll.bind("setPixelClock", setPixelClock);
    dll.bind("getCurrentPixelClock", getCurrentPixelClock);
    dll.bind("getFpsRange", getFpsRange);
    dll.bind("setFps", setFps);
    dll.bind("getCurrentFps", getCurrentFps);
    dll.bind("getExposureRange", getExposureRange);
    dll.bind("getCurrentExposure", getCurrentExposure);
    dll.bind("setExposure", setExposure);
    dll.bind("setGamma", setGamma);
    dll.bind("setGain", setGain);
    dll.bind("getGain", getGain);
}

OpenedCamera::OpenedCamera(const TarvikApi& api) : api_(api), camera_(api.findAvailableCamera()) {
    if (!camera_)
        std::printf("camcli: no industrial camera could be opened; check that it is connected and not in use\n");
}

OpenedCamera::~OpenedCamera() {
    if (camera_)
        api_.closeCamera(camera_);
}
