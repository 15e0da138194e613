#include "module_pin.h"

void ModulePin::hold() {
    if (module_)
        return;
    // Any address inside this module names it; the flag makes the call count a reference.
    static const char anchor = 0;
    HMODULE module = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&anchor), &module))
        module_ = module;
}

void ModulePin::release() {
    if (!module_)
        return;
    FreeLibrary(module_);
    module_ = nullptr;
}
