#pragma once
#include <string>

#include "guids.h"
#include "fenwyr.h"

// Which device a record stands for: what its moniker's property bag says, and the key that
// finds the same device again on a later enumeration.
struct DeviceIdentityText {
    std::wstring friendlyName;
    std::wstring devicePath;   // empty when the device has none
    std::wstring monikerName;  // the moniker's display name

    // The same device: same path, or for devices without one the same moniker display name.
    bool sameDevice(const DeviceIdentityText& other) const;
};

// Reads the identity of an enumerated device; what cannot be read stays empty.
DeviceIdentityText readIdentity(IMoniker* moniker);
// The record as the host sees it: UTF-8, cut at character boundaries.
void fillIdentity(const DeviceIdentityText& text, int32_t index, DeviceIdentity& identity);
// True when `pathOrName` (UTF-8) equals the path, ASCII case ignored.
bool pathEquals(const DeviceIdentityText& text, const char* pathOrName);
// True when `pathOrName` (UTF-8) equals the friendly name exactly.
bool nameEquals(const DeviceIdentityText& text, const char* pathOrName);
