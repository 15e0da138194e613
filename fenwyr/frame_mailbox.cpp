#include "frame_mailbox.h"

#include <cstring>

#include <dshow.h>

#include "sent_message_wait.h"

FrameMailbox::FrameMailbox() : changed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void FrameMailbox::post(const uint8_t* bytes, const FrameInfo& info) {
    if (!wanted_)
        return;
    // The copy is made outside the lock so a host copying the previous frame does not hold the
    // streaming thread up for longer than a swap.
    incoming_.assign(bytes, bytes + info.length);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        newest_.swap(incoming_);
        newestInfo_ = info;
        unread_ = true;
    }
    SetEvent(changed_);
}

void FrameMailbox::setRunning(bool running) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = running;
    }
    SetEvent(changed_);
}

HRESULT FrameMailbox::take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    wanted_ = true;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (unread_) {
                info = newestInfo_;
                if (capacity < newestInfo_.length)
                    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
                std::memcpy(buffer, newest_.data(), static_cast<size_t>(newestInfo_.length));
                unread_ = false;
                return S_OK;
            }
            if (!running_)
                return VFW_E_NOT_RUNNING;
            ResetEvent(changed_);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        waitForEventDispatchingSentMessages(changed_, static_cast<DWORD>(deadline - now));
    }
}
