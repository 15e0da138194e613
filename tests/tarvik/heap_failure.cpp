#include "heap_failure.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

namespace {

using Malloc = void*(__cdecl*)(std::size_t);

Malloc realMalloc = nullptr;
int allocationsBeforeFailure = -1;  // -1: the one failure has happened

void* __cdecl onceFailingMalloc(std::size_t size) {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        return nullptr;
    }
    if (allocationsBeforeFailure > 0)
        --allocationsBeforeFailure;
    return realMalloc(size);
}

// The import address table entry of `function` (imported by name) in the loaded module.
void** importSlot(HMODULE module, const char* function) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name; ++dll) {
        if (dll->OriginalFirstThunk == 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

void** tarvikMallocSlot() {
    HMODULE tarvik = GetModuleHandleW(L"tarvik.dll");
    return tarvik ? importSlot(tarvik, "malloc") : nullptr;
}

bool writeSlot(void** slot, void* value) {
    DWORD protection = 0;
    if (!slot || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
        return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return true;
}

} // namespace

TarvikAllocationFailure::TarvikAllocationFailure(int before) {
    void** slot = tarvikMallocSlot();
    if (!slot)
        throw std::runtime_error("tarvik.dll does not import malloc");
    realMalloc = reinterpret_cast<Malloc>(*slot);
    allocationsBeforeFailure = before;
    if (!writeSlot(slot, reinterpret_cast<void*>(&onceFailingMalloc)))
        throw std::runtime_error("cannot write tarvik's import table");
}

TarvikAllocationFailure::~TarvikAllocationFailure() {
    writeSlot(tarvikMallocSlot(), reinterpret_cast<void*>(realMalloc));
}

bool TarvikAllocationFailure::available() {
    return tarvikMallocSlot() != nullptr;
}
