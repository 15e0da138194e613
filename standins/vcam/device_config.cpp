#include "device_config.h"

#include <dshow.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

class Variant {
public:
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT value;
};

std::optional<std::wstring> readString(IPropertyBag* bag, const wchar_t* name) {
    Variant v;
    if (FAILED(bag->Read(name, &v.value, nullptr)) || v.value.vt != VT_BSTR)
        return std::nullopt;
    return std::wstring(v.value.bstrVal ? v.value.bstrVal : L"", v.value.bstrVal ? SysStringLen(v.value.bstrVal) : 0);
}

std::optional<DWORD> readNumber(IPropertyBag* bag, const wchar_t* name) {
    Variant v;
    if (FAILED(bag->Read(name, &v.value, nullptr)))
        return std::nullopt;
    switch (v.value.vt) {
    case VT_I4: return static_cast<DWORD>(v.value.lVal);
    case VT_UI4: return static_cast<DWORD>(v.value.ulVal);
    case VT_INT: return static_cast<DWORD>(v.value.intVal);
    case VT_UINT: return static_cast<DWORD>(v.value.uintVal);
    default: return std::nullopt;
    }
}

bool readSwitch(IPropertyBag* bag, const wchar_t* name) {
    auto value = readNumber(bag, name);
    return value && *value != 0;
}

std::set<int> parseIndexList(const std::wstring& text) {
    std::set<int> indexes;
    const wchar_t* p = text.c_str();
    while (*p) {
        while (*p && !std::iswdigit(*p))
            ++p;
        if (!*p)
            break;
        wchar_t* end = nullptr;
        long value = std::wcstol(p, &end, 10);
        if (value >= 0 && value < 0x10000000)
            indexes.insert(static_cast<int>(value));
        p = end;
    }
    return indexes;
}

}  // namespace

HRESULT loadDeviceConfig(IPropertyBag* bag, DeviceConfig& config) {
    if (!bag)
        return E_POINTER;
    if (auto name = readString(bag, L"FriendlyName"))
        config.name = *name;
    config.devicePath = readString(bag, L"DevicePath");
    if (auto formats = readString(bag, L"Formats"))
        config.formats = parseVideoFormatList(*formats);
    // Frames stay as the subtype makes them; only the format block says otherwise.
    if (auto bits = readNumber(bag, L"BitCount"))
        for (VideoFormat& format : config.formats)
            format.declaredBitCount = static_cast<WORD>(*bits);
    if (auto side = readNumber(bag, L"HugeJpegSide"))
        for (VideoFormat& format : config.formats)
            if (format.layout == PixelLayout::Mjpg)
                format.declaredSide = static_cast<LONG>(std::min<DWORD>(*side, 65535));
    if (auto tag = readNumber(bag, L"Tag"))
        config.tag = *tag;
    if (auto controls = readString(bag, L"Controls"))
        config.controls = parseControlList(*controls);
    config.captureCard = readSwitch(bag, L"CaptureCard");
    if (auto inputs = readString(bag, L"CrossbarInputs"))
        config.cardInputs = parseCardInputs(*inputs);
    if (auto standards = readNumber(bag, L"VideoStandards"))
        config.videoStandards = *standards;
    config.noStreamConfig = readSwitch(bag, L"NoStreamConfig");
    config.noPropertyPages = readSwitch(bag, L"NoPropertyPages");
    config.failJoin = readSwitch(bag, L"FailJoin");
    config.unthrottled = readSwitch(bag, L"Unthrottled");
    config.greyRamp = readSwitch(bag, L"GreyRamp");
    config.xByteZero = readSwitch(bag, L"XByteZero");
    config.failLoadAfter = readNumber(bag, L"FailLoadAfter");
    if (auto failing = readString(bag, L"FailStreamCaps"))
        config.failStreamCaps = parseIndexList(*failing);
    if (auto refused = readString(bag, L"FailConnect"))
        config.failConnect = parseIndexList(*refused);
    if (auto failing = readString(bag, L"FailPause"))
        config.failPause = parseIndexList(*failing);
    config.strictConnect = readSwitch(bag, L"StrictConnect");
    if (auto size = readNumber(bag, L"CapsSize"))
        config.capsSize = *size;
    if (auto limit = readNumber(bag, L"FrameLimit"))
        config.frameLimit = *limit;
    if (auto every = readNumber(bag, L"DropEvery"))
        config.dropEvery = *every;
    if (auto every = readNumber(bag, L"TruncateEvery"))
        config.truncateEvery = *every;
    if (auto after = readNumber(bag, L"StallAfter"))
        config.stallAfter = *after;
    if (auto after = readNumber(bag, L"EndOfStreamAfter"))
        config.endOfStreamAfter = *after;
    if (auto after = readNumber(bag, L"NewTypeAfter"))
        config.newTypeAfter = *after;
    if (auto every = readNumber(bag, L"CutScanEvery"))
        config.cutScanEvery = *every;
    if (auto bytes = readNumber(bag, L"TruncateBytes"))
        config.truncateBytes = *bytes;
    return S_OK;
}

bool admitLoad(const std::wstring& name, DWORD allowed) {
    // The process environment keeps the count: the DLL may be unloaded between two binds.
    std::wstring variable = L"VCAM_LOADS_";
    for (wchar_t c : name)
        variable += std::iswalnum(c) ? c : L'_';
    wchar_t buffer[32] = L"";
    DWORD loads = 0;
    if (GetEnvironmentVariableW(variable.c_str(), buffer, 32) > 0)
        loads = static_cast<DWORD>(std::wcstoul(buffer, nullptr, 10));
    ++loads;
    std::swprintf(buffer, 32, L"%lu", static_cast<unsigned long>(loads));
    SetEnvironmentVariableW(variable.c_str(), buffer);
    return loads <= allowed;
}
