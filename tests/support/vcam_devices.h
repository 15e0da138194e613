#pragma once
#include <windows.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct VcamDevice {
    std::wstring key;                              // instance key name; devices enumerate sorted by it
    std::wstring name;                             // FriendlyName
    std::optional<std::wstring> formats;           // Formats; nullopt: value absent (default list)
    DWORD tag = 0;                                 // Tag
    std::map<std::wstring, DWORD> dwords;          // switches: NoStreamConfig, FrameLimit, DropEvery, Unplugged, ...
    std::map<std::wstring, std::wstring> strings;  // FailStreamCaps, Controls, ...
    std::optional<std::wstring> devicePath = std::nullopt;  // DevicePath; nullopt: none, as some real devices
};

// A device with the given formats and Tag, and no fault switches.
inline VcamDevice vcamDevice(const std::wstring& key, const std::wstring& name, const std::wstring& formats,
                             DWORD tag = 0) {
    VcamDevice device;
    device.key = key;
    device.name = name;
    device.formats = formats;
    device.tag = tag;
    return device;
}

// Registers the virtual device's COM classes (vcam.dll beside the running test program) for the
// lifetime of the object, removes every instance key in the video-input category first (the test
// starts from an empty category), and removes the keys it added and the classes when destroyed.
class VcamDevices {
public:
    VcamDevices();
    explicit VcamDevices(const std::vector<VcamDevice>& devices);
    ~VcamDevices();
    void add(const VcamDevice& device);
    // Takes a device out of the category, as unplugging it does to a real one.
    void remove(const std::wstring& key);
    // Writes a REG_DWORD on a device's key while it is in use, e.g. `Unplugged` 1 to unplug it
    // and 0 to plug it back.
    static void setDword(const std::wstring& key, const std::wstring& name, DWORD value);
    static const CLSID& filterClsid();

    VcamDevices(const VcamDevices&) = delete;
    VcamDevices& operator=(const VcamDevices&) = delete;

private:
    std::vector<std::wstring> addedKeys_;
};
// Tests that touch the registry use add_wine_gtest(... LOCK registry).

// Class id of the device's property page.
const CLSID& vcamPropertyPageClsid();
// Full path of vcam.dll beside the running test program.
std::wstring vcamDllPath();
