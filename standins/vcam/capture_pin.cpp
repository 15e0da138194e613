#include "capture_pin.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <utility>

#include "capture_filter.h"
#include "enum_media_types.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kCaptureName[] = L"Capture";
constexpr wchar_t kStillName[] = L"Still";
// Deep enough for any real chain behind a capture pin; stops a malformed graph from looping.
constexpr int kMaxDownstreamDepth = 16;
// The streaming thread fills one buffer while downstream holds another; a smart tee takes a
// further one from the same allocator for its copy.
constexpr long kBufferCount = 3;

bool fullySpecified(const AM_MEDIA_TYPE& mt) {
    return mt.majortype != GUID_NULL && mt.subtype != GUID_NULL && mt.formattype != GUID_NULL && mt.pbFormat;
}

// Whether `candidate` fits the partial type a caller asked Connect for.
bool fitsPartialType(const AM_MEDIA_TYPE* wanted, const AM_MEDIA_TYPE& candidate) {
    if (!wanted)
        return true;
    return (wanted->majortype == GUID_NULL || wanted->majortype == candidate.majortype) &&
           (wanted->subtype == GUID_NULL || wanted->subtype == candidate.subtype) &&
           (wanted->formattype == GUID_NULL || wanted->formattype == candidate.formattype);
}

// Writes `size` bytes at most: a caller may size its buffer by what GetNumberOfCapabilities said.
void fillConfigCaps(const VideoFormat& format, const AM_MEDIA_TYPE& mt, BYTE* buffer, size_t size) {
    VIDEO_STREAM_CONFIG_CAPS caps;
    std::memset(&caps, 0, sizeof(caps));
    const LONG rows = std::abs(format.height);
    const double bits = static_cast<double>(imageSizeOf(format.layout, format.width, format.height)) * 8.0;
    auto bitRate = [bits](double fps) { return static_cast<LONG>(std::min(bits * fps, 2.0e9)); };
    caps.guid = mt.formattype;
    caps.VideoStandard = 0;
    caps.InputSize = {format.width, rows};
    caps.MinCroppingSize = caps.MaxCroppingSize = caps.InputSize;
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.CropAlignX = caps.CropAlignY = 1;
    caps.MinOutputSize = caps.MaxOutputSize = caps.InputSize;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
    caps.MinFrameInterval = minFrameInterval(format);
    caps.MaxFrameInterval = maxFrameInterval(format);
    caps.MinBitsPerSecond = bitRate(format.minFps);
    caps.MaxBitsPerSecond = bitRate(format.maxFps);
    std::memcpy(buffer, &caps, std::min(size, sizeof(caps)));
}

}  // namespace

CapturePin::CapturePin(CaptureFilter& filter, bool still)
    : DroppedFramesReport(filter.counters()), filter_(filter), still_(still) {}

const std::vector<VideoFormat>& CapturePin::formats() const {
    return still_ ? filter_.config().stillFormats : filter_.config().formats;
}

const wchar_t* CapturePin::name() const {
    return still_ ? kStillName : kCaptureName;
}

STDMETHODIMP CapturePin::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin)
        *object = static_cast<IPin*>(this);
    else if (iid == IID_IKsPropertySet)
        *object = static_cast<IKsPropertySet*>(this);
    else if (iid == IID_IAMStreamConfig && !filter_.config().noStreamConfig)
        *object = static_cast<IAMStreamConfig*>(this);
    else if (iid == IID_IAMDroppedFrames && !still_)
        *object = static_cast<IAMDroppedFrames*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CapturePin::AddRef() { return filter_.AddRef(); }
STDMETHODIMP_(ULONG) CapturePin::Release() { return filter_.Release(); }

// --- IPin ---------------------------------------------------------------------------------

const VideoFormat* CapturePin::matchingCapability(const AM_MEDIA_TYPE& mt) const {
    for (const auto& format : formats())
        if (describesCapability(mt, format))
            return &format;
    return nullptr;
}

std::vector<MediaType> CapturePin::offeredTypes() const {
    std::vector<MediaType> types;
    if (!chosenFormat_.empty())
        types.push_back(chosenFormat_);
    for (const auto& format : formats()) {
        MediaType type = makeMediaType(format);
        if (chosenFormat_.empty() || !sameMediaType(type.get(), chosenFormat_.get()))
            types.push_back(std::move(type));
    }
    return types;
}

STDMETHODIMP CapturePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    if (!receivePin)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    if (peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    try {
        if (mt && fullySpecified(*mt)) {
            if (!matchingCapability(*mt))
                return VFW_E_TYPE_NOT_ACCEPTED;
            // As a pin built on the platform's base classes: only its own current type, byte for byte.
            MediaType own;
            if (filter_.config().strictConnect && (FAILED(currentFormat(own)) || !sameMediaType(own.get(), *mt)))
                return VFW_E_TYPE_NOT_ACCEPTED;
            return attemptConnection(receivePin, *mt);
        }
        // The peer's preferences first, then ours.
        ComPtr<IEnumMediaTypes> peerTypes;
        if (SUCCEEDED(receivePin->EnumMediaTypes(&peerTypes)) && peerTypes) {
            AM_MEDIA_TYPE* candidate = nullptr;
            while (peerTypes->Next(1, &candidate, nullptr) == S_OK) {
                MediaType type(*candidate);
                deleteMediaType(candidate);
                if (fitsPartialType(mt, type.get()) && matchingCapability(type.get()) &&
                    SUCCEEDED(attemptConnection(receivePin, type.get())))
                    return S_OK;
            }
        }
        for (const auto& type : offeredTypes()) {
            if (fitsPartialType(mt, type.get()) && SUCCEEDED(attemptConnection(receivePin, type.get())))
                return S_OK;
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CapturePin::attemptConnection(IPin* peer, const AM_MEDIA_TYPE& mt) {
    auto geometry = frameGeometryOf(mt, matchingCapability(mt));
    if (!geometry)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // A device that takes the format but cannot stream it (not enough bus bandwidth).
    const auto& list = formats();
    const VideoFormat* capability = matchingCapability(mt);
    if (capability && !still_ && filter_.config().failConnect.count(static_cast<int>(capability - list.data())))
        return HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    MediaType connected(mt);
    HRESULT hr = peer->ReceiveConnection(static_cast<IPin*>(this), &mt);
    if (FAILED(hr))
        return hr;
    ComPtr<IMemInputPin> input;
    hr = peer->QueryInterface(IID_PPV_ARGS(&input));
    if (FAILED(hr))
        hr = VFW_E_NO_TRANSPORT;
    else
        hr = decideAllocator(input.Get(), geometry->imageSize);
    if (FAILED(hr)) {
        peer->Disconnect();
        allocator_.Reset();
        return hr;
    }
    peer_ = peer;
    peerInput_ = input;
    chosenFormat_ = connected;
    connectedType_ = std::move(connected);
    return S_OK;
}

HRESULT CapturePin::decideAllocator(IMemInputPin* input, DWORD bufferSize) {
    ALLOCATOR_PROPERTIES request{};
    input->GetAllocatorRequirements(&request);
    ALLOCATOR_PROPERTIES wanted{};
    wanted.cBuffers = std::max(request.cBuffers, kBufferCount);
    wanted.cbBuffer = std::max(request.cbBuffer, static_cast<long>(bufferSize));
    wanted.cbAlign = std::max(request.cbAlign, 1L);  // an alignment of 0 is refused
    wanted.cbPrefix = std::max(request.cbPrefix, 0L);

    auto tryAllocator = [&](IMemAllocator* allocator) {
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr))
            return hr;
        if (actual.cbBuffer < static_cast<long>(bufferSize) || actual.cBuffers < 2)
            return VFW_E_SIZENOTSET;
        hr = input->NotifyAllocator(allocator, FALSE);
        if (SUCCEEDED(hr))
            allocator_ = allocator;
        return hr;
    };

    ComPtr<IMemAllocator> allocator;
    if (SUCCEEDED(input->GetAllocator(&allocator)) && allocator && SUCCEEDED(tryAllocator(allocator.Get())))
        return S_OK;
    allocator.Reset();
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&allocator));
    if (FAILED(hr))
        return hr;
    return tryAllocator(allocator.Get());
}

STDMETHODIMP CapturePin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
    // An output pin connects others; it is never connected to.
    return E_UNEXPECTED;
}

STDMETHODIMP CapturePin::Disconnect() {
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    if (filter_.state() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!peer_)
        return S_FALSE;
    if (allocator_)
        allocator_->Decommit();
    allocator_.Reset();
    peerInput_.Reset();
    peer_.Reset();
    connectedType_ = MediaType();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectedTo(IPin** pin) {
    if (!pin)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    *pin = peer_.Get();
    if (!*pin)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

STDMETHODIMP CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    if (!peer_) {
        std::memset(mt, 0, sizeof(*mt));
        return VFW_E_NOT_CONNECTED;
    }
    return connectedType_.copyTo(*mt);
}

STDMETHODIMP CapturePin::QueryPinInfo(PIN_INFO* info) {
    if (!info)
        return E_POINTER;
    info->pFilter = static_cast<IBaseFilter*>(&filter_);
    info->pFilter->AddRef();
    info->dir = PINDIR_OUTPUT;
    std::wcscpy(info->achName, name());
    return S_OK;
}

STDMETHODIMP CapturePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction)
        return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP CapturePin::QueryId(LPWSTR* id) {
    if (!id)
        return E_POINTER;
    const size_t size = (std::wcslen(name()) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(size));
    if (!*id)
        return E_OUTOFMEMORY;
    std::memcpy(*id, name(), size);
    return S_OK;
}

STDMETHODIMP CapturePin::QueryAccept(const AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    return matchingCapability(*mt) ? S_OK : S_FALSE;
}

STDMETHODIMP CapturePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types)
        return E_POINTER;
    *types = nullptr;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    try {
        *types = new MediaTypeEnumerator(offeredTypes());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CapturePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
// Stream control calls flow downstream into input pins, never into an output pin.
STDMETHODIMP CapturePin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// --- IKsPropertySet -------------------------------------------------------------------------

STDMETHODIMP CapturePin::Set(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID, DWORD) {
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    // The pin category can be read, not written; there is nothing else.
    (void)id;
    return E_PROP_ID_UNSUPPORTED;
}

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataSize, DWORD* returned) {
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned)
        return E_POINTER;
    if (returned)
        *returned = sizeof(GUID);
    if (!data)
        return S_OK;
    if (dataSize < sizeof(GUID))
        return E_UNEXPECTED;
    std::memcpy(data, still_ ? &PIN_CATEGORY_STILL : &PIN_CATEGORY_CAPTURE, sizeof(GUID));
    return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// --- IAMStreamConfig ------------------------------------------------------------------------

HRESULT CapturePin::currentFormat(MediaType& format) const {
    if (peer_) {
        format = connectedType_;
        return S_OK;
    }
    if (!chosenFormat_.empty()) {
        format = chosenFormat_;
        return S_OK;
    }
    const auto& list = formats();
    if (list.empty())
        return VFW_E_NO_TYPES;
    format = makeMediaType(list.front());
    return S_OK;
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return E_POINTER;
    try {
        ComPtr<IFilterGraph2> graph;
        MediaType previous;
        MediaType wanted(*mt);
        {
            std::lock_guard<std::recursive_mutex> guard(filter_.lock());
            if (filter_.state() != State_Stopped)
                return VFW_E_NOT_STOPPED;
            const VideoFormat* capability = matchingCapability(*mt);
            if (!capability)
                return VFW_E_INVALIDMEDIATYPE;
            // A strict driver keeps its own version of the type (its bit rate for the rate asked).
            if (filter_.config().strictConnect)
                wanted = makeMediaType(*capability, geometryOf(*mt)->interval);
            if (!peer_ || sameMediaType(connectedType_.get(), wanted.get())) {
                // The next connection uses it (or it is already in use).
                chosenFormat_ = wanted;
                return S_OK;
            }
            if (!filter_.graph() || FAILED(filter_.graph()->QueryInterface(IID_PPV_ARGS(&graph))))
                return VFW_E_NOT_IN_GRAPH;
            previous = connectedType_;
        }
        // Without our lock: the graph calls back into this pin while it reconnects.
        HRESULT hr = reconnect(graph.Get(), wanted);
        if (FAILED(hr))
            reconnect(graph.Get(), previous);
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CapturePin::reconnect(IFilterGraph2* graph, const MediaType& format) {
    {
        std::lock_guard<std::recursive_mutex> guard(filter_.lock());
        chosenFormat_ = format;
    }
    HRESULT hr = graph->ReconnectEx(static_cast<IPin*>(this), &format.get());
    if (FAILED(hr))
        return hr;

    // Every connection downstream renegotiates, so the new format reaches the last filter.
    ComPtr<IPin> input;
    hr = ConnectedTo(&input);
    for (int depth = 0; SUCCEEDED(hr) && input && depth < kMaxDownstreamDepth; ++depth) {
        PIN_INFO info{};
        hr = input->QueryPinInfo(&info);
        if (FAILED(hr) || !info.pFilter)
            break;
        ComPtr<IBaseFilter> filter;
        filter.Attach(info.pFilter);
        ComPtr<IEnumPins> pins;
        hr = filter->EnumPins(&pins);
        if (FAILED(hr))
            break;
        input.Reset();
        ComPtr<IPin> pin;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            PIN_DIRECTION direction;
            ComPtr<IPin> next;
            if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
                SUCCEEDED(pin->ConnectedTo(&next))) {
                hr = graph->ReconnectEx(pin.Get(), nullptr);
                if (FAILED(hr))
                    return hr;
                // Follow the first connected branch; a capture chain has one.
                if (!input)
                    pin->ConnectedTo(&input);
            }
            pin.Reset();
        }
    }
    return hr;
}

int CapturePin::connectedCapability() const {
    const VideoFormat* capability = peer_ ? matchingCapability(connectedType_.get()) : nullptr;
    return capability ? static_cast<int>(capability - formats().data()) : -1;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** mt) {
    if (!mt)
        return E_POINTER;
    *mt = nullptr;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    try {
        MediaType format;
        HRESULT hr = currentFormat(format);
        if (FAILED(hr))
            return hr;
        *mt = format.createCopy();
        return *mt ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size)
        return E_POINTER;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    *count = static_cast<int>(formats().size());
    *size = static_cast<int>(filter_.config().capsSize);
    return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
    if (!mt || !caps)
        return E_POINTER;
    *mt = nullptr;
    std::lock_guard<std::recursive_mutex> guard(filter_.lock());
    const auto& config = filter_.config();
    if (index < 0)
        return E_INVALIDARG;
    if (static_cast<size_t>(index) >= formats().size())
        return S_FALSE;
    if (!still_ && config.failStreamCaps.count(index))
        return E_FAIL;
    try {
        const VideoFormat& format = formats()[static_cast<size_t>(index)];
        MediaType type = makeMediaType(format);
        fillConfigCaps(format, type.get(), caps, config.capsSize);
        *mt = type.createCopy();
        return *mt ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// --- streaming ------------------------------------------------------------------------------

MediaType CapturePin::followingCapability() const {
    const auto& list = formats();
    const VideoFormat* connected = peer_ ? matchingCapability(connectedType_.get()) : nullptr;
    if (!connected || list.size() < 2)
        return MediaType();
    return makeMediaType(list[static_cast<size_t>(connected - list.data() + 1) % list.size()]);
}

void CapturePin::followStream(const MediaType& type) {
    if (!peer_)
        return;
    connectedType_ = type;
    chosenFormat_ = type;
}

HRESULT CapturePin::prepareStreaming(PumpSettings& settings) {
    if (!peer_ || !allocator_ || !peerInput_)
        return VFW_E_NOT_CONNECTED;
    auto geometry = frameGeometryOf(connectedType_.get(), matchingCapability(connectedType_.get()));
    if (!geometry)
        return VFW_E_INVALIDMEDIATYPE;
    HRESULT hr = allocator_->Commit();
    if (FAILED(hr))
        return hr;
    settings.geometry = *geometry;
    settings.allocator = allocator_;
    settings.receiver = peerInput_;
    return S_OK;
}
