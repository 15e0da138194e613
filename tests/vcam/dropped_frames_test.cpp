// Dropped frames: what the host sees in the frames and what IAMDroppedFrames reports.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <vector>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

TEST(VcamDroppedFrames, EveryThirdFrameIsSkippedInTheSequenceAndCountedOnFilterAndPin) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x120@10 YUY2"), 1, {{L"DropEvery", 3}}, {}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMDroppedFrames> onFilter, onPin;
    ASSERT_EQ(graph.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, graph.captureFilter(),
                                             IID_IAMDroppedFrames, reinterpret_cast<void**>(onFilter.GetAddressOf())),
              S_OK);
    ComPtr<IPin> pin;
    ASSERT_EQ(graph.captureFilter()->FindPin(L"Capture", &pin), S_OK);
    ASSERT_EQ(pin.As(&onPin), S_OK);

    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(6, 10s));
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();

    // Frames 2, 5, 8, ... never arrive; the ones that do carry stream times a slot apart per number.
    std::vector<long> skipped;
    for (size_t i = 0; i < frames.size(); ++i) {
        const uint32_t sequence = readStamp(frames[i].bytes.data()).sequence;
        EXPECT_NE((sequence + 1) % 3, 0u) << "frame " << i;
        if (i == 0) {
            EXPECT_EQ(sequence, 0u);
            continue;
        }
        const uint32_t previous = readStamp(frames[i - 1].bytes.data()).sequence;
        for (uint32_t s = previous + 1; s < sequence; ++s)
            skipped.push_back(static_cast<long>(s));
        EXPECT_GE((frames[i].time - frames[i - 1].time) / 0.1, (sequence - previous) - 1e-4) << "frame " << i;
    }
    ASSERT_GE(skipped.size(), 2u);

    for (IAMDroppedFrames* report : {onFilter.Get(), onPin.Get()}) {
        LONG dropped = -1, delivered = -1, average = -1;
        ASSERT_EQ(report->GetNumDropped(&dropped), S_OK);
        ASSERT_EQ(report->GetNumNotDropped(&delivered), S_OK);
        ASSERT_EQ(report->GetAverageFrameSize(&average), S_OK);
        // The stream may have gone one frame further than the last one logged.
        EXPECT_GE(dropped, static_cast<LONG>(skipped.size()));
        EXPECT_LE(dropped, static_cast<LONG>(skipped.size()) + 1);
        EXPECT_GE(delivered, static_cast<LONG>(frames.size()));
        EXPECT_LE(delivered, static_cast<LONG>(frames.size()) + 1);
        EXPECT_EQ(average, 160 * 120 * 2);
        LONG numbers[64] = {};
        LONG copied = 0;
        ASSERT_EQ(report->GetDroppedInfo(64, numbers, &copied), S_OK);
        ASSERT_EQ(copied, dropped);
        for (size_t i = 0; i < skipped.size(); ++i)
            EXPECT_EQ(numbers[i], skipped[i]) << i;
        EXPECT_EQ(report->GetDroppedInfo(0, numbers, &copied), E_INVALIDARG);
    }

    // Counting starts again with the next start from stopped.
    ASSERT_TRUE(SUCCEEDED(graph.control()->Pause()));
    LONG dropped = -1, delivered = -1;
    EXPECT_EQ(onPin->GetNumDropped(&dropped), S_OK);
    EXPECT_EQ(onPin->GetNumNotDropped(&delivered), S_OK);
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(delivered, 0);
    ASSERT_EQ(graph.stop(), S_OK);
}
