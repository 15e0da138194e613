// The deliverable DLLs as a host's loader sees them: what they export, what they need.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "pe_image.h"

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool inSystemDirectory(const std::string& dll) {
    char dir[MAX_PATH];
    UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    std::string path = std::string(dir, n) + "\\" + dll;
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Every import comes from a Windows system DLL (so no mingw runtime DLL), or is allowed explicitly.
void expectOnlySystemImports(const PeImage& image, const std::set<std::string>& alsoAllowed) {
    for (const auto& import : image.imports) {
        const std::string name = lower(import.dll);
        EXPECT_TRUE(inSystemDirectory(name) || alsoAllowed.count(name)) << "imports " << import.dll;
        EXPECT_NE(name.rfind("libstdc++", 0), 0u);
        EXPECT_NE(name.rfind("libgcc", 0), 0u);
        EXPECT_NE(name.rfind("libwinpthread", 0), 0u);
    }
}

const std::vector<std::string> kTarvikExports = {
    "findAvailableCamera", "closeCamera", "getCameraId", "getCameraName", "setAoi", "aoiInfo",
    "startCapture", "stopCurrentCapture", "captureFrame", "captureFrameChecked", "getPixelClockRange",
    "setPixelClock", "getCurrentPixelClock", "getFpsRange", "setFps", "getCurrentFps", "getExposureRange",
    "getCurrentExposure", "setExposure", "setGamma", "setGain", "getGain"};

const std::vector<std::string> kFenwyrExports = {
    "init", "uninit", "listDevices", "openDevice", "startCapture", "stopCapture", "setFrameArrivedCallback",
    "getResolutions", "getResolution", "setResolution", "showFilterProperties", "showCapturePinProperties",
    // Past the original twelve: frames with their description, and frames for hosts that poll.
    "setFrameCallbackEx", "grabFrame",
    // Which device is which, and what happens to it.
    "getDeviceIdentity", "findDevice", "refreshDevices", "setDeviceEventCallback", "getDeviceState",
    // Frame rates and camera controls.
    "getFormats", "setFormat", "getControl", "setControl"};

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(Tarvik, ExportsExactlyItsUndecoratedNames) {
    const PeImage image = readPeImage(besideProgram(L"tarvik.dll"));
    EXPECT_EQ(sorted(image.exports), sorted(kTarvikExports));
}

TEST(Tarvik, ImportsOnlySystemDllsAndTheCameraApiByOrdinal) {
    const PeImage image = readPeImage(besideProgram(L"tarvik.dll"));
    expectOnlySystemImports(image, {"ueye_api_64.dll"});

    auto cameraApi = std::find_if(image.imports.begin(), image.imports.end(),
                                  [](const PeImport& i) { return lower(i.dll) == "ueye_api_64.dll"; });
    ASSERT_NE(cameraApi, image.imports.end());
    EXPECT_TRUE(cameraApi->names.empty()) << "imported by name: " << cameraApi->names.front();
    const std::set<unsigned> ordinals(cameraApi->ordinals.begin(), cameraApi->ordinals.end());
    const std::set<unsigned> expected = {3,   5,   12,  17,  23,  36,  38,  68,  69,  72,  85,  215, 231,
                                         237, 239, 241, 271, 393, 395, 429, 486, 496, 500, 514, 530};
    EXPECT_EQ(ordinals, expected);
}

TEST(Fenwyr, ExportsExactlyItsUndecoratedNames) {
    const PeImage image = readPeImage(besideProgram(L"fenwyr.dll"));
    EXPECT_EQ(sorted(image.exports), sorted(kFenwyrExports));
}

TEST(Fenwyr, ImportsOnlySystemDlls) {
    const PeImage image = readPeImage(besideProgram(L"fenwyr.dll"));
    EXPECT_FALSE(image.imports.empty());
    expectOnlySystemImports(image, {});
}
