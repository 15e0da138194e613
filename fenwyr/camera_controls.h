#pragma once
#include <cstdint>

#include "capture_device.h"
#include "fenwyr.h"

// The numbers behind a camera's knobs: the video processing amplifier (brightness ... gain)
// and the camera control (pan ... focus) of an open device's capture filter.
namespace camera_controls {

// See getControl.
HRESULT get(CaptureDevice& device, int32_t control, ControlInfo& info);
// See setControl.
HRESULT set(CaptureDevice& device, int32_t control, int32_t value, int32_t flags);

}  // namespace camera_controls
