#include "device_controls.h"

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <optional>
#include <string>

namespace {

struct ControlName {
    const wchar_t* name;
    ControlFamily family;
    LONG property;
};

const ControlName kNames[] = {
    {L"brightness", ControlFamily::VideoProcAmp, VideoProcAmp_Brightness},
    {L"contrast", ControlFamily::VideoProcAmp, VideoProcAmp_Contrast},
    {L"hue", ControlFamily::VideoProcAmp, VideoProcAmp_Hue},
    {L"saturation", ControlFamily::VideoProcAmp, VideoProcAmp_Saturation},
    {L"sharpness", ControlFamily::VideoProcAmp, VideoProcAmp_Sharpness},
    {L"gamma", ControlFamily::VideoProcAmp, VideoProcAmp_Gamma},
    {L"colorenable", ControlFamily::VideoProcAmp, VideoProcAmp_ColorEnable},
    {L"whitebalance", ControlFamily::VideoProcAmp, VideoProcAmp_WhiteBalance},
    {L"backlightcompensation", ControlFamily::VideoProcAmp, VideoProcAmp_BacklightCompensation},
    {L"gain", ControlFamily::VideoProcAmp, VideoProcAmp_Gain},
    {L"pan", ControlFamily::CameraControl, CameraControl_Pan},
    {L"tilt", ControlFamily::CameraControl, CameraControl_Tilt},
    {L"roll", ControlFamily::CameraControl, CameraControl_Roll},
    {L"zoom", ControlFamily::CameraControl, CameraControl_Zoom},
    {L"exposure", ControlFamily::CameraControl, CameraControl_Exposure},
    {L"iris", ControlFamily::CameraControl, CameraControl_Iris},
    {L"focus", ControlFamily::CameraControl, CameraControl_Focus},
};

// The auto and manual flags have the same values in both families.
constexpr LONG kAuto = VideoProcAmp_Flags_Auto;
constexpr LONG kManual = VideoProcAmp_Flags_Manual;

std::wstring_view trim(std::wstring_view text) {
    while (!text.empty() && std::iswspace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && std::iswspace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::wstring lower(std::wstring_view text) {
    std::wstring result;
    for (wchar_t c : text)
        result += static_cast<wchar_t>(std::towlower(c));
    return result;
}

std::optional<LONG> parseLong(std::wstring_view text) {
    text = trim(text);
    if (text.empty() || text.size() > 11)
        return std::nullopt;
    std::wstring buffer(text);
    wchar_t* end = nullptr;
    long long value = std::wcstoll(buffer.c_str(), &end, 10);
    if (end != buffer.c_str() + buffer.size() || value < LONG_MIN || value > LONG_MAX)
        return std::nullopt;
    return static_cast<LONG>(value);
}

// The modes in order; 0 when any of them is unknown.
LONG parseModes(std::wstring_view text, LONG* first) {
    LONG caps = 0;
    *first = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring_view::npos)
            end = text.size();
        const std::wstring mode = lower(trim(text.substr(start, end - start)));
        LONG flag = mode == L"auto" ? kAuto : mode == L"manual" ? kManual : 0;
        if (!flag)
            return 0;
        if (!*first)
            *first = flag;
        caps |= flag;
        start = end + 1;
    }
    return caps;
}

bool onGrid(const ControlDefinition& definition, LONG value) {
    return value >= definition.min && value <= definition.max &&
           (static_cast<int64_t>(value) - definition.min) % definition.step == 0;
}

std::optional<ControlDefinition> parseControl(std::wstring_view text) {
    // NAME=MIN..MAX/STEP:DEFAULT:MODES
    const size_t equals = text.find(L'=');
    const size_t dots = text.find(L"..");
    const size_t slash = text.find(L'/');
    const size_t colon = text.find(L':');
    const size_t colon2 = colon == std::wstring_view::npos ? colon : text.find(L':', colon + 1);
    if (equals == std::wstring_view::npos || dots == std::wstring_view::npos || slash == std::wstring_view::npos ||
        colon2 == std::wstring_view::npos || !(equals < dots && dots < slash && slash < colon))
        return std::nullopt;

    ControlDefinition definition;
    const std::wstring name = lower(trim(text.substr(0, equals)));
    bool known = false;
    for (const auto& entry : kNames) {
        if (name == entry.name) {
            definition.family = entry.family;
            definition.property = entry.property;
            known = true;
        }
    }
    // A minimum may be negative: the range's ".." comes after its sign.
    auto min = parseLong(text.substr(equals + 1, dots - equals - 1));
    auto max = parseLong(text.substr(dots + 2, slash - dots - 2));
    auto step = parseLong(text.substr(slash + 1, colon - slash - 1));
    auto defaultValue = parseLong(text.substr(colon + 1, colon2 - colon - 1));
    if (!known || !min || !max || !step || !defaultValue || *min > *max || *step < 1)
        return std::nullopt;
    definition.min = *min;
    definition.max = *max;
    definition.step = *step;
    definition.defaultValue = *defaultValue;
    definition.caps = parseModes(text.substr(colon2 + 1), &definition.initialFlags);
    if (!definition.caps || !onGrid(definition, definition.defaultValue))
        return std::nullopt;
    return definition;
}

}  // namespace

std::vector<ControlDefinition> parseControlList(std::wstring_view text) {
    std::vector<ControlDefinition> definitions;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring_view::npos)
            end = text.size();
        if (auto definition = parseControl(text.substr(start, end - start))) {
            bool named = false;
            for (const auto& earlier : definitions)
                named |= earlier.family == definition->family && earlier.property == definition->property;
            if (!named)
                definitions.push_back(*definition);
        }
        start = end + 1;
    }
    return definitions;
}

void DeviceControls::configure(const std::vector<ControlDefinition>& definitions) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.clear();
    for (const auto& definition : definitions)
        settings_[{definition.family, definition.property}] =
            Setting{definition, definition.defaultValue, definition.initialFlags};
}

const DeviceControls::Setting* DeviceControls::find(ControlFamily family, LONG property) const {
    auto it = settings_.find({family, property});
    return it == settings_.end() ? nullptr : &it->second;
}

bool DeviceControls::offers(ControlFamily family) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, setting] : settings_)
        if (key.first == family)
            return true;
    return false;
}

HRESULT DeviceControls::getRange(ControlFamily family, LONG property, LONG* min, LONG* max, LONG* step,
                                 LONG* defaultValue, LONG* caps) const {
    if (!min || !max || !step || !defaultValue || !caps)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    const Setting* setting = find(family, property);
    if (!setting)
        return E_PROP_ID_UNSUPPORTED;
    *min = setting->definition.min;
    *max = setting->definition.max;
    *step = setting->definition.step;
    *defaultValue = setting->definition.defaultValue;
    *caps = setting->definition.caps;
    return S_OK;
}

HRESULT DeviceControls::get(ControlFamily family, LONG property, LONG* value, LONG* flags) const {
    if (!value || !flags)
        return E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    const Setting* setting = find(family, property);
    if (!setting)
        return E_PROP_ID_UNSUPPORTED;
    *value = setting->value;
    *flags = setting->flags;
    return S_OK;
}

HRESULT DeviceControls::set(ControlFamily family, LONG property, LONG value, LONG flags) {
    countSetCall();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = settings_.find({family, property});
    if (it == settings_.end())
        return E_PROP_ID_UNSUPPORTED;
    Setting& setting = it->second;
    const ControlDefinition& definition = setting.definition;
    if ((flags != kAuto && flags != kManual) || !(definition.caps & flags) || !onGrid(definition, value))
        return E_INVALIDARG;
    setting.value = value;
    setting.flags = flags;
    return S_OK;
}

double DeviceControls::offset(ControlFamily family, LONG property, bool shareOfRange) const {
    const Setting* setting = find(family, property);
    if (!setting || setting->flags != kManual)
        return 0;
    const double difference = static_cast<double>(setting->value) - setting->definition.defaultValue;
    if (!shareOfRange)
        return difference;
    const double range = static_cast<double>(setting->definition.max) - setting->definition.min;
    return range > 0 ? difference / range : 0;
}

PictureTone DeviceControls::tone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    PictureTone tone;
    const double brightness = offset(ControlFamily::VideoProcAmp, VideoProcAmp_Brightness, false);
    tone.brightness = static_cast<int>(std::fmax(-512.0, std::fmin(512.0, brightness)));
    tone.contrast = 1.0 + offset(ControlFamily::VideoProcAmp, VideoProcAmp_Contrast, true);
    tone.gain = 1.0 + offset(ControlFamily::VideoProcAmp, VideoProcAmp_Gain, true);
    return tone;
}

REFERENCE_TIME DeviceControls::exposureTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Setting* exposure = find(ControlFamily::CameraControl, CameraControl_Exposure);
    if (!exposure || exposure->flags != kManual)
        return 0;
    // The platform's unit: a value of v exposes for 2^v seconds (kept within 2^-64 .. 2^16 s).
    const double seconds = std::ldexp(1.0, static_cast<int>(std::fmax(-64.0, std::fmin(16.0, exposure->value))));
    return static_cast<REFERENCE_TIME>(std::llround(seconds * 1e7));
}

void countSetCall() {
    // In the process environment, so the count outlives unloading of this DLL.
    wchar_t buffer[32] = L"";
    unsigned long calls = 0;
    if (GetEnvironmentVariableW(kControlSetCallsVariable, buffer, 32) > 0)
        calls = std::wcstoul(buffer, nullptr, 10);
    std::swprintf(buffer, 32, L"%lu", calls + 1);
    SetEnvironmentVariableW(kControlSetCallsVariable, buffer);
}
