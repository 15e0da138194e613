#pragma once
#include <cstdint>

#include "capture_device.h"
#include "fenwyr.h"

// The process-wide list of capture devices; a device's position is its index.
// Records are appended by init and never removed or destroyed while the process runs.
namespace device_table {

// Initialises COM on this thread and appends every video-input device that can be bound.
void init();
// Closes every device and undoes init's COM initialisation.
void uninit();
// True while uninit closes the devices: a message handled meanwhile may not open or start one.
bool uninitRunning();
// A new CoTaskMemAlloc block of 64 entries describing the first 64 devices; null when out of memory.
DeviceInfo* listDevices();
// The device at this index, or null when the index is outside the table. Any thread.
CaptureDevice* find(int32_t index);
// Enumerates again without printing: the number of devices appended, or a failure.
HRESULT refreshDevices();
// The moniker under which this device is enumerated now and binds; null when it is not there.
Microsoft::WRL::ComPtr<IMoniker> monikerOf(const DeviceIdentityText& identity);
// The lowest index of a present device with this path, else this name; -1 when none.
int32_t findDevice(const char* pathOrName);

}  // namespace device_table
