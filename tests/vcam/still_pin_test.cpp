// The still pin of a device with StillFormats, and IAMVideoControl on its filter.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;

namespace {

GUID categoryOf(IPin* pin) {
    ComPtr<IKsPropertySet> properties;
    GUID category = GUID_NULL;
    DWORD size = 0;
    if (SUCCEEDED(pin->QueryInterface(IID_PPV_ARGS(&properties))))
        properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &size);
    return category;
}

}  // namespace

TEST(VcamStillPin, ADeviceWithStillFormatsHasAStillPinAndItsTriggers) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Plain", std::wstring(L"160x120@30 YUY2"), 1, {}, {}},
                         {L"b", L"Stills", std::wstring(L"160x120@30 YUY2"), 2, {},
                          {{L"StillFormats", L"640x480@0 RGB24;1280x960@0 MJPG"}}}});
    ComPtr<IBaseFilter> plain, stills;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Plain", &plain), S_OK);
    ASSERT_EQ(PlatformGraph::bindDevice(L"Stills", &stills), S_OK);
    ComPtr<IPin> capture, still, none;
    EXPECT_EQ(plain->FindPin(L"Still", &none), VFW_E_NOT_FOUND);
    ComPtr<IAMVideoControl> control;
    EXPECT_EQ(plain.As(&control), E_NOINTERFACE);
    ASSERT_EQ(stills->FindPin(L"Capture", &capture), S_OK);
    ASSERT_EQ(stills->FindPin(L"Still", &still), S_OK);
    EXPECT_EQ(categoryOf(still.Get()), PIN_CATEGORY_STILL);
    EXPECT_EQ(categoryOf(capture.Get()), PIN_CATEGORY_CAPTURE);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(still.As(&config), S_OK);
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 2);
    ComPtr<IAMDroppedFrames> dropped;
    EXPECT_EQ(still.As(&dropped), E_NOINTERFACE) << "the stream's alone";

    ASSERT_EQ(stills.As(&control), S_OK);
    const struct {
        IPin* pin;
        LONG mode;
        HRESULT set;
        LONG modeAfter;
    } rows[] = {
        {still.Get(), VideoControlFlag_ExternalTriggerEnable, S_OK, VideoControlFlag_ExternalTriggerEnable},
        {still.Get(), VideoControlFlag_ExternalTriggerEnable | VideoControlFlag_Trigger, S_OK,
         VideoControlFlag_ExternalTriggerEnable},
        {still.Get(), VideoControlFlag_Trigger, S_OK, 0},
        {still.Get(), VideoControlFlag_FlipHorizontal, E_INVALIDARG, 0},
        {capture.Get(), VideoControlFlag_Trigger, E_INVALIDARG, 0},
        {capture.Get(), 0, S_OK, 0},
        {none.Get(), 0, E_POINTER, 0},
    };
    LONG caps = 0;
    EXPECT_EQ(control->GetCaps(still.Get(), &caps), S_OK);
    EXPECT_EQ(caps, VideoControlFlag_ExternalTriggerEnable | VideoControlFlag_Trigger);
    EXPECT_EQ(control->GetCaps(capture.Get(), &caps), S_OK);
    EXPECT_EQ(caps, 0);
    LONG mode = -1;
    EXPECT_EQ(control->GetMode(still.Get(), &mode), S_OK);
    EXPECT_EQ(mode, 0) << "the button is off when the device binds";
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << row.mode);
        EXPECT_EQ(control->SetMode(row.pin, row.mode), row.set);
        if (!row.pin)
            continue;
        EXPECT_EQ(control->GetMode(row.pin, &mode), S_OK);
        EXPECT_EQ(mode, row.modeAfter);
    }
    EXPECT_EQ(control->GetCaps(none.Get(), &caps), E_POINTER);
}
