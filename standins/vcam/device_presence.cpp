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

// A REG_DWORD of the key (0 when it has none); nullopt when the key cannot be read.
std::optional<DWORD> readNumber(const std::wstring& keyPath, const wchar_t* name) {
    HKEY key = nullptr;
    if (keyPath.empty() || RegOpenKeyExW(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        value = 0;
    RegCloseKey(key);
    return value;
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
    // A key that cannot be read (being removed with the device's registration) tells nothing.
    const std::optional<DWORD> unplugged = readNumber(keyPath_, L"Unplugged");
    if (!unplugged)
        return std::nullopt;
    const bool present = *unplugged == 0;
    if (present == present_)
        return std::nullopt;
    present_ = present;
    return present;
}

bool DevicePresence::frozen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readNumber(keyPath_, L"Frozen").value_or(0) != 0;
}

bool DevicePresence::noSignal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readNumber(keyPath_, L"NoSignal").value_or(0) != 0;
}

bool DevicePresence::takeFailingBind(const std::wstring& keyPath) {
    const DWORD left = readNumber(keyPath, L"FailNextBinds").value_or(0);
    if (left == 0)
        return false;
    const DWORD now = left - 1;
    RegSetKeyValueW(HKEY_CLASSES_ROOT, keyPath.c_str(), L"FailNextBinds", REG_DWORD, &now, sizeof(now));
    return true;
}
