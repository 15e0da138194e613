#include "property_pages.h"

#include <olectl.h>

#include "com_ref.h"

using Microsoft::WRL::ComPtr;

namespace {

// The modal frame over the object's own pages; the page list is freed on every path.
HRESULT showPages(IUnknown* object, ISpecifyPropertyPages* pages, const wchar_t* caption) {
    CAUUID list{0, nullptr};
    HRESULT hr = pages->GetPages(&list);
    if (SUCCEEDED(hr)) {
        IUnknown* objects[] = {object};
        hr = OleCreatePropertyFrame(nullptr, 0, 0, caption, 1, objects, list.cElems, list.pElems, 0, 0, nullptr);
    }
    CoTaskMemFree(list.pElems);
    return hr;
}

}  // namespace

namespace property_pages {

HRESULT showFilterProperties(CaptureDevice& device) {
    if (!device.captureFilter)
        return E_POINTER;
    ComPtr<ISpecifyPropertyPages> pages;
    HRESULT hr = device.captureFilter->QueryInterface(IID_ISpecifyPropertyPages, &pages);
    if (FAILED(hr))
        return hr;
    FILTER_INFO info{};
    hr = device.captureFilter->QueryFilterInfo(&info);
    // The information holds a reference to the filter's graph.
    const ComPtr<IFilterGraph> graph = adoptReference(info.pGraph);
    if (FAILED(hr))
        return hr;
    return showPages(device.captureFilter.Get(), pages.Get(), info.achName);
}

HRESULT showCapturePinProperties(CaptureDevice& device) {
    if (!device.outputPin)
        return E_POINTER;
    ComPtr<ISpecifyPropertyPages> pages;
    HRESULT hr = device.outputPin->QueryInterface(IID_ISpecifyPropertyPages, &pages);
    if (FAILED(hr))
        return hr;
    PIN_INFO info{};
    hr = device.outputPin->QueryPinInfo(&info);
    // The information holds a reference to the pin's filter.
    const ComPtr<IBaseFilter> owner = adoptReference(info.pFilter);
    if (FAILED(hr))
        return hr;
    return showPages(device.outputPin.Get(), pages.Get(), info.achName);
}

}  // namespace property_pages
