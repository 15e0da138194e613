#include "media_type.h"

#include <cstring>
#include <new>
#include <utility>

namespace {
HRESULT copyContents(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source) {
    target = source;
    target.pbFormat = nullptr;
    target.cbFormat = 0;
    if (source.cbFormat && source.pbFormat) {
        target.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (!target.pbFormat) {
            target.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target.pbFormat, source.pbFormat, source.cbFormat);
        target.cbFormat = source.cbFormat;
    }
    if (target.pUnk)
        target.pUnk->AddRef();
    return S_OK;
}
}  // namespace

MediaType::MediaType() { std::memset(&mt_, 0, sizeof(mt_)); }

MediaType::MediaType(const AM_MEDIA_TYPE& source) : MediaType() {
    if (FAILED(copyContents(mt_, source)))
        throw std::bad_alloc();
}

MediaType::MediaType(const MediaType& other) : MediaType(other.mt_) {}

MediaType::MediaType(MediaType&& other) noexcept : mt_(other.mt_) {
    std::memset(&other.mt_, 0, sizeof(other.mt_));
}

MediaType& MediaType::operator=(const MediaType& other) {
    if (this != &other) {
        MediaType copy(other);
        *this = std::move(copy);
    }
    return *this;
}

MediaType& MediaType::operator=(MediaType&& other) noexcept {
    if (this != &other) {
        clear();
        mt_ = other.mt_;
        std::memset(&other.mt_, 0, sizeof(other.mt_));
    }
    return *this;
}

MediaType::~MediaType() { clear(); }

void MediaType::clear() {
    freeMediaTypeContents(mt_);
    std::memset(&mt_, 0, sizeof(mt_));
}

BYTE* MediaType::allocateFormat(ULONG size) {
    CoTaskMemFree(mt_.pbFormat);
    mt_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
    if (!mt_.pbFormat) {
        mt_.cbFormat = 0;
        throw std::bad_alloc();
    }
    std::memset(mt_.pbFormat, 0, size);
    mt_.cbFormat = size;
    return mt_.pbFormat;
}

HRESULT MediaType::copyTo(AM_MEDIA_TYPE& target) const { return copyContents(target, mt_); }

AM_MEDIA_TYPE* MediaType::createCopy() const {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!copy)
        return nullptr;
    if (FAILED(copyContents(*copy, mt_))) {
        CoTaskMemFree(copy);
        return nullptr;
    }
    return copy;
}

void freeMediaTypeContents(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat && mt.pbFormat)
        CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void deleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt)
        return;
    freeMediaTypeContents(*mt);
    CoTaskMemFree(mt);
}

bool sameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
           a.cbFormat == b.cbFormat &&
           (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}
