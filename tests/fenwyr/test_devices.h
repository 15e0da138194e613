#pragma once
#include <windows.h>
#include <objbase.h>

#include <optional>
#include <string>

#include "vcam_devices.h"

// Small frames keep the tests quick: 160 x 120 RGB24 frames of 57600 bytes, 30 per second.
constexpr const wchar_t* kSmallFormat = L"160x120@30 RGB24";
constexpr int32_t kSmallFrameBytes = 160 * 120 * 3;

inline VcamDevice camera(const std::wstring& key, const std::wstring& name, DWORD tag = 0) {
    VcamDevice device;
    device.key = key;
    device.name = name;
    device.formats = std::wstring(kSmallFormat);
    device.tag = tag;
    return device;
}

inline VcamDevice withSwitch(VcamDevice device, const std::wstring& name, DWORD value = 1) {
    device.dwords[name] = value;
    return device;
}

// COM initialised by the test itself, as a host may do: init then finds it initialised, and
// what uninit leaves behind (the running object table) can still be looked at afterwards.
class ComApartment {
public:
    ComApartment() { CoInitialize(nullptr); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};
