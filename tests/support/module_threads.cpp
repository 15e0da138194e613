#include "module_threads.h"

#include <cstdint>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace {

// ntdll's thread query; class 9 answers the address the thread was started at.
using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr int kThreadStartAddress = 9;

}  // namespace

std::size_t threadsStartedIn(const wchar_t* moduleName) {
    HMODULE module = GetModuleHandleW(moduleName);
    MODULEINFO info{};
    if (!module || !GetModuleInformation(GetCurrentProcess(), module, &info, sizeof info))
        return 0;
    const auto begin = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
    const auto end = begin + info.SizeOfImage;
    auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    if (!query)
        return 0;

    std::size_t count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId())
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread)
            continue;
        void* start = nullptr;
        if (query(thread, kThreadStartAddress, &start, sizeof start, nullptr) == 0) {
            const auto address = reinterpret_cast<std::uintptr_t>(start);
            if (address >= begin && address < end)
                ++count;
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return count;
}
