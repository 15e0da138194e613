#include "sample_handler.h"

#include <cmath>
#include <iostream>

#include "arrival_clock.h"
#include "host_callback_thread.h"
#include "scoped_count.h"
#include "sent_message_wait.h"

namespace {

// The handler whose frame this thread is delivering.
thread_local const SampleHandler* deliveringHere = nullptr;

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

HRESULT STDMETHODCALLTYPE SampleHandler::BufferCB(double sampleTime, BYTE* buffer, LONG length) {
    // Counted before the gate is read, so closeDelivery either sees this call or this call
    // sees the gate closed; released on every way out.
    const ScopedCount inFlight(deliveriesInFlight_);
    if (!deliveryOpen_)
        return S_OK;
    const SampleHandler* outer = deliveringHere;
    deliveringHere = this;
    // Nothing may escape into the platform's grabber. A frame that could not be handed on (no
    // memory for its copy) is lost; its sequence number is spent, so the host sees the gap.
    try {
        const media_type::FrameLayout layout = currentLayout();
        const FrameInfo info = describe(layout, sampleTime, length);
        // All that watching for stalls costs a frame.
        lastFrameTime_ = info.arrivalTime;
        ++framesReceived_;
        if (FrameArrivedCallback callback = frameCallback_.load())
            callHost([&] { callback(buffer, static_cast<int32_t>(length)); });
        // Read once: a frame is converted to one output or none.
        const int32_t output = output_;
        if (FrameConverter::isPicture(output)) {
            deliverPicture(layout, info, buffer, output);
        } else {
            callbackEx_.call(static_cast<const uint8_t*>(buffer), &info);
            mailbox_.post(buffer, info);
        }
    } catch (...) {
        ++framesMissed_;
    }
    deliveringHere = outer;
    return S_OK;
}

namespace {

// What a polling host's picture is written from.
struct PictureSource {
    FrameConverter& converter;
    const media_type::FrameLayout& layout;
    const uint8_t* frame;
    size_t length;
    int32_t output;
    bool failed;  // the frame could not be converted: a gap
};

bool writePicture(void* context, uint8_t* picture) {
    auto* source = static_cast<PictureSource*>(context);
    const bool written =
        source->converter.convert(source->layout, source->frame, source->length, source->output, picture);
    source->failed = source->failed || !written;
    return written;
}

}  // namespace

void SampleHandler::deliverPicture(const media_type::FrameLayout& layout, const FrameInfo& native, const BYTE* frame,
                                   int32_t output) {
    FrameInfo info;
    // A picture too large for its description is not made: its number is the gap.
    if (!FrameConverter::describe(native, output, info)) {
        ++framesMissed_;
        return;
    }
    const size_t length = static_cast<size_t>(native.length);
    if (callbackEx_.isSet()) {
        // Converted once into the device's own buffer; a polling host gets a copy of it.
        picture_.resize(static_cast<size_t>(info.length));
        if (!converter_.convert(layout, frame, length, output, picture_.data())) {
            ++framesMissed_;
            return;
        }
        callbackEx_.call(static_cast<const uint8_t*>(picture_.data()), &info);
        mailbox_.post(picture_.data(), info);
        return;
    }
    // Converted straight into the waiting host's buffer, or into the kept frame.
    PictureSource source{converter_, layout, frame, length, output, false};
    mailbox_.post(info, writePicture, &source);
    if (source.failed)
        ++framesMissed_;
}

media_type::FrameLayout SampleHandler::currentLayout() {
    std::lock_guard<std::mutex> lock(layoutMutex_);
    return layout_;
}

bool SampleHandler::deliveringOnThisThread() const {
    return deliveringHere == this;
}

FrameInfo SampleHandler::describe(const media_type::FrameLayout& layout, double sampleTime, LONG length) {
    FrameInfo info{};
    info.arrivalTime = arrivalClock();
    info.width = layout.width;
    info.height = layout.height;
    info.stride = layout.stride;
    info.bottomUp = layout.bottomUp;
    info.pixelFormat = layout.pixelFormat;
    info.fourcc = layout.fourcc;
    info.length = static_cast<int32_t>(length);
    // The grabber passes the start time in seconds.
    info.sampleTime = std::llround(sampleTime * 1e7);
    info.sequence = nextSequence_++;
    info.dropped = dropped_;
    return info;
}

void SampleHandler::beginRun(const media_type::FrameLayout& layout) {
    setLayout(layout);
    nextSequence_ = 0;
}

void SampleHandler::setLayout(const media_type::FrameLayout& layout) {
    std::lock_guard<std::mutex> lock(layoutMutex_);
    layout_ = layout;
}

void SampleHandler::setDropped(int64_t dropped) {
    dropped_ = dropped;
}

void SampleHandler::resetCounters() {
    framesReceived_ = 0;
    framesMissed_ = 0;
    lastFrameTime_ = 0;
}

void SampleHandler::openDelivery() {
    deliveryOpen_ = true;
}

void SampleHandler::closeDelivery() {
    deliveryOpen_ = false;
    waitDispatchingSentMessages([this] { return deliveriesInFlight_ == 0; });
    // No frame is converted now: the library keeps no threads of its own while nothing streams.
    converter_.stopHelpers();
}
