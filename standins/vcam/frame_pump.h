#pragma once
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "pump_thread.h"
#include "capture_card.h"
#include "device_controls.h"
#include "device_presence.h"
#include "frame_counters.h"
#include "media_type.h"
#include "frame_painter.h"
#include "video_format.h"

// Where the streaming thread reports what the graph must hear (a device gone or back).
class GraphNotifier {
public:
    virtual void notifyGraph(long code, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~GraphNotifier() = default;
};

struct PumpSettings {
    FrameGeometry geometry;
    DWORD tag = 0;
    uint32_t frameLimit = 0;  // 0: no limit
    uint32_t dropEvery = 0;   // N: every Nth frame is dropped; 0: none
    uint32_t truncateEvery = 0;  // N: every Nth frame is sent with only its first half; 0: none
    uint32_t stallAfter = 0;     // N: after N frames the stream hangs, silently, for good; 0: never
    uint32_t endOfStreamAfter = 0;  // N: after N frames the stream ends with IPin::EndOfStream; 0: never
    uint32_t newTypeAfter = 0;      // N: frames N on have newType, and frame N carries it; 0: never
    MediaType newType;
    std::function<void(const MediaType&)> typeChanged;  // the pin's connection follows the stream
    uint32_t cutScanEvery = 0;   // N: every Nth JPEG loses the middle of its scan; 0: none
    uint32_t truncateBytes = 0;  // a truncated frame loses this many bytes at its end; 0: half
    bool unthrottled = false;
    PaintOptions paint;
    Microsoft::WRL::ComPtr<IMemAllocator> allocator;
    Microsoft::WRL::ComPtr<IMemInputPin> receiver;
    GraphNotifier* notifier = nullptr;  // outlives the pump
    FrameCounters* counters = nullptr;  // outlives the pump; reset by its owner
    DevicePresence* presence = nullptr;  // outlives the pump; polled while running
    LONG_PTR identity = 0;               // the filter's IUnknown, for EC_DEVICE_LOST
    bool absent = false;                 // the device was unplugged when the stream started
    const DeviceControls* controls = nullptr;  // outlives the pump; read for every frame
    const CaptureCard* card = nullptr;         // likewise, on a capture card: the routed input's tint
};

// The device's streaming thread: from start() to finish() it exists; between run() and
// pause() it delivers frames downstream, one per frame interval of the graph's clock
// (or as fast as downstream takes them when unthrottled), and watches the device's presence.
// Once the device is unplugged the stream stays silent, even after it is plugged back.
class FramePump : public PumpThread {
public:
    explicit FramePump(PumpSettings settings);
    ~FramePump();
    FramePump(const FramePump&) = delete;
    FramePump& operator=(const FramePump&) = delete;

    // Delivers from now on; `clock` may be null, `streamStart` is the graph's run time.
    void run(IReferenceClock* clock, REFERENCE_TIME streamStart);
    void pause();

private:
    void threadMain() override;
    void stream();
    // Hands one frame downstream; `size` gets its length once Receive was called.
    HRESULT deliver(class FrameSource& source, uint32_t sequence, const REFERENCE_TIME* streamTime,
                    REFERENCE_TIME period, const AM_MEDIA_TYPE* newType, long* size);
    // Frame `sequence` is the first of newType when downstream accepts it: a new source for it.
    bool followNewType(uint32_t sequence, std::unique_ptr<class FrameSource>& source);
    // Ends the stream downstream with IPin::EndOfStream once its last frame went.
    void endStream();
    // The time one frame takes: the frame interval, or a manual exposure that is longer.
    REFERENCE_TIME framePeriod() const;
    // Whether the device drops this frame on purpose (DropEvery).
    bool dropsOnPurpose(uint32_t sequence) const;
    // Polls the presence when due and tells the graph of a change; called with the lock held.
    void watchPresence(std::unique_lock<std::mutex>& lock);
    REFERENCE_TIME now(IReferenceClock* clock) const;

    PumpSettings settings_;
    REFERENCE_TIME pacing_;  // the frame interval, or 30 fps when the format has none

    bool running_ = false;
    bool halted_ = false;  // downstream refused a frame: wait for the next run
    bool lost_ = false;    // frame limit reached or stream ended: nothing more this stream
    bool silent_ = false;  // unplugged during (or before) this stream
    bool frozen_ = false;  // the device's `Frozen` switch, as last polled
    bool hung_ = false;    // StallAfter frames were sent
    ULONGLONG lastPoll_ = 0;
    uint64_t generation_ = 0;
    Microsoft::WRL::ComPtr<IReferenceClock> clock_;
    REFERENCE_TIME runStart_ = 0;
    bool originPending_ = false;
    REFERENCE_TIME nextTime_ = 0;  // stream time the next frame falls due at

};
