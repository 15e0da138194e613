#include "module_pin.h"

HMODULE referenceThisModule() {
    // Any address inside this module names it; the flag makes the call count a reference.
    static const char anchor = 0;
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&anchor), &module)
               ? module
               : nullptr;
}

void ModulePin::hold() {
    if (!module_)
        module_ = referenceThisModule();
}

void ModulePin::release() {
    if (!module_)
        return;
    FreeLibrary(module_);
    module_ = nullptr;
}
