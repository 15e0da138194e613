#include "enum_pins.h"

#include <new>

PinEnumerator::PinEnumerator(IBaseFilter* filter, std::vector<Microsoft::WRL::ComPtr<IPin>> pins, size_t position)
    : filter_(filter), pins_(std::move(pins)), cursor_(pins_.size(), position) {}

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
    return cursor_.next(
        count, pins, fetched,
        [this](size_t index, IPin** pin) {
            *pin = pins_[index].Get();
            (*pin)->AddRef();
            return true;
        },
        [](IPin* pin) { pin->Release(); });
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) { return cursor_.skip(count); }

STDMETHODIMP PinEnumerator::Reset() {
    cursor_.reset();
    return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** clone) {
    return cloneEnumerator(clone, [this] { return new PinEnumerator(filter_.Get(), pins_, cursor_.position()); });
}
