#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "fenwyr.h"
#include "callback_slot.h"
#include "frame_converter.h"
#include "frame_mailbox.h"
#include "guids.h"
#include "media_type.h"

// The sample grabber's callback object for one device: hands every frame to the host on the
// streaming thread, through the plain callback, the described one and the newest-frame mailbox.
// It lives as long as its device record, so its reference count is a constant pair and it
// never deletes itself.
class SampleHandler final : public ISampleGrabberCB {
public:
    // The handler reads the device's callback slot directly: the slot never moves, so the
    // streaming thread never has to look at the device table while the host appends to it.
    explicit SampleHandler(const std::atomic<FrameArrivedCallback>& frameCallback);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override;

    // Before a run: how the coming frames are laid out; their sequence starts again at 0.
    void beginRun(const media_type::FrameLayout& layout);
    // After a format change: the new layout; the sequence goes on.
    void setLayout(const media_type::FrameLayout& layout);
    // The device's own count of dropped frames, -1 when it keeps none.
    void setDropped(int64_t dropped);
    int64_t dropped() const { return dropped_; }

    // What the stream did since resetCounters (each open). Any thread.
    struct Counters {
        int64_t frames = 0;
        int64_t missed = 0;
        int64_t lastFrameTime = 0;  // arrivalTime of the newest frame; 0: none
    };
    Counters counters() const { return Counters{framesReceived_, framesMissed_, lastFrameTime_}; }
    void resetCounters();

    // Frames reach the host again (from the next start on).
    void openDelivery();
    // No later frame reaches the host; returns once no call of the host's callbacks is running,
    // handling messages sent to this thread meanwhile (a callback may be waiting on them), and
    // the converter's helper threads have ended.
    // Never call it from inside a host callback: it would wait for itself.
    void closeDelivery();

    // True on a streaming thread inside this handler's delivery (and so maybe in host code):
    // waiting there for this device's next frame would wait for itself.
    bool deliveringOnThisThread() const;
    // Whether frames reach the host now.
    bool deliveryOpen() const { return deliveryOpen_; }

    // What the described callback and grabFrame get: a FENWYR_OUTPUT_ value, from the next frame.
    void setOutput(int32_t output) { output_ = output; }
    int32_t output() const { return output_; }

    CallbackSlot<FrameCallbackEx>& callbackEx() { return callbackEx_; }
    FrameMailbox& mailbox() { return mailbox_; }

private:
    FrameInfo describe(const media_type::FrameLayout& layout, double sampleTime, LONG length);
    // Converts the frame for the described callback and the mailbox; a frame that cannot be
    // converted reaches neither.
    void deliverPicture(const media_type::FrameLayout& layout, const FrameInfo& native, const BYTE* frame,
                        int32_t output);
    media_type::FrameLayout currentLayout();

    const std::atomic<FrameArrivedCallback>& frameCallback_;
    CallbackSlot<FrameCallbackEx> callbackEx_;
    FrameMailbox mailbox_;
    std::atomic<bool> deliveryOpen_{true};
    // BufferCB calls under way; together with deliveryOpen_ it tells closeDelivery when the
    // host's code is no longer running on a streaming thread.
    std::atomic<int> deliveriesInFlight_{0};
    std::mutex layoutMutex_;
    media_type::FrameLayout layout_;
    std::atomic<uint64_t> nextSequence_{0};
    std::atomic<int64_t> dropped_{-1};
    std::atomic<int64_t> framesReceived_{0};
    std::atomic<int64_t> framesMissed_{0};
    std::atomic<int64_t> lastFrameTime_{0};
    std::atomic<int32_t> output_{FENWYR_OUTPUT_NATIVE};
    // Streaming thread only.
    FrameConverter converter_;
    std::vector<uint8_t> picture_;
};
