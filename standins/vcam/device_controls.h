#pragma once
#include <windows.h>
#include <dshow.h>

#include <map>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "picture_tone.h"

// The two families of camera settings a capture filter exposes.
enum class ControlFamily { VideoProcAmp, CameraControl };

// One setting as configured: "NAME=MIN..MAX/STEP:DEFAULT:MODES", MODES a comma-separated list of
// auto and manual, the first being the mode the device starts in.
struct ControlDefinition {
    ControlFamily family = ControlFamily::VideoProcAmp;
    LONG property = 0;  // VideoProcAmp_* or CameraControl_*
    LONG min = 0, max = 0, step = 1, defaultValue = 0;
    LONG caps = 0;      // the modes offered: 1 auto, 2 manual
    LONG initialFlags = 0;
};

// A ';'-separated list; malformed entries (unknown name, empty or inverted range, step below 1,
// default outside the range or off its step grid, unknown mode) are left out, as is a setting
// named a second time.
std::vector<ControlDefinition> parseControlList(std::wstring_view text);

// The device's settings for the filter's life: their ranges and current values, shared by the
// control interfaces and the streaming thread, which paints and paces by them.
class DeviceControls {
public:
    void configure(const std::vector<ControlDefinition>& definitions);

    // Whether any setting of the family is there (otherwise the filter lacks its interface).
    bool offers(ControlFamily family) const;
    // E_PROP_ID_UNSUPPORTED for a setting the device does not have.
    HRESULT getRange(ControlFamily family, LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue,
                     LONG* caps) const;
    HRESULT get(ControlFamily family, LONG property, LONG* value, LONG* flags) const;
    // E_INVALIDARG for a value outside the range or off its step grid, or a mode not offered.
    HRESULT set(ControlFamily family, LONG property, LONG value, LONG flags);

    // What brightness, contrast and gain do to the picture.
    PictureTone tone() const;
    // How long a manual exposure takes in 100 ns units; 0 when exposure is automatic or absent.
    REFERENCE_TIME exposureTime() const;

private:
    struct Setting {
        ControlDefinition definition;
        LONG value = 0;
        LONG flags = 0;
    };
    using Key = std::pair<ControlFamily, LONG>;
    const Setting* find(ControlFamily family, LONG property) const;
    // How far a manual setting is from its default, as a share of its range (0 when automatic).
    double offset(ControlFamily family, LONG property, bool shareOfRange) const;

    mutable std::mutex mutex_;
    std::map<Key, Setting> settings_;
};

// Every Set call that reached a setting of any device in this process, whatever its result, is
// counted in this environment variable (decimal), so tests can see which calls got through.
constexpr const wchar_t* kControlSetCallsVariable = L"VCAM_CONTROL_SET_CALLS";
void countSetCall();
