#pragma once
#include <cstdint>

#include "fenwyr.h"

// The host's one callback for what happens to devices (lost, failed, returned, complete).
namespace device_events {

// Replaces the callback; when this returns the previous one runs nowhere and is not called again.
void setCallback(DeviceEventCallback callback, void* userData);
// Tells the host, on the calling thread (a device's event thread).
void report(int32_t device, int32_t event, int32_t detail);

}  // namespace device_events
