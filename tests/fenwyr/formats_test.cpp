// Stream capabilities and the current format, as the records a host receives describe them.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <cmath>
#include <limits>
#include <string>

#include "fenwyr.h"
#include "frame_log.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

constexpr int kRecords = 1024;

// The virtual device's frame time for a rate: 10^7 / fps, rounded.
float ratePerSecond(long long avgTimePerFrame) {
    return static_cast<float>(1.0 / (static_cast<double>(avgTimePerFrame) / 10000000.0));
}

void expectRecord(const ResolutionInfo& r, int index, int width, int height, int bits, float fps, int format) {
    EXPECT_EQ(r.index, index);
    EXPECT_EQ(r.width, width);
    EXPECT_EQ(r.height, height);
    EXPECT_EQ(r.bitCount, bits);
    EXPECT_FLOAT_EQ(r.framesPerSecond, fps);
    EXPECT_EQ(r.pixelFormat, format);
}

void expectCapabilityDefaults(const ResolutionInfo& r) {
    expectRecord(r, -1, -1, -1, -1, -1.0f, -1);
}

void expectCurrentDefaults(const ResolutionInfo& r) {
    expectRecord(r, -1, 1, 1, 1, 1.0f, 0);
}

VcamDevice withFormats(const std::wstring& formats) {
    VcamDevice device = camera(L"a", L"Alpha");
    device.formats = formats;
    return device;
}

struct Resolutions {
    explicit Resolutions(ResolutionInfo* block) : records(block) {}
    ~Resolutions() { CoTaskMemFree(records); }
    Resolutions(const Resolutions&) = delete;
    Resolutions& operator=(const Resolutions&) = delete;
    ResolutionInfo* records;
};

}  // namespace

TEST(Formats, CapabilitiesAreListedInTheirPlacesWithGapsForOtherFormatTypes) {
    VcamDevices devices({withFormats(L"640x480@30 YUY2;1280x720@60 MJPG;320x-240@15 RGB24;"
                                     L"640x480@30 RGB32 VIH2;160x120@0 RGB565;176x144@5 RGB8")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    Resolutions list(getResolutions(0));
    ASSERT_NE(list.records, nullptr);
    const ResolutionInfo* r = list.records;
    expectRecord(r[0], 0, 640, 480, 16, ratePerSecond(333333), 8);
    EXPECT_FLOAT_EQ(r[0].framesPerSecond, 30.00003f);
    expectRecord(r[1], 1, 1280, 720, 24, ratePerSecond(166667), 7);
    expectRecord(r[2], 2, 320, -240, 24, ratePerSecond(666667), 5);
    expectCapabilityDefaults(r[3]);
    EXPECT_EQ(r[4].index, 4);
    EXPECT_EQ(r[4].pixelFormat, 4);
    EXPECT_TRUE(std::isinf(r[4].framesPerSecond) && r[4].framesPerSecond > 0) << r[4].framesPerSecond;
    expectRecord(r[5], 5, 176, 144, 8, 5.0f, 2);
    for (int i = 6; i < kRecords; ++i)
        expectCapabilityDefaults(r[i]);
    EXPECT_EQ(out.text(), "");
    uninit();
}

TEST(Formats, PixelFormatCodesFollowTheSubtype) {
    VcamDevices devices({withFormats(L"64x48@30 RGB1;64x48@30 RGB4;64x48@30 RGB8;64x48@30 RGB555;64x48@30 RGB565;"
                                     L"64x48@30 RGB24;64x48@30 RGB32;64x48@30 MJPG;64x48@30 YUY2;64x48@30 NV12")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    Resolutions list(getResolutions(0));
    ASSERT_NE(list.records, nullptr);
    const int expected[] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 0};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(list.records[i].index, i);
        EXPECT_EQ(list.records[i].pixelFormat, expected[i]) << "capability " << i;
    }
    uninit();
}

TEST(Formats, FailingCapabilitiesArePrintedAndTheWalkGoesOn) {
    VcamDevice device = withFormats(L"64x48@30 RGB24;80x60@30 RGB24;96x72@30 RGB24;112x84@30 RGB24");
    device.strings[L"FailStreamCaps"] = L"1,3";
    VcamDevices devices({device});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    Resolutions list(getResolutions(0));
    ASSERT_NE(list.records, nullptr);
    EXPECT_EQ(out.text(), "Error enumerating stream caps id: 1\nError enumerating stream caps id: 3\n");
    EXPECT_EQ(list.records[0].width, 64);
    expectCapabilityDefaults(list.records[1]);
    EXPECT_EQ(list.records[2].width, 96);
    expectCapabilityDefaults(list.records[3]);
    uninit();
}

TEST(Formats, Only1024CapabilitiesAreEnteredButAllAreWalked) {
    std::wstring formats;
    for (int i = 0; i < 1030; ++i)
        formats += std::to_wstring(16 + i) + L"x16@30 RGB24;";
    formats.pop_back();
    VcamDevice device = withFormats(formats);
    device.strings[L"FailStreamCaps"] = L"1027";
    VcamDevices devices({device});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    Resolutions list(getResolutions(0));
    ASSERT_NE(list.records, nullptr);
    EXPECT_EQ(out.text(), "Error enumerating stream caps id: 1027\n");
    EXPECT_EQ(list.records[0].width, 16);
    EXPECT_EQ(list.records[1023].index, 1023);
    EXPECT_EQ(list.records[1023].width, 16 + 1023);
    uninit();
}

TEST(Formats, DeviceWithoutStreamConfigIsReported) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"NoStreamConfig")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    Resolutions list(getResolutions(0));
    ASSERT_NE(list.records, nullptr);
    expectCapabilityDefaults(list.records[0]);
    setResolution(0, 0);
    EXPECT_EQ(out.text(), "Error getting IAMStreamConfig\nError getting IAMStreamConfig\n");
    uninit();
}

TEST(Formats, UnexpectedCapabilitySizeLeavesEverythingAlone) {
    VcamDevice device = withSwitch(camera(L"a", L"Alpha"), L"CapsSize", 64);
    device.formats = L"64x48@30 RGB24;80x60@30 RGB24";
    VcamDevices devices({device});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    Resolutions list(getResolutions(0));
    ASSERT_NE(list.records, nullptr);
    expectCapabilityDefaults(list.records[0]);
    setResolution(0, 1);
    Resolutions current(getResolution(0));
    ASSERT_NE(current.records, nullptr);
    EXPECT_EQ(current.records->width, 64) << "the format changed";
    EXPECT_EQ(out.text(), "");
    uninit();
}

TEST(Formats, CurrentFormatIsTheConnectedOne) {
    VcamDevices devices({withFormats(L"320x-240@15 RGB24;160x120@30 RGB32")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    Resolutions current(getResolution(0));
    ASSERT_NE(current.records, nullptr);
    expectRecord(*current.records, -1, 320, -240, 24, ratePerSecond(666667), 5);
    EXPECT_EQ(out.text(), "");
    uninit();
}

// A capture card's chain ends in fenwyr's own sink instead of the grabber: its connection is the
// current format, and the grabber's is again once a format it takes is chosen.
TEST(Formats, CurrentFormatIsTheConnectionThatEndsTheChain) {
    VcamDevices devices({withFormats(L"320x240@15 YUY2 VIH2 16:9;160x120@30 RGB24")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    const auto expectCurrent = [](int width, int height, int bits, float fps, int format) {
        Resolutions current(getResolution(0));
        ASSERT_NE(current.records, nullptr);
        expectRecord(*current.records, -1, width, height, bits, fps, format);
    };
    expectCurrent(320, 240, 16, ratePerSecond(666667), 8);
    ASSERT_EQ(setFormat(0, 1, 0.0), S_OK);
    expectCurrent(160, 120, 24, ratePerSecond(333333), 5);
    ASSERT_EQ(setFormat(0, 0, 0.0), S_OK);
    expectCurrent(320, 240, 16, ratePerSecond(666667), 8);
    EXPECT_EQ(out.text(), "");
    uninit();
}

TEST(Formats, SelectedCapabilityReachesTheHost) {
    VcamDevices devices({withFormats(L"320x240@30 RGB24;160x120@30 RGB32")});
    init();
    setFrameArrivedCallback(0, frameCallback(0));
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    setResolution(0, 1);
    Resolutions current(getResolution(0));
    ASSERT_NE(current.records, nullptr);
    expectRecord(*current.records, -1, 160, 120, 32, ratePerSecond(333333), 6);

    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(frameLog(0).waitFor(2));
    stopCapture(0);
    EXPECT_EQ(frameLog(0).frames()[0].length, 160 * 120 * 4);
    EXPECT_EQ(out.text(), "");
    uninit();
}

TEST(Formats, CapabilityIndexOutsideTheListChangesNothing) {
    VcamDevices devices({withFormats(L"320x240@30 RGB24;160x120@30 RGB32")});
    init();
    ASSERT_EQ(openDevice(0), 1);
    StdoutCapture out;
    setResolution(0, 2);
    setResolution(0, -1);
    Resolutions current(getResolution(0));
    ASSERT_NE(current.records, nullptr);
    EXPECT_EQ(current.records->width, 320);
    EXPECT_EQ(out.text(), "");
    uninit();
}

TEST(Formats, UnconnectedGrabberReportsTheFailureAndTheDefaults) {
    VcamDevices devices({withFormats(L"")});
    init();
    ASSERT_EQ(openDevice(0), 0);
    StdoutCapture out;
    Resolutions current(getResolution(0));
    ASSERT_NE(current.records, nullptr);
    expectCurrentDefaults(*current.records);
    // VFW_E_NOT_CONNECTED, as a signed number.
    EXPECT_EQ(out.text(), "Unknown: " + std::to_string(static_cast<int32_t>(0x80040209)) +
                              "\nError getting current media format: \n");
    uninit();
}

TEST(Formats, DeviceNeverOpenedGivesTheDefaultsSilently) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    StdoutCapture out;
    Resolutions list(getResolutions(0));
    Resolutions current(getResolution(0));
    ASSERT_NE(list.records, nullptr);
    ASSERT_NE(current.records, nullptr);
    for (int i = 0; i < kRecords; ++i)
        expectCapabilityDefaults(list.records[i]);
    expectCurrentDefaults(*current.records);
    setResolution(0, 0);
    EXPECT_EQ(out.text(), "");
    uninit();
}
