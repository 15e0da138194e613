#pragma once
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <vector>

#include "enum_cursor.h"
#include "module.h"

// IEnumPins over a fixed list of a filter's pins; keeps the filter alive.
class PinEnumerator final : public IEnumPins {
public:
    PinEnumerator(IBaseFilter* filter, std::vector<Microsoft::WRL::ComPtr<IPin>> pins, size_t position = 0);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** clone) override;

private:
    ModuleObjectCount count_;
    LONG refs_ = 1;
    Microsoft::WRL::ComPtr<IBaseFilter> filter_;
    std::vector<Microsoft::WRL::ComPtr<IPin>> pins_;
    EnumCursor cursor_;
};
