// The filter and pin as a graph sees them: states, joining, connection queries, streaming thread.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include "fenwyr/guids.h"
#include <wrl/client.h>

#include "module_threads.h"
#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

ComPtr<IPin> capturePin(IBaseFilter* filter) {
    ComPtr<IPin> pin;
    EXPECT_EQ(filter->FindPin(L"Capture", &pin), S_OK);
    return pin;
}

}  // namespace

TEST(VcamFilter, UnconnectedPinSaysSoAndJoiningGivesTheGraphAndName) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::nullopt, 1, {}, {}}});
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Camera", &filter), S_OK);
    ComPtr<IPin> pin = capturePin(filter.Get());

    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(pin->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
    PIN_DIRECTION direction{};
    EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);
    LPWSTR id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    EXPECT_STREQ(id, L"Capture");
    CoTaskMemFree(id);

    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(filter.As(&flags), S_OK);
    EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE));

    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)), S_OK);
    ASSERT_EQ(graph->AddFilter(filter.Get(), L"Video Capture"), S_OK);
    FILTER_INFO info{};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Video Capture");
    ComPtr<IFilterGraph> joined;
    joined.Attach(info.pGraph);
    ComPtr<IFilterGraph> asFilterGraph;
    graph.As(&asFilterGraph);
    EXPECT_EQ(joined, asFilterGraph);
    joined.Reset();
    ASSERT_EQ(graph->RemoveFilter(filter.Get()), S_OK);
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
}

TEST(VcamFilter, PausedLiveSourceCannotCueAndRunningStateIsReported) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@30 YUY2"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(graph.captureFilter()->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.control()->Pause()));
    EXPECT_EQ(graph.captureFilter()->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    Sleep(300);
    EXPECT_EQ(log.size(), 0u);  // a paused camera shows nothing

    ASSERT_TRUE(SUCCEEDED(graph.control()->Run()));
    EXPECT_EQ(graph.captureFilter()->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_TRUE(log.waitFor(3, 5s));
    ASSERT_EQ(graph.stop(), S_OK);
    EXPECT_EQ(graph.captureFilter()->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    // The first frame comes from the allocator the connection chose; the pin is connected.
    ComPtr<IPin> peer;
    EXPECT_EQ(capturePin(graph.captureFilter())->ConnectedTo(&peer), S_OK);
}

TEST(VcamFilter, EveryStopEndsTheStreamingThreadAndStopsDelivery) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@60 RGB32"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    FrameLog log;
    logFrames(graph, log);
    const size_t threadsBefore = threadsStartedIn(L"vcam.dll");
    for (int run = 0; run < 5; ++run) {
        log.clear();
        ASSERT_TRUE(SUCCEEDED(graph.run()));
        EXPECT_EQ(threadsStartedIn(L"vcam.dll"), threadsBefore + 1);
        EXPECT_TRUE(log.waitFor(2, 5s));
        // The product stops with StopWhenReady; it must end as a plain Stop does.
        ASSERT_TRUE(SUCCEEDED(run % 2 ? graph.control()->StopWhenReady() : graph.stop()));
        EXPECT_EQ(threadsStartedIn(L"vcam.dll"), threadsBefore);
        const size_t seen = log.size();
        Sleep(100);
        EXPECT_EQ(log.size(), seen);
    }
}

TEST(VcamFilter, StopEndsADeliveryThatDownstreamHoldsUp) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@30 RGB24"), 1, {{L"Unthrottled", 1}}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    // A slow consumer: every frame blocks the streaming thread for a while.
    FrameLog log;
    graph.setCallback([&](const BYTE* data, long length, double time) {
        log.add(data, length, time);
        Sleep(200);
    });
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(1, 5s));
    const int64_t start = performanceCounter();
    ASSERT_EQ(graph.stop(), S_OK);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    EXPECT_LT(static_cast<double>(performanceCounter() - start) / frequency.QuadPart, 2.0);
}

TEST(VcamFilter, NothingOfTheDeviceOutlivesItsGraph) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@30 YUY2;80x60@30 MJPG"), 1, {}, {}}});
    {
        PlatformGraph graph;
        ASSERT_EQ(graph.open(L"Camera"), S_OK);
        ComPtr<IPin> pin = capturePin(graph.captureFilter());
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
        ComPtr<IEnumPins> pins;
        ASSERT_EQ(graph.captureFilter()->EnumPins(&pins), S_OK);
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(pin.As(&config), S_OK);
        AM_MEDIA_TYPE* mjpg = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(config->GetStreamCaps(1, &mjpg, reinterpret_cast<BYTE*>(&caps)), S_OK);
        ASSERT_EQ(config->SetFormat(mjpg), S_OK);
        deleteMediaType(mjpg);
        FrameLog log;
        logFrames(graph, log);
        ASSERT_TRUE(SUCCEEDED(graph.run()));
        EXPECT_TRUE(log.waitFor(3, 5s));
        ASSERT_EQ(graph.stop(), S_OK);
        graph.setCallback(nullptr);
    }
    HMODULE dll = GetModuleHandleW(L"vcam.dll");
    ASSERT_NE(dll, nullptr);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
}
