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

private:
    const std::atomic<FrameArrivedCallback>& frameCallback_;
};
