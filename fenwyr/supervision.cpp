#include "supervision.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "arrival_clock.h"
#include "camera_controls.h"
#include "crossbar_inputs.h"
#include "device_events.h"
#include "device_table.h"
#include "formats.h"
#include "host_callback_thread.h"
#include "module_pin.h"
#include "video_standard.h"

namespace {

constexpr UINT kRecoverMessage = WM_APP + 0x5E1;
constexpr wchar_t kWindowClass[] = L"fenwyr supervision";

// The window that runs automatic attempts on the init thread; null while none is needed.
std::atomic<HWND> window{nullptr};
// Held while the window exists: its procedure must not go with a library unloaded before uninit.
// Never destroyed, so nothing is released while the process ends.
ModulePin& windowPin() {
    static auto* pin = new ModulePin();
    return *pin;
}

// Before attempt n + 1, after n that failed: 1, 2, 4, 8, 16, then every 30 seconds.
UINT delayAfter(int32_t attempts) {
    return attempts <= 5 ? 1000u << std::max(attempts - 1, 0) : 30000u;
}

void attempt(HWND handle, int32_t index) {
    CaptureDevice* device = device_table::find(index);
    if (!device || !supervision::recovers(*device))
        return;
    const HRESULT hr = supervision::recover(*device);
    if (SUCCEEDED(hr))
        return;
    // Another call of the device runs (a message handled during its wait): soon again, uncounted.
    const UINT delay = hr == VFW_E_WRONG_STATE ? 100u : delayAfter(device->watch.attempts);
    SetTimer(handle, static_cast<UINT_PTR>(index) + 1, delay, nullptr);
}

LRESULT CALLBACK windowProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may reach the host's message loop.
    try {
        if (message == kRecoverMessage) {
            KillTimer(handle, static_cast<UINT_PTR>(wParam) + 1);
            attempt(handle, static_cast<int32_t>(wParam));
            return 0;
        }
        if (message == WM_TIMER && wParam != 0) {
            KillTimer(handle, wParam);
            attempt(handle, static_cast<int32_t>(wParam - 1));
            return 0;
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(handle, message, wParam, lParam);
}

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&windowProcedure), &module);
    return module;
}

// Init thread.
HRESULT makeWindow() {
    if (window)
        return S_OK;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = thisModule();
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return HRESULT_FROM_WIN32(GetLastError());
    const HWND made = CreateWindowW(kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, thisModule(), nullptr);
    if (!made)
        return HRESULT_FROM_WIN32(GetLastError());
    windowPin().hold();
    window = made;
    return S_OK;
}

void restore(CaptureDevice& device, HRESULT& hr) {
    const CaptureDevice::HostChoices choices = device.choices;
    if (SUCCEEDED(hr) && choices.capability >= 0)
        hr = formats::setFormat(device, choices.capability, choices.fps);
    for (const auto& control : choices.controls)
        if (SUCCEEDED(hr))
            hr = camera_controls::set(device, control.first, control.second.first, control.second.second);
    // A new graph's card is at its own defaults again.
    if (SUCCEEDED(hr) && choices.standard != 0)
        hr = video_standard::set(device, choices.standard);
    if (SUCCEEDED(hr) && choices.input >= 0)
        hr = crossbar_inputs::select(device, choices.input);
    // Setting them again records them again: the same choices.
    device.choices = choices;
}

}  // namespace

void CaptureDevice::Watch::runStarted(int64_t frames) {
    framesAtRun = frames;
    runStartedAt = arrivalClock();
}

namespace supervision {

HRESULT configure(CaptureDevice& device, int32_t stallMs, int32_t flags) {
    if ((stallMs != 0 && (stallMs < 100 || stallMs > 600000)) || (flags != 0 && flags != FENWYR_RECOVER_AUTO))
        return E_INVALIDARG;
    if (flags == FENWYR_RECOVER_AUTO) {
        const HRESULT made = makeWindow();
        if (FAILED(made))
            return made;
    } else {
        cancel(device.index);
    }
    device.watch.stallMs = stallMs;
    device.watch.flags = flags;
    return S_OK;
}

HRESULT recover(CaptureDevice& device) {
    if (insideHostCallback() || device.busy() || device_table::uninitRunning())
        return VFW_E_WRONG_STATE;
    if (!device.opened)
        return E_POINTER;
    ++device.watch.attempts;
    const int32_t before = device.state;
    HRESULT hr = device.absent ? HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) : device.rebuild();
    restore(device, hr);
    if (SUCCEEDED(hr) && device.wantsRunning) {
        hr = device.resume();
        // Frames that came already are counted from the run's start: the event thread sees them.
        if (SUCCEEDED(hr))
            device.watch.awaitingFrame = true;
    }
    if (FAILED(hr)) {
        ++device.watch.failedAttempts;
        device.state = before;
        return hr;
    }
    return S_OK;
}

StreamStats statsOf(const CaptureDevice& device) {
    const SampleHandler::Counters counters = device.counters();
    const int64_t dropped = device.droppedFrameCount();
    return StreamStats{counters.frames,
                       counters.missed,
                       counters.lastFrameTime,
                       device.watch.stalls,
                       device.watch.recoveries,
                       device.watch.failedAttempts,
                       static_cast<int32_t>(std::min<int64_t>(dropped, INT32_MAX))};
}

void watchStream(CaptureDevice& device) {
    CaptureDevice::Watch& watch = device.watch;
    const SampleHandler::Counters counters = device.counters();
    if (watch.awaitingFrame && counters.frames > watch.framesAtRun) {
        watch.awaitingFrame = false;
        ++watch.recoveries;
        int32_t stalled = FENWYR_STATE_STALLED;
        device.state.compare_exchange_strong(stalled, FENWYR_STATE_RUNNING);
        device_events::report(device.index, FENWYR_DEVICE_RECOVERED, watch.attempts.exchange(0));
        return;
    }
    const int32_t stallMs = watch.stallMs;
    int32_t state = device.state;
    if (state == FENWYR_STATE_STALLED && (counters.frames > watch.framesAtStall || stallMs == 0)) {
        // Frames came by themselves (or nobody watches any more).
        if (device.state.compare_exchange_strong(state, FENWYR_STATE_RUNNING) && stallMs != 0) {
            watch.attempts = 0;
            device_events::report(device.index, FENWYR_DEVICE_RECOVERED, 0);
        }
        return;
    }
    // A recovered graph that sends nothing either stalls in turn.
    if (state != FENWYR_STATE_RUNNING || stallMs == 0)
        return;
    const int64_t since = std::max<int64_t>(counters.lastFrameTime, watch.runStartedAt);
    const int64_t silentMs = (arrivalClock() - since) / 10000;
    if (silentMs < stallMs || !device.state.compare_exchange_strong(state, FENWYR_STATE_STALLED))
        return;
    watch.framesAtStall = counters.frames;
    ++watch.stalls;
    device_events::report(device.index, FENWYR_DEVICE_STALLED, static_cast<int32_t>(std::min<int64_t>(silentMs, INT32_MAX)));
    requestRecovery(device);
}

bool recovers(const CaptureDevice& device) {
    return device.watch.flags == FENWYR_RECOVER_AUTO && device.wantsRunning && window;
}

void requestRecovery(const CaptureDevice& device) {
    if (recovers(device))
        PostMessageW(window, kRecoverMessage, static_cast<WPARAM>(device.index), 0);
}

void cancel(int32_t device) {
    if (const HWND handle = window)
        KillTimer(handle, static_cast<UINT_PTR>(device) + 1);
}

void finish() {
    const HWND handle = window.exchange(nullptr);
    if (!handle)
        return;
    DestroyWindow(handle);
    UnregisterClassW(kWindowClass, thisModule());
    windowPin().release();
}

}  // namespace supervision
