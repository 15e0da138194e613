#include "sent_message_wait.h"

namespace {

// Upper bound on a wait for a condition whose wake-up was missed.
constexpr DWORD kRecheckMs = 5;

}  // namespace

void waitDispatchingSentMessages(const std::function<bool()>& done, HANDLE wake) {
    while (!done()) {
        const DWORD handles = wake ? 1 : 0;
        MsgWaitForMultipleObjectsEx(handles, wake ? &wake : nullptr, kRecheckMs, QS_SENDMESSAGE, 0);
        // Peeking runs every pending sent message's window procedure; nothing is removed.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
