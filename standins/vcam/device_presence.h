#pragma once
#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

// Whether the device is plugged in, as its registry key says: a REG_DWORD `Unplugged` of 1 means
// removed, 0 or absent means present. Tests flip it from any process; the streaming thread polls
// it while the device streams. The device is present until a poll says otherwise.
class DevicePresence {
public:
    // Finds the device's key under the video-input category (relative to HKEY_CLASSES_ROOT): the
    // first key of this filter class with the same DevicePath, or with the same FriendlyName when
    // the device has no DevicePath. Empty when there is none (the device is then always present).
    static std::wstring findDeviceKey(const std::wstring& name, const std::optional<std::wstring>& devicePath);

    // Watches the given key from now on; the device counts as present.
    void watch(const std::wstring& keyPath);
    bool present() const;
    // Reads the key; returns the new presence when it changed since the last poll.
    std::optional<bool> poll();
    // Reads the key's `Frozen`: 1 means the device is there but sends nothing (a hung driver).
    bool frozen() const;
    // Reads the key's `NoSignal`: 1 means a capture card's decoder has no signal to lock onto.
    bool noSignal() const;
    // One failing bind: true, and the key's `FailNextBinds` counted down, while that is above 0.
    static bool takeFailingBind(const std::wstring& keyPath);

private:
    mutable std::mutex mutex_;
    std::wstring keyPath_;
    bool present_ = true;
};
