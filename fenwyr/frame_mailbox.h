#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include <windows.h>

#include "fenwyr.h"

// The newest frame of one device for hosts that poll (grabFrame) instead of taking callbacks.
// The streaming thread posts; any host thread takes. Nothing is copied until the host first
// asks, so a host that never polls pays nothing. A frame that comes while a host waits is
// copied straight into that host's buffer: one copy, as a callback that keeps the frame makes.
class FrameMailbox {
public:
    FrameMailbox();
    ~FrameMailbox();
    FrameMailbox(const FrameMailbox&) = delete;
    FrameMailbox& operator=(const FrameMailbox&) = delete;

    // Streaming thread: hands the frame to a waiting host, or keeps a copy as the newest,
    // replacing an unread one.
    void post(const uint8_t* bytes, const FrameInfo& info);
    // The same for a frame that `write` produces (info.length bytes) straight into the waiting
    // host's buffer or the kept copy; a frame `write` fails on is dropped.
    using Writer = bool (*)(void* context, uint8_t* destination);
    void post(const FrameInfo& info, Writer write, void* context);
    // Host thread: whether frames may still come; false ends every waiting take at once.
    void setRunning(bool running);
    // Any thread: forgets the unread frame, if any; frames are kept for takers from now on.
    void discardUnread();
    // Any thread: whether a frame is kept that no taker has read.
    bool hasUnread();
    // Any thread: copies the newest unread frame, waiting up to timeoutMs for one. The grabFrame
    // results; arguments are already checked.
    HRESULT take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs);

private:
    // The buffer of the one taker the streaming thread fills directly.
    struct HandOff {
        uint8_t* buffer = nullptr;
        int32_t capacity = 0;
        FrameInfo* info = nullptr;
        bool filled = false;
        bool onEvent = false;  // the taker waits on handOffEvent_, not on handOffDone_
    };
    // The hand-off taker's buffer filled by `write`; false when there is none that fits or it failed.
    bool handOffUnderLock(const FrameInfo& info, Writer write, void* context);

    std::atomic<bool> wanted_{false};
    // Slim lock and condition variables: a frame that comes within a taker's first
    // kFastWaitMs reaches it without a kernel object (under Wine, without its server).
    SRWLOCK lock_ = SRWLOCK_INIT;
    // Woken whenever a frame is kept or running changes.
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    // Wakes the hand-off taker: its buffer was filled, a frame was kept instead, or running changed.
    CONDITION_VARIABLE handOffDone_ = CONDITION_VARIABLE_INIT;
    // The same for takers past their first kFastWaitMs, which wait on events while handling the
    // messages other threads send them (a condition variable cannot wake for those).
    // changedEvent_ is reset by the last such waiter to leave; handOffEvent_ resets itself.
    HANDLE changedEvent_;
    HANDLE handOffEvent_;
    HandOff handOff_;
    std::vector<uint8_t> newest_;
    FrameInfo newestInfo_{};
    bool unread_ = false;
    bool running_ = false;
    // Takers waiting for changed_ and for changedEvent_; nobody is woken while there are none.
    int waiting_ = 0;
    int waitingOnEvent_ = 0;
    // Filled by the streaming thread outside the lock, then swapped with newest_.
    std::vector<uint8_t> incoming_;
    // The frame a taker copies to the host, swapped out of newest_ under the lock; taken before lock_.
    SRWLOCK takeLock_ = SRWLOCK_INIT;
    std::vector<uint8_t> taken_;
};
