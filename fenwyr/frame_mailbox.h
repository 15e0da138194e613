#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include <windows.h>

#include "fenwyr.h"

// The newest frame of one device for hosts that poll (grabFrame) instead of taking callbacks.
// The streaming thread posts; any host thread takes. Nothing is copied until the host first
// asks, so a host that never polls pays nothing.
class FrameMailbox {
public:
    FrameMailbox();
    FrameMailbox(const FrameMailbox&) = delete;
    FrameMailbox& operator=(const FrameMailbox&) = delete;

    // Streaming thread: keeps a copy of this frame as the newest, replacing an unread one.
    void post(const uint8_t* bytes, const FrameInfo& info);
    // Host thread: whether frames may still come; false ends every waiting take at once.
    void setRunning(bool running);
    // Any thread: copies the newest unread frame, waiting up to timeoutMs for one. The grabFrame
    // results; arguments are already checked.
    HRESULT take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs);

private:
    std::atomic<bool> wanted_{false};
    std::mutex mutex_;
    // Signalled whenever a frame is posted or running changes; waiters reset it under the lock.
    HANDLE changed_;
    std::vector<uint8_t> newest_;
    FrameInfo newestInfo_{};
    bool unread_ = false;
    bool running_ = false;
    // Takers waiting for changed_; nobody is woken while there are none.
    int waiting_ = 0;
    // Filled by the streaming thread outside the lock, then swapped with newest_.
    std::vector<uint8_t> incoming_;
    // The frame a taker copies to the host, swapped out of newest_ under the lock.
    std::mutex takeMutex_;
    std::vector<uint8_t> taken_;
};
