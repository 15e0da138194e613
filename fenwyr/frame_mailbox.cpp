#include "frame_mailbox.h"

#include <cstring>

#include <dshow.h>

#include "sent_message_wait.h"

namespace {

// How long a taker waits on the condition variables before it waits on events, handling sent
// messages: frames at 20 per second or more (a busy 30 fps camera's too) reach a waiting host
// without a kernel object, and a message sent to a waiting thread waits at most this long.
constexpr LONGLONG kFastWaitMs = 50;

LONGLONG ticksPerSecond() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}

LONGLONG ticksNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Milliseconds from now to `deadline` (performance-counter ticks), rounded up, so that a wait
// for them never ends before it; 0 once it has passed.
DWORD millisecondsUntil(LONGLONG deadline) {
    const LONGLONG left = deadline - ticksNow();
    if (left <= 0)
        return 0;
    const LONGLONG f = ticksPerSecond();
    const LONGLONG ms = left / f * 1000 + ((left % f) * 1000 + f - 1) / f;
    return ms >= LONGLONG(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
}

class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace

FrameMailbox::FrameMailbox()
    : changedEvent_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      handOffEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

FrameMailbox::~FrameMailbox() {
    if (changedEvent_)
        CloseHandle(changedEvent_);
    if (handOffEvent_)
        CloseHandle(handOffEvent_);
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
    bool handOffOnEvent = false;
    {
        Exclusive lock(lock_);
        handedOff = handOffUnderLock(info, write, context);
        handOffOnEvent = handOff_.onEvent;
    }
    if (handedOff) {
        if (handOffOnEvent)
            SetEvent(handOffEvent_);
        else
            WakeConditionVariable(&handOffDone_);
        return;
    }
    // Kept for a later take. Written outside the lock so a host copying the previous frame does
    // not hold the streaming thread up for longer than a swap.
    incoming_.resize(static_cast<size_t>(info.length));
    if (!write(context, incoming_.data()))
        return;
    bool wakeWaiters = false;
    bool wakeEventWaiters = false;
    bool wakeHandOff = false;
    {
        Exclusive lock(lock_);
        newest_.swap(incoming_);
        newestInfo_ = info;
        unread_ = true;
        wakeWaiters = waiting_ > waitingOnEvent_;
        wakeEventWaiters = waitingOnEvent_ > 0;
        wakeHandOff = handOff_.buffer != nullptr;
        handOffOnEvent = handOff_.onEvent;
    }
    // Signalling an event costs a round trip to the system (under Wine, to its server): only for
    // a taker that waits on one.
    if (wakeWaiters)
        WakeAllConditionVariable(&changed_);
    if (wakeEventWaiters)
        SetEvent(changedEvent_);
    if (wakeHandOff && handOffOnEvent)
        SetEvent(handOffEvent_);
    else if (wakeHandOff)
        WakeConditionVariable(&handOffDone_);
}

void FrameMailbox::setRunning(bool running) {
    {
        Exclusive lock(lock_);
        running_ = running;
    }
    WakeAllConditionVariable(&changed_);
    WakeAllConditionVariable(&handOffDone_);
    SetEvent(changedEvent_);
    SetEvent(handOffEvent_);
}

void FrameMailbox::discardUnread() {
    wanted_ = true;
    Exclusive lock(lock_);
    unread_ = false;
}

bool FrameMailbox::hasUnread() {
    Exclusive lock(lock_);
    return unread_;
}

HRESULT FrameMailbox::take(uint8_t* buffer, int32_t capacity, FrameInfo& info, int32_t timeoutMs) {
    wanted_ = true;
    const LONGLONG start = ticksNow();
    const LONGLONG deadline = start + static_cast<LONGLONG>(timeoutMs) * ticksPerSecond() / 1000;
    const LONGLONG fastUntil = start + kFastWaitMs * ticksPerSecond() / 1000;
    for (;;) {
        // One taker at a time owns taken_; the streaming thread never waits for its copy.
        AcquireSRWLockExclusive(&takeLock_);
        AcquireSRWLockExclusive(&lock_);
        if (unread_) {
            info = newestInfo_;
            if (capacity < newestInfo_.length) {
                ReleaseSRWLockExclusive(&lock_);
                ReleaseSRWLockExclusive(&takeLock_);
                return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
            }
            taken_.swap(newest_);
            unread_ = false;
            ReleaseSRWLockExclusive(&lock_);
            std::memcpy(buffer, taken_.data(), static_cast<size_t>(info.length));
            ReleaseSRWLockExclusive(&takeLock_);
            return S_OK;
        }
        ReleaseSRWLockExclusive(&takeLock_);
        const DWORD left = millisecondsUntil(deadline);
        if (!running_ || left == 0) {
            ReleaseSRWLockExclusive(&lock_);
            return running_ ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : VFW_E_NOT_RUNNING;
        }
        const DWORD fastLeft = millisecondsUntil(fastUntil);
        const bool onEvent = fastLeft == 0;
        const bool handingOff = !handOff_.buffer;
        if (handingOff) {
            handOff_ = HandOff{buffer, capacity, &info, false, onEvent};
        } else {
            ++waiting_;
            waitingOnEvent_ += onEvent;
        }
        if (onEvent) {
            ReleaseSRWLockExclusive(&lock_);
            // A stale wake only costs one more turn of the loop.
            waitForEventDispatchingSentMessages(handingOff ? handOffEvent_ : changedEvent_, left);
            AcquireSRWLockExclusive(&lock_);
        } else {
            // Wakes, time-outs and spurious wakes alike end in the same checks.
            SleepConditionVariableSRW(handingOff ? &handOffDone_ : &changed_, &lock_, left < fastLeft ? left : fastLeft, 0);
        }
        if (handingOff) {
            const bool filled = handOff_.filled;
            handOff_ = HandOff{};
            if (filled) {
                ReleaseSRWLockExclusive(&lock_);
                return S_OK;
            }
        } else {
            --waiting_;
            if (onEvent && --waitingOnEvent_ == 0)
                ResetEvent(changedEvent_);
        }
        ReleaseSRWLockExclusive(&lock_);
    }
}
