// Fault switches, seen from the platform's side as a misbehaving driver would show them.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;

TEST(VcamFaults, NoStreamConfigLeavesFindInterfaceEmptyHanded) {
    ComApartment com;
    VcamDevices devices({
        {L"a", L"Plain", std::nullopt, 1, {}, {}},
        {L"b", L"Without Config", std::nullopt, 2, {{L"NoStreamConfig", 1}}, {}},
    });
    PlatformGraph plain, without;
    ASSERT_EQ(plain.open(L"Plain"), S_OK);
    ASSERT_EQ(without.open(L"Without Config"), S_OK);  // it still connects and streams
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(findStreamConfig(plain, config), S_OK);
    EXPECT_NE(config, nullptr);
    config.Reset();
    EXPECT_TRUE(FAILED(findStreamConfig(without, config)));
    EXPECT_EQ(config, nullptr);
}

TEST(VcamFaults, NoPropertyPagesHidesTheFiltersPages) {
    ComApartment com;
    VcamDevices devices({
        {L"a", L"Plain", std::nullopt, 1, {}, {}},
        {L"b", L"Without Pages", std::nullopt, 2, {{L"NoPropertyPages", 1}}, {}},
    });
    ComPtr<IBaseFilter> plain, without;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Plain", &plain), S_OK);
    ASSERT_EQ(PlatformGraph::bindDevice(L"Without Pages", &without), S_OK);
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(plain.As(&pages), S_OK);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], vcamPropertyPageClsid());
    CoTaskMemFree(list.pElems);
    pages.Reset();
    EXPECT_EQ(without.As(&pages), E_NOINTERFACE);
}

TEST(VcamFaults, FailJoinMakesAddFilterFail) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Unjoinable", std::nullopt, 1, {{L"FailJoin", 1}}, {}}});
    PlatformGraph graph;
    EXPECT_TRUE(FAILED(graph.open(L"Unjoinable")));
    ASSERT_NE(graph.captureFilter(), nullptr);  // bound, but not in the graph
    FILTER_INFO info{};
    ASSERT_EQ(graph.captureFilter()->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    ComPtr<IBaseFilter> found;
    EXPECT_TRUE(FAILED(graph.graph()->FindFilterByName(L"Video Capture", &found)));
}

TEST(VcamFaults, FailLoadAfterPassesTheFirstBindsAndFailsTheRest) {
    ComApartment com;
    VcamDevices devices({
        {L"a", L"Once", std::nullopt, 1, {{L"FailLoadAfter", 1}}, {}},
        {L"b", L"Twice", std::nullopt, 2, {{L"FailLoadAfter", 2}}, {}},
        {L"c", L"Never", std::nullopt, 3, {{L"FailLoadAfter", 0}}, {}},
    });
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(PlatformGraph::bindDevice(L"Once", &filter), S_OK);
    filter.Reset();
    EXPECT_TRUE(FAILED(PlatformGraph::bindDevice(L"Once", &filter)));
    EXPECT_EQ(filter, nullptr);

    EXPECT_EQ(PlatformGraph::bindDevice(L"Twice", &filter), S_OK);
    filter.Reset();
    EXPECT_EQ(PlatformGraph::bindDevice(L"Twice", &filter), S_OK);
    filter.Reset();
    EXPECT_TRUE(FAILED(PlatformGraph::bindDevice(L"Twice", &filter)));

    EXPECT_TRUE(FAILED(PlatformGraph::bindDevice(L"Never", &filter)));
    // A device without the switch binds every time.
    devices.add({L"d", L"Always", std::nullopt, 4, {}, {}});
    for (int i = 0; i < 3; ++i) {
        filter.Reset();
        EXPECT_EQ(PlatformGraph::bindDevice(L"Always", &filter), S_OK);
    }
}

TEST(VcamFaults, FailStreamCapsFailsTheListedCapabilitiesOnly) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Camera",
                          std::wstring(L"640x480@30 YUY2;320x240@30 YUY2;160x120@30 YUY2;80x60@30 YUY2"), 1, {},
                          {{L"FailStreamCaps", L"1,3"}}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(findStreamConfig(graph, config), S_OK);
    const HRESULT expected[] = {S_OK, E_FAIL, S_OK, E_FAIL};
    for (int i = 0; i < 4; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        AM_MEDIA_TYPE* mt = nullptr;
        EXPECT_EQ(config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)), expected[i]) << i;
        EXPECT_EQ(mt != nullptr, expected[i] == S_OK) << i;
        deleteMediaType(mt);
    }
}

TEST(VcamFaults, CapsSizeIsTheStructureSizeReported) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Camera", std::wstring(L"640x480@30 YUY2;320x240@30 YUY2"), 1, {{L"CapsSize", 64}}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(findStreamConfig(graph, config), S_OK);
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(size, 64);
}
