#pragma once
#include <atomic>
#include <cstdint>

#include <wrl/client.h>

#include "fenwyr.h"
#include "guids.h"
#include "media_type.h"
#include "sample_handler.h"

// The still branch of a device's graph: the capture filter's still pin (PIN_CATEGORY_STILL) ->
// a sample grabber -> a null renderer of its own, built with the graph when the device has such a
// pin. Stills reach the host through a handler of their own (the still callback and takeStill), on
// the still pin's thread: the stream's frames never wait for them, nor they for the stream.
// Made with its device record and reused by every graph of it.
class StillBranch {
public:
    StillBranch() = default;
    StillBranch(const StillBranch&) = delete;
    StillBranch& operator=(const StillBranch&) = delete;

    // Adds the branch to the graph when `capture` has a still pin, and turns the device's own
    // trigger (its button) on where it can be. A device without one, or whose still pin cannot be
    // connected, keeps its graph exactly as it was and has no branch.
    void build(IGraphBuilder* graph, ICaptureGraphBuilder2* builder, IBaseFilter* capture);
    // Takes the handler back from the grabber and lets the branch go; the handler stays.
    void tearDown();
    bool present() const { return grabber_ != nullptr; }
    IPin* pin() const { return stillPin_.Get(); }
    // The branch's renderer, as the graph names it in its events (an identity, never called).
    LONG_PTR renderer() const { return reinterpret_cast<LONG_PTR>(nullRenderer_.Get()); }

    // The still pin's capabilities, as getFormats lists the stream's; E_PROP_ID_UNSUPPORTED without a branch.
    int32_t formats(FormatInfo* formats, int32_t capacity);
    // The media type of a still capability: E_INVALIDARG for one outside the list, E_PROP_ID_UNSUPPORTED without a branch.
    HRESULT capabilityType(int32_t capability, media_type::Ptr& type);
    // With the graph stopped: the branch taken apart, `type` set on the still pin and the branch
    // connected again; the previous format is put back when the new one does not connect.
    HRESULT changeFormat(const AM_MEDIA_TYPE& type);
    // Triggers the still pin and waits for its still: grabFrame's results; E_PROP_ID_UNSUPPORTED
    // without a branch. A still too large for the buffer stays for the next call, which takes it
    // without triggering again. A device without a software trigger is waited on for its next still.
    HRESULT take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs);
    // Any thread: waits for a still not yet read, without triggering; E_PROP_ID_UNSUPPORTED when
    // the device's last graph had no branch.
    HRESULT grab(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs);

    SampleHandler& handler() { return handler_; }
    // How the branch's stills are laid out now (zeros without a branch).
    media_type::FrameLayout layout();

private:
    void buildBranch(IGraphBuilder* graph, ICaptureGraphBuilder2* builder, IBaseFilter* capture);
    HRESULT connectWith(const AM_MEDIA_TYPE* format);
    void disconnect();
    HRESULT trigger();

    // Stills have no plain callback.
    std::atomic<FrameArrivedCallback> noPlainCallback_{nullptr};
    SampleHandler handler_{noPlainCallback_};
    Microsoft::WRL::ComPtr<IGraphBuilder> graph_;
    Microsoft::WRL::ComPtr<IPin> stillPin_;
    Microsoft::WRL::ComPtr<IAMStreamConfig> config_;
    Microsoft::WRL::ComPtr<IAMVideoControl> control_;
    bool canTrigger_ = false;
    Microsoft::WRL::ComPtr<IBaseFilter> grabberFilter_;
    Microsoft::WRL::ComPtr<ISampleGrabber> grabber_;
    Microsoft::WRL::ComPtr<IBaseFilter> nullRenderer_;
    // The last take left a still too large for its buffer.
    bool retryPending_ = false;
    // Whether the last build made a branch; kept through a teardown, for takers on other threads.
    std::atomic<bool> available_{false};
};
