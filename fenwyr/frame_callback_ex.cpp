#include "frame_callback_ex.h"

#include "sent_message_wait.h"

FrameCallbackExSlot::FrameCallbackExSlot() {
    InitializeCriticalSection(&lock_);
}

void FrameCallbackExSlot::set(FrameCallbackEx callback, void* userData) {
    waitDispatchingSentMessages([this] { return TryEnterCriticalSection(&lock_) != FALSE; });
    callback_ = callback;
    userData_ = userData;
    isSet_ = callback != nullptr;
    LeaveCriticalSection(&lock_);
}

void FrameCallbackExSlot::deliver(const uint8_t* frame, const FrameInfo& info) {
    if (!isSet_)
        return;
    EnterCriticalSection(&lock_);
    if (callback_) {
        // An exception thrown by the host must not unwind through DirectShow's thread.
        try {
            callback_(frame, &info, userData_);
        } catch (...) {
        }
    }
    LeaveCriticalSection(&lock_);
}
