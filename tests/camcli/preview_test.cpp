// camcli preview as a person sees it. Its window lives on a desktop of the test's own, which
// Wine's X11 driver draws on the X server with-xvfb.sh started for this test; the rest of the
// prefix keeps its invisible null-driver desktop.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "pe_image.h"
#include "process_runner.h"
#include "vcam_devices.h"
#include "wic_image.h"

namespace {

const wchar_t kDesktop[] = L"camcli-preview";

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; !done(); Sleep(50))
        if (GetTickCount64() > end)
            return false;
    return true;
}

// A program started in `folder` (on the test's desktop unless told otherwise), its output
// appended to folder\output.txt.
HANDLE start(const std::wstring& commandLine, const std::wstring& folder, bool onTestDesktop = true) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = onTestDesktop ? const_cast<wchar_t*>(kDesktop) : nullptr;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = startup.hStdError = CreateFileW((folder + L"\\output.txt").c_str(), FILE_APPEND_DATA,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS, 0, nullptr);
    std::wstring line = commandLine;
    PROCESS_INFORMATION process{};
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process);
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    if (process.hThread)
        CloseHandle(process.hThread);
    return process.hProcess;
}

std::string outputOf(const std::wstring& folder) {
    std::string text;
    if (FILE* file = _wfopen((folder + L"\\output.txt").c_str(), L"rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;)
            text += static_cast<char>(c);
        std::fclose(file);
    }
    return text;
}

HWND findPreviewWindow() {
    HWND found = nullptr;
    if (HDESK desktop = OpenDesktopW(kDesktop, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE)) {
        EnumDesktopWindows(
            desktop,
            [](HWND window, LPARAM result) -> BOOL {
                wchar_t name[32] = L"";
                // Not IsWindowVisible: it compares the top parent with this thread's desktop window.
                if (!GetClassNameW(window, name, 32) || std::wstring(name) != L"CamcliPreview" ||
                    !(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE))
                    return TRUE;
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
        CloseDesktop(desktop);
    }
    return found;
}

bool titleSays(HWND window, const wchar_t* trouble) {
    wchar_t title[256] = L"";
    GetWindowTextW(window, title, 256);
    return std::wstring(title).find(trouble) != std::wstring::npos;
}

DecodedImage screenshot(const std::wstring& folder) {
    const std::wstring file = folder + L"\\screen.png";
    HANDLE shot = start(L"\"" + besideProgram(L"window_shot.exe") + L"\" CamcliPreview \"" + file + L"\"", folder);
    DWORD code = 1;
    if (shot && WaitForSingleObject(shot, 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(shot, &code);
    CloseHandle(shot);
    if (code != 0)
        throw std::runtime_error("window_shot failed: " + std::to_string(code));
    return decodeImageFile(file);
}

// The virtual device's moving box: orange with a dark edge.
bool inBox(Rgb p) {
    return similar(p, {255, 140, 0}, 0) || similar(p, {32, 32, 32}, 0);
}

} // namespace

TEST(Preview, ShowsTheLivePictureSavesItFollowsTheDeviceAndCloses) {
    wchar_t display[64];
    if (!GetEnvironmentVariableW(L"DISPLAY", display, 64))
        GTEST_SKIP() << "no X display: Xvfb is not installed (scripts/setup.sh installs it)";
    // Top-down RGB24: the picture is the device's own pixels, its 16-byte stamp in the first row.
    VcamDevice camera = vcamDevice(L"A", L"Cam", L"320x-240@30 RGB24");
    camera.devicePath = L"\\\\?\\usb#vid_1d6b&pid_0102&mi_00#5&1a2b&0&1#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
    VcamDevices devices({camera});
    TempFolder work;
    // Explorer, started on the test's own desktop, makes the new one with the X11 driver before
    // anything runs there, then starts camcli on it (which ends by itself at the latest in 60 s).
    struct Ender {
        HANDLE processes[2] = {};  // camcli, explorer
        ~Ender() {
            for (HANDLE process : processes)
                if (process) {
                    TerminateProcess(process, 0);
                    WaitForSingleObject(process, 5000);
                    CloseHandle(process);
                }
        }
    } ender;
    ender.processes[1] = start(L"explorer.exe /desktop=" + std::wstring(kDesktop) + L",1024x768,x11 \"" +
                                   besideProgram(L"camcli.exe") + L"\" preview 0 --seconds 60",
                               work.path(), false);
    HWND window = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (window = findPreviewWindow()) != nullptr; }, 30000)) << outputOf(work.path());
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE camcli = ender.processes[0] = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                                                     FALSE, processId);
    Sleep(1500);  // frames flow

    // The bars left to right (each seen in most of five rows: the box covers two at most), and
    // under the picture the status strip: one flat colour with light text on it.
    const DecodedImage shot = screenshot(work.path());
    const UINT pictureHeight = shot.width * 3 / 4;
    ASSERT_GT(shot.height, pictureHeight + 8) << shot.width << "x" << shot.height;
    const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                         {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    for (UINT bar = 0; bar < 8; ++bar) {
        int seen = 0;
        for (UINT row = 1; row <= 5; ++row)
            seen += similar(pixel(shot, (2 * bar + 1) * shot.width / 16, row * pictureHeight * 5 / 36), bars[bar], 24);
        EXPECT_GE(seen, 3) << "bar " << bar;
    }
    int text = 0, flat = 0;
    for (UINT x = 0; x < shot.width; ++x) {
        flat += similar(pixel(shot, x, shot.height - 1), pixel(shot, 0, shot.height - 1), 0);
        for (UINT y = pictureHeight + 1; y < shot.height - 1; ++y)
            text += pixel(shot, x, y).g > 160;
    }
    EXPECT_EQ(flat, int(shot.width));
    EXPECT_GT(text, 50);

    // s: the picture shown, as a PNG in the working folder.
    PostMessageW(window, WM_CHAR, 's', 0);
    DecodedImage saved;
    EXPECT_TRUE(waitUntil([&] {
        try {
            return saved = decodeImageFile(work.path() + L"\\preview_0_1.png"), true;
        } catch (const std::exception&) {
            return false;
        }
    }, 5000)) << outputOf(work.path());

    // Unplugged: "device lost" over the last picture; plugged back: the picture resumes.
    VcamDevices::setDword(L"A", L"Unplugged", 1);
    EXPECT_TRUE(waitUntil([&] { return titleSays(window, L"device lost"); }, 5000)) << outputOf(work.path());
    VcamDevices::setDword(L"A", L"Unplugged", 0);
    EXPECT_TRUE(waitUntil([&] { return !titleSays(window, L"device lost"); }, 10000)) << outputOf(work.path());
    // Frozen while present: "stalled" after the default 2 s without a frame, until frames come again.
    VcamDevices::setDword(L"A", L"Frozen", 1);
    EXPECT_TRUE(waitUntil([&] { return titleSays(window, L"stalled"); }, 5000)) << outputOf(work.path());
    VcamDevices::setDword(L"A", L"Frozen", 0);
    EXPECT_TRUE(waitUntil([&] { return !titleSays(window, L"stalled"); }, 10000)) << outputOf(work.path());

    const ULONGLONG closing = GetTickCount64();
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForSingleObject(camcli, 5000), WAIT_OBJECT_0);
    const ULONGLONG tookMs = GetTickCount64() - closing;
    DWORD exitCode = 99;
    GetExitCodeProcess(camcli, &exitCode);
    EXPECT_EQ(exitCode, 0u) << outputOf(work.path());
    EXPECT_LT(tookMs, 1000u);
    std::printf("camcli ended %llu ms after WM_CLOSE\n", tookMs);

    // The saved picture is a frame as grab takes it, but for the moving box and the stamp.
    TempFolder grabbed;
    const ProcessResult grab = runProgram(L"camcli.exe", L"grab 0 --frames 1 --output bgra --out \"" + grabbed.path() + L"\"");
    ASSERT_EQ(grab.exitCode, 0u) << grab.output;
    const DecodedImage frame = decodeImageFile(grabbed.path() + L"\\" + grabbed.files().at(0));
    ASSERT_TRUE(saved.width == frame.width && saved.height == frame.height);
    int same = 0, unexplained = 0;
    for (UINT y = 1; y < frame.height; ++y)
        for (UINT x = 0; x < frame.width; ++x) {
            const Rgb a = pixel(saved, x, y), b = pixel(frame, x, y);
            same += similar(a, b, 0);
            unexplained += !similar(a, b, 0) && !inBox(a) && !inBox(b);
        }
    EXPECT_EQ(unexplained, 0);
    EXPECT_GT(same, int(frame.width * frame.height * 3 / 4));
}
