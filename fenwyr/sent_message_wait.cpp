#include "sent_message_wait.h"

namespace {

// Upper bound on a wait for a condition whose change nothing signals.
constexpr DWORD kRecheckMs = 5;

// Runs every pending sent message's window procedure; nothing is removed from the queue.
void dispatchSentMessages() {
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// Lets the thread that sent the message being handled here go on before this one blocks.
void releaseSender() {
    if (InSendMessage())
        ReplyMessage(0);
}

}  // namespace

void waitDispatchingSentMessages(const std::function<bool()>& done) {
    if (done())
        return;
    releaseSender();
    while (!done()) {
        MsgWaitForMultipleObjectsEx(0, nullptr, kRecheckMs, QS_SENDMESSAGE, 0);
        dispatchSentMessages();
    }
}

bool waitForEventDispatchingSentMessages(HANDLE event, DWORD timeoutMs) {
    if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
        return true;
    releaseSender();
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        // INFINITE stays infinite rather than becoming a deadline 49 days ahead.
        const DWORD left = timeoutMs == INFINITE ? INFINITE : now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        const DWORD woken = MsgWaitForMultipleObjectsEx(1, &event, left, QS_SENDMESSAGE, 0);
        if (woken == WAIT_OBJECT_0)
            return true;
        if (woken != WAIT_OBJECT_0 + 1)
            return false;
        dispatchSentMessages();
    }
}
