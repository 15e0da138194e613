#pragma once
#include <windows.h>

// The DLL's own instance handle (for its path and its dialogs).
HMODULE moduleHandle();

// Live COM objects and server locks; the DLL may be unloaded when both are zero.
void moduleAddObject();
void moduleReleaseObject();
void moduleLock(bool lock);

// Counts one live object of the server for as long as it exists.
class ModuleObjectCount {
public:
    ModuleObjectCount() { moduleAddObject(); }
    ~ModuleObjectCount() { moduleReleaseObject(); }
    ModuleObjectCount(const ModuleObjectCount&) = delete;
    ModuleObjectCount& operator=(const ModuleObjectCount&) = delete;
};
