#pragma once
#include <functional>

#include <windows.h>

// Waits while handling the messages other threads send to this one. A host's callback may
// SendMessage to the very thread that waits for it (the usual way GUI frameworks hand a frame
// or an event to their UI thread); without this both would wait for ever. Posted messages and
// input stay queued for the host.
//
// A thread that must wait while it is itself handling a message another thread sent (a window
// procedure that stops the device whose callback sent it) first releases that sender, as
// ReplyMessage(0) does: the sender may be the very callback it waits for.

// Until `done()` holds; the condition is checked every few ms.
void waitDispatchingSentMessages(const std::function<bool()>& done);
// Until `event` is signalled or `timeoutMs` has passed; true when it was signalled.
bool waitForEventDispatchingSentMessages(HANDLE event, DWORD timeoutMs);
