#pragma once
#include <cstdint>

#include "capture_device.h"
#include "fenwyr.h"

// A capture card's analog video decoder: the standards it decodes (the platform's AnalogVideo_
// bits) and whether it has locked onto a signal.
namespace video_standard {

// See getVideoStandard (pointers already checked).
HRESULT get(CaptureDevice& device, int32_t& available, int32_t& current, int32_t& locked);
// See setVideoStandard. A recovered device gets the standard back.
HRESULT set(CaptureDevice& device, int32_t standard);

}  // namespace video_standard
