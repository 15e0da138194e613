// A capture card's inputs (getInputs, selectInput) and video standard (getVideoStandard,
// setVideoStandard), as a host sees them: the records, the picture of the routed input, refusals.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <cmath>
#include <vector>

#include "fenwyr.h"
#include "test_devices.h"

namespace {

// A grey ramp only (no moving box), so that every pixel of the routed input's picture is known.
VcamDevice card(const std::wstring& inputs = L"") {
    VcamDevice device = withSwitch(withSwitch(camera(L"a", L"Card"), L"CaptureCard"), L"GreyRamp");
    if (!inputs.empty())
        device.strings[L"CrossbarInputs"] = inputs;
    return device;
}

std::vector<InputInfo> inputsOf(int32_t device) {
    std::vector<InputInfo> inputs(16);
    const int32_t count = getInputs(device, inputs.data(), 16);
    EXPECT_GE(count, 0);
    inputs.resize(count > 0 ? count : 0);
    return inputs;
}

// The first picture painted after this call: two frames past the newest one now.
std::vector<uint8_t> nextPicture() {
    std::vector<uint8_t> picture(kSmallFrameBytes);
    FrameInfo info{};
    EXPECT_EQ(grabFrame(0, picture.data(), kSmallFrameBytes, &info, 5000), S_OK);
    const uint64_t wanted = info.sequence + 2;
    while (info.sequence < wanted)
        if (grabFrame(0, picture.data(), kSmallFrameBytes, &info, 5000) != S_OK)
            return {};
    return picture;
}

// Pixels of the ramp picture that differ from level x * 255 / 159 scaled by each channel's factor
// (blue, green, red); the last row, which holds the device's stamp, is left out.
int wrongPixels(const std::vector<uint8_t>& picture, const double (&factors)[3]) {
    if (picture.size() != static_cast<size_t>(kSmallFrameBytes))
        return -1;
    int wrong = 0;
    for (int y = 0; y < 119; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c) {
                const long expected = std::lround((x * 255 / 159) * factors[c]);
                wrong += picture[(static_cast<size_t>(y) * 160 + x) * 3 + c] != expected;
            }
    return wrong;
}

}  // namespace

TEST(CaptureCard, InputsAreTheCrossbarsVideoInputsWithTheirTypesAndAudio) {
    VcamDevices devices({card(L"Tuner+Tuner;Composite+Line;SVideo;YRYBY;RGB;SerialDigital+AESDigital;"
                              L"ParallelDigital+SPDIFDigital;USB")});
    init();
    InputInfo record{};
    EXPECT_EQ(getInputs(0, &record, 1), E_POINTER) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getInputs(0, nullptr, 1), E_POINTER);
    EXPECT_EQ(getInputs(0, &record, -1), E_INVALIDARG);
    EXPECT_EQ(getInputs(1, &record, 1), E_INVALIDARG);
    EXPECT_EQ(getInputs(0, nullptr, 0), 8) << "the count; the audio pins are no inputs";
    EXPECT_EQ(getInputs(0, &record, 1), 8);
    EXPECT_EQ(record.index, 0);

    // Video pins 0..7, then the audio pins of inputs 0, 1, 5 and 6.
    const InputInfo expected[] = {
        {0, FENWYR_INPUT_TUNER, PhysConn_Video_Tuner, 1, 8, 1},
        {1, FENWYR_INPUT_COMPOSITE, PhysConn_Video_Composite, 0, 9, 0},
        {2, FENWYR_INPUT_SVIDEO, PhysConn_Video_SVideo, 0, -1, 0},
        {3, FENWYR_INPUT_COMPONENT, PhysConn_Video_YRYBY, 0, -1, 0},
        {4, FENWYR_INPUT_COMPONENT, PhysConn_Video_RGB, 0, -1, 0},
        {5, FENWYR_INPUT_SDI, PhysConn_Video_SerialDigital, 0, 10, 0},
        {6, FENWYR_INPUT_HDMI, PhysConn_Video_ParallelDigital, 0, 11, 0},
        {7, FENWYR_INPUT_OTHER, PhysConn_Video_USB, 0, -1, 0},
    };
    const std::vector<InputInfo> inputs = inputsOf(0);
    ASSERT_EQ(inputs.size(), 8u);
    for (size_t k = 0; k < inputs.size(); ++k) {
        EXPECT_EQ(inputs[k].index, expected[k].index) << k;
        EXPECT_EQ(inputs[k].type, expected[k].type) << k;
        EXPECT_EQ(inputs[k].connector, expected[k].connector) << k;
        EXPECT_EQ(inputs[k].routed, expected[k].routed) << k;
        EXPECT_EQ(inputs[k].audioInput, expected[k].audioInput) << k;
        EXPECT_EQ(inputs[k].audioRouted, expected[k].audioRouted) << k;
    }
    uninit();
}

TEST(CaptureCard, SelectingAnInputRoutesItsPictureAndItsAudio) {
    // Composite (audio pin 3), S-Video (4), HDMI (5); the card tints inputs 1 and 2.
    VcamDevices devices({card()});
    init();
    EXPECT_EQ(selectInput(0, 1), E_POINTER) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(setOutputFormat(0, FENWYR_OUTPUT_BGR24), S_OK);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    const struct {
        int32_t input;
        double factors[3];  // blue, green, red
    } steps[] = {{0, {1, 1, 1}}, {1, {1, 1, 0.5}}, {2, {1, 0.5, 1}}, {0, {1, 1, 1}}};
    for (const auto& step : steps) {
        ASSERT_EQ(selectInput(0, step.input), S_OK) << step.input;
        EXPECT_EQ(wrongPixels(nextPicture(), step.factors), 0) << "input " << step.input;
        for (const InputInfo& input : inputsOf(0)) {
            EXPECT_EQ(input.routed, input.index == step.input ? 1 : 0) << step.input << " " << input.index;
            EXPECT_EQ(input.audioInput, input.index + 3);
            EXPECT_EQ(input.audioRouted, input.index == step.input ? 1 : 0) << "the audio follows";
        }
    }
    for (int32_t refused : {3, 5, 6, -1})
        EXPECT_EQ(selectInput(0, refused), E_INVALIDARG) << refused << ": an audio pin or none";
    EXPECT_EQ(selectInput(1, 0), E_INVALIDARG);
    EXPECT_EQ(inputsOf(0).at(0).routed, 1) << "refusals route nothing";
    EXPECT_EQ(stopCapture(0), S_OK);
    uninit();
}

TEST(CaptureCard, AnInputWithoutAudioLeavesTheAudioWhereItWas) {
    VcamDevices devices({card(L"Composite+Line;SVideo")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(selectInput(0, 1), S_OK);
    const std::vector<InputInfo> inputs = inputsOf(0);
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[0].routed, 0);
    EXPECT_EQ(inputs[0].audioRouted, 1) << "the line input still reaches the audio output";
    EXPECT_EQ(inputs[1].routed, 1);
    EXPECT_EQ(inputs[1].audioInput, -1);
    EXPECT_EQ(inputs[1].audioRouted, 0);
    uninit();
}

TEST(CaptureCard, StandardsListTakeAChangeAndTheLockFollowsTheSwitch) {
    VcamDevice device = card();
    device.dwords[L"VideoStandards"] = AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_SECAM_L;
    VcamDevices devices({device});
    init();
    int32_t available = 0, current = 0, locked = 0;
    EXPECT_EQ(getVideoStandard(0, &available, &current, &locked), E_POINTER) << "not open";
    EXPECT_EQ(setVideoStandard(0, AnalogVideo_PAL_B), E_POINTER) << "not open";
    ASSERT_EQ(openDevice(0), 1);
    EXPECT_EQ(getVideoStandard(0, nullptr, &current, &locked), E_POINTER);
    EXPECT_EQ(getVideoStandard(0, &available, nullptr, &locked), E_POINTER);
    EXPECT_EQ(getVideoStandard(0, &available, &current, nullptr), E_POINTER);
    EXPECT_EQ(getVideoStandard(1, &available, &current, &locked), E_INVALIDARG);
    ASSERT_EQ(getVideoStandard(0, &available, &current, &locked), S_OK);
    EXPECT_EQ(available, AnalogVideo_NTSC_M | AnalogVideo_PAL_B | AnalogVideo_SECAM_L);
    EXPECT_EQ(current, AnalogVideo_NTSC_M);
    EXPECT_EQ(locked, 1);

    const struct {
        int32_t standard;
        HRESULT result;
        int32_t current;  // afterwards
    } steps[] = {
        {AnalogVideo_PAL_B, S_OK, AnalogVideo_PAL_B},
        {AnalogVideo_PAL_I, E_INVALIDARG, AnalogVideo_PAL_B},  // not offered
        {AnalogVideo_NTSC_M | AnalogVideo_SECAM_L, E_INVALIDARG, AnalogVideo_PAL_B},
        {0, E_INVALIDARG, AnalogVideo_PAL_B},
        {-1, E_INVALIDARG, AnalogVideo_PAL_B},
        {AnalogVideo_SECAM_L, S_OK, AnalogVideo_SECAM_L},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(setVideoStandard(0, step.standard), step.result) << step.standard;
        ASSERT_EQ(getVideoStandard(0, &available, &current, &locked), S_OK);
        EXPECT_EQ(current, step.current) << step.standard;
    }
    EXPECT_EQ(setVideoStandard(1, AnalogVideo_PAL_B), E_INVALIDARG);

    for (DWORD noSignal : {1u, 0u, 1u}) {
        VcamDevices::setDword(L"a", L"NoSignal", noSignal);
        ASSERT_EQ(getVideoStandard(0, &available, &current, &locked), S_OK);
        EXPECT_EQ(locked, noSignal ? 0 : 1) << "NoSignal " << noSignal;
    }
    uninit();
}

TEST(CaptureCard, ARecoveredCardHasTheInputAndStandardTheHostChose) {
    VcamDevices devices({card()});
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_EQ(selectInput(0, 2), S_OK);
    ASSERT_EQ(setVideoStandard(0, AnalogVideo_SECAM_L), S_OK);
    // A new graph, whose card starts at input 0 and NTSC_M.
    ASSERT_EQ(recoverDevice(0), S_OK);
    const std::vector<InputInfo> inputs = inputsOf(0);
    ASSERT_EQ(inputs.size(), 3u);
    EXPECT_EQ(inputs[0].routed, 0);
    EXPECT_EQ(inputs[2].routed, 1);
    EXPECT_EQ(inputs[2].audioRouted, 1);
    int32_t available = 0, current = 0, locked = 0;
    ASSERT_EQ(getVideoStandard(0, &available, &current, &locked), S_OK);
    EXPECT_EQ(current, AnalogVideo_SECAM_L);
    uninit();
}

TEST(CaptureCard, ADeviceWithoutACrossbarOrDecoderAnswersUnsupported) {
    VcamDevices devices({camera(L"a", L"Camera")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    InputInfo record{};
    int32_t available = 0, current = 0, locked = 0;
    EXPECT_EQ(getInputs(0, &record, 1), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(getInputs(0, nullptr, 0), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(selectInput(0, 0), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(getVideoStandard(0, &available, &current, &locked), E_PROP_ID_UNSUPPORTED);
    EXPECT_EQ(setVideoStandard(0, AnalogVideo_NTSC_M), E_PROP_ID_UNSUPPORTED);
    uninit();
}
