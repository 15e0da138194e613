// Indexes that name no device: every per-device export ignores them.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <thread>

#include "fenwyr.h"
#include "frame_log.h"
#include "stdout_capture.h"
#include "test_devices.h"

namespace {

// An index wrongly taken for a device makes the dialog exports show that device's modal
// property dialog, which nobody closes, or call into a record that is not there: the test
// would wait for its time-out. While this lives, any dialog of this process is closed and
// counted, and a call still blocked after 10 s ends the process with a message.
class DialogWatchdog {
public:
    explicit DialogWatchdog(const char* what) : what_(what), thread_([this] { run(); }) {}
    ~DialogWatchdog() {
        stop_ = true;
        thread_.join();
    }
    DialogWatchdog(const DialogWatchdog&) = delete;
    DialogWatchdog& operator=(const DialogWatchdog&) = delete;

    int dialogsClosed() const { return dialogsClosed_; }

private:
    void run() {
        // The calls take well under a second; a wrong device may block one for ever.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop_) {
            EnumWindows(closeDialogOfThisProcess, reinterpret_cast<LPARAM>(this));
            if (std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "%s: still blocked after 10 s (%d dialogs closed); ending the test\n", what_,
                             dialogsClosed_.load());
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    static BOOL CALLBACK closeDialogOfThisProcess(HWND window, LPARAM parameter) {
        auto* self = reinterpret_cast<DialogWatchdog*>(parameter);
        DWORD process = 0;
        wchar_t className[16] = {};
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId() && GetClassNameW(window, className, 16) &&
            std::wcscmp(className, L"#32770") == 0 && window != self->lastClosed_) {
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
            self->lastClosed_ = window;
            ++self->dialogsClosed_;
        }
        return TRUE;
    }

    const char* what_;
    HWND lastClosed_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<int> dialogsClosed_{0};
    std::thread thread_;
};

// Every per-device export with an index that names no device: nothing printed, nothing done.
void expectIgnored(int32_t index) {
    char what[64];
    std::snprintf(what, sizeof what, "the exports with index %d", index);
    DialogWatchdog watchdog(what);
    StdoutCapture out;
    EXPECT_EQ(openDevice(index), 0);
    EXPECT_EQ(startCapture(index), E_INVALIDARG);
    EXPECT_EQ(stopCapture(index), E_INVALIDARG);
    EXPECT_EQ(showFilterProperties(index), E_INVALIDARG);
    EXPECT_EQ(showCapturePinProperties(index), E_INVALIDARG);
    setFrameArrivedCallback(index, frameCallback(0));
    setResolution(index, 0);
    ResolutionInfo* formats = getResolutions(index);
    ResolutionInfo* current = getResolution(index);
    ASSERT_NE(formats, nullptr);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(formats[0].index, -1);
    EXPECT_EQ(formats[1023].pixelFormat, -1);
    EXPECT_EQ(current->width, 1);
    CoTaskMemFree(formats);
    CoTaskMemFree(current);
    EXPECT_EQ(out.text(), "") << "index " << index;
    EXPECT_EQ(watchdog.dialogsClosed(), 0) << "index " << index << " showed a property dialog";
}

}  // namespace

TEST(IndexRule, BeforeInitNoIndexNamesADevice) {
    expectIgnored(0);
    expectIgnored(-1);
}

TEST(IndexRule, IndexesOutsideTheTableAreIgnored) {
    VcamDevices devices({camera(L"a", L"Alpha", 1)});
    ComApartment com;
    init();
    expectIgnored(1);
    expectIgnored(-1);
    expectIgnored(INT_MIN);
    expectIgnored(INT_MAX);

    // The device itself never saw the callback meant for index 1.
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stopCapture(0);
    EXPECT_EQ(frameLog(0).count(), 0u);
    uninit();
}
