#include "enum_media_types.h"

MediaTypeEnumerator::MediaTypeEnumerator(std::vector<MediaType> types, size_t position)
    : types_(std::move(types)), cursor_(types_.size(), position) {}

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IEnumMediaTypes) {
        *object = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::AddRef() { return InterlockedIncrement(&refs_); }

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release() {
    ULONG refs = InterlockedDecrement(&refs_);
    if (refs == 0)
        delete this;
    return refs;
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    return cursor_.next(
        count, types, fetched,
        [this](size_t index, AM_MEDIA_TYPE** type) {
            AM_MEDIA_TYPE* copy = types_[index].createCopy();
            if (!copy)
                return false;
            *type = copy;
            return true;
        },
        deleteMediaType);
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) { return cursor_.skip(count); }

STDMETHODIMP MediaTypeEnumerator::Reset() {
    cursor_.reset();
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
    return cloneEnumerator(clone, [this] { return new MediaTypeEnumerator(types_, cursor_.position()); });
}
