// fenwyr loaded with LoadLibrary and unloaded with FreeLibrary, with platform threads of the
// capture graph still about: the host must live on, and the library must really go once
// nothing of it can be reached.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "fenwyr.h"
#include "vcam_devices.h"

namespace {

// The exports this host uses, found by name as an FFI finds them.
struct Fenwyr {
    HMODULE module = nullptr;
    decltype(&::init) init = nullptr;
    decltype(&::uninit) uninit = nullptr;
    decltype(&::openDevice) openDevice = nullptr;
    decltype(&::startCapture) startCapture = nullptr;
    decltype(&::stopCapture) stopCapture = nullptr;
    decltype(&::setFrameArrivedCallback) setFrameArrivedCallback = nullptr;

    bool load() {
        module = LoadLibraryW(L"fenwyr.dll");
        if (!module)
            return false;
        init = reinterpret_cast<decltype(init)>(GetProcAddress(module, "init"));
        uninit = reinterpret_cast<decltype(uninit)>(GetProcAddress(module, "uninit"));
        openDevice = reinterpret_cast<decltype(openDevice)>(GetProcAddress(module, "openDevice"));
        startCapture = reinterpret_cast<decltype(startCapture)>(GetProcAddress(module, "startCapture"));
        stopCapture = reinterpret_cast<decltype(stopCapture)>(GetProcAddress(module, "stopCapture"));
        setFrameArrivedCallback =
            reinterpret_cast<decltype(setFrameArrivedCallback)>(GetProcAddress(module, "setFrameArrivedCallback"));
        return init && uninit && openDevice && startCapture && stopCapture && setFrameArrivedCallback;
    }
};

std::atomic<int> frames{0};

// A fault ends the test program at once with its code, instead of waiting for a debugger.
LONG WINAPI endOnFault(EXCEPTION_POINTERS* fault) {
    std::printf("fault 0x%08lx in a thread of the host\n", fault->ExceptionRecord->ExceptionCode);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

const LPTOP_LEVEL_EXCEPTION_FILTER faultFilter = SetUnhandledExceptionFilter(endOnFault);

void countFrame(uint8_t*, int32_t) {
    ++frames;
}

bool waitForFrames(int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (frames < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return frames >= count;
}

// Starts capture on device 0 and waits for a few frames.
void capture(Fenwyr& library) {
    library.init();
    library.setFrameArrivedCallback(0, countFrame);
    ASSERT_EQ(library.openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(library.startCapture(0)));
    ASSERT_TRUE(waitForFrames(frames + 3));
}

}  // namespace

TEST(Unload, AfterStopAndUninitTheLibraryGoesAndTheHostLivesOn) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@30 RGB24")});
    for (int round = 0; round < 3; ++round) {
        Fenwyr library;
        ASSERT_TRUE(library.load());
        ASSERT_NO_FATAL_FAILURE(capture(library));
        ASSERT_TRUE(SUCCEEDED(library.stopCapture(0)));
        library.uninit();
        ASSERT_TRUE(FreeLibrary(library.module));
        EXPECT_EQ(GetModuleHandleW(L"fenwyr.dll"), nullptr) << "something still holds the library";
        // Platform threads release what the graph held a moment later.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

TEST(Unload, UnloadedWhileCapturingTheLibraryStaysUntilTheProcessEnds) {
    VcamDevices devices({vcamDevice(L"a", L"Alpha", L"160x120@30 RGB24")});
    Fenwyr library;
    ASSERT_TRUE(library.load());
    ASSERT_NO_FATAL_FAILURE(capture(library));
    ASSERT_TRUE(FreeLibrary(library.module));
    // Frames still reach the host: the streaming thread runs the library's code.
    const int before = frames;
    EXPECT_TRUE(waitForFrames(before + 10));
    EXPECT_NE(GetModuleHandleW(L"fenwyr.dll"), nullptr);
}
