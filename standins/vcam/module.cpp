// DLL entry points of the COM server: class objects and unloading.
#include "module.h"

#include <atomic>
#include <new>

#include "class_factory.h"
#include "guids.h"

namespace {
HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace

HMODULE moduleHandle() { return g_module; }
void moduleAddObject() { ++g_objects; }
void moduleReleaseObject() { --g_objects; }
void moduleLock(bool lock) {
    if (lock)
        ++g_locks;
    else
        --g_locks;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_VirtualCameraFilter && clsid != CLSID_VirtualCameraPropertyPage)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory(clsid);
    if (!factory)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() {
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
