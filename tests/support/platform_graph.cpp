#include "platform_graph.h"

#include "fenwyr/guids.h"

using Microsoft::WRL::ComPtr;

const CLSID kSampleGrabberClsid = fenwyr::kClsidSampleGrabber;
const CLSID kNullRendererClsid = fenwyr::kClsidNullRenderer;

// The grabber's callback object: forwards every buffer to the test's function.
class PlatformGraph::Callback : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == fenwyr::kIidSampleGrabberCB) {
            *object = static_cast<ISampleGrabberCB*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return refs;
    }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double time, BYTE* data, long length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (function_)
            function_(data, length, time);
        return S_OK;
    }
    void set(FrameCallback function) {
        std::lock_guard<std::mutex> lock(mutex_);
        function_ = std::move(function);
    }

private:
    virtual ~Callback() = default;
    LONG refs_ = 1;
    std::mutex mutex_;
    FrameCallback function_;
};

PlatformGraph::PlatformGraph() : callback_(new Callback()) {}

PlatformGraph::~PlatformGraph() {
    if (control_)
        control_->Stop();
    if (grabber_)
        grabber_->SetCallback(nullptr, 1);
    callback_->set(nullptr);
    callback_->Release();
}

HRESULT PlatformGraph::bindDevice(const std::wstring& deviceName, IBaseFilter** filter) {
    *filter = nullptr;
    ComPtr<ICreateDevEnum> devices;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices));
    if (FAILED(hr))
        return hr;
    ComPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (hr != S_OK || !monikers)
        return FAILED(hr) ? hr : VFW_E_NOT_FOUND;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            bool match = SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
                         deviceName == name.bstrVal;
            VariantClear(&name);
            if (match)
                return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
        }
        moniker.Reset();
    }
    return VFW_E_NOT_FOUND;
}

HRESULT PlatformGraph::open(const std::wstring& deviceName) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph_));
    if (SUCCEEDED(hr))
        hr = graph_.As(&control_);
    if (SUCCEEDED(hr))
        hr = graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events_.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder_));
    if (SUCCEEDED(hr))
        hr = builder_->SetFiltergraph(graph_.Get());
    if (SUCCEEDED(hr))
        hr = bindDevice(deviceName, &capture_);
    if (SUCCEEDED(hr))
        hr = graph_->AddFilter(capture_.Get(), L"Video Capture");
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kSampleGrabberClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter_));
    if (SUCCEEDED(hr))
        hr = grabberFilter_.As(&grabber_);
    if (SUCCEEDED(hr)) {
        AM_MEDIA_TYPE mt{};
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = GUID_NULL;
        mt.formattype = FORMAT_VideoInfo;
        hr = grabber_->SetMediaType(&mt);
    }
    if (SUCCEEDED(hr))
        hr = graph_->AddFilter(grabberFilter_.Get(), L"Sample Grabber");
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(kNullRendererClsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer_));
    if (SUCCEEDED(hr))
        hr = graph_->AddFilter(renderer_.Get(), L"Null Renderer");
    if (SUCCEEDED(hr))
        hr = grabber_->SetCallback(callback_, 1);
    if (SUCCEEDED(hr))
        hr = builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, capture_.Get(), grabberFilter_.Get(),
                                    renderer_.Get());
    return hr;
}

void PlatformGraph::setCallback(FrameCallback callback) { callback_->set(std::move(callback)); }

HRESULT PlatformGraph::run() { return control_ ? control_->Run() : E_POINTER; }

HRESULT PlatformGraph::stop() { return control_ ? control_->Stop() : E_POINTER; }

ComPtr<IPin> PlatformGraph::grabberOutput() const {
    ComPtr<IPin> pin;
    if (grabberFilter_)
        grabberFilter_->FindPin(L"Out", &pin);
    return pin;
}
