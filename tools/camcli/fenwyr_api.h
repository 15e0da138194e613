#pragma once
#include "fenwyr.h"
#include "library.h"

// fenwyr.dll's exports, bound by name at run time.
struct FenwyrApi {
    explicit FenwyrApi(const Library& dll);

    decltype(&::init) init;
    decltype(&::uninit) uninit;
    decltype(&::listDevices) listDevices;
    decltype(&::openDevice) openDevice;
    decltype(&::startCapture) startCapture;
    decltype(&::stopCapture) stopCapture;
    decltype(&::setFrameArrivedCallback) setFrameArrivedCallback;
    decltype(&::getResolutions) getResolutions;
    decltype(&::getResolution) getResolution;
    decltype(&::setResolution) setResolution;
    decltype(&::showFilterProperties) showFilterProperties;
    decltype(&::showCapturePinProperties) showCapturePinProperties;
    decltype(&::setFrameCallbackEx) setFrameCallbackEx;
    decltype(&::grabFrame) grabFrame;
    decltype(&::getDeviceIdentity) getDeviceIdentity;
    decltype(&::findDevice) findDevice;
    decltype(&::refreshDevices) refreshDevices;
    decltype(&::setDeviceEventCallback) setDeviceEventCallback;
    decltype(&::getDeviceState) getDeviceState;
    decltype(&::getFormats) getFormats;
    decltype(&::setFormat) setFormat;
    decltype(&::chooseFormat) chooseFormat;
    decltype(&::getControl) getControl;
    decltype(&::setControl) setControl;
    decltype(&::setOutputFormat) setOutputFormat;
    decltype(&::setSupervision) setSupervision;
    decltype(&::recoverDevice) recoverDevice;
    decltype(&::getStreamStats) getStreamStats;
    decltype(&::getInputs) getInputs;
    decltype(&::selectInput) selectInput;
    decltype(&::getVideoStandard) getVideoStandard;
    decltype(&::setVideoStandard) setVideoStandard;
};
