#include "device_events.h"

#include <deque>
#include <mutex>

#include <windows.h>

#include "callback_slot.h"
#include "module_pin.h"
#include "sent_message_wait.h"

namespace {

struct Event {
    int32_t device;
    int32_t event;
    int32_t detail;
};

// The library-wide thread that runs the host's event callback.
class EventDispatcher {
public:
    void setCallback(DeviceEventCallback callback, void* userData) { slot_.set(callback, userData); }

    void report(const Event& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(event);
        if (!thread_ && !start())
            return;
        SetEvent(wake_);
    }

    void finish() {
        HANDLE thread = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!thread_)
                return;
            ending_ = true;
            SetEvent(wake_);
            thread = thread_;
        }
        waitForEventDispatchingSentMessages(thread, INFINITE);
        std::lock_guard<std::mutex> lock(mutex_);
        CloseHandle(thread_);
        thread_ = nullptr;
        ending_ = false;
    }

private:
    // Under mutex_. Events stay queued when the thread cannot be started; the next report tries again.
    bool start() {
        if (!wake_)
            wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!wake_)
            return false;
        // The thread holds the library until it ends, so unloading cannot pull its code away.
        const HMODULE module = referenceThisModule();
        if (!module)
            return false;
        thread_ = CreateThread(nullptr, 0, run, module, 0, nullptr);
        if (!thread_) {
            FreeLibrary(module);
            return false;
        }
        return true;
    }

    static DWORD WINAPI run(void* module);

    void dispatch() {
        for (;;) {
            Event event{};
            bool queued = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (queue_.empty() && ending_)
                    return;
                if (!queue_.empty()) {
                    event = queue_.front();
                    queue_.pop_front();
                    queued = true;
                }
            }
            if (queued)
                slot_.call(event.device, event.event, event.detail);
            else
                WaitForSingleObject(wake_, INFINITE);
        }
    }

    CallbackSlot<DeviceEventCallback> slot_;
    std::mutex mutex_;
    std::deque<Event> queue_;
    HANDLE wake_ = nullptr;
    HANDLE thread_ = nullptr;
    bool ending_ = false;
};

EventDispatcher& dispatcher() {
    // Never destroyed: an event thread may still report while the library is unloaded at exit.
    static auto* events = new EventDispatcher();
    return *events;
}

DWORD WINAPI EventDispatcher::run(void* module) {
    dispatcher().dispatch();
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

}  // namespace

namespace device_events {

void setCallback(DeviceEventCallback callback, void* userData) {
    dispatcher().setCallback(callback, userData);
}

void report(int32_t device, int32_t event, int32_t detail) {
    // Called on a device's event thread, where nothing may escape: without memory the event is lost.
    try {
        dispatcher().report(Event{device, event, detail});
    } catch (...) {
    }
}

void finish() {
    dispatcher().finish();
}

}  // namespace device_events
