#include "fenwyr_api.h"

FenwyrApi::FenwyrApi(const Library& dll) {
    dll.bind("init", init);
    dll.bind("uninit", uninit);
    dll.bind("listDevices", listDevices);
    dll.bind("openDevice", openDevice);
    dll.bind("startCapture", startCapture);
    dll.bind("stopCapture", stopCapture);
    dll.bind("setFrameArrivedCallback", setFrameArrivedCallback);
    dll.bind("getResolutions", getResolutions);
    dll.bind("getResolution", getResolution);
    dll.bind("setResolution", setResolution);
    dll.bind("showFilterProperties", showFilterProperties);
    dll.bind("showCapturePinProperties", showCapturePinProperties);
    dll.bind("setFrameCallbackEx", setFrameCallbackEx);
    dll.bind("grabFrame", grabFrame);
    dll.bind("setOutputFormat", setOutputFormat);
    dll.bind("getDeviceIdentity", getDeviceIdentity);
    dll.bind("findDevice", findDevice);
    dll.bind("refreshDevices", refreshDevices);
    dll.bind("setDeviceEventCallback", setDeviceEventCallback);
    dll.bind("getDeviceState", getDeviceState);
    dll.bind("getFormats", getFormats);
    dll.bind("setFormat", setFormat);
    dll.bind("chooseFormat", chooseFormat);
    dll.bind("getControl", getControl);
    dll.bind("setControl", setControl);
    dll.bind("setSupervision", setSupervision);
    dll.bind("recoverDevice", recoverDevice);
    dll.bind("getStreamStats", getStreamStats);
    dll.bind("getInputs", getInputs);
    dll.bind("selectInput", selectInput);
    dll.bind("getVideoStandard", getVideoStandard);
    dll.bind("setVideoStandard", setVideoStandard);
}
