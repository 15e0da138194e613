#pragma once
// Keeps every exception inside the library: what an export answers instead.
#include <new>
#include <utility>

#include <windows.h>

namespace export_barrier {

// Runs an export's work; on an exception the host gets `fallback` (nothing for an export
// without a result).
template <typename Work, typename... Fallback>
auto guarded(Work work, Fallback... fallback) noexcept -> decltype(work()) {
    try {
        return work();
    } catch (...) {
        return decltype(work())(fallback...);
    }
}

// For exports that answer with an HRESULT: an allocation failure is E_OUTOFMEMORY, anything
// else E_UNEXPECTED, so the host never mistakes a fault for a bad argument.
template <typename Work>
HRESULT guardedResult(Work work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace export_barrier
