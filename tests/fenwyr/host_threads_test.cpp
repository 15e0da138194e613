// Hosts whose frame callback talks to the thread that drives the library: a GUI host that hands
// each frame to its UI thread with SendMessage, and a host that tries to stop from the callback.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "fenwyr.h"
#include "message_pump.h"
#include "test_devices.h"

namespace {

using Clock = std::chrono::steady_clock;

// Ends the test program at once, failed, when a call it guards does not return in time:
// a deadlock must fail fast, not wait out the test's time-out.
class Watchdog {
public:
    Watchdog(const char* what, std::chrono::seconds limit)
        : thread_([this, what, limit] {
              const auto deadline = Clock::now() + limit;
              while (!done_ && Clock::now() < deadline)
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              if (!done_) {
                  std::printf("%s did not return: deadlock\n", what);
                  std::fflush(stdout);
                  TerminateProcess(GetCurrentProcess(), 3);
              }
          }) {}
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// The UI thread's window and what reached it.
std::atomic<HWND> uiWindow{nullptr};
std::atomic<int> framesShown{0};

// What the UI thread does with WM_APP + 1, which a host callback sends it, and what it got.
// refreshAndOpen: what a host does on WM_DEVICECHANGE.
enum class UiAction { openDevice, stopCapture, uninit, refreshAndOpen };
std::atomic<UiAction> uiAction{UiAction::openDevice};
std::atomic<int32_t> uiDevice{0};
std::atomic<int32_t> uiResult{-1};
std::atomic<int> uiActionsDone{0};

LRESULT CALLBACK uiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        ++framesShown;
        return 0;
    }
    if (message == WM_APP + 1) {
        Sleep(static_cast<DWORD>(wParam));
        if (uiAction == UiAction::uninit)
            uninit();
        else if (uiAction == UiAction::refreshAndOpen)
            uiResult = refreshDevices() >= 0 ? openDevice(uiDevice) : -1;
        else
            uiResult = uiAction == UiAction::openDevice ? openDevice(uiDevice) : stopCapture(uiDevice);
        ++uiActionsDone;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Set by the callback a moment before it sends, so the UI thread can be inside a library call
// by the time the message comes.
HANDLE aboutToSend = CreateEventW(nullptr, FALSE, FALSE, nullptr);

// Hands every frame to the UI thread and waits until it was handled there.
void sendToUiThread(uint8_t*, int32_t) {
    SetEvent(aboutToSend);
    Sleep(50);
    SendMessageW(uiWindow, WM_APP, 0, 0);
}

// Returns once a callback is about to send to this thread, handling what earlier ones sent.
bool callbackAboutToSend() {
    ResetEvent(aboutToSend);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (MsgWaitForMultipleObjects(1, &aboutToSend, FALSE, 10, QS_SENDMESSAGE) == WAIT_OBJECT_0)
            return true;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return false;
}

HWND makeUiWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = uiWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"fenwyr test UI";
    RegisterClassW(&windowClass);
    return CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// Runs the UI thread's message loop until `counter` reaches `count`.
bool runUiThreadUntil(const std::atomic<int>& counter, int count) {
    return pumpMessagesUntil([&] { return counter >= count; }, std::chrono::seconds(10));
}

// Host callbacks that hand one frame or one error event to the UI thread with SendMessage.
std::atomic<bool> sentOne{false};
std::atomic<DWORD> sendDelayMs{50};

void sendOneFrameToUiThread(uint8_t*, int32_t) {
    if (!sentOne.exchange(true)) {
        SetEvent(aboutToSend);
        Sleep(sendDelayMs);
        SendMessageW(uiWindow, WM_APP + 1, 0, 0);
    }
}

void sendErrorEventToUiThread(int32_t, int32_t event, int32_t, void*) {
    if (event == FENWYR_DEVICE_ERROR && !sentOne.exchange(true))
        SendMessageW(uiWindow, WM_APP + 1, 0, 0);
}

std::atomic<int> callbackFrames{0};
std::atomic<HRESULT> stopFromCallback{S_OK};
std::atomic<HRESULT> startFromCallback{S_OK};
std::atomic<int32_t> openFromCallback{-1};
std::atomic<HRESULT> grabFromCallback{S_OK};
std::atomic<long long> grabFromCallbackMs{-1};

void tryToStopFromInside(uint8_t*, int32_t) {
    if (callbackFrames++ == 0) {
        stopFromCallback = stopCapture(0);
        startFromCallback = startCapture(0);
        openFromCallback = openDevice(0);
        uninit();
        // The frame it would wait for comes only after this call returns.
        uint8_t buffer[16];
        FrameInfo info{};
        const auto begin = Clock::now();
        grabFromCallback = grabFrame(0, buffer, sizeof buffer, &info, 2000);
        grabFromCallbackMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    }
}

bool waitForCallbackFrames(int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (callbackFrames < count && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return callbackFrames >= count;
}

}  // namespace

TEST(HostThreads, CallbackThatSendsToTheStoppingThreadDoesNotDeadlockStopOrUninit) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    uiWindow = makeUiWindow();
    ASSERT_NE(uiWindow.load(), nullptr);
    init();
    setFrameArrivedCallback(0, sendToUiThread);
    ASSERT_EQ(openDevice(0), 1);

    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(runUiThreadUntil(framesShown, 3));
    ASSERT_TRUE(callbackAboutToSend());
    {
        Watchdog watchdog("stopCapture", std::chrono::seconds(10));
        EXPECT_TRUE(SUCCEEDED(stopCapture(0)));
    }

    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    ASSERT_TRUE(runUiThreadUntil(framesShown, framesShown + 3));
    ASSERT_TRUE(callbackAboutToSend());
    {
        Watchdog watchdog("uninit", std::chrono::seconds(10));
        uninit();
    }
    DestroyWindow(uiWindow);
}

TEST(HostThreads, AWaitingGrabHandlesWhatAnotherThreadSendsItsThread) {
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"Frozen", 1)});  // no frame comes
    uiWindow = makeUiWindow();
    ASSERT_NE(uiWindow.load(), nullptr);
    init();
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    const int shown = framesShown;
    std::atomic<bool> handled{false};
    std::thread sender([&] {
        Sleep(100);
        DWORD_PTR result = 0;
        handled = SendMessageTimeoutW(uiWindow, WM_APP, 0, 0, SMTO_NORMAL, 1500, &result) != 0;
    });
    std::vector<uint8_t> buffer(kSmallFrameBytes);
    FrameInfo info{};
    EXPECT_EQ(grabFrame(0, buffer.data(), kSmallFrameBytes, &info, 2500), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    sender.join();
    EXPECT_TRUE(handled) << "the message waited for the grab to end";
    EXPECT_EQ(framesShown, shown + 1);
    uninit();
    DestroyWindow(uiWindow);
}

TEST(HostThreads, StartStopOpenAndUninitFromInsideTheCallbackAreRefusedAndChangeNothing) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    init();
    setFrameArrivedCallback(0, tryToStopFromInside);
    ASSERT_EQ(openDevice(0), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));

    ASSERT_TRUE(waitForCallbackFrames(5)) << "frames stopped after the callback's attempt";
    EXPECT_EQ(stopFromCallback.load(), VFW_E_WRONG_STATE);
    EXPECT_EQ(startFromCallback.load(), VFW_E_WRONG_STATE);
    EXPECT_EQ(openFromCallback.load(), 0);
    EXPECT_EQ(grabFromCallback.load(), VFW_E_WRONG_STATE);
    EXPECT_LT(grabFromCallbackMs.load(), 500);

    // The device still starts and stops as usual from the host's own thread.
    ASSERT_TRUE(SUCCEEDED(stopCapture(0)));
    const int stoppedAt = callbackFrames;
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    EXPECT_TRUE(waitForCallbackFrames(stoppedAt + 3)) << "the device was left wedged";
    stopCapture(0);
    uninit();
}

TEST(HostThreads, AGuiThreadActsOnWhatACallbackSentItFromInsideTheMessage) {
    // Device 0 fails after three frames (an error event); device 1 streams on.
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"FrameLimit", 3), camera(L"b", L"Beta")});
    uiWindow = makeUiWindow();
    ASSERT_NE(uiWindow.load(), nullptr);
    const struct {
        const char* what;
        int32_t device;
        bool byEvent;
        UiAction action;
        int32_t result;
    } cases[] = {
        {"openDevice from a sent error event", 0, true, UiAction::openDevice, 1},
        {"stopCapture from a sent frame", 1, false, UiAction::stopCapture, S_OK},
    };
    init();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sentOne = false;
        uiAction = c.action;
        uiDevice = c.device;
        setDeviceEventCallback(c.byEvent ? sendErrorEventToUiThread : nullptr, nullptr);
        setFrameArrivedCallback(c.device, c.byEvent ? nullptr : sendOneFrameToUiThread);
        ASSERT_EQ(openDevice(c.device), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(c.device)));
        const int acted = uiActionsDone;
        {
            Watchdog watchdog(c.what, std::chrono::seconds(10));
            ASSERT_TRUE(runUiThreadUntil(uiActionsDone, acted + 1));
        }
        EXPECT_EQ(uiResult.load(), c.result);
        EXPECT_EQ(getDeviceState(c.device), FENWYR_STATE_STOPPED);
    }
    setDeviceEventCallback(nullptr, nullptr);
    uninit();
    DestroyWindow(uiWindow);
}

TEST(HostThreads, AnOpenNestedInAMessageHandledDuringAReopenIsRefusedAndTheReopenCompletes) {
    VcamDevices devices({camera(L"a", L"Alpha")});
    uiWindow = makeUiWindow();
    ASSERT_NE(uiWindow.load(), nullptr);
    init();
    sentOne = false;
    uiAction = UiAction::openDevice;
    uiDevice = 0;
    setFrameArrivedCallback(0, sendOneFrameToUiThread);
    ASSERT_EQ(openDevice(0), 1);
    const int acted = uiActionsDone;
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    // The reopen waits for the callback, which sends to this thread: the handler's open nests.
    ASSERT_TRUE(callbackAboutToSend());
    {
        Watchdog watchdog("the reopen", std::chrono::seconds(10));
        EXPECT_EQ(openDevice(0), 1);
    }
    EXPECT_EQ(uiActionsDone.load(), acted + 1);
    EXPECT_EQ(uiResult.load(), 0) << "the nested open was not refused";
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_STOPPED);
    setFrameArrivedCallback(0, nullptr);
    FrameInfo info{};
    std::vector<uint8_t> frame(kSmallFrameBytes);
    ASSERT_TRUE(SUCCEEDED(startCapture(0)));
    EXPECT_EQ(grabFrame(0, frame.data(), kSmallFrameBytes, &info, 5000), S_OK) << "the reopened device is wedged";
    uninit();
    DestroyWindow(uiWindow);
}

namespace {

// Slow host callbacks: each says that a call is running, then takes its time.
HANDLE callRunning = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<int> replacementCalls{0};

void slowDescribedFrame(const uint8_t*, const FrameInfo*, void*) {
    SetEvent(callRunning);
    Sleep(60);
}

void slowDeviceEvent(int32_t, int32_t, int32_t, void*) {
    SetEvent(callRunning);
    Sleep(300);
}

void countDescribedFrame(const uint8_t*, const FrameInfo*, void*) {
    ++replacementCalls;
}

void countDeviceEvent(int32_t, int32_t, int32_t, void*) {
    ++replacementCalls;
}

// Another thread sends WM_APP + 1 to the UI window (its handler sleeps `delayMs` first); returns
// once the message is on its way.
std::thread sendFromAnotherThread(DWORD delayMs) {
    HANDLE sending = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread sender([sending, delayMs] {
        SetEvent(sending);
        SendMessageW(uiWindow, WM_APP + 1, delayMs, 0);
    });
    WaitForSingleObject(sending, 5000);
    CloseHandle(sending);
    Sleep(20);
    return sender;
}

}  // namespace

TEST(HostThreads, AStopOrUninitNestedInAMessageHandledDuringACallbackSwapReturns) {
    // a and b fail after three frames, queueing two error events at about the same time; c streams on.
    VcamDevices devices({withSwitch(camera(L"a", L"Alpha"), L"FrameLimit", 3),
                         withSwitch(camera(L"b", L"Beta"), L"FrameLimit", 3), camera(L"c", L"Gamma")});
    uiWindow = makeUiWindow();
    ASSERT_NE(uiWindow.load(), nullptr);
    {
        SCOPED_TRACE("stopCapture while setFrameCallbackEx waits for a call");
        init();
        ResetEvent(callRunning);
        ASSERT_EQ(setFrameCallbackEx(2, slowDescribedFrame, nullptr), S_OK);
        ASSERT_EQ(openDevice(2), 1);
        ASSERT_TRUE(SUCCEEDED(startCapture(2)));
        ASSERT_EQ(WaitForSingleObject(callRunning, 5000), WAIT_OBJECT_0);
        uiAction = UiAction::stopCapture;
        uiDevice = 2;
        const int acted = uiActionsDone;
        std::thread sender = sendFromAnotherThread(150);
        {
            Watchdog watchdog("setFrameCallbackEx with a nested stopCapture", std::chrono::seconds(10));
            EXPECT_EQ(setFrameCallbackEx(2, countDescribedFrame, nullptr), S_OK);
        }
        sender.join();
        EXPECT_EQ(uiActionsDone.load(), acted + 1) << "the message was not handled during the swap";
        EXPECT_EQ(uiResult.load(), S_OK);
        EXPECT_EQ(getDeviceState(2), FENWYR_STATE_STOPPED);
        uninit();
    }
    {
        SCOPED_TRACE("uninit while setDeviceEventCallback waits for a call, a second event queued");
        init();
        replacementCalls = 0;
        ResetEvent(callRunning);
        setDeviceEventCallback(slowDeviceEvent, nullptr);
        for (int32_t device : {0, 1}) {
            ASSERT_EQ(openDevice(device), 1);
            ASSERT_TRUE(SUCCEEDED(startCapture(device)));
        }
        ASSERT_EQ(WaitForSingleObject(callRunning, 5000), WAIT_OBJECT_0);
        uiAction = UiAction::uninit;
        const int acted = uiActionsDone;
        std::thread sender = sendFromAnotherThread(100);
        {
            Watchdog watchdog("setDeviceEventCallback with a nested uninit", std::chrono::seconds(10));
            setDeviceEventCallback(countDeviceEvent, nullptr);
        }
        sender.join();
        EXPECT_EQ(uiActionsDone.load(), acted + 1) << "the message was not handled during the swap";
        EXPECT_EQ(replacementCalls.load(), 1) << "the second error event";
        setDeviceEventCallback(nullptr, nullptr);
    }
    DestroyWindow(uiWindow);
}

TEST(HostThreads, UninitLeavesNoDeviceOpenThatAMessageHandlerReopened) {
    VcamDevices devices({camera(L"a", L"Alpha"), camera(L"b", L"Beta")});
    uiWindow = makeUiWindow();
    ASSERT_NE(uiWindow.load(), nullptr);
    init();
    ASSERT_EQ(openDevice(0), 1);
    sentOne = false;
    uiAction = UiAction::refreshAndOpen;
    uiDevice = 0;
    setFrameArrivedCallback(1, sendOneFrameToUiThread);
    ASSERT_EQ(openDevice(1), 1);
    ASSERT_TRUE(SUCCEEDED(startCapture(1)));
    const int acted = uiActionsDone;
    // uninit has closed device 0 by the time device 1's callback sends to this thread.
    sendDelayMs = 400;
    ASSERT_TRUE(callbackAboutToSend());
    {
        Watchdog watchdog("uninit", std::chrono::seconds(10));
        uninit();
    }
    sendDelayMs = 50;
    EXPECT_EQ(uiActionsDone.load(), acted + 1);
    EXPECT_EQ(uiResult.load(), 0) << "the open during uninit was not refused";
    EXPECT_EQ(getDeviceState(0), FENWYR_STATE_CLOSED);
    setFrameArrivedCallback(1, nullptr);
    DestroyWindow(uiWindow);
}
