#pragma once
#include <atomic>
#include <mutex>
#include <utility>

#include <windows.h>

#include "host_callback_thread.h"
#include "scoped_count.h"
#include "sent_message_wait.h"

// A host callback with the host's own pointer (passed last): always replaced as a pair, and
// never called again once the replacement has returned.
template <typename Callback>
class CallbackSlot {
public:
    CallbackSlot() = default;
    CallbackSlot(const CallbackSlot&) = delete;
    CallbackSlot& operator=(const CallbackSlot&) = delete;

    // Waits for the call in progress, if any, handling messages sent to this thread; no new call
    // begins meanwhile, so a stream that calls back without pause cannot hold the swap up. From
    // inside a call of this slot it replaces the pair at once (it cannot wait for itself).
    void set(Callback callback, void* userData) {
        if (callingOnThisThread() == this) {
            replace(callback, userData);
            return;
        }
        const ScopedCount pending(swapsPending_);
        waitDispatchingSentMessages([this] { return callsInFlight_ == 0; });
        replace(callback, userData);
    }

    // Whether a pair is set (it may change at any moment).
    bool isSet() const { return isSet_; }

    // Calls the current pair, if any, on this thread, marked as a host callback thread.
    template <typename... Arguments>
    void call(Arguments&&... arguments) {
        if (!isSet_)
            return;
        const CallInProgress inProgress(*this);
        Callback callback;
        void* userData;
        {
            std::lock_guard<std::mutex> lock(pairMutex_);
            callback = callback_;
            userData = userData_;
        }
        if (callback)
            callHost([&] { callback(std::forward<Arguments>(arguments)..., userData); });
    }

private:
    // One call, counted for its whole length and marked on its thread. It begins only when no
    // swap is pending: counted before the flag is read, so a setter either sees this call or
    // this call sees the setter.
    class CallInProgress {
    public:
        explicit CallInProgress(CallbackSlot& slot) : slot_(slot), outer_(callingOnThisThread()) {
            for (++slot_.callsInFlight_; slot_.swapsPending_ != 0; ++slot_.callsInFlight_) {
                --slot_.callsInFlight_;
                while (slot_.swapsPending_ != 0)
                    Sleep(1);
            }
            callingOnThisThread() = &slot_;
        }
        ~CallInProgress() {
            callingOnThisThread() = outer_;
            --slot_.callsInFlight_;
        }
        CallInProgress(const CallInProgress&) = delete;
        CallInProgress& operator=(const CallInProgress&) = delete;

    private:
        CallbackSlot& slot_;
        const CallbackSlot* outer_;
    };

    void replace(Callback callback, void* userData) {
        std::lock_guard<std::mutex> lock(pairMutex_);
        callback_ = callback;
        userData_ = userData;
        isSet_ = callback != nullptr;
    }

    // The slot whose call runs on this thread, so a callback that replaces itself does not wait.
    static const CallbackSlot*& callingOnThisThread() {
        static thread_local const CallbackSlot* calling = nullptr;
        return calling;
    }

    std::mutex pairMutex_;
    Callback callback_ = nullptr;
    void* userData_ = nullptr;
    // Lets calls pass without counting while no pair is set.
    std::atomic<bool> isSet_{false};
    std::atomic<int> callsInFlight_{0};
    std::atomic<int> swapsPending_{0};
};
