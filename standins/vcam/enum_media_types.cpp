#include "enum_media_types.h"

MediaTypeEnumerator::MediaTypeEnumerator(std::vector<MediaType> types, size_t position)
    : types_(std::move(types)), position_(position) {}

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
    if (!types || (count > 1 && !fetched))
        return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < types_.size()) {
        AM_MEDIA_TYPE* copy = types_[position_].createCopy();
        if (!copy) {
            for (ULONG i = 0; i < done; ++i) {
                deleteMediaType(types[i]);
                types[i] = nullptr;
            }
            if (fetched)
                *fetched = 0;
            return E_OUTOFMEMORY;
        }
        types[done++] = copy;
        ++position_;
    }
    if (fetched)
        *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
    if (count > types_.size() - position_) {
        position_ = types_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
    if (!clone)
        return E_POINTER;
    *clone = nullptr;
    try {
        *clone = new MediaTypeEnumerator(types_, position_);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
