// Camera settings: IAMVideoProcAmp and IAMCameraControl as configured per device, and what they
// do to the frames.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <cmath>
#include <vector>

#include "graph_helpers.h"
#include "platform_graph.h"
#include "vcam_devices.h"
#include "vcam_test_helpers.h"

using Microsoft::WRL::ComPtr;
using namespace std::chrono_literals;

namespace {

const wchar_t kControls[] =
    L"brightness=-64..64/1:0:manual,auto;contrast=0..100/1:50:manual;gain=0..100/2:0:manual;"
    L"exposure=-13..-1/1:-6:auto,manual;focus=0..255/5:0:auto,manual";

struct Range {
    LONG min, max, step, defaultValue, caps;
};

template <class Controls>
Range rangeOf(Controls* controls, LONG property) {
    Range range{};
    EXPECT_EQ(controls->GetRange(property, &range.min, &range.max, &range.step, &range.defaultValue, &range.caps),
              S_OK);
    return range;
}

// The bytes of frame 2 of a new run (the moving box is then where it was in every earlier run).
std::vector<BYTE> thirdFrame(PlatformGraph& graph) {
    FrameLog log(true);
    logFrames(graph, log);
    EXPECT_TRUE(SUCCEEDED(graph.run()));
    EXPECT_TRUE(log.waitFor(3, 5s));
    EXPECT_EQ(graph.stop(), S_OK);
    graph.setCallback(nullptr);
    auto frames = log.frames();
    return frames.size() >= 3 ? frames[2].bytes : std::vector<BYTE>();
}

struct Levels {
    double mean = 0, spread = 0;
    bool noneDarker = true, noneBrighter = true;
};

// Channel levels of a 160x120 RGB24 picture against a reference, below its stamped first row.
Levels compare(const std::vector<BYTE>& picture, const std::vector<BYTE>& reference) {
    Levels levels;
    const size_t first = 160 * 3, count = picture.size() - first;
    double sum = 0, squares = 0;
    for (size_t i = first; i < picture.size(); ++i) {
        sum += picture[i];
        squares += static_cast<double>(picture[i]) * picture[i];
        levels.noneDarker &= picture[i] >= reference[i];
        levels.noneBrighter &= picture[i] <= reference[i];
    }
    levels.mean = sum / count;
    levels.spread = std::sqrt(squares / count - levels.mean * levels.mean);
    return levels;
}

}  // namespace

TEST(VcamControls, EachDeviceHasTheSettingsItsRegistryNamesAndSetKeepsToTheirRanges) {
    ComApartment com;
    VcamDevices devices({{L"a", L"Plain", std::wstring(L"160x120@30 YUY2"), 1, {}, {}},
                         {L"b", L"Full", std::wstring(L"160x120@30 YUY2"), 2, {}, {{L"Controls", kControls}}}});
    ComPtr<IBaseFilter> plain, full;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Plain", &plain), S_OK);
    ASSERT_EQ(PlatformGraph::bindDevice(L"Full", &full), S_OK);
    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> camera;
    EXPECT_EQ(plain.As(&procAmp), E_NOINTERFACE);
    EXPECT_EQ(plain.As(&camera), E_NOINTERFACE);
    ASSERT_EQ(full.As(&procAmp), S_OK);
    ASSERT_EQ(full.As(&camera), S_OK);

    Range brightness = rangeOf(procAmp.Get(), VideoProcAmp_Brightness);
    EXPECT_EQ(brightness.min, -64);
    EXPECT_EQ(brightness.max, 64);
    EXPECT_EQ(brightness.step, 1);
    EXPECT_EQ(brightness.defaultValue, 0);
    EXPECT_EQ(brightness.caps, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual);
    Range gain = rangeOf(procAmp.Get(), VideoProcAmp_Gain);
    EXPECT_EQ(gain.step, 2);
    EXPECT_EQ(gain.caps, VideoProcAmp_Flags_Manual);
    Range exposure = rangeOf(camera.Get(), CameraControl_Exposure);
    EXPECT_EQ(exposure.min, -13);
    EXPECT_EQ(exposure.max, -1);
    EXPECT_EQ(exposure.defaultValue, -6);
    Range focus = rangeOf(camera.Get(), CameraControl_Focus);
    EXPECT_EQ(focus.step, 5);
    EXPECT_EQ(focus.caps, CameraControl_Flags_Auto | CameraControl_Flags_Manual);

    // The default value, in the first mode the registry lists.
    LONG value = 1, flags = 0;
    EXPECT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
    EXPECT_EQ(camera->Get(CameraControl_Exposure, &value, &flags), S_OK);
    EXPECT_EQ(value, -6);
    EXPECT_EQ(flags, CameraControl_Flags_Auto);

    EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 65, VideoProcAmp_Flags_Manual), E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, -65, VideoProcAmp_Flags_Manual), E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Gain, 3, VideoProcAmp_Flags_Manual), E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Gain, 4, VideoProcAmp_Flags_Auto), E_INVALIDARG);
    EXPECT_EQ(camera->Set(CameraControl_Focus, 7, CameraControl_Flags_Manual), E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Gain, 4, VideoProcAmp_Flags_Manual), S_OK);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, -64, VideoProcAmp_Flags_Auto), S_OK);
    EXPECT_EQ(camera->Set(CameraControl_Focus, 255, CameraControl_Flags_Manual), S_OK);

    // Settings the device does not have, named or not.
    LONG min, max, step, defaultValue, caps;
    EXPECT_EQ(procAmp->GetRange(VideoProcAmp_Hue, &min, &max, &step, &defaultValue, &caps), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(procAmp->Get(VideoProcAmp_Hue, &value, &flags), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Hue, 0, VideoProcAmp_Flags_Manual), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(procAmp->Get(10, &value, &flags), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(camera->Set(CameraControl_Pan, 0, CameraControl_Flags_Manual), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(camera->GetRange(7, &min, &max, &step, &defaultValue, &caps), E_PROP_ID_UNSUPPORTED);

    // What was set stays with this filter; another bind of the device starts from the defaults.
    EXPECT_EQ(procAmp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
    EXPECT_EQ(procAmp->Get(VideoProcAmp_Brightness, &value, &flags), S_OK);
    EXPECT_EQ(value, -64);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Auto);
    EXPECT_EQ(camera->Get(CameraControl_Focus, &value, &flags), S_OK);
    EXPECT_EQ(value, 255);
    ComPtr<IBaseFilter> again;
    ASSERT_EQ(PlatformGraph::bindDevice(L"Full", &again), S_OK);
    ComPtr<IAMVideoProcAmp> fresh;
    ASSERT_EQ(again.As(&fresh), S_OK);
    EXPECT_EQ(fresh->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    EXPECT_EQ(value, 0);
}

TEST(VcamControls, BrightnessContrastAndGainChangeThePictureAndALongExposureSlowsTheFrames) {
    ComApartment com;
    VcamDevices devices({{L"cam", L"Camera", std::wstring(L"160x-120@30 RGB24"), 1, {}, {{L"Controls", kControls}}}});
    PlatformGraph graph;
    ASSERT_EQ(graph.open(L"Camera"), S_OK);
    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> camera;
    ASSERT_EQ(graph.builder()->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, graph.captureFilter(),
                                             IID_IAMVideoProcAmp, reinterpret_cast<void**>(procAmp.GetAddressOf())),
              S_OK);
    ASSERT_EQ(graph.captureFilter()->QueryInterface(IID_PPV_ARGS(&camera)), S_OK);

    const auto neutral = thirdFrame(graph);
    ASSERT_EQ(neutral.size(), 160u * 120u * 3u);
    const Levels reference = compare(neutral, neutral);

    ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 40, VideoProcAmp_Flags_Manual), S_OK);
    const Levels brighter = compare(thirdFrame(graph), neutral);
    EXPECT_TRUE(brighter.noneDarker);
    EXPECT_GT(brighter.mean, reference.mean + 20);
    // In automatic mode the device picks for itself: the picture is as it was.
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 40, VideoProcAmp_Flags_Auto), S_OK);
    const Levels automatic = compare(thirdFrame(graph), neutral);
    EXPECT_TRUE(automatic.noneDarker && automatic.noneBrighter);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 0, VideoProcAmp_Flags_Manual), S_OK);

    ASSERT_EQ(procAmp->Set(VideoProcAmp_Contrast, 10, VideoProcAmp_Flags_Manual), S_OK);
    const Levels flatter = compare(thirdFrame(graph), neutral);
    EXPECT_LT(flatter.spread, reference.spread * 0.75);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Contrast, 50, VideoProcAmp_Flags_Manual), S_OK);

    ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 50, VideoProcAmp_Flags_Manual), S_OK);
    const Levels amplified = compare(thirdFrame(graph), neutral);
    EXPECT_TRUE(amplified.noneDarker);
    // Most of the picture is colour bars at 0 or 255, which gain leaves alone.
    EXPECT_GT(amplified.mean, reference.mean + 5);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Gain, 0, VideoProcAmp_Flags_Manual), S_OK);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, -40, VideoProcAmp_Flags_Manual), S_OK);
    EXPECT_TRUE(compare(thirdFrame(graph), neutral).noneBrighter);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 0, VideoProcAmp_Flags_Manual), S_OK);

    // 2^-2 s = 250 ms a frame, longer than the 33 ms the format allows: frames come that slowly.
    ASSERT_EQ(camera->Set(CameraControl_Exposure, -2, CameraControl_Flags_Manual), S_OK);
    FrameLog log;
    logFrames(graph, log);
    ASSERT_TRUE(SUCCEEDED(graph.run()));
    ASSERT_TRUE(log.waitFor(1, 5s));
    Sleep(1100);
    ASSERT_EQ(graph.stop(), S_OK);
    auto frames = log.frames();
    EXPECT_GE(frames.size(), 4u);
    EXPECT_LE(frames.size(), 6u);
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_NEAR(frames[i].time - frames[i - 1].time, 0.25, 1e-5) << "frame " << i;
    expectNumberedFromZero(frames);
}
