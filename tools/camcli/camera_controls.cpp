#include "camera_controls.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "arguments.h"

namespace {

// E_PROP_ID_UNSUPPORTED: the device lacks the control.
constexpr HRESULT kUnsupported = static_cast<HRESULT>(0x80070490L);

const struct {
    int32_t id;
    const char* name;
} kControls[] = {
    {FENWYR_CONTROL_BRIGHTNESS, "brightness"},
    {FENWYR_CONTROL_CONTRAST, "contrast"},
    {FENWYR_CONTROL_HUE, "hue"},
    {FENWYR_CONTROL_SATURATION, "saturation"},
    {FENWYR_CONTROL_SHARPNESS, "sharpness"},
    {FENWYR_CONTROL_GAMMA, "gamma"},
    {FENWYR_CONTROL_COLOR_ENABLE, "colorenable"},
    {FENWYR_CONTROL_WHITE_BALANCE, "whitebalance"},
    {FENWYR_CONTROL_BACKLIGHT_COMPENSATION, "backlightcompensation"},
    {FENWYR_CONTROL_GAIN, "gain"},
    {FENWYR_CONTROL_PAN, "pan"},
    {FENWYR_CONTROL_TILT, "tilt"},
    {FENWYR_CONTROL_ROLL, "roll"},
    {FENWYR_CONTROL_ZOOM, "zoom"},
    {FENWYR_CONTROL_EXPOSURE, "exposure"},
    {FENWYR_CONTROL_IRIS, "iris"},
    {FENWYR_CONTROL_FOCUS, "focus"},
};

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

const char* modeName(int32_t flags) {
    return flags == FENWYR_CONTROL_AUTO ? "auto" : flags == FENWYR_CONTROL_MANUAL ? "manual" : "?";
}

std::string modesText(int32_t capsFlags) {
    std::string modes;
    if (capsFlags & FENWYR_CONTROL_MANUAL)
        modes = "manual";
    if (capsFlags & FENWYR_CONTROL_AUTO)
        modes += modes.empty() ? "auto" : ",auto";
    return modes.empty() ? "-" : modes;
}

// Why a valid-looking setting was refused, from the control's range and modes (fenwyr's checks).
std::string refusal(const ControlSetting& s, const ControlInfo& info) {
    if (s.kind == ControlSetting::Auto && !(info.capsFlags & FENWYR_CONTROL_AUTO))
        return "no auto";
    if (s.kind != ControlSetting::Auto && !(info.capsFlags & FENWYR_CONTROL_MANUAL))
        return "no manual";
    if (s.kind == ControlSetting::Value) {
        if (s.value < info.min || s.value > info.max)
            return "out of range " + std::to_string(info.min) + ".." + std::to_string(info.max);
        if (info.step > 0 && (static_cast<long long>(s.value) - info.min) % info.step != 0)
            return "off its steps (" + std::to_string(info.min) + " + k * " + std::to_string(info.step) + ")";
    }
    return "invalid for this control";
}

} // namespace

const char* controlName(int32_t control) {
    for (const auto& c : kControls)
        if (c.id == control)
            return c.name;
    return nullptr;
}

ControlSetting parseControlSetting(const std::string& word) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos)
        throw UsageError("--set takes NAME=VALUE, NAME=auto or NAME=manual, not '" + word + "'");
    const std::string name = lowered(word.substr(0, equals));
    const std::string value = lowered(word.substr(equals + 1));
    ControlSetting setting{word, -1, ControlSetting::Value, 0};
    for (const auto& c : kControls)
        if (name == c.name)
            setting.control = c.id;
    if (setting.control < 0)
        throw UsageError("there is no control '" + word.substr(0, equals) +
                         "'; names: brightness, contrast, hue, saturation, sharpness, gamma, colorenable, "
                         "whitebalance, backlightcompensation, gain, pan, tilt, roll, zoom, exposure, iris, focus");
    if (value == "auto") {
        setting.kind = ControlSetting::Auto;
    } else if (value == "manual") {
        setting.kind = ControlSetting::Manual;
    } else {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || errno || n < INT32_MIN || n > INT32_MAX)
            throw UsageError("the value of " + name + " must be a whole number, auto or manual, not '" +
                             word.substr(equals + 1) + "'");
        setting.value = static_cast<int32_t>(n);
    }
    return setting;
}

int applyControlSetting(const FenwyrApi& api, int device, const ControlSetting& s) {
    const char* name = controlName(s.control);
    ControlInfo info{};
    HRESULT hr = api.getControl(device, s.control, &info);
    if (hr == kUnsupported) {
        std::printf("%s refused: the device has no %s\n", s.text.c_str(), name);
        return 2;
    }
    if (hr == S_OK) {
        // Manual without a value keeps the control where it is now.
        const int32_t value = s.kind == ControlSetting::Value ? s.value : info.value;
        hr = api.setControl(device, s.control, value,
                            s.kind == ControlSetting::Auto ? FENWYR_CONTROL_AUTO : FENWYR_CONTROL_MANUAL);
        if (hr == E_INVALIDARG) {
            std::printf("%s refused: %s\n", s.text.c_str(), refusal(s, info).c_str());
            return 2;
        }
    }
    if (hr == S_OK)
        hr = api.getControl(device, s.control, &info);
    if (hr != S_OK) {
        std::printf("%s failed: 0x%08lX\n", s.text.c_str(), static_cast<unsigned long>(hr));
        return 1;
    }
    // What the device holds now, read back rather than assumed.
    std::printf("%s: %ld (%s)\n", name, static_cast<long>(info.value), modeName(info.flags));
    return 0;
}

bool printControls(const FenwyrApi& api, int device) {
    bool any = false;
    for (const auto& c : kControls) {
        ControlInfo info{};
        const HRESULT hr = api.getControl(device, c.id, &info);
        if (hr == kUnsupported)
            continue;
        if (!any)
            std::printf("control                     min     max  step default   value  mode    modes\n");
        any = true;
        if (hr != S_OK) {
            std::printf("%-22s  cannot be read: 0x%08lX\n", c.name, static_cast<unsigned long>(hr));
            continue;
        }
        std::printf("%-22s %7ld %7ld %5ld %7ld %7ld  %-6s  %s\n", c.name, static_cast<long>(info.min),
                    static_cast<long>(info.max), static_cast<long>(info.step), static_cast<long>(info.defaultValue),
                    static_cast<long>(info.value), modeName(info.flags), modesText(info.capsFlags).c_str());
    }
    return any;
}
