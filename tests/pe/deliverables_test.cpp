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
    "getFormats", "setFormat", "chooseFormat", "getControl", "setControl",
    // Pictures.
    "setOutputFormat", "getOutputFormat",
    // Streams that stall, and devices brought back.
    "setSupervision", "recoverDevice", "getStreamStats",
    // Capture cards: inputs and video standard.
    "getInputs", "selectInput", "getVideoStandard", "setVideoStandard",
    // The reason of a failure, for hosts that poll.
    "getDeviceError",
    // Still images.
    "getStillFormats", "setStillFormat", "takeStill", "grabStill", "setStillCallback"};

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

namespace {

std::wstring versionString(const std::vector<BYTE>& block, const wchar_t* name) {
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
        return L"(none)";
    return text;
}

// The version resource a host, an installer or Explorer reads: the project's version throughout.
void expectVersionResource(const wchar_t* dll) {
    const std::wstring path = besideProgram(dll);
    DWORD ignored = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << "no version resource";
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(MAKELONG(CAMERALIBS_VERSION_MINOR, CAMERALIBS_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(MAKELONG(0, CAMERALIBS_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));
    const std::wstring version = CAMERALIBS_VERSION_TEXT;
    EXPECT_EQ(versionString(block, L"FileVersion"), version);
    EXPECT_EQ(versionString(block, L"ProductVersion"), version);
    EXPECT_EQ(versionString(block, L"OriginalFilename"), dll);
    EXPECT_NE(versionString(block, L"FileDescription"), L"(none)");
    EXPECT_NE(versionString(block, L"ProductName"), L"(none)");
}

}  // namespace

TEST(Tarvik, CarriesTheProjectVersion) {
    expectVersionResource(L"tarvik.dll");
}

TEST(Fenwyr, CarriesTheProjectVersion) {
    expectVersionResource(L"fenwyr.dll");
}
