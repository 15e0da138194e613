#include "device_table.h"

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "device_events.h"
#include "host_callback_thread.h"
#include "supervision.h"

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

// Init thread only.
bool closingAll = false;

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

// A record that uninit closed and that stands for this device: it gets its device back, and
// with it its index, name and callback, instead of a dead duplicate.
CaptureDevice* closedRecordOf(const DeviceIdentityText& identity) {
    for (CaptureDevice* device : devices)
        if (!device->moniker && device->identity.sameDevice(identity))
            return device;
    return nullptr;
}

// The record of this device, whatever its state.
CaptureDevice* recordOf(const DeviceIdentityText& identity) {
    for (CaptureDevice* device : devices)
        if (device->identity.sameDevice(identity))
            return device;
    return nullptr;
}

void appendDevice(ComPtr<IMoniker> moniker, DeviceIdentityText identity) {
    auto record =
        std::make_unique<CaptureDevice>(std::move(moniker), std::move(identity), static_cast<int32_t>(devices.size()));
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

enum class Enumeration { noEnumerator, failed, empty, listed };

// The video-input category's monikers; `failure` receives the failing call's result.
Enumeration enumerate(ComPtr<IEnumMoniker>& monikers, HRESULT* failure = nullptr) {
    ComPtr<ICreateDevEnum> deviceEnumerator;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  &deviceEnumerator);
    if (FAILED(hr)) {
        if (failure)
            *failure = hr;
        return Enumeration::noEnumerator;
    }
    hr = deviceEnumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (FAILED(hr)) {
        if (failure)
            *failure = hr;
        return Enumeration::failed;
    }
    // An empty category succeeds without an enumerator.
    return monikers ? Enumeration::listed : Enumeration::empty;
}

// Only devices that can be bound now are worth a table position.
bool bindable(IMoniker* moniker) {
    ComPtr<IBaseFilter> filter;
    return SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, &filter));
}

}  // namespace

namespace device_table {

void init() {
    if (FAILED(CoInitialize(nullptr))) {
        printLine("Error initializing COM");
        return;
    }
    ++comInitialisations;
    // Records uninit closed are absent until their device is listed again below.
    for (CaptureDevice* device : devices)
        if (!device->moniker)
            device->present = false;

    ComPtr<IEnumMoniker> monikers;
    switch (enumerate(monikers)) {
    case Enumeration::noEnumerator:
        printLine("Error creating device enumerator instance");
        return;
    case Enumeration::failed:
        printLine("Error creating class enumerator");
        return;
    case Enumeration::empty:
        printLine("No video capture devices detected");
        return;
    case Enumeration::listed:
        break;
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        if (!bindable(moniker.Get())) {
            printLine("Error binding camera, skipping");
            continue;
        }
        DeviceIdentityText identity = readIdentity(moniker.Get());
        if (CaptureDevice* closed = closedRecordOf(identity)) {
            closed->rebind(std::move(moniker));
            closed->identity = std::move(identity);
            closed->present = true;
        } else {
            appendDevice(std::move(moniker), std::move(identity));
        }
    }
}

HRESULT refreshDevices() {
    ComPtr<IEnumMoniker> monikers;
    HRESULT failure = S_OK;
    if (enumerate(monikers, &failure) == Enumeration::noEnumerator || FAILED(failure))
        return FAILED(failure) ? failure : E_FAIL;
    std::vector<bool> enumerated(devices.size(), false);
    int32_t appended = 0;
    ComPtr<IMoniker> moniker;
    while (monikers && monikers->Next(1, &moniker, nullptr) == S_OK) {
        DeviceIdentityText identity = readIdentity(moniker.Get());
        CaptureDevice* known = recordOf(identity);
        // A device the table holds is not bound again: a driver in use may refuse a second
        // instance, and that must not make an open device look absent.
        if (known && known->moniker) {
            enumerated[static_cast<size_t>(known->index)] = true;
            known->present = true;
            // A device that returns may come under a new registration (a reinstalled driver)
            // whose old moniker no longer binds: the next open uses the one just listed.
            known->rebind(std::move(moniker));
            known->identity = std::move(identity);
            continue;
        }
        if (!bindable(moniker.Get()))
            continue;
        if (known) {
            // A record closed by uninit gets its device back, as init would give it.
            enumerated[static_cast<size_t>(known->index)] = true;
            known->present = true;
            known->rebind(std::move(moniker));
        } else {
            appendDevice(std::move(moniker), std::move(identity));
            enumerated.push_back(true);
            ++appended;
        }
    }
    for (size_t k = 0; k < enumerated.size(); ++k)
        if (!enumerated[k])
            devices[k]->present = false;
    return appended;
}

void uninit() {
    // Closing waits for every frame callback to return, so one cannot close from inside it.
    if (insideHostCallback())
        return;
    // Nor from a message handled while one of the library's calls waits on this thread.
    for (const CaptureDevice* device : devices)
        if (device->busy())
            return;
    closingAll = true;
    supervision::finish();
    for (CaptureDevice* device : devices) {
        device->close();
        device->watch.stallMs = 0;
        device->watch.flags = 0;
    }
    closingAll = false;
    device_events::finish();
    for (; comInitialisations > 0; --comInitialisations)
        CoUninitialize();
}

bool uninitRunning() {
    return closingAll;
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

ComPtr<IMoniker> monikerOf(const DeviceIdentityText& identity) {
    ComPtr<IEnumMoniker> monikers;
    if (enumerate(monikers) != Enumeration::listed)
        return nullptr;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK)
        if (readIdentity(moniker.Get()).sameDevice(identity) && bindable(moniker.Get()))
            return moniker;
    return nullptr;
}

int32_t findDevice(const char* pathOrName) {
    for (const CaptureDevice* device : devices)
        if (device->present && pathEquals(device->identity, pathOrName))
            return device->index;
    for (const CaptureDevice* device : devices)
        if (device->present && nameEquals(device->identity, pathOrName))
            return device->index;
    return -1;
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
