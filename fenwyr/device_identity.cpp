#include "device_identity.h"

#include <cstring>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

std::wstring readString(IPropertyBag* bag, const wchar_t* name) {
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        text = value.bstrVal;
    VariantClear(&value);
    return text;
}

std::wstring displayName(IMoniker* moniker) {
    ComPtr<IBindCtx> context;
    if (FAILED(CreateBindCtx(0, &context)))
        return {};
    LPOLESTR name = nullptr;
    if (FAILED(moniker->GetDisplayName(context.Get(), nullptr, &name)) || !name)
        return {};
    std::wstring copy(name);
    CoTaskMemFree(name);
    return copy;
}

std::string toUtf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    if (size <= 0)
        return {};
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

// Copies at most N - 1 bytes, never splitting a UTF-8 sequence, and terminates.
template <size_t N>
void copyUtf8(const std::string& text, char (&field)[N]) {
    size_t length = text.size();
    if (length > N - 1) {
        length = N - 1;
        // Back up over continuation bytes to the start of the character that did not fit.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), length);
}

bool equalsIgnoringAsciiCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace

bool DeviceIdentityText::sameDevice(const DeviceIdentityText& other) const {
    if (!devicePath.empty() || !other.devicePath.empty())
        return devicePath == other.devicePath;
    return !monikerName.empty() && monikerName == other.monikerName;
}

DeviceIdentityText readIdentity(IMoniker* moniker) {
    DeviceIdentityText text;
    if (!moniker)
        return text;
    text.monikerName = displayName(moniker);
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, &bag))) {
        text.friendlyName = readString(bag.Get(), L"FriendlyName");
        text.devicePath = readString(bag.Get(), L"DevicePath");
    }
    return text;
}

void fillIdentity(const DeviceIdentityText& text, int32_t index, DeviceIdentity& identity) {
    identity.index = index;
    copyUtf8(toUtf8(text.friendlyName), identity.name);
    copyUtf8(toUtf8(text.devicePath), identity.path);
}

bool pathEquals(const DeviceIdentityText& text, const char* pathOrName) {
    return !text.devicePath.empty() && equalsIgnoringAsciiCase(toUtf8(text.devicePath), pathOrName);
}

bool nameEquals(const DeviceIdentityText& text, const char* pathOrName) {
    return toUtf8(text.friendlyName) == pathOrName;
}
