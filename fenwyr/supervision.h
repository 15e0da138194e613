#pragma once
#include <cstdint>

#include "capture_device.h"

// Streams that stall and devices brought back as the host had them. The frame path only stamps
// each frame's time; the device's event thread watches it and tells of stalls; recoveries touch
// COM objects and so run on the init thread: in the host's recoverDevice call, or from a
// message-only window of the library's there, whose messages the host's message loop runs.
namespace supervision {

// Init thread; see setSupervision.
HRESULT configure(CaptureDevice& device, int32_t stallMs, int32_t flags);
// Init thread; see recoverDevice.
HRESULT recover(CaptureDevice& device);
// Any thread; see getStreamStats.
StreamStats statsOf(const CaptureDevice& device);
// Event thread, every pass: a stall, frames that resumed, the first frame of a recovered graph.
void watchStream(CaptureDevice& device);
// Event thread: whether automatic recovery will try to bring this device back.
bool recovers(const CaptureDevice& device);
// Event thread: the device stalled, returned or failed; an attempt follows when it recovers().
void requestRecovery(const CaptureDevice& device);
// Init thread: no more automatic attempts for this device (stopped, closed, supervision off).
void cancel(int32_t device);
// Init thread, at uninit: pending attempts and the window go.
void finish();

}  // namespace supervision
