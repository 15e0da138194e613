#pragma once
#include <cstdint>

#include "capture_device.h"
#include "fenwyr.h"

// The stream capabilities of an opened device and the format flowing through its graph.
namespace formats {

// A new block of 1024 records, record i for capability i; all at their defaults for a null
// device or one that was never opened. Null when out of memory.
ResolutionInfo* getResolutions(CaptureDevice* device);
// A new record of the format of the connection that ends the chain (the grabber's output or the
// frame sink's input); the defaults for a null or unopened device.
ResolutionInfo* getResolution(CaptureDevice* device);
// Makes capability `capability` the device's stream format.
void setResolution(CaptureDevice& device, int32_t capability);

// Every qualifying capability with its frame-rate range, silently; see getFormats.
int32_t getFormats(CaptureDevice& device, FormatInfo* formats, int32_t capacity);
// A capability at a frame rate, restarting a running device; see setFormat.
HRESULT setFormat(CaptureDevice& device, int32_t capability, double fps);

// What a host asks for: each field that is not 0 is a requirement.
struct FormatRequest {
    int32_t width = 0;
    int32_t height = 0;
    double fps = 0.0;
    uint32_t fourcc = 0;
};
// The capability that serves the request at the least bandwidth, or -1; see chooseFormat.
int32_t chooseFormat(CaptureDevice& device, const FormatRequest& request);

}  // namespace formats
