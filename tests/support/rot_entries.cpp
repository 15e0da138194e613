#include "rot_entries.h"

#include <cwchar>
#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>
#include <dshow.h>

using Microsoft::WRL::ComPtr;

namespace {

// Calls visit(table, moniker, displayName) for every entry of the running object table.
template <class Visit>
void forEachRunningObject(Visit visit) {
    ComPtr<IRunningObjectTable> table;
    ComPtr<IEnumMoniker> entries;
    if (FAILED(GetRunningObjectTable(0, &table)) || FAILED(table->EnumRunning(&entries)))
        return;
    ComPtr<IMoniker> moniker;
    while (entries->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IBindCtx> context;
        LPOLESTR name = nullptr;
        if (FAILED(CreateBindCtx(0, &context)) || FAILED(moniker->GetDisplayName(context.Get(), nullptr, &name)) ||
            !name)
            continue;
        const std::wstring displayName = name;
        CoTaskMemFree(name);
        visit(table.Get(), moniker.Get(), displayName);
    }
}

}  // namespace

std::vector<std::wstring> runningObjectNames() {
    std::vector<std::wstring> names;
    forEachRunningObject([&](IRunningObjectTable*, IMoniker*, const std::wstring& name) { names.push_back(name); });
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
    forEachRunningObject([&](IRunningObjectTable* table, IMoniker* moniker, const std::wstring& name) {
        ComPtr<IUnknown> object;
        ComPtr<IFilterGraph> graph;
        ComPtr<IEnumFilters> members;
        if (name != displayName || FAILED(table->GetObject(moniker, &object)) || FAILED(object.As(&graph)) ||
            FAILED(graph->EnumFilters(&members)))
            return;
        ComPtr<IBaseFilter> filter;
        while (members->Next(1, &filter, nullptr) == S_OK) {
            FILTER_INFO info{};
            if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
                filters.emplace_back(info.achName);
                if (info.pGraph)
                    info.pGraph->Release();
            }
        }
    });
    return filters;
}

ComPtr<IBaseFilter> findFilterInGraph(const std::wstring& displayName, const wchar_t* filterName) {
    ComPtr<IBaseFilter> found;
    forEachRunningObject([&](IRunningObjectTable* table, IMoniker* moniker, const std::wstring& name) {
        ComPtr<IUnknown> object;
        ComPtr<IFilterGraph> graph;
        if (!found && name == displayName && SUCCEEDED(table->GetObject(moniker, &object)) &&
            SUCCEEDED(object.As(&graph)))
            graph->FindFilterByName(filterName, &found);
    });
    return found;
}
