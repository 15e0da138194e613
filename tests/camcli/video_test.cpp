// camcli devices, formats, grab and props against virtual capture devices.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "process_runner.h"
#include "vcam_devices.h"
#include "wic_image.h"

namespace {

ProcessResult camcli(const std::wstring& arguments) {
    return runProgram(L"camcli.exe", arguments);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Rgb {
    int r, g, b;
};

Rgb pixel(const DecodedImage& image, UINT x, UINT y) {
    const BYTE* p = &image.bgr[(size_t(y) * image.width + x) * 3];
    return {p[2], p[1], p[0]};
}

bool similar(Rgb got, Rgb want, int tolerance) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

} // namespace

TEST(Video, DevicesListsEveryDeviceByIndexAndName) {
    VcamDevices devices({vcamDevice(L"A", L"Cam One", L"160x120@30 RGB24"), vcamDevice(L"B", L"Cam Two", L"160x120@30 RGB24")});
    const ProcessResult run = camcli(L"devices");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(contains(run.output, "  0  Cam One\n  1  Cam Two\n")) << run.output;
}

TEST(Video, DevicesSaysSoWhenThereAreNone) {
    VcamDevices none;
    const ProcessResult run = camcli(L"devices");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(contains(run.output, "no video-capture devices")) << run.output;
}

TEST(Video, FormatsPrintsTheCapabilitiesAndTheCurrentFormat) {
    VcamDevices devices({vcamDevice(L"A", L"Cam", L"640x480@30 YUY2;320x-240@15 RGB24;1280x720@60 MJPG")});
    const ProcessResult run = camcli(L"formats 0");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(contains(run.output, "    0    640    480   16    30.000  YUY2\n")) << run.output;
    EXPECT_TRUE(contains(run.output, "    1    320   -240   24    15.000  RGB24\n")) << run.output;
    EXPECT_TRUE(contains(run.output, "    2   1280    720   24    60.000  MJPG\n")) << run.output;
    EXPECT_TRUE(contains(run.output, "current:\n   -1    640    480   16    30.000  YUY2\n")) << run.output;
}

// Every layout camcli converts comes out as the same upright picture: the device's colour bars
// (red in the sixth eighth, cyan in the third) above a grey ramp that runs dark to light.
TEST(Video, GrabWritesEveryFormatAsTheSameUprightPicture) {
    const wchar_t* formats =
        L"320x240@30 RGB24;320x240@30 RGB32;320x240@30 RGB565;320x240@30 RGB555;320x240@30 YUY2;"
        L"320x240@30 NV12;320x240@30 MJPG;320x-240@30 RGB24;320x240@30 RGB8";
    VcamDevices devices({vcamDevice(L"A", L"Cam", formats, 9)});
    for (int k = 0; k < 9; ++k) {
        TempFolder out;
        const ProcessResult run =
            camcli(L"grab 0 --format " + std::to_wstring(k) + L" --frames 2 --out \"" + out.path() + L"\"");
        ASSERT_EQ(run.exitCode, 0u) << "format " << k << ": " << run.output;
        EXPECT_TRUE(contains(run.output, "frames taken with grabFrame")) << run.output;
        EXPECT_TRUE(contains(run.output, "frames received 2 of 2")) << run.output;
        EXPECT_TRUE(contains(run.output, "frames lost 0, repeated 0")) << run.output;
        ASSERT_EQ(out.files().size(), 2u) << "format " << k;
        const DecodedImage image = decodeImageFile(out.path() + L"\\" + out.files()[0]);
        ASSERT_EQ(image.width, 320u) << "format " << k;
        ASSERT_EQ(image.height, 240u) << "format " << k;
        const int tolerance = k == 8 ? 30 : 48;  // RGB8 and the lossy layouts round colours
        EXPECT_TRUE(similar(pixel(image, 220, 190), {255, 0, 0}, tolerance)) << "format " << k << " red bar";
        EXPECT_TRUE(similar(pixel(image, 100, 190), {0, 255, 255}, tolerance)) << "format " << k << " cyan bar";
        EXPECT_LT(pixel(image, 8, 236).g, 64) << "format " << k << " ramp start";
        EXPECT_GT(pixel(image, 312, 236).g, 192) << "format " << k << " ramp end";
    }
}

TEST(Video, GrabByCallbackWritesTheFramesToo) {
    VcamDevices devices({vcamDevice(L"A", L"Cam", L"320x240@30 RGB24", 9)});
    TempFolder out;
    const ProcessResult run = camcli(L"grab 0 --callback --frames 3 --out \"" + out.path() + L"\"");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(contains(run.output, "frames taken in the frame callback")) << run.output;
    EXPECT_TRUE(contains(run.output, "frames received 3 of 3")) << run.output;
    // The callback sees every frame fenwyr receives.
    EXPECT_TRUE(contains(run.output, "frames missed 0 ")) << run.output;
    ASSERT_EQ(out.files().size(), 3u);
    const DecodedImage image = decodeImageFile(out.path() + L"\\" + out.files()[2]);
    ASSERT_EQ(image.width, 320u);
    EXPECT_TRUE(similar(pixel(image, 220, 190), {255, 0, 0}, 48)) << "red bar";
}

// Every second frame dropped by the device: both ways report the device's own count, and the
// device's sequence numbers show the gaps that fenwyr's own numbering does not.
TEST(Video, GrabReportsTheDevicesDropCount) {
    VcamDevice dropping = vcamDevice(L"A", L"Cam", L"160x120@60 RGB24");
    dropping.dwords[L"DropEvery"] = 2;
    VcamDevices devices({dropping});
    for (const std::wstring way : {L"", L" --callback"}) {
        TempFolder out;
        // 30 frames take a second: fenwyr samples the device's count every 250 ms.
        const ProcessResult run = camcli(L"grab 0 --frames 30" + way + L" --out \"" + out.path() + L"\"");
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const size_t at = run.output.find("dropped by the device ");
        ASSERT_NE(at, std::string::npos) << run.output;
        EXPECT_GT(std::atoll(run.output.c_str() + at + 22), 0) << run.output;
        if (!way.empty()) {
            EXPECT_TRUE(contains(run.output, "frames lost 29, repeated 0")) << run.output;
            EXPECT_TRUE(contains(run.output, "frames missed 0 ")) << run.output;
        }
    }
}

TEST(Video, BadArgumentsAndUnopenableDevices) {
    VcamDevice broken = vcamDevice(L"B", L"Broken", L"160x120@30 RGB24");
    broken.dwords[L"FailLoadAfter"] = 1;  // lists, but cannot be bound when opened
    VcamDevices devices({vcamDevice(L"A", L"Cam", L"160x120@30 RGB24"), broken});
    const struct {
        const wchar_t* arguments;
        DWORD exitCode;
        const char* message;
    } cases[] = {
        {L"grab 7", 2, "there is no device 7; 'camcli devices' lists them"},
        {L"grab one", 2, "the device must be an index, not 'one'"},
        {L"grab 0 --format 3", 2, "device 0 has no capability 3; 'camcli formats 0' lists them"},
        {L"grab 0 --frames 0", 2, "--frames must be between 1 and 10000, not 0"},
        {L"formats", 2, "missing device index"},
        {L"props 0 --window", 2, "unexpected argument '--window'"},
        {L"formats 1", 1, "device 1 could not be opened"},
        {L"grab 1", 1, "device 1 could not be opened"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = camcli(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        EXPECT_TRUE(contains(run.output, c.message)) << run.output;
    }
}

TEST(Video, PropsShowsTheDriversDialogUntilItIsClosed) {
    VcamDevices devices({vcamDevice(L"A", L"Cam", L"160x120@30 RGB24")});
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        for (int i = 0; i < 200 && !closed; ++i) {
            if (HWND dialog = FindWindowW(L"#32770", L"Properties for Video Capture")) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
                closed = true;
            }
            Sleep(50);
        }
    });
    const ProcessResult run = camcli(L"props 0");
    closed = true;
    closer.join();
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(contains(run.output, "filter properties: 0x00000000 S_OK")) << run.output;
}

TEST(Video, PropsReportsWhatOffersNoPages) {
    VcamDevice plain = vcamDevice(L"A", L"Cam", L"160x120@30 RGB24");
    plain.dwords[L"NoPropertyPages"] = 1;
    VcamDevices devices({plain});
    const ProcessResult filter = camcli(L"props 0");
    EXPECT_EQ(filter.exitCode, 1u);
    EXPECT_TRUE(contains(filter.output, "filter properties: 0x80004002 E_NOINTERFACE")) << filter.output;
    const ProcessResult pin = camcli(L"props 0 --pin");
    EXPECT_EQ(pin.exitCode, 1u);
    EXPECT_TRUE(contains(pin.output, "pin properties: 0x80004002 E_NOINTERFACE")) << pin.output;
}
