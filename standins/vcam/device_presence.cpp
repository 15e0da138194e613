#include "device_presence.h"

#include <objbase.h>

#include <cwctype>
#include <vector>

#include "guids.h"

namespace {

constexpr DWORD kMaxNameLength = 256;

std::wstring instanceRoot() {
    wchar_t category[40] = L"";
    StringFromGUID2(CLSID_VideoInputCategory, category, 40);
    return std::wstring(L"CLSID\\") + category + L"\\Instance";
}

std::optional<std::wstring> readString(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer.data());
}

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i]))
            return false;
    return true;
}

}  // namespace

std::wstring DevicePresence::findDeviceKey(const std::wstring& name, const std::optional<std::wstring>& devicePath) {
    const std::wstring root = instanceRoot();
    HKEY instances = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, root.c_str(), 0, KEY_READ, &instances) != ERROR_SUCCESS)
        return {};
    wchar_t clsid[40] = L"";
    StringFromGUID2(CLSID_VirtualCameraFilter, clsid, 40);
    std::wstring found;
    wchar_t subkey[kMaxNameLength];
    for (DWORD i = 0; found.empty(); ++i) {
        DWORD length = kMaxNameLength;
        if (RegEnumKeyExW(instances, i, subkey, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY device = nullptr;
        if (RegOpenKeyExW(instances, subkey, 0, KEY_READ, &device) != ERROR_SUCCESS)
            continue;
        auto itsClass = readString(device, L"CLSID");
        auto itsName = readString(device, L"FriendlyName");
        auto itsPath = readString(device, L"DevicePath");
        RegCloseKey(device);
        if (!itsClass || !equalsIgnoringCase(*itsClass, clsid))
            continue;
        const bool match = devicePath ? itsPath && *itsPath == *devicePath : !itsPath && itsName && *itsName == name;
        if (match)
            found = root + L"\\" + std::wstring(subkey, length);
    }
    RegCloseKey(instances);
    return found;
}

void DevicePresence::watch(const std::wstring& keyPath) {
    std::lock_guard<std::mutex> lock(mutex_);
    keyPath_ = keyPath;
    present_ = true;
}

bool DevicePresence::present() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}

std::optional<bool> DevicePresence::poll() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (keyPath_.empty())
        return std::nullopt;
    // A key that cannot be read (being removed with the device's registration) tells nothing.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD unplugged = 0, size = sizeof(unplugged), type = 0;
    if (RegQueryValueExW(key, L"Unplugged", nullptr, &type, reinterpret_cast<BYTE*>(&unplugged), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        unplugged = 0;
    RegCloseKey(key);
    const bool present = unplugged == 0;
    if (present == present_)
        return std::nullopt;
    present_ = present;
    return present;
}
