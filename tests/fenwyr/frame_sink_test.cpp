// fenwyr's Frame Sink, the end of the chain for VIDEOINFOHEADER2 formats, as a host can reach it:
// through the device's graph in the running object table.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <vector>

#include "fenwyr.h"
#include "frame_log.h"
#include "rot_entries.h"
#include "test_devices.h"

using Microsoft::WRL::ComPtr;

namespace {

// A capture card whose default format only the sink takes, and one the grabber takes.
const wchar_t kCardFormats[] = L"160x120@30 YUY2 VIH2;160x120@30 RGB24";

ComPtr<IBaseFilter> frameSink() {
    const auto graphs = filterGraphsOfThisProcess();
    return graphs.size() == 1 ? findFilterInGraph(graphs[0], L"Frame Sink") : nullptr;
}

// The references left once the test lets go of the one it kept: 0 when the object is gone.
ULONG letGo(ComPtr<IBaseFilter>& kept) {
    return kept ? kept.Detach()->Release() : ~0u;
}

}  // namespace

// Each sink must be destroyed once the device stops using it: at a change to a format the
// grabber takes, and when the device is opened again or closed.
TEST(FrameSink, NoSinkOutlivesItsUse) {
    VcamDevices devices({vcamDevice(L"a", L"Capture Card", kCardFormats)});
    ComApartment com;
    init();
    InfoLog log;
    ASSERT_EQ(setFrameCallbackEx(0, InfoLog::receive, &log), S_OK);
    std::vector<ULONG> left;
    ComPtr<IBaseFilter> kept;
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(openDevice(0), 1);  // the previous graph goes first
        if (kept)
            left.push_back(letGo(kept));
        kept = frameSink();
        ASSERT_TRUE(kept);
        ASSERT_TRUE(SUCCEEDED(startCapture(0)));
        ASSERT_TRUE(log.waitFor(log.count() + 2));
        ASSERT_EQ(setFormat(0, 1, 0.0), S_OK);
        left.push_back(letGo(kept));
        ASSERT_EQ(setFormat(0, 0, 0.0), S_OK);
        kept = frameSink();
        ASSERT_TRUE(log.waitFor(log.count() + 2));
    }
    uninit();
    left.push_back(letGo(kept));
    EXPECT_EQ(left, std::vector<ULONG>(6, 0));
}
