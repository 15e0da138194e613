#include "class_factory.h"

#include "capture_filter.h"
#include "guids.h"
#include "property_page.h"

ClassFactory::ClassFactory(REFCLSID clsid) : clsid_(clsid) {}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    // Neither class supports aggregation.
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if (clsid_ == CLSID_VirtualCameraFilter)
        return CaptureFilter::create(iid, object);
    return PropertyPage::create(iid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    moduleLock(lock != FALSE);
    return S_OK;
}
