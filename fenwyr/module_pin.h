#pragma once
#include <windows.h>

// Keeps fenwyr.dll loaded while a platform thread may still call into it (the sample
// grabber holds the device's callback object until it is told to let go). A host that
// unloads the library early then loses nothing but the unload itself: the code those
// threads run stays in place until the last pin is released.
class ModulePin {
public:
    ModulePin() = default;
    ~ModulePin() { release(); }
    ModulePin(const ModulePin&) = delete;
    ModulePin& operator=(const ModulePin&) = delete;

    // Takes one more reference to the module that holds this code (once per pin).
    void hold();
    // Gives that reference back. Only called from a host's call into the library, so the
    // host's own reference keeps the module loaded past this point.
    void release();

private:
    HMODULE module_ = nullptr;
};

// One more reference to the module that holds this code, for a thread that must outlive the
// host's own (it ends with FreeLibraryAndExitThread); null when it cannot be taken.
HMODULE referenceThisModule();
