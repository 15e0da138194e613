#include "device_table.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sample_handler.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t kListedDevices = 64;

// The table's own storage goes when the library is unloaded; the records never do, because a
// reference released after COM is gone would crash the host on its way out.
std::vector<CaptureDevice*> devices;
// grabFrame looks devices up from any thread while the init thread may append.
SRWLOCK devicesLock = SRWLOCK_INIT;

// Successful CoInitialize calls of init, each balanced by uninit.
int comInitialisations = 0;

void printLine(const char* text) {
    std::cout << text << std::endl;
}

// Whole characters only, at most 127 bytes, so the name stays NUL-terminated; a character that
// cannot be converted leaves the name empty.
void copyAnsiName(const wchar_t* text, char (&name)[128]) {
    size_t used = 0;
    for (size_t i = 0; text[i] != L'\0';) {
        const int units = (IS_HIGH_SURROGATE(text[i]) && IS_LOW_SURROGATE(text[i + 1])) ? 2 : 1;
        char bytes[8];
        const int count = WideCharToMultiByte(CP_ACP, 0, text + i, units, bytes, sizeof bytes, nullptr, nullptr);
        if (count <= 0) {
            std::memset(name, 0, sizeof name);
            return;
        }
        if (used + static_cast<size_t>(count) > sizeof name - 1)
            return;
        std::memcpy(name + used, bytes, static_cast<size_t>(count));
        used += static_cast<size_t>(count);
        i += static_cast<size_t>(units);
    }
}

// Leaves the name empty when the device has no readable string name.
void readFriendlyName(IMoniker* moniker, char (&name)[128]) {
    if (!moniker)
        return;
    ComPtr<IPropertyBag> properties;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, &properties)))
        return;
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(properties->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        copyAnsiName(value.bstrVal, name);
    VariantClear(&value);
}

// The moniker's display name, which names the same device on every enumeration; empty when unknown.
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

// A record that uninit closed and that stands for this device: it gets its device back, and
// with it its index, name and callback, instead of a dead duplicate.
CaptureDevice* closedRecordOf(const std::wstring& name) {
    if (name.empty())
        return nullptr;
    for (CaptureDevice* device : devices)
        if (!device->moniker && device->monikerName == name)
            return device;
    return nullptr;
}

void appendDevice(ComPtr<IMoniker> moniker, std::wstring name) {
    auto record =
        std::make_unique<CaptureDevice>(std::move(moniker), std::move(name), static_cast<int32_t>(devices.size()));
    AcquireSRWLockExclusive(&devicesLock);
    try {
        devices.push_back(record.get());
    } catch (...) {
        ReleaseSRWLockExclusive(&devicesLock);
        throw;
    }
    ReleaseSRWLockExclusive(&devicesLock);
    record.release();
}

}  // namespace

namespace device_table {

void init() {
    if (FAILED(CoInitialize(nullptr))) {
        printLine("Error initializing COM");
        return;
    }
    ++comInitialisations;

    ComPtr<ICreateDevEnum> deviceEnumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                &deviceEnumerator))) {
        printLine("Error creating device enumerator instance");
        return;
    }
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(deviceEnumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0))) {
        printLine("Error creating class enumerator");
        return;
    }
    // An empty category succeeds without an enumerator.
    if (!monikers) {
        printLine("No video capture devices detected");
        return;
    }

    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        // Only devices that can be bound now are worth a table position.
        ComPtr<IBaseFilter> filter;
        if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, &filter))) {
            printLine("Error binding camera, skipping");
            continue;
        }
        filter.Reset();
        std::wstring name = displayName(moniker.Get());
        if (CaptureDevice* closed = closedRecordOf(name))
            closed->rebind(std::move(moniker));
        else
            appendDevice(std::move(moniker), std::move(name));
    }
}

void uninit() {
    // Closing waits for every frame callback to return, so one cannot close from inside it.
    if (SampleHandler::onFrameCallbackThread())
        return;
    for (CaptureDevice* device : devices)
        device->close();
    for (; comInitialisations > 0; --comInitialisations)
        CoUninitialize();
}

DeviceInfo* listDevices() {
    auto* block = static_cast<DeviceInfo*>(CoTaskMemAlloc(sizeof(DeviceInfo) * kListedDevices));
    if (!block)
        return nullptr;
    std::memset(block, 0, sizeof(DeviceInfo) * kListedDevices);
    for (size_t k = 0; k < kListedDevices; ++k)
        block[k].index = -1;

    for (size_t k = 0; k < devices.size() && k < kListedDevices; ++k) {
        DeviceInfo entry{};
        entry.index = devices[k]->index;
        readFriendlyName(devices[k]->moniker.Get(), entry.name);
        std::memcpy(&block[k], &entry, sizeof entry);
    }
    return block;
}

CaptureDevice* find(int32_t index) {
    CaptureDevice* device = nullptr;
    AcquireSRWLockShared(&devicesLock);
    if (index >= 0 && static_cast<size_t>(index) < devices.size())
        device = devices[static_cast<size_t>(index)];
    ReleaseSRWLockShared(&devicesLock);
    return device;
}

}  // namespace device_table
