#include "sample_handler.h"

#include <iostream>

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
    FrameArrivedCallback callback = frameCallback_.load();
    if (callback) {
        // An exception thrown by the host must not unwind through DirectShow's thread.
        try {
            callback(buffer, static_cast<int32_t>(length));
        } catch (...) {
        }
    }
    return S_OK;
}
