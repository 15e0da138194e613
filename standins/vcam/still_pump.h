#pragma once
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "pump_thread.h"
#include "device_controls.h"
#include "device_presence.h"
#include "frame_painter.h"
#include "video_format.h"

struct StillSettings {
    FrameGeometry geometry;
    DWORD tag = 0;
    PaintOptions paint;
    Microsoft::WRL::ComPtr<IMemAllocator> allocator;
    Microsoft::WRL::ComPtr<IMemInputPin> receiver;
    const DeviceControls* controls = nullptr;  // outlives the pump; read for every still
    DevicePresence* presence = nullptr;        // outlives the pump; its button is polled while running
    const std::atomic<long>* mode = nullptr;   // outlives the pump: the still pin's IAMVideoControl mode
};

// The still pin's thread: from start() to the end it exists; while running it sends one still
// downstream per trigger (software, or the device's button while external triggering is on).
// Stills carry no sample times, so a renderer never holds them back.
class StillPump : public PumpThread {
public:
    explicit StillPump(StillSettings settings);
    ~StillPump();
    StillPump(const StillPump&) = delete;
    StillPump& operator=(const StillPump&) = delete;

    void run();
    void pause();
    // One still, when running; ignored otherwise, as a camera that does not stream ignores it.
    void trigger();

private:
    void threadMain() override;
    HRESULT deliver(class FrameSource& source, uint32_t sequence);

    StillSettings settings_;
    bool running_ = false;
    unsigned pending_ = 0;
};
