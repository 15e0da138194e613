#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <vector>

#include "platform_graph.h"
#include "vcam_test_helpers.h"

// Every frame the graph delivers goes into the log.
inline void logFrames(PlatformGraph& graph, FrameLog& log) {
    graph.setCallback([&log](const BYTE* data, long length, double time) { log.add(data, length, time); });
}

// The capture pin's IAMStreamConfig, found the way a host looks for it.
inline HRESULT findStreamConfig(PlatformGraph& graph, Microsoft::WRL::ComPtr<IAMStreamConfig>& config) {
    return graph.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, graph.captureFilter(),
                                          IID_IAMStreamConfig, reinterpret_cast<void**>(config.GetAddressOf()));
}

// The device numbers the frames of each run from zero.
inline void expectNumberedFromZero(const std::vector<FrameLog::Frame>& frames) {
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(readStamp(frames[i].bytes.data()).sequence, i) << "frame " << i;
}
