// Devices that describe some or all of their formats with VIDEOINFOHEADER2, as capture cards
// do: every capability listed, chosen (stopped and running) and streamed at its own size.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "rot_entries.h"
#include "test_devices.h"

namespace {

struct Capability {
    int32_t index, width, height, bytesPerFrame;
    double minFps, maxFps;
    bool videoInfo2;
};

struct Device {
    const wchar_t* name;
    const wchar_t* formats;
    std::vector<Capability> capabilities;
};

const Device kDevices[] = {
    {L"Capture Card", L"320x240@30 YUY2 VIH2 INTERLACED;160x120@15-30 RGB24 VIH2 16:9",
     {{0, 320, 240, 320 * 240 * 2, 30, 30, true}, {1, 160, 120, 160 * 120 * 3, 15, 30, true}}},
    {L"Mixed Camera", L"160x120@30 RGB24;320x240@10-30 YUY2 VIH2 16:9",
     {{0, 160, 120, 160 * 120 * 3, 30, 30, false}, {1, 320, 240, 320 * 240 * 2, 10, 30, true}}},
};

bool contains(const std::vector<std::wstring>& names, const wchar_t* name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

TEST(VideoInfo2, EveryCapabilityIsListedAndStreamsAtItsSizeChosenStoppedOrRunning) {
    std::vector<VcamDevice> list;
    for (const Device& device : kDevices)
        list.push_back(vcamDevice(std::wstring(1, wchar_t(L'a' + list.size())), device.name, device.formats));
    VcamDevices devices(list);
    ComApartment com;
    init();
    for (int32_t d = 0; d < int32_t(std::size(kDevices)); ++d) {
        const Device& device = kDevices[d];
        SCOPED_TRACE(std::string(device.name, device.name + wcslen(device.name)));
        InfoLog log;
        ASSERT_EQ(setFrameCallbackEx(d, InfoLog::receive, &log), S_OK);
        ASSERT_EQ(openDevice(d), 1) << "the device does not open";

        FormatInfo formats[4]{};
        ASSERT_EQ(getFormats(d, formats, 4), int32_t(device.capabilities.size()));
        for (const Capability& expected : device.capabilities) {
            const FormatInfo& listed = formats[expected.index];
            EXPECT_EQ(listed.index, expected.index);
            EXPECT_EQ(listed.width, expected.width);
            EXPECT_EQ(listed.height, expected.height);
            EXPECT_NEAR(listed.minFps, expected.minFps, 1e-3);
            EXPECT_NEAR(listed.maxFps, expected.maxFps, 1e-3);
        }
        // getResolutions keeps VIDEOINFOHEADER2 capabilities as gaps.
        ResolutionInfo* resolutions = getResolutions(d);
        ASSERT_NE(resolutions, nullptr);
        for (const Capability& expected : device.capabilities)
            EXPECT_EQ(resolutions[expected.index].index, expected.videoInfo2 ? -1 : expected.index);
        CoTaskMemFree(resolutions);

        // Each capability in turn, from the last, so every choice changes the format.
        for (bool running : {false, true}) {
            for (auto it = device.capabilities.rbegin(); it != device.capabilities.rend(); ++it) {
                const Capability& chosen = *it;
                SCOPED_TRACE(testing::Message() << "capability " << chosen.index << ", running " << running);
                ASSERT_EQ(setFormat(d, chosen.index, 0.0), S_OK);
                const std::size_t first = log.count();
                if (!running) {
                    ASSERT_TRUE(SUCCEEDED(startCapture(d)));
                }
                ASSERT_TRUE(log.waitFor(first + 3)) << "no frames";
                if (!running) {
                    ASSERT_TRUE(SUCCEEDED(stopCapture(d)));
                }
                std::lock_guard<std::mutex> lock(log.mutex);
                for (std::size_t i = first; i < log.infos.size(); ++i) {
                    EXPECT_EQ(log.infos[i].width, chosen.width);
                    EXPECT_EQ(log.infos[i].height, chosen.height);
                    EXPECT_EQ(log.infos[i].length, chosen.bytesPerFrame);
                    EXPECT_EQ(log.infos[i].reserved, 0);
                }
                // Grabber and null renderer wherever the grabber can take the format.
                const auto graphs = filterGraphsOfThisProcess();
                ASSERT_EQ(graphs.size(), 1u);
                const auto filters = filtersInGraph(graphs[0]);
                EXPECT_EQ(contains(filters, L"Sample Grabber"), !chosen.videoInfo2);
                EXPECT_EQ(contains(filters, L"Null Renderer"), !chosen.videoInfo2);
                EXPECT_EQ(contains(filters, L"Frame Sink"), chosen.videoInfo2);
            }
            if (!running) {
                ASSERT_TRUE(SUCCEEDED(startCapture(d)));
            }
        }
        ASSERT_TRUE(SUCCEEDED(stopCapture(d)));
        ASSERT_EQ(setFrameCallbackEx(d, nullptr, nullptr), S_OK);
        uninit();
        init();
    }
    uninit();
}
