#pragma once
#include <atomic>
#include <utility>

#include <windows.h>

#include "host_callback_thread.h"
#include "sent_message_wait.h"

// A host callback with the host's own pointer (passed last): always replaced as a pair, and
// never called again once the replacement has returned.
template <typename Callback>
class CallbackSlot {
public:
    CallbackSlot() { InitializeCriticalSection(&lock_); }
    CallbackSlot(const CallbackSlot&) = delete;
    CallbackSlot& operator=(const CallbackSlot&) = delete;

    // Waits for a running call of the previous pair, handling messages sent to this thread;
    // from inside that call it replaces the pair without waiting (it cannot wait for itself).
    void set(Callback callback, void* userData) {
        waitDispatchingSentMessages([this] { return TryEnterCriticalSection(&lock_) != FALSE; });
        callback_ = callback;
        userData_ = userData;
        isSet_ = callback != nullptr;
        LeaveCriticalSection(&lock_);
    }

    // Calls the current pair, if any, on this thread, marked as a host callback thread.
    template <typename... Arguments>
    void call(Arguments&&... arguments) {
        if (!isSet_)
            return;
        EnterCriticalSection(&lock_);
        if (callback_)
            callHost([&] { callback_(std::forward<Arguments>(arguments)..., userData_); });
        LeaveCriticalSection(&lock_);
    }

private:
    // Held for each call, so a replacement waits for it. Re-entrant: a callback may replace itself.
    CRITICAL_SECTION lock_;
    // Lets calls pass without the lock while no pair is set.
    std::atomic<bool> isSet_{false};
    Callback callback_ = nullptr;
    void* userData_ = nullptr;
};
