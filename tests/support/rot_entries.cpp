#include "rot_entries.h"

#include <cwchar>
#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

std::vector<std::wstring> runningObjectNames() {
    std::vector<std::wstring> names;
    ComPtr<IRunningObjectTable> table;
    ComPtr<IEnumMoniker> entries;
    if (FAILED(GetRunningObjectTable(0, &table)) || FAILED(table->EnumRunning(&entries)))
        return names;
    ComPtr<IMoniker> moniker;
    while (entries->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IBindCtx> context;
        LPOLESTR name = nullptr;
        if (SUCCEEDED(CreateBindCtx(0, &context)) &&
            SUCCEEDED(moniker->GetDisplayName(context.Get(), nullptr, &name)) && name) {
            names.emplace_back(name);
            CoTaskMemFree(name);
        }
    }
    return names;
}

std::vector<std::wstring> filterGraphsOfThisProcess() {
    wchar_t suffix[32];
    std::swprintf(suffix, 32, L" pid %08x", static_cast<unsigned>(GetCurrentProcessId()));
    const std::wstring tail = suffix;
    std::vector<std::wstring> graphs;
    for (const std::wstring& name : runningObjectNames()) {
        if (name.rfind(L"!FilterGraph ", 0) == 0 && name.size() >= tail.size() &&
            name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
            graphs.push_back(name);
    }
    return graphs;
}
