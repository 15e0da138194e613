#pragma once
#include <atomic>

#include "fenwyr.h"
#include "guids.h"

// The sample grabber's callback object for one device: hands every frame's bytes to the
// device's FrameArrivedCallback on the streaming thread. It lives as long as its device
// record, so its reference count is a constant pair and it never deletes itself.
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

    // Frames reach the host again (from the next start on).
    void openDelivery();
    // No later frame reaches the host; returns once no call of the host's callback is running,
    // handling messages sent to this thread meanwhile (the callback may be waiting on them).
    // Never call it from inside a frame callback: it would wait for itself.
    void closeDelivery();
    // True on a thread that is inside one of the host's frame callbacks.
    static bool onFrameCallbackThread();

private:
    const std::atomic<FrameArrivedCallback>& frameCallback_;
    std::atomic<bool> deliveryOpen_{true};
    // BufferCB calls under way; together with deliveryOpen_ it tells closeDelivery when the
    // host's code is no longer running on a streaming thread.
    std::atomic<int> deliveriesInFlight_{0};
};
