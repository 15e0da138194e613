// regsvr32 and the DLL's own entry points.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

const wchar_t kInstanceRoot[] = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";

DWORD runRegsvr32(const std::wstring& arguments) {
    std::wstring command = L"C:\\windows\\system32\\regsvr32.exe " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

std::wstring readString(const std::wstring& path, const wchar_t* name) {
    wchar_t value[MAX_PATH * 2] = L"";
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"<absent>";
    return value;
}

bool keyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Every instance key whose CLSID names the virtual camera: key name -> FriendlyName.
std::vector<std::pair<std::wstring, std::wstring>> virtualCameraKeys() {
    std::vector<std::pair<std::wstring, std::wstring>> keys;
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, kInstanceRoot, 0, KEY_READ, &root) != ERROR_SUCCESS)
        return keys;
    wchar_t clsid[40] = L"";
    StringFromGUID2(VcamDevices::filterClsid(), clsid, 40);
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring path = std::wstring(kInstanceRoot) + L"\\" + name;
        if (_wcsicmp(readString(path, L"CLSID").c_str(), clsid) == 0)
            keys.emplace_back(name, readString(path, L"FriendlyName"));
    }
    RegCloseKey(root);
    return keys;
}

DWORD readDword(const std::wstring& path, const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

// Leaves the registry as it found it, whatever the test asserted.
struct UnregisterAtEnd {
    ~UnregisterAtEnd() { runRegsvr32(L"/u /s \"" + vcamDllPath() + L"\""); }
};

}  // namespace

TEST(VcamRegistration, Regsvr32RegistersClassesAndTwoDevicesAndUnregisterRemovesThem) {
    const std::wstring dll = vcamDllPath();
    UnregisterAtEnd cleanup;
    ASSERT_EQ(runRegsvr32(L"/s \"" + dll + L"\""), 0u);

    for (const wchar_t* clsid : {L"{EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}", L"{A87FE209-0F7A-40FC-8F4C-02D253F40B71}"}) {
        const std::wstring server = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
        EXPECT_EQ(_wcsicmp(readString(server, nullptr).c_str(), dll.c_str()), 0) << readString(server, nullptr).c_str();
        EXPECT_EQ(readString(server, L"ThreadingModel"), L"Both");
    }
    auto devices = virtualCameraKeys();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].second, L"Virtual Camera A");
    EXPECT_EQ(devices[1].second, L"Virtual Camera B");
    const std::wstring keyA = std::wstring(kInstanceRoot) + L"\\" + devices[0].first;
    const std::wstring keyB = std::wstring(kInstanceRoot) + L"\\" + devices[1].first;
    EXPECT_NE(readString(keyA, L"Formats"), readString(keyB, L"Formats"));
    EXPECT_NE(readDword(keyA, L"Tag"), readDword(keyB, L"Tag"));

    {
        // The demo devices stream, each with its own tag.
        ComApartment com;
        for (const auto& [key, name] : devices) {
            PlatformGraph graph;
            ASSERT_EQ(graph.open(name), S_OK);
            FrameLog log;
            logFrames(graph, log);
            ASSERT_TRUE(SUCCEEDED(graph.run()));
            EXPECT_TRUE(log.waitFor(1, 10s));
            graph.stop();
            ASSERT_GE(log.size(), 1u);
            EXPECT_EQ(readStamp(log.frames()[0].bytes.data()).tag,
                      readDword(std::wstring(kInstanceRoot) + L"\\" + key, L"Tag"));
        }
    }

    ASSERT_EQ(runRegsvr32(L"/u /s \"" + dll + L"\""), 0u);
    EXPECT_FALSE(keyExists(L"CLSID\\{EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}"));
    EXPECT_FALSE(keyExists(L"CLSID\\{A87FE209-0F7A-40FC-8F4C-02D253F40B71}"));
    EXPECT_FALSE(keyExists(keyA));
    EXPECT_FALSE(keyExists(keyB));
    EXPECT_TRUE(virtualCameraKeys().empty());
}

TEST(VcamRegistration, ClassObjectsServeBothClassesAndTheDllUnloadsOnlyWhenUnused) {
    ComApartment com;
    HMODULE dll = LoadLibraryW(vcamDllPath().c_str());
    ASSERT_NE(dll, nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_NE(GetProcAddress(dll, "DllRegisterServer"), nullptr);
    EXPECT_NE(GetProcAddress(dll, "DllUnregisterServer"), nullptr);

    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject(CLSID_FilterGraph, IID_PPV_ARGS(&factory)), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);

    ASSERT_EQ(getClassObject(VcamDevices::filterClsid(), IID_PPV_ARGS(&factory)), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    ComPtr<IBaseFilter> filter;
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&filter)), S_OK);
    EXPECT_EQ(factory->CreateInstance(filter.Get(), IID_PPV_ARGS(&outer)), CLASS_E_NOAGGREGATION);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, VcamDevices::filterClsid());

    ComPtr<IClassFactory> pageFactory;
    ASSERT_EQ(getClassObject(vcamPropertyPageClsid(), IID_PPV_ARGS(&pageFactory)), S_OK);
    ComPtr<IPropertyPage> page;
    EXPECT_EQ(pageFactory->CreateInstance(nullptr, IID_PPV_ARGS(&page)), S_OK);

    factory.Reset();
    pageFactory.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // objects still alive
    filter.Reset();
    page.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
    FreeLibrary(dll);
}
