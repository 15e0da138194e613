#include "running_object_table.h"

#include <cstdint>
#include <cwchar>
#include <objbase.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

HRESULT addGraphToRot(IUnknown* graph, DWORD* cookie) {
    if (!graph || !cookie)
        return E_POINTER;

    ComPtr<IRunningObjectTable> table;
    HRESULT hr = GetRunningObjectTable(0, &table);
    if (FAILED(hr))
        return hr;

    wchar_t name[128];
    const auto address = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(graph) & 0xFFFFFFFFu);
    const int length = std::swprintf(name, 128, L"FilterGraph %08x pid %08x", address,
                                     static_cast<unsigned>(GetCurrentProcessId()));
    if (length < 0)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    ComPtr<IMoniker> itemMoniker;
    hr = CreateItemMoniker(L"!", name, &itemMoniker);
    if (FAILED(hr))
        return hr;

    return table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph, itemMoniker.Get(), cookie);
}

void revokeFromRot(DWORD cookie) {
    if (cookie == 0)
        return;
    ComPtr<IRunningObjectTable> table;
    if (SUCCEEDED(GetRunningObjectTable(0, &table)))
        table->Revoke(cookie);
}
