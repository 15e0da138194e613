#include "device_events.h"

#include "callback_slot.h"

namespace {

CallbackSlot<DeviceEventCallback>& slot() {
    // Never destroyed: an event thread may still report while the library is unloaded at exit.
    static auto* events = new CallbackSlot<DeviceEventCallback>();
    return *events;
}

}  // namespace

namespace device_events {

void setCallback(DeviceEventCallback callback, void* userData) {
    slot().set(callback, userData);
}

void report(int32_t device, int32_t event, int32_t detail) {
    slot().call(device, event, detail);
}

}  // namespace device_events
