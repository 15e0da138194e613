#include "frame_mailbox.h"

#include <cstring>

#include <dshow.h>

#include "sent_message_wait.h"

FrameMailbox::FrameMailbox()
    : changed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      handOffDone_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FrameMailbox::~FrameMailbox() {
    if (changed_)
        CloseHandle(changed_);
    if (handOffDone_)
        CloseHandle(handOffDone_);
}

bool FrameMailbox::handOffUnderLock(const FrameInfo& info, Writer write, void* context) {
    if (!handOff_.buffer || handOff_.filled || handOff_.capacity < info.length)
        return false;
    // Under the lock, so the taker cannot return (and its host free the buffer) mid-write.
    if (!write(context, handOff_.buffer))
        return false;
    *handOff_.info = info;
    handOff_.filled = true;
    return true;
}

namespace {

struct Copy {
    const uint8_t* bytes;
    size_t length;
};

bool copyBytes(void* context, uint8_t* destination) {
    const auto* copy = static_cast<const Copy*>(context);
    std::memcpy(destination, copy->bytes, copy->length);
    return true;
}

}  // namespace

void FrameMailbox::post(const uint8_t* bytes, const FrameInfo& info) {
    Copy copy{bytes, static_cast<size_t>(info.length)};
    post(info, copyBytes, &copy);
}

void FrameMailbox::post(const FrameInfo& info, Writer write, void* context) {
    if (!wanted_)
        return;
    bool handedOff = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handedOff = handOffUnderLock(info, write, context);
    }
    if (handedOff) {
        SetEvent(handOffDone_);
        return;
    }
    // Kept for a later take. Written outside the lock so a host copying the previous frame does
    // not hold the streaming thread up for longer than a swap.
    incoming_.resize(static_cast<size_t>(info.length));
    if (!write(context, incoming_.data()))
        return;
    bool wakeWaiters = false;
    bool wakeHandOff = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        newest_.swap(incoming_);
        newestInfo_ = info;
        unread_ = true;
        wakeWaiters = waiting_ > 0;
        wakeHandOff = handOff_.buffer != nullptr;
    }
    // Signalling costs a round trip to the system (under Wine, to its server): only for a waiter.
    if (wakeWaiters)
        SetEvent(changed_);
    if (wakeHandOff)
        SetEvent(handOffDone_);
}

void FrameMailbox::setRunning(bool running) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = running;
    }
    SetEvent(changed_);
    SetEvent(handOffDone_);
}

void FrameMailbox::discardUnread() {
    wanted_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    unread_ = false;
}

HRESULT FrameMailbox::take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    wanted_ = true;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        bool handingOff = false;
        {
            // One taker at a time owns taken_; the streaming thread never waits for its copy.
            std::lock_guard<std::mutex> taking(takeMutex_);
            std::unique_lock<std::mutex> lock(mutex_);
            if (unread_) {
                info = newestInfo_;
                if (capacity < newestInfo_.length)
                    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
                taken_.swap(newest_);
                unread_ = false;
                lock.unlock();
                std::memcpy(buffer, taken_.data(), static_cast<size_t>(info.length));
                return S_OK;
            }
            if (!running_)
                return VFW_E_NOT_RUNNING;
            if (GetTickCount64() >= deadline)
                return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            if (!handOff_.buffer) {
                handOff_ = HandOff{buffer, capacity, &info, false};
                handingOff = true;
            } else {
                ResetEvent(changed_);
                ++waiting_;
            }
        }
        const ULONGLONG now = GetTickCount64();
        // A stale wake of the auto-reset event only costs one more turn of the loop.
        waitForEventDispatchingSentMessages(handingOff ? handOffDone_ : changed_,
                                            now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
        std::lock_guard<std::mutex> lock(mutex_);
        if (handingOff) {
            const bool filled = handOff_.filled;
            handOff_ = HandOff{};
            if (filled)
                return S_OK;
        } else {
            --waiting_;
        }
    }
}
