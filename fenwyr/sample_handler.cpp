#include "sample_handler.h"

#include <iostream>

#include "sent_message_wait.h"

namespace {

// Host frame callbacks running on this thread (0 or 1: a callback does not nest).
thread_local int frameCallbacksOnThisThread = 0;

struct InsideFrameCallback {
    InsideFrameCallback() { ++frameCallbacksOnThisThread; }
    ~InsideFrameCallback() { --frameCallbacksOnThisThread; }
};

}  // namespace

SampleHandler::SampleHandler(const std::atomic<FrameArrivedCallback>& frameCallback)
    : frameCallback_(frameCallback) {}

// The grabber only calls the callback; it never needs another interface of it.
HRESULT STDMETHODCALLTYPE SampleHandler::QueryInterface(REFIID, void**) {
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SampleHandler::AddRef() {
    return 1;
}

ULONG STDMETHODCALLTYPE SampleHandler::Release() {
    return 0;
}

// Not called in buffer mode, which is the only mode the library selects.
HRESULT STDMETHODCALLTYPE SampleHandler::SampleCB(double sampleTime, IMediaSample*) {
    try {
        std::cout << "MediaSample: " << sampleTime << std::endl;
    } catch (...) {
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SampleHandler::BufferCB(double, BYTE* buffer, LONG length) {
    // Counted before the gate is read, so closeDelivery either sees this call or this call
    // sees the gate closed.
    ++deliveriesInFlight_;
    if (deliveryOpen_) {
        FrameArrivedCallback callback = frameCallback_.load();
        if (callback) {
            InsideFrameCallback inside;
            // An exception thrown by the host must not unwind through DirectShow's thread.
            try {
                callback(buffer, static_cast<int32_t>(length));
            } catch (...) {
            }
        }
    }
    --deliveriesInFlight_;
    return S_OK;
}

void SampleHandler::openDelivery() {
    deliveryOpen_ = true;
}

void SampleHandler::closeDelivery() {
    deliveryOpen_ = false;
    waitDispatchingSentMessages([this] { return deliveriesInFlight_ == 0; });
}

bool SampleHandler::onFrameCallbackThread() {
    return frameCallbacksOnThisThread > 0;
}
