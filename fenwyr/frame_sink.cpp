#include "frame_sink.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>

#include "com_ref.h"
#include "com_object.h"
#include "media_type.h"
#include "sample_handler.h"

using Microsoft::WRL::ComPtr;

namespace {

// fenwyr's own ids: the class, for GetClassID, and a private interface that finds the object
// behind an IBaseFilter made by create().
constexpr CLSID kClsidFrameSink = {0x5C3E9B2A, 0x7D41, 0x4E6F, {0x9A, 0x15, 0x2B, 0x8C, 0x6D, 0x03, 0xE4, 0x71}};
constexpr IID kIidFrameSink = {0x5C3E9B2B, 0x7D41, 0x4E6F, {0x9A, 0x15, 0x2B, 0x8C, 0x6D, 0x03, 0xE4, 0x71}};

constexpr wchar_t kPinName[] = L"In";

bool acceptable(const AM_MEDIA_TYPE& type) {
    return IsEqualGUID(type.majortype, MEDIATYPE_Video) &&
           (media_type::hasVideoInfo(type) || media_type::hasVideoInfo2(type));
}

class SinkFilter;

// The one input pin. Its references are the filter's.
class SinkPin final : public IPin, public IMemInputPin {
public:
    explicit SinkPin(SinkFilter& filter) : filter_(filter) {}
    ~SinkPin() { clearConnection(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin: the upstream pin brings its own allocator.
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    // Receive runs the host's callbacks, which may wait.
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

private:
    void clearConnection();
    // A sample brought `type`: the connection has it from now on.
    void takeType(const AM_MEDIA_TYPE& type);

    SinkFilter& filter_;
    std::mutex mutex_;
    ComPtr<IPin> peer_;
    AM_MEDIA_TYPE type_{};
    std::atomic<bool> flushing_{false};
};

class SinkFilter final : public IBaseFilter, public IAMFilterMiscFlags {
public:
    SinkFilter() : pin_(*this) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
            IsEqualIID(iid, IID_IBaseFilter))
            *object = static_cast<IBaseFilter*>(this);
        else if (IsEqualIID(iid, IID_IAMFilterMiscFlags))
            *object = static_cast<IAMFilterMiscFlags*>(this);
        else if (IsEqualIID(iid, kIidFrameSink))
            *object = this;
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IPersist, IMediaFilter
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override {
        if (!id)
            return E_POINTER;
        *id = kClsidFrameSink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = State_Stopped;
        endPending_ = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = State_Paused;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
        bool ended = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = State_Running;
            ended = endPending_;
            endPending_ = false;
        }
        if (ended)
            notifyComplete();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
        if (!state)
            return E_POINTER;
        *state = state_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override {
        std::lock_guard<std::mutex> lock(mutex_);
        clock_ = clock;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
        if (!clock)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        *clock = clock_.Get();
        if (*clock)
            (*clock)->AddRef();
        return S_OK;
    }

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
        if (!id || !pin)
            return E_POINTER;
        if (wcscmp(id, kPinName) != 0) {
            *pin = nullptr;
            return VFW_E_NOT_FOUND;
        }
        *pin = &pin_;
        pin_.AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
        if (!info)
            return E_POINTER;
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t length = name_.copy(info->achName, MAX_FILTER_NAME - 1);
        info->achName[length] = L'\0';
        info->pGraph = graph_;
        if (graph_)
            graph_->AddRef();
        return S_OK;
    }
    // The graph holds the filter, so the filter does not hold the graph.
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        graph_ = graph;
        name_ = name ? name : L"";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // IAMFilterMiscFlags: the graph counts it among the renderers that end a stream.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    FILTER_STATE state() const { return state_; }
    SampleHandler* callback() const { return callback_; }
    void setCallback(SampleHandler* callback) { callback_ = callback; }
    // The stream ended here: told to the graph while running, at Run when paused, not when stopped.
    void endOfStream() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (state_ == State_Paused)
                endPending_ = true;
            if (state_ != State_Running)
                return;
        }
        notifyComplete();
    }
    // A flush takes back an end not yet told.
    void discardEndOfStream() {
        std::lock_guard<std::mutex> lock(mutex_);
        endPending_ = false;
    }

private:
    // Tells the graph the stream ended here (only while running, as a renderer does).
    void notifyComplete() {
        ComPtr<IMediaEventSink> events;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!graph_ || state_ != State_Running || FAILED(graph_->QueryInterface(IID_PPV_ARGS(&events))))
                return;
        }
        events->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
    }

    ~SinkFilter() = default;

    LONG references_ = 1;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    std::atomic<SampleHandler*> callback_{nullptr};
    std::mutex mutex_;
    bool endPending_ = false;
    IFilterGraph* graph_ = nullptr;
    std::wstring name_;
    ComPtr<IReferenceClock> clock_;
    SinkPin pin_;
};

// Lists the filter's one pin.
class PinEnumerator final : public SingleInterfaceObject<IEnumPins> {
public:
    PinEnumerator(SinkFilter& filter, IPin* pin, ULONG position)
        : SingleInterfaceObject(IID_IEnumPins), filter_(&filter), pin_(pin), position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins || (count != 1 && !fetched))
            return E_POINTER;
        ULONG given = 0;
        if (count > 0 && position_ == 0) {
            pins[0] = pin_;
            pin_->AddRef();
            position_ = given = 1;
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        const ULONG wanted = position_ + count;
        position_ = wanted > 1 ? 1 : wanted;
        return wanted <= 1 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) PinEnumerator(*filter_.Get(), pin_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ComPtr<SinkFilter> filter_;
    IPin* pin_;
    ULONG position_;
};

// The input pin prefers no type (the upstream pin offers its own): an empty list.
class NoMediaTypes final : public SingleInterfaceObject<IEnumMediaTypes> {
public:
    NoMediaTypes() : SingleInterfaceObject(IID_IEnumMediaTypes) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        if (!types || (count != 1 && !fetched))
            return E_POINTER;
        if (fetched)
            *fetched = 0;
        return count == 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** copy) override {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) NoMediaTypes();
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

};

HRESULT STDMETHODCALLTYPE SinkFilter::EnumPins(IEnumPins** pins) {
    if (!pins)
        return E_POINTER;
    *pins = new (std::nothrow) PinEnumerator(*this, &pin_, 0);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin))
        *object = static_cast<IPin*>(this);
    else if (IsEqualIID(iid, IID_IMemInputPin))
        *object = static_cast<IMemInputPin*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE SinkPin::AddRef() {
    return filter_.AddRef();
}

ULONG STDMETHODCALLTYPE SinkPin::Release() {
    return filter_.Release();
}

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!acceptable(*type))
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (!media_type::copyContents(*type, type_))
        return E_OUTOFMEMORY;
    peer_ = connector;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types)
        return E_POINTER;
    *types = new (std::nothrow) NoMediaTypes();
    return *types ? S_OK : E_OUTOFMEMORY;
}

void SinkPin::takeType(const AM_MEDIA_TYPE& type) {
    AM_MEDIA_TYPE copy{};
    if (!media_type::copyContents(type, copy))
        return;  // the frames are still described in it; only the connection reports the old one
    std::lock_guard<std::mutex> lock(mutex_);
    if (!peer_) {
        media_type::freeContents(copy);
        return;
    }
    media_type::freeContents(type_);
    type_ = copy;
}

void SinkPin::clearConnection() {
    peer_.Reset();
    media_type::freeContents(type_);
    type_ = AM_MEDIA_TYPE{};
}

HRESULT STDMETHODCALLTYPE SinkPin::Disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!peer_)
        return S_FALSE;
    clearConnection();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::ConnectedTo(IPin** pin) {
    if (!pin)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    *pin = peer_.Get();
    if (!*pin)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!peer_) {
        *type = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return media_type::copyContents(type_, *type) ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryPinInfo(PIN_INFO* info) {
    if (!info)
        return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(&filter_);
    filter_.AddRef();
    info->dir = PINDIR_INPUT;
    wcscpy(info->achName, kPinName);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction)
        return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryId(LPWSTR* id) {
    if (!id)
        return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kPinName));
    if (!*id)
        return E_OUTOFMEMORY;
    CopyMemory(*id, kPinName, sizeof kPinName);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type)
        return E_POINTER;
    return acceptable(*type) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE SinkPin::EndOfStream() {
    // Flushed with the data before it.
    if (flushing_)
        return S_FALSE;
    filter_.endOfStream();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::BeginFlush() {
    flushing_ = true;
    filter_.discardEndOfStream();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::EndFlush() {
    flushing_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::Receive(IMediaSample* sample) {
    if (!sample)
        return E_POINTER;
    if (filter_.state() == State_Stopped)
        return VFW_E_WRONG_STATE;
    if (flushing_)
        return S_FALSE;
    SampleHandler* handler = filter_.callback();
    // A card that follows its input's resolution marks the first sample of the new size with
    // its type: this frame and those after it are laid out that way.
    AM_MEDIA_TYPE* brought = nullptr;
    if (sample->GetMediaType(&brought) == S_OK && brought) {
        const media_type::Ptr type(brought);
        if (!acceptable(*type))
            return VFW_E_INVALIDMEDIATYPE;
        if (handler)
            handler->setLayout(media_type::layoutOf(*type));
        takeType(*type);
    }
    BYTE* data = nullptr;
    const long length = sample->GetActualDataLength();
    if (length <= 0 || FAILED(sample->GetPointer(&data)) || !data)
        return S_OK;
    // As the grabber passes it: the start time in seconds, 0 for a sample without one.
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const double seconds = SUCCEEDED(sample->GetTime(&start, &stop)) ? 1e-7 * static_cast<double>(start) : 0.0;
    if (handler)
        handler->BufferCB(seconds, data, length);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    if (!samples || !processed)
        return E_POINTER;
    HRESULT hr = S_OK;
    for (*processed = 0; *processed < count; ++*processed) {
        hr = Receive(samples[*processed]);
        if (hr != S_OK)
            break;
    }
    return hr;
}

}  // namespace

namespace frame_sink {

ComPtr<IBaseFilter> create() {
    return adoptReference<IBaseFilter>(new (std::nothrow) SinkFilter());
}

HRESULT setCallback(IBaseFilter* sink, SampleHandler* callback) {
    SinkFilter* filter = nullptr;
    if (!sink || FAILED(sink->QueryInterface(kIidFrameSink, reinterpret_cast<void**>(&filter))))
        return E_INVALIDARG;
    filter->setCallback(callback);
    filter->Release();
    return S_OK;
}

}  // namespace frame_sink
