// Capabilities with a range of frame rates: what GetStreamCaps reports, what SetFormat takes,
// and the pace of the frames.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include "fenwyr/guids.h"
#include <wrl/client.h>

#include <cmath>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

AM_MEDIA_TYPE* capability(IAMStreamConfig* config, int index, VIDEO_STREAM_CONFIG_CAPS& caps) {
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    return mt;
}

void setInterval(AM_MEDIA_TYPE& mt, REFERENCE_TIME interval) {
    reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame = interval;
}

}  // namespace

TEST(VcamFrameRates, ARangeIsReportedExactlyAndSetFormatPacesFramesByAnyIntervalWithinIt) {
    ComApartment com;
    VcamDevices devices(
        {{L"cam", L"Camera", std::wstring(L"320x240@5-60 YUY2;160x120@15 RGB24;176x144@7.5-29.97 RGB24"), 1, {}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(findStreamConfig(graph, config), S_OK);

    // Shortest interval from the highest rate, longest from the lowest; offered at the highest.
    const REFERENCE_TIME expected[3][2] = {{166667, 2000000}, {666667, 666667}, {333667, 1333333}};
    AM_MEDIA_TYPE* types[3] = {};
    for (int i = 0; i < 3; ++i) {
        VIDEO_STREAM_CONFIG_CAPS caps{};
        types[i] = capability(config.Get(), i, caps);
        ASSERT_NE(types[i], nullptr);
        EXPECT_EQ(caps.MinFrameInterval, expected[i][0]) << i;
        EXPECT_EQ(caps.MaxFrameInterval, expected[i][1]) << i;
        EXPECT_EQ(frameIntervalOf(*types[i]), expected[i][0]) << i;
    }

    // Outside a range, or another rate for a single-rate capability: refused, nothing changes.
    for (auto [index, interval] : {std::pair{0, 166666LL}, {0, 2000001LL}, {1, 333333LL}, {2, 333666LL}}) {
        setInterval(*types[index], interval);
        EXPECT_EQ(config->SetFormat(types[index]), VFW_E_INVALIDMEDIATYPE) << index << " " << interval;
    }
    // Both ends of a range and anything between are taken; the whole stream carries the choice.
    for (REFERENCE_TIME interval : {166667LL, 2000000LL, 1000000LL}) {
        setInterval(*types[0], interval);
        EXPECT_EQ(config->SetFormat(types[0]), S_OK) << interval;
    }
    for (auto* type : types)
        deleteMediaType(type);
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(graph.grabber()->GetConnectedMediaType(&connected), S_OK);
    EXPECT_EQ(frameIntervalOf(connected), 1000000);
    freeMediaType(connected);

    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(1, 5s));
    Sleep(700);
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    // 10 fps: about 7 frames in 0.7 s after the first, stamped 0.1 s apart.
    EXPECT_GE(frames.size(), 6u);
    EXPECT_LE(frames.size(), 10u);
    size_t oneApart = 0;
    for (size_t i = 1; i < frames.size(); ++i)
        oneApart += std::fabs(frames[i].time - frames[i - 1].time - 0.1) < 1e-5;
    EXPECT_GE(oneApart + 1, frames.size() - 1);
}
