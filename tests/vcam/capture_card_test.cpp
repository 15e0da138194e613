// A capture card: IAMCrossbar and IAMAnalogVideoDecoder on the filter as configured, and the
// picture of an unrouted output.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <vector>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

VcamDevice card(const wchar_t* inputs) {
    VcamDevice device = vcamDevice(L"a", L"Card", L"160x120@30 RGB24");
    device.dwords[L"CaptureCard"] = 1;
    if (inputs)
        device.strings[L"CrossbarInputs"] = inputs;
    return device;
}

}  // namespace

TEST(VcamCaptureCard, TheCrossbarHasTheConfiguredPinsAndRoutesWithinEachKind) {
    ComApartment com;
    VcamDevices devices({card(L"Composite+Line;SVideo;SerialDigital+AESDigital;Bogus+Line;SVideo+Bogus"),
                         vcamDevice(L"b", L"Plain", L"160x120@30 RGB24")});
    ComPtr<IBaseFilter> plain, filter;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Plain", &plain), S_OK);
    ComPtr<IAMCrossbar> crossbar;
    ComPtr<IAMAnalogVideoDecoder> decoder;
    EXPECT_EQ(plain.As(&crossbar), E_NOINTERFACE);
    EXPECT_EQ(plain->QueryInterface(IID_IAMAnalogVideoDecoder, &decoder), E_NOINTERFACE);
    ASSERT_EQ(PlatformGraph::bindDevice(L"Card", &filter), S_OK);
    ASSERT_EQ(filter.As(&crossbar), S_OK);

    LONG outputs = 0, inputs = 0;
    ASSERT_EQ(crossbar->get_PinCounts(&outputs, &inputs), S_OK);
    EXPECT_EQ(outputs, 2);
    EXPECT_EQ(inputs, 5) << "malformed entries are left out";
    const struct {
        BOOL input;
        LONG index, related, type;
    } pins[] = {
        {TRUE, 0, 3, PhysConn_Video_Composite},      {TRUE, 1, -1, PhysConn_Video_SVideo},
        {TRUE, 2, 4, PhysConn_Video_SerialDigital},  {TRUE, 3, 0, PhysConn_Audio_Line},
        {TRUE, 4, 2, PhysConn_Audio_AESDigital},     {FALSE, 0, 1, PhysConn_Video_VideoDecoder},
        {FALSE, 1, 0, PhysConn_Audio_AudioDecoder},
    };
    for (const auto& pin : pins) {
        LONG related = 99, type = 0;
        ASSERT_EQ(crossbar->get_CrossbarPinInfo(pin.input, pin.index, &related, &type), S_OK) << pin.index;
        EXPECT_EQ(related, pin.related) << pin.input << " " << pin.index;
        EXPECT_EQ(type, pin.type) << pin.input << " " << pin.index;
    }
    LONG related = 0, type = 0, routed = 0;
    EXPECT_EQ(crossbar->get_CrossbarPinInfo(TRUE, 5, &related, &type), E_INVALIDARG);
    EXPECT_EQ(crossbar->get_CrossbarPinInfo(FALSE, -1, &related, &type), E_INVALIDARG);
    EXPECT_EQ(crossbar->get_CrossbarPinInfo(TRUE, 0, nullptr, &type), E_POINTER);
    EXPECT_EQ(crossbar->get_PinCounts(nullptr, &inputs), E_POINTER);
    ASSERT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
    EXPECT_EQ(routed, 0);
    ASSERT_EQ(crossbar->get_IsRoutedTo(1, &routed), S_OK);
    EXPECT_EQ(routed, 3) << "input 0's audio";

    const struct {
        LONG output, input;
        HRESULT can, route;
    } routes[] = {
        {0, 1, S_OK, S_OK},         {0, 3, S_FALSE, E_INVALIDARG}, {1, 4, S_OK, S_OK},
        {1, 2, S_FALSE, E_INVALIDARG}, {2, 0, E_INVALIDARG, E_INVALIDARG}, {0, 5, E_INVALIDARG, E_INVALIDARG},
    };
    for (const auto& r : routes) {
        EXPECT_EQ(crossbar->CanRoute(r.output, r.input), r.can) << r.output << " " << r.input;
        EXPECT_EQ(crossbar->Route(r.output, r.input), r.route) << r.output << " " << r.input;
    }
    ASSERT_EQ(crossbar->get_IsRoutedTo(0, &routed), S_OK);
    EXPECT_EQ(routed, 1);
    ASSERT_EQ(crossbar->get_IsRoutedTo(1, &routed), S_OK);
    EXPECT_EQ(routed, 4);
    EXPECT_EQ(crossbar->get_IsRoutedTo(2, &routed), E_INVALIDARG);
    EXPECT_EQ(crossbar->get_IsRoutedTo(0, nullptr), E_POINTER);
}

TEST(VcamCaptureCard, TheDecoderTakesOneOfItsStandardsAndTellsItsLinesAndLock) {
    ComApartment com;
    VcamDevice device = card(nullptr);
    device.dwords[L"VideoStandards"] = AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_PAL_M;
    VcamDevices devices({device});
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Card", &filter), S_OK);
    ComPtr<IAMAnalogVideoDecoder> decoder;
    ASSERT_EQ(filter->QueryInterface(IID_IAMAnalogVideoDecoder, &decoder), S_OK);
    LONG standards = 0, standard = 0, lines = 0, locked = 0;
    ASSERT_EQ(decoder->get_AvailableTVFormats(&standards), S_OK);
    EXPECT_EQ(standards, AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_PAL_M);
    const struct {
        LONG standard;
        HRESULT result;
        LONG current, lines;
    } steps[] = {
        {0, E_INVALIDARG, AnalogVideo_NTSC_M, 525},  // before any change: the lowest one
        {AnalogVideo_PAL_B, S_OK, AnalogVideo_PAL_B, 625},
        {AnalogVideo_PAL_I, E_INVALIDARG, AnalogVideo_PAL_B, 625},
        {AnalogVideo_NTSC_M | AnalogVideo_PAL_M, E_INVALIDARG, AnalogVideo_PAL_B, 625},
        {AnalogVideo_PAL_M, S_OK, AnalogVideo_PAL_M, 525},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(decoder->put_TVFormat(step.standard), step.result) << step.standard;
        ASSERT_EQ(decoder->get_TVFormat(&standard), S_OK);
        EXPECT_EQ(standard, step.current) << step.standard;
        ASSERT_EQ(decoder->get_NumberOfLines(&lines), S_OK);
        EXPECT_EQ(lines, step.lines) << step.standard;
    }
    for (DWORD noSignal : {0u, 1u, 0u}) {
        VcamDevices::setDword(L"a", L"NoSignal", noSignal);
        ASSERT_EQ(decoder->get_HorizontalLocked(&locked), S_OK);
        EXPECT_EQ(locked, noSignal ? 0 : 1);
    }
    EXPECT_EQ(decoder->get_HorizontalLocked(nullptr), E_POINTER);
}

TEST(VcamCaptureCard, AnOutputRoutedFromNoInputSendsBlackFrames) {
    ComApartment com;
    VcamDevices devices({card(nullptr)});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Card"), S_OK);
    ComPtr<IAMCrossbar> crossbar;
    ASSERT_EQ(graph.captureFilter()->QueryInterface(IID_PPV_ARGS(&crossbar)), S_OK);
    ASSERT_EQ(crossbar->Route(0, -1), S_OK);
    FrameLog log(true);
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(2, 5s));
    EXPECT_EQ(graph.stop(), S_OK);
    graph.setCallback(nullptr);
    const std::vector<BYTE> frame = log.frames().at(1).bytes;
    ASSERT_EQ(frame.size(), 160u * 120 * 3);
    EXPECT_TRUE(std::all_of(frame.begin() + 16, frame.end(), [](BYTE b) { return b == 0; }))
        << "everything past the stamp is black";
}
