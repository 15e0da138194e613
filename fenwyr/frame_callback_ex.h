#pragma once
#include <atomic>

#include <windows.h>

#include "fenwyr.h"

// A device's FrameCallbackEx with its userData: always replaced as a pair, and never called
// again once the replacement has returned.
class FrameCallbackExSlot {
public:
    FrameCallbackExSlot();
    FrameCallbackExSlot(const FrameCallbackExSlot&) = delete;
    FrameCallbackExSlot& operator=(const FrameCallbackExSlot&) = delete;

    // Host thread: waits for a running call of the previous pair (handling messages sent to this
    // thread); from inside that call it replaces the pair without waiting.
    void set(FrameCallbackEx callback, void* userData);
    // Streaming thread: calls the current pair, if any.
    void deliver(const uint8_t* frame, const FrameInfo& info);

private:
    // Held for each call, so a replacement waits for it. Re-entrant: a callback may replace itself.
    CRITICAL_SECTION lock_;
    // Lets frames pass without the lock while no pair is set.
    std::atomic<bool> isSet_{false};
    FrameCallbackEx callback_ = nullptr;
    void* userData_ = nullptr;
};
