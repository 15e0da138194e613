#include "rot_entries.h"

#include <cwchar>
#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>
#include <dshow.h>

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

std::vector<std::wstring> filtersInGraph(const std::wstring& displayName) {
    std::vector<std::wstring> filters;
    ComPtr<IRunningObjectTable> table;
    ComPtr<IEnumMoniker> entries;
    if (FAILED(GetRunningObjectTable(0, &table)) || FAILED(table->EnumRunning(&entries)))
        return filters;
    ComPtr<IMoniker> moniker;
    while (entries->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IBindCtx> context;
        LPOLESTR name = nullptr;
        if (FAILED(CreateBindCtx(0, &context)) || FAILED(moniker->GetDisplayName(context.Get(), nullptr, &name)) ||
            !name)
            continue;
        const bool wanted = displayName == name;
        CoTaskMemFree(name);
        ComPtr<IUnknown> object;
        ComPtr<IFilterGraph> graph;
        ComPtr<IEnumFilters> members;
        if (!wanted || FAILED(table->GetObject(moniker.Get(), &object)) || FAILED(object.As(&graph)) ||
            FAILED(graph->EnumFilters(&members)))
            continue;
        ComPtr<IBaseFilter> filter;
        while (members->Next(1, &filter, nullptr) == S_OK) {
            FILTER_INFO info{};
            if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
                filters.emplace_back(info.achName);
                if (info.pGraph)
                    info.pGraph->Release();
            }
        }
    }
    return filters;
}
