#pragma once
#include <windows.h>
#include <ocidl.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture_card.h"
#include "device_controls.h"
#include "video_format.h"

// What one device is, as its registry key describes it (read through the moniker's property bag).
struct DeviceConfig {
    std::wstring name;                                  // FriendlyName
    std::optional<std::wstring> devicePath;             // DevicePath; real devices may have none
    std::vector<VideoFormat> formats = defaultVideoFormats();
    DWORD tag = 0;
    std::vector<ControlDefinition> controls;                  // Controls; none: no control interfaces
    // CaptureCard: a crossbar (CrossbarInputs) and an analog video decoder (VideoStandards).
    bool captureCard = false;
    std::vector<CardInput> cardInputs = defaultCardInputs();
    DWORD videoStandards = kDefaultVideoStandards;
    // Fault switches, for tests that need a misbehaving device.
    bool noStreamConfig = false;
    bool noPropertyPages = false;
    bool failJoin = false;
    std::optional<DWORD> failLoadAfter;
    std::set<int> failStreamCaps;
    std::set<int> failConnect;
    std::set<int> failPause;
    bool strictConnect = false;
    DWORD capsSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    DWORD frameLimit = 0;
    DWORD dropEvery = 0;
    DWORD truncateEvery = 0;
    DWORD stallAfter = 0;
    DWORD endOfStreamAfter = 0;
    DWORD newTypeAfter = 0;
    DWORD cutScanEvery = 0;
    DWORD truncateBytes = 0;
    bool unthrottled = false;
    bool greyRamp = false;
    bool xByteZero = false;
};

// Reads every value the device understands; absent values keep their defaults.
HRESULT loadDeviceConfig(IPropertyBag* bag, DeviceConfig& config);

// Counts one property-bag load of the named device in this process and tells whether it may
// succeed: the first `allowed` loads do. The count outlives unloading of this DLL.
bool admitLoad(const std::wstring& name, DWORD allowed);
