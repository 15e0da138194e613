#include "vcam_devices.h"

#include <objbase.h>

#include <stdexcept>

namespace {

const CLSID kFilterClsid = {0xEAA15466, 0x3846, 0x4E8B, {0xA8, 0x6D, 0x3C, 0x5D, 0xB1, 0xFA, 0xFD, 0x23}};
const CLSID kPageClsid = {0xA87FE209, 0x0F7A, 0x40FC, {0x8F, 0x4C, 0x02, 0xD2, 0x53, 0xF4, 0x0B, 0x71}};
const wchar_t kInstanceRoot[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = L"";
    StringFromGUID2(guid, text, 40);
    return text;
}

void check(LONG status, const char* what) {
    if (status != ERROR_SUCCESS)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(status));
}

class Key {
public:
    Key(HKEY parent, const std::wstring& path) {
        check(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              "RegCreateKeyEx");
    }
    ~Key() { RegCloseKey(key_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    void setString(const wchar_t* name, const std::wstring& value) {
        check(RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              "RegSetValueEx");
    }
    void setDword(const wchar_t* name, DWORD value) {
        check(RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
              "RegSetValueEx");
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

void deleteTree(const std::wstring& path) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
}

void registerClass(REFCLSID clsid, const std::wstring& path) {
    Key server(HKEY_CLASSES_ROOT, L"CLSID\\" + guidText(clsid) + L"\\InprocServer32");
    server.setString(nullptr, path);
    server.setString(L"ThreadingModel", L"Both");
}

void clearCategory() {
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstanceRoot, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS)
        return;
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    for (const auto& key : names) {
        RegDeleteTreeW(root, key.c_str());
        RegDeleteKeyW(root, key.c_str());
    }
    RegCloseKey(root);
}

}  // namespace

std::wstring vcamDllPath() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length);
    return program.substr(0, program.find_last_of(L"\\/") + 1) + L"vcam.dll";
}

const CLSID& vcamPropertyPageClsid() { return kPageClsid; }

const CLSID& VcamDevices::filterClsid() { return kFilterClsid; }

VcamDevices::VcamDevices() {
    const std::wstring path = vcamDllPath();
    registerClass(kFilterClsid, path);
    registerClass(kPageClsid, path);
    clearCategory();
}

VcamDevices::VcamDevices(const std::vector<VcamDevice>& devices) : VcamDevices() {
    for (const auto& device : devices)
        add(device);
}

VcamDevices::~VcamDevices() {
    for (const auto& key : addedKeys_)
        deleteTree(std::wstring(kInstanceRoot) + L"\\" + key);
    deleteTree(L"CLSID\\" + guidText(kFilterClsid));
    deleteTree(L"CLSID\\" + guidText(kPageClsid));
}

void VcamDevices::remove(const std::wstring& key) {
    deleteTree(std::wstring(kInstanceRoot) + L"\\" + key);
}

void VcamDevices::add(const VcamDevice& device) {
    const std::wstring path = std::wstring(kInstanceRoot) + L"\\" + device.key;
    deleteTree(path);
    Key key(HKEY_CLASSES_ROOT, path);
    addedKeys_.push_back(device.key);
    key.setString(L"FriendlyName", device.name);
    key.setString(L"CLSID", guidText(kFilterClsid));
    if (device.formats)
        key.setString(L"Formats", *device.formats);
    key.setDword(L"Tag", device.tag);
    for (const auto& [name, value] : device.dwords)
        key.setDword(name.c_str(), value);
    for (const auto& [name, value] : device.strings)
        key.setString(name.c_str(), value);
    if (device.devicePath)
        key.setString(L"DevicePath", *device.devicePath);
}

void VcamDevices::setDword(const std::wstring& key, const std::wstring& name, DWORD value) {
    Key device(HKEY_CLASSES_ROOT, std::wstring(kInstanceRoot) + L"\\" + key);
    device.setDword(name.c_str(), value);
}
