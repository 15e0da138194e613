#pragma once
#include "capture_device.h"

// The property dialogs that the capture filter and the grabber's output pin provide themselves.
namespace property_pages {

// Modal; the dialog's result, or E_POINTER when the device holds no capture filter.
HRESULT showFilterProperties(CaptureDevice& device);
// Modal; the dialog's result, or E_POINTER when the device holds no output pin.
HRESULT showCapturePinProperties(CaptureDevice& device);

}  // namespace property_pages
