#include "capture_filter.h"

#include <cwchar>
#include <new>
#include <vector>

#include "enum_pins.h"
#include "guids.h"

using Microsoft::WRL::ComPtr;

namespace {
constexpr wchar_t kPinName[] = L"Capture";
}

HRESULT CaptureFilter::create(REFIID iid, void** object) {
    CaptureFilter* filter = nullptr;
    try {
        filter = new CaptureFilter();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = filter->QueryInterface(iid, object);
    filter->Release();
    return hr;
}

CaptureFilter::CaptureFilter()
    : DroppedFramesReport(counters_), VideoProcAmp(controls_), CameraControl(controls_), Crossbar(card_),
      AnalogDecoder(card_, presence_), pin_(*this) {}

CaptureFilter::~CaptureFilter() {
    // The graph stops its filters before letting them go; this covers a filter used alone.
    if (pump_) {
        pump_->requestExit();
        if (pin_.allocator())
            pin_.allocator()->Decommit();
        pump_.reset();
    }
}

STDMETHODIMP CaptureFilter::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter || iid == IID_IBaseFilter)
        *object = static_cast<IBaseFilter*>(this);
    else if (iid == IID_IPersistPropertyBag)
        *object = static_cast<IPersistPropertyBag*>(this);
    else if (iid == IID_IAMFilterMiscFlags)
        *object = static_cast<IAMFilterMiscFlags*>(this);
    else if (iid == IID_ISpecifyPropertyPages && !config_.noPropertyPages)
        *object = static_cast<ISpecifyPropertyPages*>(this);
    else if (iid == IID_IVirtualCameraInfo)
        *object = static_cast<IVirtualCameraInfo*>(this);
    else if (iid == IID_IAMDroppedFrames)
        *object = static_cast<IAMDroppedFrames*>(this);
    else if (iid == IID_IAMVideoProcAmp && controls_.offers(ControlFamily::VideoProcAmp))
        *object = static_cast<IAMVideoProcAmp*>(this);
    else if (iid == IID_IAMCameraControl && controls_.offers(ControlFamily::CameraControl))
        *object = static_cast<IAMCameraControl*>(this);
    else if (iid == IID_IAMCrossbar && config_.captureCard)
        *object = static_cast<IAMCrossbar*>(this);
    else if (iid == IID_IAMAnalogVideoDecoder && config_.captureCard)
        *object = static_cast<IAMAnalogVideoDecoder*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CaptureFilter::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) CaptureFilter::Release() {
    ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP CaptureFilter::GetClassID(CLSID* clsid) {
    if (!clsid)
        return E_POINTER;
    *clsid = CLSID_VirtualCameraFilter;
    return S_OK;
}

STDMETHODIMP CaptureFilter::Stop() {
    std::unique_ptr<FramePump> pump;
    ComPtr<IMemAllocator> allocator;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        state_ = State_Stopped;
        pump = std::move(pump_);
        allocator = pin_.allocator();
    }
    // Without our lock: the streaming thread may be inside downstream filters. Decommitting
    // wakes a thread that waits for a free buffer.
    if (pump) {
        pump->requestExit();
        if (allocator)
            allocator->Decommit();
        pump->join();
    } else if (allocator) {
        allocator->Decommit();
    }
    return S_OK;
}

HRESULT CaptureFilter::pauseFromStopped() {
    if (!pin_.isConnected())
        return S_OK;
    // Connected, but the bus has no room for the stream.
    if (config_.failPause.count(pin_.connectedCapability()))
        return HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    try {
        PumpSettings settings;
        HRESULT hr = pin_.prepareStreaming(settings);
        if (FAILED(hr))
            return hr;
        settings.tag = config_.tag;
        settings.frameLimit = config_.frameLimit;
        settings.dropEvery = config_.dropEvery;
        settings.truncateEvery = config_.truncateEvery;
        // Only the first stream of the process hangs: a new graph streams, as after a driver reset.
        if (config_.stallAfter && admitLoad(L"stall " + config_.name, 1))
            settings.stallAfter = config_.stallAfter;
        settings.endOfStreamAfter = config_.endOfStreamAfter;
        if (config_.newTypeAfter) {
            settings.newTypeAfter = config_.newTypeAfter;
            settings.newType = pin_.followingCapability();
            settings.typeChanged = [this](const MediaType& type) {
                std::lock_guard<std::recursive_mutex> guard(lock_);
                pin_.followStream(type);
            };
        }
        settings.cutScanEvery = config_.cutScanEvery;
        settings.truncateBytes = config_.truncateBytes;
        settings.unthrottled = config_.unthrottled;
        settings.paint.greyRamp = config_.greyRamp;
        settings.paint.xByteZero = config_.xByteZero;
        settings.notifier = this;
        counters_.reset();
        settings.counters = &counters_;
        // The device may have come or gone while stopped: tell the graph before streaming.
        if (auto change = presence_.poll())
            notifyGraph(EC_DEVICE_LOST, identity(), *change ? 1 : 0);
        settings.presence = &presence_;
        settings.identity = identity();
        settings.absent = !presence_.present();
        settings.controls = &controls_;
        if (config_.captureCard)
            settings.card = &card_;
        auto pump = std::make_unique<FramePump>(std::move(settings));
        hr = pump->start();
        if (FAILED(hr)) {
            pin_.allocator()->Decommit();
            return hr;
        }
        pump_ = std::move(pump);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CaptureFilter::Pause() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (state_ == State_Stopped) {
        HRESULT hr = pauseFromStopped();
        if (FAILED(hr))
            return hr;
    } else if (state_ == State_Running && pump_) {
        pump_->pause();
    }
    state_ = State_Paused;
    return S_OK;
}

STDMETHODIMP CaptureFilter::Run(REFERENCE_TIME start) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (state_ == State_Stopped) {
        HRESULT hr = pauseFromStopped();
        if (FAILED(hr))
            return hr;
    }
    if (pump_)
        pump_->run(clock_.Get(), start);
    state_ = State_Running;
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    *state = state_;
    // A live source has nothing to cue while paused.
    return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP CaptureFilter::SetSyncSource(IReferenceClock* clock) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    clock_ = clock;
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    *clock = clock_.Get();
    if (*clock)
        (*clock)->AddRef();
    return S_OK;
}

STDMETHODIMP CaptureFilter::EnumPins(IEnumPins** pins) {
    if (!pins)
        return E_POINTER;
    *pins = nullptr;
    try {
        std::vector<ComPtr<IPin>> list{ComPtr<IPin>(static_cast<IPin*>(&pin_))};
        *pins = new PinEnumerator(this, std::move(list));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin)
        return E_POINTER;
    if (std::wcscmp(id, kPinName) != 0) {
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *pin = static_cast<IPin*>(&pin_);
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    const size_t capacity = sizeof(info->achName) / sizeof(info->achName[0]);
    std::wcsncpy(info->achName, name_.c_str(), capacity - 1);
    info->achName[capacity - 1] = L'\0';
    info->pGraph = graph_;
    if (graph_)
        graph_->AddRef();
    return S_OK;
}

STDMETHODIMP CaptureFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (graph && config_.failJoin)
        return E_FAIL;
    try {
        name_ = graph && name ? name : L"";
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    graph_ = graph;
    return S_OK;
}

STDMETHODIMP CaptureFilter::QueryVendorInfo(LPWSTR* info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CaptureFilter::InitNew() { return S_OK; }

STDMETHODIMP CaptureFilter::Load(IPropertyBag* bag, IErrorLog*) {
    if (!bag)
        return E_POINTER;
    try {
        DeviceConfig config;
        HRESULT hr = loadDeviceConfig(bag, config);
        if (FAILED(hr))
            return hr;
        if (config.failLoadAfter && !admitLoad(config.name, *config.failLoadAfter))
            return E_FAIL;
        const std::wstring key = DevicePresence::findDeviceKey(config.name, config.devicePath);
        if (DevicePresence::takeFailingBind(key))
            return E_FAIL;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (pin_.isConnected())
            return VFW_E_ALREADY_CONNECTED;
        config_ = std::move(config);
        presence_.watch(key);
        controls_.configure(config_.controls);
        if (config_.captureCard)
            card_.configure(config_.cardInputs, static_cast<LONG>(config_.videoStandards));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CaptureFilter::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }

STDMETHODIMP_(ULONG) CaptureFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

STDMETHODIMP CaptureFilter::GetPages(CAUUID* pages) {
    if (!pages)
        return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = CLSID_VirtualCameraPropertyPage;
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetTag(DWORD* tag) {
    if (!tag)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    *tag = config_.tag;
    return S_OK;
}

STDMETHODIMP CaptureFilter::GetCurrentFormat(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    try {
        MediaType format;
        HRESULT hr = pin_.currentFormat(format);
        if (FAILED(hr))
            return hr;
        return format.copyTo(*mt);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CaptureFilter::GetFriendlyName(LPWSTR name, UINT capacity) {
    if (!name || capacity == 0)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::wcsncpy(name, config_.name.c_str(), capacity - 1);
    name[capacity - 1] = L'\0';
    return S_OK;
}

LONG_PTR CaptureFilter::identity() {
    return reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this)));
}

void CaptureFilter::notifyGraph(long code, LONG_PTR param1, LONG_PTR param2) {
    ComPtr<IMediaEventSink> sink;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (graph_)
            graph_->QueryInterface(IID_PPV_ARGS(&sink));
    }
    if (sink)
        sink->Notify(code, param1, param2);
}
