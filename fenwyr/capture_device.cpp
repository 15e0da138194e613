#include "capture_device.h"

#include <iostream>
#include <utility>

#include "com_ref.h"
#include "device_events.h"
#include "device_table.h"
#include "frame_sink.h"
#include "host_callback_thread.h"
#include "media_type.h"
#include "running_object_table.h"
#include "sent_message_wait.h"
#include "supervision.h"

using Microsoft::WRL::ComPtr;

namespace {

// How often the event thread drains the queue and samples the drop count; a supervised device
// is watched for stalls more often.
constexpr DWORD kEventPassMs = 250;
constexpr DWORD kSupervisedPassMs = 100;

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
    if (insideHostCallback() || busy_ || device_table::uninitRunning())
        return false;
    const Busy busy(busy_);
    supervision::cancel(index);
    // A device never has two graphs, event threads or registrations.
    tearDown(Teardown::reopen);
    opened = false;
    wantsRunning = false;
    // A new graph says again whether the device is there.
    absent = false;
    streamError = S_OK;
    choices = HostChoices{};
    watch.restart();
    sampleHandler_.resetCounters();
    printFailures_ = true;
    if (!build())
        return false;
    if (!startEventThread()) {
        tearDown(Teardown::reopen);
        return false;
    }
    opened = true;
    return true;
}

HRESULT CaptureDevice::rebuild() {
    if (insideHostCallback() || busy_ || device_table::uninitRunning())
        return VFW_E_WRONG_STATE;
    const Busy busy(busy_);
    tearDown(Teardown::recover);
    printFailures_ = false;
    buildFailure_ = S_OK;
    bool builtNow = build();
    if (!builtNow && !captureFilter) {
        // The moniker no longer binds (a driver reinstalled, a port changed): the device as
        // enumerated now, found by its path.
        ComPtr<IMoniker> again = device_table::monikerOf(identity);
        if (!again)
            return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        tearDown(Teardown::recover);
        moniker = std::move(again);
        builtNow = build();
    }
    if (!builtNow || !startEventThread()) {
        const HRESULT failure = FAILED(buildFailure_) ? buildFailure_ : E_FAIL;
        tearDown(Teardown::recover);
        return failure;
    }
    return S_OK;
}

bool CaptureDevice::startEventThread() {
    running = true;
    wakeEventThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wakeEventThread)
        eventThread = CreateThread(nullptr, 0, eventLoop, this, 0, nullptr);
    // Without its event thread the device would never report loss, failure or drops.
    if (!eventThread) {
        buildFailure_ = HRESULT_FROM_WIN32(GetLastError());
        return false;
    }
    built = true;
    state = FENWYR_STATE_STOPPED;
    return true;
}

bool CaptureDevice::failed(HRESULT hr, const char* message) {
    if (SUCCEEDED(hr))
        return false;
    buildFailure_ = hr;
    if (printFailures_)
        std::cout << message << std::endl;
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
    const AM_MEDIA_TYPE mediaType = media_type::anyVideoInfo();
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
    // Beside the stream, when the device has a still pin; the graph stays as it is otherwise.
    stills_.build(graph.Get(), captureBuilder.Get(), captureFilter.Get());
    // The graph would report the end only once every renderer saw it, the still branch's too,
    // which never does: each renderer's end comes on its own instead, and the stream's counts.
    stillRenderer_ = stills_.present() && SUCCEEDED(mediaEvent->CancelDefaultHandling(EC_COMPLETE))
                         ? stills_.renderer()
                         : 0;
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
    supervision::cancel(index);
    opened = false;
    wantsRunning = false;
    tearDown(Teardown::close);
    return true;
}

void CaptureDevice::tearDown(Teardown how) {
    built = false;
    // The host's callbacks must finish before the graph can stop; they may be waiting for this thread.
    closeDeliveries();
    // A host waiting in grabFrame or takeStill goes on waiting through a recovery.
    if (how != Teardown::recover)
        setMailboxesRunning(false);
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
    stills_.tearDown();
    if (frameSink)
        frame_sink::setCallback(frameSink.Get(), nullptr);
    frameSink.Reset();
    grabber.Reset();
    grabberFilter.Reset();
    nullRenderer.Reset();
    captureFilter.Reset();
    if (how == Teardown::close)
        moniker.Reset();
    graph.Reset();
    captureBuilder.Reset();
    mediaControl.Reset();
    mediaEvent.Reset();
    outputPin.Reset();
    droppedFrames.Reset();
    modulePin_.release();
    // Last: the event thread may have written LOST or FAILED while the graph stopped. A recovery
    // keeps the state it started from until the new graph runs.
    if (how != Teardown::recover)
        state = FENWYR_STATE_CLOSED;
}

void CaptureDevice::rebind(ComPtr<IMoniker> deviceMoniker) {
    moniker = std::move(deviceMoniker);
}

HRESULT CaptureDevice::startCapture() {
    return run(true);
}

HRESULT CaptureDevice::resume() {
    return run(false);
}

HRESULT CaptureDevice::run(bool newSequence) {
    if (insideHostCallback() || busy_ || device_table::uninitRunning())
        return VFW_E_WRONG_STATE;
    if (!built)
        return E_POINTER;
    const Busy busy(busy_);
    if (newSequence)
        sampleHandler_.beginRun(connectedLayout());
    else
        sampleHandler_.setLayout(connectedLayout());
    sampleHandler_.setDropped(droppedFrames ? 0 : -1);
    if (newSequence)
        stills_.handler().beginRun(stills_.layout());
    else
        stills_.handler().setLayout(stills_.layout());
    stills_.handler().setDropped(-1);
    setMailboxesRunning(true);
    openDeliveries();
    watch.runStarted(sampleHandler_.counters().frames);
    const HRESULT ran = runGraph();
    if (FAILED(ran)) {
        setMailboxesRunning(false);
        return ran;
    }
    settleState(FENWYR_STATE_RUNNING);
    wantsRunning = true;
    return ran;
}

HRESULT CaptureDevice::stopCapture() {
    if (insideHostCallback() || busy_)
        return VFW_E_WRONG_STATE;
    // A device whose recovery failed has no graph, but the host may still end its attempts.
    const bool wanted = wantsRunning.exchange(false);
    supervision::cancel(index);
    // A recovery's first frame is no longer awaited: a later start is no recovery.
    watch.awaitingFrame = false;
    if (!built) {
        if (!wanted)
            return E_POINTER;
        // Nothing runs, and without a graph nothing can until it is opened or recovered again.
        setMailboxesRunning(false);
        state = FENWYR_STATE_FAILED;
        return S_OK;
    }
    const Busy busy(busy_);
    const bool wasRunning = streaming();
    const bool wasDelivering = sampleHandler_.deliveryOpen();
    closeDeliveries();
    // A host thread waiting in grabFrame or takeStill learns at once that nothing will come.
    setMailboxesRunning(false);
    const HRESULT stopped = mediaControl->StopWhenReady();
    // A graph that would not stop keeps delivering, as before the call.
    if (FAILED(stopped)) {
        wantsRunning = wanted;
        if (wasRunning)
            setMailboxesRunning(true);
        if (wasDelivering)
            openDeliveries();
        return stopped;
    }
    settleState(FENWYR_STATE_STOPPED);
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
    // The capture pin's chain, not the still pin's.
    ComPtr<IPin> out = findOutputPin(captureFilter.Get(), true, stills_.pin());
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
    bool wasRunning = false;
    const HRESULT stopped = stopForChange(wasRunning);
    if (FAILED(stopped))
        return stopped;
    // What to go back to when the new format cannot be connected or run.
    AM_MEDIA_TYPE* current = nullptr;
    const media_type::Ptr previous(SUCCEEDED(config->GetFormat(&current)) ? current : nullptr);
    // A device may apply a format only at its next connection, and its own reconnection may not
    // reach past the first filter: take the whole chain apart and put it together again.
    const PinChain chain = captureChain();
    const ChainToEnd split = splitAtEnd(chain);
    disconnect(graph.Get(), chain);
    const bool sinkBefore = frameSink != nullptr;
    HRESULT result = connectFormat(config, split, media_type::hasVideoInfo2(*format), format);
    if (SUCCEEDED(result)) {
        sampleHandler_.setLayout(connectedLayout());
        if (!wasRunning)
            return result;
        openDeliveries();
        const HRESULT ran = runGraph();
        if (SUCCEEDED(ran))
            return result;
        result = ran;
        // Connected but cannot stream (a USB device short of bandwidth): back to the old format.
        closeDeliveries();
        disconnect(graph.Get(), linksToEnd(split));
    }
    if (FAILED(connectFormat(config, split, sinkBefore, previous.get()))) {
        // Nothing to run: the device must be opened again.
        built = false;
        settleState(FENWYR_STATE_FAILED);
        setMailboxesRunning(false);
        return result;
    }
    sampleHandler_.setLayout(connectedLayout());
    if (wasRunning)
        resumeAfterChange();
    return result;
}

HRESULT CaptureDevice::stopForChange(bool& wasRunning) {
    wasRunning = streaming();
    if (!wasRunning)
        return S_OK;
    closeDeliveries();
    const HRESULT stopped = mediaControl->Stop();
    if (FAILED(stopped))
        openDeliveries();
    return stopped;
}

void CaptureDevice::resumeAfterChange() {
    openDeliveries();
    if (FAILED(runGraph())) {
        settleState(FENWYR_STATE_STOPPED);
        setMailboxesRunning(false);
    }
}

void CaptureDevice::closeDeliveries() {
    sampleHandler_.closeDelivery();
    stills_.handler().closeDelivery();
}

void CaptureDevice::openDeliveries() {
    sampleHandler_.openDelivery();
    stills_.handler().openDelivery();
}

void CaptureDevice::setMailboxesRunning(bool running) {
    sampleHandler_.mailbox().setRunning(running);
    stills_.handler().mailbox().setRunning(running);
}

int32_t CaptureDevice::stillFormats(FormatInfo* formats, int32_t capacity) {
    if (!built)
        return E_POINTER;
    return stills_.formats(formats, capacity);
}

HRESULT CaptureDevice::changeStillFormat(int32_t capability) {
    if (insideHostCallback() || busy_)
        return VFW_E_WRONG_STATE;
    if (!built)
        return E_POINTER;
    media_type::Ptr type;
    const HRESULT known = stills_.capabilityType(capability, type);
    if (FAILED(known))
        return known;
    const Busy busy(busy_);
    // The still pin takes a new format only while the graph is stopped.
    bool wasRunning = false;
    const HRESULT stopped = stopForChange(wasRunning);
    if (FAILED(stopped))
        return stopped;
    const HRESULT changed = stills_.changeFormat(*type);
    stills_.handler().setLayout(stills_.layout());
    if (SUCCEEDED(changed))
        choices.stillCapability = capability;
    if (wasRunning)
        resumeAfterChange();
    return changed;
}

HRESULT CaptureDevice::takeStill(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    // It triggers the device and waits, which a callback or a nested call must not.
    if (insideHostCallback() || busy_)
        return VFW_E_WRONG_STATE;
    if (!built)
        return E_POINTER;
    return stills_.take(buffer, capacity, info, timeoutMs);
}

HRESULT CaptureDevice::setStillCallback(FrameCallbackEx callback, void* userData) {
    // Taking one back is always possible: a host may set it before it knows the device.
    if (callback && built && !stills_.present())
        return E_PROP_ID_UNSUPPORTED;
    stills_.handler().callbackEx().set(callback, userData);
    return S_OK;
}

HRESULT CaptureDevice::connectFormat(IAMStreamConfig* config, const ChainToEnd& split, bool sink,
                                     AM_MEDIA_TYPE* format) {
    HRESULT hr = useFrameSink(sink);
    if (SUCCEEDED(hr) && format)
        hr = config->SetFormat(format);
    if (FAILED(hr))
        return hr;
    // The pin's own type of what was set: a pin that compares a proposed connection type with its
    // own byte for byte (as the platform's base classes do) refuses any other copy of it.
    media_type::Ptr own;
    AM_MEDIA_TYPE* obtained = nullptr;
    if (format && SUCCEEDED(config->GetFormat(&obtained)))
        own.reset(obtained);
    if (own && !media_type::sameStream(*own, *format))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return reconnect(graph.Get(), linksToEnd(split), own ? own.get() : format);
}

HRESULT CaptureDevice::runGraph() {
    const HRESULT ran = mediaControl->Run();
    FILTER_STATE filterState = State_Running;
    if (SUCCEEDED(ran) && (FAILED(captureFilter->GetState(0, &filterState)) || filterState == State_Running))
        return ran;
    // Wine's graph reports a capture filter's failed Pause only at the next Stop; Windows from Run.
    const HRESULT stopped = mediaControl->Stop();
    if (FAILED(ran))
        return ran;
    return FAILED(stopped) ? stopped : E_FAIL;
}

void CaptureDevice::settleState(int32_t settled) {
    // A lost or failed device stays so until it is opened again (or recovered).
    for (int32_t was : {int32_t(FENWYR_STATE_STOPPED), int32_t(FENWYR_STATE_RUNNING), int32_t(FENWYR_STATE_STALLED)})
        if (state.compare_exchange_strong(was, settled))
            return;
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
        supervision::watchStream(*device);
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
        const DWORD passMs = device->watch.stallMs > 0 ? kSupervisedPassMs : kEventPassMs;
        if (WaitForMultipleObjects(handles, wake, FALSE, passMs) == WAIT_FAILED)
            Sleep(passMs);
    }
    return 0;
}

void CaptureDevice::onGraphEvent(long code, LONG_PTR first, LONG_PTR second) {
    switch (code) {
    case EC_DEVICE_LOST:
        // 0: the device was removed; 1: it is back, and can be opened again.
        if (second == 0) {
            absent = true;
            state = FENWYR_STATE_LOST;
            if (!supervision::recovers(*this))
                setMailboxesRunning(false);
            device_events::report(index, FENWYR_DEVICE_LOST, 0);
        } else {
            absent = false;
            device_events::report(index, FENWYR_DEVICE_RETURNED, 0);
            supervision::requestRecovery(*this);
        }
        break;
    case EC_ERRORABORT:
    case EC_STREAM_ERROR_STOPPED:
        // Before the state, so that a host that sees it failed reads the reason.
        streamError = FAILED(static_cast<HRESULT>(first)) ? static_cast<int32_t>(first) : int32_t(E_FAIL);
        state = FENWYR_STATE_FAILED;
        if (!supervision::recovers(*this))
            setMailboxesRunning(false);
        device_events::report(index, FENWYR_DEVICE_ERROR, static_cast<int32_t>(first));
        supervision::requestRecovery(*this);
        break;
    case EC_COMPLETE:
        if (stillRenderer_ && second == stillRenderer_)
            break;
        device_events::report(index, FENWYR_STREAM_COMPLETE, 0);
        break;
    default:
        break;
    }
}

namespace {

ComPtr<IPin> findPin(IBaseFilter* filter, PIN_DIRECTION wanted, bool connectedOnly, IPin* except = nullptr) {
    ComPtr<IEnumPins> pins;
    if (!filter || FAILED(filter->EnumPins(&pins)))
        return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (FAILED(pin->QueryDirection(&direction)) || direction != wanted || (except && pin.Get() == except))
            continue;
        ComPtr<IPin> peer;
        if (!connectedOnly || SUCCEEDED(pin->ConnectedTo(&peer)))
            return pin;
    }
    return nullptr;
}

}  // namespace

ComPtr<IPin> findOutputPin(IBaseFilter* filter, bool connectedOnly, IPin* except) {
    return findPin(filter, PINDIR_OUTPUT, connectedOnly, except);
}

ComPtr<IPin> findInputPin(IBaseFilter* filter) {
    return findPin(filter, PINDIR_INPUT, false);
}
