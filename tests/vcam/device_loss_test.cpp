// A device's identity and its removal: DevicePath in the moniker's bag, EC_DEVICE_LOST to the graph.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <map>
#include <string>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

const wchar_t kPath[] = L"\\\\?\\usb#vid_1234&pid_5678&mi_00#7&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

// DevicePath of every listed device by friendly name; an empty string where the bag has none.
std::map<std::wstring, std::wstring> devicePaths() {
    std::map<std::wstring, std::wstring> paths;
    ComPtr<ICreateDevEnum> devices;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices)), S_OK);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    ComPtr<IMoniker> moniker;
    while (monikers && monikers->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        EXPECT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)), S_OK);
        VARIANT name, path;
        VariantInit(&name);
        VariantInit(&path);
        EXPECT_EQ(bag->Read(L"FriendlyName", &name, nullptr), S_OK);
        const HRESULT hr = bag->Read(L"DevicePath", &path, nullptr);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(path.vt, VT_BSTR);
            paths[name.bstrVal] = path.bstrVal;
        } else {
            EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
            paths[name.bstrVal] = L"";
        }
        VariantClear(&name);
        VariantClear(&path);
        moniker.Reset();
    }
    return paths;
}

// Waits for the next EC_DEVICE_LOST, passing over other events; its second parameter, or -1.
LONG_PTR nextDeviceLost(IMediaEventEx* events, LONG_PTR expectedFilter) {
    const DWORD end = GetTickCount() + 5000;
    long code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    while (GetTickCount() < end) {
        if (events->GetEvent(&code, &param1, &param2, 100) != S_OK)
            continue;
        events->FreeEventParams(code, param1, param2);
        if (code == EC_DEVICE_LOST) {
            EXPECT_EQ(param1, expectedFilter);
            return param2;
        }
    }
    return -1;
}

}  // namespace

TEST(VcamDeviceLoss, DevicePathComesThroughTheMonikersBagWhereTheDeviceHasOne) {
    ComApartment com;
    VcamDevice withPath = vcamDevice(L"a", L"With Path", L"160x120@30 YUY2");
    withPath.devicePath = kPath;
    VcamDevices devices({withPath, vcamDevice(L"b", L"Without Path", L"160x120@30 YUY2")});
    auto paths = devicePaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[L"With Path"], kPath);
    EXPECT_EQ(paths[L"Without Path"], L"");
}

TEST(VcamDeviceLoss, UnpluggingStopsFramesAndTellsTheGraphAndPluggingBackTellsItAgain) {
    ComApartment com;
    VcamDevice device = vcamDevice(L"cam", L"Camera", L"160x120@30 YUY2");
    device.devicePath = kPath;
    VcamDevices devices({device, vcamDevice(L"other", L"Camera", L"160x120@30 YUY2")});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(graph.captureFilter()->QueryInterface(IID_PPV_ARGS(&identity)), S_OK);
    const LONG_PTR filter = reinterpret_cast<LONG_PTR>(identity.Get());
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(3, 5s));

    VcamDevices::setDword(L"cam", L"Unplugged", 1);
    EXPECT_EQ(nextDeviceLost(graph.events(), filter), 0);
    const size_t delivered = log.size();
    Sleep(300);
    EXPECT_EQ(log.size(), delivered);
    // The graph only queues the event: it goes on running.
    OAFilterState state = State_Stopped;
    EXPECT_EQ(graph.control()->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);

    // Back again: the graph hears of it, but the stream stays silent until it starts again.
    VcamDevices::setDword(L"cam", L"Unplugged", 0);
    EXPECT_EQ(nextDeviceLost(graph.events(), filter), 1);
    Sleep(300);
    EXPECT_EQ(log.size(), delivered);
    ASSERT_EQ(graph.stop(), S_OK);

    log.clear();
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    EXPECT_TRUE(log.waitFor(3, 5s));
    ASSERT_EQ(graph.stop(), S_OK);
    expectNumberedFromZero(log.frames());
}
