#pragma once
#include <cstdint>

#include "fenwyr.h"

// The host's one callback for what happens to devices (lost, failed, returned, complete).
// Events reach it on one library-wide thread, in the order they were reported, so a device's
// event thread never waits for host code and can always be joined.
namespace device_events {

// Replaces the callback; when this returns the previous one runs nowhere and is not called again.
void setCallback(DeviceEventCallback callback, void* userData);
// Queues the event for the host's callback; returns at once.
void report(int32_t device, int32_t event, int32_t detail);
// Hands every queued event to the host and ends the library's event thread (until the next
// report), handling messages sent to this thread meanwhile. For uninit, once no device reports.
void finish();

}  // namespace device_events
