// regsvr32 support: the two COM classes, and two devices for the demo.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "guids.h"
#include "module.h"

namespace {

struct DemoDevice {
    const wchar_t* key;
    const wchar_t* name;
    const wchar_t* formats;
    DWORD tag;
};

const DemoDevice kDemoDevices[] = {
    {L"VirtualCameraA", L"Virtual Camera A", L"640x480@30 YUY2;1280x720@30 MJPG;320x240@15 RGB24;640x480@30 RGB32",
     0xA},
    {L"VirtualCameraB", L"Virtual Camera B", L"1280x720@30 YUY2;640x480@60 MJPG;800x600@15 RGB24;320x240@30 NV12",
     0xB},
};

std::wstring guidString(REFGUID guid) {
    wchar_t text[40] = L"";
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring classKey(REFCLSID clsid) { return L"CLSID\\" + guidString(clsid); }

std::wstring instanceKey(const wchar_t* name) {
    return L"CLSID\\" + guidString(CLSID_VideoInputCategory) + L"\\Instance\\" + name;
}

LONG setString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG setDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG registerClass(REFCLSID clsid, const wchar_t* description, const std::wstring& path) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, classKey(clsid).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = setString(key, nullptr, description);
    HKEY server = nullptr;
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
    if (status == ERROR_SUCCESS) {
        status = setString(server, nullptr, path);
        // Objects are used from the host's apartment and from the streaming thread alike.
        if (status == ERROR_SUCCESS)
            status = setString(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    RegCloseKey(key);
    return status;
}

LONG registerDevice(const DemoDevice& device) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, instanceKey(device.key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = setString(key, L"FriendlyName", device.name);
    if (status == ERROR_SUCCESS)
        status = setString(key, L"CLSID", guidString(CLSID_VirtualCameraFilter));
    if (status == ERROR_SUCCESS)
        status = setString(key, L"Formats", device.formats);
    if (status == ERROR_SUCCESS)
        status = setDword(key, L"Tag", device.tag);
    RegCloseKey(key);
    return status;
}

LONG deleteTree(const std::wstring& path) {
    LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        status = RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG unregisterAll() {
    LONG result = ERROR_SUCCESS;
    for (const auto& device : kDemoDevices) {
        LONG status = deleteTree(instanceKey(device.key));
        if (status != ERROR_SUCCESS)
            result = status;
    }
    for (REFCLSID clsid : {CLSID_VirtualCameraFilter, CLSID_VirtualCameraPropertyPage}) {
        LONG status = deleteTree(classKey(clsid));
        if (status != ERROR_SUCCESS)
            result = status;
    }
    return result;
}

}  // namespace

STDAPI DllRegisterServer() {
    try {
        wchar_t path[MAX_PATH];
        DWORD length = GetModuleFileNameW(moduleHandle(), path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return SELFREG_E_CLASS;
        LONG status = registerClass(CLSID_VirtualCameraFilter, L"Virtual Camera", path);
        if (status == ERROR_SUCCESS)
            status = registerClass(CLSID_VirtualCameraPropertyPage, L"Virtual Camera Property Page", path);
        for (const auto& device : kDemoDevices)
            if (status == ERROR_SUCCESS)
                status = registerDevice(device);
        if (status != ERROR_SUCCESS) {
            unregisterAll();
            return HRESULT_FROM_WIN32(status);
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer() {
    try {
        LONG status = unregisterAll();
        return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
