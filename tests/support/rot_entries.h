#pragma once
#include <string>
#include <vector>

#include <wrl/client.h>

// Display names of every entry in the running object table (shared by all processes of the
// prefix), such as "!FilterGraph 010a2038 pid 00000020". COM must be initialised on the thread.
std::vector<std::wstring> runningObjectNames();

// The entries that name a filter graph of this process: "!FilterGraph XXXXXXXX pid <our pid>".
std::vector<std::wstring> filterGraphsOfThisProcess();

// The names of the filters in the graph registered under `displayName` by this process (as
// filterGraphsOfThisProcess lists it); empty when there is no such graph.
std::vector<std::wstring> filtersInGraph(const std::wstring& displayName);

struct IBaseFilter;
// The filter named `filterName` in that graph, or null.
Microsoft::WRL::ComPtr<IBaseFilter> findFilterInGraph(const std::wstring& displayName, const wchar_t* filterName);
