// camcli industrial against the simulated camera.
#include <gtest/gtest.h>
#include <wincodec.h>

#include <cstring>
#include <string>

#include "process_runner.h"
#include "wic_image.h"

namespace {

ProcessResult camcli(const std::wstring& arguments, const std::wstring& cameraSettings = L"") {
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    if (!cameraSettings.empty())
        environment.emplace_back(L"CAMERA_STANDIN", cameraSettings);
    return runProgram(L"camcli.exe", arguments, environment);
}

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

} // namespace

TEST(Industrial, ShowsTheCameraAndWritesEachFrameAsGreyPng) {
    TempFolder out;
    // Unpaced, the stand-in makes each frame when it is asked for: writing a PNG file between
    // frames may take longer than two frame periods under load, which a paced camera answers
    // with a dropped frame, and then the counter would show a gap.
    const ProcessResult run =
        camcli(L"industrial --aoi 64,32,320,240 --fps 50 --frames 3 --out \"" + out.path() + L"\"", L"unpaced=1");
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("camera id 1, serial"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("size 32x4 to 1280x1024 in steps of 8x2"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("pixel clocks (MHz): 5 10 20 30 43 86"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("frames captured 3, timed out 0, lost (counter gaps) 0"), std::string::npos)
        << run.output;

    ASSERT_EQ(out.files().size(), 3u);
    for (const auto& name : out.files()) {
        const DecodedImage image = decodeImageFile(out.path() + L"\\" + name);
        EXPECT_EQ(image.width, 320u);
        EXPECT_EQ(image.height, 240u);
        EXPECT_TRUE(IsEqualGUID(image.pixelFormat, GUID_WICPixelFormat8bppGray));
    }
}

TEST(Industrial, TwoAoisGiveTwoCropsOfOneScene) {
    TempFolder out;
    ASSERT_EQ(camcli(L"industrial --frames 1 --out \"" + out.path() + L"\"").exitCode, 0u);
    ASSERT_EQ(camcli(L"industrial --aoi 256,128,320,240 --frames 1 --out \"" + out.path() + L"\"").exitCode, 0u);
    const DecodedImage full = decodeImageFile(out.path() + L"\\industrial_1280x1024_0.png");
    const DecodedImage part = decodeImageFile(out.path() + L"\\industrial_320x240_0.png");
    ASSERT_EQ(full.width, 1280u);
    // Row 10 of the crop is row 138 of the full frame from column 256.
    EXPECT_EQ(0, std::memcmp(&part.bgr[(10 * 320) * 3], &full.bgr[(138 * 1280 + 256) * 3], 320 * 3));
}

TEST(Industrial, BadArgumentsSayWhatToDoAndExitWith2) {
    const struct {
        const wchar_t* arguments;
        const char* message;
    } cases[] = {
        {L"industrial --aoi 1,2,3", "--aoi must be 4 whole numbers"},
        {L"industrial --frames many", "--frames must be a whole number, not 'many'"},
        {L"industrial --fps", "missing --fps"},
        {L"industrial --colour red", "unexpected argument '--colour'"},
        {L"industrial --aoi 1000,0,640,480", "must lie within the sensor's 1280x1024"},
        {L"industrial --aoi 0,0,641,480", "needs a size in steps of 8x2"},
        {L"industrial --aoi 2,0,640,480", "the camera refused AOI 2,0,640,480"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = camcli(c.arguments);
        EXPECT_EQ(run.exitCode, 2u) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("see 'camcli industrial --help'"), std::string::npos) << run.output;
    }
    // Checked before the camera sees it: one line, nothing from the library.
    EXPECT_EQ(lineCount(camcli(L"industrial --aoi 0,0,641,480").output.substr(
                  camcli(L"industrial --aoi 0,0,641,480").output.find("camcli industrial:"))),
              1);
}

TEST(Industrial, NoCameraExitsWith1) {
    const ProcessResult run = camcli(L"industrial", L"present=0");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.output.find("no industrial camera could be opened"), std::string::npos) << run.output;
}

TEST(Industrial, HelpAndUnknownCommands) {
    const ProcessResult help = camcli(L"industrial --help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.output.rfind("usage: camcli industrial", 0), 0u) << help.output;
    const ProcessResult unknown = camcli(L"film");
    EXPECT_EQ(unknown.exitCode, 2u);
    EXPECT_NE(unknown.output.find("unknown command 'film'"), std::string::npos);
    EXPECT_EQ(camcli(L"--help").exitCode, 0u);
}
