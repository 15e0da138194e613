#include "enum_pins.h"

#include <new>

PinEnumerator::PinEnumerator(IBaseFilter* filter, std::vector<Microsoft::WRL::ComPtr<IPin>> pins, size_t position)
    : filter_(filter), pins_(std::move(pins)), position_(position) {}

STDMETHODIMP PinEnumerator::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumPins) {
        *object = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
    ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins || (count > 1 && !fetched))
        return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < pins_.size()) {
        pins[done] = pins_[position_].Get();
        pins[done]->AddRef();
        ++done;
        ++position_;
    }
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
    if (count > pins_.size() - position_) {
        position_ = pins_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** clone) {
    if (!clone)
        return E_POINTER;
    *clone = nullptr;
    try {
        *clone = new PinEnumerator(filter_.Get(), pins_, position_);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
