#pragma once
#include <atomic>
#include <mutex>
#include <utility>

#include <windows.h>

#include "host_callback_thread.h"
#include "sent_message_wait.h"

// A host callback with the host's own pointer (passed last): always replaced as a pair, and
// never called again once the replacement has returned.
template <typename Callback>
class CallbackSlot {
public:
    CallbackSlot() = default;
    CallbackSlot(const CallbackSlot&) = delete;
    CallbackSlot& operator=(const CallbackSlot&) = delete;

    // Calls that begin from now on get the new pair; then this waits for the calls of the old one
    // still running, handling messages sent to this thread meanwhile. No call ever waits for a
    // swap, so whatever such a message handler does (stop, uninit) can wait for the calls in turn.
    // From inside a call of this slot it replaces the pair at once (it cannot wait for itself).
    void set(Callback callback, void* userData) {
        const unsigned replaced = replace(callback, userData);
        if (callingOnThisThread() == this)
            return;
        waitDispatchingSentMessages([this, replaced] { return callsOf_[replaced % 2] == 0; });
    }

    // Whether a pair is set (it may change at any moment).
    bool isSet() const { return isSet_; }

    // Calls the current pair, if any, on this thread, marked as a host callback thread.
    template <typename... Arguments>
    void call(Arguments&&... arguments) {
        if (!isSet_)
            return;
        Callback callback;
        void* userData;
        unsigned generation;
        {
            // Counted under the lock that swaps the pair, so a swap waits for exactly the calls
            // that got the pair it replaced.
            std::lock_guard<std::mutex> lock(pairMutex_);
            callback = callback_;
            userData = userData_;
            generation = generation_;
            ++callsOf_[generation % 2];
        }
        const CallOfThisSlot marked(*this);
        if (callback)
            callHost([&] { callback(std::forward<Arguments>(arguments)..., userData); });
        --callsOf_[generation % 2];
    }

private:
    // Marks this thread as inside a call of the slot, so a callback that replaces itself does not wait.
    class CallOfThisSlot {
    public:
        explicit CallOfThisSlot(const CallbackSlot& slot) : outer_(callingOnThisThread()) {
            callingOnThisThread() = &slot;
        }
        ~CallOfThisSlot() { callingOnThisThread() = outer_; }
        CallOfThisSlot(const CallOfThisSlot&) = delete;
        CallOfThisSlot& operator=(const CallOfThisSlot&) = delete;

    private:
        const CallbackSlot* outer_;
    };

    // The generation of the pair replaced.
    unsigned replace(Callback callback, void* userData) {
        std::lock_guard<std::mutex> lock(pairMutex_);
        callback_ = callback;
        userData_ = userData;
        isSet_ = callback != nullptr;
        return generation_++;
    }

    // The slot whose call runs on this thread.
    static const CallbackSlot*& callingOnThisThread() {
        static thread_local const CallbackSlot* calling = nullptr;
        return calling;
    }

    std::mutex pairMutex_;
    Callback callback_ = nullptr;
    void* userData_ = nullptr;
    // Lets calls pass without counting while no pair is set.
    std::atomic<bool> isSet_{false};
    // Calls in progress of the current pair and of the one before it, by generation parity. A
    // swap nested in another swap's wait (from a sent message) may make the outer one also wait
    // for calls of the newest pair; it still returns once those have ended.
    unsigned generation_ = 0;
    std::atomic<int> callsOf_[2] = {{0}, {0}};
};
