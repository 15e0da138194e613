#include "still_branch.h"

#include <initializer_list>

#include "capture_device.h"
#include "formats.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kGrabberName[] = L"Still Sample Grabber";
constexpr wchar_t kRendererName[] = L"Still Null Renderer";

}  // namespace

void StillBranch::build(IGraphBuilder* graph, ICaptureGraphBuilder2* builder, IBaseFilter* capture) {
    tearDown();
    buildBranch(graph, builder, capture);
    available_ = present();
}

void StillBranch::buildBranch(IGraphBuilder* graph, ICaptureGraphBuilder2* builder, IBaseFilter* capture) {
    ComPtr<IPin> pin;
    if (FAILED(builder->FindPin(capture, PINDIR_OUTPUT, &PIN_CATEGORY_STILL, &MEDIATYPE_Video, FALSE, 0, &pin)) ||
        !pin)
        return;
    ComPtr<IBaseFilter> grabberFilter;
    ComPtr<ISampleGrabber> grabber;
    ComPtr<IBaseFilter> nullRenderer;
    const AM_MEDIA_TYPE anyVideo = media_type::anyVideoInfo();
    if (FAILED(CoCreateInstance(fenwyr::kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                &grabberFilter)) ||
        FAILED(grabberFilter->QueryInterface(fenwyr::kIidSampleGrabber, &grabber)) ||
        FAILED(CoCreateInstance(fenwyr::kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                &nullRenderer)) ||
        FAILED(grabber->SetMediaType(&anyVideo)) || FAILED(grabber->SetBufferSamples(FALSE)) ||
        FAILED(grabber->SetOneShot(FALSE)))
        return;
    graph_ = graph;
    stillPin_ = pin;
    grabberFilter_ = grabberFilter;
    nullRenderer_ = nullRenderer;
    // From here on the still pin's thread may call the handler (the device holds the library).
    HRESULT hr = grabber->SetCallback(&handler_, 1);
    grabber_ = grabber;
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(nullRenderer.Get(), kRendererName);
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(grabberFilter.Get(), kGrabberName);
    // Directly, in the pin's own type: a still arrives as the device made it.
    if (SUCCEEDED(hr))
        hr = connectWith(nullptr);
    if (FAILED(hr)) {
        graph->RemoveFilter(grabberFilter.Get());
        graph->RemoveFilter(nullRenderer.Get());
        tearDown();
        return;
    }
    stillPin_.As(&config_);
    if (SUCCEEDED(capture->QueryInterface(IID_IAMVideoControl, &control_))) {
        LONG caps = 0;
        LONG mode = 0;
        if (SUCCEEDED(control_->GetCaps(stillPin_.Get(), &caps)) && SUCCEEDED(control_->GetMode(stillPin_.Get(), &mode))) {
            canTrigger_ = (caps & VideoControlFlag_Trigger) != 0;
            // Every still reaches the host, the button's too.
            if ((caps & VideoControlFlag_ExternalTriggerEnable) && !(mode & VideoControlFlag_ExternalTriggerEnable))
                control_->SetMode(stillPin_.Get(), mode | VideoControlFlag_ExternalTriggerEnable);
        }
    }
}

void StillBranch::tearDown() {
    // Platform threads may release the grabber later: it must no longer hold the handler then.
    if (grabber_)
        grabber_->SetCallback(nullptr, 1);
    grabber_.Reset();
    grabberFilter_.Reset();
    nullRenderer_.Reset();
    control_.Reset();
    config_.Reset();
    stillPin_.Reset();
    graph_.Reset();
    canTrigger_ = false;
    retryPending_ = false;
}

int32_t StillBranch::formats(FormatInfo* formats, int32_t capacity) {
    if (!present())
        return E_PROP_ID_UNSUPPORTED;
    return config_ ? formats::listFormats(config_.Get(), formats, capacity) : 0;
}

HRESULT StillBranch::connectWith(const AM_MEDIA_TYPE* format) {
    HRESULT hr = format && config_ ? config_->SetFormat(const_cast<AM_MEDIA_TYPE*>(format)) : S_OK;
    // The pin's own type of what was set, as the stream's format change connects with.
    media_type::Ptr own;
    AM_MEDIA_TYPE* obtained = nullptr;
    if (SUCCEEDED(hr) && format && SUCCEEDED(config_->GetFormat(&obtained)))
        own.reset(obtained);
    if (SUCCEEDED(hr))
        hr = graph_->ConnectDirect(stillPin_.Get(), findInputPin(grabberFilter_.Get()).Get(), own ? own.get() : format);
    if (SUCCEEDED(hr))
        hr = graph_->ConnectDirect(findOutputPin(grabberFilter_.Get()).Get(), findInputPin(nullRenderer_.Get()).Get(),
                                   nullptr);
    if (FAILED(hr))
        disconnect();
    return hr;
}

void StillBranch::disconnect() {
    const ComPtr<IPin> grabberIn = findInputPin(grabberFilter_.Get());
    const ComPtr<IPin> grabberOut = findOutputPin(grabberFilter_.Get());
    const ComPtr<IPin> rendererIn = findInputPin(nullRenderer_.Get());
    for (IPin* pin : {stillPin_.Get(), grabberIn.Get(), grabberOut.Get(), rendererIn.Get()})
        if (pin)
            graph_->Disconnect(pin);
}

HRESULT StillBranch::capabilityType(int32_t capability, media_type::Ptr& type) {
    if (!present())
        return E_PROP_ID_UNSUPPORTED;
    if (!config_)
        return E_INVALIDARG;
    return formats::capabilityType(config_.Get(), capability, type);
}

HRESULT StillBranch::changeFormat(const AM_MEDIA_TYPE& type) {
    if (!present() || !config_)
        return E_PROP_ID_UNSUPPORTED;
    AM_MEDIA_TYPE* current = nullptr;
    const media_type::Ptr previous(SUCCEEDED(config_->GetFormat(&current)) ? current : nullptr);
    disconnect();
    const HRESULT hr = connectWith(&type);
    if (FAILED(hr) && FAILED(connectWith(previous.get()))) {
        // Nothing connects any more: the device goes on without stills until it is opened again.
        graph_->RemoveFilter(grabberFilter_.Get());
        graph_->RemoveFilter(nullRenderer_.Get());
        tearDown();
    }
    return hr;
}

HRESULT StillBranch::trigger() {
    if (!control_ || !canTrigger_)
        return S_OK;
    LONG mode = 0;
    HRESULT hr = control_->GetMode(stillPin_.Get(), &mode);
    if (SUCCEEDED(hr))
        hr = control_->SetMode(stillPin_.Get(), mode | VideoControlFlag_Trigger);
    return hr;
}

HRESULT StillBranch::take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    if (!present())
        return E_PROP_ID_UNSUPPORTED;
    // A still left for this call by the last one is taken as it is, unless another taker got it.
    if (!retryPending_ || !handler_.mailbox().hasUnread()) {
        // Only a still that this call asked for.
        handler_.mailbox().discardUnread();
        const HRESULT triggered = trigger();
        if (FAILED(triggered))
            return triggered;
    }
    const HRESULT taken = handler_.mailbox().take(buffer, capacity, info, timeoutMs);
    retryPending_ = taken == HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return taken;
}

HRESULT StillBranch::grab(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    if (!available_)
        return E_PROP_ID_UNSUPPORTED;
    // The still it would wait for comes only after the still callback on this thread returns.
    if (handler_.deliveringOnThisThread())
        return VFW_E_WRONG_STATE;
    return handler_.mailbox().take(buffer, capacity, info, timeoutMs);
}

media_type::FrameLayout StillBranch::layout() {
    AM_MEDIA_TYPE type{};
    media_type::FrameLayout layout;
    if (stillPin_ && SUCCEEDED(stillPin_->ConnectionMediaType(&type))) {
        layout = media_type::layoutOf(type);
        media_type::freeContents(type);
    }
    return layout;
}
