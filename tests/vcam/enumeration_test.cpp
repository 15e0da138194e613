// The system device enumerator lists and binds configured devices.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;

namespace {

struct Listed {
    std::wstring name;
    ComPtr<IMoniker> moniker;
};

std::vector<Listed> listVideoInputs(HRESULT* result = nullptr) {
    std::vector<Listed> listed;
    ComPtr<ICreateDevEnum> devices;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices)), S_OK);
    ComPtr<IEnumMoniker> monikers;
    HRESULT hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    if (result)
        *result = hr;
    if (hr != S_OK)
        return listed;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        Listed entry;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
            VARIANT name;
            VariantInit(&name);
            if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR)
                entry.name = name.bstrVal;
            VariantClear(&name);
        }
        entry.moniker = moniker;
        listed.push_back(entry);
        moniker.Reset();
    }
    return listed;
}

}  // namespace

TEST(VcamEnumeration, DevicesAreListedInKeyOrderAndEachBindsToACaptureFilter) {
    ComApartment com;
    VcamDevices devices({
        {L"b-second", L"Second Camera", std::nullopt, 2, {}, {}},
        {L"C-third", L"Third Camera", std::wstring(L"320x240@30 RGB24"), 3, {}, {}},
        {L"a-first", L"First Camera", std::wstring(L"640x480@30 YUY2"), 1, {}, {}},
    });
    auto listed = listVideoInputs();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].name, L"First Camera");
    EXPECT_EQ(listed[1].name, L"Second Camera");
    EXPECT_EQ(listed[2].name, L"Third Camera");

    for (const auto& entry : listed) {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(entry.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                              reinterpret_cast<void**>(filter.GetAddressOf())),
                  S_OK);
        CLSID clsid{};
        EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
        EXPECT_EQ(clsid, VcamDevices::filterClsid());

        // One pin, an output named "Capture" of the capture category.
        ComPtr<IEnumPins> pins;
        ASSERT_EQ(filter->EnumPins(&pins), S_OK);
        IPin* fetched[2] = {};
        ULONG count = 0;
        EXPECT_EQ(pins->Next(2, fetched, &count), S_FALSE);
        ASSERT_EQ(count, 1u);
        ComPtr<IPin> pin;
        pin.Attach(fetched[0]);
        PIN_INFO info{};
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(info.dir, PINDIR_OUTPUT);
        EXPECT_STREQ(info.achName, L"Capture");
        EXPECT_EQ(info.pFilter, filter.Get());
        info.pFilter->Release();
        ComPtr<IPin> found;
        EXPECT_EQ(filter->FindPin(L"Capture", &found), S_OK);
        EXPECT_EQ(found, pin);
        EXPECT_EQ(filter->FindPin(L"Preview", &found), VFW_E_NOT_FOUND);

        ComPtr<IKsPropertySet> properties;
        ASSERT_EQ(pin.As(&properties), S_OK);
        GUID category{};
        DWORD returned = 0;
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                                  &returned),
                  S_OK);
        EXPECT_EQ(category, PIN_CATEGORY_CAPTURE);
        EXPECT_EQ(returned, sizeof(GUID));
        DWORD support = 0;
        EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
        EXPECT_EQ(support, static_cast<DWORD>(KSPROPERTY_SUPPORT_GET));
        EXPECT_TRUE(FAILED(properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                           sizeof(category))));
    }
}

TEST(VcamEnumeration, EmptyCategoryListsNothing) {
    ComApartment com;
    VcamDevices devices;
    HRESULT hr = E_FAIL;
    auto listed = listVideoInputs(&hr);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_TRUE(listed.empty());
}

TEST(VcamEnumeration, AddedDevicesJoinTheListAndLeaveWithTheHelper) {
    ComApartment com;
    {
        VcamDevices devices({{L"one", L"One", std::nullopt, 1, {}, {}}});
        devices.add({L"two", L"Two", std::nullopt, 2, {}, {}});
        auto listed = listVideoInputs();
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[0].name, L"One");
        EXPECT_EQ(listed[1].name, L"Two");
    }
    HRESULT hr = E_FAIL;
    EXPECT_TRUE(listVideoInputs(&hr).empty());
    EXPECT_EQ(hr, S_FALSE);
}
