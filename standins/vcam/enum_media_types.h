#pragma once
#include <windows.h>
#include <dshow.h>

#include <vector>

#include "enum_cursor.h"
#include "media_type.h"
#include "module.h"

// IEnumMediaTypes over a snapshot of the types a pin offers.
class MediaTypeEnumerator final : public IEnumMediaTypes {
public:
    explicit MediaTypeEnumerator(std::vector<MediaType> types, size_t position = 0);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

private:
    ModuleObjectCount count_;
    LONG refs_ = 1;
    std::vector<MediaType> types_;
    EnumCursor cursor_;
};
