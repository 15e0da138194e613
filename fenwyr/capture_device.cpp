#include "capture_device.h"

#include <iostream>
#include <utility>

#include "com_ref.h"
#include "device_events.h"
#include "frame_sink.h"
#include "host_callback_thread.h"
#include "media_type.h"
#include "running_object_table.h"
#include "sent_message_wait.h"

using Microsoft::WRL::ComPtr;

namespace {

// Prints the step's line when it failed; true means "stop here".
bool failed(HRESULT hr, const char* message) {
    if (SUCCEEDED(hr))
        return false;
    std::cout << message << std::endl;
    return true;
}

// How often the event thread drains the queue and samples the drop count.
constexpr DWORD kEventPassMs = 250;

// Any video subtype, as long as it comes with a VIDEOINFOHEADER.
AM_MEDIA_TYPE grabberMediaType() {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = GUID_NULL;
    type.formattype = FORMAT_VideoInfo;
    return type;
}

// A record inside an open, close, start, stop or format change. Those calls may wait and handle
// the host's sent messages meanwhile; a message handler must not nest another of them on the
// same record, which would rebuild or release what the outer call is still using.
class Busy {
public:
    explicit Busy(bool& flag) : flag_(flag) { flag_ = true; }
    ~Busy() { flag_ = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    bool& flag_;
};

}  // namespace

CaptureDevice::CaptureDevice(ComPtr<IMoniker> deviceMoniker, DeviceIdentityText deviceIdentity, int32_t deviceIndex)
    : moniker(std::move(deviceMoniker)), identity(std::move(deviceIdentity)), index(deviceIndex) {}

bool CaptureDevice::open() {
    if (insideHostCallback() || busy_)
        return false;
    const Busy busy(busy_);
    // A device never has two graphs, event threads or registrations.
    tearDown(true);
    if (!build())
        return false;
    running = true;
    wakeEventThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wakeEventThread)
        eventThread = CreateThread(nullptr, 0, eventLoop, this, 0, nullptr);
    // Without its event thread the device would never report loss, failure or drops.
    if (!eventThread) {
        tearDown(true);
        return false;
    }
    built = true;
    state = FENWYR_STATE_STOPPED;
    return true;
}

// On failure everything obtained so far stays in its field until the next close or open.
bool CaptureDevice::build() {
    if (failed(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder, &graph),
               "Error creating filtergraph"))
        return false;
    if (failed(graph->QueryInterface(IID_IMediaControl, &mediaControl), "Error creating the MediaControl"))
        return false;
    if (failed(graph->QueryInterface(IID_IMediaEventEx, &mediaEvent), "Error creating media event control"))
        return false;
    if (failed(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                                &captureBuilder),
               "Error creating capture graph builder"))
        return false;
    if (failed(captureBuilder->SetFiltergraph(graph.Get()), "Error adding capture graph builder to filter graph"))
        return false;
    // After uninit the moniker is gone; binding nothing fails like a failed bind.
    const HRESULT bound = moniker ? moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, &captureFilter) : E_POINTER;
    if (failed(bound, "Error binding moniker to IBaseFilter"))
        return false;
    if (failed(graph->AddFilter(captureFilter.Get(), L"Video Capture"), "Error adding capture filter to graph"))
        return false;
    if (failed(CoCreateInstance(fenwyr::kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                &nullRenderer),
               "Error creating null renderer"))
        return false;
    if (failed(graph->AddFilter(nullRenderer.Get(), L"Null Renderer"), "Error adding null renderer to graph"))
        return false;
    if (failed(CoCreateInstance(fenwyr::kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                &grabberFilter),
               "Error creating grabber base filter"))
        return false;
    if (failed(grabberFilter->QueryInterface(fenwyr::kIidSampleGrabber, &grabber), "Error creating ISampleGrabber"))
        return false;
    const AM_MEDIA_TYPE mediaType = grabberMediaType();
    if (failed(grabber->SetMediaType(&mediaType), "Error setting media type"))
        return false;
    // No buffered copy: nothing reads it, and copying every frame costs a fifth of the
    // throughput and doubles the delay of large frames.
    if (failed(grabber->SetBufferSamples(FALSE), "Error setting buffersamples"))
        return false;
    if (failed(grabber->SetOneShot(FALSE), "Error setting oneshot"))
        return false;
    // 1: call BufferCB with each sample's bytes. From here on a platform thread may call the
    // handler, so the library stays loaded until tearDown takes the handler back.
    modulePin_.hold();
    if (failed(grabber->SetCallback(&sampleHandler_, 1), "Error setting sample grabber callback"))
        return false;
    if (failed(graph->AddFilter(grabberFilter.Get(), L"Sample Grabber"), "Error adding sample grabber"))
        return false;
    outputPin = findOutputPin(grabberFilter.Get());
    HRESULT rendered = E_POINTER;
    if (streamsVideoInfo2()) {
        // The grabber never connects with this format type: frames go to fenwyr's own sink.
        rendered = useFrameSink(true);
        if (SUCCEEDED(rendered))
            rendered = captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter.Get(),
                                                    nullptr, frameSink.Get());
    } else {
        // Not tested: a capture pin left unconnected makes rendering the grabber's output fail below.
        captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter.Get(), nullptr,
                                     grabberFilter.Get());
        if (outputPin)
            rendered = graph->Render(outputPin.Get());
    }
    if (failed(rendered, "Unable to render pin"))
        return false;
    if (failed(addGraphToRot(graph.Get(), &rotRegister), "Error adding graph to remote register"))
        return false;
    // On the filter or its capture pin; a device without one reports no drops.
    captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter.Get(), IID_IAMDroppedFrames,
                                  &droppedFrames);
    return true;
}

bool CaptureDevice::close() {
    if (busy_)
        return false;
    const Busy busy(busy_);
    tearDown(false);
    return true;
}

void CaptureDevice::tearDown(bool keepMoniker) {
    built = false;
    // The host's callback must finish before the graph can stop; it may be waiting for this thread.
    sampleHandler_.closeDelivery();
    sampleHandler_.mailbox().setRunning(false);
    if (mediaControl)
        mediaControl->StopWhenReady();
    // The event thread uses mediaEvent: end it before anything is released. It never runs host
    // code, so the wait is short.
    running = false;
    const HANDLE thread = std::exchange(eventThread, nullptr);
    const HANDLE wake = std::exchange(wakeEventThread, nullptr);
    if (wake)
        SetEvent(wake);
    if (thread) {
        waitForEventDispatchingSentMessages(thread, INFINITE);
        CloseHandle(thread);
    }
    if (wake)
        CloseHandle(wake);
    revokeFromRot(std::exchange(rotRegister, 0));

    // Platform threads may release the grabber after this returns, even after the library is
    // unloaded: it must no longer hold the handler by then.
    if (grabber)
        grabber->SetCallback(nullptr, 1);
    if (frameSink)
        frame_sink::setCallback(frameSink.Get(), nullptr);
    frameSink.Reset();
    grabber.Reset();
    grabberFilter.Reset();
    nullRenderer.Reset();
    captureFilter.Reset();
    if (!keepMoniker)
        moniker.Reset();
    graph.Reset();
    captureBuilder.Reset();
    mediaControl.Reset();
    mediaEvent.Reset();
    outputPin.Reset();
    droppedFrames.Reset();
    modulePin_.release();
    // Last: the event thread may have written LOST or FAILED while the graph stopped.
    state = FENWYR_STATE_CLOSED;
}

void CaptureDevice::rebind(ComPtr<IMoniker> deviceMoniker) {
    moniker = std::move(deviceMoniker);
}

HRESULT CaptureDevice::startCapture() {
    if (insideHostCallback() || busy_)
        return VFW_E_WRONG_STATE;
    if (!built)
        return E_POINTER;
    const Busy busy(busy_);
    sampleHandler_.beginRun(connectedLayout());
    sampleHandler_.setDropped(droppedFrames ? 0 : -1);
    sampleHandler_.mailbox().setRunning(true);
    sampleHandler_.openDelivery();
    const HRESULT ran = mediaControl->Run();
    if (FAILED(ran)) {
        sampleHandler_.mailbox().setRunning(false);
        return ran;
    }
    // A lost or failed device stays so until it is opened again.
    int32_t stopped = FENWYR_STATE_STOPPED;
    state.compare_exchange_strong(stopped, FENWYR_STATE_RUNNING);
    return ran;
}

HRESULT CaptureDevice::stopCapture() {
    if (insideHostCallback() || busy_)
        return VFW_E_WRONG_STATE;
    if (!built)
        return E_POINTER;
    const Busy busy(busy_);
    const bool wasRunning = state == FENWYR_STATE_RUNNING;
    const bool wasDelivering = sampleHandler_.deliveryOpen();
    sampleHandler_.closeDelivery();
    // A host thread waiting in grabFrame learns at once that no frame will come.
    sampleHandler_.mailbox().setRunning(false);
    const HRESULT stopped = mediaControl->StopWhenReady();
    // A graph that would not stop keeps delivering, as before the call.
    if (FAILED(stopped)) {
        if (wasRunning)
            sampleHandler_.mailbox().setRunning(true);
        if (wasDelivering)
            sampleHandler_.openDelivery();
        return stopped;
    }
    // A lost or failed device stays so until it is opened again.
    int32_t running = FENWYR_STATE_RUNNING;
    state.compare_exchange_strong(running, FENWYR_STATE_STOPPED);
    return stopped;
}

media_type::FrameLayout CaptureDevice::connectedLayout() {
    AM_MEDIA_TYPE type{};
    media_type::FrameLayout layout;
    const ComPtr<IPin> delivering = frameSink ? findInputPin(frameSink.Get()) : outputPin;
    if (delivering && SUCCEEDED(delivering->ConnectionMediaType(&type))) {
        layout = media_type::layoutOf(type);
        media_type::freeContents(type);
    }
    return layout;
}

namespace {

// The filter a pin belongs to, or null.
ComPtr<IBaseFilter> filterOf(IPin* pin) {
    PIN_INFO info{};
    return SUCCEEDED(pin->QueryPinInfo(&info)) ? adoptReference(info.pFilter) : nullptr;
}

}  // namespace

CaptureDevice::PinChain CaptureDevice::captureChain() {
    PinChain chain;
    ComPtr<IPin> out = findOutputPin(captureFilter.Get(), true);
    while (out) {
        ComPtr<IPin> in;
        if (FAILED(out->ConnectedTo(&in)))
            break;
        chain.emplace_back(out, in);
        const ComPtr<IBaseFilter> next = filterOf(in.Get());
        if (!next || next.Get() == nullRenderer.Get())
            break;
        out = findOutputPin(next.Get(), true);
    }
    return chain;
}

namespace {

void disconnect(IGraphBuilder* graph, const CaptureDevice::PinChain& chain) {
    for (const auto& link : chain) {
        graph->Disconnect(link.first.Get());
        graph->Disconnect(link.second.Get());
    }
}

// Connects the chain with `format` on the capture pin's link (so a pin that cannot stream it does
// not quietly fall back to another type). The first failure, with every link taken apart again
// so a later attempt starts clean.
HRESULT reconnect(IGraphBuilder* graph, const CaptureDevice::PinChain& chain,
                  const AM_MEDIA_TYPE* format) {
    for (const auto& link : chain) {
        const AM_MEDIA_TYPE* type = &link == &chain.front() ? format : nullptr;
        const HRESULT connected = graph->ConnectDirect(link.first.Get(), link.second.Get(), type);
        if (FAILED(connected)) {
            disconnect(graph, chain);
            return connected;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT CaptureDevice::changeFormat(IAMStreamConfig* config, AM_MEDIA_TYPE* format) {
    if (insideHostCallback() || busy_)
        return VFW_E_WRONG_STATE;
    if (!built)
        return E_POINTER;
    const Busy busy(busy_);
    const bool wasRunning = state == FENWYR_STATE_RUNNING;
    if (wasRunning) {
        sampleHandler_.closeDelivery();
        const HRESULT stopped = mediaControl->Stop();
        if (FAILED(stopped)) {
            sampleHandler_.openDelivery();
            return stopped;
        }
    }
    // What to go back to when the new format cannot be connected.
    AM_MEDIA_TYPE* current = nullptr;
    const media_type::Ptr previous(SUCCEEDED(config->GetFormat(&current)) ? current : nullptr);
    // A device may apply a format only at its next connection, and its own reconnection may not
    // reach past the first filter: take the whole chain apart and put it together again.
    const PinChain chain = captureChain();
    const ChainToEnd split = splitAtEnd(chain);
    disconnect(graph.Get(), chain);
    const bool sinkBefore = frameSink != nullptr;
    HRESULT result = useFrameSink(media_type::hasVideoInfo2(*format));
    if (SUCCEEDED(result))
        result = config->SetFormat(format);
    HRESULT connected = result;
    if (SUCCEEDED(result)) {
        connected = reconnect(graph.Get(), linksToEnd(split), format);
        result = connected;
    }
    if (FAILED(result)) {
        // The old format through the old end of the chain.
        connected = useFrameSink(sinkBefore);
        if (SUCCEEDED(connected) && previous)
            connected = config->SetFormat(previous.get());
        if (SUCCEEDED(connected))
            connected = reconnect(graph.Get(), linksToEnd(split), previous.get());
    }
    if (FAILED(connected)) {
        // Nothing to run: the device must be opened again.
        built = false;
        state = FENWYR_STATE_FAILED;
        sampleHandler_.mailbox().setRunning(false);
        return FAILED(result) ? result : connected;
    }
    sampleHandler_.setLayout(connectedLayout());
    if (wasRunning) {
        sampleHandler_.openDelivery();
        const HRESULT ran = mediaControl->Run();
        if (FAILED(ran)) {
            state = FENWYR_STATE_STOPPED;
            sampleHandler_.mailbox().setRunning(false);
            return FAILED(result) ? result : ran;
        }
    }
    return result;
}

bool CaptureDevice::streamsVideoInfo2() {
    ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE* current = nullptr;
    if (FAILED(captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, captureFilter.Get(),
                                             IID_IAMStreamConfig, &config)) ||
        FAILED(config->GetFormat(&current)))
        return false;
    const media_type::Ptr format(current);
    return format && media_type::hasVideoInfo2(*format);
}

HRESULT CaptureDevice::useFrameSink(bool sink) {
    if (sink == (frameSink != nullptr))
        return S_OK;
    const auto addGrabberEnd = [this] {
        const HRESULT hr = graph->AddFilter(nullRenderer.Get(), L"Null Renderer");
        return FAILED(hr) ? hr : graph->AddFilter(grabberFilter.Get(), L"Sample Grabber");
    };
    if (!sink) {
        graph->RemoveFilter(frameSink.Get());
        frame_sink::setCallback(frameSink.Get(), nullptr);
        frameSink.Reset();
        return addGrabberEnd();
    }
    ComPtr<IBaseFilter> created = frame_sink::create();
    if (!created)
        return E_OUTOFMEMORY;
    frame_sink::setCallback(created.Get(), &sampleHandler_);
    // Out of the graph, so the null renderer is not waited for at the end of the stream.
    graph->RemoveFilter(grabberFilter.Get());
    graph->RemoveFilter(nullRenderer.Get());
    const HRESULT added = graph->AddFilter(created.Get(), L"Frame Sink");
    if (FAILED(added)) {
        addGrabberEnd();
        return added;
    }
    frameSink = std::move(created);
    return S_OK;
}

CaptureDevice::ChainToEnd CaptureDevice::splitAtEnd(const PinChain& chain) {
    ChainToEnd split;
    for (const auto& link : chain) {
        const ComPtr<IBaseFilter> next = filterOf(link.second.Get());
        if (!next)
            break;
        if (next.Get() == grabberFilter.Get() || (frameSink && next.Get() == frameSink.Get())) {
            split.endOutput = link.first;
            break;
        }
        split.upstream.push_back(link);
    }
    return split;
}

CaptureDevice::PinChain CaptureDevice::linksToEnd(const ChainToEnd& split) {
    PinChain links = split.upstream;
    if (!split.endOutput)
        return links;
    // The end of the chain: the sink, or the grabber and its null renderer.
    if (frameSink) {
        links.emplace_back(split.endOutput, findInputPin(frameSink.Get()));
    } else {
        links.emplace_back(split.endOutput, findInputPin(grabberFilter.Get()));
        links.emplace_back(outputPin, findInputPin(nullRenderer.Get()));
    }
    return links;
}

void CaptureDevice::setFrameCallbackEx(FrameCallbackEx callback, void* userData) {
    sampleHandler_.callbackEx().set(callback, userData);
}

HRESULT CaptureDevice::grabFrame(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    // The frame it would wait for comes only after this device's callback returns.
    if (sampleHandler_.deliveringOnThisThread())
        return VFW_E_WRONG_STATE;
    return sampleHandler_.mailbox().take(buffer, capacity, info, timeoutMs);
}

// Hands the graph's events to the host as they come, keeps the queue from growing and samples
// the device's drop count.
DWORD WINAPI CaptureDevice::eventLoop(void* parameter) {
    auto* device = static_cast<CaptureDevice*>(parameter);
    HANDLE wake[2] = {device->wakeEventThread, nullptr};
    OAEVENT queued = 0;
    if (SUCCEEDED(device->mediaEvent->GetEventHandle(&queued)))
        wake[1] = reinterpret_cast<HANDLE>(queued);
    const DWORD handles = wake[1] ? 2 : 1;
    while (device->running) {
        long code = 0;
        LONG_PTR first = 0;
        LONG_PTR second = 0;
        while (device->running && SUCCEEDED(device->mediaEvent->GetEvent(&code, &first, &second, 0))) {
            device->onGraphEvent(code, first, second);
            device->mediaEvent->FreeEventParams(code, first, second);
        }
        // Read here, not on the streaming thread, so a driver that locks around its counters
        // cannot hold up frames.
        long dropped = 0;
        if (device->droppedFrames && SUCCEEDED(device->droppedFrames->GetNumDropped(&dropped)))
            device->sampleHandler_.setDropped(dropped);
        // Woken by a queued event, by close, or to sample the drop count again.
        if (WaitForMultipleObjects(handles, wake, FALSE, kEventPassMs) == WAIT_FAILED)
            Sleep(kEventPassMs);
    }
    return 0;
}

void CaptureDevice::onGraphEvent(long code, LONG_PTR first, LONG_PTR second) {
    switch (code) {
    case EC_DEVICE_LOST:
        // 0: the device was removed; 1: it is back, and can be opened again.
        if (second == 0) {
            state = FENWYR_STATE_LOST;
            sampleHandler_.mailbox().setRunning(false);
            device_events::report(index, FENWYR_DEVICE_LOST, 0);
        } else {
            device_events::report(index, FENWYR_DEVICE_RETURNED, 0);
        }
        break;
    case EC_ERRORABORT:
    case EC_STREAM_ERROR_STOPPED:
        state = FENWYR_STATE_FAILED;
        sampleHandler_.mailbox().setRunning(false);
        device_events::report(index, FENWYR_DEVICE_ERROR, static_cast<int32_t>(first));
        break;
    case EC_COMPLETE:
        device_events::report(index, FENWYR_STREAM_COMPLETE, 0);
        break;
    default:
        break;
    }
}

namespace {

ComPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION wanted, bool connectedOnly) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(&pins)))
        return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (FAILED(pin->QueryDirection(&direction)) || direction != wanted)
            continue;
        ComPtr<IPin> peer;
        if (!connectedOnly || SUCCEEDED(pin->ConnectedTo(&peer)))
            return pin;
    }
    return nullptr;
}

}  // namespace

ComPtr<IPin> findOutputPin(IBaseFilter* filter, bool connectedOnly) {
    return findPin(filter, PINDIR_OUTPUT, connectedOnly);
}

ComPtr<IPin> findInputPin(IBaseFilter* filter) {
    return findPin(filter, PINDIR_INPUT, false);
}
